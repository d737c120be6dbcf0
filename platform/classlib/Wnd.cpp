#include "platform/classlib/Wnd.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

#include "platform/base/WinError.h"
#include "platform/classlib/WinApp.h"
#include "platform/win32/Thread.h"

namespace {

struct CURRENT_MESSAGE {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

thread_local const CURRENT_MESSAGE* t_current = nullptr;

struct HANDLE_MAP {
    std::mutex lock;
    std::unordered_map<HWND, CWnd*> windows;
};

HANDLE_MAP& Handles() {
    static HANDLE_MAP* handles = new HANDLE_MAP;  // windows may go during static destruction
    return *handles;
}

const char16_t kDefaultClass[] = u"ZbwWnd";

LPCWSTR DefaultClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.lpszClassName = kDefaultClass;
        RegisterClassW(&windowClass);
    });
    return kDefaultClass;
}

bool IsOwnedByCallingThread(HWND hwnd) {
    return GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId();
}

}  // namespace

CWnd::~CWnd() {
    if (m_hWnd && IsOwnedByCallingThread(m_hWnd)) ::DestroyWindow(m_hWnd);
    if (m_hWnd) Detach();  // another thread's window: it lives on without this object
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                    int width, int height, HWND parent, HMENU menu, LPVOID param) {
    if (m_hWnd) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    zbw::SetNextWindowCreateHook(&CWnd::BindAtCreation, this);
    HWND hwnd = ::CreateWindowExW(exStyle, className ? className : DefaultClass(), windowName, style, x, y,
                                  width, height, parent, menu, nullptr, param);
    zbw::SetNextWindowCreateHook(nullptr, nullptr);  // unused when creation failed early
    return hwnd != nullptr;
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect,
                    CWnd* parent, UINT id, LPVOID param) {
    return CreateEx(exStyle, className, windowName, style, rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top, parent ? parent->m_hWnd : nullptr,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), param);
}

BOOL CWnd::Create(LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect, CWnd* parent,
                  UINT id) {
    return CreateEx(0, className, windowName, style | WS_CHILD, rect, parent, id);
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return ::DestroyWindow(m_hWnd);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!m_hWnd) {  // a null handle would post to the calling thread instead
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
    if (!m_hWnd) {  // a null handle would make a thread timer
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return ::SetTimer(m_hWnd, id, elapseMs, proc);
}

BOOL CWnd::KillTimer(UINT_PTR id) {
    if (!m_hWnd) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return ::KillTimer(m_hWnd, id);
}

void CWnd::SetWindowText(LPCWSTR text) {
    ::SetWindowTextW(m_hWnd, text);
}

CWnd* CWnd::GetDesktopWindow() {
    static CWnd* desktop = [] {
        auto* wnd = new CWnd;
        wnd->m_hWnd = ::GetDesktopWindow();
        return wnd;
    }();
    return desktop;
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
    HANDLE_MAP& handles = Handles();
    std::lock_guard<std::mutex> guard(handles.lock);
    auto it = handles.windows.find(hwnd);
    return it == handles.windows.end() ? nullptr : it->second;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (OnWndMsg(message, wParam, lParam, &result)) return result;
    return DefWindowProc(message, wParam, lParam);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const MSGMAP_ENTRY* entry = FindMessageEntry(message, message == WM_COMMAND ? LOWORD(wParam) : 0);
    if (!entry) return FALSE;
    *result = entry->handler(this, wParam, lParam);
    return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_superProc) return CallWindowProcW(m_superProc, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
    return t_current ? DefWindowProc(t_current->message, t_current->wParam, t_current->lParam) : 0;
}

int CWnd::OnCreate(LPCREATESTRUCT) {
    return static_cast<int>(Default());
}

void CWnd::OnDestroy() {
    Default();
}

void CWnd::OnTimer(UINT_PTR) {
    Default();
}

void CWnd::OnClose() {
    Default();
}

BOOL CWnd::OnQueryEndSession() {
    return static_cast<BOOL>(Default());
}

void CWnd::OnEndSession(BOOL) {
    Default();
}

BOOL CWnd::OnDeviceChange(UINT, DWORD_PTR) {
    return static_cast<BOOL>(Default());
}

LRESULT CALLBACK CWnd::StandardWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = FromHandlePermanent(hwnd);
    if (!wnd) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    CURRENT_MESSAGE current{message, wParam, lParam};
    const CURRENT_MESSAGE* outer = t_current;
    t_current = &current;
    LRESULT result = wnd->WindowProc(message, wParam, lParam);
    t_current = outer;
    if (message == WM_NCDESTROY) wnd->OnNcDestroyed();
    return result;
}

void CWnd::BindAtCreation(HWND hwnd, void* context) {
    auto* wnd = static_cast<CWnd*>(context);
    wnd->m_hWnd = hwnd;
    {
        HANDLE_MAP& handles = Handles();
        std::lock_guard<std::mutex> guard(handles.lock);
        handles.windows[hwnd] = wnd;
    }
    LONG_PTR classProc =
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::StandardWndProc));
    wnd->m_superProc = reinterpret_cast<WNDPROC>(classProc);
}

void CWnd::Detach() {
    HANDLE_MAP& handles = Handles();
    std::lock_guard<std::mutex> guard(handles.lock);
    auto it = handles.windows.find(m_hWnd);
    if (it != handles.windows.end() && it->second == this) handles.windows.erase(it);
    m_hWnd = nullptr;
}

void CWnd::OnNcDestroyed() {
    CWinApp* app = AfxGetApp();
    bool wasMain = app && app->m_pMainWnd == this;
    Detach();
    if (wasMain) {
        app->m_pMainWnd = nullptr;
        PostQuitMessage(0);
    }
    PostNcDestroy();
}

LPCWSTR AfxRegisterWndClass(UINT classStyle, HCURSOR cursor, HBRUSH background, HICON icon) {
    static std::mutex lock;
    // Never destroyed: callers keep the names, and windows may still be made during exit.
    static auto& names = *new std::set<std::u16string>;
    char text[96];
    snprintf(text, sizeof text, "ZbwWnd:%x:%p:%p:%p", classStyle, static_cast<void*>(cursor),
             static_cast<void*>(background), static_cast<void*>(icon));
    std::u16string name(text, text + std::char_traits<char>::length(text));
    std::lock_guard<std::mutex> guard(lock);
    auto [it, added] = names.insert(name);
    if (added) {
        WNDCLASSW windowClass{};
        windowClass.style = classStyle;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.lpszClassName = it->c_str();
        RegisterClassW(&windowClass);
    }
    return it->c_str();
}
