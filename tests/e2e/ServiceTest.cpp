// zbengineservice as a whole program beside a copy of zbengine: install and remove, start and
// stop through the emulated service manager (the engine runs with /serv), the engine ending by
// itself, and the texts and exit codes outside the manager.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/WinError.h"
#include "platform/win32/Registry.h"
#include "platform/win32/ServiceManager.h"
#include "tests/e2e/ChildProcess.h"
#include "tests/e2e/EngineAlive.h"
#include "tests/e2e/LogFiles.h"
#include "tests/support/TestRoot.h"

extern char** environ;

namespace {

const unsigned kBoundMs = 20000;
const char kDispatcherLine[] =
    "StartServiceCtrlDispatcher failed, error code = 1063 , The service process could not connect to the "
    "service controller.";

struct CRun {
    int status = -1;  // exit status, -1 when killed at the bound
    std::string output;
};

// Pid in the prefix of the first log line holding needle; 0 when none.
pid_t PidOfLine(const std::string& log, const std::string& needle) {
    std::regex prefix("PID:([0-9]+)-");
    for (const std::string& line : zbtest::CrLfLines(log)) {
        std::smatch match;
        if (line.find(needle) != std::string::npos && std::regex_search(line, match, prefix))
            return static_cast<pid_t>(std::stoi(match[1]));
    }
    return 0;
}

// Gone, or a zombie nobody has collected yet.
bool ProcessGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    size_t close = text.rfind(')');
    return text.empty() || (close != std::string::npos && text.compare(close + 2, 1, "Z") == 0);
}

bool WaitGone(pid_t pid, unsigned timeoutMs) {
    int64_t deadline = zbw::DeadlineAfter(timeoutMs);
    while (!ProcessGone(pid) && zbw::RemainingUntil(deadline) > 0) Sleep(20);
    return ProcessGone(pid);
}

DWORD ServiceState() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, u"ZBEngine", SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    bool ok = service != nullptr && QueryServiceStatus(service, &status);
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return ok ? status.dwCurrentState : 0;
}

class ServiceTest : public ::testing::Test {
   protected:
    void SetUp() override {
        std::filesystem::create_directories(m_root.Path("prog"));
        std::filesystem::copy_file(BinDir() + "/zbengineservice", Program());
        std::filesystem::copy_file(BinDir() + "/zbengine", m_root.Path("prog/zbengine"));
    }

    // Whatever a failed test left running goes with it.
    void TearDown() override {
        std::string stubPid = ReadHostFile(m_root.Path("stub.pid"));
        if (!stubPid.empty()) kill(std::stoi(stubPid), SIGKILL);
        for (pid_t pid :
             {PidOfLine(ServiceLog(), "ServiceMain called"), PidOfLine(EngineLog(), "Starting ZBEngine")})
            if (pid > 0 && !ProcessGone(pid)) kill(pid, SIGKILL);
    }

    std::string Program() const { return m_root.Path("prog/zbengineservice"); }
    std::string ServiceLog() const { return zbtest::ReadUtf16Log(m_root.Path("prog/zbengineservice.log")); }
    std::string EngineLog() const {
        return zbtest::ReadUtf16Log(m_root.Path("home/.local/share/ZBEngine/ZBEngine.log"));
    }

    // Runs the program with no input (a key press reads end of input), bounded.
    CRun Run(const std::vector<std::string>& args, unsigned timeoutMs = kBoundMs) {
        std::string out = m_root.Path("out.txt");
        std::vector<std::string> all = {Program()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = 0;
        CRun run;
        int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) return run;
        int status = 0;
        int64_t deadline = zbw::DeadlineAfter(timeoutMs);
        while (waitpid(pid, &status, WNOHANG) != pid) {
            if (zbw::RemainingUntil(deadline) <= 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
                return run;
            }
            Sleep(20);
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.output = ReadHostFile(out);
        return run;
    }

    // Puts in place of the engine a script that records its arguments and each quit (SIGTERM,
    // since it runs no control endpoint) and never ends by itself.
    void UseStubbornEngine() {
        std::string script = "#!/bin/sh\necho $$ > " + m_root.Path("stub.pid") + "\necho \"$@\" > " +
                             m_root.Path("stub.args") + "\ntrap 'echo q >> " + m_root.Path("stub.quits") +
                             "' TERM\nwhile :; do sleep 0.05; done\n";
        std::string engine = m_root.Path("prog/zbengine");
        std::filesystem::remove(engine);
        ASSERT_TRUE(WriteHostFile(engine, script));
        std::filesystem::permissions(engine, std::filesystem::perms::owner_all);
    }

    // Installs and starts the service and waits until it watches the engine.
    void StartServiceOnly() {
        ASSERT_EQ(Run({"-i"}).status, 0);
        CRun begin = Run({"-b"});
        ASSERT_EQ(begin.status, 0) << begin.output;
        EXPECT_NE(begin.output.find("Starting service... "), std::string::npos) << begin.output;
        ASSERT_TRUE(zbtest::WaitForText([this] { return ServiceLog(); }, "Checking Process... ", kBoundMs));
        EXPECT_EQ(ServiceState(), SERVICE_RUNNING);
    }

    // Installs and starts the service; the engine runs under it afterwards.
    void StartService() {
        StartServiceOnly();
        ASSERT_TRUE(zbtest::WaitForEngineLog(m_root.Path("home/.local/share/ZBEngine/ZBEngine.log"),
                                             "Running as a Windows Service", kBoundMs))
            << ServiceLog();
        ASSERT_TRUE(zbtest::WaitForText([this] { return ServiceLog(); }, "Checking Process... ", kBoundMs));
        EXPECT_EQ(ServiceState(), SERVICE_RUNNING);
    }

    CTestRoot m_root;
};

TEST_F(ServiceTest, InstallWritesTheKeyAndRemoveDeletesIt) {
    CRun install = Run({"-i"});
    ASSERT_EQ(install.status, 0) << install.output;
    EXPECT_NE(
        install.output.find("Service ZBEngine installed \r\nPress any key to open service console ...\n\n"),
        std::string::npos)
        << install.output;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\ZBEngine", 0, KEY_READ,
                            &key),
              ERROR_SUCCESS);
    char16_t text[64] = {};
    DWORD size = sizeof text;
    ASSERT_EQ(RegQueryValueExW(key, u"Description", nullptr, nullptr, reinterpret_cast<LPBYTE>(text), &size),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(CString(text), CString(u"ZBEngine by Quarn Software"));
    EXPECT_EQ(size, 26u * 2);  // without the terminating zero

    CRun again = Run({"-I"});
    EXPECT_NE(again.output.find("Service ZBEngine installed "), std::string::npos) << again.output;

    CRun remove = Run({"-u"});
    EXPECT_EQ(remove.status, 0);
    EXPECT_NE(remove.output.find("Service ZBEngine removed "), std::string::npos) << remove.output;
    EXPECT_NE(remove.output.find("Press any key to continue ...\n\n"), std::string::npos);
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\ZBEngine", 0, KEY_READ,
                            &key),
              ERROR_SUCCESS);
    CRun removeAgain = Run({"-u"});
    EXPECT_NE(
        removeAgain.output.find("OpenService failed, error code = 1060, The specified service does not exist "
                                "as an installed service.  "),
        std::string::npos)
        << removeAgain.output;
}

TEST_F(ServiceTest, StartRunsTheEngineWithServAndKillStopsBoth) {
    StartService();
    pid_t service = PidOfLine(ServiceLog(), "ServiceMain called");
    pid_t engine = PidOfLine(EngineLog(), "Starting ZBEngine");
    ASSERT_GT(service, 0);
    ASSERT_GT(engine, 0);
    EXPECT_NE(EngineLog().find("/serv"), std::string::npos);

    CRun stop = Run({"-k"});
    EXPECT_EQ(stop.status, 0);
    EXPECT_NE(stop.output.find("Killed service ZBEngine. Press any key to continue ...\n\n"),
              std::string::npos)
        << stop.output;
    EXPECT_TRUE(WaitGone(engine, kBoundMs));
    EXPECT_TRUE(WaitGone(service, kBoundMs));
    EXPECT_TRUE(zbtest::WaitForText([this] { return ServiceLog(); },
                                    "Service Stopped from console. (QLPVServiceHandler)", kBoundMs));
    EXPECT_EQ(ServiceState(), SERVICE_STOPPED);
    std::vector<std::string> lines;
    for (const std::string& line : zbtest::CrLfLines(ServiceLog()))
        lines.push_back(zbtest::EngineMessage(line));
    EXPECT_TRUE(zbtest::InOrder(
        lines, {"ServiceMain called", "Checking Process... ",
                "Service Stopping from console. (QLPVServiceHandler)", "Ending ZBEngine Process.",
                "ZBEngine Shutdown OK", "Service Stopped from console. (QLPVServiceHandler)"}))
        << ServiceLog();
    EXPECT_EQ(zbtest::CountOf(ServiceLog(), "Forced ZBEngine termination"), 0);
    EXPECT_EQ(zbtest::CountOf(ServiceLog(), "Shutting down existing"), 0);  // no engine outside

    CRun again = Run({"-k"});
    EXPECT_NE(
        again.output.find("ControlService failed, error code = 1062 ,The service has not been started."),
        std::string::npos)
        << again.output;
    EXPECT_NE(again.output.find("Failed to kill service ZBEngine. "), std::string::npos);
}

// The system's shutdown control, which no console command sends, ends the engine as a stop does.
TEST_F(ServiceTest, ShutdownControlEndsTheEngineAsAStopDoes) {
    StartService();
    pid_t service = PidOfLine(ServiceLog(), "ServiceMain called");
    pid_t engine = PidOfLine(EngineLog(), "Starting ZBEngine");
    ASSERT_GT(engine, 0);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE handle = OpenServiceW(manager, u"ZBEngine", SERVICE_STOP | SERVICE_QUERY_STATUS);
    ASSERT_NE(handle, nullptr);
    SERVICE_STATUS status{};
    EXPECT_TRUE(ControlService(handle, SERVICE_CONTROL_SHUTDOWN, &status));
    CloseServiceHandle(handle);
    CloseServiceHandle(manager);
    EXPECT_TRUE(WaitGone(engine, kBoundMs));
    EXPECT_TRUE(WaitGone(service, kBoundMs));
    ASSERT_TRUE(zbtest::WaitForText([this] { return ServiceLog(); },
                                    "Service Stopped from console. (QLPVServiceHandler)", kBoundMs))
        << ServiceLog();
    std::vector<std::string> lines;
    for (const std::string& line : zbtest::CrLfLines(ServiceLog()))
        lines.push_back(zbtest::EngineMessage(line));
    EXPECT_TRUE(zbtest::InOrder(lines, {"Service Stopping from console. (QLPVServiceHandler)",
                                        "Ending ZBEngine Process.", "ZBEngine Shutdown OK"}))
        << ServiceLog();
    EXPECT_EQ(zbtest::CountOf(ServiceLog(), "Unrecognized opcode"), 0);
    EXPECT_EQ(ServiceState(), SERVICE_STOPPED);
}

TEST_F(ServiceTest, InstallShutsDownAnEngineRunningOutsideTheService) {
    CChildProcess engine;
    ASSERT_TRUE(engine.Start(m_root.Path("prog/zbengine"), {}));
    ASSERT_TRUE(zbtest::WaitForText([this] { return EngineLog(); }, "IPServer started in", kBoundMs));
    ASSERT_TRUE(zbtest::WaitForEngineServing(kBoundMs));
    CRun install = Run({"-i"}, 60000);
    EXPECT_EQ(install.status, 0);
    EXPECT_NE(install.output.find("Shutting down existing ZBEngine task... try 1\r\nZBEngine shut down.\r\n"
                                  "Service ZBEngine installed "),
              std::string::npos)
        << install.output;
    EXPECT_EQ(engine.WaitExit(kBoundMs), 0);
    EXPECT_NE(EngineLog().find("ZBEngine shutdown command received"), std::string::npos) << EngineLog();
}

TEST_F(ServiceTest, AnEngineIgnoringSixtyQuitsIsTerminated) {
    UseStubbornEngine();
    StartServiceOnly();
    pid_t service = PidOfLine(ServiceLog(), "ServiceMain called");
    EXPECT_EQ(ReadHostFile(m_root.Path("stub.args")), "/serv\n");
    // The handler outlasts the control request's 30 s, as on Windows; the stop goes on.
    CRun stop = Run({"-k"}, 60000);
    EXPECT_NE(stop.output.find("ControlService failed, error code = 1053 ,"), std::string::npos)
        << stop.output;
    EXPECT_TRUE(zbtest::WaitForText([this] { return ServiceLog(); }, "Forced ZBEngine termination", 60000));
    EXPECT_TRUE(WaitGone(service, kBoundMs));
    EXPECT_EQ(zbtest::CountOf(ReadHostFile(m_root.Path("stub.quits")), "q"), 60);
    EXPECT_EQ(zbtest::CountOf(ServiceLog(), "ZBEngine Shutdown OK"), 0);
}

TEST_F(ServiceTest, EngineEndingByItselfStopsTheService) {
    StartService();
    pid_t service = PidOfLine(ServiceLog(), "ServiceMain called");
    pid_t engine = PidOfLine(EngineLog(), "Starting ZBEngine");
    ASSERT_GT(engine, 0);
    ASSERT_EQ(kill(engine, SIGKILL), 0);
    EXPECT_TRUE(WaitGone(service, kBoundMs));
    EXPECT_TRUE(
        zbtest::WaitForText([this] { return ServiceLog(); }, "Exit Checking Process ...  ", kBoundMs));
    std::string log = ServiceLog();
    EXPECT_NE(log.find("Detected ZBEngine shutdown "), std::string::npos) << log;
    EXPECT_NE(log.find("Stopped service ZBEngine. (CheckProcessProc)"), std::string::npos) << log;
    EXPECT_EQ(ServiceState(), SERVICE_STOPPED);
}

// An engine program that is there but cannot be started: the watcher starts all the same, finds
// no engine and stops the service as an engine's end does.
TEST_F(ServiceTest, EngineThatCannotStartStillGetsTheWatcherWhichStopsTheService) {
    std::filesystem::permissions(m_root.Path("prog/zbengine"), std::filesystem::perms::owner_read);
    ASSERT_EQ(Run({"-i"}).status, 0);
    ASSERT_EQ(Run({"-b"}).status, 0);
    ASSERT_TRUE(zbtest::WaitForText([this] { return ServiceLog(); }, "Exit Checking Process ...  ", kBoundMs))
        << ServiceLog();
    std::vector<std::string> lines;
    for (const std::string& line : zbtest::CrLfLines(ServiceLog()))
        lines.push_back(zbtest::EngineMessage(line));
    const auto start = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("Failed to start program '", 0) == 0 &&
               line.find(" /serv', error code = ") != std::string::npos;
    });
    ASSERT_NE(start, lines.end()) << ServiceLog();
    EXPECT_TRUE(
        zbtest::InOrder(std::vector<std::string>(start, lines.end()),
                        {*start, "Checking Process... ", "Detected ZBEngine shutdown ",
                         "Stopped service ZBEngine. (CheckProcessProc)", "Exit Checking Process ...  "}))
        << ServiceLog();
    EXPECT_TRUE(zbtest::WaitForText(
        [] { return ServiceState() == SERVICE_STOPPED ? std::string("stopped") : std::string(); }, "stopped",
        kBoundMs));
}

TEST_F(ServiceTest, OutsideTheManagerTheExitCodesAreTheLow8Bits) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{}, 1063 & 0xFF, kDispatcherLine},
        {{"-x"}, 1063 & 0xFF, kDispatcherLine},
        {{"-i", "-u"}, 253, "Command Line Flag: -u\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "none" : c.args[0]);
        CRun run = Run(c.args);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.text), std::string::npos) << run.output;
    }
    // Two arguments do nothing: no install, no closing line.
    EXPECT_EQ(zbtest::CountOf(ServiceLog(), "Done."), 2);
    EXPECT_EQ(zbtest::CountOf(ServiceLog(), "installed"), 0);

    std::filesystem::remove(m_root.Path("prog/zbengine"));
    CRun missing = Run({"-i"});
    EXPECT_EQ(missing.status, 254);
    EXPECT_NE(missing.output.find("prog\\zbengine.exe not found.\r\n"), std::string::npos) << missing.output;
}

}  // namespace
