// Threads: CreateThread, _beginthreadex, _beginthread, their handles, exit codes and priorities,
// the current thread and process.
//
// A thread handle is waitable and signalled once the thread has ended; GetExitCodeThread gives
// STILL_ACTIVE until then. The thread's object lives as long as a handle or the thread itself
// holds it, so a handle may be closed while the thread runs. Thread ids are the host's gettid();
// the main thread's id equals the process id. Any thread may call these functions.
//
// Priorities: a THREAD_PRIORITY_* level is kept with the thread and GetThreadPriority reports the
// value last set; the host schedules every thread at its process's nice value (the priority
// class), since a per-thread nice value would rank a thread against every process on the machine.
// Heaps: threads share a small fixed number of malloc arenas, as Windows threads share the
// process heap, so threads that come and go leave no heap of their own behind; blocks of 512 KB
// and more come from the system and go back to it when freed, as on Windows.
//
// Left out: CREATE_SUSPENDED and ResumeThread (refused with ERROR_NOT_SUPPORTED), thread-local
// storage slots and suspend counts. Security attributes are accepted and ignored.
//
// TerminateThread cannot be done safely on this host (nothing may stop a thread that holds
// locks or allocations). It writes a line to standard error that the thread is abandoned, marks
// the handle ended with the given exit code and returns TRUE; the thread itself runs on until it
// returns, and its own exit code is then ignored. A thread that has already ended is left as it
// is (TRUE); a thread that terminates itself ends as with ExitThread. Nothing it owns is
// released early.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "platform/host/KernelObject.h"
#include "platform/host/SignalFd.h"

#define STILL_ACTIVE 259u
#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID);

// The kernel object of a thread. Threads this layer did not start (a child process's main
// thread) can be represented too: whoever learns of their end calls Finish.
class CThreadObject : public CKernelObject {
   public:
    explicit CThreadObject(int hostTid = 0);

    bool IsWaitable() const override { return true; }
    Acquire TryAcquire() override { return IsSignalled() ? Acquire::Yes : Acquire::No; }
    bool IsSignalled() override;
    int WaitFd() const override { return m_fd.Fd(); }
    zbw::CSignalFd* Signal() override { return &m_fd; }

    int HostTid() const;
    void SetHostTid(int tid);
    // Records the end and exit code; only the first call counts.
    void Finish(DWORD exitCode);
    // STILL_ACTIVE while running.
    DWORD ExitCode();
    int Priority();
    void SetPriority(int priority);

   private:
    std::mutex m_lock;
    zbw::CSignalFd m_fd;
    std::atomic<int> m_tid;
    bool m_ended = false;
    DWORD m_exitCode = STILL_ACTIVE;
    int m_priority = THREAD_PRIORITY_NORMAL;
};

namespace zbw {

// Starts a thread running body; its return value is the exit code. onCreated runs on the
// calling thread with the new handle and id before body starts. Null with the last error (and
// errno) set when the host refuses the thread.
HANDLE SpawnThread(std::function<DWORD()> body, SIZE_T stackSize,
                   const std::function<void(HANDLE, DWORD)>& onCreated);

}  // namespace zbw

HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD creationFlags, LPDWORD threadId);
// The C runtime's threads: 0 (_beginthreadex) or -1 (_beginthread) with errno on failure. The
// handle of _beginthread closes itself when the thread ends.
uintptr_t _beginthreadex(void* security, unsigned stackSize, unsigned (*start)(void*), void* argument,
                         unsigned initFlags, unsigned* threadId);
uintptr_t _beginthread(void (*start)(void*), unsigned stackSize, void* argument);
// Ends the calling thread with exitCode (destructors of its stack frames run).
[[noreturn]] void ExitThread(DWORD exitCode);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
BOOL TerminateThread(HANDLE thread, DWORD exitCode);
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);

// Pseudo-handles: they need no CloseHandle and are understood by the thread and process
// functions (GetCurrentProcess is (HANDLE)-1, GetCurrentThread (HANDLE)-2).
HANDLE GetCurrentThread();
HANDLE GetCurrentProcess();
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
