#include "common/Log.h"

#include "common/DebugPrintf.h"

CLog::CLog() : CLog(g_DebugPrintf) {}

CLog::CLog(CDebugPrintf& log) : m_log(log) {
    InitializeCriticalSection(&m_lock);
}

CLog::~CLog() {
    DeleteCriticalSection(&m_lock);
}

int CLog::LogTrace(const char* message, const char* function, int code) {
    EnterCriticalSection(&m_lock);
    if (function)
        m_log.Print(u"%S.\t[%S]\t[%d]", message, function, code);
    else
        m_log.Print(u"%S.\t[%d]", message, code);
    LeaveCriticalSection(&m_lock);
    return 0;
}
