// The stand-in synchronisation program filling the status blocks that the test makes for it, as
// the engine does, read back through the engine's own readers.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "common/SyncCounts.h"
#include "dovrane/model/ZBEngStatus.h"
#include "dovrane/model/ZBStatus.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "platform/win32/WinUser.h"
#include "tests/e2e/ChildProcess.h"
#include "tests/support/TestRoot.h"

namespace {

const unsigned kBoundMs = 20000;

std::string Utf8(const CString& text) {
    return zbw::ToUtf8(text);
}

struct RUNCASE {
    int chosenExitCode;
    bool quit;  // a WM_QUIT ends the run once progress shows
    int exitCode;
    LONG finalPercent;  // -1: whatever the last report gave
    const char* statusText;
    const char* lastError;
    uint32_t sourceMatched;
};

void PrintTo(const RUNCASE& run, std::ostream* os) {
    *os << "exit code " << run.exitCode;
}

class StatusBlockE2ETest : public ::testing::TestWithParam<RUNCASE> {
   protected:
    void StartSync(int exitCode, int seconds) {
        const std::string profile = m_root.Path("job.fsf");
        ASSERT_TRUE(WriteHostFile(profile, "[StandIn]\nExitCode=" + std::to_string(exitCode) +
                                               "\nSeconds=" + std::to_string(seconds) + "\n"));
        ASSERT_TRUE(m_sync.Start(BinDir() + "/zbsync",
                                 {zbw::ToUtf8(zbw::ToWindowsPath(profile)), "/hiddenautosync", "/zbeng"}));
    }

    // Polls until the progress lines appear; false when they do not within the bound.
    bool WaitForProgress() {
        const int64_t deadline = zbw::DeadlineAfter(kBoundMs);
        while (zbw::RemainingUntil(deadline) > 0) {
            if (Utf8(m_eng.GetLine1()) == "Synchronizing") return true;
            Sleep(50);
        }
        return false;
    }

    CTestRoot m_root;
    CChildProcess m_sync;
    CZBEngStatus m_eng;
    CZBStatus m_percent;
};

TEST_P(StatusBlockE2ETest, ProgramFillsTheBlocksTheEngineMade) {
    const RUNCASE& run = GetParam();
    StartSync(run.chosenExitCode, run.quit ? 60 : 2);
    const DWORD pid = static_cast<DWORD>(m_sync.Pid());
    ASSERT_TRUE(m_percent.Open(pid));
    ASSERT_TRUE(m_eng.Open(pid));
    // The identification is the number with which the log marks the run (the log's first).
    EXPECT_EQ(Utf8(m_eng.GetID()), "1");
    EXPECT_NE(ReadHostFile(m_root.Path("job.log")).find("START ID: 1\r\n"), std::string::npos);

    ASSERT_TRUE(WaitForProgress());
    EXPECT_EQ(Utf8(m_eng.GetLine3()).rfind("File ", 0), 0u);
    EXPECT_NE(Utf8(m_eng.GetLine2()).find("job.fsf"), std::string::npos);
    const LONG percent = m_percent.GetPercent();
    EXPECT_GE(percent, 0);
    EXPECT_LE(percent, 100);
    SYNCCOUNTS todo = NoSyncCounts();
    ASSERT_TRUE(m_eng.GetToDo(todo));
    EXPECT_EQ(todo.target.nFilesAdded, 3u);
    EXPECT_EQ(todo.target.nBytesAdded, 3072u);

    if (run.quit) {
        ASSERT_TRUE(PostThreadMessageW(pid, WM_QUIT, 0, 0));
    }
    EXPECT_EQ(m_sync.WaitExit(kBoundMs), run.exitCode);
    SYNCCOUNTS done = NoSyncCounts();
    COMPARECOUNTS coms = NoCompareCounts(), comt = NoCompareCounts();
    ASSERT_TRUE(m_eng.GetRecord(u"DONE", &done, sizeof done));
    ASSERT_TRUE(m_eng.GetRecord(u"COMS", &coms, sizeof coms));
    ASSERT_TRUE(m_eng.GetRecord(u"COMT", &comt, sizeof comt));
    EXPECT_EQ(done.nResult, run.exitCode);
    EXPECT_EQ(done.target.nFilesUpdated, 1u);
    EXPECT_TRUE(HasData(coms) && HasData(comt));
    EXPECT_EQ(coms.nMatchedFiles, run.sourceMatched);
    EXPECT_EQ(comt.nMatchedFiles, 4u);
    if (run.finalPercent >= 0) {
        EXPECT_EQ(m_percent.GetPercent(), run.finalPercent);
    } else {
        EXPECT_GE(m_percent.GetPercent(), percent);  // left where the run stopped
        EXPECT_LE(m_percent.GetPercent(), 100);
    }
    EXPECT_EQ(Utf8(m_percent.GetStatusText()), run.statusText);
    EXPECT_EQ(Utf8(m_eng.GetLastError()), run.lastError);
}

INSTANTIATE_TEST_SUITE_P(Runs, StatusBlockE2ETest,
                         ::testing::Values(RUNCASE{0, false, 0, 100, "Finished", "", 4},
                                           RUNCASE{3, false, 3, -1, "Ended with exit code 3",
                                                   "Synchronization ended with exit code 3.", 3},
                                           RUNCASE{0, true, 4, -1, "Ended with exit code 4",
                                                   "Synchronization ended with exit code 4.", 3}));

TEST(StatusBlockE2ERun, RunWithoutBlocksEndsAsChosen) {
    CTestRoot root;
    const std::string profile = root.Path("job.fsf");
    ASSERT_TRUE(WriteHostFile(profile, "[StandIn]\nExitCode=2\nSeconds=0.3\n"));
    CChildProcess sync;
    ASSERT_TRUE(
        sync.Start(BinDir() + "/zbsync", {zbw::ToUtf8(zbw::ToWindowsPath(profile)), "/autosync", "/zbeng"}));
    EXPECT_EQ(sync.WaitExit(kBoundMs), 2);
}

}  // namespace
