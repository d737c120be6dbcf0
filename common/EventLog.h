// CEventLog: the engine's writer to the Application event log, and g_EventLog, the one
// instance each program has (built before the program's other globals except the debug log,
// and destroyed after them).
//
// OpenEventSource registers the source under the key
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Eventlog\Application\<name>
// (EventMessageFile = the program's folder + "\zbengine.exe", TypesSupported = 31) and opens
// it only when that key could be written: an engine without machine rights writes no events.
// Each event carries the SID of the current user (the thread's token, else the process's),
// category 0, event number 1 and the text as its one insertion string, shown by the program's
// message "%1".
//
// Threads: any thread may write; one lock makes opening, closing and writing exclusive, so a
// write never uses a handle that another thread is closing.
// Failures are silent: the functions return false and the program goes on.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/WinTypes.h"
#include "platform/win32/EventLogApi.h"

class CEventLog {
   public:
    CEventLog() = default;
    ~CEventLog();
    CEventLog(const CEventLog&) = delete;
    CEventLog& operator=(const CEventLog&) = delete;

    // A null or empty name changes nothing. Otherwise the open source (if any) is closed and
    // the name (its first 518 characters) is registered and opened. True when a source is open.
    bool OpenEventSource(LPCWSTR sourceName);
    // type: EVENTLOG_ERROR_TYPE, EVENTLOG_WARNING_TYPE or EVENTLOG_INFORMATION_TYPE.
    // False when no source is open, the text is null or the report fails.
    bool WriteEventLog(WORD type, LPCWSTR text);
    // Writes the source's registry key; false when the name is empty or the key cannot be made.
    bool InstallEventSource(LPCWSTR sourceName);

   private:
    static const int kNameBufferSize = 520;

    void CloseSource();
    // The current user's SID in binary form; empty when it cannot be read.
    static std::vector<BYTE> CurrentUserSid();

    std::mutex m_lock;
    HANDLE m_hEventSource = nullptr;
    std::unique_ptr<char16_t[]> m_pszSourceName;  // made on first use
};

extern CEventLog g_EventLog;
