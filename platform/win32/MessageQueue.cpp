#include "platform/win32/MessageQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_map>

#include "platform/base/Clock.h"
#include "platform/win32/ControlEndpoint.h"
#include "platform/win32/SessionSignals.h"
#include "platform/win32/Thread.h"
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
    auto queue = std::make_shared<CMessageQueue>(GetCurrentThreadId());
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
        // A post that raced with the window's destruction goes the way of its other messages.
        if (hwnd != nullptr && m_forgotten.count(hwnd)) return true;
        m_posted.push_back(MSG{hwnd, message, wParam, lParam, static_cast<DWORD>(zbw::TickNow64()), {0, 0}});
        if (hwnd != nullptr) ++m_postedOf[hwnd];
        WakeLocked();
    }
    return true;
}

void CMessageQueue::PostQuit(int exitCode) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_quit = true;
        m_quitCode = exitCode;
        WakeLocked();
    }
}

bool CMessageQueue::Send(const std::shared_ptr<SENT>& sent) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_ended) return false;
        m_sent.push_back(sent);
        WakeLocked();
    }
    return true;
}

std::shared_ptr<CMessageQueue::SENT> CMessageQueue::TakeSent() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_sent.empty()) return nullptr;
    std::shared_ptr<SENT> sent = m_sent.front();
    m_sent.pop_front();
    return sent;
}

bool CMessageQueue::TIMER_KEY::operator<(const TIMER_KEY& other) const {
    if (hwnd != other.hwnd) return std::less<HWND>()(hwnd, other.hwnd);
    return id < other.id;
}

void CMessageQueue::ArmTimer(const TIMER_KEY& key, UINT intervalMs, int64_t due, TIMERPROC proc) {
    auto [it, added] = m_timers.try_emplace(key);
    if (!added) m_dueOrder.erase(DUE{it->second.due, it->second.armed, key});
    it->second = TIMER{intervalMs, due, m_nextArmed++, proc};
    m_dueOrder.insert(DUE{due, it->second.armed, key});
}

void CMessageQueue::RemoveTimer(std::map<TIMER_KEY, TIMER>::iterator it) {
    m_dueOrder.erase(DUE{it->second.due, it->second.armed, it->first});
    m_timers.erase(it);
}

UINT_PTR CMessageQueue::NewThreadTimerId() {
    while (m_nextThreadTimerId == 0 || m_timers.count(TIMER_KEY{nullptr, m_nextThreadTimerId}))
        ++m_nextThreadTimerId;
    return m_nextThreadTimerId++;
}

UINT_PTR CMessageQueue::SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
    elapseMs = std::clamp(elapseMs, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_ended) return 0;
    if (hwnd == nullptr && !m_timers.count(TIMER_KEY{nullptr, id})) id = NewThreadTimerId();
    ArmTimer(TIMER_KEY{hwnd, id}, elapseMs, zbw::TickNow64() + elapseMs, proc);
    WakeLocked();  // the owner's wait must learn the new deadline
    return (hwnd != nullptr && id == 0) ? 1 : id;
}

bool CMessageQueue::KillTimer(HWND hwnd, UINT_PTR id) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_timers.find(TIMER_KEY{hwnd, id});
    if (it == m_timers.end()) return false;
    RemoveTimer(it);
    return true;
}

bool CMessageQueue::IsTimerProc(HWND hwnd, UINT_PTR id, TIMERPROC proc) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_timers.find(TIMER_KEY{hwnd, id});
    return it != m_timers.end() && it->second.proc == proc;
}

void CMessageQueue::ForgetWindow(HWND hwnd) {
    std::vector<std::shared_ptr<SENT>> released;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto it = m_timers.lower_bound(TIMER_KEY{hwnd, 0});
             it != m_timers.end() && it->first.hwnd == hwnd;)
            RemoveTimer(it++);
        auto posted = m_postedOf.find(hwnd);
        if (posted != m_postedOf.end() && m_forgotten.insert(hwnd).second) {
            m_forgottenPosted += posted->second;
            // Each pass drops at least half of what it walks, so the walks cost O(1) a message.
            if (m_forgottenPosted * 2 > m_posted.size()) DropForgotten();
        }
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

bool CMessageQueue::IsForgotten(const MSG& msg) const {
    return !m_forgotten.empty() && msg.hwnd != nullptr && m_forgotten.count(msg.hwnd) != 0;
}

std::deque<MSG>::iterator CMessageQueue::ErasePosted(std::deque<MSG>::iterator it) {
    if (it->hwnd != nullptr) {
        if (IsForgotten(*it)) --m_forgottenPosted;
        auto count = m_postedOf.find(it->hwnd);
        if (--count->second == 0) {
            m_forgotten.erase(it->hwnd);
            m_postedOf.erase(count);
        }
    }
    return m_posted.erase(it);
}

void CMessageQueue::DropForgotten() {
    std::erase_if(m_posted, [&](const MSG& m) { return IsForgotten(m); });
    for (HWND hwnd : m_forgotten) m_postedOf.erase(hwnd);
    m_forgotten.clear();
    m_forgottenPosted = 0;
}

std::set<CMessageQueue::DUE>::const_iterator CMessageQueue::FirstTimer(const FILTER& filter) const {
    if (filter.hwnd == nullptr)
        return filter.Matches(nullptr, WM_TIMER) ? m_dueOrder.begin() : m_dueOrder.end();
    return std::find_if(m_dueOrder.begin(), m_dueOrder.end(),
                        [&](const DUE& timer) { return filter.Matches(timer.key.hwnd, WM_TIMER); });
}

const CMessageQueue::DUE* CMessageQueue::DueTimer(const FILTER& filter, int64_t now) const {
    if (filter.hwnd == nullptr) {
        auto first = FirstTimer(filter);
        return first != m_dueOrder.end() && first->due <= now ? &*first : nullptr;
    }
    for (const DUE& timer : m_dueOrder) {
        if (timer.due > now) break;
        if (filter.Matches(timer.key.hwnd, WM_TIMER)) return &timer;
    }
    return nullptr;
}

bool CMessageQueue::Retrieve(const FILTER& filter, bool remove, MSG* msg) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_posted.begin(); it != m_posted.end();) {
        if (IsForgotten(*it)) {
            // Dropped here only at the front, where it costs nothing; DropForgotten takes the rest.
            it = it == m_posted.begin() ? ErasePosted(it) : std::next(it);
            continue;
        }
        if (!filter.Matches(it->hwnd, it->message)) {
            ++it;
            continue;
        }
        *msg = *it;
        if (remove) ErasePosted(it);
        m_waiting = false;
        return true;
    }
    int64_t now = zbw::TickNow64();
    if (m_quit && filter.TakesQuit()) {
        *msg = MSG{
            nullptr, WM_QUIT, static_cast<WPARAM>(static_cast<UINT>(m_quitCode)), 0, static_cast<DWORD>(now),
            {0, 0}};
        if (remove) m_quit = false;
        m_waiting = false;
        return true;
    }
    const DUE* due = DueTimer(filter, now);
    if (!due) return false;
    const TIMER_KEY key = due->key;
    const TIMER timer = m_timers.at(key);
    *msg = MSG{key.hwnd, WM_TIMER, key.id, reinterpret_cast<LPARAM>(timer.proc), static_cast<DWORD>(now),
               {0, 0}};
    if (remove) ArmTimer(key, timer.intervalMs, now + timer.intervalMs, timer.proc);
    m_waiting = false;
    return true;
}

int64_t CMessageQueue::NextTimerDue(const FILTER& filter) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto first = FirstTimer(filter);
    return first == m_dueOrder.end() ? -1 : first->due;
}

bool CMessageQueue::HasInput(DWORD wakeMask) {
    if ((wakeMask & QS_SENDMESSAGE) && zbw::SessionSignalPending(m_threadId)) return true;
    std::lock_guard<std::mutex> guard(m_lock);
    if ((wakeMask & QS_SENDMESSAGE) && !m_sent.empty()) return true;
    if ((wakeMask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) && (m_posted.size() > m_forgottenPosted || m_quit))
        return true;
    if (wakeMask & QS_TIMER) return DueTimer(FILTER{nullptr, 0, 0}, zbw::TickNow64()) != nullptr;
    return false;
}

void CMessageQueue::Wake() {
    std::lock_guard<std::mutex> guard(m_lock);
    WakeLocked();
}

void CMessageQueue::WakeLocked() {
    if (!m_waiting || m_wakeWritten) return;
    uint64_t one = 1;
    ssize_t written = write(m_wakeFd, &one, sizeof one);
    (void)written;  // a full counter is still readable
    m_wakeWritten = true;
}

bool CMessageQueue::PrepareWait() {
    bool sent = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // Also empties what the session signal handler wrote, which bypasses the flags.
        uint64_t count = 0;
        ssize_t got = read(m_wakeFd, &count, sizeof count);
        (void)got;  // EAGAIN: nothing to empty
        m_waiting = true;
        m_wakeWritten = false;
        sent = !m_sent.empty();
    }
    // Looked at after emptying: the handler marks a signal before it writes.
    return sent || zbw::SessionSignalPending(m_threadId);
}

void CMessageQueue::EndWait() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_waiting = false;
}

void CMessageQueue::Shutdown() {
    std::deque<std::shared_ptr<SENT>> released;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_ended = true;
        released.swap(m_sent);
        m_posted.clear();
        m_postedOf.clear();
        m_forgotten.clear();
        m_forgottenPosted = 0;
        m_timers.clear();
        m_dueOrder.clear();
    }
    for (auto& sent : released) sent->Complete(0);
    QueueRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto it = registry.byThread.find(m_threadId);
    if (it != registry.byThread.end() && it->second.get() == this) registry.byThread.erase(it);
}
