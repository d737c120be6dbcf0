#include "dovrane/Tools/ZBEngineSettings/SystemTray.h"

#include <algorithm>

#include "platform/base/WinError.h"
#include "platform/win32/WinVersion.h"

namespace {

const char16_t kTrayClass[] = u"TrayIconClass";

UINT TaskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(u"TaskbarCreated");
    return message;
}

void CopyText(WCHAR* target, size_t capacity, LPCWSTR text) {
    size_t length = 0;
    if (text)
        while (length + 1 < capacity && text[length]) ++length;
    std::copy(text ? text : u"", (text ? text : u"") + length, target);
    target[length] = 0;
}

}  // namespace

CSystemTray::CSystemTray() = default;

CSystemTray::~CSystemTray() {
    RemoveIcon();
    if (m_hWnd) DestroyWindow(m_hWnd);
}

BOOL CSystemTray::Create(HINSTANCE instance, HWND notifyWnd, UINT callbackMessage, LPCWSTR tip, HICON icon,
                         UINT id, BOOL hidden, LPCWSTR balloonText, LPCWSTR balloonTitle, DWORD balloonFlags,
                         UINT balloonTimeoutSeconds) {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(&version);
    m_bEnabled = version.dwMajorVersion >= 4;
    if (!m_bEnabled) return FALSE;
    m_bShowBalloon = version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion > 4;
    m_hInstance = instance;

    WNDCLASSW wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = TrayIconWndProc;
    wc.hInstance = instance;
    wc.lpszClassName = kTrayClass;
    RegisterClassW(&wc);
    m_hWnd = CreateWindowExW(0, kTrayClass, u"", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (m_hWnd) SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    m_tnd = NOTIFYICONDATAW{};
    m_tnd.cbSize = 936;
    m_tnd.hWnd = notifyWnd ? notifyWnd : m_hWnd;
    m_tnd.uID = id;
    m_tnd.hIcon = icon;
    m_tnd.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_tnd.uCallbackMessage = callbackMessage;
    CopyTip(tip, kTipLimit);
    if (m_bShowBalloon && balloonText) {
        m_tnd.uFlags |= NIF_INFO;
        CopyText(m_tnd.szInfo, 256, balloonText);
        CopyText(m_tnd.szInfoTitle, 64, balloonTitle);
        m_tnd.uTimeout = balloonTimeoutSeconds * 1000;
        m_tnd.dwInfoFlags = balloonFlags;
    }
    if (m_bShowBalloon && hidden) {
        m_tnd.uFlags = NIF_STATE;
        m_tnd.dwState = NIS_HIDDEN;
        m_tnd.dwStateMask = NIS_HIDDEN;
    }
    m_uCreationFlags = m_tnd.uFlags;

    BOOL added = TRUE;
    if (!hidden || m_bShowBalloon) added = AddIcon(m_uCreationFlags);
    // Hidden is what the caller asked for; a failed add is pending until the shell comes back.
    m_bHidden = hidden;
    m_bRemoved = !added;
    m_bAddPending = !added;
    m_tnd.szInfo[0] = 0;
    return added;
}

BOOL CSystemTray::AddIcon(UINT flags) {
    m_tnd.uFlags = flags;
    return Shell_NotifyIconW(NIM_ADD, &m_tnd);
}

BOOL CSystemTray::ModifyIcon() {
    return Shell_NotifyIconW(NIM_MODIFY, &m_tnd);
}

BOOL CSystemTray::RemoveIcon() {
    m_bAddPending = FALSE;
    if (!m_bEnabled || m_bRemoved) return TRUE;
    m_tnd.uFlags = 0;
    if (Shell_NotifyIconW(NIM_DELETE, &m_tnd)) {
        m_bHidden = TRUE;
        m_bRemoved = TRUE;
    }
    return m_bRemoved;
}

void CSystemTray::CopyTip(LPCWSTR text, size_t limit) {
    CopyText(m_tnd.szTip, limit, text);
}

BOOL CSystemTray::SetIcon(HICON icon) {
    if (!m_bEnabled) return FALSE;
    m_tnd.uFlags = NIF_ICON;
    m_tnd.hIcon = icon;
    if (m_bHidden) return TRUE;
    return ModifyIcon();
}

BOOL CSystemTray::SetTooltipText(LPCWSTR text) {
    if (!m_bEnabled) return FALSE;
    m_tnd.uFlags = NIF_TIP;
    CopyTip(text, kTipLimit);
    if (m_bHidden) return TRUE;
    return ModifyIcon();
}

BOOL CSystemTray::SetMenuDefaultItem(UINT item, BOOL byPosition) {
    if (m_DefaultMenuItemID == item && m_DefaultMenuItemByPos == byPosition) return TRUE;
    m_DefaultMenuItemID = item;
    m_DefaultMenuItemByPos = byPosition;
    HMENU menu = LoadMenuW(m_hInstance, MAKEINTRESOURCEW(m_tnd.uID));
    if (!menu) return FALSE;
    HMENU popup = GetSubMenu(menu, 0);
    if (!popup) {
        DestroyMenu(menu);
        return FALSE;
    }
    ::SetMenuDefaultItem(popup, item, byPosition);
    DestroyMenu(menu);
    return TRUE;
}

HWND CSystemTray::Target() const {
    return m_tnd.hWnd ? m_tnd.hWnd : m_hWnd;
}

UINT CSystemTray::DefaultCommand(HMENU popup) const {
    return m_DefaultMenuItemByPos ? GetMenuItemID(popup, static_cast<int>(m_DefaultMenuItemID))
                                  : m_DefaultMenuItemID;
}

void CSystemTray::PrepareMenu(HMENU) {}

LRESULT CSystemTray::HandleTrayMessage(WPARAM wParam, LPARAM lParam) {
    if (wParam != m_tnd.uID) return 0;
    HWND target = Target();
    if (!target) return 0;
    if (lParam == WM_LBUTTONDOWN || lParam == WM_LBUTTONDBLCLK || lParam == WM_RBUTTONUP) {
        HMENU menu = LoadMenuW(m_hInstance, MAKEINTRESOURCEW(m_tnd.uID));
        HMENU popup = menu ? GetSubMenu(menu, 0) : nullptr;
        if (!popup) {
            if (menu) DestroyMenu(menu);
            return 0;
        }
        if (lParam == WM_RBUTTONUP) {
            ::SetMenuDefaultItem(popup, m_DefaultMenuItemID, m_DefaultMenuItemByPos);
            PrepareMenu(popup);
            POINT pos{};
            GetCursorPos(&pos);
            SetForegroundWindow(m_tnd.hWnd);
            TrackPopupMenu(popup, TPM_LEFTBUTTON, pos.x, pos.y, 0, target, nullptr);
            PostMessageW(m_tnd.hWnd, WM_NULL, 0, 0);
        } else {
            PostMessageW(target, WM_COMMAND, DefaultCommand(popup), 0);
        }
        DestroyMenu(menu);
    }
    return 1;
}

void CSystemTray::OnTaskbarCreated() {
    if (!m_bAddPending || m_bHidden) return;
    BOOL added = AddIcon(m_uCreationFlags) || GetLastError() == ERROR_ALREADY_EXISTS;
    m_bRemoved = !added;
    m_bAddPending = !added;
}

LRESULT CALLBACK CSystemTray::TrayIconWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CSystemTray* tray = reinterpret_cast<CSystemTray*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (tray && hwnd == tray->m_hWnd) {
        if (message == TaskbarCreatedMessage()) {
            tray->OnTaskbarCreated();
            return 0;
        }
        if (message == tray->m_tnd.uCallbackMessage) return tray->HandleTrayMessage(wParam, lParam);
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}
