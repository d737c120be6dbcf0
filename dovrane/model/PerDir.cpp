#include "dovrane/model/PerDir.h"

#include "platform/classlib/InvalidArgException.h"

CPerDir::CPerDir() : m_bFlags{false, false, true, true, false} {}

CPerDir& CPerDir::operator=(const CPerDir& other) {
    CPerString::operator=(other);
    m_bFlags = other.m_bFlags;
    m_strLabel = other.m_strLabel;
    return *this;
}

bool CPerDir::GetFlag(int index) const {
    if (index < 0 || index >= FlagCount) AfxThrowInvalidArgException();
    return m_bFlags[static_cast<size_t>(index)];
}

void CPerDir::SetFlag(int index, bool on) {
    if (index < 0 || index >= FlagCount) AfxThrowInvalidArgException();
    m_bFlags[static_cast<size_t>(index)] = on;
}
