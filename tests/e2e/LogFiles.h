// Reading the logs that the programs under test write: the engine's UTF-16LE log and the
// stand-in's ANSI log, as UTF-8 lines, and waiting (bounded) for a text to appear.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zbtest {

// The engine's log (UTF-16LE, no byte-order mark) as UTF-8; empty when missing.
std::string ReadUtf16Log(const std::string& hostPath);
// Lines ended by CR LF, without it; a last line without CR LF is left out.
std::vector<std::string> CrLfLines(const std::string& text);
// What follows the engine's line prefix ("... [s.mmm-PID:p-ttttt] "), or the line when it has none.
std::string EngineMessage(const std::string& line);
std::vector<std::string> EngineMessages(const std::string& hostPath);
// True once read() holds needle, polled until timeoutMs.
bool WaitForText(const std::function<std::string()>& read, const std::string& needle, unsigned timeoutMs);
bool WaitForEngineLog(const std::string& hostPath, const std::string& needle, unsigned timeoutMs = 20000);
// For work that logs as it goes (loading many profiles): true once the log holds needle; false
// when the log has not grown for idleMs, or after limitMs in all.
bool WaitForGrowingEngineLog(const std::string& hostPath, const std::string& needle, unsigned idleMs,
                             unsigned limitMs);
bool WaitForAnsiLog(const std::string& hostPath, const std::string& needle, unsigned timeoutMs = 20000);
// How often needle occurs in haystack.
int CountOf(const std::string& haystack, const std::string& needle);
// Whether wanted appears in lines in this order (other lines may come between).
bool InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& wanted);

}  // namespace zbtest
