// The crash reporter in forked children that really crash: report, dump, call stack, chained handlers; fakes
// a temporary emulation root and a hidden dbghelp.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>

#include "common/CrashHandler.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "platform/win32/LateBound.h"
#include "tests/support/TestRoot.h"

namespace {

enum class Crash { NullWrite, Trap, Abort, DivideByZero, SentBus, StackOverflow };

int Recurse(int depth) {
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    if (depth < 0) return 0;
    return Recurse(depth + 1) + frame[0];
}

// The call-stack test looks for this function and its caller by name: neither may be inlined or
// cloned away in an optimised build.
[[noreturn, gnu::noipa]] void CrashNow(Crash how) {
    switch (how) {
        case Crash::NullWrite:
            *reinterpret_cast<volatile int*>(uintptr_t{16}) = 1;  // not null: the sanitizer would catch that
            break;
        case Crash::Trap: __builtin_trap();
        case Crash::Abort: std::abort();
        case Crash::DivideByZero:
#if defined(__x86_64__)
            // Plain C++ division by zero is undefined; the instruction itself raises the fault.
            asm volatile("xorl %%ecx, %%ecx\n\tcltd\n\tidivl %%ecx" ::: "eax", "ecx", "edx");
#endif
            break;
        case Crash::SentBus: raise(SIGBUS); break;
        case Crash::StackOverflow: Recurse(0); break;
    }
    _exit(99);
}

void ExitFromPreviousHandler(int, siginfo_t*, void*) {
    _exit(42);
}
void FaultFromPreviousHandler(int, siginfo_t*, void*) {
    CrashNow(Crash::NullWrite);
}

typedef void (*PREVIOUSHANDLER)(int, siginfo_t*, void*);

struct CHILDRESULT {
    bool ended = false;
    int status = 0;
};

// Runs a child that installs the reporter for programPath and crashes; bounded wait.
[[gnu::noipa]] CHILDRESULT RunCrashingChild(const CString& programPath, Crash how, bool hideDbgHelp = false,
                                            PREVIOUSHANDLER chainTo = nullptr) {
    pid_t pid = fork();
    if (pid == 0) {
        rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        // The sanitizers' own handlers would end the child with a plain exit code.
        struct sigaction previous {};
        sigemptyset(&previous.sa_mask);
        if (chainTo) {
            previous.sa_sigaction = chainTo;
            previous.sa_flags = SA_SIGINFO;
        } else {
            previous.sa_handler = SIG_DFL;
        }
        for (int sig : {SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigaction(sig, &previous, nullptr);
        // The second-crash case faults from the previous SIGABRT handler and must die by SIGSEGV.
        if (chainTo == &FaultFromPreviousHandler) {
            previous.sa_handler = SIG_DFL;
            previous.sa_flags = 0;
        }
        sigaction(SIGSEGV, &previous, nullptr);
        if (hideDbgHelp) zbw::HideLateBound("dbghelp");
        CCrashHandler handler(programPath);
        if (!handler.IsInstalled()) _exit(98);
        CrashNow(how);
    }
    CHILDRESULT result;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &result.status, WNOHANG) == pid) {
            result.ended = true;
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &result.status, 0);
    return result;
}

std::u16string FromUtf16Le(const std::string& bytes) {
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return text;
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

class CrashHandlerTest : public ::testing::Test {
   protected:
    void SetUp() override {
        ASSERT_TRUE(zbw::MapDrive(u'C', m_root.Path("c")));
        mkdir(m_root.Path("c").c_str(), 0755);
        mkdir(m_root.Path("c/app").c_str(), 0755);
    }

    std::string Report(const std::string& relative) {
        return zbw::ToUtf8(FromUtf16Le(ReadHostFile(m_root.Path(relative))));
    }

    CTestRoot m_root;
};

struct CRASHCASE {
    const char* name;
    Crash how;
    int signal;
    const char* codeLine;
};

void PrintTo(const CRASHCASE& c, std::ostream* os) {
    *os << c.name;
}

class CrashHandlerSignals : public CrashHandlerTest, public ::testing::WithParamInterface<CRASHCASE> {};

TEST_P(CrashHandlerSignals, WritesReportAndDumpThenDiesBySignal) {
    const CRASHCASE& crash = GetParam();
    CHILDRESULT result = RunCrashingChild(u"C:\\app\\zbengine.exe", crash.how);
    ASSERT_TRUE(result.ended);
    ASSERT_TRUE(WIFSIGNALED(result.status)) << "status " << result.status;
    EXPECT_EQ(WTERMSIG(result.status), crash.signal);

    std::string bytes = ReadHostFile(m_root.Path("c/app/zbengine.rpt"));
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("/\0/\0", 4));  // no byte-order mark
    std::string report = Report("c/app/zbengine.rpt");
    const char* const lines[] = {
        "//=====================================================\r\n"
        "Exception report created by ZBEngine 1.1 - 11000007 \r\n\r\nSystem details:\r\n",
        crash.codeLine,
        "Fault address:  ",
        "\r\n\r\nRegisters:\r\nEAX:",
        "\r\nEDI:",
        "\r\nCS:EIP:",
        "\r\nSS:ESP:",
        "  EBP:",
        "\r\nDS:0000  ES:0000  FS:",
        "\r\nFlags:",
    };
    size_t at = 0;
    for (const char* line : lines) {
        size_t found = report.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << "\nin:\n" << report;
        at = found + std::strlen(line);
    }
    EXPECT_EQ(report.substr(report.size() - 2), "\r\n");
    for (size_t i = 0; i < report.size(); ++i) {
        if (report[i] == '\n') {
            ASSERT_TRUE(i > 0 && report[i - 1] == '\r') << "bare LF at " << i;
        }
    }

    std::string dump = ReadHostFile(m_root.Path("c/app/zbengine.dmp"));
    ASSERT_GE(dump.size(), sizeof(CRASHDUMPHEADER));
    CRASHDUMPHEADER header;
    std::memcpy(&header, dump.data(), sizeof(header));
    EXPECT_EQ(std::string(header.Magic, 8), "ZBCRASH1");
    EXPECT_EQ(header.HeaderSize, sizeof(CRASHDUMPHEADER));
    EXPECT_EQ(header.Signal, static_cast<uint32_t>(crash.signal));
    EXPECT_GT(header.StackBytes, 0u);
    EXPECT_EQ(dump.size(), sizeof(CRASHDUMPHEADER) + header.StackBytes);
#if defined(__x86_64__)
    EXPECT_GE(header.StackPointer, header.Registers[REG_RSP]);
#endif
}

const CRASHCASE kCrashes[] = {
    {"NullWrite", Crash::NullWrite, SIGSEGV, "\r\nException code: C0000005 ACCESS_VIOLATION\r\n"},
    {"Trap", Crash::Trap, SIGILL, "\r\nException code: C000001D ILLEGAL_INSTRUCTION\r\n"},
    {"Abort", Crash::Abort, SIGABRT, "\r\nException code: 40000015 "},
#if defined(__x86_64__)
    {"DivideByZero", Crash::DivideByZero, SIGFPE, "\r\nException code: C0000094 INT_DIVIDE_BY_ZERO\r\n"},
#endif
    {"SentBus", Crash::SentBus, SIGBUS, "\r\nException code: C0000006 IN_PAGE_ERROR\r\n"},
    {"StackOverflow", Crash::StackOverflow, SIGSEGV, "\r\nException code: C00000FD STACK_OVERFLOW\r\n"},
};

INSTANTIATE_TEST_SUITE_P(Crashes, CrashHandlerSignals, ::testing::ValuesIn(kCrashes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CrashHandlerTest, FaultAddressNamesTheProgram) {
    RunCrashingChild(u"C:\\app\\zbengine.exe", Crash::NullWrite);
    std::string report = Report("c/app/zbengine.rpt");
    size_t line = report.find("Fault address:  ");
    ASSERT_NE(line, std::string::npos);
    std::string fault = report.substr(line, report.find("\r\n", line) - line);
    EXPECT_NE(fault.find("C:\\app\\zbengine.exe"), std::string::npos) << fault;
    EXPECT_EQ(fault.find(" 00:00000000 "), std::string::npos) << fault;
}

TEST_F(CrashHandlerTest, CallStackNamesTheCrashingFunctionsAndTheirCallers) {
    RunCrashingChild(u"C:\\app\\zbengine.exe", Crash::NullWrite);
    std::string report = Report("c/app/zbengine.rpt");
    const std::string head = "\r\nCall stack:\r\nAddress   Frame     Function            SourceFile\r\n";
    size_t first = report.find(head);
    ASSERT_NE(first, std::string::npos) << report;
    size_t locals = report.find("========================\r\nLocal Variables And Parameters\r\n", first);
    ASSERT_NE(locals, std::string::npos) << report;
    EXPECT_NE(report.find(head, locals), std::string::npos) << report;
    std::string stack = report.substr(first, locals - first);
    size_t crash = stack.find("CrashNow");
    size_t caller = stack.find("RunCrashingChild");
    ASSERT_NE(crash, std::string::npos) << stack;
    EXPECT_NE(caller, std::string::npos) << stack;
    EXPECT_LT(crash, caller) << stack;
    EXPECT_EQ(report.substr(report.size() - 4), "\r\n\r\n");
}

TEST_F(CrashHandlerTest, FallsBackToTheRootOfDriveC) {
    CHILDRESULT result = RunCrashingChild(u"C:\\missing\\zbengine.exe", Crash::NullWrite);
    ASSERT_TRUE(result.ended);
    EXPECT_TRUE(WIFSIGNALED(result.status) && WTERMSIG(result.status) == SIGSEGV);
    EXPECT_NE(Report("c/zbengine.rpt").find("ACCESS_VIOLATION"), std::string::npos);
    EXPECT_TRUE(Exists(m_root.Path("c/zbengine.dmp")));
}

TEST_F(CrashHandlerTest, WithoutDbgHelpNothingIsWritten) {
    CHILDRESULT result = RunCrashingChild(u"C:\\app\\zbengine.exe", Crash::NullWrite, true);
    ASSERT_TRUE(result.ended);
    EXPECT_TRUE(WIFSIGNALED(result.status) && WTERMSIG(result.status) == SIGSEGV);
    EXPECT_FALSE(Exists(m_root.Path("c/app/zbengine.rpt")));
    EXPECT_FALSE(Exists(m_root.Path("c/app/zbengine.dmp")));
}

TEST_F(CrashHandlerTest, HandsTheSignalOnToThePreviousHandler) {
    for (Crash how : {Crash::NullWrite, Crash::Abort}) {
        CHILDRESULT result = RunCrashingChild(u"C:\\app\\zbengine.exe", how, false, &ExitFromPreviousHandler);
        ASSERT_TRUE(result.ended);
        ASSERT_TRUE(WIFEXITED(result.status));
        EXPECT_EQ(WEXITSTATUS(result.status), 42);
        EXPECT_TRUE(Exists(m_root.Path("c/app/zbengine.rpt")));
    }
}

TEST_F(CrashHandlerTest, OnlyTheFirstCrashIsReported) {
    CHILDRESULT result =
        RunCrashingChild(u"C:\\app\\zbengine.exe", Crash::Abort, false, &FaultFromPreviousHandler);
    ASSERT_TRUE(result.ended);
    EXPECT_TRUE(WIFSIGNALED(result.status) && WTERMSIG(result.status) == SIGSEGV) << result.status;
    std::string report = Report("c/app/zbengine.rpt");
    EXPECT_NE(report.find("Exception code: 40000015"), std::string::npos) << report;
    EXPECT_EQ(report.find("ACCESS_VIOLATION"), std::string::npos);
}

bool SameAction(const struct sigaction& a, void (*handler)(int, siginfo_t*, void*)) {
    return (a.sa_flags & SA_SIGINFO) && a.sa_sigaction == handler;
}

TEST_F(CrashHandlerTest, DestructionRestoresThePreviousHandlers) {
    struct sigaction mine {
    }, saved[2];
    mine.sa_sigaction = &ExitFromPreviousHandler;
    mine.sa_flags = SA_SIGINFO;
    sigemptyset(&mine.sa_mask);
    sigaction(SIGSEGV, &mine, &saved[0]);
    sigaction(SIGABRT, &mine, &saved[1]);
    stack_t stackBefore{};
    sigaltstack(nullptr, &stackBefore);
    {
        CCrashHandler handler(u"C:\\app\\zbengine.exe");
        ASSERT_TRUE(handler.IsInstalled());
        CCrashHandler second(u"C:\\app\\other.exe");
        EXPECT_FALSE(second.IsInstalled());
        struct sigaction during {};
        sigaction(SIGSEGV, nullptr, &during);
        EXPECT_FALSE(SameAction(during, &ExitFromPreviousHandler));
        EXPECT_TRUE(during.sa_flags & SA_ONSTACK);
    }
    struct sigaction after {};
    sigaction(SIGSEGV, nullptr, &after);
    EXPECT_TRUE(SameAction(after, &ExitFromPreviousHandler));
    sigaction(SIGABRT, nullptr, &after);
    EXPECT_TRUE(SameAction(after, &ExitFromPreviousHandler));
    stack_t stackAfter{};
    sigaltstack(nullptr, &stackAfter);
    EXPECT_EQ(stackAfter.ss_sp, stackBefore.ss_sp);
    sigaction(SIGSEGV, &saved[0], nullptr);
    sigaction(SIGABRT, &saved[1], nullptr);
}

TEST(CrashFileName, ReplacesTheExtensionOfTheFileName) {
    const struct {
        const char16_t* program;
        const char16_t* report;
    } cases[] = {
        {u"C:\\app\\zbengine.exe", u"C:\\app\\zbengine.rpt"},
        {u"C:\\app\\zb.engine.exe", u"C:\\app\\zb.engine.rpt"},
        {u"C:\\app.d\\zbengine", u"C:\\app.d\\zbengine.rpt"},
        {u"C:\\app\\zbengine.", u"C:\\app\\zbengine.rpt"},
    };
    for (const auto& entry : cases) {
        EXPECT_TRUE(CCrashHandler::CrashFileName(entry.program, u"rpt") == CString(entry.report))
            << zbw::ToUtf8(entry.program);
    }
}

}  // namespace
