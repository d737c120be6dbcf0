// CWinThread and AfxBeginThread: the class library's worker threads.
//
// AfxBeginThread starts proc(param) on a new thread and returns its CWinThread, or null when
// the thread cannot be made. With m_bAutoDelete (the default) the object deletes itself, and
// closes m_hThread, when proc returns; the caller must not use it after that, as with the class
// library. m_hThread and m_nThreadID are set before proc runs. Left out: user-interface threads
// (a CWinThread subclass with its own message loop) and CREATE_SUSPENDED (refused: null).
#pragma once

#include "platform/classlib/Object.h"
#include "platform/win32/Thread.h"

typedef UINT (*AFX_THREADPROC)(LPVOID);

class CWinThread : public CObject {
   public:
    CWinThread(AFX_THREADPROC proc, LPVOID param);
    ~CWinThread() override;
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    operator HANDLE() const { return m_hThread; }
    // Starts the thread; FALSE with the last error set when it cannot be made.
    BOOL CreateThread(DWORD createFlags = 0, UINT stackSize = 0, LPSECURITY_ATTRIBUTES attributes = nullptr,
                      int priority = THREAD_PRIORITY_NORMAL);
    BOOL SetThreadPriority(int priority) { return ::SetThreadPriority(m_hThread, priority); }
    int GetThreadPriority() { return ::GetThreadPriority(m_hThread); }

    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;

   private:
    AFX_THREADPROC m_pfnThreadProc;
    LPVOID m_pThreadParams;
};

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD createFlags = 0,
                           LPSECURITY_ATTRIBUTES attributes = nullptr);
