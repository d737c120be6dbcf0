// CPerList: a list setting of a profile file, such as a filter list: the items are the array's
// texts. In a profile file the list is its section's key "Num. of Filters" (the count) and the
// keys "Filter 0", "Filter 1" ...; in the application profile the values "Filtern" and "Filter0",
// "Filter1" ... of that section.
//
// Declare takes the initial items from the application profile; LoadEntry replaces them with
// the file's items, in index order, skipping indexes that have no key. The destructor writes the
// items back while the write-back switch is on (RegEntry.h) and the list is declared and in use.
// At most MaxItems items come from the application profile, so a damaged count there cannot
// exhaust memory; a file's count costs no more than the keys its section really holds.
// Assignment copies the items, section and prefix, not the declared and in-use flags. One thread
// at a time per object.
#pragma once

#include "dovrane/model/SectionList.h"
#include "platform/base/CString.h"
#include "platform/classlib/StringArray.h"

class CPerList : public CStringArray {
   public:
    // The most items a profile list keeps.
    static constexpr int MaxItems = 750;

    CPerList() = default;
    CPerList(const CPerList&) = delete;
    CPerList& operator=(const CPerList& other);
    ~CPerList() override;

    void Declare(LPCWSTR name);
    // Loading: the items become those of the file. Storing: adds the section when missing and
    // writes the count and the items as keys. Nothing happens unless declared and in use.
    void LoadEntry(CSectionList& list, bool storing = false);

    bool IsDeclared() const { return m_bDeclared; }
    bool IsInUse() const { return m_nInUse != 0; }
    void SetInUse(bool inUse) { m_nInUse = inUse ? 1 : 0; }
    const CString& GetSection() const { return m_strSection; }

   private:
    CString CountKey() const { return u"Num. of " + m_strPrefix + u"s"; }
    CString ItemKey(INT_PTR index) const;
    void ReadItems(const CSection& section, int count);
    void StoreItems(CSectionList& list) const;

    bool m_bDeclared = false;
    CString m_strSection;
    CString m_strPrefix = u"Filter";
    int m_nInUse = 1;
};
