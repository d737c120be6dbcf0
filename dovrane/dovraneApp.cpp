#include "dovrane/dovraneApp.h"

#include <clocale>
#include <cstdio>

#include "common/DebugPrintf.h"
#include "common/EventLog.h"
#include "common/FolderUtils.h"
#include "common/OSVersionText.h"
#include "common/PumpMessages.h"
#include "common/RegUtils.h"
#include "common/Secur32DLL.h"
#include "common/ShutdownBlockLoader.h"
#include "dovrane/AutoStart.h"
#include "dovrane/model/EngineDB.h"
#include "dovrane/model/SyncProgramKey.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WideChar.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Process.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinVersion.h"

namespace {

const char kDefaultPage[] = "/status.htm";
const DWORD kHttpIdleTimeoutMs = 10000;
const DWORD kHttpStopPauseMs = 100;

const char16_t kVersionText[] = u"ZBEngine 1.1";
const int kBuildNumber = 7;
const char16_t kServiceKey[] = u"SYSTEM\\CurrentControlSet\\Services\\ZBEngine";
const char16_t kEngineKey[] = u"software\\ZBEngine\\ZBEngine";
const DWORD kRestartPauseMs = 1000;
const int kStartFailedExitCode = 5;
const DWORD kServerPollMs = 500;
const DWORD kServerStartLimitMs = 30000;
const DWORD kServerStopWaitMs = 1000;
const DWORD kServerStopPauseMs = 100;

bool FileExists(const CString& path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

BEGIN_MESSAGE_MAP(CdovraneApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CdovraneApp::CdovraneApp() : m_wndMain(*this) {}

CdovraneApp::~CdovraneApp() = default;

BOOL CdovraneApp::InitInstance() {
    zbw::RaiseHandleLimit();  // hundreds of profiles hold handles the host counts as descriptors
    CWinApp::InitInstance();
    SetRegistryKey(u"ZBEngine");
    g_EventLog.OpenEventSource(u"ZBEngine");
    CreateMainWindow();
    DeriveFileNames();
    m_runItems.SetProgramFolder(m_files.m_strProgramFolder);
    OpenLog();
    if (RegistryDebugSwitch()) g_DebugPrintf.m_bDebug = true;
    g_DebugPrintf.Print(u" ");
    g_DebugPrintf.Print(u"*************************************");
    ParseEngineCommandLine();
    setlocale(LC_ALL, "");
    if (!StartEngine()) PostQuitMessage(kStartFailedExitCode);
    return TRUE;
}

bool CdovraneApp::CreateMainWindow() {
    if (!m_wndMain.CreateEngineWindow()) return false;
    m_pMainWnd = &m_wndMain;
    return true;
}

void CdovraneApp::DeriveFileNames() {
    WCHAR programPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, programPath, MAX_PATH);
    m_files.Derive(programPath, GetEngineDataFolder());
    if (FileExists(m_files.m_strDebugSwitch)) g_DebugPrintf.m_bDebug = true;
}

void CdovraneApp::OpenLog() {
    if (g_DebugPrintf.Init(m_files.m_strLogPath)) return;
    CString besideProgram = CEngineFileNames::WithExtension(m_files.m_strProgramPath, u".log");
    m_files.m_strLogPath = g_DebugPrintf.Init(besideProgram) ? besideProgram : CString();
}

void CdovraneApp::ParseEngineCommandLine() {
    ParseCommandLine(m_cmdInfo);
    m_files.SetSettingsFile(m_cmdInfo.m_strFileName);
}

bool CdovraneApp::StartEngine() {
    m_runItems.SetEngineError(CString());  // a restart must not see the previous start's error
    g_DebugPrintf.Print(u"**** Starting ZBEngine ****");
    g_DebugPrintf.PrintDebug(u"Debug logging activated.");
    if (!m_cmdInfo.m_bService && IsInstalledAsService()) {
        g_DebugPrintf.Print(
            u"ZBEngine is installed as a service. Start ZBEngine from the Windows Service Management "
            u"Console.");
        return false;
    }
    OpenDatabase();
    StoreEngineInfo();
    if (!m_runItems.GetEngineError().IsEmpty()) return false;
    if (!m_runItems.LoadSettings(m_files.m_strXMLPath, true)) return false;
    m_runItems.SetEngineError(CString());
    m_bStarted = true;
    if (StartIPServer()) StartHttpServer();
    return true;
}

bool CdovraneApp::StartIPServer() {
    const CEngineSettings settings = m_runItems.GetSettings();
    m_ipServer.Start(&m_runItems, settings.m_strTcpAddress, settings.m_nTcpPort, settings.m_strTcpClients,
                     settings.m_strTcpPassword, m_files.m_strXMLPath, m_wndMain.GetSafeHwnd(), 0,
                     WM_ENGINE_COMMAND);
    DWORD waited = 0;
    while (m_ipServer.GetServerStatusCode() == SERVERSTATUS_STARTING) {
        Sleep(kServerPollMs);
        waited += kServerPollMs;
        if (waited > kServerStartLimitMs) {
            const CString timeout(u"GetServerStatusCode() failed, timeout");
            g_DebugPrintf.PrintDebug(u"%s", timeout);
            m_runItems.SetEngineError(timeout);
            break;
        }
    }
    g_DebugPrintf.Print(u"IPServer started in %d ms", static_cast<int>(waited));
    if (m_ipServer.GetServerStatusCode() != SERVERSTATUS_RUNNING) {
        g_DebugPrintf.PrintDebug(u"IPServer failed startup");
        return false;
    }
    m_runItems.SetEngineError(CString());
    return true;
}

bool CdovraneApp::CanUseHttpPort(int port) {
    if (port <= CEngineSettings::kHighestPort && !(port > 0 && CIPServer::IsPortInUse(port))) return true;
    RefuseHttpPort(port);
    return false;
}

void CdovraneApp::StopIPServer() {
    while (!m_ipServer.Stop(kServerStopWaitMs)) Sleep(kServerStopPauseMs);
}

// A database that cannot be opened becomes the engine error text, which ends the start.
void CdovraneApp::OpenDatabase() {
    g_EngineDB.SetDBFilePath(m_files.m_strDBPath);
    if (g_EngineDB.OpenDBFile()) return;
    CString error;
    error.Format(u"Failed creating/opening \"%s\": %s", m_files.m_strDBPath, g_EngineDB.GetDBLastError());
    g_DebugPrintf.Print(u"%s", error);
    g_EventLog.WriteEventLog(EVENTLOG_ERROR_TYPE, error);
    m_runItems.SetEngineError(error);
}

// Logs the engine's facts, registers the autostart outside the service and keeps the facts in
// the engine settings for the pages.
void CdovraneApp::StoreEngineInfo() {
    CEngineSettings info;
    bool missing = false;
    info.m_strSyncProgramPath = ReadSyncProgramPath(missing);
    info.m_nSyncProgramMissing = missing ? 1 : 0;
    info.m_nSyncProgramBuild = ReadSyncProgramBuild();
    m_runItems.SetEngineStartTime(COleDateTime::GetCurrentTime());
    info.m_strVersion = kVersionText;
    info.m_strVersion.AppendFormat(u" (Build %d)", kBuildNumber);
    info.m_strCommandLine = GetCommandLineW();
    info.m_strSystem = GetOSVersionText();
    info.m_strAccount = g_Secur32DLL.GetCurrentUserName();
    info.m_strComputerName = g_Secur32DLL.GetLocalComputerName();
    g_DebugPrintf.Print(u"Version: %s", info.m_strVersion);
    g_DebugPrintf.Print(u"Command Line: %s", info.m_strCommandLine);
    g_DebugPrintf.Print(u"System: %s", info.m_strSystem);
    g_DebugPrintf.Print(u"Account: %s", info.m_strAccount);
    g_DebugPrintf.Print(u"Computer Name: %s", info.m_strComputerName);
    g_DebugPrintf.Print(u"Zebrodyne PRO Path: %s", info.m_strSyncProgramPath);
    if (m_cmdInfo.m_bService) {
        g_DebugPrintf.Print(u"Running as a Windows Service");
    } else {
        g_DebugPrintf.Print(u"Not running as a Windows Service");
        if (!m_bShutdownRequested) SetAutoStart(false);
    }
    info.m_nService = m_cmdInfo.m_bService ? 1 : 0;
    info.m_strLogPath = m_files.m_strLogPath;
    info.m_strDBPath = m_files.m_strDBPath;
    m_runItems.SetEngineInfo(info);
    g_DebugPrintf.Print(u"Log File: %s", m_files.m_strLogPath);
    g_DebugPrintf.Print(u"DB File: %s", m_files.m_strDBPath);
}

// The settings are saved only once the profiles were loaded, so a start that never loaded them
// does not write an empty list over the file and its ".bak". A running synchronisation goes on:
// the stop disables the items that do not run.
void CdovraneApp::StopEngine() {
    StopServers();
    StopRunItems();
}

void CdovraneApp::StopServers() {
    g_DebugPrintf.Print(u"**** Shutting down ZBEngine ****");
    if (m_bStarted && !IsFinalServerStatus(m_ipServer.GetServerStatusCode()) &&
        m_runItems.AreProfilesLoaded())
        m_runItems.SaveSettings(u"");
    StopIPServer();
    StopHttpServer();
}

void CdovraneApp::StopRunItems() {
    m_runItems.DisableIdleItems(u"");
    PumpMessages();
}

// The web interface on the settings' HTTP port (0 when there is none: the server does not
// listen). A port it cannot listen on is refused with the text that GETERROR answers.
void CdovraneApp::StartHttpServer() {
    const CEngineSettings settings = m_runItems.GetSettings();
    const int port = settings.m_nHttpPort;
    if (!CanUseHttpPort(port)) return;
    bool started = m_httpServer.StartServer(port, zbw::ToUtf8(m_files.m_strHtmlFolder), kDefaultPage,
                                            &m_runItems, kHttpIdleTimeoutMs, m_wndMain.GetSafeHwnd(),
                                            WM_ENGINE_COMMAND, settings.m_strHttpClients,
                                            settings.m_strHttpPasswordHash, m_files.m_strXMLPath);
    if (!started && port > 0) RefuseHttpPort(port);
}

void CdovraneApp::RefuseHttpPort(int port) {
    CString text;
    text.Format(u"ZBEngine cannot use port %d, this port is already in use. Please change HTTP port.", port);
    std::printf("%s\n", zbw::ToUtf8(text).c_str());
    std::fflush(stdout);
    m_runItems.SetEngineError(text);
}

// A request may be waiting in a command sent to this thread's window: the server serves such
// sends while it waits for its client threads, and each retry pauses here.
void CdovraneApp::StopHttpServer() {
    while (!m_httpServer.Shutdown()) Sleep(kHttpStopPauseMs);
}

void CdovraneApp::RestartEngine() {
    StopEngine();
    Sleep(kRestartPauseMs);
    StartEngine();
}

int CdovraneApp::ExitInstance() {
    StopEngine();
    m_runItems.RemoveAllRunItems();  // while the main thread still serves its windows
    g_DebugPrintf.Print(u"**** Exiting ZBEngine ****");
    g_EventLog.WriteEventLog(EVENTLOG_INFORMATION_TYPE, u"ZBEngine closing");
    if (IsVistaOrLater()) {
        g_DebugPrintf.PrintDebug(u"ShutdownBlockReasonDestroy in ExitInstance");
        DynShutdownBlockReasonDestroy(m_wndMain.GetSafeHwnd());
    }
    return CWinApp::ExitInstance();
}

bool CdovraneApp::IsInstalledAsService() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool CdovraneApp::IsVistaOrLater() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
           version.dwMajorVersion >= 6;
}

CString CdovraneApp::ReadSyncProgramPath(bool& missing) {
    CString path;
    missing = !ReadRegStringLM(kSyncProgramKey, u"path", path);
    return missing ? CString(kSyncProgramMissing) : path;
}

int CdovraneApp::ReadSyncProgramBuild() {
    CString text;
    if (!ReadRegStringLM(kSyncProgramKey, u"ver", text) && !ReadRegStringCU(kSyncProgramKey, u"ver", text))
        return 0;
    return _wtoi(text);
}

bool CdovraneApp::RegistryDebugSwitch() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEngineKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    bool exists = RegQueryValueExW(key, u"dbg", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return exists;
}
