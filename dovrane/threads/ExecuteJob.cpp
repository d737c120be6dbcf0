#include "dovrane/threads/ExecuteJob.h"

#include "common/DebugPrintf.h"
#include "common/LaunchProcess.h"
#include "platform/base/Clock.h"
#include "platform/classlib/SingleLock.h"
#include "platform/classlib/Time.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/Process.h"
#include "platform/win32/Thread.h"
#include "platform/win32/Wait.h"
#include "platform/win32/WinUser.h"

namespace {

constexpr DWORD kExecuteLockMs = 2000;
constexpr DWORD kEndLockMs = 5000;
constexpr DWORD kEndPauseMs = 100;
// A body that has decided to end only pauses and closes handles; this bounds the wait for it.
constexpr DWORD kEndingWaitMs = 2000;
constexpr int kQuitRequests = 60;
constexpr DWORD kQuitWaitMs = 1000;
constexpr int kAcknowledgeRounds = 11;
constexpr DWORD kAcknowledgeWaitMs = 500;
constexpr DWORD kAcknowledgePauseMs = 500;
constexpr DWORD kForcedExitCode = static_cast<DWORD>(-1);

}  // namespace

CExecuteJob::CExecuteJob() = default;

// The body uses this object's members: it must be gone (with its process) before they are.
CExecuteJob::~CExecuteJob() {
    StopAndWait();
}

bool CExecuteJob::Execute(const LAUNCHCOMMAND& command, int reason, HWND window, UINT message) {
    if (m_bRepeat && IsRunning()) {
        if (g_DebugPrintf.m_bDebug) g_DebugPrintf.Print(u"Already repeating");
        return true;
    }
    CSingleLock lock(&m_lock);
    lock.Lock(kExecuteLockMs);
    if (IsRunning() && !m_bEnding) {
        m_command = command;
        m_nPendingReason = reason;
        m_bRepeat = true;
        if (g_DebugPrintf.m_bDebug) g_DebugPrintf.Print(u"Set repeat flag");
        return true;
    }
    lock.Unlock();
    WaitForEnd();
    if (g_DebugPrintf.m_bDebug) g_DebugPrintf.Print(u"Not repeating");
    lock.Lock(kExecuteLockMs);
    m_bRepeat = false;
    m_bEnding = false;
    m_command = command;
    m_nReason = reason;
    lock.Unlock();
    return StartNotify(window, 0, message);
}

void CExecuteJob::WaitForEnd() {
    if (IsRunning()) WaitForSingleObject(m_hDoneEvent, kEndingWaitMs);
}

void CExecuteJob::Run() {
    for (;;) {
        bool repeat = false;
        if (!StartProcess(TakeCommand(), repeat)) {
            TakeRepeatOrEnd();
            NotifyOwner(EXECNOTIFY_FAILED);
            m_dwResult = 1;
            return;
        }
        NotifyOwner(repeat ? EXECNOTIFY_REPEATED : EXECNOTIFY_STARTED);
        if (!WaitForProcess()) break;
        ReadExitCode();
        // Not under the lock: the item's handling may queue the next run meanwhile.
        NotifyOwner(EXECNOTIFY_ENDED);
        Sleep(kEndPauseMs);
        const bool again = TakeRepeatOrEnd();
        CloseProcess();
        if (!again) return;
        m_nReason = m_nPendingReason.load();
    }
    EndProcess();
    {
        CSingleLock lock(&m_lock);
        lock.Lock(kEndLockMs);
        m_bRepeat = false;
        m_bEnding = true;
    }
    ReadExitCode();
    NotifyOwner(EXECNOTIFY_ENDED);
    Sleep(kEndPauseMs);
    CloseProcess();
}

LAUNCHCOMMAND CExecuteJob::TakeCommand() {
    CSingleLock lock(&m_lock);
    lock.Lock(kEndLockMs);
    return m_command;
}

bool CExecuteJob::TakeRepeatOrEnd() {
    CSingleLock lock(&m_lock);
    lock.Lock(kEndLockMs);
    if (m_bRepeat) return true;
    m_bEnding = true;
    return false;
}

bool CExecuteJob::StartProcess(const LAUNCHCOMMAND& command, bool& repeat) {
    repeat = m_bRepeat.exchange(false);
    PROCESS_INFORMATION info{};
    m_hProcess = command.strProgram.IsEmpty()
                     ? nullptr
                     : LaunchProcess(command.strProgram, command.GetCommandLine(), &m_dwMainThreadId, &info);
    m_hMainThread = info.hThread;
    m_dwProcessId = info.dwProcessId;
    m_nStartTime = CTime::GetCurrentTime().GetTime();
    return m_hProcess != nullptr;
}

bool CExecuteJob::WaitForProcess() {
    const HANDLE handles[] = {m_hStopEvent, m_hProcess};
    // A failed wait goes the stop way too, so the process is not left running.
    return WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
}

void CExecuteJob::EndProcess() {
    bool ended = false;
    for (int request = 0; request < kQuitRequests && !ended; ++request) {
        PostThreadMessageW(m_dwMainThreadId, WM_QUIT, 0, 0);
        SetPriorityClass(m_hProcess, HIGH_PRIORITY_CLASS);
        SetThreadPriority(m_hMainThread, THREAD_PRIORITY_TIME_CRITICAL);
        const DWORD wait = WaitForSingleObject(m_hProcess, kQuitWaitMs);
        ended = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED_0;
        // Not a time-out, so nothing to wait for any more: force it at once.
        if (wait == WAIT_FAILED) break;
    }
    if (!ended) TerminateProcess(m_hProcess, kForcedExitCode);
}

void CExecuteJob::ReadExitCode() {
    DWORD code = kForcedExitCode;  // an unreadable code must not read as success
    GetExitCodeProcess(m_hProcess, &code);
    m_dwExitCode = code;
}

void CExecuteJob::CloseProcess() {
    if (m_hMainThread) CloseHandle(m_hMainThread);
    if (m_hProcess) CloseHandle(m_hProcess);
    m_hMainThread = nullptr;
    m_hProcess = nullptr;
}

void CExecuteJob::NotifyOwner(EXECNOTIFY code) {
    m_bAcknowledged = false;
    if (g_DebugPrintf.m_bDebug)
        g_DebugPrintf.Print(u"Info: notify (CExecuteJob) wParam=%d lParam=%d", static_cast<int>(code),
                            static_cast<int>(m_dwThreadId));
    Notify(code, m_dwThreadId);
    for (int round = 0; !m_bAcknowledged;) {
        if (StopRequested(kAcknowledgeWaitMs)) break;
        Sleep(kAcknowledgePauseMs);
        if (++round == kAcknowledgeRounds) {
            if (!m_bAcknowledged)
                g_DebugPrintf.Print(u"Warning: end of process notification timeout (CExecuteJob)");
            break;
        }
    }
    m_bAcknowledged = true;
}

bool CExecuteJob::StopRequested(DWORD waitMs) const {
    return WaitForSingleObject(m_hStopEvent, waitMs) != WAIT_TIMEOUT;
}
