// CWnd: the class library's window object over a window of our message library (WinUser.h).
//
// CreateEx / Create make the window on the calling thread, which then owns it, and bind the
// object to it before WM_NCCREATE, so every message of the window reaches the virtual
// WindowProc on that thread. The default WindowProc looks the message up in the message map
// (CmdTarget.h) and hands what is not there to DefWindowProc: the class's own procedure, or
// DefWindowProcW. The ON_WM_* handlers of CWnd itself do the default handling (Default()).
// After WM_NCDESTROY the object lets go of the handle (m_hWnd becomes null) and PostNcDestroy
// runs; when the window was the application's main window, m_pMainWnd is cleared and the
// thread's message loop is asked to end with 0, as in the class library.
//
// The object does not own what its window procedure does; it owns the window: the destructor
// destroys a window that still exists when it runs on the owner thread, and otherwise only lets
// go of it. Post, send and timer members may be called from any thread of the process.
// Left out: painting, geometry, child controls, subclassing of existing windows, temporary
// handle maps (only the desktop has a CWnd of its own).
#pragma once

#include "platform/classlib/CmdTarget.h"

class CWnd : public CCmdTarget {
   public:
    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // A null class name takes the layer's default window class. FALSE when creation failed
    // or the object already has a window.
    virtual BOOL CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                          int width, int height, HWND parent, HMENU menu, LPVOID param = nullptr);
    virtual BOOL CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect,
                          CWnd* parent, UINT id, LPVOID param = nullptr);
    // A child window (WS_CHILD is added).
    virtual BOOL Create(LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect, CWnd* parent,
                        UINT id);
    virtual BOOL DestroyWindow();

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs, TIMERPROC proc = nullptr);
    BOOL KillTimer(UINT_PTR id);
    void SetWindowText(LPCWSTR text);

    // A CWnd for the desktop window, shared and never destroyed.
    static CWnd* GetDesktopWindow();
    // The object bound to a window of this process, or null.
    static CWnd* FromHandlePermanent(HWND hwnd);

    HWND m_hWnd = nullptr;

   protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // TRUE when the message map handled the message; result receives the handler's answer.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void PostNcDestroy() {}
    // DefWindowProc with the message being handled now.
    LRESULT Default();

    int OnCreate(LPCREATESTRUCT createStruct);
    void OnDestroy();
    void OnTimer(UINT_PTR id);
    void OnClose();
    BOOL OnQueryEndSession();
    void OnEndSession(BOOL ending);
    BOOL OnDeviceChange(UINT eventType, DWORD_PTR data);

   private:
    static LRESULT CALLBACK StandardWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static void BindAtCreation(HWND hwnd, void* context);
    void Detach();
    void OnNcDestroyed();

    WNDPROC m_superProc = nullptr;
};

// The name of a window class with the given style and no procedure of its own, registered on
// first use; the same arguments give the same name. The cursor, brush and icon are kept only
// in the name.
LPCWSTR AfxRegisterWndClass(UINT classStyle, HCURSOR cursor = nullptr, HBRUSH background = nullptr,
                            HICON icon = nullptr);
