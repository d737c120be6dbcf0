// CDebugPrintf and CLog: line format, size cut, echo, several writer processes on one file; fakes a temporary
// emulation root and a pinned wall clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "common/DebugPrintf.h"
#include "common/Log.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Thread.h"
#include "tests/support/TestRoot.h"

namespace {

namespace fs = std::filesystem;

const size_t kLimitBytes = 1000 * 1024;

std::string Utf16Bytes(const std::u16string& text) {
    std::string bytes;
    for (char16_t ch : text) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

std::u16string FromUtf16Bytes(const std::string& bytes) {
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return text;
}

// Lines "line 000001 xxx...\r\n" of 100 units (200 bytes) each, filling exactly totalBytes (even);
// the last line takes what is left.
std::u16string FillerLines(size_t totalBytes) {
    const size_t lineUnits = 100;
    std::u16string text;
    size_t units = totalBytes / 2;
    for (int n = 1; text.size() < units; ++n) {
        size_t left = units - text.size();
        size_t length = left < 2 * lineUnits ? left : lineUnits;
        std::string number = "line " + std::to_string(1000000 + n).substr(1) + " ";
        std::u16string line(number.begin(), number.end());
        if (line.size() + 2 > length) line.clear();
        if (length >= 2) {
            line.resize(length - 2, u'x');
            line += u"\r\n";
        } else {
            line = u"\n";
        }
        text += line;
    }
    return text;
}

// What a cut must leave: the lines from the first one that starts at or after the middle (rounded
// up to an even byte), each ended by exactly one CR LF.
std::u16string ExpectedAfterCut(const std::u16string& before) {
    size_t bytes = before.size() * 2;
    size_t half = bytes / 2 + (bytes / 2) % 2;
    size_t start = half / 2;
    while (start > 0 && start < before.size() && before[start - 1] != u'\n') ++start;
    std::u16string kept, line;
    for (size_t i = start; i < before.size(); ++i) {
        if (before[i] == u'\n') {
            kept += line + u"\r\n";
            line.clear();
        } else if (before[i] != u'\r') {
            line += before[i];
        }
    }
    if (!line.empty()) kept += line + u"\r\n";
    return kept;
}

// Points standard output at a file for the lifetime of the object.
class CStdoutCapture {
   public:
    explicit CStdoutCapture(const std::string& path) {
        fflush(stdout);
        m_saved = dup(1);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        close(fd);
    }
    ~CStdoutCapture() {
        fflush(stdout);
        dup2(m_saved, 1);
        close(m_saved);
    }
    CStdoutCapture(const CStdoutCapture&) = delete;
    CStdoutCapture& operator=(const CStdoutCapture&) = delete;

   private:
    int m_saved;
};

class DebugPrintfTest : public ::testing::Test {
   protected:
    void TearDown() override { zbw::ResetClockForTest(); }

    std::string Host(const std::string& name) const { return m_root.Path(name); }
    CString Windows(const std::string& name) const { return zbw::ToWindowsPath(Host(name)); }
    std::u16string Text(const std::string& name) const { return FromUtf16Bytes(ReadHostFile(Host(name))); }
    void WriteText(const std::string& name, const std::u16string& text) const {
        ASSERT_TRUE(WriteHostFile(Host(name), Utf16Bytes(text)));
    }
    size_t Size(const std::string& name) const { return fs::file_size(Host(name)); }
    bool TempFilesLeft() const {
        for (const auto& entry : fs::directory_iterator(Host("tmp")))
            if (entry.path().filename().string().rfind("~zb", 0) == 0) return true;
        return false;
    }

    CTestRoot m_root;
};

TEST_F(DebugPrintfTest, SecondInitFailsAndKeepsTheFirstFile) {
    CDebugPrintf log;
    ASSERT_TRUE(log.Init(Windows("first.log")));
    EXPECT_FALSE(log.Init(Windows("second.log")));
    log.Print(u"hello");
    EXPECT_FALSE(fs::exists(Host("second.log")));
    EXPECT_NE(Text("first.log").find(u"] hello\r\n"), std::u16string::npos);
}

TEST_F(DebugPrintfTest, DetailLinesOnlyWhileDebugIsOn) {
    CDebugPrintf log;
    ASSERT_TRUE(log.Init(Windows("zb.log")));
    log.PrintDebug(u"hidden %d", 1);
    log.m_bDebug = true;
    log.PrintDebug(u"shown %d", 2);
    const std::u16string text = Text("zb.log");
    EXPECT_EQ(text.find(u"hidden"), std::u16string::npos);
    EXPECT_NE(text.find(u"] shown 2\r\n"), std::u16string::npos);
}

TEST_F(DebugPrintfTest, LinesWithoutAnOpenFileAreLost) {
    CDebugPrintf log;
    log.Print(u"before init");
    EXPECT_FALSE(log.Init(Windows("missing/zb.log")));
    log.Print(u"after a failed init");
    ASSERT_TRUE(log.Init(Windows("zb.log")));
    log.Print(u"kept");
    std::u16string text = Text("zb.log");
    EXPECT_EQ(text.find(u"before"), std::u16string::npos);
    EXPECT_EQ(text.find(u"failed"), std::u16string::npos);
    EXPECT_EQ(text.substr(text.size() - 6), u"kept\r\n");
}

TEST_F(DebugPrintfTest, LineIsUtf16WithThePrefixAndCrLf) {
    std::tm when{};
    when.tm_year = 2031 - 1900;
    when.tm_mon = 5;
    when.tm_mday = 15;
    when.tm_hour = 12;
    zbw::PinWallClock(static_cast<int64_t>(timegm(&when)) * 1000000);
    SYSTEMTIME local;
    GetLocalTime(&local);
    CDebugPrintf log;
    ASSERT_TRUE(log.Init(Windows("zb.log")));
    DWORD ticksBefore = GetTickCount();
    log.Print(u"Value %d %s %S", 42, u"w\u00e9de", "narrow");
    DWORD ticksAfter = GetTickCount();

    std::string bytes = ReadHostFile(Host("zb.log"));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_NE(bytes.substr(0, 2), "\xFF\xFE");
    std::string line = zbw::ToUtf8(FromUtf16Bytes(bytes));
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, std::regex(R"(.* \[(\d+)\.(\d{3})-PID:[\s\S]*)"))) << line;
    DWORD ticks = static_cast<DWORD>(std::stoul(m[1]) * 1000 + std::stoul(m[2]));
    EXPECT_GE(ticks, ticksBefore);
    EXPECT_LE(ticks, ticksAfter);

    char prefix[128];
    snprintf(prefix, sizeof prefix, "%02d/%02d/%04d %02d:%02d:%02d [%u.%03u-PID:%u-%05u] ", local.wMonth,
             local.wDay, local.wYear, local.wHour, local.wMinute, local.wSecond, ticks / 1000, ticks % 1000,
             static_cast<unsigned>(getpid()), static_cast<unsigned>(GetCurrentThreadId()));
    EXPECT_EQ(local.wYear, 2031);
    EXPECT_EQ(bytes, Utf16Bytes(zbw::FromUtf8(std::string(prefix) + "Value 42 w\xC3\xA9"
                                                                    "de narrow\r\n")
                                    .GetStdString()));
}

TEST_F(DebugPrintfTest, ExistingLinesStayAndNewOnesFollow) {
    WriteText("zb.log", u"old line\r\n");
    CDebugPrintf log;
    ASSERT_TRUE(log.Init(Windows("zb.log")));
    log.Print(u"new");
    std::u16string text = Text("zb.log");
    EXPECT_EQ(text.substr(0, 10), u"old line\r\n");
    EXPECT_EQ(text.substr(text.size() - 5), u"new\r\n");
}

TEST_F(DebugPrintfTest, MessageIsCutAt1023Characters) {
    CDebugPrintf log;
    ASSERT_TRUE(log.Init(Windows("zb.log")));
    log.Print(u"%s", std::u16string(2000, u'a'));
    std::u16string text = Text("zb.log");
    size_t start = text.find(u"] ") + 2;
    EXPECT_EQ(text.substr(start), std::u16string(1023, u'a') + u"\r\n");
}

TEST_F(DebugPrintfTest, FileOfExactlyTheLimitIsNotCutOneByteMoreIs) {
    std::u16string lines = FillerLines(kLimitBytes);
    WriteText("zb.log", lines);
    CDebugPrintf log;
    ASSERT_TRUE(log.Init(Windows("zb.log")));
    EXPECT_FALSE(log.LimitSize());
    EXPECT_EQ(Size("zb.log"), kLimitBytes);

    std::string bytes = ReadHostFile(Host("zb.log")) + "y";
    ASSERT_TRUE(WriteHostFile(Host("zb.log"), bytes));
    EXPECT_TRUE(log.LimitSize());
    EXPECT_EQ(Text("zb.log"), ExpectedAfterCut(lines));
    EXPECT_EQ(log.GetSizeLimitKB(), 1000u);
    EXPECT_FALSE(TempFilesLeft());
}

TEST_F(DebugPrintfTest, TheLineThatPassesTheLimitCutsTheFile) {
    CDebugPrintf probe;
    ASSERT_TRUE(probe.Init(Windows("probe.log")));
    probe.Print(u"m");
    size_t lineBytes = Size("probe.log");

    WriteText("zb.log", FillerLines(kLimitBytes - lineBytes));
    CDebugPrintf log;
    ASSERT_TRUE(log.Init(Windows("zb.log")));
    log.Print(u"m");
    ASSERT_EQ(Size("zb.log"), kLimitBytes);
    EXPECT_EQ(Text("zb.log").substr(0, 12), u"line 000001 ");

    std::u16string before = Text("zb.log");
    log.Print(u"m");
    std::u16string after = Text("zb.log");
    ASSERT_GT(after.size(), lineBytes / 2);
    std::u16string newLine = after.substr(after.size() - lineBytes / 2);
    EXPECT_EQ(newLine.substr(newLine.size() - 5), u"] m\r\n");
    EXPECT_EQ(after, ExpectedAfterCut(before + newLine));

    log.Print(u"next");  // the reopened file takes the following lines
    std::u16string later = Text("zb.log");
    EXPECT_EQ(later.substr(0, after.size()), after);
    EXPECT_EQ(later.substr(later.size() - 8), u"] next\r\n");
}

struct CutCase {
    const char* name;
    size_t
        lines;  // of 200 bytes each, then a tail of 200 bytes: an odd count puts the middle at a line start
};

void PrintTo(const CutCase& c, std::ostream* os) {
    *os << c.name;
}

class DebugPrintfCutTest : public DebugPrintfTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(DebugPrintfCutTest, KeepsWholeLinesFromTheMiddleEachWithOneCrLf) {
    std::u16string lines = FillerLines(GetParam().lines * 200);
    const std::u16string tail =
        u"bare line feed\nstray\rcarriage\r\r\n\r\n" + std::u16string(50, u'z') + u"last without end";
    ASSERT_EQ(tail.size(), 100u);
    lines += tail;
    WriteText("zb.log", lines);
    CDebugPrintf log;
    ASSERT_TRUE(log.Init(Windows("zb.log")));
    ASSERT_TRUE(log.LimitSize());

    std::u16string kept = Text("zb.log");
    EXPECT_EQ(kept, ExpectedAfterCut(lines));
    size_t firstLine = (GetParam().lines + 2) / 2 + 1;  // the line that starts at or after the middle
    std::string number = "line " + std::to_string(1000000 + firstLine).substr(1) + " ";
    EXPECT_EQ(zbw::ToUtf8(kept.substr(0, 12)), number);
    EXPECT_NE(kept.find(u"bare line feed\r\nstraycarriage\r\n\r\n" + std::u16string(50, u'z') +
                        u"last without end\r\n"),
              std::u16string::npos);
    EXPECT_EQ(kept.find(u"\r\r"), std::u16string::npos);
}

INSTANTIATE_TEST_SUITE_P(Middle, DebugPrintfCutTest,
                         ::testing::Values(CutCase{"AtALineStart", 5121}, CutCase{"InsideALine", 5122}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DebugPrintfTest, FailedCutTurnsSizeCheckingOff) {
    WriteText("zb.log", FillerLines(kLimitBytes + 200));
    setenv("TMPDIR", Host("no-such-folder").c_str(), 1);  // CTestRoot puts it back
    CDebugPrintf log;
    ASSERT_TRUE(log.Init(Windows("zb.log")));
    EXPECT_FALSE(log.LimitSize());
    EXPECT_EQ(log.GetSizeLimitKB(), 0u);
    setenv("TMPDIR", Host("tmp").c_str(), 1);
    log.Print(u"grows");
    EXPECT_GT(Size("zb.log"), kLimitBytes + 200);
    EXPECT_EQ(Text("zb.log").substr(0, 12), u"line 000001 ");
}

TEST_F(DebugPrintfTest, EchoWritesExactlyTheFileBytes) {
    CDebugPrintf log;
    ASSERT_TRUE(log.Init(Windows("zb.log")));
    log.m_bConsoleEcho = true;
    {
        CStdoutCapture capture(Host("stdout"));
        log.Print(u"echo %d", 1);
        log.Print(u"echo %s", u"\u00e9");
    }
    EXPECT_EQ(ReadHostFile(Host("stdout")), ReadHostFile(Host("zb.log")));
}

TEST_F(DebugPrintfTest, AnsiEchoWritesTheMessageAlone) {
    CDebugPrintf log;
    ASSERT_TRUE(log.Init(Windows("zb.log")));
    log.m_bConsoleEcho = true;
    log.m_bEchoAnsi = true;
    {
        CStdoutCapture capture(Host("stdout"));
        log.Print(u"caf\u00e9 e\u0301 %d", 7);
        log.Print(u"");
    }
    EXPECT_EQ(ReadHostFile(Host("stdout")), "caf\xE9 \xE9 7\r\n\r\n");
    EXPECT_NE(Text("zb.log").find(u"] caf\u00e9 e\u0301 7\r\n"), std::u16string::npos);
}

TEST_F(DebugPrintfTest, EchoIsOffAtStart) {
    CDebugPrintf log;
    ASSERT_TRUE(log.Init(Windows("zb.log")));
    {
        CStdoutCapture capture(Host("stdout"));
        log.Print(u"quiet");
    }
    EXPECT_EQ(ReadHostFile(Host("stdout")), "");
    EXPECT_FALSE(log.m_bDebug);
}

TEST_F(DebugPrintfTest, TraceLinesNameMessageFunctionAndCode) {
    CDebugPrintf log;
    ASSERT_TRUE(log.Init(Windows("zb.log")));
    CLog trace(log);
    EXPECT_EQ(trace.LogTrace("WSAAccept(...) failure", "Run", 10054), 0);
    EXPECT_EQ(trace.LogTrace("closesocket() failure", nullptr, -1), 0);
    std::u16string text = Text("zb.log");
    EXPECT_NE(text.find(u"] WSAAccept(...) failure.\t[Run]\t[10054]\r\n"), std::u16string::npos);
    EXPECT_NE(text.find(u"] closesocket() failure.\t[-1]\r\n"), std::u16string::npos);
}

// Each run of the service program writes the service's log beside the running service, so
// several processes append to one file at once: no line may overwrite or split another.
TEST_F(DebugPrintfTest, SeveralProcessesWritingOneFileKeepEveryLine) {
    const int kWriters = 8;
    const int kLines = 400;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        if (pid == 0) {
            close(gate[1]);
            char go;
            (void)!read(gate[0], &go, 1);  // all start together once the gate closes
            CDebugPrintf log;
            if (!log.Init(Windows("shared.log"))) _exit(1);
            for (int n = 0; n < kLines; ++n) log.Print(u"writer %d line %d", w, n);
            _exit(0);
        }
        ASSERT_GT(pid, 0);
        writers.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (pid_t pid : writers) {
        int status = -1;
        while (waitpid(pid, &status, WNOHANG) != pid && std::chrono::steady_clock::now() < deadline)
            usleep(10000);
        if (std::chrono::steady_clock::now() >= deadline) kill(pid, SIGKILL);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer " << pid;
    }

    std::map<std::string, int> seen;
    const std::regex line(
        R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d \[\d+\.\d{3}-PID:\d+-\d{5,}\] (writer \d+ line \d+))");
    std::string text = zbw::ToUtf8(Text("shared.log"));
    size_t start = 0;
    int malformed = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::smatch match;
        std::string one = text.substr(start, end - start);
        if (std::regex_match(one, match, line))
            ++seen[match[1]];
        else
            ++malformed;
    }
    EXPECT_EQ(start, text.size()) << "the file ends with a whole line";
    EXPECT_EQ(malformed, 0);
    int missing = 0;
    for (int w = 0; w < kWriters; ++w)
        for (int n = 0; n < kLines; ++n)
            if (seen["writer " + std::to_string(w) + " line " + std::to_string(n)] != 1) ++missing;
    EXPECT_EQ(missing, 0) << "of " << kWriters * kLines << " lines";
}

}  // namespace
