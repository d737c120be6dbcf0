// Threads of the layer: ids, exit codes, handles, abandoned mutexes; fakes a temporary emulation root.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>

#include "platform/base/Clock.h"
#include "platform/base/WinError.h"
#include "platform/classlib/WinThread.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Thread.h"
#include "platform/win32/Wait.h"
#include "tests/support/TestRoot.h"

namespace {

class ThreadTest : public ::testing::Test {
   protected:
    void SetUp() override { m_go = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    void TearDown() override { CloseHandle(m_go); }

    CTestRoot m_root;
    HANDLE m_go = nullptr;
};

struct JOB {
    HANDLE go;
    std::atomic<DWORD> seenTid{0};
    std::atomic<int> priority{THREAD_PRIORITY_ERROR_RETURN};
    std::atomic<int> nice{-100};
};

DWORD WaitThenReturn(LPVOID arg) {
    auto* job = static_cast<JOB*>(arg);
    job->seenTid = GetCurrentThreadId();
    WaitForSingleObject(job->go, 10000);
    return 42;
}

TEST_F(ThreadTest, CreateThreadReportsIdAndExitCode) {
    JOB job{m_go};
    DWORD tid = 0;
    HANDLE t = CreateThread(nullptr, 0, WaitThenReturn, &job, 0, &tid);
    ASSERT_NE(t, nullptr);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(t, 20), WAIT_TIMEOUT);
    SetEvent(m_go);
    EXPECT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(job.seenTid.load(), tid);
    EXPECT_NE(tid, GetCurrentThreadId());
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0) << "an ended thread stays signalled";
    CloseHandle(t);
}

TEST_F(ThreadTest, HandleMayBeClosedWhileTheThreadRuns) {
    JOB job{m_go};
    HANDLE t = CreateThread(nullptr, 64 * 1024, WaitThenReturn, &job, 0, nullptr);
    ASSERT_NE(t, nullptr);
    HANDLE second = zbw::AddHandle(t);
    CloseHandle(t);
    SetEvent(m_go);
    EXPECT_EQ(WaitForSingleObject(second, 10000), WAIT_OBJECT_0);
    CloseHandle(second);
}

unsigned ReturnCode(void* arg) {
    return *static_cast<unsigned*>(arg);
}

TEST_F(ThreadTest, RuntimeThreadsCarryTheirExitCode) {
    unsigned value = 4660;
    unsigned tid = 0;
    auto t = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ReturnCode, &value, 0, &tid));
    ASSERT_NE(t, nullptr);
    EXPECT_NE(tid, 0u);
    EXPECT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 4660u);
    CloseHandle(t);
}

void SignalAndEnd(void* arg) {
    SetEvent(static_cast<HANDLE>(arg));
}

TEST_F(ThreadTest, BeginThreadRunsAndClosesItsOwnHandle) {
    uintptr_t t = _beginthread(SignalAndEnd, 0, m_go);
    ASSERT_NE(t, static_cast<uintptr_t>(-1));
    EXPECT_EQ(WaitForSingleObject(m_go, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    for (int i = 0; i < 1000 && GetExitCodeThread(reinterpret_cast<HANDLE>(t), &code); ++i) Sleep(5);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

struct CUnwound {
    std::atomic<bool>* flag;
    ~CUnwound() { *flag = true; }
};

TEST_F(ThreadTest, ExitThreadEndsWithItsCodeAndUnwinds) {
    static std::atomic<bool> unwound{false};
    HANDLE t = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
            CUnwound guard{&unwound};
            ExitThread(7);
        },
        nullptr, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(unwound.load());
    CloseHandle(t);
}

DWORD TakeAndKeep(LPVOID mutex) {
    return WaitForSingleObject(static_cast<HANDLE>(mutex), 0);
}

TEST_F(ThreadTest, OwnedMutexIsAbandonedBeforeTheThreadHandleSignals) {
    HANDLE m = CreateMutexW(nullptr, FALSE, nullptr);
    HANDLE t = CreateThread(nullptr, 0, TakeAndKeep, m, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_ABANDONED_0);
    ReleaseMutex(m);
    CloseHandle(t);
    CloseHandle(m);
}

TEST_F(ThreadTest, WaitAllOnTwoThreads) {
    JOB a{m_go}, b{m_go};
    HANDLE t[2] = {CreateThread(nullptr, 0, WaitThenReturn, &a, 0, nullptr),
                   CreateThread(nullptr, 0, WaitThenReturn, &b, 0, nullptr)};
    EXPECT_EQ(WaitForMultipleObjects(2, t, TRUE, 20), WAIT_TIMEOUT);
    SetEvent(m_go);
    EXPECT_EQ(WaitForMultipleObjects(2, t, TRUE, 10000), WAIT_OBJECT_0);
    CloseHandle(t[0]);
    CloseHandle(t[1]);
}

DWORD WaitThenMarkDone(LPVOID arg) {
    auto* job = static_cast<JOB*>(arg);
    WaitForSingleObject(job->go, 10000);
    job->seenTid = 1;
    return 42;
}

TEST_F(ThreadTest, TerminateThreadAbandonsTheThreadAndSignalsTheHandle) {
    JOB job{m_go};
    HANDLE t = CreateThread(nullptr, 0, WaitThenMarkDone, &job, 0, nullptr);
    EXPECT_TRUE(TerminateThread(t, 4660));
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, 4660u);
    SetEvent(m_go);  // the abandoned thread runs on and returns 42, which no longer counts
    for (int i = 0; i < 2000 && job.seenTid == 0; ++i) Sleep(5);
    ASSERT_EQ(job.seenTid.load(), 1u);
    Sleep(50);
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, 4660u);
    EXPECT_TRUE(TerminateThread(t, 1)) << "an ended thread is left as it is";
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, 4660u);
    CloseHandle(t);
}

DWORD LowerSelf(LPVOID arg) {
    auto* job = static_cast<JOB*>(arg);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);  // may be refused by the host
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    job->priority = GetThreadPriority(GetCurrentThread());
    errno = 0;
    job->nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    return 0;
}

TEST_F(ThreadTest, PrioritiesAreKeptWithoutLoweringTheHostPriority) {
    JOB job{m_go};
    HANDLE t = CreateThread(nullptr, 0, LowerSelf, &job, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(job.priority.load(), THREAD_PRIORITY_LOWEST);
    EXPECT_EQ(job.nice.load(), getpriority(PRIO_PROCESS, 0)) << "a busy process would starve it";
    EXPECT_EQ(GetThreadPriority(t), THREAD_PRIORITY_LOWEST);
    SetLastError(0);
    EXPECT_FALSE(SetThreadPriority(t, 3));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(t);
}

TEST_F(ThreadTest, CurrentIdsAndPseudoHandles) {
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
    EXPECT_EQ(GetCurrentThreadId(), GetCurrentProcessId()) << "tests run on the main thread";
    EXPECT_EQ(GetCurrentProcess(), INVALID_HANDLE_VALUE);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(GetCurrentThread(), &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    SetLastError(0);
    EXPECT_FALSE(GetExitCodeThread(m_go, &code));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

UINT ClassLibraryProc(LPVOID arg) {
    auto* job = static_cast<JOB*>(arg);
    job->seenTid = GetCurrentThreadId();
    job->priority = GetThreadPriority(GetCurrentThread());
    SetEvent(job->go);
    return 0;
}

TEST_F(ThreadTest, AfxBeginThreadRunsTheProcAtTheGivenPriority) {
    JOB job{m_go};
    CWinThread* thread = AfxBeginThread(ClassLibraryProc, &job, THREAD_PRIORITY_BELOW_NORMAL);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(m_go, 10000), WAIT_OBJECT_0);
    EXPECT_NE(job.seenTid.load(), 0u);
    EXPECT_EQ(job.priority.load(), THREAD_PRIORITY_BELOW_NORMAL);
}

TEST_F(ThreadTest, SuspendedCreationIsRefused) {
    JOB job{m_go};
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, 0, WaitThenReturn, &job, 0x4, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(AfxBeginThread(ClassLibraryProc, &job, THREAD_PRIORITY_NORMAL, 0, 0x4), nullptr);
}

}  // namespace
