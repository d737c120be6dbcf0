// eventlog: prints the entries of the emulated Application event log, oldest first, one line
// each, for operators and tests:
//
//   eventlog [/source NAME]
//
//   TIME TYPE SOURCE EVENTID USER: MESSAGE
//
// The message is the event's strings joined by a blank (the engine writes one), with line breaks,
// tabs and other control characters shown as "\n", "\t", "\xHH" and "\" as "\\", so that every
// entry stays on one line. USER is "-" for an event without a user. /source (also -source or /s)
// keeps the entries of one source, compared without case. Output is UTF-8.
// Exit code 0 (also for an empty or missing log), 1 for bad arguments or an unreadable log.
// Lines of the file that are not events are counted on standard error.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/base/CString.h"
#include "platform/base/TextConvert.h"
#include "platform/win32/EventLogApi.h"

namespace {

const char kUsage[] = "Usage: eventlog [/source NAME]\n";

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool IsSourceSwitch(const std::string& arg) {
    const std::string a = Lower(arg);
    return a == "/source" || a == "-source" || a == "/s" || a == "-s";
}

bool IsHelp(const std::string& arg) {
    return arg == "/?" || arg == "-h" || arg == "--help";
}

std::string Message(const zbw::EVENTRECORD& record) {
    std::string text;
    for (size_t i = 0; i < record.strings.size(); ++i) {
        if (i > 0) text += " ";
        text += zbw::EscapeEventText(record.strings[i]);
    }
    return text;
}

void Print(const zbw::EVENTRECORD& record) {
    const std::string user = record.user.IsEmpty() ? std::string("-") : zbw::ToUtf8(record.user);
    std::printf("%s %s %s %u %s: %s\n", record.time.c_str(), zbw::EventTypeName(record.type),
                zbw::EscapeEventText(record.source).c_str(), static_cast<unsigned>(record.eventId),
                user.c_str(), Message(record).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    CString source;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (IsHelp(arg)) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!IsSourceSwitch(arg) || i + 1 == argc) {
            std::fputs(kUsage, stderr);
            return 1;
        }
        source = zbw::FromUtf8(argv[++i]);
    }
    std::vector<zbw::EVENTRECORD> records;
    int badLines = 0;
    if (!zbw::ReadEventLog(&records, &badLines)) {
        std::fprintf(stderr, "ERROR: cannot read %s\n", zbw::EventLogPath().c_str());
        return 1;
    }
    for (const zbw::EVENTRECORD& record : records) {
        if (source.IsEmpty() || record.source.CompareNoCase(source) == 0) Print(record);
    }
    if (badLines > 0) std::fprintf(stderr, "eventlog: %d line(s) of the log are not events\n", badLines);
    return 0;
}
