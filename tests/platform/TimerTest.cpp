// Window timers: order, replacement, coalescing, steered clock; fakes a temporary emulation root, a steered
// and pinned clock, a recording window.
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <future>
#include <thread>

#include "platform/base/WinError.h"
#include "tests/platform/MessageTestWindow.h"
#include "tests/support/TestRoot.h"

namespace {

class TimerTest : public ::testing::Test {
   protected:
    void SetUp() override { zbw::AdvanceClock(0); }  // steered: waits poll in short slices
    void TearDown() override {
        for (HWND hwnd : m_windows) DestroyWindow(hwnd);
        DiscardMessages();
        zbw::ResetClockForTest();
    }

    HWND Window(CRecorder** recorder) {
        *recorder = &m_recorders.emplace_back();
        HWND hwnd = MakeRecordingWindow(*recorder);
        m_windows.push_back(hwnd);
        return hwnd;
    }

    // The WM_TIMER ids that the next retrievals give, up to max, without dispatching.
    static std::vector<WPARAM> TakeTimers(size_t max = 10) {
        std::vector<WPARAM> ids;
        MSG msg;
        while (ids.size() < max && PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE))
            ids.push_back(msg.wParam);
        return ids;
    }

    CTestRoot m_root;
    std::deque<CRecorder> m_recorders;
    std::vector<HWND> m_windows;
};

TEST_F(TimerTest, TimerFiresOnTheWindowsOwnThread) {
    CRecorder recorder;
    std::promise<HWND> made;
    std::atomic<DWORD> ownerThread{0};
    std::atomic<bool> stop{false};
    std::thread owner([&] {
        ownerThread = static_cast<DWORD>(gettid());
        HWND hwnd = MakeRecordingWindow(&recorder);
        SetTimer(hwnd, 1127, 1000, nullptr);
        made.set_value(hwnd);
        PumpUntil([&] { return stop.load(); }, 10000);
        DestroyWindow(hwnd);
    });
    GetWithinBound(made.get_future());
    zbw::AdvanceClock(1000);
    bool fired = PumpUntil([&] { return recorder.Count(WM_TIMER) > 0; });
    stop = true;
    PostThreadMessageW(ownerThread, WM_NULL, 0, 0);
    owner.join();
    ASSERT_TRUE(fired);
    auto seen = recorder.Seen(WM_TIMER, WM_TIMER);
    EXPECT_EQ(seen[0].wParam, 1127u);
    EXPECT_EQ(seen[0].threadId, ownerThread.load());
}

// Only the window's own thread may set or kill its timers; any other thread is refused as the
// system refuses it, and the owner's timer is left as it was.
TEST_F(TimerTest, AnotherThreadCanNeitherSetNorKillTheWindowsTimers) {
    CRecorder* recorder;
    HWND hwnd = Window(&recorder);
    ASSERT_EQ(SetTimer(hwnd, 5, 1000, nullptr), 5u);
    UINT_PTR setResult = 1;
    BOOL killResult = TRUE;
    DWORD setError = 0;
    DWORD killError = 0;
    std::thread other([&] {
        setResult = SetTimer(hwnd, 6, 1000, nullptr);
        setError = GetLastError();
        killResult = KillTimer(hwnd, 5);
        killError = GetLastError();
    });
    other.join();
    EXPECT_EQ(setResult, 0u);
    EXPECT_EQ(setError, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(killResult);
    EXPECT_EQ(killError, ERROR_ACCESS_DENIED);
    zbw::AdvanceClock(1000);
    EXPECT_EQ(TakeTimers(), std::vector<WPARAM>{5});
}

TEST_F(TimerTest, SetTimerWithTheSameIdReplacesTheTimer) {
    CRecorder* recorder;
    HWND hwnd = Window(&recorder);
    ASSERT_EQ(SetTimer(hwnd, 7, 60000, nullptr), 7u);
    ASSERT_EQ(SetTimer(hwnd, 7, 1000, nullptr), 7u);
    zbw::AdvanceClock(1000);
    EXPECT_EQ(TakeTimers(), std::vector<WPARAM>{7});
    EXPECT_TRUE(KillTimer(hwnd, 7));  // one timer only: nothing of the first period is left
    zbw::AdvanceClock(120000);
    EXPECT_TRUE(TakeTimers().empty());
    EXPECT_FALSE(KillTimer(hwnd, 7));
}

// Timers come in the order they fall due; those due at the same tick in the order they were
// set, whatever their ids and windows; a timer set again goes to its new place.
TEST_F(TimerTest, DueTimersComeInDueOrderThenInTheOrderTheyWereSet) {
    CRecorder* recorder;
    HWND first = Window(&recorder);
    HWND second = Window(&recorder);
    ASSERT_NE(SetTimer(first, 9, 3000, nullptr), 0u);
    ASSERT_NE(SetTimer(second, 8, 1000, nullptr), 0u);
    ASSERT_NE(SetTimer(first, 7, 2000, nullptr), 0u);
    zbw::AdvanceClock(3000);
    EXPECT_EQ(TakeTimers(), (std::vector<WPARAM>{8, 7, 9}));
    for (HWND hwnd : {first, second}) {
        KillTimer(hwnd, 9);
        KillTimer(hwnd, 8);
        KillTimer(hwnd, 7);
    }

    // Set within the same few milliseconds: mostly the very same due tick.
    for (WPARAM id = 5; id >= 1; --id) ASSERT_NE(SetTimer(id % 2 ? first : second, id, 1000, nullptr), 0u);
    ASSERT_NE(SetTimer(first, 5, 1000, nullptr), 0u);  // set again: now the last one
    ASSERT_TRUE(KillTimer(first, 3));
    zbw::AdvanceClock(1000);
    EXPECT_EQ(TakeTimers(), (std::vector<WPARAM>{4, 2, 1, 5}));
}

TEST_F(TimerTest, TimerMessagesComeOnlyWhenNothingElseIsPendingAndAreCoalesced) {
    zbw::PinTickCount();  // only the advances below move time, so the 1 ms step is exact
    CRecorder* recorder;
    HWND hwnd = Window(&recorder);
    ASSERT_NE(SetTimer(hwnd, 3, 1000, nullptr), 0u);
    zbw::AdvanceClock(10500);  // ten periods
    PostMessageW(hwnd, WM_USER + 1, 0, 0);
    PostMessageW(hwnd, WM_USER + 2, 0, 0);
    std::vector<UINT> order;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) order.push_back(msg.message);
    EXPECT_EQ(order, (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_TIMER}));
    zbw::AdvanceClock(999);
    EXPECT_TRUE(TakeTimers().empty());  // the period restarts when a WM_TIMER is taken
    zbw::AdvanceClock(1);
    EXPECT_EQ(TakeTimers(), std::vector<WPARAM>{3});
}

TEST_F(TimerTest, PeekWithoutRemovingLeavesTheTimerDue) {
    CRecorder* recorder;
    HWND hwnd = Window(&recorder);
    SetTimer(hwnd, 2, 60000, nullptr);
    zbw::AdvanceClock(60000);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, hwnd, WM_TIMER, WM_TIMER, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 2u);
    EXPECT_EQ(TakeTimers(), std::vector<WPARAM>{2});
}

TEST_F(TimerTest, SteeredClockWakesGetMessageForALongTimer) {
    CRecorder* recorder;
    HWND hwnd = Window(&recorder);
    SetTimer(hwnd, 1130, 60000, nullptr);
    std::promise<void> got;
    std::thread advancer([&hwnd, done = got.get_future()] {
        Sleep(30);
        zbw::AdvanceClock(60000);
        if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
            PostMessageW(hwnd, WM_USER, 0, 0);
    });
    MSG msg;
    EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
    got.set_value();
    advancer.join();
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_EQ(msg.wParam, 1130u);
}

int64_t ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

TEST_F(TimerTest, FilteredWaitSleepsWhileAnotherWindowsTimerIsDue) {
    CRecorder* recorder;
    HWND waited = Window(&recorder);
    HWND other = Window(&recorder);
    SetTimer(other, 4, 1000, nullptr);
    zbw::AdvanceClock(1000);
    std::thread poster([waited] {
        Sleep(300);
        PostMessageW(waited, WM_USER + 1, 0, 0);
    });
    int64_t cpuBefore = ThreadCpuMs();
    MSG msg;
    EXPECT_EQ(GetMessageW(&msg, waited, 0, 0), TRUE);
    int64_t cpuUsed = ThreadCpuMs() - cpuBefore;
    poster.join();
    EXPECT_EQ(msg.message, WM_USER + 1u);
    EXPECT_LT(cpuUsed, 150);  // it slept instead of looking at the due timer again and again
    EXPECT_EQ(TakeTimers(), std::vector<WPARAM>{4});
}

std::atomic<int> g_timerProcCalls{0};

void CALLBACK CountingTimerProc(HWND, UINT message, UINT_PTR id, DWORD) {
    if (message == WM_TIMER && id == 9) ++g_timerProcCalls;
}

TEST_F(TimerTest, TimerProcGetsTheTimerAndPostedTimerMessagesGoToTheWindow) {
    CRecorder* recorder;
    HWND hwnd = Window(&recorder);
    g_timerProcCalls = 0;
    SetTimer(hwnd, 9, 1000, CountingTimerProc);
    zbw::AdvanceClock(1000);
    // A WM_TIMER posted by hand, also one that carries a made-up address, reaches the procedure.
    PostMessageW(hwnd, WM_TIMER, 1130, 0);
    PostMessageW(hwnd, WM_TIMER, 9, 0x1234);
    EXPECT_TRUE(PumpUntil([&] { return g_timerProcCalls == 1 && recorder->Count(WM_TIMER) == 2; }));
    auto seen = recorder->Seen(WM_TIMER, WM_TIMER);
    EXPECT_EQ(seen[0].wParam, 1130u);
    EXPECT_EQ(seen[1].lParam, 0x1234);
}

TEST_F(TimerTest, DestroyingTheWindowEndsItsTimers) {
    CRecorder recorder;
    HWND hwnd = MakeRecordingWindow(&recorder);
    SetTimer(hwnd, 1, 2000, nullptr);
    PostMessageW(hwnd, WM_USER, 0, 0);
    DestroyWindow(hwnd);
    zbw::AdvanceClock(5000);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    SetLastError(0);
    EXPECT_EQ(SetTimer(hwnd, 1, 2000, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(TimerTest, ThreadTimersGetTheirOwnIds) {
    UINT_PTR first = SetTimer(nullptr, 0, 1000, nullptr);
    UINT_PTR second = SetTimer(nullptr, 0, 1000, nullptr);
    ASSERT_NE(first, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(SetTimer(nullptr, first, 5000, nullptr), first);  // an existing id is re-armed
    zbw::AdvanceClock(1000);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, second);
    EXPECT_TRUE(KillTimer(nullptr, first));
    EXPECT_TRUE(KillTimer(nullptr, second));
}

}  // namespace
