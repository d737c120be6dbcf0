#include "dovrane/MainWnd.h"

#include <cstdio>
#include <functional>
#include <optional>

#include "common/DebugPrintf.h"
#include "common/EventLog.h"
#include "common/ShutdownBlockLoader.h"
#include "dovrane/AutoStart.h"
#include "dovrane/dovraneApp.h"
#include "dovrane/threads/RunItem.h"
#include "dovrane/web/EngineCall.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/Thread.h"
#include "platform/win32/Wait.h"

namespace {

const char16_t kAutoStartNotRemoved[] = u"ZBEngine autostart could not be removed";

CString ArgumentOf(const CString* text) {
    return text ? *text : CString();
}

// Lifecycle commands go to the log and, as information entries, to the event log.
void LogAndReport(LPCWSTR text) {
    g_EventLog.WriteEventLog(EVENTLOG_INFORMATION_TYPE, text);
    g_DebugPrintf.Print(u"%s", text);
}

}  // namespace

BEGIN_MESSAGE_MAP(CMainWnd, CWnd)
ON_WM_CREATE()
ON_WM_DESTROY()
ON_WM_TIMER()
ON_MESSAGE(WM_ENGINE_COMMAND, &CMainWnd::OnEngineCommand)
ON_MESSAGE(WM_ENGINE_CALL, &CMainWnd::OnEngineCall)
END_MESSAGE_MAP()

CMainWnd::CMainWnd(CdovraneApp& app) : m_app(app) {}

CMainWnd::~CMainWnd() = default;

BOOL CMainWnd::CreateEngineWindow() {
    LPCWSTR windowClass = AfxRegisterWndClass(0);
    return CreateEx(0, windowClass, u"zbengine", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                    CW_USEDEFAULT, nullptr, nullptr);
}

int CMainWnd::OnCreate(LPCREATESTRUCT createStruct) {
    if (CWnd::OnCreate(createStruct) == -1) return -1;
    return SetTimer(kStatusTimer, kStatusTimerMs) ? 0 : -1;
}

// A server that cannot serve (another engine, its port, the start-up load, its sockets) ends
// the engine with its status as exit code.
void CMainWnd::OnTimer(UINT_PTR id) {
    if (id == kDeferredTimer) CarryOutDeferredCalls();
    if (id == kStatusTimer) {
        const int status = m_app.GetIPServer().GetServerStatusCode();
        if (IsFinalServerStatus(status)) PostQuitMessage(status);
    }
    CWnd::OnTimer(id);
}

void CMainWnd::OnDestroy() {
    KillTimer(kStatusTimer);
    KillTimer(kDeferredTimer);
    CWnd::OnDestroy();
}

LRESULT CMainWnd::OnEngineCommand(WPARAM code, LPARAM text) {
    CString* argument = reinterpret_cast<CString*>(text);
    // A plain sent command (the command server's load and save at its start) is served inside a
    // run item's stop pump too: replacing or removing items then would free the item that pumps,
    // and a save would write the list halfway through its change (a load empties it first), so
    // those fail. Calls never get here during a pump: they are held back until it is over.
    if (CRunItem::IsPumping() && TouchesTheItemList(code)) return 0;
    switch (code) {
        case ENGINE_CMD_SHUTDOWN: OnShutdownCommand(); return 0;
        case ENGINE_CMD_RESTART: OnRestartCommand(); return 0;
        case ENGINE_CMD_LOAD:
        case ENGINE_CMD_SAVE: return OnSettingsFileCommand(code, argument);
        case ENGINE_CMD_REMOVE: return m_app.GetRunItemList().RemoveProfile(ArgumentOf(argument));
        case ENGINE_CMD_ADD: return m_app.GetRunItemList().AddProfileFromXml(ArgumentOf(argument));
        case ENGINE_CMD_SET: return m_app.GetRunItemList().UpdateProfileFromXml(ArgumentOf(argument));
        default: return OnRunItemCommand(code, ArgumentOf(argument));
    }
}

bool CMainWnd::TouchesTheItemList(WPARAM code) {
    return code == ENGINE_CMD_LOAD || code == ENGINE_CMD_SAVE || code == ENGINE_CMD_REMOVE ||
           code == ENGINE_CMD_ADD || code == ENGINE_CMD_SET;
}

LRESULT CMainWnd::OnRunItemCommand(WPARAM code, const CString& argument) {
    CRunItemList& list = m_app.GetRunItemList();
    switch (code) {
        case ENGINE_CMD_RUN: return list.RunProfile(argument, RUNREASON_MANUAL, nullptr);
        case ENGINE_CMD_RUN_CATEGORY: list.RunCategory(argument); return TRUE;
        case ENGINE_CMD_RUN_IN_SEQUENCE: list.RunCategoryInSequence(argument); return TRUE;
        case ENGINE_CMD_STOP: return list.StopProfile(argument);
        case ENGINE_CMD_STOP_CATEGORY: list.StopCategory(argument); return TRUE;
        case ENGINE_CMD_ENABLE: return list.EnableProfile(argument);
        case ENGINE_CMD_ENABLE_CATEGORY: list.EnableCategory(argument); return TRUE;
        case ENGINE_CMD_DISABLE: return list.DisableProfile(argument);
        case ENGINE_CMD_DISABLE_CATEGORY: list.DisableCategory(argument); return TRUE;
        case ENGINE_CMD_MOVE_UP:
        case ENGINE_CMD_MOVE_DOWN: {
            const int split = argument.Find(ENGINE_ARGUMENT_SEPARATOR);
            const CString name = split < 0 ? argument : argument.Left(split);
            const CString category = split < 0 ? CString() : argument.Mid(split + 1);
            return code == ENGINE_CMD_MOVE_UP ? list.MoveProfileUp(name, category)
                                              : list.MoveProfileDown(name, category);
        }
        case ENGINE_CMD_RESET_LAST_RUNS: return list.ResetProfileLastRuns(argument);
        case ENGINE_CMD_RUN_AT_STARTUP: list.RunProfilesAtStartup(); return TRUE;
        default: return 0;
    }
}

// A call that comes while a run item pumps messages in its stop waits until the pump is over:
// the list operation it asks for must not run inside another one.
LRESULT CMainWnd::OnEngineCall(WPARAM, LPARAM message) {
    std::shared_ptr<CEngineCall> call = CEngineCall::Take(message);
    if (!call) return 0;
    if (CRunItem::IsPumping() || !m_deferred.empty()) {
        m_deferred.push_back(call);
        SetTimer(kDeferredTimer, kDeferredTimerMs);
        return 0;
    }
    CarryOut(*call);
    return 0;
}

void CMainWnd::CarryOut(CEngineCall& call) {
    call.Answer(OnEngineCommand(call.GetCode(), reinterpret_cast<LPARAM>(&call.GetText())));
}

void CMainWnd::CarryOutDeferredCalls() {
    while (!m_deferred.empty() && !CRunItem::IsPumping()) {
        std::shared_ptr<CEngineCall> call = m_deferred.front();
        m_deferred.pop_front();
        CarryOut(*call);
    }
    if (m_deferred.empty()) KillTimer(kDeferredTimer);
}

void CMainWnd::OnShutdownCommand() {
    m_strMessage.Empty();
    m_app.SetShutdownRequested();
    if (!SetAutoStart(true)) {
        g_DebugPrintf.Print(u"%s", kAutoStartNotRemoved);
        g_EventLog.WriteEventLog(EVENTLOG_WARNING_TYPE, kAutoStartNotRemoved);
    }
    LogAndReport(u"ZBEngine shutdown command received");
    PostQuitMessage(0);
}

void CMainWnd::OnRestartCommand() {
    LogAndReport(u"ZBEngine restart command received");
    m_app.RestartEngine();
}

// The answer is the error text: empty on success.
BOOL CMainWnd::OnSettingsFileCommand(WPARAM code, CString* text) {
    m_strMessage.Empty();
    CString path = ArgumentOf(text);
    CString result;
    CRunItemList& list = m_app.GetRunItemList();
    bool done =
        code == ENGINE_CMD_LOAD ? list.LoadSettings(path, false, &result) : list.SaveSettings(path, &result);
    if (!done) {
        m_strMessage = result;
        g_EventLog.WriteEventLog(EVENTLOG_WARNING_TYPE, m_strMessage);
        std::fputs((zbw::ToUtf8(m_strMessage) + "\n").c_str(), stdout);
        std::fflush(stdout);
    }
    if (text) *text = m_strMessage;
    return done ? TRUE : FALSE;
}

LRESULT CMainWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE: return OnCloseMessage();
        case WM_QUERYENDSESSION: return OnQueryEndSessionMessage();
        case WM_ENDSESSION: return OnEndSessionMessage(static_cast<BOOL>(wParam));
        default: return CWnd::WindowProc(message, wParam, lParam);
    }
}

LRESULT CMainWnd::OnCloseMessage() {
    g_DebugPrintf.PrintDebug(u"WM_CLOSE received");
    PostQuitMessage(0);
    return Default();
}

LRESULT CMainWnd::OnQueryEndSessionMessage() {
    g_DebugPrintf.PrintDebug(u"WM_QUERYENDSESSION received.");
    g_DebugPrintf.Print(u"Windows shutting down...");
    if (CdovraneApp::IsVistaOrLater()) {
        g_DebugPrintf.PrintDebug(u"ShutdownBlockReasonCreate");
        DynShutdownBlockReasonCreate(m_hWnd);
    } else {
        g_DebugPrintf.Print(u"Stopping running ZBEngine profiles...");
        m_app.GetRunItemList().StopCategory(u"");
    }
    g_DebugPrintf.PrintDebug(u"Return TRUE from WM_QUERYENDSESSION");
    return TRUE;
}

LRESULT CMainWnd::OnEndSessionMessage(BOOL ending) {
    g_DebugPrintf.PrintDebug(u"WM_ENDSESSION received.");
    if (ending)
        OnSessionEnding();
    else
        OnSessionCanceled();
    g_DebugPrintf.PrintDebug(u"Return TRUE from WM_ENDSESSION");
    return TRUE;
}

void CMainWnd::OnSessionCanceled() {
    g_DebugPrintf.Print(u"Windows shutdown canceled");
    if (CdovraneApp::IsVistaOrLater()) DestroyBlockReason(u"ShutdownBlockReasonDestroy in WM_ENDSESSION");
}

void CMainWnd::OnSessionEnding() {
    CRunItemList& list = m_app.GetRunItemList();
    if (m_app.IsStarted() && list.AreProfilesLoaded()) list.SaveSettings(u"");
    HANDLE helper = CreateThread(nullptr, 0, &CMainWnd::ShutdownHelper, this, 0, nullptr);
    g_DebugPrintf.PrintDebug(u"Entering Message Queue");
    // Without a helper thread the engine is stopped here, so the session still ends cleanly.
    if (helper)
        WaitForShutdownHelper(helper);
    else
        StopForSessionEnd();
    g_DebugPrintf.PrintDebug(u"Message Queue Finished");
    if (helper) CloseHandle(helper);
    m_app.StopRunItems();
    g_EventLog.WriteEventLog(EVENTLOG_INFORMATION_TYPE, u"ZBEngine closing");
    g_DebugPrintf.Print(u"**** Exiting ZBEngine ****");
    if (CdovraneApp::IsVistaOrLater()) DestroyBlockReason(u"ShutdownBlockReasonDestroy in WM_ENDSESSION");
}

void CMainWnd::WaitForShutdownHelper(HANDLE helper) {
    // A quit taken off the queue here is posted again afterwards, so the main loop still ends.
    std::optional<int> quitCode;
    PumpUntilHelperEnds(helper, quitCode);
    if (quitCode) PostQuitMessage(*quitCode);
}

void CMainWnd::PumpUntilHelperEnds(HANDLE helper, std::optional<int>& quitCode) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD now = GetTickCount();
        if (now < start) start = now;  // the tick count wrapped
        if (now - start > kShutdownDelayMs) {
            g_DebugPrintf.PrintDebug(u"Reached delay limit of 30 seconds in shutdown procedure");
            return;
        }
        if (WaitForSingleObject(helper, 5) != WAIT_TIMEOUT) {
            g_DebugPrintf.PrintDebug(u"ShutdownHelper ms5 handle timeout");
            return;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (GetMessageW(&msg, nullptr, 0, 0) <= 0) {
                if (msg.message == WM_QUIT) quitCode = static_cast<int>(msg.wParam);
                g_DebugPrintf.PrintDebug(u"GetMessage returns false");
                break;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            if (WaitForSingleObject(helper, 1) != WAIT_TIMEOUT) {
                g_DebugPrintf.PrintDebug(u"ShutdownHelper ms1 handle timeout");
                break;
            }
        }
    }
}

void CMainWnd::DestroyBlockReason(LPCWSTR where) {
    g_DebugPrintf.PrintDebug(u"%s", where);
    if (!DynShutdownBlockReasonDestroy(m_hWnd))
        g_DebugPrintf.PrintDebug(u"ShutdownBlockReasonDestroy returns FALSE");
}

// The run items belong to the main thread, which serves its queue meanwhile: the helper hands
// the stop of the running profiles to it and goes on with the servers at once.
DWORD WINAPI CMainWnd::ShutdownHelper(LPVOID param) {
    CMainWnd* wnd = static_cast<CMainWnd*>(param);
    wnd->ShutdownSteps([wnd] { CEngineCall::Post(wnd->GetSafeHwnd(), ENGINE_CMD_STOP_CATEGORY, u""); });
    return 0;
}

void CMainWnd::StopForSessionEnd() {
    ShutdownSteps([this] { m_app.GetRunItemList().StopCategory(u""); });
}

void CMainWnd::ShutdownSteps(const std::function<void()>& stopProfiles) {
    g_DebugPrintf.PrintDebug(u"ShutdownHelper > Starting ...");
    m_app.ClearStarted();
    if (CdovraneApp::IsVistaOrLater()) {
        g_DebugPrintf.Print(u"Stopping running ZBEngine profiles...");
        stopProfiles();
    }
    g_DebugPrintf.PrintDebug(u"ShutdownHelper > ZBEngine servers shutting down...");
    m_app.StopServers();
}
