// Window classes and windows: creation, destruction, default procedure, titles and look-up.
#include <unistd.h>

#include <algorithm>

#include "platform/base/WideChar.h"
#include "platform/base/WinError.h"
#include "platform/win32/ControlEndpoint.h"
#include "platform/win32/LateBound.h"
#include "platform/win32/MessageQueue.h"
#include "platform/win32/Thread.h"
#include "platform/win32/WindowTable.h"

namespace {

struct CREATE_HOOK {
    zbw::WindowCreateHook hook = nullptr;
    void* context = nullptr;
};

thread_local CREATE_HOOK t_createHook;

const uintptr_t kDesktopWindow = 0x00010010;

bool IsParentAllowed(HWND parent) {
    CWindowTable::WINDOW_RECORD record;
    return parent == nullptr || parent == GetDesktopWindow() ||
           CWindowTable::Instance().Lookup(parent, &record);
}

void RunCreateHook(HWND hwnd) {
    CREATE_HOOK pending = t_createHook;
    t_createHook = CREATE_HOOK{};
    if (pending.hook) pending.hook(hwnd, pending.context);
}

// Only top-level windows can be found, so only they are published. A child window (of the
// desktop, as the engine's many item windows are) is found inside its own process only: other
// programs look for no such window, and each published one holds a descriptor.
void Publish(HWND hwnd, HWND parent, DWORD style, const std::u16string& className,
             const std::u16string& title) {
    if ((parent == nullptr || parent == GetDesktopWindow()) && !(style & WS_CHILD))
        zbw::PublishWindow(hwnd, className.c_str(), title.c_str());
}

bool LookupOrFail(HWND hwnd, CWindowTable::WINDOW_RECORD* record) {
    if (CWindowTable::Instance().Lookup(hwnd, record)) return true;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
}

std::u16string Text(LPCWSTR text) {
    return text ? std::u16string(text) : std::u16string();
}

// The system binds the shutdown-block functions by name; Windows has them from 6.0 on.
const bool kShutdownBlockBound = [] {
    zbw::AddLateBound("user32", "ShutdownBlockReasonCreate",
                      reinterpret_cast<FARPROC>(&ShutdownBlockReasonCreate), 6);
    zbw::AddLateBound("user32", "ShutdownBlockReasonDestroy",
                      reinterpret_cast<FARPROC>(&ShutdownBlockReasonDestroy), 6);
    return true;
}();

}  // namespace

namespace zbw {

DWORD ProcessOfWindow(HWND hwnd) {
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(hwnd) >> 32);
}

void SetNextWindowCreateHook(WindowCreateHook hook, void* context) {
    t_createHook = CREATE_HOOK{hook, context};
}

}  // namespace zbw

ATOM RegisterClassW(const WNDCLASSW* wndClass) {
    if (!wndClass || !wndClass->lpszClassName || !*wndClass->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return CWindowTable::Instance().AddClass(wndClass->lpszClassName, wndClass->lpfnWndProc, wndClass->style);
}

ATOM RegisterClassExW(const WNDCLASSEXW* wndClass) {
    if (!wndClass || wndClass->cbSize != sizeof(WNDCLASSEXW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    WNDCLASSW plain{wndClass->style,        wndClass->lpfnWndProc,   wndClass->cbClsExtra,
                    wndClass->cbWndExtra,   wndClass->hInstance,     wndClass->hIcon,
                    wndClass->hCursor,      wndClass->hbrBackground, wndClass->lpszMenuName,
                    wndClass->lpszClassName};
    return RegisterClassW(&plain);
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    CWindowTable& table = CWindowTable::Instance();
    CWindowTable::WNDCLASS_RECORD windowClass;
    if (!className || !table.FindClass(className, &windowClass)) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (!IsParentAllowed(parent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (!CMessageQueue::OfCurrentThread()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::u16string title = Text(windowName);
    HWND hwnd = table.AddWindow(CWindowTable::WINDOW_RECORD{
        nullptr, GetCurrentThreadId(), windowClass.name, title, style, parent, windowClass.proc, 0, false});
    Publish(hwnd, parent, style, windowClass.name, title);
    RunCreateHook(hwnd);
    CREATESTRUCTW create{param,      instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
                         windowName, className, exStyle};
    LPARAM createParam = reinterpret_cast<LPARAM>(&create);
    if (!SendMessageW(hwnd, WM_NCCREATE, 0, createParam) ||
        SendMessageW(hwnd, WM_CREATE, 0, createParam) == -1) {
        DestroyWindow(hwnd);
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return hwnd;
}

BOOL DestroyWindow(HWND hwnd) {
    CWindowTable& table = CWindowTable::Instance();
    CWindowTable::WINDOW_RECORD record;
    if (!LookupOrFail(hwnd, &record)) return FALSE;
    if (record.threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!table.BeginDestroy(hwnd)) return TRUE;  // a handler of WM_DESTROY destroys it again
    SendMessageW(hwnd, WM_DESTROY, 0, 0);
    SendMessageW(hwnd, WM_NCDESTROY, 0, 0);
    table.RemoveWindow(hwnd);
    if (auto queue = CMessageQueue::Existing()) queue->ForgetWindow(hwnd);
    zbw::UnpublishWindow(hwnd);
    return TRUE;
}

LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM, LPARAM) {
    switch (message) {
        case WM_CLOSE: DestroyWindow(hwnd); return 0;
        case WM_NCCREATE:
        case WM_QUERYENDSESSION:
        case WM_DEVICECHANGE: return TRUE;
        default: return 0;
    }
}

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return proc ? proc(hwnd, message, wParam, lParam) : 0;
}

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) {
    CWindowTable::WINDOW_RECORD record;
    if (!LookupOrFail(hwnd, &record)) return 0;
    switch (index) {
        case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(record.proc);
        case GWLP_USERDATA: return record.userData;
        default: SetLastError(ERROR_INVALID_PARAMETER); return 0;
    }
}

LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
    CWindowTable& table = CWindowTable::Instance();
    if (index == GWLP_WNDPROC) {
        WNDPROC old = nullptr;
        if (table.SetProc(hwnd, reinterpret_cast<WNDPROC>(value), &old))
            return reinterpret_cast<LONG_PTR>(old);
    } else if (index == GWLP_USERDATA) {
        LONG_PTR old = 0;
        if (table.SetUserData(hwnd, value, &old)) return old;
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

BOOL IsWindow(HWND hwnd) {
    CWindowTable::WINDOW_RECORD record;
    return hwnd == GetDesktopWindow() || CWindowTable::Instance().Lookup(hwnd, &record);
}

HWND GetDesktopWindow() {
    return reinterpret_cast<HWND>(kDesktopWindow);
}

DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId) {
    DWORD pid = zbw::ProcessOfWindow(hwnd);
    DWORD thread = 0;
    CWindowTable::WINDOW_RECORD record;
    if (pid == GetCurrentProcessId()) {
        if (!LookupOrFail(hwnd, &record))
            pid = 0;
        else
            thread = record.threadId;
    }
    if (processId) *processId = pid;
    return thread;
}

BOOL SetWindowTextW(HWND hwnd, LPCWSTR text) {
    CWindowTable::WINDOW_RECORD record;
    std::u16string title = Text(text);
    if (!LookupOrFail(hwnd, &record) || !CWindowTable::Instance().SetTitle(hwnd, title)) return FALSE;
    Publish(hwnd, record.parent, record.style, record.className, title);
    return TRUE;
}

int GetWindowTextW(HWND hwnd, LPWSTR buffer, int maxCount) {
    CWindowTable::WINDOW_RECORD record;
    if (!buffer || maxCount <= 0 || !LookupOrFail(hwnd, &record)) return 0;
    int length = std::min(static_cast<int>(record.title.size()), maxCount - 1);
    std::copy_n(record.title.begin(), length, buffer);
    buffer[length] = 0;
    return length;
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
    CWindowTable& table = CWindowTable::Instance();
    if (className && reinterpret_cast<uintptr_t>(className) < 0x10000) {
        CWindowTable::WNDCLASS_RECORD windowClass;
        if (!table.FindClass(className, &windowClass)) return nullptr;  // atoms are per process
        return table.FindTopLevel(windowClass.name.c_str(), windowName);
    }
    if (HWND local = table.FindTopLevel(className, windowName)) return local;
    return zbw::FindPublishedWindow(className, windowName);
}

BOOL ShutdownBlockReasonCreate(HWND, LPCWSTR) {
    return TRUE;
}

BOOL ShutdownBlockReasonDestroy(HWND) {
    return TRUE;
}
