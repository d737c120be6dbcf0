// CProjectChangeEvent, the run item's profile watcher: a change of the watched file is sent to the
// window it was registered with, and registering again never waits for a watch thread that is
// inside its send to a thread blocked on the caller's lock. The test thread owns the window.
#include <gtest/gtest.h>
#include <utime.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dovrane/threads/ProjectChangeEvent.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Thread.h"
#include "tests/platform/MessageTestWindow.h"
#include "tests/support/TestRoot.h"

namespace {

constexpr UINT kChangedMessage = WM_USER + 104;
constexpr int kBoundMs = 10000;

// Notes when the watch thread is about to send.
class CNotingWatcher : public CProjectChangeEvent {
   public:
    void OnFileChange(int code, const CString& path) override {
        m_bSending = true;
        CProjectChangeEvent::OnFileChange(code, path);
    }
    std::atomic<bool> m_bSending{false};
};

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

    CString Profile() const { return zbw::ToWindowsPath(m_root.Path("p.fsf")); }
    // Rewrites the profile with a later last-write time, as an editor's save does.
    void Rewrite(int later) {
        ASSERT_TRUE(WriteHostFile(m_root.Path("p.fsf"), "two"));
        utimbuf times{time(nullptr) + later, time(nullptr) + later};
        ASSERT_EQ(utime(m_root.Path("p.fsf").c_str(), &times), 0);
    }
    // Rewrites every so often (the watch may start after the first write) until done holds.
    bool RewriteUntil(const std::function<bool()>& done, bool pump) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
        for (int round = 1; std::chrono::steady_clock::now() < deadline; ++round) {
            Rewrite(10 * round);
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

    CTestRoot m_root;
    CRecorder m_recorder;
    HWND m_hwnd = nullptr;
    std::unique_ptr<CNotingWatcher> m_watcher = std::make_unique<CNotingWatcher>();
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
    ASSERT_TRUE(RewriteUntil([&] { return m_watcher->m_bSending.load(); }, false));
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

}  // namespace
