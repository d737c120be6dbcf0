// CZBProjectRunItemData: the display snapshot of one profile run item, so that a page can be
// built without touching the live item: a copy of its launch item and every text the pages show,
// taken in one go by Update.
//
// Threads: Update runs on the thread that builds a page, with the run-item list's mutex held
// (the item's texts take its own critical sections); the accessors may then be read on that
// thread without any lock. A snapshot is a plain value owned by whoever holds it; reusing one
// (Update again) replaces every field. The run history's text, the largest, is not in it: only
// the profile page shows it, and asks the list for that one profile. Nothing fails: an item
// without history or run shows the texts the item gives for that ("None", empty progress).
#pragma once

#include "dovrane/threads/LaunchItem.h"
#include "platform/base/CString.h"

class CZBProjectRunItem;

class CZBProjectRunItemData {
   public:
    // The number of next-run texts kept (index 0 is the next run).
    static const int kNextRuns = 5;

    CZBProjectRunItemData() = default;
    // Equal snapshots show the same page.
    bool operator==(const CZBProjectRunItemData& other) const = default;

    // Takes every field from the live item, in the order the fields are listed below.
    void Update(CZBProjectRunItem& item);

    const CLaunchItem& GetLaunchItem() const { return m_launchItem; }
    const CString& GetName() const { return m_strProfileName; }
    const CString& GetStatusText() const { return m_strStatusHtml; }
    const CString& GetLastOkRun() const { return m_strLastOkRun; }
    const CString& GetLastRun() const { return m_strLastRunHtml; }
    const CString& GetLogFilePath() const { return m_strLogFilePath; }
    const CString& GetDetails() const { return m_strDetails; }
    const CString& GetProgressHtml() const { return m_strProgressHtml; }
    const CString& GetNextRun() const { return m_strNextRuns[0]; }
    const CString& GetNextRunText2() const { return m_strNextRuns[1]; }
    const CString& GetNextRunText3() const { return m_strNextRuns[2]; }
    const CString& GetNextRunText4() const { return m_strNextRuns[3]; }
    const CString& GetNextRunText5() const { return m_strNextRuns[4]; }
    const CString& GetSettingsText() const { return m_strSettingsText; }
    const CString& GetSource() const { return m_strSource; }
    const CString& GetTarget() const { return m_strTarget; }
    const CString& GetExecutionMethod() const { return m_strExecutionMethod; }
    const CString& GetSettingsHtml() const { return m_strSettingsHtml; }
    int GetRunState() const { return m_nRunState; }
    // The start of the last run (seconds since 1970, UTC), 0 when the profile never ran, and
    // whether that run failed; the feeds show them.
    LONGLONG GetLastRunTime() const { return m_tLastRun; }
    bool HasLastRunFailed() const { return m_bLastRunFailed; }
    // The launch item's start time as "%x %H:%M" (or "%x %I:%M %p" in a 12-hour locale); the
    // current minute when the start time is not set.
    CString GetStartTimeText() const;
    // The run-history database's file (engine-wide).
    static CString GetDBFilePath();

   private:
    CLaunchItem m_launchItem;
    CString m_strStatusHtml;
    CString m_strLastOkRun;
    CString m_strLastRunHtml;
    CString m_strLogFilePath;
    CString m_strDetails;
    CString m_strProgressHtml;
    CString m_strNextRuns[kNextRuns];
    CString m_strSettingsText;
    CString m_strSource;
    CString m_strTarget;
    CString m_strExecutionMethod;
    CString m_strSettingsHtml;
    CString m_strProfileName;
    int m_nRunState = 0;
    LONGLONG m_tLastRun = 0;
    bool m_bLastRunFailed = false;
};
