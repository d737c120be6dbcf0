// Lets the calling thread's message queue run while it waits for something else (a stopping run,
// a server thread that may be sending to one of this thread's windows).
//
// Serves every message waiting now: translated and dispatched to its window, sent messages
// served on the way. A WM_QUIT taken off the queue is not dispatched; it is posted again, with
// its exit code, once the queue is empty, so the thread's own message loop still sees the quit
// request. Returns when nothing is left. Call it on the thread that owns the queue.
#pragma once

void PumpMessages();
