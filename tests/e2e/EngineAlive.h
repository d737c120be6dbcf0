// Waits until a started engine serves its command block, tested through the block's heartbeat as
// its clients test it. The server writes one heartbeat as it starts, then loads the settings and
// runs the start-up profiles before its loop serves the block and keeps the heartbeat fresh; its
// start-up log line comes before that loop as well. A client that comes in that gap may find the
// first heartbeat too old and take the engine for stopped. So this waits for a heartbeat written
// after one it has seen: alive, and alive again once the first one would have gone stale.
// The wait is bounded; the test thread calls it.
#pragma once

#include "common/CommStatus.h"
#include "platform/base/Clock.h"

namespace zbtest {

inline bool WaitForEngineServing(unsigned timeoutMs) {
    const DWORD kAliveMs = 500;
    const DWORD kBeyondMs = kAliveMs + 100;
    const int64_t deadline = zbw::DeadlineAfter(timeoutMs);
    for (;;) {
        CCommStatus client(TRUE, FALSE);
        if (client.IsAlive(kAliveMs)) {
            // The heartbeat that read saw was written before now; one alive more than 600 ms
            // later was written at least 100 ms after it, so the loop is running.
            const DWORD seen = GetTickCount();
            while (GetTickCount() - seen <= kBeyondMs) Sleep(20);
            if (client.IsAlive(kAliveMs)) return true;
        }
        if (zbw::RemainingUntil(deadline) == 0) return false;
        Sleep(20);
    }
}

}  // namespace zbtest
