// CLoginThrottle: slows password guessing from one client address, for both of the engine's
// servers. Each failure in a row doubles the address's delay (1 s, 2 s, 4 s ... at most 60 s):
// the command server makes its next challenge wait that long, the HTTP server judges no
// password from it until that long after the failure. A successful login, or a quarter of an
// hour without failure, forgets the address. Other addresses are not slowed. At most
// LOGIN_THROTTLE_ADDRESSES addresses are remembered; a new one replaces the one that failed
// longest ago, so the table cannot grow.
//
// Only a wrong password counts: the caller notes a failure for an answer it judged, never for
// a client that went without trying. A caller that judges on many threads at once takes each
// try with TakeTry, which checks the delay and counts the try in one step, so parallel guesses
// from one address get one judgement per delay, not one each. Any thread: a lock of its own
// guards the table, held only for the look-up, never while a caller waits. Tick counts are
// compared as differences.
#pragma once

#include <mutex>
#include <vector>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

#define LOGIN_THROTTLE_ADDRESSES 64
#define LOGIN_THROTTLE_FIRST_MS 1000
#define LOGIN_THROTTLE_MAX_MS 60000
#define LOGIN_THROTTLE_FORGET_MS (15 * 60 * 1000)

class CLoginThrottle {
   public:
    // The delay the address's failures in a row have earned; 0 when it has not failed lately.
    DWORD DelayFor(const CString& address, DWORD now);
    // Counts a wrong password; the number of failures in a row.
    int NoteFailure(const CString& address, DWORD now);
    // Takes the address's next try: when it is due (0 returned), counts it at once as a failure,
    // undone by NoteSuccess if the password proves right, and sets failures to the count;
    // otherwise returns the milliseconds until it is due and counts nothing.
    DWORD TakeTry(const CString& address, DWORD now, int& failures);
    void NoteSuccess(const CString& address);

   private:
    struct ENTRY {
        CString address;
        int failures;
        DWORD last;
    };
    ENTRY* Find(const CString& address, DWORD now);
    static DWORD Left(const ENTRY* entry, DWORD now);
    int Count(const CString& address, DWORD now);
    static DWORD DelayOf(const ENTRY& entry);

    std::mutex m_lock;
    std::vector<ENTRY> m_entries;
};
