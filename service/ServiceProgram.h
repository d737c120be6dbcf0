// CServiceProgram: zbengineservice, the console program that is also the service "ZBEngine".
// With a switch it installs, removes, starts, stops or restarts the service; run by the service
// manager it starts the engine with "/serv", watches it and ends it when the service stops.
//
// Threads: Run is called once by main. As a service, the dispatcher (main) thread runs the
// control handler, a thread of the dispatcher runs ServiceMain, and a watcher thread waits on
// the engine; m_lock guards the engine entry and the status, the stop flag is atomic. The
// callbacks reach the one instance through a static pointer set by Run.
//
// Failures are logged with the code and its text; exit codes: 0, -1 own path unusable, -2 engine
// missing, -3 too many arguments, or the dispatcher's error (1063 when not started as a service).
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/base/CString.h"
#include "platform/win32/Process.h"
#include "platform/win32/ServiceManager.h"

class CServiceProgram {
   public:
    CServiceProgram();
    ~CServiceProgram();
    CServiceProgram(const CServiceProgram&) = delete;
    CServiceProgram& operator=(const CServiceProgram&) = delete;

    // The whole program; returns its exit code.
    int Run();

   private:
    bool DerivePaths();
    int Act(const CString& flag);
    void Install();
    bool InstallService();
    bool RemoveService();
    bool StopService();
    bool StartService();
    int RunAsService();

    // Opens the manager and the service with all access; false (logged) when either fails.
    bool OpenService(SC_HANDLE& manager, SC_HANDLE& service, LPCWSTR managerError, LPCWSTR serviceError);
    static void ServiceMain(DWORD argc, LPWSTR* argv);
    static void ControlHandler(DWORD control);
    void OnServiceMain();
    void OnControl(DWORD control);
    bool ReportStatus(DWORD state, DWORD exitCode);
    // Starts the engine with "/serv"; a failure is logged and leaves the engine entry empty.
    void StartEngine();
    void CheckProcess();
    void EndEngine();
    bool ShutdownExistingEngine();

    static CServiceProgram* s_pThis;

    CString m_strProgram;  // P, the program's own Windows path
    CString m_strLog;
    CString m_strEngine;
    CString m_strEngineCommand;

    std::mutex m_lock;
    PROCESS_INFORMATION m_engine{};  // the watched process; empty when none
    SERVICE_STATUS m_status{};
    SERVICE_STATUS_HANDLE m_hStatus = nullptr;
    std::atomic<bool> m_bStopping{false};
    std::thread m_watcher;
    int m_nExitCode = 0;
};
