// Processes started through the layer: exit codes, kills, arguments; fakes a temporary emulation root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Process.h"
#include "platform/win32/Wait.h"
#include "tests/support/TestRoot.h"

namespace {

const DWORD kWaitMs = 10000;

std::u16string Wide(const std::string& utf8) {
    return static_cast<LPCWSTR>(zbw::FromUtf8(utf8));
}

std::u16string WindowsPath(const std::string& host) {
    return static_cast<LPCWSTR>(zbw::ToWindowsPath(host));
}

// True once pid is no longer a child of ours (reaped, or the number reused by someone else).
// Plain reads: the file vanishes when the child is reaped, which is what the caller waits for, so
// any failure to open or read it means "gone".
bool IsGone(DWORD pid) {
    std::string path = "/proc/" + std::to_string(pid) + "/stat";
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    char buffer[512];
    ssize_t got = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (got <= 0) return true;
    std::string text(buffer, static_cast<size_t>(got));
    size_t close = text.rfind(')');
    if (close == std::string::npos) return true;
    char state = 0;
    int ppid = 0;
    if (sscanf(text.c_str() + close + 1, " %c %d", &state, &ppid) != 2) return true;
    return ppid != getpid();
}

class ProcessTest : public ::testing::Test {
   protected:
    // A shell script at root/relative; its own host path is $0.
    std::string Script(const std::string& relative, const std::string& body, mode_t mode = 0755) {
        std::string path = m_root.Path(relative);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        EXPECT_TRUE(WriteHostFile(path, "#!/bin/sh\n" + body + "\n"));
        chmod(path.c_str(), mode);
        return path;
    }

    // Starts commandLine; false with the last error on failure.
    bool Start(std::u16string commandLine, LPCWSTR application = nullptr, DWORD flags = 0,
               LPCWSTR folder = nullptr) {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_FORCEOFFFEEDBACK;
        return CreateProcessW(application, commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                              folder, &si, &m_pi) != FALSE;
    }

    DWORD WaitExitCode() {
        EXPECT_EQ(WaitForSingleObject(m_pi.hProcess, kWaitMs), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(m_pi.hProcess, &code));
        return code;
    }

    void CloseHandles() {
        if (m_pi.hProcess) CloseHandle(m_pi.hProcess);
        if (m_pi.hThread) CloseHandle(m_pi.hThread);
        m_pi = PROCESS_INFORMATION{};
    }

    void TearDown() override {
        if (m_pi.hProcess) TerminateProcess(m_pi.hProcess, 0);
        CloseHandles();
    }

    CTestRoot m_root;
    PROCESS_INFORMATION m_pi{};
};

struct ExitCase {
    const char* name;
    const char* script;
    DWORD code;
};

void PrintTo(const ExitCase& c, std::ostream* os) {
    *os << c.name;
}

template <class T>
std::string CaseName(const ::testing::TestParamInfo<T>& info) {
    return info.param.name;
}

class ProcessExitCodeTest : public ProcessTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(ProcessExitCodeTest, ReportsTheChildsExitCode) {
    ASSERT_TRUE(Start(u"/bin/sh -c \"" + Wide(GetParam().script) + u"\"")) << GetLastError();
    EXPECT_EQ(WaitExitCode(), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Table, ProcessExitCodeTest,
                         ::testing::Values(ExitCase{"Zero", "exit 0", 0}, ExitCase{"Three", "exit 3", 3},
                                           ExitCase{"MinusOne", "exit 255", 255},
                                           ExitCase{"Wide", "exit 260", 4},  // only 8 bits reach the parent
                                           ExitCase{"Killed", "kill -KILL $$", 128 + 9},
                                           ExitCase{"Terminated", "kill -TERM $$", 128 + 15}),
                         CaseName<ExitCase>);

class ProcessTerminateTest : public ProcessTest, public ::testing::WithParamInterface<UINT> {};

TEST_P(ProcessTerminateTest, ReportsTheCodeItWasKilledWith) {
    ASSERT_TRUE(Start(u"/bin/sh -c \"exec sleep 30\""));
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(m_pi.hProcess, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(m_pi.hProcess, 0), WAIT_TIMEOUT);

    ASSERT_TRUE(TerminateProcess(m_pi.hProcess, GetParam()));
    ASSERT_TRUE(GetExitCodeProcess(m_pi.hProcess, &code));
    EXPECT_EQ(code, GetParam());
    EXPECT_EQ(WaitForSingleObject(m_pi.hThread, 0), WAIT_OBJECT_0);

    // Once it has ended it cannot be killed again, and the code stays.
    EXPECT_FALSE(TerminateProcess(m_pi.hProcess, 77));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(GetExitCodeProcess(m_pi.hProcess, &code));
    EXPECT_EQ(code, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Table, ProcessTerminateTest, ::testing::Values(0xFFFFFFFFu, 0u, 5u, 260u));

TEST_F(ProcessTest, FillsProcessInformation) {
    ASSERT_TRUE(Start(u"/bin/sh -c \"exit 6\""));
    EXPECT_NE(m_pi.hProcess, nullptr);
    EXPECT_NE(m_pi.hThread, nullptr);
    EXPECT_NE(m_pi.hThread, m_pi.hProcess);
    EXPECT_GT(m_pi.dwProcessId, 0u);
    EXPECT_EQ(m_pi.dwThreadId, m_pi.dwProcessId);
    // The main thread ends with the process even when nobody looks at the process handle.
    EXPECT_EQ(WaitForSingleObject(m_pi.hThread, kWaitMs), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(m_pi.hThread, &code));
    EXPECT_EQ(code, 6u);
    EXPECT_EQ(WaitExitCode(), 6u);
}

TEST_F(ProcessTest, LeavesNoZombieWhenHandlesAreClosedWithoutAWait) {
    std::vector<DWORD> pids;
    for (const char16_t* line : {u"/bin/sh -c \"exit 0\"", u"/bin/sh -c \"exec sleep 0.3\""}) {
        ASSERT_TRUE(Start(line));
        pids.push_back(m_pi.dwProcessId);
        CloseHandles();
    }
    ASSERT_TRUE(CreateProcessW(nullptr, std::u16string(u"/bin/sh -c \"exit 1\"").data(), nullptr, nullptr,
                               FALSE, 0, nullptr, nullptr, nullptr, nullptr));
    int64_t deadline = zbw::DeadlineAfter(kWaitMs);
    for (DWORD pid : pids) {
        while (!IsGone(pid) && zbw::RemainingUntil(deadline) > 0) Sleep(20);
        EXPECT_TRUE(IsGone(pid)) << pid;
    }
}

TEST_F(ProcessTest, ExeSuffixStartsTheHostFileWithoutIt) {
    std::string host = Script("bin/prog", "exit 7");
    std::u16string exe = WindowsPath(host) + u".exe";
    ASSERT_TRUE(Start(u"\"" + exe + u"\" arg")) << GetLastError();
    EXPECT_EQ(WaitExitCode(), 7u);
    CloseHandles();
    ASSERT_TRUE(Start(u"anything arg", exe.c_str())) << GetLastError();
    EXPECT_EQ(WaitExitCode(), 7u);
}

TEST_F(ProcessTest, PassesArgumentsSplitByTheWindowsRules) {
    std::string host = Script("bin/args", "for a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$0.out\"");
    ASSERT_TRUE(Start(u"\"" + WindowsPath(host) + u"\" \"a b\" c\\\"d \"\" e\\f"));
    EXPECT_EQ(WaitExitCode(), 0u);
    EXPECT_EQ(ReadHostFile(host + ".out"), "[a b][c\"d][][e\\f]");
}

TEST_F(ProcessTest, ApplicationNameKeepsTheCommandLineArguments) {
    std::string host = Script("bin/args", "for a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$0.out\"");
    ASSERT_TRUE(Start(u"\"ignored program\" x \"y z\"", WindowsPath(host).c_str()));
    EXPECT_EQ(WaitExitCode(), 0u);
    EXPECT_EQ(ReadHostFile(host + ".out"), "[x][y z]");
}

TEST_F(ProcessTest, FindsAnUnquotedProgramPathWithBlanks) {
    std::string host = Script("with blank/sub dir/prog", "printf '[%s]' \"$@\" > \"$0.out\"");
    ASSERT_TRUE(Start(WindowsPath(host) + u".exe one two"));
    EXPECT_EQ(WaitExitCode(), 0u);
    EXPECT_EQ(ReadHostFile(host + ".out"), "[one][two]");
}

TEST_F(ProcessTest, StartsInTheGivenFolder) {
    std::string host = Script("bin/where", "pwd > \"$0.out\"");
    std::filesystem::create_directories(m_root.Path("work"));
    ASSERT_TRUE(
        Start(u"\"" + WindowsPath(host) + u"\"", nullptr, 0, WindowsPath(m_root.Path("work")).c_str()));
    EXPECT_EQ(WaitExitCode(), 0u);
    EXPECT_EQ(ReadHostFile(host + ".out"), std::filesystem::canonical(m_root.Path("work")).string() + "\n");
}

TEST_F(ProcessTest, PassesNoDescriptorBeyondTheStandardOnes) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);  // deliberately inheritable
    std::u16string probe =
        u"/bin/sh -c \"[ -e /proc/$$/fd/" + Wide(std::to_string(fds[1])) + u" ] && exit 1; exit 0\"";
    std::u16string line = probe;
    ASSERT_TRUE(
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, nullptr, &m_pi));
    EXPECT_EQ(WaitExitCode(), 0u);
    close(fds[0]);
    close(fds[1]);
}

struct FailureCase {
    const char* name;
    const char* what;
    DWORD error;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class ProcessFailureTest : public ProcessTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ProcessFailureTest, FailsWithTheWindowsCode) {
    Script("plain.txt", "exit 0", 0644);
    Script("garbage", "", 0755);
    WriteHostFile(m_root.Path("garbage"), "not a program\n");
    std::filesystem::create_directories(m_root.Path("folder"));
    std::string what = GetParam().what;
    std::u16string line = u"\"" + WindowsPath(m_root.Path(what)) + u"\" x";
    LPCWSTR folder = nullptr;
    std::u16string badFolder = WindowsPath(m_root.Path("no such folder"));
    if (what == "badfolder") {
        Script("ok", "exit 0");
        line = u"\"" + WindowsPath(m_root.Path("ok")) + u"\"";
        folder = badFolder.c_str();
    }
    EXPECT_FALSE(Start(line, nullptr, 0, folder));
    EXPECT_EQ(GetLastError(), GetParam().error);
    EXPECT_EQ(m_pi.hProcess, nullptr);
    EXPECT_EQ(m_pi.dwProcessId, 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, ProcessFailureTest,
                         ::testing::Values(FailureCase{"MissingFile", "missing.exe", ERROR_FILE_NOT_FOUND},
                                           FailureCase{"MissingFolder", "no dir/missing.exe",
                                                       ERROR_PATH_NOT_FOUND},
                                           FailureCase{"NotExecutable", "plain.txt", ERROR_ACCESS_DENIED},
                                           FailureCase{"Folder", "folder", ERROR_ACCESS_DENIED},
                                           FailureCase{"NoProgram", "garbage", ERROR_BAD_EXE_FORMAT},
                                           FailureCase{"BadCurrentFolder", "badfolder", ERROR_DIRECTORY}),
                         CaseName<FailureCase>);

TEST_F(ProcessTest, RefusesWhatItCannotDo) {
    char16_t env[] = u"A=B\0";
    std::u16string line = u"/bin/sh -c \"exit 0\"";
    EXPECT_FALSE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                                env, nullptr, nullptr, &m_pi));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(Start(line, nullptr, CREATE_SUSPENDED));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(
        CreateProcessW(nullptr, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &m_pi));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// Only ever lowers the child, so the test holds without the right to raise.
TEST_F(ProcessTest, SetsPriorityClassesAsNiceValues) {
    ASSERT_TRUE(Start(u"/bin/sh -c \"exec sleep 30\"", nullptr, BELOW_NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(getpriority(PRIO_PROCESS, m_pi.dwProcessId), 10);
    EXPECT_EQ(GetPriorityClass(m_pi.hProcess), static_cast<DWORD>(BELOW_NORMAL_PRIORITY_CLASS));
    // A thread's level stays the thread's own: the class alone sets the host priority.
    EXPECT_TRUE(SetThreadPriority(m_pi.hThread, THREAD_PRIORITY_IDLE));
    EXPECT_EQ(getpriority(PRIO_PROCESS, m_pi.dwProcessId), 10);
    EXPECT_TRUE(SetPriorityClass(m_pi.hProcess, IDLE_PRIORITY_CLASS));
    EXPECT_EQ(getpriority(PRIO_PROCESS, m_pi.dwProcessId), 19);
    EXPECT_EQ(GetPriorityClass(m_pi.hProcess), static_cast<DWORD>(IDLE_PRIORITY_CLASS));
    // Raising may be refused by the host; the call still succeeds.
    EXPECT_TRUE(SetPriorityClass(m_pi.hProcess, HIGH_PRIORITY_CLASS));
    EXPECT_EQ(GetPriorityClass(m_pi.hProcess), static_cast<DWORD>(HIGH_PRIORITY_CLASS));
    EXPECT_FALSE(SetPriorityClass(m_pi.hProcess, 0x12345));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
}

TEST_F(ProcessTest, RefusesHandlesThatAreNoProcess) {
    DWORD code = 0;
    HANDLE bogus = reinterpret_cast<HANDLE>(0x7654320);
    EXPECT_FALSE(GetExitCodeProcess(bogus, &code));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(TerminateProcess(bogus, 1));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetPriorityClass(bogus), 0u);
}

}  // namespace

TEST(ProcessLimitTest, HandleLimitRisesToTheHostsHardLimit) {
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    rlimit lowered = limit;
    lowered.rlim_cur = std::min<rlim_t>(limit.rlim_max, 256);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    EXPECT_TRUE(zbw::RaiseHandleLimit());
    rlimit raised{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &raised), 0);
    EXPECT_EQ(raised.rlim_cur, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
}
