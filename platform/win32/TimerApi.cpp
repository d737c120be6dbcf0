// SetTimer and KillTimer: a window's timers live in the queue of the window's thread, and only
// that thread may set or kill them (ERROR_ACCESS_DENIED for any other), so a caller on the wrong
// thread fails here rather than racing the owner's handlers.
#include <unistd.h>

#include "platform/base/WinError.h"
#include "platform/win32/MessageQueue.h"
#include "platform/win32/Thread.h"
#include "platform/win32/WindowTable.h"

namespace {

// The queue that holds the timers of hwnd (the calling thread's for a null hwnd); null with the
// last error set when the window is not a live window of the calling thread.
std::shared_ptr<CMessageQueue> TimerQueue(HWND hwnd, bool make) {
    if (hwnd == nullptr) {
        std::shared_ptr<CMessageQueue> own =
            make ? CMessageQueue::OfCurrentThread() : CMessageQueue::Existing();
        if (!own) SetLastError(ERROR_INVALID_PARAMETER);
        return own;
    }
    if (zbw::ProcessOfWindow(hwnd) != GetCurrentProcessId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    CWindowTable::WINDOW_RECORD record;
    if (!CWindowTable::Instance().Lookup(hwnd, &record)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (record.threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    std::shared_ptr<CMessageQueue> queue = CMessageQueue::OfThread(record.threadId);
    if (!queue) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return queue;
}

}  // namespace

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
    std::shared_ptr<CMessageQueue> queue = TimerQueue(hwnd, true);
    if (!queue) return 0;
    UINT_PTR result = queue->SetTimer(hwnd, id, elapseMs, proc);
    CWindowTable::WINDOW_RECORD record;
    if (hwnd != nullptr && !CWindowTable::Instance().Lookup(hwnd, &record)) {
        queue->KillTimer(hwnd, id);  // the window went while the timer was being set
        result = 0;
    }
    if (result == 0) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return result;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    std::shared_ptr<CMessageQueue> queue = TimerQueue(hwnd, false);
    if (!queue) return FALSE;
    if (queue->KillTimer(hwnd, id)) return TRUE;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
