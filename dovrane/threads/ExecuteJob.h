// CExecuteJob: the worker thread that runs the synchronisation program once for a run item. It
// starts the program with the item's launch command (LaunchCommand.h), reports the start and
// the end to the item window, waits for the process or for a stop request, and starts the
// program again when another run was asked for while one ran.
//
// Notifications: the item's message (posted) with wParam = an EXECNOTIFY code and lParam = the
// job's thread id. After each post the job waits for the item to call Acknowledge, so the item
// reads the exit code and the process id while they are still those of this run; the wait ends
// on the stop event or after eleven rounds of a 500 ms wait and a 500 ms pause (a warning is
// logged and the job goes on).
//
// Stopping (Stop of the base, which sets the stop event): WM_QUIT to the process's main thread,
// with the process raised to the high priority class and its main thread to time-critical, up to
// 60 times a second apart; a process that is still there is then terminated with exit code -1.
// A stopped run reports "ended", never a repeat. The destructor stops the job the same way
// before anything of it goes, so no program is left running.
//
// Threads: Execute runs on the main thread, which owns the run items; the body on the job's own thread. The lock (a CMutex) makes Execute's "is a
// run under way, then queue a repeat" exclusive with the body's end-of-run repeat check, and is
// held only for those checks, never across a wait for the item, so a caller can always queue its
// run at once. Once the body has decided to end it takes no repeat any more; a run asked for
// then waits for the thread to end (the body only closes its handles) and starts anew. When the
// lock is not had within its limit (2000 ms in Execute, 5000 ms in the body) the caller goes on
// without it. Execute does not pause under the lock: the lock alone orders the checks, and a
// pause would cost the main thread its length for every profile due at a minute.
// The getters may be called from any thread.
//
// Failures: a program that cannot be started gives EXECNOTIFY_FAILED; Execute is false only when
// the thread cannot be made. A program outside the layer gets each quit request as SIGTERM; a
// request that cannot be delivered yet (a program of the layer in its first moments, before its
// message queue exists) is simply made again a second later.
//
// Exit codes: GetExitCode is the last process's code (-1 after a forced end) and stays so after
// the body has returned; GetResult (the base's thread result) is the body's own: 0 after a run,
// 1 when the program could not be started.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/ThreadJob.h"
#include "dovrane/threads/LaunchCommand.h"
#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"
#include "platform/classlib/Mutex.h"

// wParam of the job's notification.
enum EXECNOTIFY {
    EXECNOTIFY_STARTED = 0,
    EXECNOTIFY_ENDED = 1,
    EXECNOTIFY_FAILED = 2,
    EXECNOTIFY_REPEATED = 3,
};

class CExecuteJob : public CThreadJob {
   public:
    CExecuteJob();
    ~CExecuteJob() override;

    // Starts a run of command for window/message, or queues it as the repeat of the run under
    // way (with this reason and command: a run handed over at any moment runs its own command).
    // True when started or queued; false when the thread did not start.
    bool Execute(const LAUNCHCOMMAND& command, int reason, HWND window, UINT message);

    // Called by the item when it has handled a notification.
    void Acknowledge() { m_bAcknowledged = true; }

    DWORD GetProcessId() const { return m_dwProcessId; }
    // Seconds since 1970 (UTC) at which the process was started.
    int64_t GetStartTime() const { return m_nStartTime; }
    int GetReason() const { return m_nReason; }
    DWORD GetExitCode() const { return m_dwExitCode; }
    bool IsRepeating() const { return m_bRepeat; }

   protected:
    void Run() override;

   private:
    // The command of the run about to start: the last one handed over.
    LAUNCHCOMMAND TakeCommand();
    // Clears the repeat flag (telling whether it was set) and starts the program; false when it
    // did not start.
    bool StartProcess(const LAUNCHCOMMAND& command, bool& repeat);
    // Under the lock: true when a repeat is queued; otherwise no repeat is taken from now on.
    bool TakeRepeatOrEnd();
    // A run asked for while the body ends: waits (briefly) until the thread has ended.
    void WaitForEnd();
    // Waits for the process or the stop event; true when the process ended by itself.
    bool WaitForProcess();
    // Polite requests, then force; leaves the process ended.
    void EndProcess();
    void ReadExitCode();
    void CloseProcess();
    void NotifyOwner(EXECNOTIFY code);
    bool StopRequested(DWORD waitMs) const;

    CMutex m_lock;
    // Guarded by m_lock: the command, and whether the body still takes a repeat.
    LAUNCHCOMMAND m_command;
    bool m_bEnding = false;
    std::atomic<bool> m_bRepeat{false};
    std::atomic<int64_t> m_nStartTime{0};
    std::atomic<int> m_nReason{0};
    std::atomic<int> m_nPendingReason{0};
    std::atomic<bool> m_bAcknowledged{false};
    std::atomic<DWORD> m_dwExitCode{0};
    std::atomic<DWORD> m_dwProcessId{0};
    HANDLE m_hProcess = nullptr;
    HANDLE m_hMainThread = nullptr;
    DWORD m_dwMainThreadId = 0;
};
