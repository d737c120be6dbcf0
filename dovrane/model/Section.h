// CSection: one section of a profile file in memory (its name, the comment before its header and
// its keys in file order), and KEY_STRUCT, one key of it. Plain data that the section-file
// functions (SectionFile.h) fill and read; a section belongs to the CSectionList that holds it.
// One thread at a time per object. Names may repeat; lookups take the first.
#pragma once

#include "platform/base/CString.h"
#include "platform/classlib/Array.h"
#include "platform/classlib/Object.h"

// Where a section or key came from.
enum : int {
    SECTION_STATE_READ = 0,   // read from the file
    SECTION_STATE_ADDED = 1,  // added in memory (a section also once it is given a new key)
};

struct KEY_STRUCT {
    int nState = SECTION_STATE_READ;
    CString strComment;  // the comment lines that stood before the key line
    CString strKey;
    CString strValue;
};

class CSection : public CObject {
   public:
    CSection() = default;
    CSection(const CString& name, const CString& comment, int state);

    int m_nState = SECTION_STATE_READ;
    CString m_strComment;  // the comment lines that stood before the header
    CString m_strName;     // without the brackets
    CArray<KEY_STRUCT, const KEY_STRUCT&> m_Keys;
};
