#include "platform/classlib/WinThread.h"

#include "platform/base/WinError.h"

CWinThread::CWinThread(AFX_THREADPROC proc, LPVOID param) : m_pfnThreadProc(proc), m_pThreadParams(param) {}

CWinThread::~CWinThread() {
    if (m_hThread) CloseHandle(m_hThread);
}

BOOL CWinThread::CreateThread(DWORD createFlags, UINT stackSize, LPSECURITY_ATTRIBUTES, int priority) {
    constexpr DWORD kCreateSuspended = 0x4;
    if (createFlags & kCreateSuspended) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    auto body = [this] {
        DWORD code = m_pfnThreadProc(m_pThreadParams);
        if (m_bAutoDelete) delete this;
        return code;
    };
    auto created = [this, priority](HANDLE handle, DWORD tid) {
        m_hThread = handle;
        m_nThreadID = tid;
        if (priority != THREAD_PRIORITY_NORMAL) ::SetThreadPriority(handle, priority);
    };
    return zbw::SpawnThread(body, stackSize, created) ? TRUE : FALSE;
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority, UINT stackSize, DWORD createFlags,
                           LPSECURITY_ATTRIBUTES attributes) {
    auto* thread = new CWinThread(proc, param);
    if (!thread->CreateThread(createFlags, stackSize, attributes, priority)) {
        delete thread;
        return nullptr;
    }
    return thread;
}
