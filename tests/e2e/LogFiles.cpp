// Support for end-to-end tests: reads the programs' logs and waits (bounded) for a text; fakes nothing.
#include "tests/e2e/LogFiles.h"

#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "tests/support/TestRoot.h"

namespace zbtest {

std::string ReadUtf16Log(const std::string& hostPath) {
    std::string bytes = ReadHostFile(hostPath);
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return zbw::ToUtf8(text);
}

std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string EngineMessage(const std::string& line) {
    size_t close = line.find("] ");
    return close == std::string::npos ? line : line.substr(close + 2);
}

std::vector<std::string> EngineMessages(const std::string& hostPath) {
    std::vector<std::string> messages;
    for (const std::string& line : CrLfLines(ReadUtf16Log(hostPath))) messages.push_back(EngineMessage(line));
    return messages;
}

bool WaitForText(const std::function<std::string()>& read, const std::string& needle, unsigned timeoutMs) {
    int64_t deadline = zbw::DeadlineAfter(timeoutMs);
    for (;;) {
        if (read().find(needle) != std::string::npos) return true;
        if (zbw::RemainingUntil(deadline) == 0) return false;
        Sleep(20);
    }
}

bool WaitForEngineLog(const std::string& hostPath, const std::string& needle, unsigned timeoutMs) {
    return WaitForText([&] { return ReadUtf16Log(hostPath); }, needle, timeoutMs);
}

bool WaitForGrowingEngineLog(const std::string& hostPath, const std::string& needle, unsigned idleMs,
                             unsigned limitMs) {
    const int64_t limit = zbw::DeadlineAfter(limitMs);
    int64_t idle = zbw::DeadlineAfter(idleMs);
    size_t seen = 0;
    for (;;) {
        const std::string log = ReadUtf16Log(hostPath);
        if (log.find(needle) != std::string::npos) return true;
        if (log.size() != seen) {
            seen = log.size();
            idle = zbw::DeadlineAfter(idleMs);
        }
        if (zbw::RemainingUntil(limit) == 0 || zbw::RemainingUntil(idle) == 0) return false;
        Sleep(20);
    }
}

bool WaitForAnsiLog(const std::string& hostPath, const std::string& needle, unsigned timeoutMs) {
    return WaitForText([&] { return ReadHostFile(hostPath); }, needle, timeoutMs);
}

int CountOf(const std::string& haystack, const std::string& needle) {
    int count = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1))
        ++count;
    return count;
}

bool InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
    size_t next = 0;
    for (const std::string& line : lines) {
        if (next < wanted.size() && line == wanted[next]) ++next;
    }
    return next == wanted.size();
}

}  // namespace zbtest
