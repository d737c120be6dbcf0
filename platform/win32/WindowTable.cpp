#include "platform/win32/WindowTable.h"

#include <unistd.h>

#include "platform/base/WideChar.h"
#include "platform/base/WinError.h"
#include "platform/win32/ControlEndpoint.h"
#include "platform/win32/Thread.h"

namespace {

const ATOM kFirstClassAtom = 0xC000;

bool IsAtom(LPCWSTR nameOrAtom) {
    return reinterpret_cast<uintptr_t>(nameOrAtom) < 0x10000;
}

bool SameName(const std::u16string& name, LPCWSTR wanted) {
    return zbw::CompareNoCase(name, std::u16string_view(wanted, zbw::StrLen(wanted))) == 0;
}

bool IsTopLevel(const CWindowTable::WINDOW_RECORD& window) {
    return window.parent == nullptr || window.parent == GetDesktopWindow();
}

}  // namespace

CWindowTable& CWindowTable::Instance() {
    static CWindowTable* table = new CWindowTable;  // used by thread-exit cleanup up to the end
    return *table;
}

ATOM CWindowTable::AddClass(LPCWSTR name, WNDPROC proc, UINT style) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const WNDCLASS_RECORD& known : m_classes) {
        if (SameName(known.name, name)) {
            SetLastError(ERROR_CLASS_ALREADY_EXISTS);
            return 0;
        }
    }
    ATOM atom = static_cast<ATOM>(kFirstClassAtom + m_classes.size());
    m_classes.push_back(WNDCLASS_RECORD{std::u16string(name), atom, proc, style});
    return atom;
}

bool CWindowTable::FindClass(LPCWSTR nameOrAtom, WNDCLASS_RECORD* found) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const WNDCLASS_RECORD& known : m_classes) {
        bool match = IsAtom(nameOrAtom) ? known.atom == reinterpret_cast<uintptr_t>(nameOrAtom)
                                        : SameName(known.name, nameOrAtom);
        if (match) {
            *found = known;
            return true;
        }
    }
    return false;
}

HWND CWindowTable::AddWindow(const WINDOW_RECORD& record) {
    std::lock_guard<std::mutex> guard(m_lock);
    uintptr_t value = (static_cast<uintptr_t>(GetCurrentProcessId()) << 32) | m_nextSerial;
    m_nextSerial += 2;
    WINDOW_RECORD& added = m_windows[value] = record;
    added.hwnd = reinterpret_cast<HWND>(value);
    return added.hwnd;
}

void CWindowTable::RemoveWindow(HWND hwnd) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_windows.erase(reinterpret_cast<uintptr_t>(hwnd));
}

bool CWindowTable::Lookup(HWND hwnd, WINDOW_RECORD* found) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == m_windows.end()) return false;
    *found = it->second;
    return true;
}

bool CWindowTable::Owner(HWND hwnd, DWORD* threadId, WNDPROC* proc) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == m_windows.end()) return false;
    *threadId = it->second.threadId;
    *proc = it->second.proc;
    return true;
}

bool CWindowTable::SetProc(HWND hwnd, WNDPROC proc, WNDPROC* old) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == m_windows.end()) return false;
    *old = it->second.proc;
    it->second.proc = proc;
    return true;
}

bool CWindowTable::SetUserData(HWND hwnd, LONG_PTR value, LONG_PTR* old) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == m_windows.end()) return false;
    *old = it->second.userData;
    it->second.userData = value;
    return true;
}

bool CWindowTable::SetTitle(HWND hwnd, const std::u16string& title) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == m_windows.end()) return false;
    it->second.title = title;
    return true;
}

bool CWindowTable::BeginDestroy(HWND hwnd) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == m_windows.end() || it->second.destroying) return false;
    it->second.destroying = true;
    return true;
}

HWND CWindowTable::FindTopLevel(LPCWSTR className, LPCWSTR title) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& [value, window] : m_windows) {
        if (window.destroying || !IsTopLevel(window)) continue;
        if (className && !SameName(window.className, className)) continue;
        if (title && !SameName(window.title, title)) continue;
        return window.hwnd;
    }
    return nullptr;
}

void CWindowTable::ForgetThread(DWORD threadId) {
    std::vector<HWND> gone;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto it = m_windows.begin(); it != m_windows.end();) {
            if (it->second.threadId == threadId) {
                gone.push_back(it->second.hwnd);
                it = m_windows.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (HWND hwnd : gone) zbw::UnpublishWindow(hwnd);
}
