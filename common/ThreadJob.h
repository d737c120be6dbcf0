// CThreadJob: the base of every worker-thread object. It owns one thread that runs the
// subclass's Run, a manual-reset stop event that Run watches, a manual-reset done event that is
// signalled while no body runs, and an optional owner (a window, else a thread) to which Notify
// posts the job's message without waiting.
//
// Threads: Start, StartNotify, Stop and the destructor belong to the owner (one thread at a
// time); Run and Notify run on the job's thread. The running flag is atomic; the done event is
// the synchronisation point: once Stop has returned true the body has returned and the job's
// thread touches the object no more.
//
// Stopping never kills: Stop sets the stop event and waits up to its time-out; a time-out
// returns false and leaves the thread running (a later Stop may succeed). A Start while the
// job runs is refused.
//
// Destruction: StopAndWait sets the stop event and waits for the thread to end without a time
// limit, and the destructor does this for the base's own fields. The wait is unbounded on
// purpose: after any bounded wait the object's memory would be freed under a thread that still
// runs in it, which corrupts silently; a job whose Run ignores its stop event hangs its owner
// here instead, which is visible (a line on standard error says so after a few seconds).
// Every subclass calls StopAndWait first in its own destructor: by the time the base destructor
// runs, the subclass's members are gone and a thread that has not yet entered Run would call the
// base's pure Run, so the base's own wait only covers its fields.
//
// Event creation failures at construction are not checked; a failed thread creation makes
// Start return false with the job left idle.
#pragma once

#include <atomic>

#include "platform/base/WinTypes.h"

class CThreadJob {
   public:
    CThreadJob();
    CThreadJob(const CThreadJob&) = delete;
    CThreadJob& operator=(const CThreadJob&) = delete;
    virtual ~CThreadJob();

    // Sets the owner and message and starts the job; false, changing nothing, while it runs.
    virtual bool StartNotify(HWND owner, DWORD ownerThreadId, UINT message);
    // True once the body has returned (at once when it is not running); false on a time-out.
    virtual bool Stop(DWORD timeoutMs);

    bool IsRunning() const { return m_bRunning; }
    // The thread's exit code: 0 from Start on, then what the body set.
    DWORD GetResult() const { return m_dwResult; }
    DWORD GetThreadId() const { return m_dwThreadId; }

   protected:
    // Resets both events and the result and starts a thread running Run.
    bool Start();
    // The job body; it must return soon after the stop event is set.
    virtual void Run() = 0;
    // Posts the message to the owner window, else to the owner thread; nothing when the message
    // is 0. Never waits.
    void Notify(WPARAM wParam, LPARAM lParam);
    // Asks the body to end and waits, without limit, until the thread has ended.
    void StopAndWait();

    DWORD m_dwThreadId = 0;
    HANDLE m_hThread = nullptr;
    HWND m_hWndOwner = nullptr;
    DWORD m_dwOwnerThreadId = 0;
    UINT m_uMessage = 0;
    DWORD m_dwResult = 0;
    HANDLE m_hStopEvent;
    HANDLE m_hDoneEvent;
    std::atomic<bool> m_bRunning{false};

   private:
    static DWORD ThreadProc(LPVOID job);
    void ReleaseThread();
};
