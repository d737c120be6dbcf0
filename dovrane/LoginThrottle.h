// CLoginThrottle: slows repeated login failures from one client address. Each failure in a row
// doubles the delay before that address gets its next challenge (1 s, 2 s, 4 s ... at most
// 60 s); a successful login, or a quarter of an hour without failure, forgets the address.
// At most LOGIN_THROTTLE_ADDRESSES addresses are remembered; a new one replaces the one that
// failed longest ago, so the table cannot grow.
//
// Owned by the command server; its thread only. Tick counts are compared as differences.
#pragma once

#include <vector>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

#define LOGIN_THROTTLE_ADDRESSES 64
#define LOGIN_THROTTLE_FIRST_MS 1000
#define LOGIN_THROTTLE_MAX_MS 60000
#define LOGIN_THROTTLE_FORGET_MS (15 * 60 * 1000)

class CLoginThrottle {
   public:
    // How long the address waits before its next challenge; 0 when it has not failed lately.
    DWORD DelayFor(const CString& address, DWORD now);
    // Counts a failure; the number of failures in a row.
    int NoteFailure(const CString& address, DWORD now);
    void NoteSuccess(const CString& address);

   private:
    struct ENTRY {
        CString address;
        int failures;
        DWORD last;
    };
    ENTRY* Find(const CString& address, DWORD now);

    std::vector<ENTRY> m_entries;
};
