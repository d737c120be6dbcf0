#include "platform/host/HiveFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/base/WinError.h"
#include "platform/host/HostIo.h"

namespace {

// Holds a flock on the hive's lock file for one call. When the lock file cannot
// be opened (a read-only folder) readers go on without it: the atomic rename
// keeps them consistent.
class CHiveLock {
   public:
    CHiveLock(const std::string& path, bool exclusive) {
        m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_fd < 0) m_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0) return;
        while (flock(m_fd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno != EINTR) {
                close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~CHiveLock() {
        if (m_fd >= 0) close(m_fd);
    }
    CHiveLock(const CHiveLock&) = delete;
    CHiveLock& operator=(const CHiveLock&) = delete;

    bool Held() const { return m_fd >= 0; }

   private:
    int m_fd = -1;
};

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

bool CHiveFile::IsWritable() const {
    if (m_readOnly) return false;
    if (access(m_path.c_str(), F_OK) == 0) return access(m_path.c_str(), W_OK) == 0;
    return access(FolderOf(m_path).c_str(), W_OK) == 0;
}

FILETIME CHiveFile::LastWriteTime() const {
    FILETIME ft{0, 0};
    struct stat st {};
    if (stat(m_path.c_str(), &st) != 0) return ft;
    // 100 ns units since 1601; the Unix epoch is 11644473600 s later.
    uint64_t t = (static_cast<uint64_t>(st.st_mtim.tv_sec) + 11644473600ull) * 10000000ull +
                 static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

LONG CHiveFile::Read(CRegistryHive& hive) const {
    CHiveLock lock(m_path + ".lock", false);
    return Load(hive);
}

LONG CHiveFile::Update(const std::function<LONG(CRegistryHive& hive, bool& changed)>& change) const {
    CHiveLock lock(m_path + ".lock", true);
    CRegistryHive hive;
    LONG rc = Load(hive);
    if (rc != ERROR_SUCCESS) return rc;
    bool changed = false;
    rc = change(hive, changed);
    if (rc != ERROR_SUCCESS || !changed) return rc;
    if (!IsWritable() || !lock.Held()) return ERROR_ACCESS_DENIED;
    return Store(hive);
}

LONG CHiveFile::Load(CRegistryHive& hive) const {
    int fd = open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return hive.FromText(std::string()) ? ERROR_SUCCESS : ERROR_BADDB;
        return static_cast<LONG>(zbw::ErrorFromErrno(errno));
    }
    std::string text;
    if (!zbw::ReadAll(fd, text)) {
        int err = errno;
        close(fd);
        return static_cast<LONG>(zbw::ErrorFromErrno(err));
    }
    close(fd);
    return hive.FromText(text) ? ERROR_SUCCESS : ERROR_BADDB;
}

LONG CHiveFile::Store(const CRegistryHive& hive) const {
    const std::string temp = m_path + ".new";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return static_cast<LONG>(zbw::ErrorFromErrno(errno));
    struct stat st {};
    if (stat(m_path.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);
    bool ok = zbw::WriteAll(fd, hive.ToText()) && fdatasync(fd) == 0;
    int err = errno;
    close(fd);
    if (ok && rename(temp.c_str(), m_path.c_str()) == 0) return ERROR_SUCCESS;
    if (ok) err = errno;
    unlink(temp.c_str());
    return static_cast<LONG>(zbw::ErrorFromErrno(err));
}
