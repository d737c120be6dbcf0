// CProjectChangeEvent, the run item's profile watcher: a change of the watched file is sent to the
// window it was registered with, only there, also when hundreds of profiles in many folders share
// the process's watch; registering again never waits for a watch thread that is inside its send
// to a thread blocked on the caller's lock. The test thread owns the window.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dovrane/threads/FileChangeEvent.h"
#include "dovrane/threads/ProfileFileWatch.h"
#include "dovrane/threads/ProjectChangeEvent.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Thread.h"
#include "platform/win32/WinUser.h"
#include "tests/platform/MessageTestWindow.h"
#include "tests/support/TestRoot.h"

namespace {

constexpr UINT kChangedMessage = WM_USER + 104;
constexpr int kBoundMs = 10000;

// A message sent to this thread waits to be served (looked at, not served).
bool SendPending() {
    return MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_SENDMESSAGE) == WAIT_OBJECT_0;
}

class ProjectChangeEventTest : public ::testing::Test {
   protected:
    void SetUp() override {
        m_hwnd = MakeRecordingWindow(&m_recorder);
        ASSERT_NE(m_hwnd, nullptr);
        ASSERT_TRUE(WriteHostFile(m_root.Path("p.fsf"), "one"));
    }
    void TearDown() override {
        m_watcher.reset();
        DestroyWindow(m_hwnd);
    }

    CString Profile(const std::string& name = "p.fsf") const { return zbw::ToWindowsPath(m_root.Path(name)); }
    // Rewrites the profile with a later last-write time, as an editor's save does.
    void Rewrite(const std::string& name, int later) {
        ASSERT_TRUE(WriteHostFile(m_root.Path(name), "two"));
        utimbuf times{time(nullptr) + later, time(nullptr) + later};
        ASSERT_EQ(utime(m_root.Path(name).c_str(), &times), 0);
    }
    // Rewrites every so often (the watch may start after the first write) until done holds.
    bool RewriteUntil(const std::function<bool()>& done, bool pump, const std::string& name = "p.fsf") {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
        for (int round = 1; std::chrono::steady_clock::now() < deadline; ++round) {
            Rewrite(name, 10 * round);
            const auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
            while (std::chrono::steady_clock::now() < next) {
                MSG msg;
                while (pump && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
                if (done()) return true;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        return false;
    }

    bool PumpUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
        while (std::chrono::steady_clock::now() < deadline) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    CTestRoot m_root;
    CRecorder m_recorder;
    HWND m_hwnd = nullptr;
    std::unique_ptr<CProjectChangeEvent> m_watcher = std::make_unique<CProjectChangeEvent>();
};

TEST_F(ProjectChangeEventTest, ChangeIsSentToTheRegisteredWindow) {
    m_watcher->Register(Profile(), m_hwnd, kChangedMessage);
    ASSERT_TRUE(
        RewriteUntil([&] { return !m_recorder.Seen(kChangedMessage, kChangedMessage).empty(); }, true));
    const SEEN_MESSAGE seen = m_recorder.Seen(kChangedMessage, kChangedMessage)[0];
    EXPECT_EQ(seen.wParam, static_cast<WPARAM>(FILECHANGE_CHANGED));
    EXPECT_EQ(seen.lParam, 0);
    EXPECT_EQ(seen.threadId, GetCurrentThreadId());
}

TEST_F(ProjectChangeEventTest, RegisteringAgainDoesNotWaitForAThreadInsideItsSend) {
    m_watcher->Register(Profile(), m_hwnd, kChangedMessage);
    std::mutex listLock;  // stands for the run-item list's mutex
    std::atomic<long long> registerMs{-1};
    std::unique_lock<std::mutex> held(listLock);
    std::thread client([&] {
        // A client thread holds the list's lock and re-registers while the watch thread sends
        // to the window's thread, which waits for that lock.
        std::lock_guard<std::mutex> guard(listLock);
        const auto start = std::chrono::steady_clock::now();
        m_watcher->Register(Profile(), m_hwnd, kChangedMessage);
        registerMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
    });
    // Not pumping: the watch thread's send stays pending.
    ASSERT_TRUE(RewriteUntil(SendPending, false));
    held.unlock();
    // The client has the lock now; this thread waits for it as the main thread would.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
    while (registerMs < 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool registered = registerMs >= 0;
    // Served at last (this also frees a client that did wait); the old thread ends.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
    while (registerMs < 0 && std::chrono::steady_clock::now() < end) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    client.join();
    EXPECT_TRUE(registered) << "Register waited for the thread inside its send";
}

// Many profiles in one folder, and folders beyond what one wait takes, a missing one among them:
// each change reaches its own item's message only.
TEST_F(ProjectChangeEventTest, ManyProfilesInManyFoldersEachReportOnlyTheirOwn) {
    constexpr int kFolders = 70;
    constexpr int kInFirstFolder = 200;
    std::vector<std::string> names;
    ASSERT_EQ(mkdir(m_root.Path("f0").c_str(), 0755), 0);
    for (int n = 0; n < kInFirstFolder; ++n) names.push_back("f0/p" + std::to_string(n) + ".fsf");
    for (int f = 1; f < kFolders; ++f) {
        ASSERT_EQ(mkdir(m_root.Path("f" + std::to_string(f)).c_str(), 0755), 0);
        names.push_back("f" + std::to_string(f) + "/p.fsf");
    }
    std::vector<std::unique_ptr<CProjectChangeEvent>> watchers;
    const int groupsBefore = CProfileFileWatch::Instance().GetGroupCount();
    auto missing = std::make_unique<CProjectChangeEvent>();
    missing->Register(zbw::ToWindowsPath(m_root.Path("gone/p.fsf")), m_hwnd, WM_APP);
    for (size_t n = 0; n < names.size(); ++n) {
        ASSERT_TRUE(WriteHostFile(m_root.Path(names[n]), "one"));
        watchers.push_back(std::make_unique<CProjectChangeEvent>());
        watchers.back()->Register(Profile(names[n]), m_hwnd, static_cast<UINT>(WM_APP + 1 + n));
    }
    // Folders, not profiles, cost a group.
    EXPECT_LE(CProfileFileWatch::Instance().GetGroupCount() - groupsBefore, 2);
    for (size_t n : {size_t{150}, names.size() - 1}) {
        const UINT own = static_cast<UINT>(WM_APP + 1 + n);
        ASSERT_TRUE(RewriteUntil([&] { return m_recorder.Count(own) > 0; }, true, names[n])) << names[n];
    }
    const std::vector<SEEN_MESSAGE> seen =
        m_recorder.Seen(WM_APP, WM_APP + 1 + static_cast<UINT>(names.size()));
    for (const SEEN_MESSAGE& message : seen) {
        EXPECT_TRUE(message.message == WM_APP + 151 || message.message == WM_APP + names.size())
            << message.message;
    }
}

TEST_F(ProjectChangeEventTest, TwoItemsOfOneProfileBothHearAndOneLeavingKeepsTheOther) {
    constexpr UINT kOther = kChangedMessage + 1;
    auto other = std::make_unique<CProjectChangeEvent>();
    m_watcher->Register(Profile(), m_hwnd, kChangedMessage);
    other->Register(Profile(), m_hwnd, kOther);
    ASSERT_TRUE(RewriteUntil(
        [&] { return m_recorder.Count(kChangedMessage) > 0 && m_recorder.Count(kOther) > 0; }, true));
    other.reset();
    const size_t before = m_recorder.Count(kChangedMessage);
    ASSERT_TRUE(RewriteUntil([&] { return m_recorder.Count(kChangedMessage) > before; }, true));
}

// A profile that went away and came back is watched again when its item registers anew.
TEST_F(ProjectChangeEventTest, AGoneProfileIsWatchedAgainAfterRegistering) {
    m_watcher->Register(Profile(), m_hwnd, kChangedMessage);
    auto gone = [&] {
        for (const SEEN_MESSAGE& seen : m_recorder.Seen(kChangedMessage, kChangedMessage)) {
            if (seen.wParam == FILECHANGE_GONE) return true;
        }
        return false;
    };
    ASSERT_TRUE(PumpUntil([&] { return CProfileFileWatch::Instance().IsWatchInPlace(Profile()); }));
    ASSERT_EQ(unlink(m_root.Path("p.fsf").c_str()), 0);
    ASSERT_TRUE(PumpUntil(gone));
    Rewrite("p.fsf", 10);
    m_watcher->Register(Profile(), m_hwnd, kChangedMessage);
    const size_t before = m_recorder.Count(kChangedMessage);
    ASSERT_TRUE(RewriteUntil([&] { return m_recorder.Count(kChangedMessage) > before; }, true));
}

}  // namespace
