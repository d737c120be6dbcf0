// CMainWnd: the engine's hidden main window ("zbengine"), on the main thread. Commands that change
// the engine as a whole arrive here as WM_ENGINE_COMMAND, so they run on the main thread whatever
// thread asked: load, save, remove, add and set are sent (the caller waits for the result),
// shutdown and restart are posted. Its timer 1 runs every 2 s while the window exists and ends the
// engine when the command server reports a final status (3 to 6), with that status as exit code.
// It also handles WM_CLOSE and the end of the Windows session.
//
// WM_ENGINE_COMMAND: wParam is the command code, lParam points at a CString holding the argument
// of load, save, remove, add and set; load and save also write their answer into it, the error
// text (empty on success). Shutdown and restart do not read lParam; a null lParam is taken as an
// empty argument without answer. Results: 0 for shutdown, restart and any unknown code; load and
// save TRUE when done; remove, add and set the run-item list's answer. The shutdown command
// removes the autostart (a failure is logged and goes to the event log as a warning) and marks
// the engine as ending, so a restart after it does not register the autostart again.
//
// WM_QUERYENDSESSION keeps the session's end waiting (on Vista and later through a block reason)
// and answers TRUE. WM_ENDSESSION(TRUE) stops the engine on the shutdown helper thread while this
// thread keeps dispatching, for at most 30 s, then logs the exit; the process ends after it.
//
// WM_ENGINE_CALL (EngineCall.h) brings the same commands and the run-item commands (run, stop,
// enable, disable, move, reset) from the server threads, posted with a bounded wait, so that the
// run items are touched on the main thread only. A call that comes while a run item pumps
// messages in its stop is held back until the pump is over (timer 2) and then carried out in the
// order the calls came; its sender may have answered "accepted" meanwhile.
//
// The window belongs to the application object, which outlives it.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include "dovrane/web/EngineCommandCodes.h"
#include "platform/base/CString.h"
#include "platform/classlib/Wnd.h"

class CdovraneApp;
class CEngineCall;

class CMainWnd : public CWnd {
   public:
    explicit CMainWnd(CdovraneApp& app);
    ~CMainWnd() override;

    // Registers the window class (no style, cursor, brush or icon) and creates the window.
    BOOL CreateEngineWindow();

    // The error text of the last load or save.
    const CString& GetMessageText() const { return m_strMessage; }

    static constexpr UINT_PTR kStatusTimer = 1;
    static constexpr UINT kStatusTimerMs = 2000;
    // Looks for calls held back while a run item pumped messages in its stop.
    static constexpr UINT_PTR kDeferredTimer = 2;
    static constexpr UINT kDeferredTimerMs = 20;
    // How long the end of the session waits for the shutdown helper.
    static constexpr DWORD kShutdownDelayMs = 30000;

   protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    int OnCreate(LPCREATESTRUCT createStruct);
    void OnDestroy();
    void OnTimer(UINT_PTR id);
    LRESULT OnEngineCommand(WPARAM code, LPARAM text);
    LRESULT OnEngineCall(WPARAM code, LPARAM call);

    DECLARE_MESSAGE_MAP()

   private:
    static bool TouchesTheItemList(WPARAM code);
    LRESULT OnRunItemCommand(WPARAM code, const CString& argument);
    void CarryOut(CEngineCall& call);
    void CarryOutDeferredCalls();
    void OnShutdownCommand();
    void OnRestartCommand();
    BOOL OnSettingsFileCommand(WPARAM code, CString* text);
    LRESULT OnCloseMessage();
    LRESULT OnQueryEndSessionMessage();
    LRESULT OnEndSessionMessage(BOOL ending);
    void OnSessionCanceled();
    void OnSessionEnding();
    // Dispatches this thread's messages until the helper ends or the delay has passed.
    void WaitForShutdownHelper(HANDLE helper);
    void PumpUntilHelperEnds(HANDLE helper, std::optional<int>& quitCode);
    void DestroyBlockReason(LPCWSTR where);
    // The shutdown helper's steps: clear the started flag, stop the running profiles (on Vista
    // and later), save and stop the servers. The run items' own stop follows on the main thread.
    static DWORD WINAPI ShutdownHelper(LPVOID param);
    void StopForSessionEnd();
    void ShutdownSteps(const std::function<void()>& stopProfiles);

    CdovraneApp& m_app;
    CString m_strMessage;
    // Calls that came while a run item pumped in its stop, in the order they came.
    std::deque<std::shared_ptr<CEngineCall>> m_deferred;
};
