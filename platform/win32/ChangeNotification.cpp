#include "platform/win32/ChangeNotification.h"

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <map>
#include <mutex>
#include <string>

#include "platform/base/WinError.h"
#include "platform/host/KernelObject.h"
#include "platform/host/PathMap.h"

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

class CChangeNotificationObject : public CKernelObject {
   public:
    CChangeNotificationObject(int fd, DWORD filter, bool subtree)
        : m_fd(fd), m_filter(filter), m_subtree(subtree), m_mask(MaskFor(filter, subtree)) {}
    ~CChangeNotificationObject() override { close(m_fd); }

    // Watches root (and, for a subtree, what lies below); the errno of a failed root watch.
    int WatchRoot(const std::string& root) {
        std::lock_guard<std::mutex> guard(m_lock);
        int err = AddTree(root);
        if (err == 0) m_rootWd = m_dirs.begin()->first;
        return err;
    }

    bool IsWaitable() const override { return true; }
    // A wait does not take a change notification: it stays signalled until re-armed.
    Acquire TryAcquire() override { return IsSignalled() ? Acquire::Yes : Acquire::No; }
    bool IsSignalled() override {
        std::lock_guard<std::mutex> guard(m_lock);
        if (ReadEvents()) m_pending = true;
        return m_pending;
    }
    int WaitFd() const override { return m_fd; }

    // False once the watched folder itself has gone: nothing will signal any more.
    bool Rearm() {
        std::lock_guard<std::mutex> guard(m_lock);
        ReadEvents();
        m_pending = false;
        return !m_rootGone;
    }

   private:
    // Adds a watch for path and, for a subtree, for every folder below it.
    int AddTree(const std::string& path) {
        uint32_t mask = m_mask | (m_dirs.empty() ? 0u : IN_DONT_FOLLOW);
        int wd = inotify_add_watch(m_fd, path.c_str(), mask);
        if (wd < 0) return errno;
        m_dirs[wd] = path;
        if (m_subtree) AddSubfolders(path);
        return 0;
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

    // Reads what the kernel holds; true when a change the filter selects was among it.
    bool ReadEvents() {
        alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
        bool selected = false;
        for (;;) {
            ssize_t got = read(m_fd, buffer, sizeof buffer);
            if (got <= 0) return selected;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (Handle(*event)) selected = true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

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

    int m_fd;
    DWORD m_filter;
    bool m_subtree;
    uint32_t m_mask;
    int m_rootWd = -1;
    bool m_pending = false;
    bool m_rootGone = false;  // the watched folder was deleted or moved away
    std::map<int, std::string> m_dirs;
    std::mutex m_lock;
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
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        zbw::SetLastErrorFromErrno();
        return INVALID_HANDLE_VALUE;
    }
    auto* object = new zbw::CChangeNotificationObject(fd, filter, watchSubtree != FALSE);
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
