// Posting, sending, retrieving and dispatching messages.
#include <poll.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/base/Clock.h"
#include "platform/base/WinError.h"
#include "platform/win32/ControlEndpoint.h"
#include "platform/win32/MessageQueue.h"
#include "platform/win32/SessionSignals.h"
#include "platform/win32/Thread.h"
#include "platform/win32/WindowTable.h"

namespace {

const HWND kThreadMessages = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

bool IsOtherProcess(HWND hwnd) {
    return hwnd != GetDesktopWindow() && zbw::ProcessOfWindow(hwnd) != GetCurrentProcessId();
}

// Owner thread only: 0 when the window is gone or belongs to another thread.
LRESULT CallOwnProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD threadId = 0;
    WNDPROC proc = nullptr;
    if (!CWindowTable::Instance().Owner(hwnd, &threadId, &proc) || threadId != GetCurrentThreadId()) return 0;
    return CallWindowProcW(proc, hwnd, message, wParam, lParam);
}

void ServeSent(CMessageQueue& queue) {
    zbw::ServeSessionSignals();
    while (auto sent = queue.TakeSent()) {
        sent->Complete(CallOwnProc(sent->hwnd, sent->message, sent->wParam, sent->lParam));
    }
}

// Sleeps until the queue is woken or the next timer the filter takes is due.
void WaitForWake(CMessageQueue& queue, const CMessageQueue::FILTER& filter) {
    int64_t due = queue.NextTimerDue(filter);
    int64_t left = due < 0 ? -1 : std::max<int64_t>(0, due - zbw::TickNow64());
    pollfd fd{queue.WakeFd(), POLLIN, 0};
    poll(&fd, 1, zbw::PollSliceMs(left));
}

bool IsValidFilterWindow(HWND hwnd) {
    if (hwnd == nullptr || hwnd == kThreadMessages || IsWindow(hwnd)) return true;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
}

bool PostToLocalWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD threadId = 0;
    WNDPROC proc = nullptr;
    if (!CWindowTable::Instance().Owner(hwnd, &threadId, &proc)) return false;
    std::shared_ptr<CMessageQueue> queue = CMessageQueue::OfThread(threadId);
    return queue && queue->Post(hwnd, message, wParam, lParam);
}

// The process a thread id belongs to (its thread group), 0 when there is no such thread.
DWORD ProcessOfThread(DWORD threadId) {
    std::ifstream status("/proc/" + std::to_string(threadId) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Tgid:", 0) == 0) return static_cast<DWORD>(std::stoul(line.substr(5)));
    }
    return 0;
}

}  // namespace

namespace zbw {

bool PostLocal(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return !IsOtherProcess(hwnd) && PostToLocalWindow(hwnd, message, wParam, lParam);
}

bool PostLocal(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<CMessageQueue> queue = CMessageQueue::OfThread(threadId);
    return queue && queue->Post(nullptr, message, wParam, lParam);
}

}  // namespace zbw

BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (hwnd == nullptr) {
        std::shared_ptr<CMessageQueue> queue = CMessageQueue::OfCurrentThread();
        return queue && queue->Post(nullptr, message, wParam, lParam);
    }
    if (IsOtherProcess(hwnd)) {
        return zbw::PostToOtherProcess(zbw::ProcessOfWindow(hwnd), hwnd, 0, message, wParam, lParam);
    }
    if (PostToLocalWindow(hwnd, message, wParam, lParam)) return TRUE;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}

BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    if (zbw::PostLocal(threadId, message, wParam, lParam)) return TRUE;
    DWORD owner = ProcessOfThread(threadId);
    if (owner == 0 || owner == GetCurrentProcessId()) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    return zbw::PostToOtherProcess(owner, nullptr, threadId, message, wParam, lParam);
}

LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (IsOtherProcess(hwnd)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    DWORD threadId = 0;
    WNDPROC proc = nullptr;
    if (!CWindowTable::Instance().Owner(hwnd, &threadId, &proc)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (threadId == GetCurrentThreadId()) return CallWindowProcW(proc, hwnd, message, wParam, lParam);
    std::shared_ptr<CMessageQueue> self = CMessageQueue::OfCurrentThread();
    std::shared_ptr<CMessageQueue> target = CMessageQueue::OfThread(threadId);
    if (!self || !target) return 0;
    auto sent = std::make_shared<CMessageQueue::SENT>();
    sent->hwnd = hwnd;
    sent->message = message;
    sent->wParam = wParam;
    sent->lParam = lParam;
    sent->sender = self;
    if (!target->Send(sent)) return 0;
    // Windows serves sends to the waiting sender itself, so two threads sending to each other
    // do not lock up.
    while (!sent->done.load(std::memory_order_acquire)) {
        ServeSent(*self);
        const bool serve = self->PrepareWait();
        if (!serve && !sent->done.load(std::memory_order_acquire)) {
            pollfd fd{self->WakeFd(), POLLIN, 0};
            poll(&fd, 1, -1);
        }
        self->EndWait();
    }
    return sent->result;
}

BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (!IsValidFilterWindow(hwnd)) return -1;
    std::shared_ptr<CMessageQueue> queue = CMessageQueue::OfCurrentThread();
    if (!queue) return -1;
    CMessageQueue::FILTER filter{hwnd, filterMin, filterMax};
    for (;;) {
        ServeSent(*queue);
        if (queue->Retrieve(filter, true, msg)) return msg->message == WM_QUIT ? FALSE : TRUE;
        // What came in between the look above and the start of the wait is looked at once more.
        if (!queue->PrepareWait()) {
            if (queue->Retrieve(filter, true, msg)) return msg->message == WM_QUIT ? FALSE : TRUE;
            WaitForWake(*queue, filter);
        }
        queue->EndWait();
    }
}

BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!IsValidFilterWindow(hwnd)) return FALSE;
    std::shared_ptr<CMessageQueue> queue = CMessageQueue::OfCurrentThread();
    if (!queue) return FALSE;
    ServeSent(*queue);
    return queue->Retrieve(CMessageQueue::FILTER{hwnd, filterMin, filterMax}, (removeFlags & PM_REMOVE) != 0,
                           msg);
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT DispatchMessageW(const MSG* msg) {
    if (!msg) return 0;
    if (msg->message == WM_TIMER && msg->lParam != 0) {
        // Only a timer's own procedure is called, never an address a post made up.
        auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
        std::shared_ptr<CMessageQueue> queue = CMessageQueue::Existing();
        if (queue && queue->IsTimerProc(msg->hwnd, msg->wParam, proc)) {
            proc(msg->hwnd, WM_TIMER, msg->wParam, static_cast<DWORD>(zbw::TickNow64()));
            return 0;
        }
    }
    if (msg->hwnd == nullptr) return 0;
    DWORD threadId = 0;
    WNDPROC proc = nullptr;
    if (!CWindowTable::Instance().Owner(msg->hwnd, &threadId, &proc)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return CallWindowProcW(proc, msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exitCode) {
    if (std::shared_ptr<CMessageQueue> queue = CMessageQueue::OfCurrentThread()) queue->PostQuit(exitCode);
}
