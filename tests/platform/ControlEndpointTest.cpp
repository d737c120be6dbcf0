// The per-process control endpoint with real child processes; fakes a temporary emulation root.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/CString.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/EmulationRoot.h"
#include "platform/win32/ControlEndpoint.h"
#include "platform/win32/Process.h"
#include "platform/win32/Wait.h"
#include "platform/win32/WinUser.h"
#include "tests/support/TestRoot.h"

namespace {

const DWORD kWaitMs = 10000;

struct Record {
    HWND hwnd;
    DWORD tid;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Record& o) const {
        return hwnd == o.hwnd && tid == o.tid && msg == o.msg && wParam == o.wParam && lParam == o.lParam;
    }
};

// What the endpoint served; shared with the sink, which may outlive a test by one call.
struct Inbox {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Record> records;

    bool WaitFor(size_t count) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::milliseconds(kWaitMs),
                                [&] { return records.size() >= count; });
    }
};

HWND Hwnd(uint64_t value) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(value));
}

class ControlEndpointTest : public ::testing::Test {
   protected:
    void SetUp() override {
        std::shared_ptr<Inbox> inbox = m_inbox;
        zbw::SetControlSinkForTest([inbox](HWND hwnd, DWORD tid, UINT msg, WPARAM wParam, LPARAM lParam) {
            std::lock_guard<std::mutex> guard(inbox->lock);
            inbox->records.push_back({hwnd, tid, msg, wParam, lParam});
            inbox->changed.notify_all();
        });
        ASSERT_TRUE(zbw::StartControlEndpoint());
    }
    void TearDown() override {
        zbw::SetControlSinkForTest(nullptr);
        if (m_pi.hProcess) TerminateProcess(m_pi.hProcess, 0);
        if (m_pi.hProcess) CloseHandle(m_pi.hProcess);
        if (m_pi.hThread) CloseHandle(m_pi.hThread);
    }

    // A child outside the layer that ends with 9 on SIGTERM; returns once its trap is set.
    void StartPlainChild() {
        std::string ready = m_root.Path("ready");
        std::u16string line = u"/bin/sh -c \"trap 'exit 9' TERM; : > '" +
                              std::u16string(static_cast<LPCWSTR>(zbw::FromUtf8(ready))) +
                              u"'; while :; do sleep 0.05; done\"";
        ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   nullptr, &m_pi));
        int64_t deadline = zbw::DeadlineAfter(kWaitMs);
        while (!std::filesystem::exists(ready) && zbw::RemainingUntil(deadline) > 0) Sleep(10);
        ASSERT_TRUE(std::filesystem::exists(ready));
    }

    DWORD ChildExitCode() {
        EXPECT_EQ(WaitForSingleObject(m_pi.hProcess, kWaitMs), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeProcess(m_pi.hProcess, &code);
        return code;
    }

    CTestRoot m_root;
    std::shared_ptr<Inbox> m_inbox = std::make_shared<Inbox>();
    PROCESS_INFORMATION m_pi{};
};

TEST_F(ControlEndpointTest, ListensOnASocketNamedByItsPid) {
    EXPECT_TRUE(zbw::StartControlEndpoint());
    struct stat st {};
    std::string path = zbw::UserDir() + "/ctl/" + std::to_string(getpid());
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ControlEndpointTest, DeliversPostedRecordsIntactAndInOrder) {
    const DWORD pid = static_cast<DWORD>(getpid());
    std::vector<Record> sent{{Hwnd(uint64_t{pid} << 32 | 0x10), 0, WM_USER + 5, ~WPARAM{0}, -2},
                             {nullptr, pid, WM_QUIT, 5, 0},
                             {nullptr, pid, 0x219, 0x8000, LPARAM{1} << 40}};
    for (const Record& r : sent)
        ASSERT_TRUE(zbw::PostToOtherProcess(pid, r.hwnd, r.tid, r.msg, r.wParam, r.lParam));
    ASSERT_TRUE(m_inbox->WaitFor(sent.size()));
    std::lock_guard<std::mutex> guard(m_inbox->lock);
    EXPECT_EQ(m_inbox->records, sent);
}

TEST_F(ControlEndpointTest, SignalsProcessesWithoutAnEndpointToQuit) {
    StartPlainChild();
    EXPECT_FALSE(zbw::PostToOtherProcess(m_pi.dwProcessId, nullptr, m_pi.dwThreadId, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    EXPECT_FALSE(zbw::PostToOtherProcess(m_pi.dwProcessId, Hwnd(uint64_t{m_pi.dwProcessId} << 32 | 1), 0,
                                         WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(WaitForSingleObject(m_pi.hProcess, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(zbw::PostToOtherProcess(m_pi.dwProcessId, nullptr, m_pi.dwThreadId, WM_QUIT, 0, 0));
    EXPECT_EQ(ChildExitCode(), 9u);
}

// A layer program in its first moments, before its endpoint is up: a quit fails, as a post to a
// Windows thread without a message queue does, and is not turned into a signal that kills it.
TEST_F(ControlEndpointTest, LayerProgramWithoutAnEndpointYetIsNotSignalled) {
    const pid_t child = fork();  // this program, which links the endpoint, but with none of its own
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (;;) pause();
    }
    const DWORD pid = static_cast<DWORD>(child);
    EXPECT_FALSE(zbw::PostToOtherProcess(pid, nullptr, pid, WM_QUIT, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    EXPECT_FALSE(zbw::PostToOtherProcess(pid, Hwnd(uint64_t{pid} << 32 | 1), 0, WM_CLOSE, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "the child must still run";
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST_F(ControlEndpointTest, TreatsANameNobodyListensOnAsNoEndpoint) {
    StartPlainChild();
    // What a crashed layer process with this pid would have left behind.
    std::string path = zbw::UserSubdir("ctl") + "/" + std::to_string(m_pi.dwProcessId);
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(fd);
    EXPECT_TRUE(zbw::PostToOtherProcess(m_pi.dwProcessId, nullptr, m_pi.dwThreadId, WM_CLOSE, 0, 0));
    EXPECT_EQ(ChildExitCode(), 9u);
}

TEST_F(ControlEndpointTest, SweepsNamesLeftBehindWhenItBindsAgain) {
    std::string folder = zbw::UserSubdir("ctl");
    std::string stale = folder + "/999999999";
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    stale.copy(addr.sun_path, sizeof addr.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(fd);
    // Our own name removed: the next start binds again, and sweeps.
    std::string own = folder + "/" + std::to_string(getpid());
    ASSERT_EQ(unlink(own.c_str()), 0);
    ASSERT_TRUE(zbw::StartControlEndpoint());
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(own));
    ASSERT_TRUE(zbw::PostToOtherProcess(getpid(), nullptr, 1, WM_USER, 2, 3));
    ASSERT_TRUE(m_inbox->WaitFor(1));
}

TEST_F(ControlEndpointTest, WorksUnderARootTooLongForASocketAddress) {
    std::string deep = m_root.Path(std::string(60, 'd') + "/" + std::string(60, 'e'));
    setenv("ZBW_ROOT", deep.c_str(), 1);
    ASSERT_GT(zbw::UserDir().size() + 16, sizeof(sockaddr_un{}.sun_path));
    ASSERT_TRUE(zbw::StartControlEndpoint());
    ASSERT_TRUE(zbw::PostToOtherProcess(getpid(), nullptr, 1, WM_USER + 1, 0, 0));
    ASSERT_TRUE(m_inbox->WaitFor(1));
    std::lock_guard<std::mutex> guard(m_inbox->lock);
    EXPECT_EQ(m_inbox->records[0].msg, WM_USER + 1);
}

TEST_F(ControlEndpointTest, FailsForAPidThatDoesNotExist) {
    const DWORD nobody = 0x7FFFFFF0;  // above any pid_max
    EXPECT_FALSE(zbw::PostToOtherProcess(nobody, nullptr, nobody, WM_QUIT, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
}

class WindowDirectoryTest : public ::testing::Test {
   protected:
    void TearDown() override {
        for (HWND hwnd : {m_tray, m_other}) zbw::UnpublishWindow(hwnd);
    }

    CTestRoot m_root;
    const HWND m_tray = Hwnd(uint64_t(getpid()) << 32 | 0x21);
    const HWND m_other = Hwnd(uint64_t(getpid()) << 32 | 0x22);
};

TEST_F(WindowDirectoryTest, FindsWindowsByClassOrTitleInAnyCase) {
    ASSERT_TRUE(zbw::PublishWindow(m_tray, u"ZBEngineIconWindowClass", u"ZBEngineIconWindowTitle"));
    ASSERT_TRUE(zbw::PublishWindow(m_other, u"Other", u"Line\none \\ two"));
    EXPECT_EQ(zbw::FindPublishedWindow(u"zbengineiconwindowclass", nullptr), m_tray);
    EXPECT_EQ(zbw::FindPublishedWindow(nullptr, u"ZBENGINEICONWINDOWTITLE"), m_tray);
    EXPECT_EQ(zbw::FindPublishedWindow(u"ZBEngineIconWindowClass", u"ZBEngineIconWindowTitle"), m_tray);
    EXPECT_EQ(zbw::FindPublishedWindow(u"ZBEngineIconWindowClass", u"Other"), nullptr);
    EXPECT_EQ(zbw::FindPublishedWindow(u"ZBEngineIconWindow", nullptr), nullptr);
    EXPECT_EQ(zbw::FindPublishedWindow(nullptr, u"line\nONE \\ two"), m_other);
    EXPECT_NE(zbw::FindPublishedWindow(nullptr, nullptr), nullptr);
}

TEST_F(WindowDirectoryTest, PublishingAgainUpdatesAndUnpublishingRemoves) {
    ASSERT_TRUE(zbw::PublishWindow(m_tray, u"Cls", u"Old"));
    ASSERT_TRUE(zbw::PublishWindow(m_tray, u"Cls", u"New"));
    EXPECT_EQ(zbw::FindPublishedWindow(nullptr, u"Old"), nullptr);
    EXPECT_EQ(zbw::FindPublishedWindow(nullptr, u"New"), m_tray);
    zbw::UnpublishWindow(m_tray);
    EXPECT_EQ(zbw::FindPublishedWindow(u"Cls", nullptr), nullptr);
    EXPECT_TRUE(std::filesystem::is_empty(zbw::UserSubdir("windows")));
}

TEST_F(WindowDirectoryTest, NeverReturnsAndRemovesEntriesWhoseOwnerIsGone) {
    ASSERT_TRUE(zbw::PublishWindow(m_tray, u"Cls", u"Title"));
    // A copy nobody holds a lock on is what an owner that died leaves behind.
    std::string folder = zbw::UserSubdir("windows");
    std::string entry = std::filesystem::directory_iterator(folder)->path().string();
    std::filesystem::copy_file(entry, folder + "/0000000000000021-1-0-1");
    zbw::UnpublishWindow(m_tray);
    EXPECT_EQ(zbw::FindPublishedWindow(u"Cls", nullptr), nullptr);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

// Layer children: zbwctl serve pumps messages and prints each one it takes.
class LayerChildTest : public ::testing::Test {
   protected:
    void TearDown() override {
        for (PROCESS_INFORMATION& pi : m_children) {
            TerminateProcess(pi.hProcess, 0);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }

    static std::u16string Wide(const std::string& utf8) { return static_cast<LPCWSTR>(zbw::FromUtf8(utf8)); }

    // Runs "zbwctl ARGS > out" through the shell; the shell becomes zbwctl, so the pid is its.
    PROCESS_INFORMATION Zbwctl(const std::string& args, const std::string& out) {
        std::u16string line = u"/bin/sh -c \"exec '" + Wide(BinDir() + "/zbwctl") + u"' " + Wide(args) +
                              u" > '" + Wide(m_root.Path(out)) + u"'\"";
        PROCESS_INFORMATION pi{};
        EXPECT_TRUE(
            CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi));
        m_children.push_back(pi);
        return pi;
    }

    DWORD ExitCodeOf(const PROCESS_INFORMATION& pi) {
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, kWaitMs), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }

    // A serving child whose endpoint is up (and whose window is published, for a class).
    PROCESS_INFORMATION Serve(const std::string& args = "") {
        PROCESS_INFORMATION pi = Zbwctl("serve " + args, "serve.out");
        std::string endpoint = zbw::UserDir() + "/ctl/" + std::to_string(pi.dwProcessId);
        int64_t deadline = zbw::DeadlineAfter(kWaitMs);
        while (zbw::RemainingUntil(deadline) > 0 &&
               (!std::filesystem::exists(endpoint) ||
                (!args.empty() && !FindWindowW(u"ZbwServeClass", nullptr))))
            Sleep(10);
        EXPECT_TRUE(std::filesystem::exists(endpoint));
        return pi;
    }

    std::string Served() { return ReadHostFile(m_root.Path("serve.out")); }

    CTestRoot m_root;
    std::vector<PROCESS_INFORMATION> m_children;
};

TEST_F(LayerChildTest, QuitPostedToTheMainThreadEndsAChildWithItsCode) {
    PROCESS_INFORMATION child = Serve();
    EXPECT_TRUE(PostThreadMessageW(child.dwThreadId, WM_USER + 7, 1, -2));
    EXPECT_TRUE(PostThreadMessageW(child.dwThreadId, WM_QUIT, 5, 0));
    EXPECT_EQ(ExitCodeOf(child), 5u);
    EXPECT_EQ(Served(), "1031 1 -2\n18 5 0\n");
}

TEST_F(LayerChildTest, FindsAnotherProcesssWindowAndForgetsItWhenTheOwnerDies) {
    PROCESS_INFORMATION child = Serve("ZbwServeClass 'Serve Title'");
    HWND hwnd = FindWindowW(u"zbwserveclass", nullptr);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(FindWindowW(nullptr, u"SERVE TITLE"), hwnd);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    EXPECT_EQ(pid, child.dwProcessId);
    EXPECT_TRUE(PostMessageW(hwnd, WM_CLOSE, 0, 0));
    ASSERT_TRUE(TerminateProcess(child.hProcess, 1));
    EXPECT_EQ(FindWindowW(u"ZbwServeClass", nullptr), nullptr);
    EXPECT_EQ(FindWindowW(nullptr, u"Serve Title"), nullptr);
}

TEST_F(LayerChildTest, CloseLoopEndsTheWindowsOwner) {
    PROCESS_INFORMATION child = Serve("ZbwServeClass 'Serve Title'");
    int posts = 0;
    int64_t deadline = zbw::DeadlineAfter(kWaitMs);
    while (HWND hwnd = FindWindowW(u"ZbwServeClass", nullptr)) {
        ASSERT_GT(zbw::RemainingUntil(deadline), 0);
        PostMessageW(hwnd, WM_QUIT, 0, 0);
        ++posts;
        WaitForSingleObject(child.hProcess, 1000);
    }
    EXPECT_GE(posts, 1);
    EXPECT_EQ(ExitCodeOf(child), 0u);
}

TEST_F(LayerChildTest, ToolPostsFindsAndReportsFailures) {
    PROCESS_INFORMATION child = Serve("ZbwServeClass 'Serve Title'");
    std::string pid = std::to_string(child.dwProcessId);
    EXPECT_EQ(ExitCodeOf(Zbwctl("find zbwserveclass -", "find.out")), 0u);
    HWND hwnd = FindWindowW(u"ZbwServeClass", nullptr);
    char expected[64];
    snprintf(expected, sizeof expected, "0x%llx %s\n",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)), pid.c_str());
    EXPECT_EQ(ReadHostFile(m_root.Path("find.out")), expected);
    EXPECT_EQ(ExitCodeOf(Zbwctl("find NoSuchClass -", "none.out")), 1u);
    EXPECT_EQ(ExitCodeOf(Zbwctl("post " + pid + " WM_USER+1 3 -4", "post.out")), 0u);
    EXPECT_EQ(ExitCodeOf(Zbwctl("post " + pid + " WM_DEVICECHANGE 0x8000", "post.out")), 0u);
    EXPECT_EQ(ExitCodeOf(Zbwctl("post " + pid + " WM_BOGUS", "post.out")), 2u);
    EXPECT_EQ(ExitCodeOf(Zbwctl("postwin - 'serve title' WM_QUIT 6", "post.out")), 0u);
    EXPECT_EQ(ExitCodeOf(child), 6u);
    EXPECT_EQ(Served(), "1025 3 -4\n537 32768 0\n18 6 0\n");
}

}  // namespace
