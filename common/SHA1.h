// SHA1: the system's own SHA-1 message digest (FIPS 180-1) over bytes.
//
// Reset, then Update with the message in any number of pieces, then Finish. Misuse does not
// throw: an Update after Finish, or a message longer than 2^64 bits, marks the state
// corrupted, and a corrupted state reports an all-zero digest. The digest text of UTF-16
// texts is in SHA1Text.h. One object per thread; no shared state.
#pragma once

#include "platform/base/WinTypes.h"

class SHA1 {
   public:
    SHA1();
    virtual ~SHA1();

    void Reset();
    void Update(const BYTE* data, UINT length);
    void Finish();

    // H0..H4 of the finished digest; all zero and false when unfinished or corrupted.
    bool GetDigest(DWORD digest[5]) const;
    bool IsCorrupted() const { return m_corrupted; }

   private:
    void ProcessBlock();

    DWORD m_h[5];
    DWORD m_lengthLow;
    DWORD m_lengthHigh;
    BYTE m_block[64];
    int m_blockUsed;
    bool m_computed;
    bool m_corrupted;
};
