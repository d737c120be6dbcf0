// CMessageQueue: one thread's message queue (see WinUser.h for the rules it keeps).
//
// It holds posted messages in order, messages sent by other threads with their reply slots,
// timers and the quit state, and an eventfd that wakes the owner thread. Any thread may post,
// send, set timers or wake; only the owner thread retrieves, serves sends and waits. The eventfd
// is written only while the owner waits (between PrepareWait and EndWait), and once per wait, so
// messages to a busy thread cost no system call. Timers are kept in the order they fall due
// (timers due at the same tick in the order they were set), so finding the next one does not
// look at the others. A destroyed window's timers are found by its handle and its posted messages
// are left where they lie, skipped and dropped as retrieval reaches them (and all at once when
// they make up half the queue), so destroying many windows costs no walk of the queue per window.
// A queue lives as long as someone holds it; when its thread ends it refuses new messages and
// releases every waiting sender with 0. Window procedures are never called here: the message
// functions do that on the owner thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "platform/win32/WinUser.h"

class CMessageQueue {
   public:
    // A message sent from another thread; the sender waits until Complete.
    struct SENT {
        HWND hwnd;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        std::shared_ptr<CMessageQueue> sender;
        LRESULT result = 0;
        std::atomic<bool> done{false};

        void Complete(LRESULT value);
    };

    // Which messages a retrieval takes: a window (null = any, -1 = thread messages only) and
    // a message range (0, 0 = all).
    struct FILTER {
        HWND hwnd;
        UINT min;
        UINT max;

        bool Matches(HWND msgHwnd, UINT message) const;
        bool TakesQuit() const;
    };

    explicit CMessageQueue(DWORD threadId);
    ~CMessageQueue();
    CMessageQueue(const CMessageQueue&) = delete;
    CMessageQueue& operator=(const CMessageQueue&) = delete;

    // The calling thread's queue, made on first use (the first one of the process starts the
    // control endpoint); null when the eventfd cannot be made or the thread is ending.
    static std::shared_ptr<CMessageQueue> OfCurrentThread();
    // The calling thread's queue if it has one.
    static std::shared_ptr<CMessageQueue> Existing();
    // The queue of a live thread of this process, or null.
    static std::shared_ptr<CMessageQueue> OfThread(DWORD threadId);

    DWORD ThreadId() const { return m_threadId; }
    int WakeFd() const { return m_wakeFd; }

    // False once the thread has ended.
    bool Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void PostQuit(int exitCode);
    bool Send(const std::shared_ptr<SENT>& sent);
    // Owner: the oldest waiting send, or null.
    std::shared_ptr<SENT> TakeSent();

    // Timers of windows owned by this queue's thread (or thread timers with a null window).
    UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
    bool KillTimer(HWND hwnd, UINT_PTR id);
    bool IsTimerProc(HWND hwnd, UINT_PTR id, TIMERPROC proc);
    // A destroyed window: its timers and posted messages go, its senders get 0.
    void ForgetWindow(HWND hwnd);

    // Owner: posted message, then quit state, then a due timer. With remove, a timer restarts
    // its period from now.
    bool Retrieve(const FILTER& filter, bool remove, MSG* msg);
    // Tick of the next timer due that the filter takes, -1 when there is none.
    int64_t NextTimerDue(const FILTER& filter);
    // Something of the QS_* mask is waiting now.
    bool HasInput(DWORD wakeMask);

    // Makes the eventfd readable if the owner waits and it is not readable yet.
    void Wake();
    // Owner, before its last look at the state ahead of a wait on WakeFd: from now on changes
    // wake it. Empties the eventfd of earlier wakes. True when sent messages or session signals
    // wait to be served: the owner serves them instead of waiting.
    bool PrepareWait();
    // Owner: the wait is over; changes no longer touch the eventfd.
    void EndWait();
    // The thread ended.
    void Shutdown();

   private:
    // Ordered by window, so one window's timers lie together.
    struct TIMER_KEY {
        HWND hwnd;
        UINT_PTR id;
        bool operator<(const TIMER_KEY& other) const;
    };
    struct TIMER {
        UINT intervalMs;
        int64_t due;
        uint64_t armed;  // when it was set, in the order of m_nextArmed: breaks ties of due
        TIMERPROC proc;
    };
    // A timer's place in the due order.
    struct DUE {
        int64_t due;
        uint64_t armed;
        TIMER_KEY key;
        bool operator<(const DUE& other) const {
            return due != other.due ? due < other.due : armed < other.armed;
        }
    };

    void ArmTimer(const TIMER_KEY& key, UINT intervalMs, int64_t due, TIMERPROC proc);
    void RemoveTimer(std::map<TIMER_KEY, TIMER>::iterator it);
    // The first timer in due order that the filter takes, or end (linear only for filters that
    // take some windows' timers and not others).
    std::set<DUE>::const_iterator FirstTimer(const FILTER& filter) const;
    const DUE* DueTimer(const FILTER& filter, int64_t now) const;
    UINT_PTR NewThreadTimerId();
    void WakeLocked();
    bool IsForgotten(const MSG& msg) const;
    // Takes the message at it out of the queue and out of the counts.
    std::deque<MSG>::iterator ErasePosted(std::deque<MSG>::iterator it);
    // Drops every message of a forgotten window in one pass.
    void DropForgotten();

    const DWORD m_threadId;
    const int m_wakeFd;
    std::mutex m_lock;
    bool m_ended = false;
    std::deque<MSG> m_posted;
    // How many messages of m_posted each window has (thread messages are not counted).
    std::unordered_map<HWND, size_t> m_postedOf;
    // Destroyed windows whose messages still lie in m_posted, and how many those are.
    std::unordered_set<HWND> m_forgotten;
    size_t m_forgottenPosted = 0;
    // Short: each sender waits for its one send.
    std::deque<std::shared_ptr<SENT>> m_sent;
    std::map<TIMER_KEY, TIMER> m_timers;
    std::set<DUE> m_dueOrder;
    uint64_t m_nextArmed = 0;
    UINT_PTR m_nextThreadTimerId = 1;
    bool m_waiting = false;      // the owner waits on the eventfd
    bool m_wakeWritten = false;  // the eventfd was written during this wait
    bool m_quit = false;
    int m_quitCode = 0;
};
