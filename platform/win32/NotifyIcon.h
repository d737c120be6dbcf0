// The notification area, icons, popup menus and message boxes, emulated.
//
// There is no shell: Shell_NotifyIconW keeps each icon's state in a state file in the user part
// of the emulation root, tray/<pid>.<id> (one "name=value" line each, UTF-8: pid, owner window,
// icon id, callback message, icon resource id, tip, hidden, balloon text, title, time-out and
// flags). NIM_ADD makes the file (fails when it exists for this process), NIM_MODIFY rewrites the
// fields its flags name, NIM_DELETE removes it. Files are replaced atomically, so a reader never
// sees half a state; a file whose process died stays until that pid adds the icon again, so
// readers check that pid. Clicks on the icon arrive through the control endpoint as the icon's
// callback message posted to its owner window (wParam the icon id, lParam the mouse message).
//
// Icons are handles to small objects that remember the resource id they were loaded from; any
// id loads (there are no resource files), and DestroyIcon closes the handle.
//
// Menus are handles too: items in order (command id or submenu, text, flags) and a default item.
// Menu resources are registered by the program at start (SetMenuResource); LoadMenuW builds a
// fresh copy. TrackPopupMenu has no user to choose: it returns 0 at once, and a menu command
// reaches the window as WM_COMMAND posted through the control endpoint. Destroying a menu
// destroys its submenus that are still live.
//
// MessageBoxW writes "caption: text" as one line to standard error and returns IDOK.
//
// Left out: NIM_SETFOCUS, NIM_SETVERSION, the balloon's display and its callback messages,
// owner-drawn and bitmap items, keyboard navigation of menus, the real cursor position.
// All functions are thread-safe.
#pragma once

#include <string>

#include "platform/base/WinTypes.h"

#define NIM_ADD 0x00000000u
#define NIM_MODIFY 0x00000001u
#define NIM_DELETE 0x00000002u

#define NIF_MESSAGE 0x00000001u
#define NIF_ICON 0x00000002u
#define NIF_TIP 0x00000004u
#define NIF_STATE 0x00000008u
#define NIF_INFO 0x00000010u

#define NIS_HIDDEN 0x00000001u

#define NIIF_NONE 0x00000000u
#define NIIF_INFO 0x00000001u
#define NIIF_WARNING 0x00000002u
#define NIIF_ERROR 0x00000003u

#define MF_STRING 0x00000000u
#define MF_BYCOMMAND 0x00000000u
#define MF_GRAYED 0x00000001u
#define MF_POPUP 0x00000010u
#define MF_BYPOSITION 0x00000400u
#define MF_SEPARATOR 0x00000800u

#define TPM_LEFTBUTTON 0x0000u
#define TPM_RIGHTBUTTON 0x0002u
#define TPM_RETURNCMD 0x0100u

#define MB_OK 0x00000000u
#define MB_ICONERROR 0x00000010u
#define IDOK 1

#define IMAGE_ICON 1
#define LR_DEFAULTCOLOR 0x00000000u

#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(p) ((reinterpret_cast<ULONG_PTR>(p) >> 16) == 0)

// The wide record with the Vista-era layout fields the system uses (its size field is 936 on
// Windows; here cbSize is only carried).
struct NOTIFYICONDATAW {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    WCHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    WCHAR szInfo[256];
    union {
        UINT uTimeout;
        UINT uVersion;
    };
    WCHAR szInfoTitle[64];
    DWORD dwInfoFlags;
};
typedef NOTIFYICONDATAW* PNOTIFYICONDATAW;

// FALSE with ERROR_INVALID_PARAMETER for an unknown message or a missing window, with
// ERROR_ALREADY_EXISTS for a second add, ERROR_FILE_NOT_FOUND for an icon never added.
BOOL Shell_NotifyIconW(DWORD message, PNOTIFYICONDATAW data);

// The loaded resource id is what the state file shows as "icon".
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
// IMAGE_ICON only; sizes and flags are accepted and ignored.
HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags);
BOOL DestroyIcon(HICON icon);

HMENU CreateMenu();
HMENU CreatePopupMenu();
// MF_STRING (id = command), MF_POPUP (id = the submenu, which the menu then owns), MF_SEPARATOR.
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCWSTR text);
BOOL DestroyMenu(HMENU menu);
HMENU GetSubMenu(HMENU menu, int position);
// The command of the item at position; (UINT)-1 for a submenu, a separator or no such item.
UINT GetMenuItemID(HMENU menu, int position);
int GetMenuItemCount(HMENU menu);
// item is a command or, with byPosition, a position; (UINT)-1 clears the default.
BOOL SetMenuDefaultItem(HMENU menu, UINT item, UINT byPosition);
// The default item's command (or position with MF_BYPOSITION in flags); (UINT)-1 without one.
UINT GetMenuDefaultItem(HMENU menu, UINT flags, UINT options);
// A resource registered with zbw::SetMenuResource; null with ERROR_INVALID_PARAMETER when none is.
HMENU LoadMenuW(HINSTANCE instance, LPCWSTR name);
// No user chooses: 0 at once (a valid menu), FALSE with ERROR_INVALID_HANDLE otherwise.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND hwnd, LPCRECT rect);

// Always TRUE: there is no foreground to bring a window to.
BOOL SetForegroundWindow(HWND hwnd);
// (0, 0): there is no pointer.
BOOL GetCursorPos(LPPOINT point);

int MessageBoxW(HWND hwnd, LPCWSTR text, LPCWSTR caption, UINT type);

namespace zbw {

// The program's menu resources: build makes a fresh menu (bar with popups) for LoadMenuW.
typedef HMENU (*MenuBuilder)();
void SetMenuResource(UINT id, MenuBuilder build);

// The state file of the icon (pid, id), and its folder.
std::string NotifyIconStatePath(DWORD pid, UINT id);
std::string NotifyIconStateDir();

}  // namespace zbw
