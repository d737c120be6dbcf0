// The event log: RegisterEventSourceW, ReportEventW and DeregisterEventSource, and the
// reader's side of the file they write.
//
// Every event goes to one file in the machine part of the emulation root,
// <machine>/eventlog/Application.log, whatever log the source is registered under. Each event is
// one line of UTF-8 text, appended under an exclusive flock of the file so that any number of
// processes may write at once and lines never mix. The fields are separated by a tab:
//   TIME  SOURCE  TYPE  EVENTID  USER  STRING...
// TIME is the layer's wall clock in UTC, "YYYY-MM-DDThh:mm:ss.mmmZ"; TYPE is one of "Success",
// "Error", "Warning", "Information", "Audit Success", "Audit Failure"; EVENTID is decimal; USER
// is the SID text of the event's user ("S-1-5-21-...") or "-" when none was given; then one
// field per insertion string (none when the event has none). In SOURCE and the strings "\" is
// written "\\", tab "\t", CR "\r", LF "\n" and any other character below 0x20 "\xHH", so a
// text can never start a line of its own. A write that fails part-way is cut back off the file.
//
// Kept from Windows: the handle life cycle (a source opens whether or not it is registered;
// ReportEventW and DeregisterEventSource refuse anything but a live source handle with
// ERROR_INVALID_HANDLE), ERROR_INVALID_PARAMETER for a missing source name, a null string
// among the insertion strings, an unknown event type or an invalid SID.
// Left out: remote computers (a server name other than null or "" fails with
// ERROR_NOT_SUPPORTED), message files and categories (the category and the binary data are not
// kept: the system sends neither), separate logs per source, log size limits, backups, the
// reading API of Windows (the reader here is zbw::ReadEventLog) and a syslog mirror.
//
// Any thread may call these; a source handle belongs to the process.
#pragma once

#include <string>
#include <vector>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

#define EVENTLOG_SUCCESS 0x0000u
#define EVENTLOG_ERROR_TYPE 0x0001u
#define EVENTLOG_WARNING_TYPE 0x0002u
#define EVENTLOG_INFORMATION_TYPE 0x0004u
#define EVENTLOG_AUDIT_SUCCESS 0x0008u
#define EVENTLOG_AUDIT_FAILURE 0x0010u

HANDLE RegisterEventSourceW(LPCWSTR lpUNCServerName, LPCWSTR lpSourceName);
BOOL DeregisterEventSource(HANDLE hEventLog);
BOOL ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                  WORD wNumStrings, DWORD dwDataSize, LPCWSTR* lpStrings, LPVOID lpRawData);

namespace zbw {

// One event as read back from the file.
struct EVENTRECORD {
    std::string time;  // as written, UTC
    CString source;
    WORD type = 0;
    DWORD eventId = 0;
    CString user;  // SID text, empty when none
    std::vector<CString> strings;
};

// Host path of the log file.
std::string EventLogPath();
// One line of the file (without its line break); false when it is not an event line.
bool ParseEventLine(const std::string& line, EVENTRECORD* record);
// The text with the escapes of the file's fields (above), for one-line output.
std::string EscapeEventText(const CString& text);
// "Error", "Warning" ...; null for an unknown type.
const char* EventTypeName(WORD type);
// Every event of the file in the order written, and the number of lines that did not parse
// (badLines may be null).
// False only when the file exists but cannot be read; a missing file is an empty log.
bool ReadEventLog(std::vector<EVENTRECORD>* records, int* badLines);

}  // namespace zbw
