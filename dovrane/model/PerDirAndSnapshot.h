// CPerDirAndSnapshot: a folder setting (PerDir.h) with a snapshot flag and number, fixed by the
// owner when it constructs the entry. Assignment from a CPerDir copies the folder part only;
// from a CPerDirAndSnapshot the snapshot fields too. One thread at a time per object.
#pragma once

#include "dovrane/model/PerDir.h"

class CPerDirAndSnapshot : public CPerDir {
   public:
    explicit CPerDirAndSnapshot(bool snapshot = false, int snapshotNumber = 0);
    CPerDirAndSnapshot& operator=(const CPerDir& other);
    CPerDirAndSnapshot& operator=(const CPerDirAndSnapshot& other);

    bool IsSnapshot() const { return m_bSnapshot; }
    int GetSnapshotNumber() const { return m_nSnapshot; }

   private:
    bool m_bSnapshot;
    int m_nSnapshot;
};
