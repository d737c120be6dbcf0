// CSectionList: the sections of one profile file in file order, and the lookups and additions
// the profile settings make on it. The list owns its sections and deletes them in FreeSections
// and in its destructor; it cannot be copied. One thread at a time per list.
//
// Names compare exactly, UTF-16 unit by unit (case matters); the first match wins. A null
// name, or an index outside the list or a key array, is a programming error and throws
// CInvalidArgException. Texts out are CString, so no caller buffer can overflow.
#pragma once

#include "dovrane/model/Section.h"
#include "platform/base/WinTypes.h"
#include "platform/classlib/Array.h"

class CSectionList : public CArray<CSection*, CSection*> {
   public:
    CSectionList() = default;
    CSectionList(const CSectionList&) = delete;
    CSectionList& operator=(const CSectionList&) = delete;
    ~CSectionList() override;

    CSection& Section(INT_PTR index);
    const CSection& Section(INT_PTR index) const;
};

// Index of the first section named name, or -1.
int FindSection(const CSectionList& list, LPCWSTR name);
// Index of the first key of the section named keyName, or -1.
int FindKey(const CSection& section, LPCWSTR keyName);
// Appends an empty section (state 1) when none has that name, storing its index in index (if
// given); false, changing nothing, when the name exists.
bool AddSection(CSectionList& list, LPCWSTR name, INT_PTR* index = nullptr);
// Copies the value and the comment of the key (each only when asked for); false, copying
// nothing, when the section or the key is missing.
bool ReadKey(const CSectionList& list, LPCWSTR section, LPCWSTR key, CString* value,
             CString* comment = nullptr);
// Appends a key (state 1) to an existing section that has no key of that name, marks the
// section changed and records the key in "KeyType"; false when the section is missing or the
// key exists (its value stays). A null comment stores the empty text.
bool WriteKey(CSectionList& list, LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR comment = nullptr,
              INT_PTR* index = nullptr);
// Appends "section{key}" (empty value and comment) to the "KeyType" section; false when the
// list has none.
bool SetKeyType(CSectionList& list, LPCWSTR section, LPCWSTR key);
// Deletes every section and empties the list.
void FreeSections(CSectionList& list);
