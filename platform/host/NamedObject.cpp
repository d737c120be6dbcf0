#include "platform/host/NamedObject.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/base/WinError.h"
#include "platform/host/EmulationRoot.h"
#include "platform/host/HostIo.h"

namespace zbw {
namespace {

constexpr uint32_t kMagic = 0x4F57425A;  // "ZBWO"
constexpr size_t kStateOffset = 64;
constexpr size_t kMaxFileName = 200;

struct FileHeader {
    uint32_t magic;
    uint32_t kind;
    uint64_t dataSize;
};

bool HasPrefix(LPCWSTR name, const char* prefix) {
    for (; *prefix; ++prefix, ++name) {
        char16_t c = *name;
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != static_cast<char16_t>(*prefix)) return false;
    }
    return true;
}

// Readable and unambiguous: plain letters, digits and "_-." stay, every other unit becomes %XXXX.
std::string EncodeName(LPCWSTR name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (LPCWSTR p = name; *p; ++p) {
        char16_t c = *p;
        bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                     c == u'_' || c == u'-' || (c == u'.' && p != name);
        if (plain) {
            out += static_cast<char>(c);
            continue;
        }
        out += '%';
        for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(c >> shift) & 0xF];
    }
    return out;
}

// Host file names are limited; long object names keep a readable head and a hash of the whole.
std::string FitFileName(const std::string& encoded) {
    if (encoded.size() <= kMaxFileName) return encoded;
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : encoded) hash = (hash ^ c) * 1099511628211ull;
    char tail[24];
    snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(hash));
    return encoded.substr(0, kMaxFileName - 20) + tail;
}

// The folder-wide guard: a fresh open file description per use, so flock excludes threads too.
class CGuard {
   public:
    explicit CGuard(const std::string& dir) : m_fd(OpenSharedFile(dir + "/.guard", O_RDWR)) {
        if (m_fd < 0) return;
        while (flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~CGuard() {
        if (m_fd >= 0) close(m_fd);
    }
    CGuard(const CGuard&) = delete;
    CGuard& operator=(const CGuard&) = delete;
    bool Held() const { return m_fd >= 0; }

   private:
    int m_fd;
};

bool SameFile(int fd, const std::string& path) {
    struct stat a {
    }, b{};
    return fstat(fd, &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// An existing file that somebody holds: its descriptor with our shared lock; -1 when the name is
// absent or stale (a stale file is removed). errno is ENOENT for absent, else the failure.
int OpenHeld(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        unlink(path.c_str());
        close(fd);
        errno = ENOENT;
        return -1;
    }
    if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
        int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

// The new file is whole (header and initialised state) and held before the guard lets others in.
int CreateFresh(const std::string& path, NamedKind kind, uint64_t dataSize,
                const std::function<void(void* state)>& init) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    FileHeader header{kMagic, static_cast<uint32_t>(kind), dataSize};
    alignas(8) char state[CNamedObject::kStateBytes] = {};
    init(state);
    bool ok = fchmod(fd, 0666) == 0 &&
              ftruncate(fd, static_cast<off_t>(CNamedObject::kDataOffset + dataSize)) == 0 &&
              pwrite(fd, &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
              pwrite(fd, state, sizeof state, kStateOffset) == static_cast<ssize_t>(sizeof state) &&
              flock(fd, LOCK_SH) == 0;
    if (!ok) {
        int err = errno;
        unlink(path.c_str());
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

// A held descriptor of the name (opened, or created when asked and absent), -1 with the last
// error set. Runs under the guard.
int OpenOrCreate(const std::string& path, NamedKind kind, bool create, uint64_t dataSize,
                 const std::function<void(void* state)>& init, bool* existed) {
    *existed = true;
    int fd = OpenHeld(path);
    if (fd < 0 && errno != ENOENT) {
        SetLastErrorFromErrno();
        return -1;
    }
    if (fd < 0 && !create) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return -1;
    }
    if (fd < 0) {
        *existed = false;
        fd = CreateFresh(path, kind, dataSize, init);
        if (fd < 0) SetLastErrorFromErrno();
    }
    return fd;
}

}  // namespace

DWORD NamedObjectPath(LPCWSTR name, std::string* dir, std::string* path) {
    size_t length = 0;
    while (name[length]) ++length;
    if (length > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    LPCWSTR rest = name;
    bool global = false;
    if (HasPrefix(name, "global\\")) {
        rest = name + 7;
        global = true;
    } else if (HasPrefix(name, "local\\")) {
        rest = name + 6;
    }
    if (!*rest) return ERROR_INVALID_NAME;
    for (LPCWSTR p = rest; *p; ++p) {
        if (*p == u'\\') return ERROR_PATH_NOT_FOUND;
    }
    *dir = global ? MachineSubdir("objects") : UserSubdir("objects");
    *path = *dir + "/" + FitFileName(EncodeName(rest));
    return ERROR_SUCCESS;
}

std::unique_ptr<CNamedObject> CNamedObject::Open(LPCWSTR name, NamedKind kind, bool create, uint64_t dataSize,
                                                 const std::function<void(void* state)>& init,
                                                 bool* existed) {
    std::string dir, path;
    DWORD error = NamedObjectPath(name, &dir, &path);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    int fd = -1;
    {
        CGuard guard(dir);
        if (!guard.Held()) {
            SetLastErrorFromErrno();
            return nullptr;
        }
        fd = OpenOrCreate(path, kind, create, dataSize, init, existed);
    }
    if (fd < 0) return nullptr;
    // Held now, so the name stays while it is mapped: other processes need not wait for that.
    std::unique_ptr<CNamedObject> object(new CNamedObject(dir, path, fd));
    FileHeader header{};
    if (pread(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
        header.magic != kMagic || header.kind != static_cast<uint32_t>(kind)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    object->m_dataSize = header.dataSize;
    // A file mapping keeps no shared state: its views are mapped on their own.
    if (kind == NamedKind::Mapping) return object;
    void* page = mmap(nullptr, kDataOffset, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (page == MAP_FAILED) {
        SetLastErrorFromErrno();
        return nullptr;
    }
    object->m_page = page;
    return object;
}

CNamedObject::CNamedObject(std::string dir, std::string path, int fd)
    : m_dir(std::move(dir)), m_path(std::move(path)), m_fd(fd) {}

CNamedObject::~CNamedObject() {
    if (m_page) munmap(m_page, kDataOffset);
    CGuard guard(m_dir);
    if (guard.Held() && flock(m_fd, LOCK_EX | LOCK_NB) == 0 && SameFile(m_fd, m_path)) unlink(m_path.c_str());
    close(m_fd);
}

void* CNamedObject::State() const {
    return m_page ? static_cast<char*>(m_page) + kStateOffset : nullptr;
}

}  // namespace zbw
