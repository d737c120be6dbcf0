#include "platform/win32/MessageQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_map>

#include "platform/base/Clock.h"
#include "platform/win32/ControlEndpoint.h"
#include "platform/win32/SessionSignals.h"
#include "platform/win32/WindowTable.h"

namespace {

struct QueueRegistry {
    std::mutex lock;
    std::unordered_map<DWORD, std::shared_ptr<CMessageQueue>> byThread;
};

QueueRegistry& Registry() {
    static QueueRegistry* registry = new QueueRegistry;  // outlives the threads' exit
    return *registry;
}

// Set once the thread's holder is gone: later calls on that thread (static destructors after
// the main thread's exit) get no queue instead of touching the destroyed holder.
thread_local bool t_queueEnded = false;

// Ends the thread's queue and its windows when the thread ends.
struct QueueHolder {
    std::shared_ptr<CMessageQueue> queue;
    ~QueueHolder() {
        t_queueEnded = true;
        if (!queue) return;
        queue->Shutdown();
        CWindowTable::Instance().ForgetThread(queue->ThreadId());
        queue.reset();
    }
};

thread_local QueueHolder t_holder;

const HWND kThreadMessages = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

}  // namespace

void CMessageQueue::SENT::Complete(LRESULT value) {
    result = value;
    done.store(true, std::memory_order_release);
    if (sender) sender->Wake();
}

bool CMessageQueue::FILTER::Matches(HWND msgHwnd, UINT message) const {
    if (hwnd == kThreadMessages && msgHwnd != nullptr) return false;
    if (hwnd != nullptr && hwnd != kThreadMessages && msgHwnd != hwnd) return false;
    return (min == 0 && max == 0) || (message >= min && message <= max);
}

bool CMessageQueue::FILTER::TakesQuit() const {
    return hwnd == nullptr || hwnd == kThreadMessages;
}

CMessageQueue::CMessageQueue(DWORD threadId)
    : m_threadId(threadId), m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CMessageQueue::~CMessageQueue() {
    if (m_wakeFd >= 0) close(m_wakeFd);
}

std::shared_ptr<CMessageQueue> CMessageQueue::OfCurrentThread() {
    if (t_queueEnded) return nullptr;
    if (t_holder.queue) return t_holder.queue;
    auto queue = std::make_shared<CMessageQueue>(static_cast<DWORD>(gettid()));
    if (queue->m_wakeFd < 0) return nullptr;
    bool first = false;
    {
        QueueRegistry& registry = Registry();
        std::lock_guard<std::mutex> guard(registry.lock);
        first = registry.byThread.empty();
        registry.byThread[queue->m_threadId] = queue;
    }
    t_holder.queue = queue;
    if (first) zbw::StartControlEndpoint();
    return queue;
}

std::shared_ptr<CMessageQueue> CMessageQueue::Existing() {
    return t_queueEnded ? nullptr : t_holder.queue;
}

std::shared_ptr<CMessageQueue> CMessageQueue::OfThread(DWORD threadId) {
    QueueRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto it = registry.byThread.find(threadId);
    return it == registry.byThread.end() ? nullptr : it->second;
}

bool CMessageQueue::Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_ended) return false;
        m_posted.push_back(MSG{hwnd, message, wParam, lParam, static_cast<DWORD>(zbw::TickNow64()), {0, 0}});
    }
    Wake();
    return true;
}

void CMessageQueue::PostQuit(int exitCode) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_quit = true;
        m_quitCode = exitCode;
    }
    Wake();
}

bool CMessageQueue::Send(const std::shared_ptr<SENT>& sent) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_ended) return false;
        m_sent.push_back(sent);
    }
    Wake();
    return true;
}

std::shared_ptr<CMessageQueue::SENT> CMessageQueue::TakeSent() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_sent.empty()) return nullptr;
    std::shared_ptr<SENT> sent = m_sent.front();
    m_sent.pop_front();
    return sent;
}

CMessageQueue::TIMER* CMessageQueue::FindTimer(HWND hwnd, UINT_PTR id) {
    for (TIMER& timer : m_timers) {
        if (timer.hwnd == hwnd && timer.id == id) return &timer;
    }
    return nullptr;
}

UINT_PTR CMessageQueue::NewThreadTimerId() {
    while (FindTimer(nullptr, m_nextThreadTimerId) || m_nextThreadTimerId == 0) ++m_nextThreadTimerId;
    return m_nextThreadTimerId++;
}

UINT_PTR CMessageQueue::SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
    elapseMs = std::clamp(elapseMs, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    UINT_PTR result = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_ended) return 0;
        if (hwnd == nullptr && !FindTimer(nullptr, id)) id = NewThreadTimerId();
        int64_t due = zbw::TickNow64() + elapseMs;
        if (TIMER* timer = FindTimer(hwnd, id)) {
            *timer = TIMER{hwnd, id, elapseMs, due, proc};
        } else {
            m_timers.push_back(TIMER{hwnd, id, elapseMs, due, proc});
        }
        result = (hwnd != nullptr && id == 0) ? 1 : id;
    }
    Wake();  // the owner's wait must learn the new deadline
    return result;
}

bool CMessageQueue::KillTimer(HWND hwnd, UINT_PTR id) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = std::find_if(m_timers.begin(), m_timers.end(),
                           [&](const TIMER& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == m_timers.end()) return false;
    m_timers.erase(it);
    return true;
}

bool CMessageQueue::IsTimerProc(HWND hwnd, UINT_PTR id, TIMERPROC proc) {
    std::lock_guard<std::mutex> guard(m_lock);
    TIMER* timer = FindTimer(hwnd, id);
    return timer && timer->proc == proc;
}

void CMessageQueue::ForgetWindow(HWND hwnd) {
    std::vector<std::shared_ptr<SENT>> released;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        std::erase_if(m_timers, [&](const TIMER& t) { return t.hwnd == hwnd; });
        std::erase_if(m_posted, [&](const MSG& m) { return m.hwnd == hwnd; });
        for (auto it = m_sent.begin(); it != m_sent.end();) {
            if ((*it)->hwnd == hwnd) {
                released.push_back(*it);
                it = m_sent.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& sent : released) sent->Complete(0);
}

CMessageQueue::TIMER* CMessageQueue::DueTimer(const FILTER& filter, int64_t now) {
    TIMER* best = nullptr;
    for (TIMER& timer : m_timers) {
        if (timer.due > now || !filter.Matches(timer.hwnd, WM_TIMER)) continue;
        if (!best || timer.due < best->due) best = &timer;
    }
    return best;
}

bool CMessageQueue::Retrieve(const FILTER& filter, bool remove, MSG* msg) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_posted.begin(); it != m_posted.end(); ++it) {
        if (!filter.Matches(it->hwnd, it->message)) continue;
        *msg = *it;
        if (remove) m_posted.erase(it);
        return true;
    }
    int64_t now = zbw::TickNow64();
    if (m_quit && filter.TakesQuit()) {
        *msg = MSG{
            nullptr, WM_QUIT, static_cast<WPARAM>(static_cast<UINT>(m_quitCode)), 0, static_cast<DWORD>(now),
            {0, 0}};
        if (remove) m_quit = false;
        return true;
    }
    TIMER* timer = DueTimer(filter, now);
    if (!timer) return false;
    *msg =
        MSG{timer->hwnd, WM_TIMER, timer->id, reinterpret_cast<LPARAM>(timer->proc), static_cast<DWORD>(now),
            {0, 0}};
    if (remove) timer->due = now + timer->intervalMs;
    return true;
}

int64_t CMessageQueue::NextTimerDue(const FILTER& filter) {
    std::lock_guard<std::mutex> guard(m_lock);
    int64_t next = -1;
    for (const TIMER& timer : m_timers) {
        if (!filter.Matches(timer.hwnd, WM_TIMER)) continue;
        if (next < 0 || timer.due < next) next = timer.due;
    }
    return next;
}

bool CMessageQueue::HasInput(DWORD wakeMask) {
    if ((wakeMask & QS_SENDMESSAGE) && zbw::SessionSignalPending(m_threadId)) return true;
    std::lock_guard<std::mutex> guard(m_lock);
    if ((wakeMask & QS_SENDMESSAGE) && !m_sent.empty()) return true;
    if ((wakeMask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) && (!m_posted.empty() || m_quit)) return true;
    if (wakeMask & QS_TIMER) return DueTimer(FILTER{nullptr, 0, 0}, zbw::TickNow64()) != nullptr;
    return false;
}

void CMessageQueue::Wake() {
    uint64_t one = 1;
    ssize_t written = write(m_wakeFd, &one, sizeof one);
    (void)written;  // a full counter is still readable
}

void CMessageQueue::DrainWake() {
    uint64_t count = 0;
    ssize_t got = read(m_wakeFd, &count, sizeof count);
    (void)got;  // EAGAIN: nothing to drain
}

void CMessageQueue::Shutdown() {
    std::deque<std::shared_ptr<SENT>> released;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_ended = true;
        released.swap(m_sent);
        m_posted.clear();
        m_timers.clear();
    }
    for (auto& sent : released) sent->Complete(0);
    QueueRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto it = registry.byThread.find(m_threadId);
    if (it != registry.byThread.end() && it->second.get() == this) registry.byThread.erase(it);
}
