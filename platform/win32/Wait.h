// Waiting on kernel objects: WaitForSingleObject, WaitForMultipleObjects and the engine under
// them, zbw::WaitForObjects, on which the message layer builds MsgWaitForMultipleObjects.
//
// Any thread may wait. A wait for any object returns WAIT_OBJECT_0 + the lowest index that is
// signalled (taking it, for the kinds a wait takes); a wait for all takes every object at once
// or none. WAIT_ABANDONED_0 + i reports a mutex whose owner ended while holding it (the caller
// now owns it). At most MAXIMUM_WAIT_OBJECTS objects; more, none, or the same object twice in a
// wait for all fail with WAIT_FAILED and ERROR_INVALID_PARAMETER; a handle that is not live or
// not waitable fails with ERROR_INVALID_HANDLE. Time-outs run on the layer's clock (Clock.h).
// A wait on one in-process object (unnamed event, mutex or semaphore, thread) sleeps on the
// object's state; other waits sleep in poll() on the objects' descriptors (which in-process
// objects make then), and objects without one are looked at again every few milliseconds. A wait never serves
// sent window messages, as on Windows.
#pragma once

#include "platform/host/KernelObject.h"

namespace zbw {

// objs must stay alive for the wait (callers hold references).
DWORD WaitForObjects(CKernelObject* const* objs, DWORD count, bool waitAll, DWORD timeoutMs);

}  // namespace zbw

DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs);
