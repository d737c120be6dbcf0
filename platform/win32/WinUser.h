// Windows, message queues and timers: our own message library behind the Win32 names.
//
// A window belongs to the thread that created it, and its procedure is only ever called on
// that thread. Each thread gets a queue on its first message call (CreateWindowExW,
// GetMessageW, PeekMessageW, SendMessageW, SetTimer, PostQuitMessage, MsgWait...). A queue holds
// posted messages in order, messages sent by other threads, timers and the quit state.
//
// Retrieval order in GetMessageW / PeekMessageW: first every message sent by another thread
// is served (its window procedure is called and the sender released, whatever the filter);
// then the oldest matching posted message; then the quit state of PostQuitMessage (only
// without a window filter); then a due timer, which gives one WM_TIMER however many periods
// went by. So a WM_TIMER comes only when nothing else matching is pending.
//
// A cross-thread SendMessageW blocks its caller until the receiver's thread calls GetMessageW or
// PeekMessageW; a thread that waits on events (also in MsgWaitForMultipleObjects) or sleeps does
// not serve it, as on Windows. While it waits, the sender serves messages sent to itself.
// A send to a window that goes away, or whose thread ends, returns 0. A same-thread send is a
// direct call. PostMessageW never blocks, and it wakes the receiving thread only when that
// thread waits for messages.
//
// HWND values carry the owning pid in their upper 32 bits. Posting to a window or thread of
// another process goes through the control endpoint (ControlEndpoint.h), which hands it to the
// owner's PostLocal; FindWindowW looks at this process's windows first, then at the windows
// other processes published. Timers read the layer clock (Clock.h), so steered test clocks
// fire them.
//
// Left out: painting, input, window geometry and visibility, child-window trees (a parent is
// recorded only), broadcast posts, cross-process sends, hooks. When a thread ends, its windows
// go with it without WM_DESTROY. All functions may be called from any thread unless a line says
// otherwise; they report failure through their result and GetLastError.
#pragma once

#include "platform/base/WinTypes.h"

#ifndef CALLBACK
#define CALLBACK
#endif
#ifndef WINAPI
#define WINAPI
#endif

typedef WORD ATOM;
struct HBRUSH__;
typedef HBRUSH__* HBRUSH;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

#define WM_NULL 0x0000u
#define WM_CREATE 0x0001u
#define WM_DESTROY 0x0002u
#define WM_PAINT 0x000Fu
#define WM_CLOSE 0x0010u
#define WM_QUERYENDSESSION 0x0011u
#define WM_QUIT 0x0012u
#define WM_ENDSESSION 0x0016u
#define WM_NCCREATE 0x0081u
#define WM_NCDESTROY 0x0082u
#define WM_COMMAND 0x0111u
#define WM_TIMER 0x0113u
#define WM_MOUSEMOVE 0x0200u
#define WM_LBUTTONDOWN 0x0201u
#define WM_LBUTTONUP 0x0202u
#define WM_LBUTTONDBLCLK 0x0203u
#define WM_RBUTTONDOWN 0x0204u
#define WM_RBUTTONUP 0x0205u
#define WM_RBUTTONDBLCLK 0x0206u
#define WM_DEVICECHANGE 0x0219u
#define WM_USER 0x0400u
#define WM_APP 0x8000u

#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u
#define PM_NOYIELD 0x0002u

#define QS_KEY 0x0001u
#define QS_MOUSEMOVE 0x0002u
#define QS_MOUSEBUTTON 0x0004u
#define QS_POSTMESSAGE 0x0008u
#define QS_TIMER 0x0010u
#define QS_PAINT 0x0020u
#define QS_SENDMESSAGE 0x0040u
#define QS_HOTKEY 0x0080u
#define QS_ALLPOSTMESSAGE 0x0100u
#define QS_MOUSE (QS_MOUSEMOVE | QS_MOUSEBUTTON)
#define QS_INPUT (QS_MOUSE | QS_KEY)
#define QS_ALLEVENTS (QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY)
#define QS_ALLINPUT (QS_ALLEVENTS | QS_SENDMESSAGE)

#define WS_OVERLAPPED 0x00000000u
#define WS_MAXIMIZEBOX 0x00010000u
#define WS_MINIMIZEBOX 0x00020000u
#define WS_THICKFRAME 0x00040000u
#define WS_SYSMENU 0x00080000u
#define WS_CAPTION 0x00C00000u
#define WS_VISIBLE 0x10000000u
#define WS_CHILD 0x40000000u
#define WS_POPUP 0x80000000u
#define WS_OVERLAPPEDWINDOW \
    (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)

#define CS_VREDRAW 0x0001u
#define CS_HREDRAW 0x0002u
#define CS_DBLCLKS 0x0008u

#define CW_USEDEFAULT (static_cast<int>(0x80000000u))
#define COLOR_WINDOW 5
#define HWND_DESKTOP (static_cast<HWND>(nullptr))
#define GWLP_WNDPROC (-4)
#define GWLP_USERDATA (-21)
#define USER_TIMER_MINIMUM 0x0000000Au
#define USER_TIMER_MAXIMUM 0x7FFFFFFFu

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG* LPMSG;

struct WNDCLASSW {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
};

struct WNDCLASSEXW {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
    HICON hIconSm;
};

// lParam of WM_NCCREATE and WM_CREATE.
struct CREATESTRUCTW {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCWSTR lpszName;
    LPCWSTR lpszClass;
    DWORD dwExStyle;
};
typedef CREATESTRUCTW* LPCREATESTRUCTW;
typedef CREATESTRUCTW CREATESTRUCT;
typedef CREATESTRUCTW* LPCREATESTRUCT;

// Window classes belong to the process; names compare without regard to case. A class name
// may also be given as the atom RegisterClass returned.
ATOM RegisterClassW(const WNDCLASSW* wndClass);
ATOM RegisterClassExW(const WNDCLASSEXW* wndClass);

// Sends WM_NCCREATE and WM_CREATE on the calling thread, which owns the window; -1 from
// WM_CREATE destroys it again and the result is null. The parent may be null, the desktop or
// a window of this process. A top-level window is published for FindWindowW in other processes,
// unless it has WS_CHILD (then only this process finds it).
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
// Owner thread only: WM_DESTROY then WM_NCDESTROY; its timers and queued messages go, and
// threads blocked sending to it get 0.
BOOL DestroyWindow(HWND hwnd);
// WM_CLOSE destroys the window; WM_NCCREATE, WM_QUERYENDSESSION and WM_DEVICECHANGE give TRUE;
// everything else 0.
LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// GWLP_WNDPROC and GWLP_USERDATA of a window of this process.
LONG_PTR GetWindowLongPtrW(HWND hwnd, int index);
LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value);
// A live window of this process (or the desktop); windows of other processes give FALSE.
BOOL IsWindow(HWND hwnd);
HWND GetDesktopWindow();
// The owning thread; for a window of another process the thread is 0 and the pid is that
// process's.
DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId);
BOOL SetWindowTextW(HWND hwnd, LPCWSTR text);
int GetWindowTextW(HWND hwnd, LPWSTR buffer, int maxCount);
// Top-level windows by class and/or title (null matches any), both without regard to case.
HWND FindWindowW(LPCWSTR className, LPCWSTR windowName);

// A null hwnd posts to the calling thread. Windows of other processes go through the endpoint.
BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Windows of other processes are refused (0, ERROR_NOT_SUPPORTED).
LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// The thread must have a queue; a thread of another process (its main thread id is its pid)
// goes through the endpoint.
BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
// Blocks until a message matches; 0 for WM_QUIT, -1 for an invalid window filter.
BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax);
BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
// No keyboard input exists: nothing to translate.
BOOL TranslateMessage(const MSG* msg);
// Calls the procedure of a window of the calling thread (or the TIMERPROC of a timer message).
LRESULT DispatchMessageW(const MSG* msg);
void PostQuitMessage(int exitCode);

// Same (hwnd, id) re-arms the timer with the new period. The window may belong to any thread of
// this process; WM_TIMER arrives on the window's own thread. Periods are clamped to
// USER_TIMER_MINIMUM..USER_TIMER_MAXIMUM. Without a window, a new id is made unless id names a
// timer of the calling thread.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// The same name gives the same id (0xC000 and up) in every process of the emulation root:
// names are kept in a file there. Names compare without regard to case; 0 on failure.
UINT RegisterWindowMessageW(LPCWSTR name);

// Waits for any of the handles (or all of them, and a message) or for a message of the wake
// mask in the calling thread's queue: WAIT_OBJECT_0 + count when a message is there. A message
// already waiting counts (MWMO_INPUTAVAILABLE behaviour), unlike Windows' "new input" rule.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs,
                                DWORD wakeMask);

// There is no session manager to hold back: both accept and do nothing.
BOOL ShutdownBlockReasonCreate(HWND hwnd, LPCWSTR reason);
BOOL ShutdownBlockReasonDestroy(HWND hwnd);

namespace zbw {

// The control endpoint hands in a message that came from another process. False when the
// window is not a live window of this process, or the thread has no queue.
bool PostLocal(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
bool PostLocal(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);

// The pid in a window handle.
DWORD ProcessOfWindow(HWND hwnd);

// Called once, on the creating thread, for the next window it creates: after the handle
// exists and before WM_NCCREATE, so a window object can bind itself to it (CWnd does).
typedef void (*WindowCreateHook)(HWND hwnd, void* context);
void SetNextWindowCreateHook(WindowCreateHook hook, void* context);

// Session signals for the calling thread, which must be the one that pumps the main window:
// SIGTERM becomes WM_QUERYENDSESSION and then WM_ENDSESSION with its answer, and after
// WM_ENDSESSION(TRUE) the process ends with exit code 0, as Windows ends it with the session;
// SIGINT and SIGHUP post WM_CLOSE. They are served inside GetMessageW / PeekMessageW like sent
// messages. mainWindow is asked at each signal; when it gives no live window the signal takes
// its default action. The handler only sets a flag and wakes the queue.
void InstallSessionSignals(HWND (*mainWindow)());

}  // namespace zbw
