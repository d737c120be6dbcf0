#include "platform/win32/Thread.h"

#include <malloc.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/base/WinError.h"
#include "platform/host/HostIds.h"

namespace {

constexpr intptr_t kCurrentThreadValue = -2;
constexpr intptr_t kCurrentProcessValue = -1;

bool IsCurrentThread(HANDLE handle) {
    return reinterpret_cast<intptr_t>(handle) == kCurrentThreadValue;
}

// Ends a layer thread's object as the very last thing the thread does: it is armed before
// anything else of the thread is made, so thread-local objects made later (the owned-mutex list)
// are destroyed first and their effects are visible once the handle is signalled.
class CThreadExit {
   public:
    ~CThreadExit() {
        if (!m_thread) return;
        m_thread->Finish(m_exitCode);
        if (m_closeHandle) CloseHandle(m_closeHandle);
        m_thread->Release();
    }
    void Arm(CThreadObject* thread, HANDLE closeHandle) {
        m_thread = thread;
        m_closeHandle = closeHandle;
    }
    CThreadObject* Thread() const { return m_thread; }
    void SetExitCode(DWORD code) { m_exitCode = code; }

   private:
    CThreadObject* m_thread = nullptr;
    HANDLE m_closeHandle = nullptr;
    DWORD m_exitCode = 0;
};

thread_local CThreadExit t_exit;
thread_local int t_priority = THREAD_PRIORITY_NORMAL;  // threads the layer did not start
constexpr int kHeapArenas = 2;
constexpr int kLargeBlockBytes = 512 * 1024;

// The new thread waits until its handle exists. The creator reads the thread's id from the
// pthread and waits for the thread to report it only if that fails, so it does not wait until
// a busy machine schedules the thread.
struct START {
    std::function<DWORD()> body;
    CThreadObject* thread;
    bool closeOnExit = false;
    HANDLE handle = nullptr;
    std::mutex lock;
    std::condition_variable changed;
    bool started = false;
    bool go = false;
};

void* ThreadMain(void* arg) {
    auto* holder = static_cast<std::shared_ptr<START>*>(arg);
    std::shared_ptr<START> start = std::move(*holder);
    delete holder;
    start->thread->SetHostTid(zbw::HostThreadId());
    std::unique_lock<std::mutex> lock(start->lock);
    start->started = true;
    start->changed.notify_all();
    start->changed.wait(lock, [&] { return start->go; });
    t_exit.Arm(start->thread, start->closeOnExit ? start->handle : nullptr);
    std::function<DWORD()> body = std::move(start->body);
    lock.unlock();
    start.reset();
    t_exit.SetExitCode(body());
    return nullptr;
}

// The kernel id of a thread that has not ended: its CPU clock id encodes it (~id << 3 | flags).
pid_t KernelTidOf(pthread_t thread) {
    clockid_t clock = 0;
    if (pthread_getcpuclockid(thread, &clock) != 0) return 0;
    return static_cast<pid_t>(~(clock >> 3));
}

bool IsPriorityLevel(int priority) {
    switch (priority) {
        case THREAD_PRIORITY_IDLE:
        case THREAD_PRIORITY_LOWEST:
        case THREAD_PRIORITY_BELOW_NORMAL:
        case THREAD_PRIORITY_NORMAL:
        case THREAD_PRIORITY_ABOVE_NORMAL:
        case THREAD_PRIORITY_HIGHEST:
        case THREAD_PRIORITY_TIME_CRITICAL: return true;
        default: return false;
    }
}

// Windows gives each thread of the process one heap; glibc would give each new thread an arena
// of its own, and a server that starts a thread per connection would keep dozens of them, mostly
// free, for good. A few arenas shared by all threads keep the memory of such a process flat. The
// Windows heap also takes large blocks from the system and gives them back when freed; glibc's
// own threshold would rise after the first such block and leave the heap fragmented by them.
void BoundHeapArenas() {
    static std::once_flag once;
    std::call_once(once, [] {
        mallopt(M_ARENA_MAX, kHeapArenas);
        mallopt(M_MMAP_THRESHOLD, kLargeBlockBytes);
    });
}

// The thread object a handle names; the current thread's when it is the pseudo-handle and the
// layer started it. Empty (ERROR_INVALID_HANDLE) for other objects.
CKernelRef ThreadOf(HANDLE handle) {
    if (IsCurrentThread(handle)) {
        CThreadObject* self = t_exit.Thread();
        if (!self) {
            SetLastError(ERROR_INVALID_HANDLE);
            return CKernelRef();
        }
        self->AddRef();
        return CKernelRef(self);
    }
    CKernelRef ref = zbw::LookupHandle(handle);
    if (ref && !ref.As<CThreadObject>()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return CKernelRef();
    }
    return ref;
}

HANDLE Spawn(std::function<DWORD()> body, SIZE_T stackSize, bool closeOnExit,
             const std::function<void(HANDLE, DWORD)>& onCreated) {
    BoundHeapArenas();
    auto start = std::make_shared<START>();
    start->body = std::move(body);
    start->thread = new CThreadObject();
    start->closeOnExit = closeOnExit;
    start->thread->AddRef();  // the thread's own reference, dropped when it ends
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stackSize > 0) {
        SIZE_T rounded = (stackSize + 0xFFFF) & ~static_cast<SIZE_T>(0xFFFF);
        pthread_attr_setstacksize(&attr, std::max<SIZE_T>(rounded, PTHREAD_STACK_MIN));
    }
    pthread_t id;
    auto* arg = new std::shared_ptr<START>(start);
    int err = pthread_create(&id, &attr, ThreadMain, arg);
    pthread_attr_destroy(&attr);
    if (err != 0) {
        delete arg;
        start->thread->Release();
        errno = err;
        zbw::SetLastErrorFromErrno();
        return nullptr;
    }
    std::unique_lock<std::mutex> lock(start->lock);
    const pid_t tid = KernelTidOf(id);
    if (tid > 0)
        start->thread->SetHostTid(tid);
    else
        start->changed.wait(lock, [&] { return start->started; });
    start->handle = zbw::NewHandle(start->thread);
    if (onCreated) onCreated(start->handle, static_cast<DWORD>(start->thread->HostTid()));
    start->go = true;
    start->changed.notify_all();
    return start->handle;
}

}  // namespace

CThreadObject::CThreadObject(int hostTid) : m_tid(hostTid) {}

bool CThreadObject::IsSignalled() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_ended;
}

int CThreadObject::HostTid() const {
    return m_tid.load();
}

void CThreadObject::SetHostTid(int tid) {
    m_tid.store(tid);
}

void CThreadObject::Finish(DWORD exitCode) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_ended) return;
    m_ended = true;
    m_exitCode = exitCode;
    m_fd.Update(true);
}

DWORD CThreadObject::ExitCode() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_exitCode;
}

int CThreadObject::Priority() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_priority;
}

void CThreadObject::SetPriority(int priority) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_priority = priority;
}

namespace zbw {

HANDLE SpawnThread(std::function<DWORD()> body, SIZE_T stackSize,
                   const std::function<void(HANDLE, DWORD)>& onCreated) {
    return Spawn(std::move(body), stackSize, false, onCreated);
}

}  // namespace zbw

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId) {
    constexpr DWORD kCreateSuspended = 0x4;
    if (!start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (creationFlags & kCreateSuspended) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return Spawn([start, parameter] { return start(parameter); }, stackSize, false,
                 [threadId](HANDLE, DWORD tid) {
                     if (threadId) *threadId = tid;
                 });
}

uintptr_t _beginthreadex(void*, unsigned stackSize, unsigned (*start)(void*), void* argument,
                         unsigned initFlags, unsigned* threadId) {
    if (!start || initFlags != 0) {
        errno = EINVAL;
        return 0;
    }
    HANDLE handle = Spawn([start, argument] { return static_cast<DWORD>(start(argument)); }, stackSize, false,
                          [threadId](HANDLE, DWORD tid) {
                              if (threadId) *threadId = tid;
                          });
    return reinterpret_cast<uintptr_t>(handle);
}

uintptr_t _beginthread(void (*start)(void*), unsigned stackSize, void* argument) {
    if (!start) {
        errno = EINVAL;
        return static_cast<uintptr_t>(-1);
    }
    HANDLE handle = Spawn(
        [start, argument] {
            start(argument);
            return DWORD{0};
        },
        stackSize, true, nullptr);
    return handle ? reinterpret_cast<uintptr_t>(handle) : static_cast<uintptr_t>(-1);
}

void ExitThread(DWORD exitCode) {
    t_exit.SetExitCode(exitCode);
    pthread_exit(nullptr);
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    if (!exitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (IsCurrentThread(thread)) {
        *exitCode = STILL_ACTIVE;
        return TRUE;
    }
    CKernelRef ref = ThreadOf(thread);
    if (!ref) return FALSE;
    *exitCode = ref.As<CThreadObject>()->ExitCode();
    return TRUE;
}

BOOL TerminateThread(HANDLE thread, DWORD exitCode) {
    CKernelRef ref = ThreadOf(thread);
    if (!ref) return FALSE;
    CThreadObject* target = ref.As<CThreadObject>();
    if (target->IsSignalled()) return TRUE;
    if (target == t_exit.Thread()) ExitThread(exitCode);
    fprintf(
        stderr,
        "TerminateThread: thread %d cannot be stopped safely; it is abandoned and runs on (exit code %u)\n",
        target->HostTid(), exitCode);
    target->Finish(exitCode);
    return TRUE;
}

// The level is the thread's own, reported back by GetThreadPriority; the host schedules the
// thread as the rest of its process. Windows weighs a thread's level against the process's other
// threads, while a nice value weighs it against every process on the machine: there, a lowered
// server thread would wait behind any busy program.
BOOL SetThreadPriority(HANDLE thread, int priority) {
    if (!IsPriorityLevel(priority)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (IsCurrentThread(thread) && !t_exit.Thread()) {
        t_priority = priority;
        return TRUE;
    }
    CKernelRef ref = ThreadOf(thread);
    if (!ref) return FALSE;
    ref.As<CThreadObject>()->SetPriority(priority);
    return TRUE;
}

int GetThreadPriority(HANDLE thread) {
    if (IsCurrentThread(thread) && !t_exit.Thread()) return t_priority;
    CKernelRef ref = ThreadOf(thread);
    if (!ref) return THREAD_PRIORITY_ERROR_RETURN;
    return ref.As<CThreadObject>()->Priority();
}

HANDLE GetCurrentThread() {
    return reinterpret_cast<HANDLE>(kCurrentThreadValue);
}

HANDLE GetCurrentProcess() {
    return reinterpret_cast<HANDLE>(kCurrentProcessValue);
}

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(zbw::HostThreadId());
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(zbw::HostProcessId());
}
