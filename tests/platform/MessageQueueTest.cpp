// Message queues across threads: send, post, peek, quit; fakes a temporary emulation root; a recording window
// plays the receiver.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <future>
#include <thread>

#include "platform/base/WinError.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Wait.h"
#include "tests/platform/MessageTestWindow.h"
#include "tests/support/TestRoot.h"

namespace {

const HWND kThreadOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

class MessageQueueTest : public ::testing::Test {
   protected:
    void TearDown() override {
        for (HWND hwnd : m_windows) DestroyWindow(hwnd);
        DiscardMessages();
    }

    HWND Window(CRecorder* recorder) {
        HWND hwnd = MakeRecordingWindow(recorder);
        m_windows.push_back(hwnd);
        return hwnd;
    }

    // Waits (bounded) until a message sent by another thread waits in this thread's queue.
    static bool SendArrives() {
        return MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_SENDMESSAGE) == WAIT_OBJECT_0;
    }

    CRecorder& NewRecorder() { return m_recorders.emplace_back(); }

    CTestRoot m_root;
    std::deque<CRecorder> m_recorders;  // outlive the windows that record into them
    std::vector<HWND> m_windows;
};

// A thread that makes a window and pumps until told to stop.
class COwnerThread {
   public:
    explicit COwnerThread(CRecorder* recorder) {
        std::promise<HWND> made;
        auto ready = made.get_future();
        m_thread = std::thread([this, recorder, &made] {
            m_threadId = static_cast<DWORD>(gettid());
            HWND hwnd = MakeRecordingWindow(recorder);
            made.set_value(hwnd);
            PumpUntil([this] { return m_stop.load(); }, 30000);
            DestroyWindow(hwnd);
        });
        m_hwnd = GetWithinBound(std::move(ready));
    }
    ~COwnerThread() {
        m_stop = true;
        PostThreadMessageW(m_threadId, WM_NULL, 0, 0);
        m_thread.join();
    }
    HWND Hwnd() const { return m_hwnd; }
    DWORD ThreadId() const { return m_threadId; }

   private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    DWORD m_threadId = 0;
    HWND m_hwnd = nullptr;
};

TEST_F(MessageQueueTest, SendFromWorkerIsServedOnlyWhenTheOwnerPumps) {
    CRecorder& recorder = NewRecorder();
    recorder.reply = [](HWND h, UINT m, WPARAM w, LPARAM l) {
        return m == WM_USER + 100 ? 42 : DefWindowProcW(h, m, w, l);
    };
    HWND hwnd = Window(&recorder);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> returned{false};
    std::atomic<LRESULT> result{0};
    std::thread worker([&] {
        result = SendMessageW(hwnd, WM_USER + 100, 1, 2);
        returned = true;
    });
    ASSERT_TRUE(SendArrives());
    // Waiting on an event does not serve the send, nor does sleeping.
    EXPECT_EQ(WaitForSingleObject(event, 200), WAIT_TIMEOUT);
    Sleep(50);
    EXPECT_FALSE(returned.load());
    EXPECT_EQ(recorder.Count(WM_USER + 100), 0u);

    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));  // serves it, retrieves nothing
    worker.join();
    EXPECT_EQ(result.load(), 42);
    auto seen = recorder.Seen(WM_USER + 100, WM_USER + 100);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].threadId, static_cast<DWORD>(gettid()));
    EXPECT_EQ(seen[0].wParam, 1u);
    EXPECT_EQ(seen[0].lParam, 2);
    CloseHandle(event);
}

TEST_F(MessageQueueTest, SentMessagesAreServedBeforePostedOnes) {
    CRecorder& recorder = NewRecorder();
    HWND hwnd = Window(&recorder);
    std::thread worker([&] {
        PostMessageW(hwnd, WM_USER + 1, 0, 0);
        SendMessageW(hwnd, WM_USER + 2, 0, 0);
    });
    ASSERT_TRUE(SendArrives());
    MSG msg;
    ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, WM_USER + 1u);
    DispatchMessageW(&msg);
    worker.join();
    auto seen = recorder.Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].message, WM_USER + 2u);
    EXPECT_EQ(seen[1].message, WM_USER + 1u);
}

TEST_F(MessageQueueTest, PostedMessagesKeepTheirOrderAcrossWindowsAndThreads) {
    CRecorder& first = NewRecorder();
    CRecorder& second = NewRecorder();
    HWND one = Window(&first);
    HWND two = Window(&second);
    const int kCount = 200;
    std::thread worker([&] {
        for (int i = 0; i < kCount; ++i) PostMessageW(i % 2 ? two : one, WM_USER + 7, i, 0);
    });
    worker.join();
    std::vector<WPARAM> order;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) order.push_back(msg.wParam);
    ASSERT_EQ(order.size(), static_cast<size_t>(kCount));
    for (int i = 0; i < kCount; ++i) EXPECT_EQ(order[i], static_cast<WPARAM>(i));
}

TEST_F(MessageQueueTest, SameThreadSendIsADirectCall) {
    CRecorder& recorder = NewRecorder();
    recorder.reply = [](HWND, UINT m, WPARAM w, LPARAM) {
        return m == WM_USER ? static_cast<LRESULT>(w * 2) : 0;
    };
    HWND hwnd = Window(&recorder);
    PostMessageW(hwnd, WM_USER + 1, 0, 0);
    EXPECT_EQ(SendMessageW(hwnd, WM_USER, 21, 0), 42);
    auto seen = recorder.Seen();
    ASSERT_EQ(seen.size(), 1u);  // the posted one still waits
    EXPECT_EQ(seen[0].message, WM_USER + 0u);
}

TEST_F(MessageQueueTest, PeekFiltersByWindowAndRange) {
    CRecorder& recorder = NewRecorder();
    HWND one = Window(&recorder);
    HWND two = Window(&recorder);
    PostMessageW(one, WM_USER + 1, 0, 0);
    PostMessageW(two, WM_USER + 2, 0, 0);
    PostMessageW(one, WM_USER + 3, 0, 0);
    PostThreadMessageW(static_cast<DWORD>(gettid()), WM_USER + 4, 0, 0);
    struct {
        HWND hwnd;
        UINT min, max;
        UINT expected;  // 0: nothing
    } cases[] = {
        {two, 0, 0, WM_USER + 2},
        {nullptr, WM_USER + 3, WM_USER + 3, WM_USER + 3},
        {kThreadOnly, 0, 0, WM_USER + 4},
        {one, WM_USER + 2, WM_USER + 2, 0},
        {nullptr, WM_USER + 2, WM_USER + 4, WM_USER + 2},
        {nullptr, WM_TIMER, WM_TIMER, 0},
    };
    for (const auto& c : cases) {
        MSG msg{};
        BOOL got = PeekMessageW(&msg, c.hwnd, c.min, c.max, PM_NOREMOVE);
        EXPECT_EQ(got != FALSE, c.expected != 0) << c.min;
        if (got) {
            EXPECT_EQ(msg.message, c.expected);
        }
    }
    // Removing every pending WM_USER+1 of one window leaves the rest in order.
    MSG msg;
    int removed = 0;
    while (PeekMessageW(&msg, one, WM_USER + 1, WM_USER + 1, PM_REMOVE)) ++removed;
    EXPECT_EQ(removed, 1);
    std::vector<UINT> rest;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) rest.push_back(msg.message);
    EXPECT_EQ(rest, (std::vector<UINT>{WM_USER + 2, WM_USER + 3, WM_USER + 4}));
}

TEST_F(MessageQueueTest, QuitComesAfterPostedMessagesAndOnlyWithoutWindowFilter) {
    CRecorder& recorder = NewRecorder();
    HWND hwnd = Window(&recorder);
    PostQuitMessage(3);
    PostMessageW(hwnd, WM_USER + 1, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 1u);
    EXPECT_FALSE(PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE));  // a window filter never takes the quit
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE));  // any range takes it
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));  // taken once
}

TEST_F(MessageQueueTest, PostedQuitMessagesEndGetMessageInTheirPlace) {
    CRecorder& recorder = NewRecorder();
    HWND hwnd = Window(&recorder);
    PostMessageW(hwnd, WM_USER + 1, 0, 0);
    PostMessageW(hwnd, WM_QUIT, 6, 0);
    PostThreadMessageW(static_cast<DWORD>(gettid()), WM_QUIT, 4, 0);
    MSG msg;
    EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.wParam, 6u);
    EXPECT_EQ(msg.hwnd, hwnd);
    EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.wParam, 4u);
}

TEST_F(MessageQueueTest, ProcedureRunsOnTheOwnerThreadOnly) {
    CRecorder recorder;
    COwnerThread owner(&recorder);
    std::promise<LRESULT> sent;
    std::thread sender([&] { sent.set_value(SendMessageW(owner.Hwnd(), WM_USER + 2, 0, 0)); });
    EXPECT_TRUE(PostMessageW(owner.Hwnd(), WM_USER + 1, 0, 0));
    MSG msg{owner.Hwnd(), WM_USER + 3, 0, 0, 0, {0, 0}};
    EXPECT_EQ(DispatchMessageW(&msg), 0);  // not this thread's window: refused
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DestroyWindow(owner.Hwnd()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    auto done = sent.get_future();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    sender.join();
    ASSERT_TRUE(PumpUntil([&] { return recorder.Seen().size() == 2; }));
    for (const SEEN_MESSAGE& seen : recorder.Seen()) EXPECT_EQ(seen.threadId, owner.ThreadId());
    EXPECT_EQ(recorder.Count(WM_USER + 3), 0u);
    DWORD pid = 0;
    EXPECT_EQ(GetWindowThreadProcessId(owner.Hwnd(), &pid), owner.ThreadId());
    EXPECT_EQ(pid, static_cast<DWORD>(getpid()));
    EXPECT_EQ(zbw::ProcessOfWindow(owner.Hwnd()), static_cast<DWORD>(getpid()));
}

TEST_F(MessageQueueTest, SendersWaitingOnEachOtherServeEachOther) {
    CRecorder ownerRecorder;
    COwnerThread owner(&ownerRecorder);
    CRecorder askerRecorder;
    askerRecorder.reply = [](HWND h, UINT m, WPARAM w, LPARAM l) {
        return m == WM_USER + 6 ? 10 : DefWindowProcW(h, m, w, l);
    };
    std::promise<HWND> made;
    std::promise<LRESULT> answer;
    std::atomic<bool> go{false};
    std::thread asker([&] {
        HWND askerWindow = MakeRecordingWindow(&askerRecorder);
        made.set_value(askerWindow);
        EXPECT_TRUE(WaitForFlag(go));
        answer.set_value(SendMessageW(owner.Hwnd(), WM_USER + 5, 0, 0));
        DestroyWindow(askerWindow);
    });
    HWND askerWindow = GetWithinBound(made.get_future());
    // The owner answers by sending back to the asker, which is blocked in its own send.
    ownerRecorder.reply = [askerWindow](HWND h, UINT m, WPARAM w, LPARAM l) {
        return m == WM_USER + 5 ? SendMessageW(askerWindow, WM_USER + 6, 0, 0) + 1
                                : DefWindowProcW(h, m, w, l);
    };
    go = true;
    auto result = answer.get_future();
    bool ready = result.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    EXPECT_TRUE(ready);
    if (!ready) {
        asker.detach();  // a lock-up: leave it behind rather than hang
        return;
    }
    asker.join();
    EXPECT_EQ(result.get(), 11);
    EXPECT_EQ(askerRecorder.Count(WM_USER + 6), 1u);
}

TEST_F(MessageQueueTest, SendReturnsZeroWhenTheWindowGoesAway) {
    CRecorder recorder;
    HWND hwnd = MakeRecordingWindow(&recorder);
    std::promise<LRESULT> sent;
    std::thread worker([&] { sent.set_value(SendMessageW(hwnd, WM_USER + 9, 0, 0)); });
    ASSERT_TRUE(SendArrives());
    EXPECT_TRUE(DestroyWindow(hwnd));
    auto result = sent.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    worker.join();
    EXPECT_EQ(result.get(), 0);
    EXPECT_EQ(recorder.Count(WM_USER + 9), 0u);
    EXPECT_FALSE(IsWindow(hwnd));
}

// A destroyed window's messages are skipped wherever they lie, whatever the filter, and count as
// no input; the others keep their order.
TEST_F(MessageQueueTest, ADestroyedWindowsPostedMessagesAreDroppedWhereverTheyLie) {
    CRecorder& recorder = NewRecorder();
    HWND gone = Window(&recorder);
    HWND two = Window(&recorder);
    HWND three = Window(&recorder);
    const DWORD self = static_cast<DWORD>(gettid());
    PostMessageW(gone, WM_USER + 1, 0, 0);
    PostMessageW(two, WM_USER + 2, 0, 0);
    PostMessageW(gone, WM_USER + 3, 0, 0);
    PostMessageW(three, WM_USER + 4, 0, 0);
    PostThreadMessageW(self, WM_USER + 5, 0, 0);
    ASSERT_TRUE(DestroyWindow(gone));
    EXPECT_FALSE(PostMessageW(gone, WM_USER + 6, 0, 0));
    struct {
        HWND filter;
        UINT expected;
    } takes[] = {{three, WM_USER + 4}, {kThreadOnly, WM_USER + 5}, {gone, 0}, {two, WM_USER + 2}};
    for (const auto& take : takes) {
        MSG msg{};
        const BOOL got = PeekMessageW(&msg, take.filter, 0, 0, PM_REMOVE);
        EXPECT_EQ(got != FALSE, take.expected != 0) << take.expected;
        if (got) {
            EXPECT_EQ(msg.message, take.expected);
        }
    }
    // Only the destroyed window's second message is left in the queue: no input.
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_POSTMESSAGE),
              static_cast<DWORD>(WAIT_TIMEOUT));
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
}

// Destroying most of many windows with messages waiting (which drops theirs in one pass once
// they are half the queue) leaves the kept window's and the thread's in order.
TEST_F(MessageQueueTest, DestroyingManyWindowsKeepsTheOtherMessagesInOrder) {
    CRecorder& recorder = NewRecorder();
    HWND kept = Window(&recorder);
    std::vector<HWND> doomed;
    for (int i = 0; i < 10; ++i) doomed.push_back(Window(&recorder));
    const DWORD self = static_cast<DWORD>(gettid());
    std::vector<std::pair<HWND, WPARAM>> expected;
    for (int i = 0; i < 10; ++i) {
        PostMessageW(doomed[i], WM_USER, i, 0);
        PostMessageW(doomed[i], WM_USER, i, 1);
        PostThreadMessageW(self, WM_USER, i, 0);
        expected.emplace_back(nullptr, i);
        if (i % 3 == 0) {
            PostMessageW(kept, WM_USER, i, 0);
            expected.emplace_back(kept, i);
        }
    }
    for (HWND hwnd : doomed) ASSERT_TRUE(DestroyWindow(hwnd));
    std::vector<std::pair<HWND, WPARAM>> order;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) order.emplace_back(msg.hwnd, msg.wParam);
    EXPECT_EQ(order, expected);
    // The counts start afresh: a new window's messages arrive.
    HWND later = Window(&recorder);
    PostMessageW(later, WM_USER + 1, 0, 0);
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, later);
}

TEST_F(MessageQueueTest, SendReturnsZeroWhenTheOwnerThreadEnds) {
    CRecorder recorder;
    std::promise<HWND> made;
    std::atomic<bool> sendWaiting{false};
    std::thread owner([&] {
        made.set_value(MakeRecordingWindow(&recorder));
        EXPECT_TRUE(WaitForFlag(sendWaiting));
        Sleep(50);  // ends without pumping, the window still alive
    });
    HWND hwnd = GetWithinBound(made.get_future());
    std::promise<LRESULT> sent;
    std::thread sender([&] {
        sendWaiting = true;
        sent.set_value(SendMessageW(hwnd, WM_USER + 9, 0, 0));
    });
    auto result = sent.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    owner.join();
    sender.join();
    EXPECT_EQ(result.get(), 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(PostMessageW(hwnd, WM_USER, 0, 0));
}

TEST_F(MessageQueueTest, InvalidWindowsAreRefused) {
    HWND bogus = reinterpret_cast<HWND>((static_cast<uintptr_t>(getpid()) << 32) | 0x7FFFFFF0u);
    SetLastError(0);
    EXPECT_FALSE(PostMessageW(bogus, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(SendMessageW(bogus, WM_USER, 0, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    MSG msg;
    EXPECT_EQ(GetMessageW(&msg, bogus, 0, 0), -1);
    EXPECT_FALSE(PeekMessageW(&msg, bogus, 0, 0, PM_REMOVE));
    EXPECT_FALSE(DestroyWindow(bogus));
    EXPECT_FALSE(IsWindow(bogus));
    EXPECT_FALSE(zbw::PostLocal(bogus, WM_USER, 0, 0));
}

TEST_F(MessageQueueTest, ThreadMessagesNeedAQueue) {
    std::atomic<DWORD> threadId{0};
    std::atomic<bool> makeQueue{false};
    std::atomic<bool> stop{false};
    std::atomic<UINT> received{0};
    std::atomic<bool> started{false};
    std::thread worker([&] {
        threadId = static_cast<DWORD>(gettid());
        started = true;
        EXPECT_TRUE(WaitForFlag(makeQueue));
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        int64_t deadline = zbw::DeadlineAfter(5000);
        while (received == 0 && !stop && zbw::RemainingUntil(deadline) > 0) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            if (PeekMessageW(&msg, nullptr, WM_APP, WM_APP, PM_REMOVE)) received = msg.message;
        }
    });
    ASSERT_TRUE(WaitForFlag(started));
    SetLastError(0);
    EXPECT_FALSE(PostThreadMessageW(threadId, WM_APP, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    EXPECT_FALSE(zbw::PostLocal(threadId.load(), WM_APP, 0, 0));
    makeQueue = true;
    int64_t deadline = zbw::DeadlineAfter(5000);
    while (!zbw::PostLocal(threadId.load(), WM_APP, 0, 0) && zbw::RemainingUntil(deadline) > 0) Sleep(2);
    EXPECT_TRUE(PumpUntil([&] { return received == WM_APP; }));
    stop = true;
    worker.join();
    EXPECT_FALSE(PostThreadMessageW(threadId, WM_APP, 0, 0));  // ended
}

TEST_F(MessageQueueTest, PostLocalDeliversToWindowsAndThreads) {
    CRecorder& recorder = NewRecorder();
    HWND hwnd = Window(&recorder);
    EXPECT_TRUE(zbw::PostLocal(hwnd, WM_USER + 1, 5, 6));
    EXPECT_TRUE(zbw::PostLocal(static_cast<DWORD>(gettid()), WM_USER + 2, 7, 8));
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, hwnd);
    EXPECT_EQ(msg.wParam, 5u);
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.message, WM_USER + 2u);
    HWND foreign = reinterpret_cast<HWND>((static_cast<uintptr_t>(getpid() + 1) << 32) | 0x10002u);
    EXPECT_FALSE(zbw::PostLocal(foreign, WM_USER, 0, 0));
}

TEST_F(MessageQueueTest, PostWithoutWindowGoesToTheCallingThread) {
    EXPECT_TRUE(PostMessageW(nullptr, WM_USER + 3, 1, 0));
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, kThreadOnly, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 3u);
}

// The handler of a sent message pumps on its own; the GetMessage it ran under must still wake
// for what is posted afterwards.
TEST_F(MessageQueueTest, GetMessageWakesForAPostAfterANestedPumpInASentHandler) {
    CRecorder& recorder = NewRecorder();
    recorder.reply = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message != WM_USER + 1) return DefWindowProcW(hwnd, message, wParam, lParam);
        PostMessageW(hwnd, WM_USER + 2, 0, 0);
        MSG nested;
        while (PeekMessageW(&nested, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&nested);
        return 1;
    };
    HWND hwnd = Window(&recorder);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        SendMessageW(hwnd, WM_USER + 1, 0, 0);
        Sleep(50);
        PostMessageW(hwnd, WM_USER + 3, 0, 0);
        for (int i = 0; i < 500 && !done; ++i) Sleep(10);
        PostMessageW(hwnd, WM_USER + 99, 0, 0);  // ends a GetMessage that did not wake
    });
    MSG msg{};
    ASSERT_GT(GetMessageW(&msg, nullptr, 0, 0), 0);
    done = true;
    worker.join();
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 3));
    EXPECT_EQ(recorder.Count(WM_USER + 2), 1u) << "taken by the nested pump";
}

TEST_F(MessageQueueTest, MsgWaitReturnsForObjectsMessagesOrTimeOut) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 30, QS_ALLINPUT), WAIT_TIMEOUT);
    DWORD self = static_cast<DWORD>(gettid());
    std::thread later([self] {
        Sleep(30);
        PostThreadMessageW(self, WM_USER, 0, 0);
    });
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 5000, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
    later.join();
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_TIMER), WAIT_TIMEOUT);  // not in the mask
    SetEvent(event);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, TRUE, 0, QS_ALLINPUT),
              WAIT_OBJECT_0);  // all, and a message
    DiscardMessages();
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, TRUE, 20, QS_ALLINPUT),
              WAIT_TIMEOUT);  // all: no message yet
    CloseHandle(event);
}

}  // namespace
