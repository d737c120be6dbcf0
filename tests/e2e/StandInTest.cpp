// zbsync, the stand-in synchronisation program: its settings in the profile (in each of the
// profile encodings), its log with the run markers, its exit codes and its end on a quit request.
#include <gtest/gtest.h>

#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "platform/win32/WinUser.h"
#include "tests/e2e/ChildProcess.h"
#include "tests/e2e/LogFiles.h"
#include "tests/support/TestRoot.h"

namespace {

const unsigned kBoundMs = 20000;

enum ENCODING { UTF16_BOM, UTF16_NO_BOM, ANSI };

std::string Encoded(const std::string& utf8, ENCODING encoding) {
    if (encoding == ANSI) return zbw::ToAnsi(zbw::FromUtf8(utf8).GetStdString());
    std::u16string text = zbw::FromUtf8(utf8).GetStdString();
    std::string bytes = encoding == UTF16_BOM ? "\xFF\xFE" : "";
    for (char16_t ch : text) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

std::string WindowsPath(const std::string& hostPath) {
    return zbw::ToUtf8(zbw::ToWindowsPath(hostPath));
}

class StandInTest : public ::testing::Test {
   protected:
    std::string Profile() const { return m_root.Path("job.fsf"); }
    std::string DefaultLog() const { return m_root.Path("job.log"); }

    void WriteProfile(const std::string& text, ENCODING encoding = UTF16_BOM) {
        ASSERT_TRUE(WriteHostFile(Profile(), Encoded(text, encoding)));
    }

    // Starts the stand-in as the engine does: the profile by its Windows path, then the switches.
    void Start(const std::vector<std::string>& switches = {"/hiddenautosync", "/zbeng"}) {
        std::vector<std::string> args = {WindowsPath(Profile())};
        args.insert(args.end(), switches.begin(), switches.end());
        ASSERT_TRUE(m_sync.Start(BinDir() + "/zbsync", args));
    }

    // The messages of the log, after their 22-character time prefix, which every line has.
    std::vector<std::string> Messages(const std::string& log) const {
        std::vector<std::string> messages;
        std::regex prefix(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d   )");
        for (const std::string& line : zbtest::CrLfLines(ReadHostFile(log))) {
            EXPECT_TRUE(std::regex_search(line, prefix)) << line;
            messages.push_back(line.size() >= 22 ? line.substr(22) : line);
        }
        return messages;
    }

    CTestRoot m_root;
    CChildProcess m_sync;
};

struct RUNCASE {
    ENCODING encoding;
    int exitCode;
    int statusSeen;  // the low 8 bits the host keeps
    const char* result;
};

void PrintTo(const RUNCASE& run, std::ostream* os) {
    *os << "encoding " << run.encoding << " exit code " << run.exitCode;
}

class StandInRunTest : public StandInTest, public ::testing::WithParamInterface<RUNCASE> {};

TEST_P(StandInRunTest, EndsWithTheChosenCodeAfterTheChosenTime) {
    WriteProfile("[Settings]\r\nExecution Method=1\r\n\r\n[StandIn]\r\nExitCode=" +
                     std::to_string(GetParam().exitCode) + "\r\nSeconds=0.4\r\n",
                 GetParam().encoding);
    int64_t started = zbw::TickNow64();
    Start();
    EXPECT_EQ(m_sync.WaitExit(kBoundMs), GetParam().statusSeen);
    EXPECT_GE(zbw::TickNow64() - started, 400);
    std::vector<std::string> messages = Messages(DefaultLog());
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), "START ID: 1");
    EXPECT_EQ(messages.back(), "END ID: 1");
    EXPECT_TRUE(zbtest::InOrder(messages, {"START ID: 1", "[INFO] Profile: " + WindowsPath(Profile()),
                                           "[INFO] Switches: /hiddenautosync /zbeng", GetParam().result,
                                           "[INFO] Quit requests received: 0", "END ID: 1"}))
        << ReadHostFile(DefaultLog());
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, StandInRunTest,
    ::testing::Values(RUNCASE{UTF16_BOM, 3, 3, "[ERROR] Synchronization ended with exit code 3."},
                      RUNCASE{UTF16_NO_BOM, 0, 0, "Synchronization finished [OK]."},
                      RUNCASE{ANSI, 11, 11, "[ERROR] Synchronization ended with exit code 11."},
                      RUNCASE{ANSI, -1, 255, "[ERROR] Synchronization ended with exit code -1."}));

struct SWITCHCASE {
    std::vector<std::string> switches;
    int exitCode;
    const char* logged;
};

void PrintTo(const SWITCHCASE& test, std::ostream* os) {
    for (const std::string& s : test.switches) *os << s << " ";
}

class StandInSwitchTest : public StandInTest, public ::testing::WithParamInterface<SWITCHCASE> {};

TEST_P(StandInSwitchTest, TakesTheEnginesSwitches) {
    WriteProfile("[StandIn]\r\nExitCode=2\r\nSeconds=0\r\n");
    Start(GetParam().switches);
    EXPECT_EQ(m_sync.WaitExit(kBoundMs), GetParam().exitCode);
    EXPECT_TRUE(
        zbtest::InOrder(Messages(DefaultLog()), {std::string("[INFO] Switches: ") + GetParam().logged}));
}

INSTANTIATE_TEST_SUITE_P(
    Switches, StandInSwitchTest,
    ::testing::Values(SWITCHCASE{{"/hiddenautosync", "/zbeng"}, 2, "/hiddenautosync /zbeng"},
                      SWITCHCASE{{"/autosync", "/zbeng"}, 2, "/autosync /zbeng"},
                      SWITCHCASE{{"/dialogautosync", "/zbeng"}, 2, "/dialogautosync /zbeng"},
                      SWITCHCASE{{"/autocompare"}, 2, "/autocompare"},
                      SWITCHCASE{{"/settings"}, 2, "/settings"}, SWITCHCASE{{}, 2, "(none)"},
                      SWITCHCASE{{"/bogus"}, 18, "/bogus"}));

TEST_F(StandInTest, EachRunOfALogGetsTheNextId) {
    WriteProfile("[StandIn]\r\nSeconds=0\r\n");
    for (int run = 1; run <= 2; ++run) {
        Start();
        ASSERT_EQ(m_sync.WaitExit(kBoundMs), 0);
    }
    std::vector<std::string> messages = Messages(DefaultLog());
    EXPECT_TRUE(zbtest::InOrder(messages, {"START ID: 1", "END ID: 1", "START ID: 2", "END ID: 2"}))
        << ReadHostFile(DefaultLog());
    EXPECT_EQ(zbtest::CountOf(ReadHostFile(DefaultLog()), "START ID: "), 2);
}

TEST_F(StandInTest, AQuitToItsMainThreadEndsTheRun) {
    WriteProfile("[StandIn]\r\nExitCode=0\r\nSeconds=120\r\n");
    Start();
    ASSERT_TRUE(zbtest::WaitForAnsiLog(DefaultLog(), "[INFO] Process: ", kBoundMs));
    ASSERT_TRUE(PostThreadMessageW(static_cast<DWORD>(m_sync.Pid()), WM_QUIT, 0, 0));
    EXPECT_EQ(m_sync.WaitExit(kBoundMs), 4);  // canceled
    EXPECT_TRUE(zbtest::InOrder(Messages(DefaultLog()), {"[INFO] Quit request 1 received.",
                                                         "[ERROR] Synchronization ended with exit code 4.",
                                                         "[INFO] Quit requests received: 1", "END ID: 1"}))
        << ReadHostFile(DefaultLog());
}

TEST_F(StandInTest, IgnoredQuitsAreCountedAndTheRunGoesOn) {
    WriteProfile("[StandIn]\r\nExitCode=5\r\nSeconds=3\r\nIgnoreQuit=1\r\n");
    Start();
    ASSERT_TRUE(zbtest::WaitForAnsiLog(DefaultLog(), "[INFO] Process: ", kBoundMs));
    for (int quit = 1; quit <= 3; ++quit) {
        ASSERT_TRUE(PostThreadMessageW(static_cast<DWORD>(m_sync.Pid()), WM_QUIT, 0, 0));
        ASSERT_TRUE(zbtest::WaitForAnsiLog(DefaultLog(), "Quit request " + std::to_string(quit) + " ignored.",
                                           kBoundMs));
    }
    EXPECT_EQ(m_sync.WaitExit(kBoundMs), 5);
    EXPECT_TRUE(zbtest::InOrder(Messages(DefaultLog()), {"[INFO] Quit requests received: 3", "END ID: 1"}));
}

struct LOGFILECASE {
    const char* settingsLog;  // "Log File" of [Settings], relative to the test folder
    const char* standInLog;   // LogFile of [StandIn]
    const char* used;
};

void PrintTo(const LOGFILECASE& test, std::ostream* os) {
    *os << "settings " << test.settingsLog << " stand-in " << test.standInLog;
}

class StandInLogFileTest : public StandInTest, public ::testing::WithParamInterface<LOGFILECASE> {};

TEST_P(StandInLogFileTest, TheStandInsOwnLogFileWinsOverTheProfiles) {
    std::string text = "[Settings]\r\n";
    if (*GetParam().settingsLog)
        text += "Log File=" + WindowsPath(m_root.Path(GetParam().settingsLog)) + "\r\n";
    text += "[StandIn]\r\nSeconds=0\r\n";
    if (*GetParam().standInLog) text += "LogFile=" + WindowsPath(m_root.Path(GetParam().standInLog)) + "\r\n";
    WriteProfile(text);
    Start();
    ASSERT_EQ(m_sync.WaitExit(kBoundMs), 0);
    EXPECT_TRUE(zbtest::InOrder(Messages(m_root.Path(GetParam().used)), {"START ID: 1", "END ID: 1"}));
    for (const char* other : {"profile.log", "own.log", "job.log"}) {
        if (std::string(other) != GetParam().used) {
            EXPECT_EQ(ReadHostFile(m_root.Path(other)), "") << other;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Choices, StandInLogFileTest,
                         ::testing::Values(LOGFILECASE{"profile.log", "own.log", "own.log"},
                                           LOGFILECASE{"profile.log", "", "profile.log"},
                                           LOGFILECASE{"", "", "job.log"}));

TEST_F(StandInTest, AMissingProfileEndsWithSixteen) {
    Start();
    EXPECT_EQ(m_sync.WaitExit(kBoundMs), 16);
    EXPECT_EQ(ReadHostFile(DefaultLog()), "");
}

}  // namespace
