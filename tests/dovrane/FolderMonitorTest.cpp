// CFolderMonThreadJob against real folders. The test thread plays the run item: a window that
// records the monitor's posted notifications, pumped in bounded real-time loops (the layer clock
// is steered in some tests, so the bounds do not use it).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dovrane/threads/FolderMonThreadJob.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "tests/platform/MessageTestWindow.h"
#include "tests/support/OtherIdentity.h"
#include "tests/support/TestRoot.h"

namespace {

constexpr UINT kChangesMessage = WM_USER + 101;
constexpr DWORD kSettleMs = 3000;
constexpr int kBoundMs = 5000;

// Pumps the test thread's queue until done() holds or ms of real time pass.
bool PumpReal(const std::function<bool()>& done, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

class FolderMonitorTest : public ::testing::Test {
   public:
    void SetUp() override {
        for (const char* dir : {"a", "a/sub", "b", "b/sub"})
            ASSERT_EQ(mkdir(m_root.Path(dir).c_str(), 0755), 0);
        m_hwnd = MakeRecordingWindow(&m_recorder);
        ASSERT_NE(m_hwnd, nullptr);
    }
    void TearDown() override {
        m_job.reset();
        DestroyWindow(m_hwnd);
        DiscardMessages();
        zbw::ResetClockForTest();
    }

    CString Win(const std::string& relative) const { return zbw::ToWindowsPath(m_root.Path(relative)); }
    void Touch(const std::string& relative) const { ASSERT_TRUE(WriteHostFile(m_root.Path(relative), "x")); }
    bool Start(const CString& list) {
        m_job = std::make_unique<CFolderMonThreadJob>();
        return m_job->Start(list, m_hwnd, kChangesMessage, kSettleMs);
    }
    // What came since the last Mark.
    std::vector<SEEN_MESSAGE> Seen() {
        std::vector<SEEN_MESSAGE> seen = m_recorder.Seen(kChangesMessage, kChangesMessage);
        seen.erase(seen.begin(), seen.begin() + static_cast<std::ptrdiff_t>(std::min(m_mark, seen.size())));
        return seen;
    }
    void Mark() { m_mark = m_recorder.Count(kChangesMessage); }
    size_t Count(WPARAM code) {
        size_t n = 0;
        for (const SEEN_MESSAGE& seen : Seen()) n += seen.wParam == code;
        return n;
    }
    bool WaitFor(WPARAM code, size_t count = 1, int ms = kBoundMs) {
        return PumpReal([&] { return Count(code) >= count; }, ms);
    }
    // Stops the job with short waits, as the run item does.
    void StopJob() {
        ASSERT_TRUE(PumpReal([&] { return m_job->Stop(50); }, kBoundMs));
        ASSERT_TRUE(WaitFor(FOLDERMON_ENDED));
    }

    CTestRoot m_root;
    CRecorder m_recorder;
    HWND m_hwnd = nullptr;
    size_t m_mark = 0;
    std::unique_ptr<CFolderMonThreadJob> m_job;
};

TEST_F(FolderMonitorTest, OneChangeGivesOneNotificationAfterThePause) {
    ASSERT_TRUE(Start(Win("a") + u"|0|"));
    ASSERT_TRUE(WaitFor(FOLDERMON_STARTED));
    EXPECT_TRUE(m_job->IsStarted());
    const auto changed = std::chrono::steady_clock::now();
    Touch("a/new.txt");
    ASSERT_TRUE(WaitFor(FOLDERMON_CHANGES));
    EXPECT_GE(std::chrono::steady_clock::now() - changed, std::chrono::milliseconds(500));
    StopJob();
    std::vector<SEEN_MESSAGE> seen = Seen();
    ASSERT_EQ(seen.size(), 3u);
    const WPARAM order[] = {FOLDERMON_STARTED, FOLDERMON_CHANGES, FOLDERMON_ENDED};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(seen[i].wParam, order[i]);
        EXPECT_EQ(static_cast<DWORD>(seen[i].lParam), m_job->GetThreadId());
    }
    EXPECT_FALSE(m_job->HasError());
}

TEST_F(FolderMonitorTest, ListsChooseFoldersAndSubtrees) {
    struct CASE {
        const char* name;
        CString list;
        const char* change;
        bool detected;
    };
    const CASE cases[] = {
        {"subtree flag 1", Win("a") + u"|1|" + Win("b") + u"|0|", "a/sub/f.txt", true},
        {"flag 0: folder itself", Win("a") + u"|1|" + Win("b") + u"|0|", "b/f.txt", true},
        {"flag 0: no subtree", Win("a") + u"|1|" + Win("b") + u"|0|", "b/sub/f.txt", false},
        {"last path without flag: subtree", Win("b") + u"|0|" + Win("a"), "a/sub/f.txt", true},
        {"trimmed, ends in /", u"  " + zbw::FromUtf8(m_root.Path("a/")) + u"  |1", "a/sub/f.txt", true},
        {"missing folder skipped", Win("gone") + u"|1|" + Win("a") + u"|0|", "a/f.txt", true},
        {"a file skipped", Win("plain.txt") + u"|0|" + Win("a") + u"|0|", "a/f.txt", true},
        {"empty path skipped", u" |1|" + Win("a") + u"|0|", "a/f.txt", true},
    };
    Touch("plain.txt");
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        Mark();
        ASSERT_TRUE(Start(c.list));
        ASSERT_TRUE(WaitFor(FOLDERMON_STARTED));
        Touch(c.change);
        // A change is reported about 600 ms later; twice that shows none is coming.
        EXPECT_EQ(WaitFor(FOLDERMON_CHANGES, 1, c.detected ? kBoundMs : 1500), c.detected);
        StopJob();
        EXPECT_FALSE(m_job->HasError());
    }
}

TEST_F(FolderMonitorTest, NothingWatchableStillStartsAndEndsOnStop) {
    ASSERT_TRUE(Start(Win("gone") + u"|1|" + Win("also-gone") + u"|0|"));
    ASSERT_TRUE(WaitFor(FOLDERMON_STARTED));
    StopJob();
    EXPECT_EQ(Count(FOLDERMON_CHANGES), 0u);
    EXPECT_FALSE(m_job->HasError());
}

TEST_F(FolderMonitorTest, FolderBeyondOneWaitFailsTheMonitor) {
    // One wait takes the stop event and 63 folders. The list is refused before any notification
    // is made, so the test needs none of the user's shared budget of them.
    CString many;
    for (int i = 0; i < 64; ++i) {
        std::string dir = "many" + std::to_string(i);
        ASSERT_EQ(mkdir(m_root.Path(dir).c_str(), 0755), 0);
        many += Win(dir) + u"|0|";
    }
    ASSERT_TRUE(Start(many));
    ASSERT_TRUE(WaitFor(FOLDERMON_ENDED, 2));
    std::vector<SEEN_MESSAGE> seen = Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].lParam, 1);
    EXPECT_EQ(static_cast<DWORD>(seen[1].lParam), m_job->GetThreadId());
    EXPECT_TRUE(m_job->HasError());
    EXPECT_EQ(m_job->GetErrorKind(), FOLDERMON_ERROR_WAIT_LIMIT);
    EXPECT_TRUE(m_job->IsStarted());
    EXPECT_EQ(zbw::ToUtf8(m_job->GetErrorFolder()), zbw::ToUtf8(Win("many63") + u"\\"));
    EXPECT_TRUE(PumpReal([&] { return m_job->Stop(50); }, kBoundMs));
}

TEST_F(FolderMonitorTest, FolderThatCannotBeWatchedFailsTheMonitor) {
    ASSERT_EQ(mkdir(m_root.Path("locked").c_str(), 0), 0);  // seen, but not readable
    // Root would watch it anyway: the monitor runs without root's capabilities.
    EXPECT_EQ(RunWithoutCapabilities([this] {
                  ASSERT_TRUE(Start(Win("locked") + u"|0|"));
                  ASSERT_TRUE(WaitFor(FOLDERMON_ENDED, 2));
                  EXPECT_EQ(Seen()[0].lParam, 1);
                  EXPECT_TRUE(m_job->HasError());
                  EXPECT_EQ(m_job->GetErrorKind(), FOLDERMON_ERROR_NOTIFICATION);
                  EXPECT_EQ(zbw::ToUtf8(m_job->GetErrorFolder()), zbw::ToUtf8(Win("locked") + u"\\"));
                  EXPECT_TRUE(PumpReal([&] { return m_job->Stop(50); }, kBoundMs));
              }),
              0);
}

// The test makes the changes itself, one between each two 50 ms steps of the pinned tick count:
// the monitor's 100 ms look can then end only by a change, never by the test being slow, and
// the report may come only once the settle time has passed since the first change. The short
// real pause between steps only lets the monitor keep up (a steered wait looks at the clock every
// 20 ms); the outcome does not hang on it.
TEST_F(FolderMonitorTest, ContinuousChangesWaitForTheSettleTime) {
    ASSERT_TRUE(Start(Win("a") + u"|1|"));
    ASSERT_TRUE(WaitFor(FOLDERMON_STARTED));
    zbw::PinTickCount();
    const int64_t first = zbw::TickNow64();
    const int64_t writeUntil = first + kSettleMs + 1000;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(4 * kBoundMs);
    int64_t reportedAfter = -1;
    for (int i = 0; std::chrono::steady_clock::now() < deadline; ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (Count(FOLDERMON_CHANGES) > 0) {
            reportedAfter = zbw::TickNow64() - first;
            break;
        }
        // Past the settle time the changes stop, so a slow monitor still ends its settling.
        if (zbw::TickNow64() < writeUntil) Touch("a/sub/busy" + std::to_string(i % 2) + ".txt");
        zbw::AdvanceClock(50);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GE(reportedAfter, 0) << "no report";
    EXPECT_GE(reportedAfter, static_cast<int64_t>(kSettleMs));
    StopJob();
}

TEST_F(FolderMonitorTest, StopDuringSettlingStillReportsTheChanges) {
    ASSERT_TRUE(Start(Win("a") + u"|0|"));
    ASSERT_TRUE(WaitFor(FOLDERMON_STARTED));
    // The pinned tick holds the monitor in the pause that follows the change until the stop.
    zbw::PinTickCount();
    Touch("a/f.txt");
    ASSERT_TRUE(PumpReal([&] { return m_job->IsSettling(); }, kBoundMs));
    StopJob();
    std::vector<SEEN_MESSAGE> seen = Seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].wParam, static_cast<WPARAM>(FOLDERMON_CHANGES));
    EXPECT_EQ(seen[2].wParam, static_cast<WPARAM>(FOLDERMON_ENDED));
}

TEST_F(FolderMonitorTest, StartingARunningMonitorKeepsItsList) {
    ASSERT_TRUE(Start(Win("a") + u"|0|"));
    ASSERT_TRUE(WaitFor(FOLDERMON_STARTED));
    EXPECT_FALSE(m_job->Start(Win("b") + u"|0|", m_hwnd, kChangesMessage, kSettleMs));
    Touch("b/f.txt");
    EXPECT_FALSE(WaitFor(FOLDERMON_CHANGES, 1, 1500));
    Touch("a/f.txt");
    EXPECT_TRUE(WaitFor(FOLDERMON_CHANGES));
    StopJob();
    // A stopped monitor starts again with a new list.
    Mark();
    EXPECT_TRUE(m_job->Start(Win("b") + u"|0|", m_hwnd, kChangesMessage, kSettleMs));
    ASSERT_TRUE(WaitFor(FOLDERMON_STARTED));
    Touch("b/g.txt");
    EXPECT_TRUE(WaitFor(FOLDERMON_CHANGES));
    StopJob();
}

}  // namespace

namespace {

TEST_F(FolderMonitorTest, FolderDeletedAndMadeAgainIsWatchedAgain) {
    ASSERT_TRUE(Start(Win("a") + u"|1|"));
    ASSERT_TRUE(WaitFor(FOLDERMON_STARTED));
    for (const bool quickly : {false, true}) {
        SCOPED_TRACE(quickly);
        Mark();
        ASSERT_EQ(std::system(("rm -rf '" + m_root.Path("a") + "'").c_str()), 0);
        if (!quickly) {
            ASSERT_TRUE(WaitFor(FOLDERMON_CHANGES));
            Mark();
        }
        ASSERT_EQ(mkdir(m_root.Path("a").c_str(), 0755), 0);
        // Its return is a change, and so is what happens in it afterwards.
        ASSERT_TRUE(WaitFor(FOLDERMON_CHANGES));
        PumpReal([] { return false; }, 1500);  // the folder is watched again
        Mark();
        Touch("a/back.txt");
        ASSERT_TRUE(WaitFor(FOLDERMON_CHANGES));
    }
    StopJob();
    EXPECT_FALSE(m_job->HasError());
}

}  // namespace
