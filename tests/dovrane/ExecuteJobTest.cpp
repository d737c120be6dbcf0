// CExecuteJob against real children: /bin/sh for exit codes, arguments and SIGTERM-only programs,
// "zbwctl serve" for a layer program that ends on WM_QUIT, and the stand-in zbsync told to ignore
// quit requests (it logs each one it gets). The test thread plays the run item: a window that
// records each notification with what the item reads at that moment, and acknowledges it.
// Waits are bounded by real time, since some tests steer the layer clock.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/DebugPrintf.h"
#include "dovrane/threads/ExecuteJob.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/classlib/Time.h"
#include "platform/host/EmulationRoot.h"
#include "platform/host/PathMap.h"
#include "platform/win32/WinUser.h"
#include "tests/support/TestRoot.h"

namespace {

constexpr UINT kExecuteMessage = WM_USER + 102;
constexpr int kBoundMs = 20000;
constexpr DWORD kSigTermExit = 128 + SIGTERM;
const char16_t kServeClass[] = u"ExecuteJobTestServe";

// Real time, untouched by AdvanceClock.
bool WaitReal(const std::function<bool()>& done, int ms, const std::function<void()>& between = {}) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (between) between();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

CString Sh(const std::string& script) {
    return u"/bin/sh|-c \"" + zbw::FromUtf8(script) + u"\"";
}

CString WindowsPath(const std::string& hostPath) {
    return zbw::ToWindowsPath(hostPath);
}

bool ProcessGone(DWORD pid) {
    return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

int CountOf(const std::string& haystack, const std::string& needle) {
    int count = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1))
        ++count;
    return count;
}

// What the item saw when a notification reached it.
struct NOTICE {
    WPARAM code;
    LPARAM lParam;
    DWORD exitCode;
    DWORD processId;
    bool repeating;
    int reason;
};

class ExecuteJobTest;
ExecuteJobTest* g_test = nullptr;

class ExecuteJobTest : public ::testing::Test {
   protected:
    void SetUp() override {
        g_test = this;
        WNDCLASSW wc{};
        wc.lpfnWndProc = ItemProc;
        wc.lpszClassName = u"ExecuteJobTestItem";
        RegisterClassW(&wc);
        m_hWnd = CreateWindowExW(0, wc.lpszClassName, u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(m_hWnd, nullptr);
    }
    void TearDown() override {
        m_job.reset();
        DestroyWindow(m_hWnd);
        g_test = nullptr;
    }

    static LRESULT CALLBACK ItemProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != kExecuteMessage || !g_test) return DefWindowProcW(hwnd, message, wParam, lParam);
        g_test->OnNotice(wParam, lParam);
        return 0;
    }
    void OnNotice(WPARAM code, LPARAM lParam) {
        CExecuteJob* job = m_job.get();
        if (!job) return;
        m_notices.push_back(
            {code, lParam, job->GetExitCode(), job->GetProcessId(), job->IsRepeating(), job->GetReason()});
        if (m_onNotice) m_onNotice(code);
        if (m_bAcknowledge) job->Acknowledge();
    }

    // command: the program, "|" and its arguments (the whole text is the program without "|").
    bool Execute(const CString& command, int reason = 1) {
        LAUNCHCOMMAND launch;
        const int bar = command.Find(u'|');
        launch.strProgram = bar < 0 ? command : command.Left(bar);
        if (bar >= 0) launch.strArguments = command.Mid(bar + 1);
        return m_job->Execute(launch, reason, m_hWnd, kExecuteMessage);
    }
    void PumpMessages() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    bool Pump(const std::function<bool()>& done, int ms = kBoundMs) {
        return WaitReal(done, ms, [this] { PumpMessages(); });
    }
    bool PumpUntilNotices(size_t count) {
        return Pump([&] { return m_notices.size() >= count; });
    }
    // Until the body has returned and its last notification is in.
    bool PumpUntilEnded(size_t notices) {
        return Pump([&] { return !m_job->IsRunning() && m_notices.size() >= notices; });
    }
    // As the item stops its job: short stops with the queue served between them.
    bool StopJob() {
        return Pump([&] { return m_job->Stop(50); });
    }
    std::vector<WPARAM> Codes() const {
        std::vector<WPARAM> codes;
        for (const NOTICE& notice : m_notices) codes.push_back(notice.code);
        return codes;
    }

    CTestRoot m_root;
    HWND m_hWnd = nullptr;
    std::unique_ptr<CExecuteJob> m_job = std::make_unique<CExecuteJob>();
    std::vector<NOTICE> m_notices;
    bool m_bAcknowledge = true;
    // Called with each notification before it is acknowledged, as the item's handling.
    std::function<void(WPARAM code)> m_onNotice;
};

using CodeList = std::vector<WPARAM>;

TEST_F(ExecuteJobTest, ExitCodeOfEachRunReachesTheItemAndStays) {
    for (DWORD code : {0u, 3u, 7u, 255u}) {
        SCOPED_TRACE(code);
        m_notices.clear();
        const int64_t before = CTime::GetCurrentTime().GetTime();
        ASSERT_TRUE(Execute(Sh("exit " + std::to_string(code)), 6));
        ASSERT_TRUE(PumpUntilEnded(2));
        ASSERT_EQ(Codes(), (CodeList{EXECNOTIFY_STARTED, EXECNOTIFY_ENDED}));
        EXPECT_NE(m_notices[0].processId, 0u);
        EXPECT_EQ(m_notices[0].reason, 6);
        EXPECT_EQ(m_notices[1].exitCode, code);
        for (const NOTICE& notice : m_notices)
            EXPECT_EQ(notice.lParam, static_cast<LPARAM>(m_job->GetThreadId()));
        // After the body has returned: still the process's code, the body's own result apart.
        EXPECT_EQ(m_job->GetExitCode(), code);
        EXPECT_EQ(m_job->GetResult(), 0u);
        EXPECT_GE(m_job->GetStartTime(), before);
        EXPECT_LE(m_job->GetStartTime(), CTime::GetCurrentTime().GetTime());
    }
}

TEST_F(ExecuteJobTest, ProgramGetsWhatFollowsTheBarAsItsArguments) {
    ASSERT_TRUE(zbw::MakeHostDirs(m_root.Path("my tools")));
    const std::string script = m_root.Path("my tools/args.sh");
    const std::string out = m_root.Path("args.txt");
    ASSERT_TRUE(WriteHostFile(
        script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + out + "'\nexit 5\n"));
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    struct {
        CString suffix;
        std::string arguments;
    } cases[] = {
        {u"|\"two words\" plain", "two words\nplain\n"},
        {u"|", ""},
        {u"", ""},  // no bar: the whole text is the program
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(zbw::ToUtf8(test.suffix));
        m_notices.clear();
        ASSERT_TRUE(Execute(WindowsPath(script) + test.suffix));
        ASSERT_TRUE(PumpUntilEnded(2));
        EXPECT_EQ(Codes(), (CodeList{EXECNOTIFY_STARTED, EXECNOTIFY_ENDED}));
        EXPECT_EQ(m_job->GetExitCode(), 5u);
        EXPECT_EQ(ReadHostFile(out), test.arguments);
    }
}

TEST_F(ExecuteJobTest, ProgramThatCannotStartIsReportedAsFailedToStart) {
    const CString missing = WindowsPath(m_root.Path("missing.exe"));
    for (const CString& command : {missing + u"|\"profile.ffs\" /hiddenautosync /zbeng", missing, CString(),
                                   CString(u"|only arguments")}) {
        SCOPED_TRACE(zbw::ToUtf8(command));
        m_notices.clear();
        ASSERT_TRUE(Execute(command));
        ASSERT_TRUE(PumpUntilEnded(1));
        EXPECT_EQ(Codes(), (CodeList{EXECNOTIFY_FAILED}));
        EXPECT_EQ(m_job->GetResult(), 1u);
    }
}

TEST_F(ExecuteJobTest, StopEndsALayerProgramByWmQuit) {
    const CString serve =
        WindowsPath(BinDir() + "/zbwctl") + u"|serve ExecuteJobTestServe ExecuteJobTestTitle";
    ASSERT_TRUE(Execute(serve));
    ASSERT_TRUE(PumpUntilNotices(1));
    // Its window exists only once its endpoint runs, which carries the quit request.
    ASSERT_TRUE(Pump([] { return FindWindowW(kServeClass, nullptr) != nullptr; }));
    const DWORD pid = m_notices[0].processId;
    ASSERT_TRUE(StopJob());
    PumpUntilNotices(2);
    EXPECT_EQ(Codes(), (CodeList{EXECNOTIFY_STARTED, EXECNOTIFY_ENDED}));
    // zbwctl serve ends with the quit's wParam; SIGTERM or the forced end would read otherwise.
    EXPECT_EQ(m_notices.back().exitCode, 0u);
    EXPECT_TRUE(WaitReal([&] { return ProcessGone(pid); }, kBoundMs));
}

TEST_F(ExecuteJobTest, ProgramIgnoringQuitIsTerminatedWithMinusOneAfterSixtyRequests) {
    const std::string profile = m_root.Path("job.ffs");
    const std::string log = m_root.Path("job.log");
    ASSERT_TRUE(WriteHostFile(profile, "[StandIn]\r\nSeconds=90\r\nIgnoreQuit=1\r\nLogFile=" +
                                           zbw::ToUtf8(WindowsPath(log)) + "\r\n"));
    ASSERT_TRUE(Execute(WindowsPath(BinDir() + "/zbsync") + u"|\"" + WindowsPath(profile) +
                        u"\" /hiddenautosync /zbeng"));
    ASSERT_TRUE(PumpUntilNotices(1));
    ASSERT_TRUE(
        WaitReal([&] { return ReadHostFile(log).find("START ID: 1") != std::string::npos; }, kBoundMs));
    const DWORD pid = m_notices[0].processId;

    // Each one-second wait for the program is cut short once the program has logged the request
    // of that round (or after a second, so a lost line cannot hold the test up).
    std::atomic<bool> stopPacing{false};
    std::thread pacer([&] {
        for (int round = 1; round <= 60 && !stopPacing; ++round) {
            WaitReal([&] { return stopPacing || CountOf(ReadHostFile(log), "ignored.") >= round; }, 1000);
            zbw::AdvanceClock(1000);
        }
    });
    const bool stopped = WaitReal([&] { return m_job->Stop(50); }, 80000, [this] { PumpMessages(); });
    stopPacing = true;
    pacer.join();
    ASSERT_TRUE(stopped);
    PumpUntilNotices(2);

    const std::string text = ReadHostFile(log);
    EXPECT_EQ(CountOf(text, "ignored."), 60) << text;
    EXPECT_EQ(CountOf(text, "Quit request 60 ignored."), 1);
    EXPECT_EQ(Codes(), (CodeList{EXECNOTIFY_STARTED, EXECNOTIFY_ENDED}));
    EXPECT_EQ(m_notices.back().exitCode, static_cast<DWORD>(-1));
    EXPECT_EQ(m_job->GetExitCode(), static_cast<DWORD>(-1));
    EXPECT_TRUE(WaitReal([&] { return ProcessGone(pid); }, kBoundMs));
}

TEST_F(ExecuteJobTest, StopEndsTheWaitForAnAcknowledgement) {
    m_bAcknowledge = false;
    ASSERT_TRUE(Execute(Sh("exec sleep 30")));
    ASSERT_TRUE(PumpUntilNotices(1));
    // Unacknowledged, the job would wait about 11 s; the stop cuts that wait short.
    EXPECT_TRUE(m_job->Stop(5000));
    PumpUntilNotices(2);
    EXPECT_EQ(Codes(), (CodeList{EXECNOTIFY_STARTED, EXECNOTIFY_ENDED}));
    // sleep is no layer program: the quit request reached it as SIGTERM.
    EXPECT_EQ(m_notices.back().exitCode, kSigTermExit);
}

TEST_F(ExecuteJobTest, RunAskedForWhileOneRunsIsQueuedOnceWithItsReason) {
    ASSERT_TRUE(Execute(Sh("sleep 0.3; exit 2"), 1));
    ASSERT_TRUE(PumpUntilNotices(1));
    ASSERT_TRUE(Execute(Sh("exit 9"), 4));
    EXPECT_TRUE(m_job->IsRepeating());
    ASSERT_TRUE(Execute(Sh("exit 9"), 5));
    ASSERT_TRUE(PumpUntilEnded(4));
    Pump([] { return false; }, 300);
    ASSERT_EQ(Codes(),
              (CodeList{EXECNOTIFY_STARTED, EXECNOTIFY_ENDED, EXECNOTIFY_REPEATED, EXECNOTIFY_ENDED}));
    EXPECT_TRUE(m_notices[1].repeating);  // so the item sets no end state yet
    EXPECT_EQ(m_notices[1].reason, 1);
    EXPECT_EQ(m_notices[2].reason, 4);
    EXPECT_FALSE(m_notices[3].repeating);
    // The repeat runs the command it was asked for with.
    EXPECT_EQ(m_notices[1].exitCode, 2u);
    EXPECT_EQ(m_notices[3].exitCode, 9u);
}

// A second run, of another command, handed over at each moment of the first one's life: while it
// runs, while its end awaits the item, in the pause after the item acknowledged the end, and
// after the job ended. It runs its own command and reports its own exit code.
TEST_F(ExecuteJobTest, RunHandedOverAtAnyMomentRunsItsOwnCommand) {
    enum MOMENT { WHILE_RUNNING, AT_THE_END, AFTER_THE_END_IS_ACKNOWLEDGED, AFTER_THE_JOB_ENDED };
    for (MOMENT moment : {WHILE_RUNNING, AT_THE_END, AFTER_THE_END_IS_ACKNOWLEDGED, AFTER_THE_JOB_ENDED}) {
        SCOPED_TRACE(moment);
        m_job = std::make_unique<CExecuteJob>();
        m_notices.clear();
        bool handed = false;
        auto handOver = [&] {
            handed = true;
            ASSERT_TRUE(Execute(Sh("exit 5"), 2));
        };
        m_onNotice = [&](WPARAM code) {
            if (handed) return;
            if (moment == WHILE_RUNNING && code == EXECNOTIFY_STARTED) handOver();
            if (moment == AT_THE_END && code == EXECNOTIFY_ENDED) handOver();
            if (moment == AFTER_THE_END_IS_ACKNOWLEDGED && code == EXECNOTIFY_ENDED) {
                m_job->Acknowledge();
                handOver();
            }
        };
        ASSERT_TRUE(Execute(Sh(moment == WHILE_RUNNING ? "sleep 0.3; exit 2" : "exit 2"), 1));
        if (moment == AFTER_THE_JOB_ENDED) {
            ASSERT_TRUE(PumpUntilEnded(2));
            handOver();
        }
        ASSERT_TRUE(PumpUntilEnded(4));
        m_onNotice = nullptr;
        ASSERT_EQ(m_notices.size(), 4u);
        EXPECT_EQ(m_notices[1].code, static_cast<WPARAM>(EXECNOTIFY_ENDED));
        EXPECT_EQ(m_notices[1].exitCode, 2u);
        EXPECT_NE(m_notices[2].code, static_cast<WPARAM>(EXECNOTIFY_ENDED));
        EXPECT_EQ(m_notices[2].reason, 2);
        EXPECT_EQ(m_notices[3].code, static_cast<WPARAM>(EXECNOTIFY_ENDED));
        EXPECT_EQ(m_notices[3].exitCode, 5u);
        EXPECT_EQ(m_job->GetExitCode(), 5u);
    }
}

// A stop in the first moments of a run, before the stand-in's message queue exists: the quit is
// tried again until the program has its queue, and the run ends as canceled by the user (4), not
// by a signal.
TEST_F(ExecuteJobTest, StopInTheFirstMomentsOfARunCancelsItByQuit) {
    const std::string profile = m_root.Path("early.ffs");
    const std::string log = m_root.Path("early.log");
    ASSERT_TRUE(WriteHostFile(
        profile, "[StandIn]\r\nSeconds=60\r\nLogFile=" + zbw::ToUtf8(WindowsPath(log)) + "\r\n"));
    m_onNotice = [&](WPARAM code) {
        if (code == EXECNOTIFY_STARTED) m_job->Stop(0);  // only asks: the job ends by itself
    };
    ASSERT_TRUE(Execute(WindowsPath(BinDir() + "/zbsync") + u"|\"" + WindowsPath(profile) +
                        u"\" /hiddenautosync /zbeng"));
    ASSERT_TRUE(PumpUntilEnded(2));
    m_onNotice = nullptr;
    EXPECT_EQ(Codes(), (CodeList{EXECNOTIFY_STARTED, EXECNOTIFY_ENDED}));
    EXPECT_EQ(m_notices.back().exitCode, 4u) << ReadHostFile(log);
    EXPECT_NE(ReadHostFile(log).find("[INFO] Quit request 1 received."), std::string::npos);
}

// A caller holding the run-item list's mutex (a client thread) asks for a run while the job's
// "ended" waits for the item, whose main thread may be waiting for that very mutex: the request
// must be taken at once, not after the job's lock time-out.
TEST_F(ExecuteJobTest, RunAskedForWhileTheEndAwaitsTheItemIsQueuedAtOnce) {
    ASSERT_TRUE(Execute(Sh("exit 2")));
    ASSERT_TRUE(PumpUntilNotices(1));
    m_bAcknowledge = false;
    ASSERT_TRUE(Pump([&] { return m_notices.size() == 2; }));  // "ended", not acknowledged
    ASSERT_EQ(m_notices[1].code, static_cast<WPARAM>(EXECNOTIFY_ENDED));
    std::atomic<bool> queued{false};
    std::atomic<int64_t> tookMs{-1};
    std::thread client([&] {
        const auto start = std::chrono::steady_clock::now();
        queued = m_job->Execute(LAUNCHCOMMAND{u"/bin/sh", u"-c \"exit 5\""}, 0, m_hWnd, kExecuteMessage);
        tookMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
    });
    client.join();
    EXPECT_TRUE(queued);
    EXPECT_LT(tookMs, 1000);
    EXPECT_TRUE(m_job->IsRepeating());
    m_bAcknowledge = true;
    m_job->Acknowledge();
    ASSERT_TRUE(PumpUntilEnded(4));
    EXPECT_EQ(Codes(),
              (CodeList{EXECNOTIFY_STARTED, EXECNOTIFY_ENDED, EXECNOTIFY_REPEATED, EXECNOTIFY_ENDED}));
}

TEST_F(ExecuteJobTest, StoppedRunReportsEndedAndNeverRepeats) {
    ASSERT_TRUE(Execute(Sh("exec sleep 30")));
    ASSERT_TRUE(PumpUntilNotices(1));
    ASSERT_TRUE(Execute(Sh("exec sleep 30"), 2));
    ASSERT_TRUE(m_job->IsRepeating());
    ASSERT_TRUE(StopJob());
    Pump([] { return false; }, 300);
    EXPECT_EQ(Codes(), (CodeList{EXECNOTIFY_STARTED, EXECNOTIFY_ENDED}));
    EXPECT_FALSE(m_job->IsRepeating());
    EXPECT_EQ(m_notices.back().exitCode, kSigTermExit);
}

TEST_F(ExecuteJobTest, DestroyingARunningJobEndsItsProgram) {
    ASSERT_TRUE(Execute(Sh("exec sleep 30")));
    ASSERT_TRUE(PumpUntilNotices(1));
    const DWORD pid = m_notices[0].processId;
    m_job.reset();
    EXPECT_TRUE(WaitReal([&] { return ProcessGone(pid); }, kBoundMs));
}

std::string ReadUtf16Log(const std::string& path) {
    std::string bytes = ReadHostFile(path);
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    return zbw::ToUtf8(text.c_str());
}

// The one test that opens the process's debug log (it can be opened once per process).
TEST_F(ExecuteJobTest, LogsRepeatDecisionsNotificationsAndTheAcknowledgementTimeout) {
    const std::string log = m_root.Path("engine.log");
    ASSERT_TRUE(g_DebugPrintf.Init(WindowsPath(log)));
    g_DebugPrintf.m_bDebug = true;
    m_bAcknowledge = false;
    ASSERT_TRUE(Execute(Sh("exec sleep 30")));
    ASSERT_TRUE(PumpUntilNotices(1));
    ASSERT_TRUE(Execute(Sh("exec sleep 30"), 2));
    ASSERT_TRUE(Execute(Sh("exec sleep 30"), 3));

    const std::string warning = "Warning: end of process notification timeout (CExecuteJob)";
    const bool warned = WaitReal([&] { return ReadUtf16Log(log).find(warning) != std::string::npos; },
                                 kBoundMs, [] { zbw::AdvanceClock(500); });
    // Past the timeout the job goes on waiting for its program, until it is stopped.
    EXPECT_TRUE(m_job->IsRunning());
    const bool stopped = WaitReal([&] { return m_job->Stop(50); }, kBoundMs, [this] { PumpMessages(); });
    g_DebugPrintf.m_bDebug = false;
    ASSERT_TRUE(warned);
    ASSERT_TRUE(stopped);

    const std::string text = ReadUtf16Log(log);
    const std::string tid = std::to_string(m_job->GetThreadId());
    const std::vector<std::string> inOrder = {
        "] Not repeating\r\n",   "] Info: notify (CExecuteJob) wParam=0 lParam=" + tid + "\r\n",
        "] Set repeat flag\r\n", "] Already repeating\r\n",
        "] " + warning + "\r\n", "] Info: notify (CExecuteJob) wParam=1 lParam=" + tid + "\r\n",
    };
    size_t at = 0;
    for (const std::string& line : inOrder) {
        at = text.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << "\n" << text;
    }
    EXPECT_EQ(CountOf(text, warning), 1);
}

}  // namespace
