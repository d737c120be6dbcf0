#include "dovrane/model/SectionList.h"

#include "platform/classlib/InvalidArgException.h"

namespace {

LPCWSTR Checked(LPCWSTR name) {
    if (!name) AfxThrowInvalidArgException();
    return name;
}

}  // namespace

CSectionList::~CSectionList() {
    FreeSections(*this);
}

CSection& CSectionList::Section(INT_PTR index) {
    CSection* section = GetAt(index);
    if (!section) AfxThrowInvalidArgException();
    return *section;
}

const CSection& CSectionList::Section(INT_PTR index) const {
    const CSection* section = GetAt(index);
    if (!section) AfxThrowInvalidArgException();
    return *section;
}

int FindSection(const CSectionList& list, LPCWSTR name) {
    Checked(name);
    for (INT_PTR i = 0; i < list.GetSize(); ++i)
        if (list.Section(i).m_strName == name) return static_cast<int>(i);
    return -1;
}

int FindKey(const CSection& section, LPCWSTR keyName) {
    Checked(keyName);
    for (INT_PTR i = 0; i < section.m_Keys.GetSize(); ++i)
        if (section.m_Keys[i].strKey == keyName) return static_cast<int>(i);
    return -1;
}

bool AddSection(CSectionList& list, LPCWSTR name, INT_PTR* index) {
    if (FindSection(list, name) >= 0) return false;
    INT_PTR added = list.Add(new CSection(name, CString(), SECTION_STATE_ADDED));
    if (index) *index = added;
    return true;
}

bool ReadKey(const CSectionList& list, LPCWSTR section, LPCWSTR key, CString* value, CString* comment) {
    int found = FindSection(list, section);
    if (found < 0) return false;
    const CSection& target = list.Section(found);
    int keyIndex = FindKey(target, key);
    if (keyIndex < 0) return false;
    const KEY_STRUCT& entry = target.m_Keys[keyIndex];
    if (value) *value = entry.strValue;
    if (comment) *comment = entry.strComment;
    return true;
}

bool WriteKey(CSectionList& list, LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR comment,
              INT_PTR* index) {
    int found = FindSection(list, section);
    if (found < 0) return false;
    CSection& target = list.Section(found);
    if (FindKey(target, key) >= 0) return false;
    KEY_STRUCT entry;
    entry.nState = SECTION_STATE_ADDED;
    entry.strComment = comment ? comment : u"";
    entry.strKey = key;
    entry.strValue = Checked(value);
    INT_PTR added = target.m_Keys.Add(entry);
    if (index) *index = added;
    target.m_nState = SECTION_STATE_ADDED;
    SetKeyType(list, section, key);
    return true;
}

bool SetKeyType(CSectionList& list, LPCWSTR section, LPCWSTR key) {
    CString name = CString(Checked(section)) + u"{" + Checked(key) + u"}";
    int found = FindSection(list, u"KeyType");
    if (found < 0) return false;
    CSection& keyType = list.Section(found);
    KEY_STRUCT entry;
    entry.nState = SECTION_STATE_ADDED;
    entry.strKey = name;
    keyType.m_Keys.Add(entry);
    keyType.m_nState = SECTION_STATE_ADDED;
    return true;
}

void FreeSections(CSectionList& list) {
    for (INT_PTR i = 0; i < list.GetSize(); ++i) delete list[i];
    list.RemoveAll();
}
