#include "platform/win32/EventLogApi.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/EmulationRoot.h"
#include "platform/host/HostIo.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/Token.h"

namespace {

struct TYPENAME {
    WORD type;
    const char* name;
};
const TYPENAME kTypeNames[] = {{EVENTLOG_SUCCESS, "Success"},
                               {EVENTLOG_ERROR_TYPE, "Error"},
                               {EVENTLOG_WARNING_TYPE, "Warning"},
                               {EVENTLOG_INFORMATION_TYPE, "Information"},
                               {EVENTLOG_AUDIT_SUCCESS, "Audit Success"},
                               {EVENTLOG_AUDIT_FAILURE, "Audit Failure"}};

class CEventSource : public CKernelObject {
   public:
    explicit CEventSource(std::string field) : m_field(std::move(field)) {}
    // The source name, escaped for its field.
    const std::string& Field() const { return m_field; }

   private:
    std::string m_field;
};

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20 || u == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool Unescape(const std::string& field, std::string* text) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            out += field[i];
            continue;
        }
        if (++i == field.size()) return false;
        switch (field[i]) {
            case '\\': out += '\\'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'n': out += '\n'; break;
            case 'x': {
                const int high = i + 2 < field.size() ? HexDigit(field[i + 1]) : -1;
                const int low = high >= 0 ? HexDigit(field[i + 2]) : -1;
                if (low < 0) return false;
                out += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default: return false;
        }
    }
    *text = std::move(out);
    return true;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t begin = 0;
    for (;;) {
        const size_t tab = line.find('\t', begin);
        fields.push_back(line.substr(begin, tab == std::string::npos ? std::string::npos : tab - begin));
        if (tab == std::string::npos) return fields;
        begin = tab + 1;
    }
}

std::string TimeField() {
    const int64_t micros = zbw::WallNowMicros();
    const time_t seconds = static_cast<time_t>(micros / 1000000);
    struct tm t {};
    gmtime_r(&seconds, &t);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(micros / 1000 % 1000));
    return text;
}

bool ParseDecimal(const std::string& text, uint64_t limit, uint64_t* value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    *value = n;
    return n <= limit;
}

bool LockFile(int fd, int operation) {
    while (flock(fd, operation) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

// Takes back the start of a line that could not be written whole.
void CutBack(int fd, off_t size) {
    while (ftruncate(fd, size) != 0 && errno == EINTR) {
    }
}

// Appends the line whole or not at all.
BOOL AppendLine(const std::string& line) {
    const std::string path = zbw::EventLogPath();
    // Every user's processes write here, whoever made the file.
    const int fd = zbw::OpenSharedFile(path, O_WRONLY | O_APPEND);
    if (fd < 0) return Fail(zbw::SetLastErrorFromErrno());
    struct stat before {};
    if (!LockFile(fd, LOCK_EX) || fstat(fd, &before) != 0) {
        const DWORD error = zbw::SetLastErrorFromErrno();
        close(fd);
        return Fail(error);
    }
    const bool written = zbw::WriteAll(fd, line);
    const DWORD error = written ? ERROR_SUCCESS : zbw::SetLastErrorFromErrno();
    if (!written) CutBack(fd, before.st_size);
    close(fd);
    return written ? TRUE : Fail(error);
}

bool StringsValid(WORD count, LPCWSTR* strings) {
    if (count > 0 && !strings) return false;
    for (WORD i = 0; i < count; ++i) {
        if (!strings[i]) return false;
    }
    return true;
}

}  // namespace

HANDLE RegisterEventSourceW(LPCWSTR lpUNCServerName, LPCWSTR lpSourceName) {
    if (lpUNCServerName && *lpUNCServerName) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if (!lpSourceName || !*lpSourceName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return zbw::NewHandle(new CEventSource(Escape(zbw::ToUtf8(lpSourceName))));
}

BOOL DeregisterEventSource(HANDLE hEventLog) {
    if (!zbw::LookupHandle(hEventLog).As<CEventSource>()) return Fail(ERROR_INVALID_HANDLE);
    return CloseHandle(hEventLog);
}

BOOL ReportEventW(HANDLE hEventLog, WORD wType, WORD, DWORD dwEventID, PSID lpUserSid, WORD wNumStrings,
                  DWORD, LPCWSTR* lpStrings, LPVOID) {
    CKernelRef ref = zbw::LookupHandle(hEventLog);
    CEventSource* source = ref.As<CEventSource>();
    if (!source) return Fail(ERROR_INVALID_HANDLE);
    const char* typeName = zbw::EventTypeName(wType);
    if (!typeName || (lpUserSid && !IsValidSid(lpUserSid)) || !StringsValid(wNumStrings, lpStrings)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::string line = TimeField() + "\t" + source->Field() + "\t" + typeName + "\t" +
                       std::to_string(dwEventID) + "\t" +
                       (lpUserSid ? zbw::ToUtf8(zbw::SidToText(lpUserSid)) : std::string("-"));
    for (WORD i = 0; i < wNumStrings; ++i) line += "\t" + Escape(zbw::ToUtf8(lpStrings[i]));
    return AppendLine(line + "\n");
}

namespace zbw {

std::string EventLogPath() {
    return MachineSubdir("eventlog") + "/Application.log";
}

std::string EscapeEventText(const CString& text) {
    return Escape(ToUtf8(text));
}

const char* EventTypeName(WORD type) {
    for (const TYPENAME& t : kTypeNames) {
        if (t.type == type) return t.name;
    }
    return nullptr;
}

bool ParseEventLine(const std::string& line, EVENTRECORD* record) {
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() < 5 || fields[0].empty()) return false;
    EVENTRECORD r;
    r.time = fields[0];
    std::string text;
    if (!Unescape(fields[1], &text) || text.empty()) return false;
    r.source = FromUtf8(text);
    const TYPENAME* type = nullptr;
    for (const TYPENAME& t : kTypeNames) {
        if (fields[2] == t.name) type = &t;
    }
    uint64_t id = 0;
    if (!type || !ParseDecimal(fields[3], 0xFFFFFFFFull, &id)) return false;
    r.type = type->type;
    r.eventId = static_cast<DWORD>(id);
    if (fields[4] != "-") r.user = FromUtf8(fields[4]);
    for (size_t i = 5; i < fields.size(); ++i) {
        if (!Unescape(fields[i], &text)) return false;
        r.strings.push_back(FromUtf8(text));
    }
    *record = std::move(r);
    return true;
}

bool ReadEventLog(std::vector<EVENTRECORD>* records, int* badLines) {
    int ignoredBadLines = 0;
    if (!badLines) badLines = &ignoredBadLines;
    records->clear();
    *badLines = 0;
    const int fd = open(EventLogPath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    std::string bytes;
    const bool read = LockFile(fd, LOCK_SH) && ReadAll(fd, bytes);
    close(fd);
    if (!read) return false;
    size_t begin = 0;
    while (begin < bytes.size()) {
        size_t end = bytes.find('\n', begin);
        if (end == std::string::npos) end = bytes.size();
        EVENTRECORD record;
        if (ParseEventLine(bytes.substr(begin, end - begin), &record))
            records->push_back(std::move(record));
        else
            ++*badLines;
        begin = end + 1;
    }
    return true;
}

}  // namespace zbw
