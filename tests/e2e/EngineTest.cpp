// zbengine as a whole program: its data folder and log, the service check, detailed logging, the
// ways it ends (signals, the session's end, commands posted to its window) and restart.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/win32/EventLogApi.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinUser.h"
#include "tests/e2e/ChildProcess.h"
#include "tests/e2e/LogFiles.h"
#include "tests/support/TestRoot.h"

namespace {

const unsigned kBoundMs = 20000;
const UINT kEngineCommand = WM_USER + 100;
const char kServiceLine[] =
    "ZBEngine is installed as a service. Start ZBEngine from the Windows Service Management Console.";

bool SetMachineValue(LPCWSTR keyPath, LPCWSTR name, LPCWSTR text) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    bool ok =
        !name || RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                static_cast<DWORD>((CString(text).GetLength() + 1) * 2)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

bool AddServiceKey() {
    return SetMachineValue(u"SYSTEM\\CurrentControlSet\\Services\\ZBEngine", nullptr, nullptr);
}

bool SwitchOnDebugInRegistry() {
    return SetMachineValue(u"software\\ZBEngine\\ZBEngine", u"dbg", u"1");
}

std::string WindowsPath(const std::string& hostPath) {
    return zbw::ToUtf8(zbw::ToWindowsPath(hostPath));
}

class EngineTest : public ::testing::Test {
   protected:
    std::string DataLog() const { return m_root.Path("home/.local/share/ZBEngine/ZBEngine.log"); }
    std::string DataDBLine() const {
        return "DB File: " + WindowsPath(m_root.Path("home/.local/share/ZBEngine/ZBEngine.db"));
    }

    // A copy of the program in the test's folder, for files beside it.
    std::string CopyOfProgram() {
        std::filesystem::create_directories(m_root.Path("prog"));
        std::string copy = m_root.Path("prog/zbengine");
        std::filesystem::copy_file(BinDir() + "/zbengine", copy);
        return copy;
    }

    // Starts the engine and waits until its start-up has been logged.
    void StartEngine(const std::vector<std::string>& args = {}, const std::string& program = "") {
        ASSERT_TRUE(m_engine.Start(program.empty() ? BinDir() + "/zbengine" : program, args));
        ASSERT_TRUE(zbtest::WaitForEngineLog(m_log, "DB File: ", kBoundMs)) << zbtest::ReadUtf16Log(m_log);
    }

    // The engine's main window, once it is published (bounded).
    HWND EngineWindow() {
        int64_t deadline = zbw::DeadlineAfter(kBoundMs);
        while (zbw::RemainingUntil(deadline) > 0) {
            HWND hwnd = FindWindowW(nullptr, u"zbengine");
            if (hwnd && zbw::ProcessOfWindow(hwnd) == static_cast<DWORD>(m_engine.Pid())) return hwnd;
            Sleep(20);
        }
        return nullptr;
    }

    std::vector<std::string> Messages() const { return zbtest::EngineMessages(m_log); }
    std::string Text() const { return zbtest::ReadUtf16Log(m_log); }

    CTestRoot m_root;
    std::string m_log = DataLog();
    CChildProcess m_engine;
};

TEST_F(EngineTest, AFreshRootGetsTheDataFolderAndTheStartUpLog) {
    ASSERT_FALSE(std::filesystem::exists(m_root.Path("home/.local/share/ZBEngine")));
    setenv("ZBW_USER_NAME", "tester", 1);
    setenv("ZBW_COMPUTER_NAME", "TESTHOST", 1);
    StartEngine();
    // The command server has loaded the settings file and saved it.
    ASSERT_TRUE(zbtest::WaitForEngineLog(m_log, "Saving settings to XML file", kBoundMs)) << Text();
    ASSERT_TRUE(m_engine.Signal(SIGINT));
    ASSERT_EQ(m_engine.WaitExit(kBoundMs), 0);

    std::string bytes = ReadHostFile(m_log);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_FALSE(bytes[0] == '\xFF' && bytes[1] == '\xFE') << "no byte-order mark";
    EXPECT_EQ(bytes.size() % 2, 0u);
    std::string text = zbtest::ReadUtf16Log(m_log);
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
    std::vector<std::string> lines = zbtest::CrLfLines(text);
    std::regex prefix(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d \[\d+\.\d{3}-PID:(\d+)-(\d{5,})\] )");
    for (const std::string& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_search(line, match, prefix)) << line;
        EXPECT_EQ(std::stoi(match[1]), m_engine.Pid()) << line;
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "one CR LF per line";
    }

    std::vector<std::string> messages = Messages();
    // The web server's socket traces depend on whether another engine holds its port.
    std::erase_if(messages, [](const std::string& m) { return m.find(".\t[") != std::string::npos; });
    ASSERT_EQ(messages.size(), 31u) << text;
    EXPECT_EQ(messages[0], " ");
    EXPECT_EQ(messages[1], "*************************************");
    EXPECT_EQ(messages[2], "**** Starting ZBEngine ****");
    EXPECT_EQ(messages[3], "Version: ZBEngine 1.1 (Build 7)");
    EXPECT_EQ(messages[4].rfind("Command Line: \"", 0), 0u) << messages[4];
    EXPECT_NE(messages[4].find("zbengine.exe\""), std::string::npos) << messages[4];
    EXPECT_EQ(messages[5].rfind("System: Windows Vista", 0), 0u) << messages[5];
    EXPECT_EQ(messages[6], "Account: tester");
    EXPECT_EQ(messages[7], "Computer Name: TESTHOST");
    EXPECT_EQ(
        messages[8],
        "Zebrodyne PRO Path: Unable to locate Zebrodyne Pro on this computer. Please install Zebrodyne Pro.");
    EXPECT_EQ(messages[9], "Not running as a Windows Service");
    EXPECT_TRUE(
        std::regex_match(messages[10], std::regex("(Low|Medium|High|System) Process Integrity Level")))
        << messages[10];
    EXPECT_EQ(messages[11], "ZBEngine Scheduler Task does not exist.");
    EXPECT_EQ(messages[12], "ZBEngine Scheduler Task added.");
    EXPECT_EQ(messages[13], "Log File: " + WindowsPath(m_log));
    EXPECT_EQ(messages[14], DataDBLine());
    const std::string settings = WindowsPath(m_root.Path("home/.local/share/ZBEngine/ZBEngine.xml"));
    EXPECT_EQ(messages[15], "Loading TCP/IP settings from XML file " + settings);
    EXPECT_EQ(messages[16],
              "Failed loading " + settings + ". Unable to open XML file for parsing. Will use .bak file.");
    EXPECT_EQ(messages[17], "Failed loading " + settings + ".bak. Unable to open XML file for parsing.");
    EXPECT_EQ(
        messages[18],
        "<TCPIP> tag not found in XML configuration file, ZBEngine to use default TCP/IP configuration");
    EXPECT_EQ(messages[19],
              "<HTTP> tag not found in XML configuration file, zbengine will use default HTTP configuration");
    EXPECT_EQ(messages[20], "This computer is named \"TESTHOST\"");
    EXPECT_EQ(messages[21], "Server does not accept TCP/IP connections from clients.");
    EXPECT_EQ(messages[22], "IPServer started in 500 ms");
    EXPECT_EQ(messages[23], "Starting HTTP server on this machine on port 8001");
    EXPECT_EQ(messages[24], "HTTP server allows clients from 127.0.0.1");
    EXPECT_EQ(messages[25], "Using encrypted HTML pages");
    EXPECT_EQ(messages[26], "Loading profiles from XML file " + settings);
    EXPECT_EQ(messages[27], "Saving settings to XML file " + settings);
    EXPECT_EQ(messages[28], "**** Shutting down ZBEngine ****");
    EXPECT_EQ(messages[29], "Saving settings to XML file " + settings);
    EXPECT_EQ(messages[30], "**** Exiting ZBEngine ****");

    std::vector<zbw::EVENTRECORD> events;
    ASSERT_TRUE(zbw::ReadEventLog(&events, nullptr));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].source, CString(u"ZBEngine"));
    EXPECT_EQ(events[0].type, EVENTLOG_SUCCESS);
    ASSERT_EQ(events[0].strings.size(), 1u);
    EXPECT_EQ(events[0].strings[0], CString(u"ZBEngine started"));
    EXPECT_EQ(events[1].type, EVENTLOG_INFORMATION_TYPE);
    ASSERT_EQ(events[1].strings.size(), 1u);
    EXPECT_EQ(events[1].strings[0], CString(u"ZBEngine closing"));
}

TEST_F(EngineTest, TheRegisteredSynchronisationProgramIsLogged) {
    ASSERT_TRUE(
        SetMachineValue(u"software\\Zebrodyne Pro 2\\Zebrodyne Pro", u"path", u"C:\\sync\\zbsync.exe"));
    StartEngine({"/extra", "arg with blank"});
    EXPECT_TRUE(zbtest::InOrder(Messages(), {"Zebrodyne PRO Path: C:\\sync\\zbsync.exe"}));
    EXPECT_NE(Text().find(" /extra \"arg with blank\"\r\n"), std::string::npos) << Text();
}

TEST_F(EngineTest, InstalledAsAServiceButStartedWithoutServEndsWithFive) {
    ASSERT_TRUE(AddServiceKey());
    ASSERT_TRUE(m_engine.Start(BinDir() + "/zbengine", {}));
    EXPECT_EQ(m_engine.WaitExit(kBoundMs), 5);
    std::vector<std::string> messages = Messages();
    EXPECT_TRUE(zbtest::InOrder(messages, {"**** Starting ZBEngine ****", kServiceLine,
                                           "**** Shutting down ZBEngine ****", "**** Exiting ZBEngine ****"}))
        << Text();
    EXPECT_EQ(Text().find("Version: "), std::string::npos) << "nothing more of the start ran";
}

TEST_F(EngineTest, ADatabaseThatCannotBeOpenedEndsTheStartWithFive) {
    // A folder where the database file should be: SQLite cannot open it.
    std::string db = m_root.Path("home/.local/share/ZBEngine/ZBEngine.db");
    std::filesystem::create_directories(db);
    ASSERT_TRUE(m_engine.Start(BinDir() + "/zbengine", {}));
    EXPECT_EQ(m_engine.WaitExit(kBoundMs), 5);
    std::vector<std::string> messages = Messages();
    ASSERT_GE(messages.size(), 4u) << Text();
    EXPECT_EQ(messages[3].rfind("Failed creating/opening \"" + WindowsPath(db) + "\": ", 0), 0u) << Text();
    // The start still notes the engine's facts; the error then ends it before the servers.
    EXPECT_NE(Text().find("Version: "), std::string::npos) << Text();
    EXPECT_EQ(Text().find("Loading TCP/IP settings"), std::string::npos) << "no server settings read";

    std::vector<zbw::EVENTRECORD> events;
    ASSERT_TRUE(zbw::ReadEventLog(&events, nullptr));
    ASSERT_GE(events.size(), 1u);
    EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
}

struct SERVICECASE {
    std::vector<std::string> args;
    bool serviceKey;
};

void PrintTo(const SERVICECASE& test, std::ostream* os) {
    for (const std::string& arg : test.args) *os << arg << " ";
    *os << (test.serviceKey ? "with" : "without") << " the service key";
}

class EngineServiceTest : public EngineTest, public ::testing::WithParamInterface<SERVICECASE> {};

TEST_P(EngineServiceTest, TheServSwitchRunsAsAWindowsService) {
    if (GetParam().serviceKey) {
        ASSERT_TRUE(AddServiceKey());
    }
    StartEngine(GetParam().args);
    EXPECT_TRUE(zbtest::InOrder(Messages(), {"**** Starting ZBEngine ****", "Running as a Windows Service"}));
    EXPECT_EQ(Text().find("Not running as a Windows Service"), std::string::npos);
    ASSERT_TRUE(m_engine.Signal(SIGINT));
    EXPECT_EQ(m_engine.WaitExit(kBoundMs), 0);
}

INSTANTIATE_TEST_SUITE_P(Switches, EngineServiceTest,
                         ::testing::Values(SERVICECASE{{"/serv"}, true}, SERVICECASE{{"-SERV"}, false},
                                           SERVICECASE{{"serv"}, true}),
                         [](const ::testing::TestParamInfo<SERVICECASE>& info) {
                             return "Case" + std::to_string(info.index);
                         });

struct DEBUGCASE {
    bool switchFile;
    bool registryValue;
};

void PrintTo(const DEBUGCASE& test, std::ostream* os) {
    *os << (test.switchFile ? "switch file" : "no switch file") << ", "
        << (test.registryValue ? "registry value" : "no registry value");
}

class EngineDebugTest : public EngineTest, public ::testing::WithParamInterface<DEBUGCASE> {};

TEST_P(EngineDebugTest, TheSwitchFileOrTheRegistryValueTurnsOnDetailLines) {
    std::string program = CopyOfProgram();
    if (GetParam().switchFile) {
        ASSERT_TRUE(WriteHostFile(m_root.Path("prog/zbengine.dbg"), ""));
    }
    if (GetParam().registryValue) {
        ASSERT_TRUE(SwitchOnDebugInRegistry());
    }
    StartEngine({}, program);
    ASSERT_TRUE(m_engine.Signal(SIGINT));
    ASSERT_EQ(m_engine.WaitExit(kBoundMs), 0);
    bool wanted = GetParam().switchFile || GetParam().registryValue;
    std::vector<std::string> messages = Messages();
    EXPECT_EQ(zbtest::InOrder(messages, {"**** Starting ZBEngine ****", "Debug logging activated.",
                                         "Version: "
                                         "ZBEngine 1.1 "
                                         "(Build 7)"}),
              wanted)
        << Text();
    EXPECT_EQ(zbtest::InOrder(messages, {"WM_CLOSE received", "**** Exiting ZBEngine ****"}), wanted)
        << Text();
}

INSTANTIATE_TEST_SUITE_P(Switches, EngineDebugTest,
                         ::testing::Values(DEBUGCASE{true, false}, DEBUGCASE{false, true},
                                           DEBUGCASE{false, false}),
                         [](const ::testing::TestParamInfo<DEBUGCASE>& info) {
                             return std::string(info.param.switchFile ? "File" : "NoFile") +
                                    (info.param.registryValue ? "Value" : "NoValue");
                         });

TEST_F(EngineTest, WithoutADataFolderTheFilesLieBesideTheProgram) {
    std::string program = CopyOfProgram();
    ASSERT_TRUE(WriteHostFile(m_root.Path("blocked"), "a file where the data folder's parent would be"));
    setenv("XDG_DATA_HOME", m_root.Path("blocked/share").c_str(), 1);  // CTestRoot puts it back
    m_log = m_root.Path("prog/zbengine.log");
    StartEngine({}, program);
    EXPECT_TRUE(zbtest::InOrder(Messages(), {"Log File: " + WindowsPath(m_log),
                                             "DB File: " + WindowsPath(m_root.Path("prog/zbengine.db"))}))
        << Text();
    ASSERT_TRUE(m_engine.Signal(SIGINT));
    EXPECT_EQ(m_engine.WaitExit(kBoundMs), 0);
}

TEST_F(EngineTest, AnOverlongLogKeepsItsNewerHalfFromAWholeLine) {
    std::filesystem::create_directories(m_root.Path("home/.local/share/ZBEngine"));
    std::u16string old;
    for (int i = 0; old.size() * 2 < 1100 * 1024; ++i)
        old += zbw::FromUtf8("old line " + std::to_string(i) + "\r\n").GetStdString();
    ASSERT_TRUE(WriteHostFile(m_log, std::string(reinterpret_cast<const char*>(old.data()), old.size() * 2)));
    StartEngine();
    ASSERT_TRUE(m_engine.Signal(SIGINT));
    ASSERT_EQ(m_engine.WaitExit(kBoundMs), 0);
    std::string bytes = ReadHostFile(m_log);
    EXPECT_LE(bytes.size(), 1000u * 1024);
    std::vector<std::string> lines = zbtest::CrLfLines(zbtest::ReadUtf16Log(m_log));
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines.front(), std::regex(R"(old line \d+)"))) << lines.front();
    EXPECT_TRUE(zbtest::InOrder(zbtest::EngineMessages(m_log),
                                {"**** Starting ZBEngine ****", "**** Exiting ZBEngine ****"}));
}

// How the engine is asked to end; each ends it with exit code 0 through its normal exit.
enum ENDING { END_SIGINT, END_SIGHUP, END_SHUTDOWN_COMMAND, END_CLOSE_MESSAGE, END_QUIT_TO_MAIN_THREAD };

class EngineEndingTest : public EngineTest, public ::testing::WithParamInterface<ENDING> {};

TEST_P(EngineEndingTest, EndsWithZero) {
    StartEngine();
    HWND hwnd = EngineWindow();
    ASSERT_NE(hwnd, nullptr);
    switch (GetParam()) {
        case END_SIGINT: ASSERT_TRUE(m_engine.Signal(SIGINT)); break;
        case END_SIGHUP: ASSERT_TRUE(m_engine.Signal(SIGHUP)); break;
        case END_SHUTDOWN_COMMAND: ASSERT_TRUE(PostMessageW(hwnd, kEngineCommand, 1, 0)); break;
        case END_CLOSE_MESSAGE: ASSERT_TRUE(PostMessageW(hwnd, WM_CLOSE, 0, 0)); break;
        case END_QUIT_TO_MAIN_THREAD:
            ASSERT_TRUE(PostThreadMessageW(static_cast<DWORD>(m_engine.Pid()), WM_QUIT, 0, 0));
            break;
    }
    ASSERT_EQ(m_engine.WaitExit(kBoundMs), 0);
    std::vector<std::string> messages = Messages();
    EXPECT_TRUE(zbtest::InOrder(
        messages, {DataDBLine(), "**** Shutting down ZBEngine ****", "**** Exiting ZBEngine ****"}))
        << Text();
    EXPECT_EQ(zbtest::InOrder(messages, {"ZBEngine shutdown command received"}),
              GetParam() == END_SHUTDOWN_COMMAND);
}

std::string EndingName(const ::testing::TestParamInfo<ENDING>& info) {
    static const char* const kNames[] = {"Sigint", "Sighup", "ShutdownCommand", "CloseMessage",
                                         "QuitToMainThread"};
    return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Ways, EngineEndingTest,
                         ::testing::Values(END_SIGINT, END_SIGHUP, END_SHUTDOWN_COMMAND, END_CLOSE_MESSAGE,
                                           END_QUIT_TO_MAIN_THREAD),
                         EndingName);

TEST_F(EngineTest, SigtermEndsTheSessionThroughBothSessionMessages) {
    ASSERT_TRUE(SwitchOnDebugInRegistry());
    StartEngine();
    ASSERT_TRUE(m_engine.Signal(SIGTERM));
    ASSERT_EQ(m_engine.WaitExit(30000), 0);
    std::vector<std::string> messages = Messages();
    EXPECT_TRUE(zbtest::InOrder(
        messages, {"WM_QUERYENDSESSION received.", "Windows shutting down...", "ShutdownBlockReasonCreate",
                   "Return TRUE from WM_QUERYENDSESSION", "WM_ENDSESSION received.",
                   "**** Shutting down ZBEngine ****", "Message Queue Finished", "**** Exiting ZBEngine ****",
                   "ShutdownBlockReasonDestroy in WM_ENDSESSION", "Return TRUE from WM_ENDSESSION"}))
        << Text();
    EXPECT_TRUE(zbtest::InOrder(messages, {"WM_ENDSESSION received.", "ShutdownHelper > Starting ...",
                                           "ShutdownHelper > ZBEngine servers shutting down...",
                                           "**** Shutting down ZBEngine ****"}));
    EXPECT_EQ(zbtest::CountOf(Text(), "**** Exiting ZBEngine ****"), 1) << "the session's end is the exit";
    EXPECT_EQ(zbtest::CountOf(Text(), "**** Shutting down ZBEngine ****"), 1);
}

TEST_F(EngineTest, SigtermWithoutDetailLinesLogsTheShutdownAndTheExit) {
    StartEngine();
    ASSERT_TRUE(m_engine.Signal(SIGTERM));
    ASSERT_EQ(m_engine.WaitExit(30000), 0);
    EXPECT_TRUE(zbtest::InOrder(Messages(), {"Windows shutting down...", "**** Shutting down ZBEngine ****",
                                             "**** Exiting ZBEngine ****"}))
        << Text();
    EXPECT_EQ(Text().find("WM_ENDSESSION received."), std::string::npos);
}

TEST_F(EngineTest, RestartStopsAndStartsAgainAndAFailedOneStillEndsOnTheSignals) {
    StartEngine();
    HWND hwnd = EngineWindow();
    ASSERT_NE(hwnd, nullptr);
    ASSERT_TRUE(PostMessageW(hwnd, kEngineCommand, 7, 0));
    ASSERT_TRUE(zbtest::WaitForText([&] { return std::to_string(zbtest::CountOf(Text(), "DB File: ")); }, "2",
                                    kBoundMs));
    EXPECT_TRUE(zbtest::InOrder(
        Messages(), {DataDBLine(), "ZBEngine restart command received", "**** Shutting down ZBEngine ****",
                     "**** Starting ZBEngine ****", "Not running as a Windows Service"}))
        << Text();

    ASSERT_TRUE(AddServiceKey());
    ASSERT_TRUE(PostMessageW(hwnd, kEngineCommand, 7, 0));
    ASSERT_TRUE(zbtest::WaitForEngineLog(m_log, kServiceLine, kBoundMs)) << Text();
    Sleep(300);
    EXPECT_FALSE(m_engine.HasExited()) << "a failed restart leaves the process running";
    ASSERT_TRUE(m_engine.Signal(SIGINT));
    ASSERT_EQ(m_engine.WaitExit(kBoundMs), 0);
    EXPECT_TRUE(zbtest::InOrder(
        Messages(), {kServiceLine, "**** Shutting down ZBEngine ****", "**** Exiting ZBEngine ****"}));
}

}  // namespace
