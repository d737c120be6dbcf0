// ZBEngineIcon: shows in the notification area whether the engine runs (through the command
// block's heartbeat), starts zbenginehome and zbenginesettings from its menu, keeps its own
// autostart value, and ends on "Hide Icon" or a WM_QUIT from Quenlow.
#include "common/CommStatus.h"
#include "dovrane/Tools/ZBEngineSettings/SystemTray.h"
#include "platform/base/Clock.h"
#include "platform/base/WinError.h"
#include "platform/classlib/WinApp.h"
#include "platform/host/KernelObject.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Process.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Security.h"
#include "platform/win32/ShellExecute.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/WinVersion.h"

namespace {

const UINT IDR_TRAYMENU = 109;
const UINT IDI_RUNNING = 130;
const UINT IDI_NOT_RUNNING = 131;
const UINT ID_HIDE_ICON = 105;
const UINT ID_ZBENGINE_HOME = 32773;
const UINT ID_ZBENGINE_SETTINGS = 32774;
const UINT WM_TRAY_NOTIFY = 32778;
const UINT_PTR kPollTimer = 1;
const UINT kFastPollMs = 2000;
const UINT kSlowPollMs = 10000;
const int kFastPolls = 30;

const char16_t kWindowClass[] = u"ZBEngineIconWindowClass";
const char16_t kWindowTitle[] = u"ZBEngineIconWindowTitle";
const char16_t kMutexName[] = u"Local\\zbengineicon12128401";
const char16_t kMutexNameOld[] = u"zbengineicon12128401";
const char16_t kRunKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char16_t kRunValue[] = u"ZBEngineIcon";
const char16_t kOwnFileName[] = u"zbengineicon.exe";

CSystemTray* g_pTrayIcon = nullptr;  // lives in ZBEngineIconMain, so it goes before the layer
HICON g_hIconRunning = nullptr;
HICON g_hIconNotRunning = nullptr;
BOOL g_bEngineRunning = TRUE;
int g_nPollCount = kFastPolls;
CString g_strHomePath;
CString g_strSettingsPath;

HMENU BuildTrayMenu() {
    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, ID_ZBENGINE_HOME, u"ZBEngine Home");
    AppendMenuW(popup, MF_STRING, ID_ZBENGINE_SETTINGS, u"ZBEngine Settings");
    AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(popup, MF_STRING, ID_HIDE_ICON, u"Hide Icon");
    HMENU menu = CreateMenu();
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), u"Tray");
    return menu;
}

CString ModulePath() {
    WCHAR path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return CString(path);
}

// The host's file names keep their case, so only the comparison ignores it.
CString SiblingPath(const CString& ownPath, LPCWSTR siblingName) {
    int nameLength = static_cast<int>(std::char_traits<char16_t>::length(kOwnFileName));
    int folderLength = ownPath.GetLength() - nameLength;
    if (folderLength < 0 || ownPath.Right(nameLength).CompareNoCase(kOwnFileName) != 0)
        return ownPath + u"\\" + siblingName;
    return ownPath.Left(folderLength) + siblingName;
}

void RestartPolling(HWND hwnd) {
    g_nPollCount = kFastPolls;
    SetTimer(hwnd, kPollTimer, kFastPollMs, nullptr);
}

void ShowNotFound(HWND hwnd, const CString& path) {
    CString text = path + u" not found";
    MessageBoxW(hwnd, text, nullptr, MB_OK | MB_ICONERROR);
}

void StartHome(HWND hwnd) {
    CString commandLine = g_strHomePath;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_FORCEOFFFEEDBACK;
    SECURITY_DESCRIPTOR descriptor{};
    SECURITY_ATTRIBUTES threadAttributes{sizeof threadAttributes, nullptr, TRUE};
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(&version);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
        threadAttributes.lpSecurityDescriptor = &descriptor;
    }
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.GetBuffer(), nullptr, &threadAttributes, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        ShowNotFound(hwnd, g_strHomePath);
        return;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
}

void OpenSettings(HWND hwnd) {
    HINSTANCE result = ShellExecuteW(hwnd, u"open", g_strSettingsPath, nullptr, nullptr, 1);
    INT_PTR code = reinterpret_cast<INT_PTR>(result);
    if (code == SE_ERR_FNF || code == SE_ERR_PNF) ShowNotFound(hwnd, g_strSettingsPath);
}

// The command block is opened once and held; only when its heartbeat is not alive is the block
// chosen again, since the engine may have come back on another one.
BOOL IsEngineRunning() {
    static CCommStatus status(TRUE, TRUE);
    if (status.IsOpen() && status.IsAlive(500)) return TRUE;
    status.Open();
    if (status.IsAlive(500)) return TRUE;
    Sleep(500);
    return status.IsAlive(1000);
}

BOOL UpdateRunKey(BOOL remove) {
    CString quoted = u"\"" + ModulePath() + u"\"";
    BOOL found = FALSE;
    BOOL equal = FALSE;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        WCHAR value[MAX_PATH + 3] = {};
        DWORD size = sizeof value - sizeof(WCHAR);
        DWORD type = 0;
        if (RegQueryValueExW(key, kRunValue, nullptr, &type, reinterpret_cast<LPBYTE>(value), &size) ==
            ERROR_SUCCESS) {
            found = TRUE;
            equal = quoted.CompareNoCase(value) == 0;
        }
        RegCloseKey(key);
    }
    if (remove) {
        if (!found) return TRUE;
        BOOL removed = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_WRITE, &key) == ERROR_SUCCESS;
        if (removed) {
            removed = RegDeleteValueW(key, kRunValue) == ERROR_SUCCESS;
            RegCloseKey(key);
        }
        if (!removed)
            MessageBoxW(nullptr, u"Failed removing ZBEngineIcon from local registry startup list.", nullptr,
                        MB_OK);
        return removed;
    }
    if (equal) return TRUE;
    // A fresh profile has no Run key yet: make it rather than fail.
    BOOL added = RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                 nullptr) == ERROR_SUCCESS;
    if (added) {
        added = RegSetValueExW(key, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(quoted.GetString()),
                               quoted.GetLength() * sizeof(WCHAR)) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    if (!added)
        MessageBoxW(nullptr, u"Failed adding ZBEngineIcon to local registry startup list.", nullptr, MB_OK);
    return added;
}

void OnPollTimer(HWND hwnd) {
    if (--g_nPollCount < 1) {
        g_nPollCount = 0;
        SetTimer(hwnd, kPollTimer, kSlowPollMs, nullptr);
    }
    BOOL running = IsEngineRunning();
    if (running == g_bEngineRunning) return;
    g_bEngineRunning = running;
    g_pTrayIcon->SetIcon(running ? g_hIconRunning : g_hIconNotRunning);
    g_pTrayIcon->SetTooltipText(running ? u"ZBEngine" : u"ZBEngine not running");
}

LRESULT OnCommand(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (LOWORD(wParam)) {
        case ID_HIDE_ICON:
            UpdateRunKey(TRUE);
            DestroyWindow(hwnd);
            return 0;
        case ID_ZBENGINE_HOME:
            StartHome(hwnd);
            RestartPolling(hwnd);
            return 0;
        case ID_ZBENGINE_SETTINGS:
            OpenSettings(hwnd);
            RestartPolling(hwnd);
            return 0;
        default: return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK TrayMainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: return OnCommand(hwnd, message, wParam, lParam);
        case WM_TIMER: OnPollTimer(hwnd); return 0;
        case WM_TRAY_NOTIFY: return g_pTrayIcon ? g_pTrayIcon->HandleTrayMessage(wParam, lParam) : 0;
        case WM_DESTROY: PostQuitMessage(0); return 0;
        default: return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

HWND CreateMainWindow(HINSTANCE instance) {
    WNDCLASSW wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = TrayMainWndProc;
    wc.hInstance = instance;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszClassName = kWindowClass;
    RegisterClassW(&wc);
    return CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                           CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
}

HANDLE CreateInstanceMutex() {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    if (!mutex) mutex = CreateMutexW(nullptr, FALSE, kMutexNameOld);
    return mutex;
}

int RunMessageLoop() {
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

int ZBEngineIconMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    HANDLE mutex = CreateInstanceMutex();
    DWORD error = GetLastError();
    if (!mutex || error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED) {
        if (mutex) CloseHandle(mutex);
        return -1;
    }
    zbw::SetMenuResource(IDR_TRAYMENU, BuildTrayMenu);
    HWND hwnd = CreateMainWindow(instance);
    if (!hwnd) {
        CloseHandle(mutex);
        return 0;
    }
    UpdateRunKey(FALSE);
    g_hIconRunning = LoadIconW(instance, MAKEINTRESOURCEW(IDI_RUNNING));
    g_hIconNotRunning = LoadIconW(instance, MAKEINTRESOURCEW(IDI_NOT_RUNNING));
    CSystemTray trayIcon;
    g_pTrayIcon = &trayIcon;
    trayIcon.Create(instance, hwnd, WM_TRAY_NOTIFY, u"ZBEngine", g_hIconRunning, IDR_TRAYMENU);
    trayIcon.SetMenuDefaultItem(ID_ZBENGINE_HOME, FALSE);
    RestartPolling(hwnd);
    CString ownPath = ModulePath();
    g_strHomePath = SiblingPath(ownPath, u"zbenginehome.exe");
    g_strSettingsPath = SiblingPath(ownPath, u"zbenginesettings.exe");

    int code = RunMessageLoop();
    if (IsWindow(hwnd)) {
        KillTimer(hwnd, kPollTimer);
        DestroyWindow(hwnd);
    }
    trayIcon.RemoveIcon();
    g_pTrayIcon = nullptr;
    DestroyIcon(g_hIconRunning);
    DestroyIcon(g_hIconNotRunning);
    CloseHandle(mutex);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    return zbw::RunWinMain(argc, argv, ZBEngineIconMain);
}
