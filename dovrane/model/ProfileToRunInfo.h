// CPROFILETORUNINFO: one entry of a run list, the chain of profiles run one after another
// (a profile and the profile to run after it, or a category run in sequence), and the run-list
// operations the run items use. The list is a CSortedArray used as an ordered list: entries are
// appended, inserted and removed by position, and its current index (-1: no chain under way)
// marks the running entry. Natural order is the ordinal order of the names; equality needs the
// same name and equal values in both numbers. Plain values; the owner serialises access.
#pragma once

#include "common/SortedArray.h"
#include "platform/base/CString.h"

struct CPROFILETORUNINFO {
    CPROFILETORUNINFO() = default;
    explicit CPROFILETORUNINFO(LPCWSTR name) : m_strName(name) {}

    friend bool operator<(const CPROFILETORUNINFO& a, const CPROFILETORUNINFO& b) {
        return a.m_strName < b.m_strName;
    }
    friend bool operator==(const CPROFILETORUNINFO& a, const CPROFILETORUNINFO& b) {
        return a.m_strName == b.m_strName && a.m_nAddedAsProfileAfter == b.m_nAddedAsProfileAfter &&
               a.m_nExitCode == b.m_nExitCode;
    }

    CString m_strName;
    int m_nAddedAsProfileAfter = 0;  // 1: put in because another profile names it to run after
    int m_nExitCode = -1;            // -1 until the entry's run has ended
};

typedef CSortedArray<CPROFILETORUNINFO, CPROFILETORUNINFO> CProfileRunList;

// Appends (name, 0, -1).
void AddProfileToRunList(CProfileRunList& list, LPCWSTR name);
// Inserts (name, 0, -1) at position; a position past the end fills the gap with new entries.
void InsertProfileAt(CProfileRunList& list, int position, LPCWSTR name);
// The first position after position whose name equals name without regard to case; -1 if none.
int FindProfileAfter(const CProfileRunList& list, int position, LPCWSTR name);
// The entry at the current index; an index outside the list throws CInvalidArgException.
CPROFILETORUNINFO GetCurrentEntry(const CProfileRunList& list);
// The entry before the current one; throws as above when there is none.
CPROFILETORUNINFO GetPreviousEntry(const CProfileRunList& list);
// That entry's name; empty when the current index is 0, negative or beyond the list.
CString GetPreviousName(const CProfileRunList& list);
