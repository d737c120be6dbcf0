// MsgWaitForMultipleObjects: the calling thread's queue joins the wait as one more object.
#include <algorithm>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/WinError.h"
#include "platform/win32/MessageQueue.h"
#include "platform/win32/Wait.h"

namespace {

// Signalled while a message of the mask waits in the queue. Only the queue's own thread waits
// on it, so each look starts the queue's wait: the descriptor then turns readable when
// something new arrives.
class CQueueWaitable : public CKernelObject {
   public:
    CQueueWaitable(std::shared_ptr<CMessageQueue> queue, DWORD wakeMask)
        : m_queue(std::move(queue)), m_wakeMask(wakeMask) {}

    bool IsWaitable() const override { return true; }
    Acquire TryAcquire() override { return IsSignalled() ? Acquire::Yes : Acquire::No; }
    bool IsSignalled() override {
        m_queue->PrepareWait();
        return m_queue->HasInput(m_wakeMask);
    }
    int WaitFd() const override { return m_queue->WakeFd(); }
    // A timer falls due without a write to the descriptor.
    bool FdShowsEveryChange() const override { return false; }

   private:
    std::shared_ptr<CMessageQueue> m_queue;
    DWORD m_wakeMask;
};

// How long one wait may last: up to the deadline, and no longer than the next timer when
// timers wake the caller.
DWORD SliceMs(CMessageQueue& queue, int64_t deadline, DWORD wakeMask) {
    int64_t left = zbw::RemainingUntil(deadline);
    int64_t due = (wakeMask & QS_TIMER) ? queue.NextTimerDue(CMessageQueue::FILTER{nullptr, 0, 0}) : -1;
    if (due >= 0) {
        int64_t untilTimer = std::max<int64_t>(0, due - zbw::TickNow64());
        left = left < 0 ? untilTimer : std::min(left, untilTimer);
    }
    return left < 0 ? INFINITE : static_cast<DWORD>(std::min<int64_t>(left, INFINITE - 1));
}

}  // namespace

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs,
                                DWORD wakeMask) {
    if (count >= MAXIMUM_WAIT_OBJECTS || (count > 0 && !handles)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::shared_ptr<CMessageQueue> queue = CMessageQueue::OfCurrentThread();
    if (!queue) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return WAIT_FAILED;
    }
    std::vector<CKernelRef> refs;
    for (DWORD i = 0; i < count; ++i) {
        refs.push_back(zbw::LookupHandle(handles[i]));
        if (!refs.back()) return WAIT_FAILED;
    }
    auto* queueObject = new CQueueWaitable(queue, wakeMask);
    queueObject->AddRef();
    refs.emplace_back(queueObject);
    std::vector<CKernelObject*> objs;
    for (const CKernelRef& ref : refs) objs.push_back(ref.Get());
    int64_t deadline = zbw::DeadlineAfter(timeoutMs);
    for (;;) {
        DWORD result = zbw::WaitForObjects(objs.data(), count + 1, waitAll != FALSE,
                                           SliceMs(*queue, deadline, wakeMask));
        if (result != WAIT_TIMEOUT || zbw::RemainingUntil(deadline) == 0) {
            queue->EndWait();
            return result;
        }
    }
}
