#include "dovrane/model/PerFile.h"

#include "platform/classlib/InvalidArgException.h"

CPerFile& CPerFile::operator=(const CPerFile& other) {
    CPerString::operator=(other);
    m_bFlags = other.m_bFlags;
    return *this;
}

bool CPerFile::GetFlag(int index) const {
    if (index < 0 || index >= FlagCount) AfxThrowInvalidArgException();
    return m_bFlags[static_cast<size_t>(index)];
}

void CPerFile::SetFlag(int index, bool on) {
    if (index < 0 || index >= FlagCount) AfxThrowInvalidArgException();
    m_bFlags[static_cast<size_t>(index)] = on;
}
