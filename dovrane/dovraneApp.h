// CdovraneApp: the engine's application object. It owns the engine for the whole run of the
// process: the hidden main window, the run-item list with the engine settings, the TCP/IP command
// server, the HTTP server, the engine's file names and the command line; it starts the engine from
// InitInstance, stops it from
// ExitInstance, and restarts it on the main window's command. The program has one instance,
// theApp (dovrane/dovrane.cpp).
//
// Exit codes (the code of the quit message): 0 for the shutdown command and WM_CLOSE, 5 when the
// start fails (started outside the Windows service while it is installed as one, the run-history
// database cannot be opened); the main window ends the engine with the command server's final
// status: 3 another engine runs, 4 its port cannot be used, 5 the start-up load failed, 6 its
// sockets cannot be attached. The start waits at most 30 s for the server to report.
//
// Threads: InitInstance, StartEngine, ExitInstance and restart run on the main thread;
// StopEngine runs there or on the main window's shutdown helper thread, while the main thread
// keeps dispatching. The started flag may be read and cleared from either.
#pragma once

#include <atomic>

#include "dovrane/EngineFileNames.h"
#include "dovrane/IPServer.h"
#include "dovrane/MainWnd.h"
#include "dovrane/RunItemList.h"
#include "dovrane/ZBEngineCommandLine.h"
#include "dovrane/web/HTTPServer.h"
#include "platform/classlib/WinApp.h"

class CdovraneApp : public CWinApp {
   public:
    CdovraneApp();
    ~CdovraneApp() override;

    // Always TRUE; a failed start posts the quit message with exit code 5.
    BOOL InitInstance() override;
    int ExitInstance() override;

    // True when the engine runs, false when the process must end.
    bool StartEngine();
    // Main thread: StopServers, then StopRunItems.
    void StopEngine();
    // Any thread: saves the settings (once the profiles were loaded) and stops both servers.
    void StopServers();
    // Main thread: disables the run items that are not running and serves what waits.
    void StopRunItems();
    // StopEngine, a second's pause, StartEngine. When the second start fails the process goes
    // on without an engine; its main window still takes WM_CLOSE and the session signals.
    void RestartEngine();

    // Set once the engine has started; the shutdown helper clears it.
    bool IsStarted() const { return m_bStarted; }
    void ClearStarted() { m_bStarted = false; }

    CMainWnd& GetMainWnd() { return m_wndMain; }
    CRunItemList& GetRunItemList() { return m_runItems; }
    CIPServer& GetIPServer() { return m_ipServer; }
    const CEngineFileNames& GetFileNames() const { return m_files; }

    // After the shutdown command the engine is ending: a restart must not register the
    // autostart the command removed again.
    void SetShutdownRequested() { m_bShutdownRequested = true; }
    bool IsShutdownRequested() const { return m_bShutdownRequested; }

    // The registry key of the engine's Windows service exists.
    static bool IsInstalledAsService();
    // The branches of Windows Vista and later apply (the emulated Windows version).
    static bool IsVistaOrLater();

    // Registers the window class, creates the main window and makes it the application's.
    bool CreateMainWindow();
    // The file names from the program path; the switch file beside it turns on detail lines.
    void DeriveFileNames();

    DECLARE_MESSAGE_MAP()

   private:
    // The log at its path, else beside the program, else nowhere (the log path becomes empty).
    void OpenLog();
    void ParseEngineCommandLine();
    void OpenDatabase();
    void StoreEngineInfo();
    // The synchronisation program's path, or the text that says it is missing.
    static CString ReadSyncProgramPath(bool& missing);
    // Its build number: "ver" of the machine, else of the user; 0 when not a number.
    static int ReadSyncProgramBuild();
    static bool RegistryDebugSwitch();
    // Starts the TCP/IP server and waits (bounded) until it reports how it started; true when it runs.
    bool StartIPServer();
    void StopIPServer();
    // The HTTP port can be used: at most 65534 and nothing answering on it; else RefuseHttpPort.
    bool CanUseHttpPort(int port);
    void StartHttpServer();
    // Prints the refusal of the HTTP port and keeps it as the engine error text.
    void RefuseHttpPort(int port);
    void StopHttpServer();

    CMainWnd m_wndMain;
    CRunItemList m_runItems;
    CIPServer m_ipServer;
    // After the list, so it goes first: its requests use the list.
    CHTTPServer m_httpServer;
    CEngineFileNames m_files;
    CZBEngineCommandLine m_cmdInfo;
    std::atomic<bool> m_bStarted{false};
    bool m_bShutdownRequested = false;
};
