#include "platform/win32/Wait.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "platform/base/Clock.h"
#include "platform/base/WinError.h"
#include "platform/host/SignalFd.h"

namespace zbw {
namespace {

constexpr DWORD kNone = 0xFFFFFFFEu;
// Objects without a descriptor are looked at again after this long at most.
constexpr int kMaxBlindSliceMs = 10;

DWORD Result(CKernelObject::Acquire got, DWORD index) {
    return got == CKernelObject::Acquire::Abandoned ? WAIT_ABANDONED_0 + index : WAIT_OBJECT_0 + index;
}

DWORD TryAny(CKernelObject* const* objs, DWORD count) {
    for (DWORD i = 0; i < count; ++i) {
        CKernelObject::Acquire got = objs[i]->TryAcquire();
        if (got != CKernelObject::Acquire::No) return Result(got, i);
    }
    return kNone;
}

// All or nothing: what was taken before a refusal is given back.
DWORD TryAll(CKernelObject* const* objs, DWORD count) {
    for (DWORD i = 0; i < count; ++i) {
        if (!objs[i]->IsSignalled()) return kNone;
    }
    DWORD result = WAIT_OBJECT_0;
    for (DWORD i = 0; i < count; ++i) {
        CKernelObject::Acquire got = objs[i]->TryAcquire();
        if (got == CKernelObject::Acquire::No) {
            while (i-- > 0) objs[i]->Unacquire();
            return kNone;
        }
        if (got == CKernelObject::Acquire::Abandoned && result == WAIT_OBJECT_0)
            result = WAIT_ABANDONED_0 + i;
    }
    return result;
}

bool CheckArguments(CKernelObject* const* objs, DWORD count, bool waitAll) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    for (DWORD i = 0; i < count; ++i) {
        if (!objs[i] || !objs[i]->IsWaitable()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        if (waitAll && std::find(objs, objs + i, objs[i]) != objs + i) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
    }
    return true;
}

// Sleeps until a descriptor turns readable or the slice ends. A wait for all sleeps only on the
// objects not yet signalled, since the others' descriptors are readable already. True when it
// slept out the slice on descriptors that show every change: nothing was signalled meanwhile.
bool SleepOnObjects(CKernelObject* const* objs, DWORD count, bool waitAll, int64_t remainingMs,
                    int& blindSliceMs) {
    pollfd fds[MAXIMUM_WAIT_OBJECTS];
    nfds_t watched = 0;
    bool blind = false;
    bool exact = true;
    for (DWORD i = 0; i < count; ++i) {
        if (waitAll && objs[i]->IsSignalled()) continue;
        int fd = objs[i]->WaitFd();
        if (fd < 0) {
            blind = true;
            continue;
        }
        exact = exact && objs[i]->FdShowsEveryChange();
        fds[watched++] = pollfd{fd, POLLIN, 0};
    }
    if (watched == 0 && !blind) blind = true;  // all signalled, yet taking them raced: look again soon
    int sliceMs = PollSliceMs(remainingMs);
    if (blind) {
        sliceMs = sliceMs < 0 ? blindSliceMs : std::min(sliceMs, blindSliceMs);
        blindSliceMs = std::min(blindSliceMs * 2, kMaxBlindSliceMs);
    }
    const int ready = poll(fds, watched, sliceMs);
    if (ready < 0 && errno != EINTR) {
        poll(nullptr, 0, std::min(sliceMs < 0 ? kMaxBlindSliceMs : sliceMs, kMaxBlindSliceMs));
    }
    return ready == 0 && !blind && exact;
}

// A wait on one in-process object sleeps on its state, so the object needs no descriptor. The
// change count is read before the look, so a change in between ends the sleep at once.
DWORD WaitAlone(CKernelObject* obj, CSignalFd& signal, int64_t deadline) {
    for (;;) {
        const uint64_t seen = signal.Changes();
        CKernelObject::Acquire got = obj->TryAcquire();
        if (got != CKernelObject::Acquire::No) return Result(got, 0);
        int64_t remaining = RemainingUntil(deadline);
        if (remaining == 0) return WAIT_TIMEOUT;
        signal.WaitForChange(seen, PollSliceMs(remaining));
    }
}

}  // namespace

DWORD WaitForObjects(CKernelObject* const* objs, DWORD count, bool waitAll, DWORD timeoutMs) {
    if (!CheckArguments(objs, count, waitAll)) return WAIT_FAILED;
    int64_t deadline = DeadlineAfter(timeoutMs);
    if (count == 1) {
        if (CSignalFd* signal = objs[0]->Signal()) return WaitAlone(objs[0], *signal, deadline);
    }
    int blindSliceMs = 1;
    for (;;) {
        DWORD result = waitAll ? TryAll(objs, count) : TryAny(objs, count);
        if (result != kNone) return result;
        int64_t remaining = RemainingUntil(deadline);
        if (remaining == 0) return WAIT_TIMEOUT;
        const bool quiet = SleepOnObjects(objs, count, waitAll, remaining, blindSliceMs);
        // Nothing to look at again when the quiet slice reached the deadline.
        if (quiet && RemainingUntil(deadline) == 0) return WAIT_TIMEOUT;
    }
}

}  // namespace zbw

DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs) {
    return WaitForMultipleObjects(1, &handle, FALSE, timeoutMs);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    // On the stack: a server loop waits several times a pass and should not allocate for it.
    CKernelRef refs[MAXIMUM_WAIT_OBJECTS];
    CKernelObject* objs[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < count; ++i) {
        refs[i] = zbw::LookupHandle(handles[i]);
        if (!refs[i]) return WAIT_FAILED;
        objs[i] = refs[i].Get();
    }
    return zbw::WaitForObjects(objs, count, waitAll != FALSE, timeoutMs);
}
