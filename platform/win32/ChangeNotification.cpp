#include "platform/win32/ChangeNotification.h"

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <cerrno>
#include <map>
#include <string>

#include "platform/base/WinError.h"
#include "platform/host/InotifyHub.h"
#include "platform/host/KernelObject.h"
#include "platform/host/PathMap.h"
#include "platform/host/SignalFd.h"

namespace zbw {
namespace {

constexpr DWORD kKnownFilters = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_LAST_ACCESS |
                                FILE_NOTIFY_CHANGE_CREATION | FILE_NOTIFY_CHANGE_SECURITY;
constexpr uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr uint32_t kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF;
constexpr DWORD kAttributeFilters =
    FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SECURITY | FILE_NOTIFY_CHANGE_CREATION;

uint32_t MaskFor(DWORD filter, bool subtree) {
    uint32_t mask = kSelfEvents | IN_EXCL_UNLINK | IN_ONLYDIR;
    if (filter & (FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME)) mask |= kNameEvents;
    if (filter & kAttributeFilters) mask |= IN_ATTRIB;
    if (filter & FILE_NOTIFY_CHANGE_SIZE) mask |= IN_MODIFY;
    // Setting the modification time arrives as an attribute change.
    if (filter & FILE_NOTIFY_CHANGE_LAST_WRITE) mask |= IN_MODIFY | IN_ATTRIB;
    if (filter & FILE_NOTIFY_CHANGE_LAST_ACCESS) mask |= IN_ACCESS;
    // New subfolders must be seen to be watched, whatever the filter.
    if (subtree) mask |= IN_CREATE | IN_MOVED_TO;
    return mask;
}

bool Selects(DWORD filter, uint32_t mask) {
    if (mask & kNameEvents) {
        DWORD wanted = (mask & IN_ISDIR) ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME;
        if (filter & wanted) return true;
    }
    if ((mask & IN_ATTRIB) && (filter & (kAttributeFilters | FILE_NOTIFY_CHANGE_LAST_WRITE))) return true;
    if ((mask & IN_MODIFY) && (filter & (FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE)))
        return true;
    return (mask & IN_ACCESS) && (filter & FILE_NOTIFY_CHANGE_LAST_ACCESS);
}

bool IsSubfolder(const std::string& parent, const dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN) return false;
    struct stat st {};
    std::string path = parent + "/" + entry->d_name;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class CChangeNotificationObject : public CKernelObject, private CInotifyHub::CListener {
   public:
    CChangeNotificationObject(DWORD filter, bool subtree)
        : m_filter(filter), m_subtree(subtree), m_mask(MaskFor(filter, subtree)) {}
    ~CChangeNotificationObject() override {
        auto guard = m_hub.Lock();
        for (const auto& [wd, path] : m_dirs) m_hub.RemoveWatch(wd, this);
    }

    // Watches root (and, for a subtree, what lies below); the errno of a failed root watch.
    int WatchRoot(const std::string& root) {
        auto guard = m_hub.Lock();
        int wd = AddTree(root);
        if (wd < 0) return -wd;
        m_rootWd = wd;
        return 0;
    }

    bool IsWaitable() const override { return true; }
    // A wait does not take a change notification: it stays signalled until re-armed.
    Acquire TryAcquire() override { return IsSignalled() ? Acquire::Yes : Acquire::No; }
    bool IsSignalled() override {
        auto guard = m_hub.Lock();
        m_hub.Drain();
        return m_pending;
    }
    int WaitFd() const override { return m_signal.Fd(); }
    CSignalFd* Signal() override { return &m_signal; }

    // False once the watched folder itself has gone: nothing will signal any more.
    bool Rearm() {
        auto guard = m_hub.Lock();
        m_hub.Drain();
        SetPending(false);
        return !m_rootGone;
    }

   private:
    void OnEvent(const inotify_event& event) override {
        if (Handle(event)) SetPending(true);
    }

    void SetPending(bool pending) {
        m_pending = pending;
        m_signal.Update(pending);
    }

    // Watches path and, for a subtree, every folder below it; the watch descriptor or -errno.
    int AddTree(const std::string& path) {
        uint32_t mask = m_mask | (m_dirs.empty() ? 0u : IN_DONT_FOLLOW);
        int wd = m_hub.AddWatch(path, mask, this);
        if (wd < 0) return wd;
        m_dirs[wd] = path;  // a folder moved within the tree is known by its new path
        if (m_subtree) AddSubfolders(path);
        return wd;
    }

    void AddSubfolders(const std::string& path) {
        DIR* dir = opendir(path.c_str());
        if (!dir) return;
        while (const dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            if (IsSubfolder(path, entry)) AddTree(path + "/" + name);
        }
        closedir(dir);
    }

    // True when the event is a change the filter selects.
    bool Handle(const inotify_event& event) {
        if (event.mask & IN_Q_OVERFLOW) return true;  // changes were lost: report them
        if (event.mask & IN_IGNORED) {
            m_dirs.erase(event.wd);
            if (event.wd == m_rootWd) m_rootGone = true;
            return event.wd == m_rootWd;
        }
        if (event.mask & kSelfEvents) {
            if (event.wd == m_rootWd) m_rootGone = true;
            return event.wd == m_rootWd;
        }
        auto dir = m_dirs.find(event.wd);
        if (m_subtree && dir != m_dirs.end() && (event.mask & IN_ISDIR) &&
            (event.mask & (IN_CREATE | IN_MOVED_TO)) && event.len > 0) {
            AddTree(dir->second + "/" + event.name);
        }
        return Selects(m_filter, event.mask);
    }

    CInotifyHub& m_hub = CInotifyHub::Instance();
    DWORD m_filter;
    bool m_subtree;
    uint32_t m_mask;
    // The rest is guarded by the hub's lock.
    int m_rootWd = -1;
    bool m_pending = false;
    bool m_rootGone = false;  // the watched folder was deleted or moved away
    std::map<int, std::string> m_dirs;
    CSignalFd m_signal;
};

CKernelRef LookupNotification(HANDLE handle) {
    CKernelRef ref = LookupHandle(handle);
    if (ref && !ref.As<CChangeNotificationObject>()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return CKernelRef();
    }
    return ref;
}

}  // namespace
}  // namespace zbw

HANDLE FindFirstChangeNotificationW(LPCWSTR path, BOOL watchSubtree, DWORD filter) {
    if (!path || filter == 0 || (filter & ~zbw::kKnownFilters)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string host = zbw::ToHostPath(CString(path));
    if (host.empty()) return INVALID_HANDLE_VALUE;
    auto* object = new zbw::CChangeNotificationObject(filter, watchSubtree != FALSE);
    if (int err = object->WatchRoot(host)) {
        delete object;
        SetLastError(err == ENOTDIR ? ERROR_DIRECTORY : zbw::ErrorFromErrno(err));
        return INVALID_HANDLE_VALUE;
    }
    return zbw::NewHandle(object);
}

BOOL FindNextChangeNotification(HANDLE handle) {
    CKernelRef ref = zbw::LookupNotification(handle);
    if (!ref) return FALSE;
    if (ref.As<zbw::CChangeNotificationObject>()->Rearm()) return TRUE;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

BOOL FindCloseChangeNotification(HANDLE handle) {
    if (!zbw::LookupNotification(handle)) return FALSE;
    return CloseHandle(handle);
}
