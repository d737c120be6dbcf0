#include "dovrane/model/PerDirAndSnapshot.h"

CPerDirAndSnapshot::CPerDirAndSnapshot(bool snapshot, int snapshotNumber)
    : m_bSnapshot(snapshot), m_nSnapshot(snapshotNumber) {}

CPerDirAndSnapshot& CPerDirAndSnapshot::operator=(const CPerDir& other) {
    CPerDir::operator=(other);
    return *this;
}

CPerDirAndSnapshot& CPerDirAndSnapshot::operator=(const CPerDirAndSnapshot& other) {
    CPerDir::operator=(other);
    m_bSnapshot = other.m_bSnapshot;
    m_nSnapshot = other.m_nSnapshot;
    return *this;
}
