// PumpMessages on the layer's message queue: dispatching and keeping the quit; fakes a temporary emulation
// root.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "common/PumpMessages.h"
#include "platform/win32/WinUser.h"
#include "tests/support/TestRoot.h"

namespace {

thread_local std::vector<UINT> t_dispatched;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER) t_dispatched.push_back(message);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Runs body on a fresh thread with a window of its own, so no queue is shared with other tests.
template <class F>
void OnWindowThread(F body) {
    std::thread thread([&] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = RecordingProc;
        wc.lpszClassName = u"PumpMessagesTest";
        RegisterClassW(&wc);
        HWND hwnd = CreateWindowExW(0, u"PumpMessagesTest", u"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                    nullptr, nullptr);
        ASSERT_NE(hwnd, nullptr);
        body(hwnd);
        DestroyWindow(hwnd);
    });
    thread.join();
}

class PumpMessagesTest : public ::testing::Test {
   protected:
    CTestRoot m_root;
};

TEST_F(PumpMessagesTest, DispatchesEverythingAndKeepsTheQuit) {
    OnWindowThread([](HWND hwnd) {
        PostMessageW(hwnd, WM_USER + 1, 0, 0);
        PostQuitMessage(7);
        PostMessageW(hwnd, WM_USER + 2, 0, 0);
        PumpMessages();
        EXPECT_EQ(t_dispatched, (std::vector<UINT>{WM_USER + 1, WM_USER + 2}));
        MSG msg;
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, WM_QUIT);
        EXPECT_EQ(msg.wParam, 7u);
        EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    });
}

TEST_F(PumpMessagesTest, PostedQuitMessageIsKeptWithItsCode) {
    OnWindowThread([](HWND hwnd) {
        PostMessageW(hwnd, WM_QUIT, 4, 0);
        PostMessageW(hwnd, WM_USER + 3, 0, 0);
        PumpMessages();
        EXPECT_EQ(t_dispatched, (std::vector<UINT>{WM_USER + 3}));
        MSG msg;
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, WM_QUIT);
        EXPECT_EQ(msg.wParam, 4u);
    });
}

TEST_F(PumpMessagesTest, EmptyQueueReturnsAtOnceWithoutAQuit) {
    OnWindowThread([](HWND) {
        PumpMessages();
        MSG msg;
        EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    });
}

}  // namespace
