// Mutexes, semaphores, events and locks across threads; fakes a temporary emulation root.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/base/Clock.h"
#include "platform/base/WinError.h"
#include "platform/classlib/CriticalSection.h"
#include "platform/classlib/Event.h"
#include "platform/classlib/Mutex.h"
#include "platform/classlib/Semaphore.h"
#include "platform/classlib/SingleLock.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Wait.h"
#include "tests/support/TestRoot.h"

namespace {

class SyncObjectTest : public ::testing::Test {
   protected:
    CTestRoot m_root;
};

// What another thread gets when it waits on h for timeoutMs.
DWORD WaitFromOtherThread(HANDLE h, DWORD timeoutMs, bool releaseAfter = true) {
    DWORD result = WAIT_FAILED;
    std::thread([&] {
        result = WaitForSingleObject(h, timeoutMs);
        if (releaseAfter && (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0)) ReleaseMutex(h);
    }).join();
    return result;
}

TEST_F(SyncObjectTest, MutexIsReentrantForItsOwner) {
    for (LPCWSTR name : {static_cast<LPCWSTR>(nullptr), u"SyncTestMutex"}) {
        SCOPED_TRACE(name ? "named" : "unnamed");
        HANDLE m = CreateMutexW(nullptr, TRUE, name);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
        EXPECT_EQ(WaitFromOtherThread(m, 20), WAIT_TIMEOUT);
        EXPECT_TRUE(ReleaseMutex(m));
        EXPECT_EQ(WaitFromOtherThread(m, 20), WAIT_TIMEOUT) << "still owned once";
        EXPECT_TRUE(ReleaseMutex(m));
        EXPECT_EQ(WaitFromOtherThread(m, 1000), WAIT_OBJECT_0);
        SetLastError(0);
        EXPECT_FALSE(ReleaseMutex(m));
        EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
        CloseHandle(m);
    }
}

TEST_F(SyncObjectTest, ReleaseByAnotherThreadFailsWithNotOwner) {
    HANDLE m = CreateMutexW(nullptr, TRUE, nullptr);
    BOOL released = TRUE;
    DWORD error = 0;
    std::thread([&] {
        released = ReleaseMutex(m);
        error = GetLastError();
    }).join();
    EXPECT_FALSE(released);
    EXPECT_EQ(error, ERROR_NOT_OWNER);
    EXPECT_TRUE(ReleaseMutex(m));
    CloseHandle(m);
}

TEST_F(SyncObjectTest, MutexOfAnEndedOwnerIsAbandoned) {
    for (LPCWSTR name : {static_cast<LPCWSTR>(nullptr), u"SyncTestAbandoned"}) {
        SCOPED_TRACE(name ? "named" : "unnamed");
        HANDLE m = CreateMutexW(nullptr, FALSE, name);
        std::thread([&] { EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0); }).join();
        EXPECT_EQ(WaitForSingleObject(m, 1000), WAIT_ABANDONED_0);
        EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0) << "the new owner holds it normally";
        EXPECT_TRUE(ReleaseMutex(m));
        EXPECT_TRUE(ReleaseMutex(m));
        EXPECT_EQ(WaitFromOtherThread(m, 1000), WAIT_OBJECT_0) << "abandonment is reported once";
        CloseHandle(m);
    }
}

TEST_F(SyncObjectTest, BlockedWaiterGetsTheMutexWhenItsOwnerEnds) {
    for (LPCWSTR name : {static_cast<LPCWSTR>(nullptr), u"SyncTestOwnerEnds"}) {
        SCOPED_TRACE(name ? "named" : "unnamed");
        HANDLE m = CreateMutexW(nullptr, FALSE, name);
        HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread owner([&] {
            WaitForSingleObject(m, 0);
            SetEvent(taken);
            Sleep(30);
        });
        ASSERT_EQ(WaitForSingleObject(taken, 5000), WAIT_OBJECT_0);
        int64_t start = zbw::TickNow64();
        EXPECT_EQ(WaitForSingleObject(m, 5000), WAIT_ABANDONED_0);
        EXPECT_LT(zbw::TickNow64() - start, 4000);
        owner.join();
        ReleaseMutex(m);
        CloseHandle(taken);
        CloseHandle(m);
    }
}

TEST_F(SyncObjectTest, AbandonedMutexInWaitAllReportsItsIndex) {
    HANDLE h[2] = {CreateEventW(nullptr, TRUE, TRUE, nullptr), CreateMutexW(nullptr, FALSE, nullptr)};
    std::thread([&] { WaitForSingleObject(h[1], 0); }).join();
    EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 1000), WAIT_ABANDONED_0 + 1);
    EXPECT_TRUE(ReleaseMutex(h[1]));
    CloseHandle(h[0]);
    CloseHandle(h[1]);
}

TEST_F(SyncObjectTest, SemaphoreCountsUpToItsMaximum) {
    HANDLE s = CreateSemaphoreW(nullptr, 1, 2, nullptr);
    ASSERT_NE(s, nullptr);
    LONG previous = -1;
    EXPECT_TRUE(ReleaseSemaphore(s, 1, &previous));
    EXPECT_EQ(previous, 1);
    SetLastError(0);
    EXPECT_FALSE(ReleaseSemaphore(s, 1, &previous));
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
    EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseSemaphore(s, 2, &previous));
    EXPECT_EQ(previous, 0);
    SetLastError(0);
    EXPECT_FALSE(ReleaseSemaphore(s, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(s);
}

TEST_F(SyncObjectTest, SemaphoreCountsAreChecked) {
    struct CASE {
        LONG initial;
        LONG maximum;
    };
    for (CASE c : {CASE{-1, 1}, CASE{2, 1}, CASE{0, 0}}) {
        SetLastError(0);
        EXPECT_EQ(CreateSemaphoreW(nullptr, c.initial, c.maximum, nullptr), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
}

TEST_F(SyncObjectTest, FunctionsRefuseHandlesOfAnotherKind) {
    HANDLE m = CreateMutexW(nullptr, FALSE, nullptr);
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetLastError(0);
    EXPECT_FALSE(SetEvent(m));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(ReleaseMutex(e));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(ReleaseSemaphore(e, 1, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(m);
    CloseHandle(e);
}

TEST_F(SyncObjectTest, CriticalSectionIsReentrantAndTryDoesNotWait) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    BOOL other = TRUE;
    std::thread([&] { other = TryEnterCriticalSection(&cs); }).join();
    EXPECT_FALSE(other);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    std::thread([&] {
        other = TryEnterCriticalSection(&cs);
        if (other) LeaveCriticalSection(&cs);
    }).join();
    EXPECT_TRUE(other);
    DeleteCriticalSection(&cs);
}

TEST_F(SyncObjectTest, SingleLockTakesAndReleasesEachKind) {
    CEvent event(TRUE, TRUE);
    CMutex mutex;
    CSemaphore semaphore;
    CCriticalSection section;
    for (CSyncObject* object : std::initializer_list<CSyncObject*>{&event, &mutex, &semaphore, &section}) {
        CSingleLock lock(object);
        EXPECT_FALSE(lock.IsLocked());
        EXPECT_TRUE(lock.Lock(1000));
        EXPECT_TRUE(lock.IsLocked());
        EXPECT_TRUE(lock.Lock(1000)) << "a second Lock holds it still and takes nothing more";
        EXPECT_TRUE(lock.Unlock());
        EXPECT_FALSE(lock.IsLocked());
    }
    EXPECT_TRUE(semaphore.Lock(0)) << "the count came back whole";
}

TEST_F(SyncObjectTest, SingleLockReleasesInItsDestructor) {
    CMutex mutex;
    {
        CSingleLock lock(&mutex, TRUE);
        ASSERT_TRUE(lock.IsLocked());
    }
    EXPECT_EQ(WaitFromOtherThread(mutex, 1000), WAIT_OBJECT_0);
}

TEST_F(SyncObjectTest, SingleLockTimesOutOnAHeldObject) {
    CMutex mutex(TRUE);
    CCriticalSection section;
    section.Lock();
    CSemaphore semaphore(0, 1);
    for (CSyncObject* object : std::initializer_list<CSyncObject*>{&mutex, &section, &semaphore}) {
        BOOL zero = TRUE, brief = TRUE;
        int64_t elapsed = 0;
        std::thread([&] {
            CSingleLock lock(object);
            zero = lock.Lock(0);
            int64_t start = zbw::TickNow64();
            brief = lock.Lock(30);
            elapsed = zbw::TickNow64() - start;
        }).join();
        EXPECT_FALSE(zero);
        EXPECT_FALSE(brief);
        EXPECT_GE(elapsed, 30);
    }
    section.Unlock();
    mutex.Unlock();
}

TEST_F(SyncObjectTest, SingleLockOwnsAnAbandonedMutex) {
    CMutex mutex;
    std::thread([&] { mutex.Lock(0); }).join();
    CSingleLock lock(&mutex);
    EXPECT_TRUE(lock.Lock(1000));
    EXPECT_TRUE(lock.Unlock());
    EXPECT_EQ(WaitFromOtherThread(mutex, 1000), WAIT_OBJECT_0) << "released by the lock that took it";
}

TEST_F(SyncObjectTest, ClassLibraryEventKeepsItsResetMode) {
    CEvent manual(FALSE, TRUE);
    CEvent automatic;
    EXPECT_TRUE(manual.SetEvent());
    EXPECT_TRUE(automatic.SetEvent());
    EXPECT_TRUE(manual.Lock(0));
    EXPECT_TRUE(manual.Lock(0));
    EXPECT_TRUE(automatic.Lock(0));
    EXPECT_FALSE(automatic.Lock(0));
    EXPECT_TRUE(manual.ResetEvent());
    EXPECT_FALSE(manual.Lock(0));
}

}  // namespace
