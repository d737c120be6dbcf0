// Messages between processes: the second layer process is "zbwctl serve", which makes a window
// and pumps until WM_QUIT, whose code becomes its exit status.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/platform/MessageTestWindow.h"
#include "tests/support/TestRoot.h"

extern char** environ;

namespace {

const char16_t kRemoteClass[] = u"ZbwTestRemoteClass";

class RemoteMessageTest : public ::testing::Test {
   protected:
    void TearDown() override {
        if (m_child > 0) {
            kill(m_child, SIGKILL);
            waitpid(m_child, nullptr, 0);
        }
    }

    // Starts the second process in the same emulation root.
    void StartChild() {
        std::string program = BinDir() + "/zbwctl";
        std::vector<std::string> args = {program, "serve", "ZbwTestRemoteClass", "ZbwTestRemoteTitle"};
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&m_child, program.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    }

    // The child's window once it has published it (bounded).
    HWND WaitForChildWindow() {
        int64_t deadline = zbw::DeadlineAfter(10000);
        while (zbw::RemainingUntil(deadline) > 0) {
            HWND hwnd = FindWindowW(kRemoteClass, nullptr);
            if (hwnd) return hwnd;
            Sleep(20);
        }
        return nullptr;
    }

    // The child's exit status, -1 when it did not end in time.
    int WaitForChildExit() {
        int64_t deadline = zbw::DeadlineAfter(10000);
        while (zbw::RemainingUntil(deadline) > 0) {
            int status = 0;
            if (waitpid(m_child, &status, WNOHANG) == m_child) {
                m_child = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            Sleep(10);
        }
        return -1;
    }

    CTestRoot m_root;
    pid_t m_child = 0;
};

TEST_F(RemoteMessageTest, QuitPostedToAFoundWindowEndsTheOtherProcess) {
    StartChild();
    HWND hwnd = WaitForChildWindow();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(zbw::ProcessOfWindow(hwnd), static_cast<DWORD>(m_child));
    EXPECT_EQ(FindWindowW(nullptr, u"zbwtestremotetitle"), hwnd);
    EXPECT_TRUE(PostMessageW(hwnd, WM_QUIT, 7, 0));
    EXPECT_EQ(WaitForChildExit(), 7);
    EXPECT_EQ(FindWindowW(kRemoteClass, nullptr), nullptr);  // an ended process's window is gone
}

TEST_F(RemoteMessageTest, QuitPostedToTheMainThreadEndsTheOtherProcess) {
    StartChild();
    ASSERT_NE(WaitForChildWindow(), nullptr);
    EXPECT_TRUE(PostThreadMessageW(static_cast<DWORD>(m_child), WM_QUIT, 9, 0));
    EXPECT_EQ(WaitForChildExit(), 9);
}

}  // namespace
