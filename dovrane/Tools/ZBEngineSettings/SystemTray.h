// CSystemTray: one icon in the notification area with its picture and tip, a hidden message
// window of class "TrayIconClass", and the popup menu whose resource id is the icon id. Mouse
// messages on the icon become commands for the owner window (the notification window given at
// creation, else the hidden window). Main thread only: the hidden window belongs to the thread
// that calls Create. The object owns the hidden window and removes the icon when it goes; the
// icon handles stay the caller's. Failures are FALSE results.
#pragma once

#include "platform/base/CString.h"
#include "platform/win32/NotifyIcon.h"
#include "platform/win32/WinUser.h"

class CSystemTray {
   public:
    CSystemTray();
    virtual ~CSystemTray();
    CSystemTray(const CSystemTray&) = delete;
    CSystemTray& operator=(const CSystemTray&) = delete;

    BOOL Create(HINSTANCE instance, HWND notifyWnd, UINT callbackMessage, LPCWSTR tip, HICON icon, UINT id,
                BOOL hidden = FALSE, LPCWSTR balloonText = nullptr, LPCWSTR balloonTitle = nullptr,
                DWORD balloonFlags = NIIF_NONE, UINT balloonTimeoutSeconds = 10);
    BOOL RemoveIcon();
    BOOL SetIcon(HICON icon);
    BOOL SetTooltipText(LPCWSTR text);
    BOOL SetMenuDefaultItem(UINT item, BOOL byPosition);

    virtual LRESULT HandleTrayMessage(WPARAM wParam, LPARAM lParam);
    // Called before the popup menu is shown.
    virtual void PrepareMenu(HMENU menu);
    void OnTaskbarCreated();

    BOOL IsHidden() const { return m_bHidden; }
    BOOL IsRemoved() const { return m_bRemoved; }
    HWND GetHiddenWindow() const { return m_hWnd; }

    static LRESULT CALLBACK TrayIconWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

   private:
    BOOL AddIcon(UINT flags);
    BOOL ModifyIcon();
    HWND Target() const;
    UINT DefaultCommand(HMENU popup) const;
    void CopyTip(LPCWSTR text, size_t limit);

    static const size_t kTipLimit = 128;

    NOTIFYICONDATAW m_tnd{};
    HINSTANCE m_hInstance = nullptr;
    HWND m_hWnd = nullptr;
    BOOL m_bEnabled = FALSE;
    BOOL m_bHidden = TRUE;
    BOOL m_bRemoved = TRUE;
    BOOL m_bAddPending = FALSE;
    BOOL m_bShowBalloon = FALSE;
    UINT m_uCreationFlags = 0;
    UINT m_DefaultMenuItemID = 0;
    BOOL m_DefaultMenuItemByPos = TRUE;
};
