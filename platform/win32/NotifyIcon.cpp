#include "platform/win32/NotifyIcon.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/EmulationRoot.h"
#include "platform/host/HostIo.h"
#include "platform/host/KernelObject.h"

namespace {

class CIconObject : public CKernelObject {
   public:
    explicit CIconObject(UINT resourceId) : m_resourceId(resourceId) {}
    const UINT m_resourceId;
};

struct MENUITEM {
    UINT flags;
    UINT id;
    HMENU submenu;
    std::u16string text;
    CKernelRef submenuObject;  // tells the submenu from a later object under a reused handle
};

class CMenuObject : public CKernelObject {
   public:
    ~CMenuObject() override {
        for (const MENUITEM& item : m_items) {
            if (!item.submenu) continue;
            CKernelRef live = zbw::LookupHandle(reinterpret_cast<HANDLE>(item.submenu));
            if (live.Get() == item.submenuObject.Get()) CloseHandle(reinterpret_cast<HANDLE>(item.submenu));
        }
    }
    std::mutex m_lock;
    std::vector<MENUITEM> m_items;
    UINT m_default = static_cast<UINT>(-1);
    bool m_defaultByPosition = false;
};

struct ICONSTATE {
    HWND owner = nullptr;
    UINT id = 0;
    UINT callback = 0;
    UINT icon = 0;
    std::u16string tip;
    bool hidden = false;
    std::u16string info;
    std::u16string infoTitle;
    UINT timeout = 0;
    DWORD infoFlags = 0;
};

std::mutex g_iconsLock;
// The tables are made on first use and never destroyed: the icon's thread may run on during exit.
// By icon id; this process's icons only.
std::map<UINT, ICONSTATE>& Icons() {
    static auto* icons = new std::map<UINT, ICONSTATE>;
    return *icons;
}
std::mutex g_menusLock;
std::map<UINT, zbw::MenuBuilder>& MenuResources() {
    static auto* menus = new std::map<UINT, zbw::MenuBuilder>;
    return *menus;
}

UINT ResourceId(LPCWSTR name) {
    return IS_INTRESOURCE(name) ? static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name)) : 0;
}

UINT IconResource(HICON icon) {
    if (!icon) return 0;
    CKernelRef ref = zbw::LookupHandle(reinterpret_cast<HANDLE>(icon));
    CIconObject* obj = ref.As<CIconObject>();
    return obj ? obj->m_resourceId : 0;
}

CKernelRef MenuRef(HMENU menu) {
    CKernelRef ref = zbw::LookupHandle(reinterpret_cast<HANDLE>(menu));
    if (ref && !ref.As<CMenuObject>()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return CKernelRef();
    }
    return ref;
}

std::u16string Bounded(const WCHAR* text, size_t capacity) {
    size_t length = 0;
    while (length + 1 < capacity && text[length]) ++length;
    return std::u16string(text, length);
}

void ApplyFlags(ICONSTATE& state, const NOTIFYICONDATAW& data) {
    if (data.uFlags & NIF_MESSAGE) state.callback = data.uCallbackMessage;
    if (data.uFlags & NIF_ICON) state.icon = IconResource(data.hIcon);
    if (data.uFlags & NIF_TIP) state.tip = Bounded(data.szTip, 128);
    if ((data.uFlags & NIF_STATE) && (data.dwStateMask & NIS_HIDDEN))
        state.hidden = (data.dwState & NIS_HIDDEN) != 0;
    if (data.uFlags & NIF_INFO) {
        state.info = Bounded(data.szInfo, 256);
        state.infoTitle = Bounded(data.szInfoTitle, 64);
        state.timeout = data.uTimeout;
        state.infoFlags = data.dwInfoFlags;
    }
}

// Line breaks inside texts would split a field: they are written as spaces.
std::string Field(const std::u16string& text) {
    std::string utf8 = zbw::ToUtf8(text);
    for (char& ch : utf8)
        if (ch == '\n' || ch == '\r') ch = ' ';
    return utf8;
}

std::string StateText(const ICONSTATE& state) {
    char head[160];
    snprintf(head, sizeof head, "pid=%u\nowner=%llu\nid=%u\ncallback=%u\nicon=%u\nhidden=%d\n",
             static_cast<unsigned>(getpid()),
             static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(state.owner)), state.id,
             state.callback, state.icon, state.hidden ? 1 : 0);
    char tail[96];
    snprintf(tail, sizeof tail, "timeout=%u\ninfoflags=%u\n", state.timeout,
             static_cast<unsigned>(state.infoFlags));
    return std::string(head) + "tip=" + Field(state.tip) + "\ninfo=" + Field(state.info) +
           "\ninfotitle=" + Field(state.infoTitle) + "\n" + tail;
}

bool WriteState(const ICONSTATE& state) {
    std::string path = zbw::NotifyIconStatePath(static_cast<DWORD>(getpid()), state.id);
    std::string temp = path + ".new";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool written = zbw::WriteAll(fd, StateText(state));
    written = close(fd) == 0 && written;
    if (!written || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

BOOL AddIcon(const NOTIFYICONDATAW& data) {
    if (Icons().count(data.uID)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    ICONSTATE state;
    state.owner = data.hWnd;
    state.id = data.uID;
    ApplyFlags(state, data);
    if (!WriteState(state)) {
        zbw::SetLastErrorFromErrno();
        return FALSE;
    }
    Icons()[data.uID] = state;
    return TRUE;
}

BOOL ModifyIcon(const NOTIFYICONDATAW& data) {
    auto it = Icons().find(data.uID);
    if (it == Icons().end()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    ICONSTATE state = it->second;
    ApplyFlags(state, data);
    if (!WriteState(state)) {
        zbw::SetLastErrorFromErrno();
        return FALSE;
    }
    it->second = state;
    return TRUE;
}

BOOL DeleteIcon(const NOTIFYICONDATAW& data) {
    if (!Icons().erase(data.uID)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    unlink(zbw::NotifyIconStatePath(static_cast<DWORD>(getpid()), data.uID).c_str());
    return TRUE;
}

}  // namespace

namespace zbw {

std::string NotifyIconStateDir() {
    return UserSubdir("tray");
}

std::string NotifyIconStatePath(DWORD pid, UINT id) {
    return NotifyIconStateDir() + "/" + std::to_string(pid) + "." + std::to_string(id);
}

void SetMenuResource(UINT id, MenuBuilder build) {
    std::lock_guard<std::mutex> guard(g_menusLock);
    MenuResources()[id] = build;
}

}  // namespace zbw

BOOL Shell_NotifyIconW(DWORD message, PNOTIFYICONDATAW data) {
    if (!data || !data->hWnd) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(g_iconsLock);
    switch (message) {
        case NIM_ADD: return AddIcon(*data);
        case NIM_MODIFY: return ModifyIcon(*data);
        case NIM_DELETE: return DeleteIcon(*data);
        default: SetLastError(ERROR_INVALID_PARAMETER); return FALSE;
    }
}

HICON LoadIconW(HINSTANCE, LPCWSTR name) {
    UINT id = ResourceId(name);
    if (!id) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return reinterpret_cast<HICON>(zbw::NewHandle(new CIconObject(id)));
}

HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int, int, UINT) {
    if (type != IMAGE_ICON) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return reinterpret_cast<HANDLE>(LoadIconW(instance, name));
}

BOOL DestroyIcon(HICON icon) {
    if (!IconResource(icon)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return CloseHandle(reinterpret_cast<HANDLE>(icon));
}

HMENU CreateMenu() {
    return reinterpret_cast<HMENU>(zbw::NewHandle(new CMenuObject));
}

HMENU CreatePopupMenu() {
    return CreateMenu();
}

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCWSTR text) {
    CKernelRef ref = MenuRef(menu);
    if (!ref) return FALSE;
    MENUITEM item{flags, 0, nullptr, text && !(flags & MF_SEPARATOR) ? text : u"", CKernelRef()};
    if (flags & MF_POPUP) {
        item.submenu = reinterpret_cast<HMENU>(idNewItem);
        item.submenuObject = MenuRef(item.submenu);
        if (!item.submenuObject) return FALSE;
    } else {
        item.id = static_cast<UINT>(idNewItem);
    }
    CMenuObject* obj = ref.As<CMenuObject>();
    std::lock_guard<std::mutex> guard(obj->m_lock);
    obj->m_items.push_back(item);
    return TRUE;
}

BOOL DestroyMenu(HMENU menu) {
    if (!MenuRef(menu)) return FALSE;
    return CloseHandle(reinterpret_cast<HANDLE>(menu));
}

HMENU GetSubMenu(HMENU menu, int position) {
    CKernelRef ref = MenuRef(menu);
    if (!ref) return nullptr;
    CMenuObject* obj = ref.As<CMenuObject>();
    std::lock_guard<std::mutex> guard(obj->m_lock);
    if (position < 0 || static_cast<size_t>(position) >= obj->m_items.size()) return nullptr;
    return obj->m_items[position].submenu;
}

UINT GetMenuItemID(HMENU menu, int position) {
    CKernelRef ref = MenuRef(menu);
    if (!ref) return static_cast<UINT>(-1);
    CMenuObject* obj = ref.As<CMenuObject>();
    std::lock_guard<std::mutex> guard(obj->m_lock);
    if (position < 0 || static_cast<size_t>(position) >= obj->m_items.size()) return static_cast<UINT>(-1);
    const MENUITEM& item = obj->m_items[position];
    return item.submenu || (item.flags & MF_SEPARATOR) ? static_cast<UINT>(-1) : item.id;
}

int GetMenuItemCount(HMENU menu) {
    CKernelRef ref = MenuRef(menu);
    if (!ref) return -1;
    CMenuObject* obj = ref.As<CMenuObject>();
    std::lock_guard<std::mutex> guard(obj->m_lock);
    return static_cast<int>(obj->m_items.size());
}

BOOL SetMenuDefaultItem(HMENU menu, UINT item, UINT byPosition) {
    CKernelRef ref = MenuRef(menu);
    if (!ref) return FALSE;
    CMenuObject* obj = ref.As<CMenuObject>();
    std::lock_guard<std::mutex> guard(obj->m_lock);
    if (item != static_cast<UINT>(-1)) {
        bool found = false;
        for (size_t i = 0; i < obj->m_items.size() && !found; ++i)
            found = byPosition ? i == item : obj->m_items[i].id == item && !obj->m_items[i].submenu;
        if (!found) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    obj->m_default = item;
    obj->m_defaultByPosition = byPosition != 0;
    return TRUE;
}

UINT GetMenuDefaultItem(HMENU menu, UINT flags, UINT) {
    CKernelRef ref = MenuRef(menu);
    if (!ref) return static_cast<UINT>(-1);
    CMenuObject* obj = ref.As<CMenuObject>();
    std::lock_guard<std::mutex> guard(obj->m_lock);
    for (size_t i = 0; i < obj->m_items.size(); ++i) {
        bool isDefault =
            obj->m_defaultByPosition ? i == obj->m_default : obj->m_items[i].id == obj->m_default;
        if (isDefault && !obj->m_items[i].submenu)
            return (flags & MF_BYPOSITION) ? static_cast<UINT>(i) : obj->m_items[i].id;
    }
    return static_cast<UINT>(-1);
}

HMENU LoadMenuW(HINSTANCE, LPCWSTR name) {
    zbw::MenuBuilder build = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_menusLock);
        auto it = MenuResources().find(ResourceId(name));
        if (it != MenuResources().end()) build = it->second;
    }
    if (!build) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return build();
}

BOOL TrackPopupMenu(HMENU menu, UINT, int, int, int, HWND, LPCRECT) {
    return MenuRef(menu) ? 0 : FALSE;
}

BOOL SetForegroundWindow(HWND) {
    return TRUE;
}

BOOL GetCursorPos(LPPOINT point) {
    if (!point) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    point->x = 0;
    point->y = 0;
    return TRUE;
}

int MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT) {
    std::string line = caption ? zbw::ToUtf8(caption) + ": " : std::string();
    line += text ? zbw::ToUtf8(text) : std::string();
    fprintf(stderr, "%s\n", line.c_str());
    fflush(stderr);
    return IDOK;
}
