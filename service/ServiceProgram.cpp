#include "service/ServiceProgram.h"

#include <system_error>
#include <vector>

#include "common/CommStatus.h"
#include "common/DebugPrintf.h"
#include "platform/base/Clock.h"
#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Environment.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Registry.h"
#include "platform/win32/ShellExecute.h"
#include "platform/win32/Wait.h"
#include "platform/win32/WinUser.h"
#include "service/ServiceTexts.h"

using service::ErrorText;

namespace {

const LPCWSTR kServiceName = u"ZBEngine";
const LPCWSTR kDescription = u"ZBEngine by Quarn Software";
const LPCWSTR kAnyKey = u"Press any key to continue ...\n\n";
const DWORD kMaxPath = 1024;
const int kQuitPosts = 60;
const int kShutdownTries = 10;
const DWORD kAnswerWaitMs = 5000;

#define LOG(...) g_DebugPrintf.Print(__VA_ARGS__)

}  // namespace

CServiceProgram* CServiceProgram::s_pThis = nullptr;

CServiceProgram::CServiceProgram() {
    s_pThis = this;
}

CServiceProgram::~CServiceProgram() {
    if (m_watcher.joinable()) m_watcher.join();
    s_pThis = nullptr;
}

int CServiceProgram::Run() {
    if (!DerivePaths()) return -1;
    g_DebugPrintf.Init(m_strLog);
    g_DebugPrintf.m_bConsoleEcho = true;
    g_DebugPrintf.m_bEchoAnsi = true;
    if (GetFileAttributesW(m_strEngine) == INVALID_FILE_ATTRIBUTES) {
        LOG(u"%s not found.", m_strEngine.GetString());
        return -2;
    }
    LOG(u"ZBEngine path: %s", m_strEngine.GetString());
    std::vector<std::u16string> args = zbw::SplitCommandLine(GetCommandLineW());
    for (const std::u16string& arg : args) LOG(u"Command Line Flag: %s", arg.c_str());
    if (args.size() > 2) return -3;
    m_nExitCode = Act(args.size() == 2 ? CString(args[1].c_str()) : CString());
    LOG(u"Done.");
    return m_nExitCode;
}

// The log and the engine lie beside the program, whatever the program's own file is called.
bool CServiceProgram::DerivePaths() {
    char16_t buffer[kMaxPath + 1] = {};
    DWORD length = GetModuleFileNameW(nullptr, buffer, kMaxPath);
    if (length < 24 || length >= kMaxPath || buffer[length - 4] != u'.') return false;
    m_strProgram = buffer;
    CString folder = m_strProgram.Left(m_strProgram.ReverseFind(u'\\') + 1);
    m_strLog = folder + u"zbengineservice.log";
    m_strEngine = folder + u"zbengine.exe";
    m_strEngineCommand = m_strEngine + u" /serv";
    return true;
}

int CServiceProgram::Act(const CString& flag) {
    if (flag.CompareNoCase(u"-i") == 0) {
        Install();
    } else if (flag.CompareNoCase(u"-u") == 0 || flag.CompareNoCase(u"-us") == 0) {
        StopService();
        RemoveService();
        if (flag.CompareNoCase(u"-us") == 0) {
            Sleep(5000);
        } else {
            service::Print(kAnyKey);
            service::WaitForKey();
        }
    } else if (flag.CompareNoCase(u"-b") == 0) {
        StopService();
        Sleep(5000);
        StartService();
        service::Print(kAnyKey);
        service::WaitForKey();
    } else if (flag.CompareNoCase(u"-k") == 0) {
        CString text;
        text.Format(StopService() ? u"Killed service %s. " : u"Failed to kill service %s. ", kServiceName);
        service::Print(text);
        service::Print(kAnyKey);
    } else if (flag.CompareNoCase(u"-r") == 0) {
        CString text;
        text.Format(StartService() ? u"Ran service %s. " : u"Failed to run service %s. ", kServiceName);
        service::Print(text);
        service::Print(kAnyKey);
    } else {
        return RunAsService();
    }
    return 0;
}

void CServiceProgram::Install() {
    if (!ShutdownExistingEngine()) return;
    if (!InstallService()) {
        service::WaitForKey();
        return;
    }
    service::Print(u"Press any key to open service console ...\n\n");
    service::WaitForKey();
    char16_t root[kMaxPath] = {};
    GetEnvironmentVariableW(u"SystemRoot", root, kMaxPath);
    CString console = CString(root) + u"\\system32\\services.msc";
    ShellExecuteW(nullptr, u"open", console, nullptr, nullptr, 1);  // SW_SHOWNORMAL
    Sleep(1000);
}

bool CServiceProgram::InstallService() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr) {
        DWORD error = GetLastError();
        LOG(u"OpenSCManager failed, error code = %d, %s  ", error, ErrorText(error).GetString());
        return false;
    }
    SC_HANDLE service = CreateServiceW(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                       m_strProgram, nullptr, nullptr, nullptr, nullptr, nullptr);
    DWORD error = service != nullptr ? ERROR_SUCCESS : GetLastError();
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (error != ERROR_SUCCESS && error != ERROR_SERVICE_EXISTS) {
        LOG(u"Failed to create service %s, error code = %d, %s ", kServiceName, error,
            ErrorText(error).GetString());
        return false;
    }
    LOG(u"Service %s installed ", kServiceName);
    HKEY key = nullptr;
    CString path = CString(u"SYSTEM\\CurrentControlSet\\Services\\") + kServiceName;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        CString text(kDescription);
        RegSetValueExW(key, u"Description", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.GetString()),
                       text.GetLength() * sizeof(char16_t));
        RegCloseKey(key);
    }
    return true;
}

bool CServiceProgram::OpenService(SC_HANDLE& manager, SC_HANDLE& service, LPCWSTR managerError,
                                  LPCWSTR serviceError) {
    service = nullptr;
    manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        DWORD error = GetLastError();
        LOG(managerError, error, ErrorText(error).GetString());
        return false;
    }
    service = OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS);
    if (service == nullptr) {
        DWORD error = GetLastError();
        LOG(serviceError, error, ErrorText(error).GetString());
        CloseServiceHandle(manager);
        return false;
    }
    return true;
}

bool CServiceProgram::RemoveService() {
    SC_HANDLE manager, service;
    if (!OpenService(manager, service, u"OpenSCManager failed, error code = %d, %s  ",
                     u"OpenService failed, error code = %d, %s  ")) {
        return false;
    }
    bool removed = DeleteService(service);
    if (removed) {
        LOG(u"Service %s removed ", kServiceName);
    } else {
        DWORD error = GetLastError();
        LOG(u"Failed to delete service, error code = %d, %s", error, ErrorText(error).GetString());
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return removed;
}

bool CServiceProgram::StopService() {
    SC_HANDLE manager, service;
    if (!OpenService(manager, service, u"OpenSCManager failed, error code = %d, %s",
                     u"OpenService failed, error code = %d , %s")) {
        return false;
    }
    SERVICE_STATUS status{};
    bool stopped = ControlService(service, SERVICE_CONTROL_STOP, &status);
    if (!stopped) {
        DWORD error = GetLastError();
        LOG(u"ControlService failed, error code = %d ,%s", error, ErrorText(error).GetString());
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return stopped;
}

bool CServiceProgram::StartService() {
    SC_HANDLE manager, service;
    if (!OpenService(manager, service, u"OpenSCManager failed, error code = %d, %s",
                     u"OpenService failed, error code = %d, %s")) {
        return false;
    }
    LOG(u"Starting service... ");
    bool started = StartServiceW(service, 0, nullptr);
    if (!started) {
        DWORD error = GetLastError();
        LOG(u"StartService failed, error code = %d , %s", error, ErrorText(error).GetString());
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return started;
}

int CServiceProgram::RunAsService() {
    std::u16string name(kServiceName);
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), &CServiceProgram::ServiceMain}, {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherW(table)) {
        if (m_watcher.joinable()) m_watcher.join();
        return 0;
    }
    DWORD error = GetLastError();
    LOG(u"StartServiceCtrlDispatcher failed, error code = %d , %s", error, ErrorText(error).GetString());
    return static_cast<int>(error);
}

void CServiceProgram::ServiceMain(DWORD, LPWSTR*) {
    s_pThis->OnServiceMain();
}

void CServiceProgram::ControlHandler(DWORD control) {
    s_pThis->OnControl(control);
}

bool CServiceProgram::ReportStatus(DWORD state, DWORD exitCode) {
    SERVICE_STATUS status;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_status.dwCurrentState = state;
        m_status.dwWin32ExitCode = exitCode;
        status = m_status;
    }
    return SetServiceStatus(m_hStatus, &status);
}

void CServiceProgram::OnServiceMain() {
    LOG(u"ServiceMain called");
    m_status = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                              SERVICE_START_PENDING,
                              SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN,
                              0,
                              0,
                              0,
                              0};
    m_hStatus = RegisterServiceCtrlHandlerW(kServiceName, &CServiceProgram::ControlHandler);
    if (m_hStatus == nullptr) {
        DWORD error = GetLastError();
        LOG(u"RegisterServiceCtrlHandler failed, error code = %d, %s", error, ErrorText(error).GetString());
        return;
    }
    if (!ShutdownExistingEngine()) {
        LOG(u"Unable to shutdown existing running ZBEngine");
        ReportStatus(SERVICE_STOPPED, 1);
        return;
    }
    if (!ReportStatus(SERVICE_RUNNING, 0)) {
        DWORD error = GetLastError();
        LOG(u"SetServiceStatus failed, error code = %d, %s", error, ErrorText(error).GetString());
    }
    StartEngine();
    try {
        m_watcher = std::thread([this] { CheckProcess(); });
    } catch (const std::system_error& e) {
        DWORD error = static_cast<DWORD>(e.code().value());
        LOG(u"_beginthread failed, error code = %d, %s", error, ErrorText(error).GetString());
    }
}

// An engine that cannot start leaves the entry empty: the watcher then finds it ended at once
// and stops the service the way an engine's end does.
void CServiceProgram::StartEngine() {
    std::u16string command(m_strEngineCommand.GetString());
    std::u16string desktop;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop.data();
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                        nullptr, &startup, &info)) {
        DWORD error = GetLastError();
        LOG(u"Failed to start program '%s', error code = %d, %s", m_strEngineCommand.GetString(), error,
            ErrorText(error).GetString());
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_engine = info;
    }
    Sleep(1000);
}

void CServiceProgram::CheckProcess() {
    LOG(u"Checking Process... ");
    HANDLE process;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        process = m_engine.hProcess;
    }
    WaitForSingleObject(process, INFINITE);
    if (m_bStopping) {
        LOG(u"Service stopping from console. (CheckProcess)");
    } else {
        LOG(u"Detected ZBEngine shutdown ");
        LOG(StopService() ? u"Stopped service %s. (CheckProcessProc)"
                          : u"Failed to stop service %s. (CheckProcessProc)",
            kServiceName);
    }
    LOG(u"Exit Checking Process ...  ");
}

void CServiceProgram::OnControl(DWORD control) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_status.dwCurrentState = SERVICE_STOPPED;
            m_status.dwWin32ExitCode = 0;
        }
        m_bStopping = true;
        LOG(u"Service Stopping from console. (QLPVServiceHandler)");
        EndEngine();
        if (!ReportStatus(SERVICE_STOPPED, 0)) {
            DWORD error = GetLastError();
            LOG(u"SetServiceStatus failed, error code = %d , %s", error, ErrorText(error).GetString());
        }
        LOG(u"Service Stopped from console. (QLPVServiceHandler)");
        return;
    }
    if (control != SERVICE_CONTROL_INTERROGATE) LOG(u"Unrecognized opcode %d ", control);
    std::lock_guard<std::mutex> guard(m_lock);
    SERVICE_STATUS status = m_status;
    SetServiceStatus(m_hStatus, &status);
}

void CServiceProgram::EndEngine() {
    LOG(u"Ending ZBEngine Process.");
    PROCESS_INFORMATION engine;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        engine = m_engine;
        m_engine = PROCESS_INFORMATION{};
    }
    if (engine.hProcess == nullptr) return;
    for (int i = 0; i < kQuitPosts; ++i) {
        PostThreadMessageW(engine.dwThreadId, WM_QUIT, 0, 0);
        if (WaitForSingleObject(engine.hProcess, 1000) == WAIT_OBJECT_0) {
            LOG(u"ZBEngine Shutdown OK");
            break;
        }
    }
    if (TerminateProcess(engine.hProcess, 0)) LOG(u"Forced ZBEngine termination");
    CloseHandle(engine.hThread);
    CloseHandle(engine.hProcess);
}

bool CServiceProgram::ShutdownExistingEngine() {
    CCommStatus block(TRUE, TRUE);
    bool sent = false;
    for (int attempt = 1; attempt <= kShutdownTries; ++attempt) {
        block.Open();
        if (!block.IsAlive(500)) {
            block.Open();
            if (!block.IsAlive(1000)) {
                if (sent) LOG(u"ZBEngine shut down.");
                block.Close();
                return true;
            }
        }
        LOG(u"Shutting down existing ZBEngine task... try %d", attempt);
        CString answer;
        block.ExchangeCommand(u"shutdown", kAnswerWaitMs, answer);
        sent = true;
        Sleep(2500);
    }
    LOG(u"Unable to shut down existing ZBEngine task.");
    block.Close();
    return false;
}
