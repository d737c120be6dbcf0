// CLog: socket-server traces in the debug log, one line per call:
//   "<message>.\t[<function>]\t[<code>]", or "<message>.\t[<code>]" without a function name.
// Message and function name are 8-bit texts (ANSI). Any thread may call LogTrace; the trace's own
// lock is taken before the log's lock, never the other way round. The log is g_DebugPrintf
// unless the owner names another one; it must outlive the trace.
#pragma once

#include "platform/win32/SyncApi.h"

class CDebugPrintf;

class CLog {
   public:
    CLog();
    explicit CLog(CDebugPrintf& log);
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;
    virtual ~CLog();

    // Always 0.
    int LogTrace(const char* message, const char* function, int code);

   private:
    CDebugPrintf& m_log;
    CRITICAL_SECTION m_lock;
};
