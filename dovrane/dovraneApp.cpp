#include "dovrane/dovraneApp.h"

#include <clocale>

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
#include "platform/base/Clock.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Process.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinVersion.h"

namespace {

const char16_t kVersionText[] = u"ZBEngine 1.1";
const int kBuildNumber = 7;
const char16_t kServiceKey[] = u"SYSTEM\\CurrentControlSet\\Services\\ZBEngine";
const char16_t kEngineKey[] = u"software\\ZBEngine\\ZBEngine";
const char16_t kSyncProgramKey[] = u"software\\Zebrodyne Pro 2\\Zebrodyne Pro";
const char16_t kSyncProgramMissing[] =
    u"Unable to locate Zebrodyne Pro on this computer. Please install Zebrodyne Pro.";
const DWORD kRestartPauseMs = 1000;
const int kStartFailedExitCode = 5;

void DebugLine(LPCWSTR text) {
    if (g_DebugPrintf.m_bDebug) g_DebugPrintf.Print(u"%s", text);
}

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
    g_DebugPrintf.Print(u"**** Starting ZBEngine ****");
    DebugLine(u"Debug logging activated.");
    if (!m_cmdInfo.m_bService && IsInstalledAsService()) {
        g_DebugPrintf.Print(
            u"ZBEngine is installed as a service. Start ZBEngine from the Windows Service Management "
            u"Console.");
        return false;
    }
    if (!OpenDatabase()) return false;
    LogEngineInfo();
    if (m_cmdInfo.m_bService) {
        g_DebugPrintf.Print(u"Running as a Windows Service");
    } else {
        g_DebugPrintf.Print(u"Not running as a Windows Service");
        SetAutoStart(false);
    }
    g_DebugPrintf.Print(u"Log File: %s", m_files.m_strLogPath);
    g_DebugPrintf.Print(u"DB File: %s", m_files.m_strDBPath);
    m_bStarted = true;
    return true;
}

// Without the engine settings there is no engine error text to hold the failure yet, so a
// database that cannot be opened ends the start at once (the same exit code 5).
bool CdovraneApp::OpenDatabase() {
    g_EngineDB.SetDBFilePath(m_files.m_strDBPath);
    if (g_EngineDB.OpenDBFile()) return true;
    CString error;
    error.Format(u"Failed creating/opening \"%s\": %s", m_files.m_strDBPath, g_EngineDB.GetDBLastError());
    g_DebugPrintf.Print(u"%s", error);
    g_EventLog.WriteEventLog(EVENTLOG_ERROR_TYPE, error);
    return false;
}

void CdovraneApp::LogEngineInfo() {
    CString version(kVersionText);
    version.AppendFormat(u" (Build %d)", kBuildNumber);
    g_DebugPrintf.Print(u"Version: %s", version);
    g_DebugPrintf.Print(u"Command Line: %s", GetCommandLineW());
    g_DebugPrintf.Print(u"System: %s", GetOSVersionText());
    g_DebugPrintf.Print(u"Account: %s", g_Secur32DLL.GetCurrentUserName());
    g_DebugPrintf.Print(u"Computer Name: %s", g_Secur32DLL.GetLocalComputerName());
    g_DebugPrintf.Print(u"Zebrodyne PRO Path: %s", ReadSyncProgramPath());
}

void CdovraneApp::StopEngine() {
    g_DebugPrintf.Print(u"**** Shutting down ZBEngine ****");
    PumpMessages();
}

void CdovraneApp::RestartEngine() {
    StopEngine();
    Sleep(kRestartPauseMs);
    StartEngine();
}

int CdovraneApp::ExitInstance() {
    StopEngine();
    g_DebugPrintf.Print(u"**** Exiting ZBEngine ****");
    g_EventLog.WriteEventLog(EVENTLOG_INFORMATION_TYPE, u"ZBEngine closing");
    if (IsVistaOrLater()) {
        DebugLine(u"ShutdownBlockReasonDestroy in ExitInstance");
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

CString CdovraneApp::ReadSyncProgramPath() {
    CString path;
    return ReadRegStringLM(kSyncProgramKey, u"path", path) ? path : CString(kSyncProgramMissing);
}

bool CdovraneApp::RegistryDebugSwitch() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEngineKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    bool exists = RegQueryValueExW(key, u"dbg", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return exists;
}
