#include "common/ThreadJob.h"

#include <cstdio>

#include "platform/win32/SyncApi.h"
#include "platform/win32/Thread.h"
#include "platform/win32/Wait.h"
#include "platform/win32/WinUser.h"

namespace {

// How long StopAndWait waits before it says that a job ignores its stop event.
constexpr DWORD kStuckWarningMs = 5000;

}  // namespace

CThreadJob::CThreadJob()
    : m_hStopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_hDoneEvent(CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}

CThreadJob::~CThreadJob() {
    StopAndWait();
    CloseHandle(m_hStopEvent);
    CloseHandle(m_hDoneEvent);
}

bool CThreadJob::StartNotify(HWND owner, DWORD ownerThreadId, UINT message) {
    if (m_bRunning) return false;
    m_hWndOwner = owner;
    m_dwOwnerThreadId = ownerThreadId;
    m_uMessage = message;
    return Start();
}

bool CThreadJob::Start() {
    if (m_bRunning) return false;
    // A thread that has cleared the running flag may still be about to signal the done event;
    // it must be gone before the events are reset for the new run.
    ReleaseThread();
    m_bRunning = true;
    ResetEvent(m_hDoneEvent);
    ResetEvent(m_hStopEvent);
    m_dwResult = 0;
    m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, &m_dwThreadId);
    if (m_hThread) return true;
    m_bRunning = false;
    SetEvent(m_hDoneEvent);
    return false;
}

DWORD CThreadJob::ThreadProc(LPVOID parameter) {
    auto* job = static_cast<CThreadJob*>(parameter);
    job->Run();
    const DWORD result = job->m_dwResult;
    const HANDLE done = job->m_hDoneEvent;
    job->m_bRunning = false;
    // From here on the owner may free the job: touch nothing of it.
    SetEvent(done);
    return result;
}

bool CThreadJob::Stop(DWORD timeoutMs) {
    if (!m_bRunning) return true;
    SetEvent(m_hStopEvent);
    if (WaitForSingleObject(m_hDoneEvent, timeoutMs) != WAIT_OBJECT_0) return false;
    if (m_hThread) {
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    return true;
}

void CThreadJob::Notify(WPARAM wParam, LPARAM lParam) {
    if (!m_uMessage) return;
    if (m_hWndOwner)
        PostMessageW(m_hWndOwner, m_uMessage, wParam, lParam);
    else if (m_dwOwnerThreadId)
        PostThreadMessageW(m_dwOwnerThreadId, m_uMessage, wParam, lParam);
}

void CThreadJob::StopAndWait() {
    SetEvent(m_hStopEvent);
    if (!m_hThread) return;  // never started, or a Stop saw the body return
    if (WaitForSingleObject(m_hThread, kStuckWarningMs) == WAIT_TIMEOUT) {
        std::fprintf(stderr, "CThreadJob: thread %u ignores its stop event; waiting for it to end\n",
                     static_cast<unsigned>(m_dwThreadId));
        WaitForSingleObject(m_hThread, INFINITE);
    }
    ReleaseThread();
}

void CThreadJob::ReleaseThread() {
    if (!m_hThread) return;
    WaitForSingleObject(m_hThread, INFINITE);
    CloseHandle(m_hThread);
    m_hThread = nullptr;
}
