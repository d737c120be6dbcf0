#include "dovrane/model/ProfileToRunInfo.h"

void AddProfileToRunList(CProfileRunList& list, LPCWSTR name) {
    list.Add(CPROFILETORUNINFO(name));
}

void InsertProfileAt(CProfileRunList& list, int position, LPCWSTR name) {
    list.InsertAt(position, CPROFILETORUNINFO(name));
}

int FindProfileAfter(const CProfileRunList& list, int position, LPCWSTR name) {
    for (int i = position < 0 ? 0 : position + 1; i < static_cast<int>(list.GetSize()); ++i) {
        if (list.GetAt(i).m_strName.CompareNoCase(name) == 0) return i;
    }
    return -1;
}

CPROFILETORUNINFO GetCurrentEntry(const CProfileRunList& list) {
    return list.GetAt(list.GetCurrentIndex());
}

CPROFILETORUNINFO GetPreviousEntry(const CProfileRunList& list) {
    return list.GetAt(list.GetCurrentIndex() - 1);
}

CString GetPreviousName(const CProfileRunList& list) {
    int current = list.GetCurrentIndex();
    if (current <= 0 || current >= static_cast<int>(list.GetSize())) return CString();
    return list.GetAt(current - 1).m_strName;
}
