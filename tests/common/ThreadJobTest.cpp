// CThreadJob: start, stop, notifications to the owner window or thread; fakes a temporary emulation root.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "common/ThreadJob.h"
#include "platform/base/Clock.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Thread.h"
#include "platform/win32/Wait.h"
#include "platform/win32/WinUser.h"
#include "tests/support/TestRoot.h"

namespace {

constexpr UINT kNotifyMessage = WM_USER + 7;
constexpr DWORD kLongMs = 5000;

// A job whose body the test supplies. It has a member of its own that Run uses, so it stops its
// thread in its own destructor, as every such subclass does.
class CScriptedJob : public CThreadJob {
   public:
    explicit CScriptedJob(std::function<void(CScriptedJob&)> body) : m_body(std::move(body)) {}
    ~CScriptedJob() override { StopAndWait(); }

    bool StartJob() { return Start(); }
    bool StopRequested() const { return WaitForSingleObject(m_hStopEvent, 0) == WAIT_OBJECT_0; }
    bool DoneSignalled() const { return WaitForSingleObject(m_hDoneEvent, 0) == WAIT_OBJECT_0; }
    bool WaitForStop(DWORD ms) const { return WaitForSingleObject(m_hStopEvent, ms) == WAIT_OBJECT_0; }
    void SetResult(DWORD result) { m_dwResult = result; }
    using CThreadJob::Notify;

   protected:
    void Run() override { m_body(*this); }

   private:
    std::function<void(CScriptedJob&)> m_body;
};

// Spins until done() holds; false when the time ran out.
bool WaitUntil(const std::function<bool()>& done, DWORD ms = kLongMs) {
    const int64_t deadline = zbw::DeadlineAfter(ms);
    while (!done())
        if (zbw::RemainingUntil(deadline) <= 0) return false;
    return true;
}

class CGate {
   public:
    CGate() : m_handle(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~CGate() { CloseHandle(m_handle); }
    void Set() const { SetEvent(m_handle); }
    bool Wait(DWORD ms) const { return WaitForSingleObject(m_handle, ms) == WAIT_OBJECT_0; }

   private:
    HANDLE m_handle;
};

// A job that, once asked to stop, waits for the test's gate and then carries on for a while
// before it writes the base's fields. Deleting it after a timed-out Stop must not leave it
// writing into freed memory.
std::atomic<bool> g_lateJobEnded{false};

class CLateJob : public CThreadJob {
   public:
    explicit CLateJob(const CGate& gate) : m_gate(gate) {}
    ~CLateJob() override { StopAndWait(); }

   protected:
    void Run() override {
        WaitForSingleObject(m_hStopEvent, kLongMs);
        m_gate.Wait(kLongMs);
        Sleep(100);  // still busy when the delete begins, so a delete that does not wait is caught
        m_dwResult = 7;
        Notify(1, 2);
        g_lateJobEnded = true;
    }

   private:
    const CGate& m_gate;
};

// The owner side: a window made on the test thread, and a count of what reached it.
struct CReceived {
    int windowMessages = 0;
    int threadMessages = 0;
    DWORD windowThread = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    const CGate* ack = nullptr;
};
CReceived* g_received = nullptr;

LRESULT OwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kNotifyMessage) return DefWindowProcW(hwnd, message, wParam, lParam);
    ++g_received->windowMessages;
    g_received->windowThread = GetCurrentThreadId();
    g_received->wParam = wParam;
    g_received->lParam = lParam;
    if (g_received->ack) g_received->ack->Set();
    return 0;
}

class ThreadJobTest : public ::testing::Test {
   protected:
    void SetUp() override {
        g_received = &m_received;
        WNDCLASSW wc{};
        wc.lpfnWndProc = OwnerProc;
        wc.lpszClassName = u"ThreadJobTestOwner";
        RegisterClassW(&wc);
        m_owner =
            CreateWindowExW(0, wc.lpszClassName, u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(m_owner, nullptr);
    }
    void TearDown() override {
        DestroyWindow(m_owner);
        g_received = nullptr;
    }

    // Serves this thread's queue until done() holds or the time is up; thread messages are
    // counted, the rest dispatched.
    void Pump(const std::function<bool()>& done, DWORD ms = kLongMs) {
        const int64_t deadline = zbw::DeadlineAfter(ms);
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (!msg.hwnd && msg.message == kNotifyMessage)
                    ++m_received.threadMessages;
                else
                    DispatchMessageW(&msg);
            }
            if (done() || zbw::RemainingUntil(deadline) <= 0) return;
            Sleep(2);
        }
    }
    // Everything already posted.
    void Drain() {
        Pump([] { return true; }, 0);
    }

    CTestRoot m_root;
    CReceived m_received;
    HWND m_owner = nullptr;
};

}  // namespace

TEST_F(ThreadJobTest, StopOnANeverStartedJobIsTrueAtOnce) {
    CScriptedJob job([](CScriptedJob&) {});
    EXPECT_FALSE(job.IsRunning());
    EXPECT_TRUE(job.Stop(0));
}

TEST_F(ThreadJobTest, NotificationReachesTheOwnerWindowOnTheOwnersThread) {
    CGate ack;
    m_received.ack = &ack;
    CScriptedJob job([&ack](CScriptedJob& self) {
        self.Notify(42, static_cast<LPARAM>(GetCurrentThreadId()));
        self.SetResult(ack.Wait(kLongMs) ? 1 : 2);  // a job that needs an answer waits itself
    });
    ASSERT_TRUE(job.StartNotify(m_owner, 0, kNotifyMessage));
    Pump([&job] { return !job.IsRunning(); });
    ASSERT_TRUE(job.Stop(kLongMs));
    EXPECT_EQ(job.GetResult(), 1u);
    EXPECT_EQ(m_received.windowMessages, 1);
    EXPECT_EQ(m_received.windowThread, GetCurrentThreadId());
    EXPECT_EQ(m_received.wParam, 42u);
    EXPECT_EQ(m_received.lParam, static_cast<LPARAM>(job.GetThreadId()));
    EXPECT_NE(job.GetThreadId(), GetCurrentThreadId());
}

TEST_F(ThreadJobTest, NotifyChoosesItsReceiver) {
    const struct {
        const char* what;
        bool window;
        bool thread;
        UINT message;
        int windowMessages;
        int threadMessages;
    } cases[] = {
        {"a window beats a thread id", true, true, kNotifyMessage, 1, 0},
        {"a thread id alone", false, true, kNotifyMessage, 0, 1},
        {"message 0 posts nothing", true, true, 0, 0, 0},
        {"no owner", false, false, kNotifyMessage, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_received = CReceived();
        CScriptedJob job([](CScriptedJob& self) { self.Notify(1, 2); });
        ASSERT_TRUE(
            job.StartNotify(c.window ? m_owner : nullptr, c.thread ? GetCurrentThreadId() : 0, c.message));
        ASSERT_TRUE(job.Stop(kLongMs));  // the post is made before the body returns
        Drain();
        EXPECT_EQ(m_received.windowMessages, c.windowMessages);
        EXPECT_EQ(m_received.threadMessages, c.threadMessages);
    }
}

TEST_F(ThreadJobTest, StartNotifyWhileRunningKeepsTheFirstOwner) {
    CGate go;
    CScriptedJob job([&go](CScriptedJob& self) {
        go.Wait(kLongMs);
        self.Notify(1, 2);
    });
    ASSERT_TRUE(job.StartNotify(m_owner, 0, kNotifyMessage));
    EXPECT_FALSE(job.StartNotify(nullptr, GetCurrentThreadId(), kNotifyMessage + 1));
    go.Set();
    ASSERT_TRUE(job.Stop(kLongMs));
    Drain();
    EXPECT_EQ(m_received.windowMessages, 1);
    EXPECT_EQ(m_received.threadMessages, 0);
}

TEST_F(ThreadJobTest, StopWithATimeOutNeverKills) {
    CGate release;
    std::atomic<bool> finished{false};
    CScriptedJob job([&](CScriptedJob& self) {
        self.WaitForStop(kLongMs);
        release.Wait(kLongMs);  // ignores the stop request until released
        finished = true;
        self.SetResult(3);
    });
    ASSERT_TRUE(job.StartJob());
    EXPECT_FALSE(job.Stop(20));
    EXPECT_TRUE(job.IsRunning());
    EXPECT_FALSE(finished);
    EXPECT_FALSE(job.Stop(0));
    release.Set();
    ASSERT_TRUE(job.Stop(kLongMs));
    EXPECT_TRUE(finished);
    EXPECT_FALSE(job.IsRunning());
    EXPECT_EQ(job.GetResult(), 3u);
}

TEST_F(ThreadJobTest, RestartGetsAFreshStopEventAndResult) {
    std::atomic<int> runs{0};
    bool stopSeenAtEntry[2] = {true, true};
    CScriptedJob job([&](CScriptedJob& self) {
        const int run = runs;
        stopSeenAtEntry[run] = self.StopRequested();
        if (run == 0) self.SetResult(5);
        ++runs;
        self.WaitForStop(kLongMs);
    });
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(job.StartJob());
        ASSERT_TRUE(WaitUntil([&] { return runs > run; }));
        ASSERT_TRUE(job.Stop(kLongMs));
        EXPECT_FALSE(stopSeenAtEntry[run]);
        EXPECT_EQ(job.GetResult(), run == 0 ? 5u : 0u);
    }
}

// A start made just after the body returned must not let the old thread's done signal land
// in the new run.
TEST_F(ThreadJobTest, StartJustAfterTheBodyReturnedKeepsDoneReset) {
    std::atomic<int> runs{0};
    CScriptedJob job([&runs](CScriptedJob& self) {
        if (++runs % 2 == 0) self.WaitForStop(kLongMs);
    });
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(job.StartJob());
        ASSERT_TRUE(WaitUntil([&job] { return !job.IsRunning(); }));
        ASSERT_TRUE(job.StartJob());  // this run waits for its stop event
        Sleep(5);
        EXPECT_FALSE(job.DoneSignalled());
        ASSERT_TRUE(job.Stop(kLongMs));
    }
    EXPECT_EQ(runs, 60);
}

TEST_F(ThreadJobTest, DeletingAfterATimedOutStopWaitsForTheThread) {
    g_lateJobEnded = false;
    CGate gate;
    auto* job = new CLateJob(gate);
    ASSERT_TRUE(job->StartNotify(nullptr, GetCurrentThreadId(), kNotifyMessage));
    EXPECT_FALSE(job->Stop(20));
    gate.Set();
    delete job;
    EXPECT_TRUE(g_lateJobEnded);
    Drain();
    EXPECT_EQ(m_received.threadMessages, 1);
}
