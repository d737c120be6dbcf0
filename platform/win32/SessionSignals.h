// The queue's side of the session signals that zbw::InstallSessionSignals (WinUser.h) sets up.
// The signal handler only records the signal and wakes the installing thread's queue; the
// messages are made later, on that thread, when it pumps.
#pragma once

#include "platform/base/WinTypes.h"

namespace zbw {

// Called by GetMessageW / PeekMessageW on every thread; acts only on the installing thread.
void ServeSessionSignals();
// A signal is waiting to be served on that thread.
bool SessionSignalPending(DWORD threadId);

}  // namespace zbw
