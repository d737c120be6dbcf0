// Waits for a started engine's heartbeat in the command block, tested as its clients test it.
// An engine logs that its server has started before the server's loop first writes the
// heartbeat, so a test that talks to it through the block waits for this rather than the log.
// The wait is bounded; the test thread calls it.
#pragma once

#include "common/CommStatus.h"
#include "platform/base/Clock.h"

namespace zbtest {

inline bool WaitForEngineAlive(unsigned timeoutMs) {
    const int64_t deadline = zbw::DeadlineAfter(timeoutMs);
    for (;;) {
        CCommStatus client(TRUE, FALSE);
        if (client.IsAlive(500)) return true;
        if (zbw::RemainingUntil(deadline) == 0) return false;
        Sleep(20);
    }
}

}  // namespace zbtest
