// CLaunchItem: the stored definition of one scheduled profile (which profile file it runs, how
// it is filed, its schedule and triggers, the profile to run after it) and the one ITEM element
// format that the settings file, the TCP/IP commands and the web forms share.
//
// A value type, copied whole between the list, run items, snapshots and forms; one thread at a
// time per object. Reading never fails on bad element values: numbers that are not numbers read
// as 0 (then 1 for the counts and the rerun delay), unknown words are ignored, an unparsable
// start time becomes g_DateNone, and Normalize repairs inconsistent combinations. Only a missing
// or empty PROFILE makes ReadXml fail, with an error text.
#pragma once

#include "common/Markup.h"
#include "dovrane/threads/ScheduleInfo.h"
#include "platform/base/CString.h"

// Bits of CLaunchItem::m_nMonitor and of m_nAsAvailable.
enum : int {
    MONITOR_SOURCE = 1,
    MONITOR_TARGET = 2,
};

// Values of CLaunchItem::m_nAsAvailableFrequency.
enum : int {
    ASAVAILABLE_IMMEDIATELY = 1,
    ASAVAILABLE_HOURLY = 2,
    ASAVAILABLE_DAILY = 3,
    ASAVAILABLE_WEEKLY = 4,
};

class CLaunchItem {
   public:
    CLaunchItem();

    void Reset();
    // Clears negative counts, keeps at most one interval and makes the triggers consistent;
    // an interval without a start time starts at the current minute.
    void Normalize();
    // The check the web form makes before it sends an item; the first failing rule's text goes
    // to error when given.
    bool Validate(CString* error = nullptr) const;

    // Reads the next ITEM child of the document's current element and steps back out, so the
    // next call finds the following ITEM. True when the item has a profile name; error (when
    // given) receives the reason otherwise, or the empty text.
    bool ReadXml(CMarkup& xml, CString* error = nullptr);
    // Adds one ITEM after the document's current element and leaves it current; false, with
    // nothing written, when the document has no place for it (no parent element).
    bool WriteXml(CMarkup& xml) const;
    // The ITEM must be a child of the text's root element ("<SETTINGS><ITEM>...</ITEM></SETTINGS>").
    bool FromXmlText(const CString& text);
    // The bare ITEM element.
    CString ToXmlText() const;

    bool operator==(const CLaunchItem& other) const = default;

    CString m_strProfile;  // profile file path, also the item's name
    CString m_strDescription;
    CString m_strCategory;  // "Unfiled" when the element is missing
    int m_nStartup;         // run once when the engine starts
    SCHEDULEINFO m_schedule;
    int m_nOnlyIfChanged;         // a scheduled run needs detected changes
    int m_nAsSoonAsChanged;       // run when changes are detected
    int m_nOnErrorRerun;          // minutes until a rerun after a failed run; 0 = none
    int m_nRunMissed;             // a missed scheduled run is run at the next start
    int m_nAsAvailable;           // MONITOR_... bits of folders whose becoming accessible starts a run
    int m_nAsAvailableFrequency;  // ASAVAILABLE_...
    int m_nMonitor;               // MONITOR_... bits of folders watched for changes
    CString m_strProfileAfter;    // item to run after this one ends
    bool m_bNotOnError;           // not after a failed run
    int m_nMaxRerun;              // 0 when not given
    int m_nPing;                  // accessibility by ICMP echo only
    int m_nEnabled;               // enabled when loaded
};
