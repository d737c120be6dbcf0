// Waits on one or several objects across threads; fakes a temporary emulation root and a steered clock.
#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/WinError.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Wait.h"
#include "tests/support/TestRoot.h"

namespace {

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
    }
    return count;
}

class WaitTest : public ::testing::Test {
   protected:
    void TearDown() override {
        for (HANDLE h : m_handles) CloseHandle(h);
        zbw::ResetClockForTest();
    }
    HANDLE Event(bool manual, bool initial, LPCWSTR name = nullptr) {
        HANDLE h = CreateEventW(nullptr, manual, initial, name);
        EXPECT_NE(h, nullptr);
        m_handles.push_back(h);
        return h;
    }

    CTestRoot m_root;
    std::vector<HANDLE> m_handles;
};

TEST_F(WaitTest, ManualResetStaysSignalledAutoResetReleasesOne) {
    struct CASE {
        bool manual;
        DWORD secondWait;
    };
    for (CASE c : {CASE{true, WAIT_OBJECT_0}, CASE{false, WAIT_TIMEOUT}}) {
        SCOPED_TRACE(c.manual ? "manual" : "auto");
        HANDLE e = Event(c.manual, true);
        EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(e, 0), c.secondWait);
        ASSERT_TRUE(ResetEvent(e));
        EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
        ASSERT_TRUE(SetEvent(e));
        EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    }
}

TEST_F(WaitTest, WaitAnyReturnsLowestSignalledIndexAndTakesOnlyThatOne) {
    HANDLE h[3] = {Event(false, false), Event(false, true), Event(false, true)};
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_TIMEOUT);
}

TEST_F(WaitTest, WaitAllTakesEverythingOrNothing) {
    HANDLE h[2] = {Event(false, true), Event(false, false)};
    EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 20), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(h[0], 0), WAIT_OBJECT_0)
        << "a failed wait-all must not consume the first event";
    SetEvent(h[0]);
    SetEvent(h[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(h[0], 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(h[1], 0), WAIT_TIMEOUT);
}

// Looks signalled but refuses to be taken, as an object another waiter just took.
class CRefusingObject : public CKernelObject {
   public:
    bool IsWaitable() const override { return true; }
    bool IsSignalled() override { return true; }
};

TEST_F(WaitTest, WaitAllGivesBackWhatItTookWhenAnotherObjectRefuses) {
    HANDLE e = Event(false, true);
    CKernelRef event = zbw::LookupHandle(e);
    CRefusingObject refusing;
    CKernelObject* objs[2] = {event.Get(), &refusing};
    EXPECT_EQ(zbw::WaitForObjects(objs, 2, true, 20), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
}

TEST_F(WaitTest, WaitAllWakesWhenTheLastObjectIsSet) {
    HANDLE h[2] = {Event(true, true), Event(false, false)};
    std::thread setter([&] {
        Sleep(30);
        SetEvent(h[1]);
    });
    EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 5000), WAIT_OBJECT_0);
    setter.join();
}

TEST_F(WaitTest, BlockedWaiterWakesOnSetFromAnotherThread) {
    for (LPCWSTR name : {static_cast<LPCWSTR>(nullptr), u"WaitTestNamedEvent"}) {
        SCOPED_TRACE(name ? "named (polled)" : "unnamed");
        HANDLE e = Event(false, false, name);
        std::thread setter([&] {
            Sleep(30);
            SetEvent(e);
        });
        int64_t start = zbw::TickNow64();
        EXPECT_EQ(WaitForSingleObject(e, 5000), WAIT_OBJECT_0);
        EXPECT_LT(zbw::TickNow64() - start, 4000);
        setter.join();
    }
}

// Waits on one object sleep on its state; only a wait that combines it with others makes its
// descriptor, in the state the object has then.
TEST_F(WaitTest, OnlyCombinedWaitsMakeDescriptors) {
    const int before = OpenDescriptors();
    HANDLE event = Event(false, false);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    m_handles.push_back(mutex);
    HANDLE semaphore = CreateSemaphoreW(nullptr, 1, 1, nullptr);
    m_handles.push_back(semaphore);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(semaphore, 10), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 10), WAIT_TIMEOUT);
    EXPECT_EQ(OpenDescriptors(), before) << "no descriptor for lone waits";

    std::thread setter([&] {
        Sleep(30);
        SetEvent(event);
    });
    HANDLE both[2] = {semaphore, event};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 5000), WAIT_OBJECT_0 + 1);
    setter.join();
    EXPECT_EQ(OpenDescriptors(), before + 2) << "made for the combined wait";
    ReleaseSemaphore(semaphore, 1, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0) << "the made descriptor follows";
    std::thread later([&] {
        Sleep(30);
        ReleaseSemaphore(semaphore, 1, nullptr);
    });
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 5000), WAIT_OBJECT_0);
    later.join();
}

TEST_F(WaitTest, TimeoutRunsItsCourse) {
    HANDLE e = Event(true, false);
    int64_t start = zbw::TickNow64();
    EXPECT_EQ(WaitForSingleObject(e, 50), WAIT_TIMEOUT);
    EXPECT_GE(zbw::TickNow64() - start, 50);
}

TEST_F(WaitTest, SteeredClockEndsALongWait) {
    HANDLE e = Event(true, false);
    zbw::AdvanceClock(0);
    std::thread advancer([] {
        Sleep(30);
        zbw::AdvanceClock(60000);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(e, 60000), WAIT_TIMEOUT);
    advancer.join();
    // In real time the wait ends soon after the jump, not after its own minute.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(WaitTest, BadArgumentsFail) {
    HANDLE e = Event(true, true);
    std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, e);
    struct CASE {
        const char* what;
        DWORD count;
        const HANDLE* handles;
        BOOL all;
        DWORD error;
    };
    HANDLE bogus = reinterpret_cast<HANDLE>(0x7777);
    HANDLE twice[2] = {e, e};
    for (CASE c : {CASE{"none", 0, many.data(), FALSE, ERROR_INVALID_PARAMETER},
                   CASE{"65 handles", MAXIMUM_WAIT_OBJECTS + 1, many.data(), FALSE, ERROR_INVALID_PARAMETER},
                   CASE{"dead handle", 1, &bogus, FALSE, ERROR_INVALID_HANDLE},
                   CASE{"same object twice in wait-all", 2, twice, TRUE, ERROR_INVALID_PARAMETER}}) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_EQ(WaitForMultipleObjects(c.count, c.handles, c.all, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many.data(), FALSE, 0), WAIT_OBJECT_0);
}

TEST_F(WaitTest, SixtyFourDistinctObjectsCanBeWaitedOn) {
    std::vector<HANDLE> h;
    for (int i = 0; i < MAXIMUM_WAIT_OBJECTS; ++i) h.push_back(Event(false, false));
    SetEvent(h[63]);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, h.data(), FALSE, 1000), WAIT_OBJECT_0 + 63);
}

}  // namespace
