#include "platform/win32/FileApi.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WideChar.h"
#include "platform/host/HostIo.h"
#include "platform/win32/FileTimeApi.h"

namespace zbw {
namespace {

constexpr int64_t kEpochDiff100ns = 116444736000000000LL;  // 1601-01-01 to 1970-01-01

class CFileObject : public CKernelObject {
   public:
    CFileObject(int fd, bool canRead, bool canWrite, bool ownsFd)
        : m_fd(fd), m_canRead(canRead), m_canWrite(canWrite), m_ownsFd(ownsFd) {}
    ~CFileObject() override {
        if (m_ownsFd && m_fd >= 0) close(m_fd);
    }
    int Fd() const { return m_fd; }
    bool CanRead() const { return m_canRead; }
    bool CanWrite() const { return m_canWrite; }

   private:
    int m_fd;
    bool m_canRead;
    bool m_canWrite;
    bool m_ownsFd;
};

class CFindObject : public CKernelObject {
   public:
    explicit CFindObject(std::vector<WIN32_FIND_DATAW> entries) : m_entries(std::move(entries)) {}
    bool Next(WIN32_FIND_DATAW& data) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_next >= m_entries.size()) return false;
        data = m_entries[m_next++];
        return true;
    }

   private:
    std::mutex m_lock;
    std::vector<WIN32_FIND_DATAW> m_entries;
    size_t m_next = 0;
};

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

const std::u16string& U16(const CString& s) {
    return s.GetStdString();
}

std::string ParentOf(const std::string& host) {
    std::string p = host;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : p.substr(0, slash);
}

std::string BaseName(const std::string& host) {
    std::string p = host;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool IsHostDir(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The Windows code for a failed host call on a path: a missing file is FILE_NOT_FOUND only when
// its folder exists.
DWORD PathError(int err, const std::string& host) {
    switch (err) {
        case ENOENT: return IsHostDir(ParentOf(host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        case ENOSPC: return ERROR_DISK_FULL;
        case EXDEV: return ERROR_NOT_SAME_DEVICE;
        case ELOOP: return ERROR_PATH_NOT_FOUND;
        default: return ErrorFromErrno(err);
    }
}

BOOL FailPath(const std::string& host) {
    return Fail(PathError(errno, host));
}

// Read-only in the Windows sense: a file we may not write, or one nobody may (which binds root too,
// as the attribute binds an administrator).
bool IsReadOnly(const std::string& host, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return false;
    if ((st.st_mode & 0222) == 0) return true;
    return access(host.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS);
}

DWORD AttributesOf(const std::string& host, const struct stat& st) {
    DWORD attrs = 0;
    if (S_ISDIR(st.st_mode)) attrs |= FILE_ATTRIBUTE_DIRECTORY;
    if (IsReadOnly(host, st)) attrs |= FILE_ATTRIBUTE_READONLY;
    std::string name = BaseName(host);
    if (name.size() > 1 && name[0] == '.' && name != "..") attrs |= FILE_ATTRIBUTE_HIDDEN;
    return attrs ? attrs : FILE_ATTRIBUTE_NORMAL;
}

FILETIME FromTimespec(const struct timespec& ts) {
    return FileTimeFromUnix(ts.tv_sec, ts.tv_nsec);
}

// The birth time where the host file system keeps one, else the last change of the inode.
FILETIME CreationTime(int dirFd, const char* path, int flags, const struct timespec& changed) {
    struct statx sx {};
    if (statx(dirFd, path, flags, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
        return FileTimeFromUnix(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
    return FromTimespec(changed);
}

CFileObject* FileOf(HANDLE handle, CKernelRef& ref) {
    ref = LookupHandle(handle);
    if (!ref) return nullptr;
    CFileObject* file = ref.As<CFileObject>();
    if (!file) SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

// Copies an open file's bytes to another descriptor from the start.
bool CopyContents(int from, int to) {
    std::vector<char> buf(1 << 16);
    if (lseek(from, 0, SEEK_SET) < 0) return false;
    for (;;) {
        ssize_t n = read(from, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (!zbw::WriteAll(to, buf.data(), static_cast<size_t>(n))) return false;
    }
}

void KeepTimes(int to, const struct stat& src) {
    struct timespec times[2] = {{0, UTIME_NOW}, src.st_mtim};
    futimens(to, times);
}

// Copies a host file to a new temporary file in the target's folder; the temporary's path, or "".
std::string CopyBeside(const std::string& src, const std::string& target) {
    int in = open(src.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return std::string();
    struct stat st {};
    fstat(in, &st);
    std::string tmpl = ParentOf(target) + "/.zbw-copy-XXXXXX";
    int out = mkostemp(tmpl.data(), O_CLOEXEC);
    bool ok = out >= 0 && CopyContents(in, out) && fdatasync(out) == 0;
    if (out >= 0) {
        fchmod(out, st.st_mode & 07777);
        KeepTimes(out, st);
        close(out);
    }
    close(in);
    if (!ok) {
        if (out >= 0) unlink(tmpl.c_str());
        errno = out < 0 ? errno : EIO;
        return std::string();
    }
    return tmpl;
}

// rename(2) without replacing an existing target.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    struct stat st {};
    if (lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return rename(from.c_str(), to.c_str());
}

DWORD CopyOut(const std::u16string& s, DWORD size, LPWSTR buffer) {
    if (!buffer || s.size() + 1 > size) return static_cast<DWORD>(s.size() + 1);
    std::copy(s.begin(), s.end(), buffer);
    buffer[s.size()] = 0;
    return static_cast<DWORD>(s.size());
}

void EnsureTrailingSep(std::u16string& s) {
    if (s.empty() || (s.back() != u'\\' && s.back() != u'/')) s += u'\\';
}

std::u16string Hex(UINT value) {
    static const char16_t digits[] = u"0123456789ABCDEF";
    std::u16string out;
    do {
        out.insert(out.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value);
    return out;
}

// ---- wildcards ----

char16_t Fold(char16_t c) {
    return ToUpper(c);
}

enum : int { kStar = -1, kDosStar = -2, kDosQm = -3, kDosDot = -4 };

// The Windows translation of a Win32 pattern into the file-system expression.
std::vector<int> Tokens(const std::u16string& pattern) {
    std::vector<int> tokens;
    if (pattern == u"*.*") return {kStar};
    for (size_t i = 0; i < pattern.size(); ++i) {
        char16_t c = pattern[i];
        char16_t next = i + 1 < pattern.size() ? pattern[i + 1] : 0;
        if (c == u'?')
            tokens.push_back(kDosQm);
        else if (c == u'*')
            tokens.push_back(next == u'.' ? kDosStar : kStar);
        else if (c == u'.' && (next == u'?' || next == u'*' || next == 0))
            tokens.push_back(kDosDot);
        else
            tokens.push_back(Fold(c));
    }
    return tokens;
}

class CWildcardMatch {
   public:
    CWildcardMatch(const std::vector<int>& tokens, const std::u16string& name)
        : m_tokens(tokens), m_name(name), m_memo((tokens.size() + 1) * (name.size() + 1), -1) {
        size_t dot = name.rfind(u'.');
        m_lastDot = dot == std::u16string::npos ? name.size() : dot;
    }
    bool Run() { return At(0, 0); }

   private:
    bool At(size_t t, size_t n) {
        signed char& memo = m_memo[t * (m_name.size() + 1) + n];
        if (memo < 0) memo = Compute(t, n) ? 1 : 0;
        return memo == 1;
    }
    bool Compute(size_t t, size_t n) {
        size_t len = m_name.size();
        if (t == m_tokens.size()) return n == len;
        int tok = m_tokens[t];
        switch (tok) {
            case kStar: return At(t + 1, n) || (n < len && At(t, n + 1));
            case kDosStar: return At(t + 1, n) || (n < m_lastDot && At(t, n + 1));
            case kDosQm:
                if (n < len && m_name[n] != u'.') return At(t + 1, n + 1);
                while (t < m_tokens.size() && m_tokens[t] == kDosQm) ++t;
                return At(t, n);
            case kDosDot:
                return (n < len && m_name[n] == u'.' && At(t + 1, n + 1)) || (n == len && At(t + 1, n));
            default: return n < len && Fold(m_name[n]) == tok && At(t + 1, n + 1);
        }
    }

    const std::vector<int>& m_tokens;
    const std::u16string& m_name;
    std::vector<signed char> m_memo;
    size_t m_lastDot;
};

bool LessNoCase(const std::u16string& a, const std::u16string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = Fold(a[i]), y = Fold(b[i]);
        if (x != y) return x < y;
    }
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

bool FillFindData(const std::string& host, const std::u16string& name, WIN32_FIND_DATAW& data) {
    struct stat st {};
    if (stat(host.c_str(), &st) != 0 && lstat(host.c_str(), &st) != 0) return false;
    data = WIN32_FIND_DATAW{};
    data.dwFileAttributes = AttributesOf(host, st);
    if (name == u"." || name == u"..") data.dwFileAttributes &= ~FILE_ATTRIBUTE_HIDDEN;
    if (!data.dwFileAttributes) data.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    data.ftCreationTime = CreationTime(AT_FDCWD, host.c_str(), 0, st.st_ctim);
    data.ftLastAccessTime = FromTimespec(st.st_atim);
    data.ftLastWriteTime = FromTimespec(st.st_mtim);
    uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
    std::copy(name.begin(), name.end(), data.cFileName);
    return true;
}

// Splits "folder\pattern" at the last separator (or after "X:").
void SplitPattern(const std::u16string& p, std::u16string& folder, std::u16string& name) {
    size_t sep = p.find_last_of(u"\\/");
    if (sep != std::u16string::npos) {
        folder = p.substr(0, sep + 1);
        name = p.substr(sep + 1);
    } else if (p.size() >= 2 && p[1] == u':') {
        folder = p.substr(0, 2);
        name = p.substr(2);
    } else {
        folder = u".";
        name = p;
    }
}

std::vector<std::u16string> ListNames(DIR* dir, bool atRoot) {
    std::vector<std::u16string> names;
    while (dirent* e = readdir(dir)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        std::u16string w = U16(FromUtf8(n));
        if (w.size() < MAX_PATH) names.push_back(w);
    }
    std::sort(names.begin(), names.end(), LessNoCase);
    if (!atRoot) names.insert(names.begin(), {u".", u".."});
    return names;
}

void UnixFromFileTime(const FILETIME& ft, int64_t& seconds, int64_t& nanoseconds) {
    int64_t t = static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    t -= kEpochDiff100ns;
    seconds = t / 10000000;
    nanoseconds = (t % 10000000) * 100;
    if (nanoseconds < 0) {
        seconds -= 1;
        nanoseconds += 1000000000;
    }
}

std::mutex& StdLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

bool MatchesWildcard(const CString& name, const CString& pattern) {
    std::vector<int> tokens = Tokens(U16(pattern));
    std::u16string n = U16(name);
    return CWildcardMatch(tokens, n).Run();
}

int FileDescriptorOf(HANDLE file) {
    CKernelRef ref;
    CFileObject* f = FileOf(file, ref);
    return f ? f->Fd() : -1;
}

HANDLE NewFileHandle(int fd, bool canRead, bool canWrite) {
    return NewHandle(new CFileObject(fd, canRead, canWrite, true));
}

}  // namespace zbw

using zbw::Fail;
using zbw::FailPath;

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD /*shareMode*/,
                   LPSECURITY_ATTRIBUTES /*security*/, DWORD disposition, DWORD flags,
                   HANDLE /*templateFile*/) {
    if (!fileName || disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    bool read = desiredAccess & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA);
    bool write = desiredAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA);
    if (disposition == TRUNCATE_EXISTING && !write) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    bool creates = disposition == CREATE_NEW || disposition == CREATE_ALWAYS;
    std::string host =
        creates ? zbw::ToHostPath(CString(fileName)) : zbw::ToHostProgramPath(CString(fileName));
    if (host.empty()) return INVALID_HANDLE_VALUE;

    bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    struct stat before {};
    if ((write || truncates) && stat(host.c_str(), &before) == 0 && zbw::IsReadOnly(host, before)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    int mode = read && write ? O_RDWR : write || truncates ? O_WRONLY : read ? O_RDONLY : O_PATH;
    // Append access without write access puts every write at the end, in one step, as on Windows:
    // several processes can then add to one file without overwriting each other.
    bool appendOnly = (desiredAccess & FILE_APPEND_DATA) &&
                      !(desiredAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA));
    int append = appendOnly ? O_APPEND : 0;
    int base = mode | O_CLOEXEC | ((flags & FILE_FLAG_WRITE_THROUGH) ? O_DSYNC : 0) | append;
    int createBase = (mode == O_PATH ? O_RDONLY : mode) | O_CLOEXEC | append;
    mode_t perms = (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    int fd = -1;
    bool existed = false;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        if (disposition != CREATE_NEW) {
            fd = open(host.c_str(), base | (truncates ? O_TRUNC : 0));
            if (fd >= 0) {
                existed = true;
                break;
            }
            if (errno != ENOENT || disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) break;
        }
        fd = open(host.c_str(), createBase | O_CREAT | O_EXCL, perms);
        if (fd < 0 && (errno != EEXIST || disposition == CREATE_NEW)) break;
    }
    if (fd < 0) {
        SetLastError(errno == EEXIST ? ERROR_FILE_EXISTS : zbw::PathError(errno, host));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    fstat(fd, &st);
    if (S_ISDIR(st.st_mode) && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = zbw::NewHandle(new zbw::CFileObject(fd, read, write, true));
    bool reportExisting = existed && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS);
    SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    if (read) *read = 0;
    if (overlapped) return Fail(ERROR_INVALID_PARAMETER);
    CKernelRef ref;
    zbw::CFileObject* f = zbw::FileOf(file, ref);
    if (!f) return FALSE;
    if (!f->CanRead()) return Fail(ERROR_ACCESS_DENIED);
    struct stat st {};
    bool regular = fstat(f->Fd(), &st) == 0 && S_ISREG(st.st_mode);
    char* p = static_cast<char*>(buffer);
    DWORD done = 0;
    while (done < toRead) {
        ssize_t n = ::read(f->Fd(), p + done, toRead - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (read) *read = done;
            return Fail(errno == EIO ? ERROR_READ_FAULT : zbw::ErrorFromErrno(errno));
        }
        done += static_cast<DWORD>(n);
        if (n == 0 || !regular) break;
    }
    if (read) *read = done;
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
    if (written) *written = 0;
    if (overlapped) return Fail(ERROR_INVALID_PARAMETER);
    CKernelRef ref;
    zbw::CFileObject* f = zbw::FileOf(file, ref);
    if (!f) return FALSE;
    if (!f->CanWrite()) return Fail(ERROR_ACCESS_DENIED);
    const char* p = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < toWrite) {
        ssize_t n = write(f->Fd(), p + done, toWrite - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (written) *written = done;
            return Fail(errno == ENOSPC ? ERROR_DISK_FULL : zbw::ErrorFromErrno(errno));
        }
        done += static_cast<DWORD>(n);
    }
    if (written) *written = done;
    return TRUE;
}

namespace {

// The new position for a move, checked as Windows checks it; false with the last error set.
bool SeekTarget(int fd, int64_t distance, DWORD method, int64_t& target) {
    int64_t base = 0;
    if (method == FILE_CURRENT) {
        base = lseek(fd, 0, SEEK_CUR);
    } else if (method == FILE_END) {
        struct stat st {};
        base = fstat(fd, &st) == 0 ? st.st_size : -1;
    } else if (method != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (base < 0) {
        zbw::SetLastErrorFromErrno();
        return false;
    }
    target = base + distance;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return false;
    }
    return true;
}

}  // namespace

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod) {
    CKernelRef ref;
    zbw::CFileObject* f = zbw::FileOf(file, ref);
    if (!f) return INVALID_SET_FILE_POINTER;
    int64_t move =
        distanceHigh
            ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                   static_cast<uint32_t>(distance))
            : static_cast<int64_t>(distance);
    int64_t target = 0;
    if (!SeekTarget(f->Fd(), move, moveMethod, target)) return INVALID_SET_FILE_POINTER;
    if (!distanceHigh && target > 0xFFFFFFFELL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(f->Fd(), target, SEEK_SET) < 0) {
        zbw::SetLastErrorFromErrno();
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh) *distanceHigh = static_cast<LONG>(target >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(target);
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* newPosition, DWORD moveMethod) {
    CKernelRef ref;
    zbw::CFileObject* f = zbw::FileOf(file, ref);
    if (!f) return FALSE;
    int64_t target = 0;
    if (!SeekTarget(f->Fd(), distance.QuadPart, moveMethod, target)) return FALSE;
    if (lseek(f->Fd(), target, SEEK_SET) < 0) return Fail(zbw::ErrorFromErrno(errno));
    if (newPosition) newPosition->QuadPart = target;
    return TRUE;
}

BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size) {
    CKernelRef ref;
    zbw::CFileObject* f = zbw::FileOf(file, ref);
    if (!f) return FALSE;
    struct stat st {};
    if (fstat(f->Fd(), &st) != 0) return Fail(zbw::ErrorFromErrno(errno));
    if (size) size->QuadPart = S_ISDIR(st.st_mode) ? 0 : st.st_size;
    return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) return INVALID_FILE_SIZE;
    if (sizeHigh) *sizeHigh = static_cast<DWORD>(static_cast<uint64_t>(size.QuadPart) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size.QuadPart);
}

BOOL FlushFileBuffers(HANDLE file) {
    CKernelRef ref;
    zbw::CFileObject* f = zbw::FileOf(file, ref);
    if (!f) return FALSE;
    if (!f->CanWrite()) return Fail(ERROR_ACCESS_DENIED);
    if (fdatasync(f->Fd()) != 0 && errno != EINVAL && errno != EROFS) return Fail(zbw::ErrorFromErrno(errno));
    return TRUE;
}

BOOL SetEndOfFile(HANDLE file) {
    CKernelRef ref;
    zbw::CFileObject* f = zbw::FileOf(file, ref);
    if (!f) return FALSE;
    if (!f->CanWrite()) return Fail(ERROR_ACCESS_DENIED);
    off_t pos = lseek(f->Fd(), 0, SEEK_CUR);
    if (pos < 0 || ftruncate(f->Fd(), pos) != 0) return Fail(zbw::ErrorFromErrno(errno));
    return TRUE;
}

BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME lastAccess, LPFILETIME lastWrite) {
    CKernelRef ref;
    zbw::CFileObject* f = zbw::FileOf(file, ref);
    if (!f) return FALSE;
    struct stat st {};
    if (fstat(f->Fd(), &st) != 0) return Fail(zbw::ErrorFromErrno(errno));
    if (creation) *creation = zbw::CreationTime(f->Fd(), "", AT_EMPTY_PATH, st.st_ctim);
    if (lastAccess) *lastAccess = zbw::FromTimespec(st.st_atim);
    if (lastWrite) *lastWrite = zbw::FromTimespec(st.st_mtim);
    return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME* /*creation*/, const FILETIME* lastAccess,
                 const FILETIME* lastWrite) {
    CKernelRef ref;
    zbw::CFileObject* f = zbw::FileOf(file, ref);
    if (!f) return FALSE;
    auto conv = [](const FILETIME* ft) {
        struct timespec ts {
            0, UTIME_OMIT
        };
        if (ft && (ft->dwLowDateTime || ft->dwHighDateTime)) {
            int64_t s = 0, ns = 0;
            zbw::UnixFromFileTime(*ft, s, ns);
            ts.tv_sec = s;
            ts.tv_nsec = ns;
        }
        return ts;
    };
    struct timespec times[2] = {conv(lastAccess), conv(lastWrite)};
    std::string self = "/proc/self/fd/" + std::to_string(f->Fd());
    if (utimensat(AT_FDCWD, self.c_str(), times, 0) != 0) return Fail(zbw::ErrorFromErrno(errno));
    return TRUE;
}

HANDLE GetStdHandle(DWORD which) {
    int fd = which == STD_INPUT_HANDLE    ? 0
             : which == STD_OUTPUT_HANDLE ? 1
             : which == STD_ERROR_HANDLE  ? 2
                                          : -1;
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    static HANDLE handles[3] = {nullptr, nullptr, nullptr};
    std::lock_guard<std::mutex> guard(zbw::StdLock());
    DWORD saved = GetLastError();
    if (!handles[fd] || !zbw::LookupHandle(handles[fd]))
        handles[fd] = zbw::NewHandle(new zbw::CFileObject(fd, fd == 0, fd != 0, false));
    SetLastError(saved);
    return handles[fd];
}

DWORD GetFileAttributesW(LPCWSTR fileName) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return GetFileAttributesExW(fileName, GetFileExInfoStandard, &data) ? data.dwFileAttributes
                                                                        : INVALID_FILE_ATTRIBUTES;
}

BOOL GetFileAttributesExW(LPCWSTR fileName, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
    if (!fileName || !info || level != GetFileExInfoStandard) return Fail(ERROR_INVALID_PARAMETER);
    std::string host = zbw::ToHostProgramPath(CString(fileName));
    if (host.empty()) return FALSE;
    struct stat st {};
    if (stat(host.c_str(), &st) != 0) return FailPath(host);
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(info);
    data->dwFileAttributes = zbw::AttributesOf(host, st);
    data->ftCreationTime = zbw::CreationTime(AT_FDCWD, host.c_str(), 0, st.st_ctim);
    data->ftLastAccessTime = zbw::FromTimespec(st.st_atim);
    data->ftLastWriteTime = zbw::FromTimespec(st.st_mtim);
    uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    return TRUE;
}

BOOL SetFileAttributesW(LPCWSTR fileName, DWORD attributes) {
    if (!fileName) return Fail(ERROR_INVALID_PARAMETER);
    std::string host = zbw::ToHostProgramPath(CString(fileName));
    if (host.empty()) return FALSE;
    struct stat st {};
    if (stat(host.c_str(), &st) != 0) return FailPath(host);
    if (S_ISDIR(st.st_mode)) return TRUE;
    bool wantReadOnly = attributes & FILE_ATTRIBUTE_READONLY;
    mode_t mode = wantReadOnly          ? (st.st_mode & ~0222)
                  : (st.st_mode & 0222) ? st.st_mode
                                        : (st.st_mode | 0200);
    if (mode != st.st_mode && chmod(host.c_str(), mode & 07777) != 0) return FailPath(host);
    return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES /*security*/) {
    if (!path) return Fail(ERROR_INVALID_PARAMETER);
    std::string host = zbw::ToHostPath(CString(path));
    if (host.empty()) return FALSE;
    if (mkdir(host.c_str(), 0777) == 0) return TRUE;
    if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
    return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : zbw::PathError(errno, host));
}

BOOL RemoveDirectoryW(LPCWSTR path) {
    if (!path) return Fail(ERROR_INVALID_PARAMETER);
    std::string host = zbw::ToHostPath(CString(path));
    if (host.empty()) return FALSE;
    if (rmdir(host.c_str()) == 0) return TRUE;
    if (errno == ENOTDIR) return Fail(ERROR_DIRECTORY);
    if (errno == ENOTEMPTY || errno == EEXIST) return Fail(ERROR_DIR_NOT_EMPTY);
    return FailPath(host);
}

BOOL DeleteFileW(LPCWSTR fileName) {
    if (!fileName) return Fail(ERROR_INVALID_PARAMETER);
    std::string host = zbw::ToHostProgramPath(CString(fileName));
    if (host.empty()) return FALSE;
    struct stat st {};
    if (lstat(host.c_str(), &st) != 0) return FailPath(host);
    if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (S_ISREG(st.st_mode) && zbw::IsReadOnly(host, st)) return Fail(ERROR_ACCESS_DENIED);
    if (unlink(host.c_str()) != 0) return FailPath(host);
    return TRUE;
}

BOOL MoveFileW(LPCWSTR existing, LPCWSTR newName) {
    return MoveFileExW(existing, newName, MOVEFILE_COPY_ALLOWED);
}

BOOL MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags) {
    if (!existing || !newName) return Fail(ERROR_INVALID_PARAMETER);
    std::string from = zbw::ToHostProgramPath(CString(existing));
    if (from.empty()) return FALSE;
    std::string to = zbw::ToHostPath(CString(newName));
    if (to.empty()) return FALSE;
    struct stat src {};
    if (lstat(from.c_str(), &src) != 0) return FailPath(from);
    struct stat dst {};
    bool targetExists = lstat(to.c_str(), &dst) == 0;
    bool sameFile = targetExists && src.st_dev == dst.st_dev && src.st_ino == dst.st_ino;
    if (targetExists && !sameFile) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
        if (S_ISDIR(dst.st_mode) || S_ISDIR(src.st_mode) || zbw::IsReadOnly(to, dst))
            return Fail(ERROR_ACCESS_DENIED);
    }
    if (sameFile && from != to && !(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
    bool replace = flags & MOVEFILE_REPLACE_EXISTING;
    int rc = replace ? rename(from.c_str(), to.c_str()) : zbw::RenameNoReplace(from, to);
    if (rc == 0) return TRUE;
    if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
    if (errno != EXDEV) return FailPath(errno == ENOENT ? to : from);
    if (S_ISDIR(src.st_mode) || !(flags & MOVEFILE_COPY_ALLOWED)) return Fail(ERROR_NOT_SAME_DEVICE);
    std::string tmp = zbw::CopyBeside(from, to);
    if (tmp.empty()) return FailPath(to);
    rc = replace ? rename(tmp.c_str(), to.c_str()) : zbw::RenameNoReplace(tmp, to);
    if (rc != 0) {
        int err = errno;
        unlink(tmp.c_str());
        return Fail(err == EEXIST ? ERROR_ALREADY_EXISTS : zbw::PathError(err, to));
    }
    unlink(from.c_str());
    return TRUE;
}

BOOL CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists) {
    if (!existing || !newName) return Fail(ERROR_INVALID_PARAMETER);
    std::string from = zbw::ToHostProgramPath(CString(existing));
    if (from.empty()) return FALSE;
    std::string to = zbw::ToHostPath(CString(newName));
    if (to.empty()) return FALSE;
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return FailPath(from);
    struct stat src {};
    fstat(in, &src);
    if (S_ISDIR(src.st_mode)) {
        close(in);
        return Fail(ERROR_ACCESS_DENIED);
    }
    bool created = true;
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, src.st_mode & 0777);
    if (out < 0 && errno == EEXIST && !failIfExists) {
        created = false;
        out = open(to.c_str(), O_WRONLY | O_CLOEXEC);
    }
    if (out < 0) {
        int err = errno;
        close(in);
        return Fail(err == EEXIST ? ERROR_FILE_EXISTS : zbw::PathError(err, to));
    }
    struct stat dst {};
    fstat(out, &dst);
    bool same = dst.st_dev == src.st_dev && dst.st_ino == src.st_ino;
    if (!created && (same || zbw::IsReadOnly(to, dst))) {
        close(in);
        close(out);
        return Fail(same ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED);
    }
    bool ok = (created || ftruncate(out, 0) == 0) && zbw::CopyContents(in, out);
    int err = errno;
    if (ok) {
        fchmod(out, src.st_mode & 07777);
        zbw::KeepTimes(out, src);
    }
    close(in);
    close(out);
    if (!ok) {
        if (created) unlink(to.c_str());
        return Fail(err == ENOSPC ? ERROR_DISK_FULL : zbw::ErrorFromErrno(err));
    }
    return TRUE;
}

BOOL ReplaceFileW(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD /*flags*/, LPVOID /*exclude*/,
                  LPVOID /*reserved*/) {
    if (!replaced || !replacement) return Fail(ERROR_INVALID_PARAMETER);
    std::string target = zbw::ToHostProgramPath(CString(replaced));
    if (target.empty()) return FALSE;
    std::string source = zbw::ToHostProgramPath(CString(replacement));
    if (source.empty()) return FALSE;
    struct stat ts {};
    struct stat ss {};
    if (stat(target.c_str(), &ts) != 0) return FailPath(target);
    if (stat(source.c_str(), &ss) != 0) return FailPath(source);
    if (S_ISDIR(ts.st_mode) || S_ISDIR(ss.st_mode) || zbw::IsReadOnly(target, ts))
        return Fail(ERROR_ACCESS_DENIED);
    if (backup) {
        std::string keep = zbw::ToHostPath(CString(backup));
        if (keep.empty()) return FALSE;
        unlink(keep.c_str());
        if (link(target.c_str(), keep.c_str()) != 0) {
            std::string tmp = zbw::CopyBeside(target, keep);
            if (tmp.empty() || rename(tmp.c_str(), keep.c_str()) != 0) {
                if (!tmp.empty()) unlink(tmp.c_str());
                return Fail(ERROR_UNABLE_TO_REMOVE_REPLACED);
            }
        }
    }
    chmod(source.c_str(), ts.st_mode & 07777);
    if (rename(source.c_str(), target.c_str()) == 0) return TRUE;
    if (errno != EXDEV) return Fail(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
    std::string tmp = zbw::CopyBeside(source, target);
    if (tmp.empty()) return Fail(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
    chmod(tmp.c_str(), ts.st_mode & 07777);
    if (rename(tmp.c_str(), target.c_str()) != 0) {
        unlink(tmp.c_str());
        return Fail(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
    }
    unlink(source.c_str());
    return TRUE;
}

DWORD GetTempPathW(DWORD size, LPWSTR buffer) {
    const char* names[] = {"TMPDIR", "TMP", "TEMP"};
    std::string value = "/tmp";
    for (const char* name : names) {
        const char* v = std::getenv(name);
        if (v && *v) {
            value = v;
            break;
        }
    }
    std::u16string path =
        value[0] == '/' ? zbw::U16(zbw::ToWindowsPath(value)) : zbw::U16(zbw::FromUtf8(value));
    zbw::EnsureTrailingSep(path);
    return zbw::CopyOut(path, size, buffer);
}

UINT GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR buffer) {
    if (!path || !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string folder = path;
    zbw::EnsureTrailingSep(folder);
    std::u16string head = folder + (prefix ? std::u16string(prefix).substr(0, 3) : std::u16string());
    auto nameFor = [&](UINT n) { return head + zbw::Hex(n & 0xFFFF) + u".tmp"; };
    auto deliver = [&](UINT n) -> UINT {
        std::u16string name = nameFor(n);
        if (name.size() + 1 > MAX_PATH) {
            SetLastError(ERROR_BUFFER_OVERFLOW);
            return 0;
        }
        std::copy(name.begin(), name.end(), buffer);
        buffer[name.size()] = 0;
        return n;
    };
    if (unique) return deliver(unique & 0xFFFF);
    std::string hostFolder = zbw::ToHostPath(CString(folder.c_str()));
    if (hostFolder.empty()) return 0;
    if (!zbw::IsHostDir(hostFolder)) {
        SetLastError(ERROR_DIRECTORY);
        return 0;
    }
    UINT start = (GetTickCount() ^ static_cast<UINT>(getpid())) & 0xFFFF;
    for (UINT i = 0; i <= 0xFFFF; ++i) {
        UINT n = (start + i) & 0xFFFF;
        if (n == 0) continue;
        std::u16string name = nameFor(n);
        if (name.size() + 1 > MAX_PATH) {
            SetLastError(ERROR_BUFFER_OVERFLOW);
            return 0;
        }
        std::string host = zbw::ToHostPath(CString(name.c_str()));
        if (host.empty()) return 0;
        int fd = open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            return deliver(n);
        }
        if (errno != EEXIST) {
            SetLastError(zbw::PathError(errno, host));
            return 0;
        }
    }
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    if (!pattern || !data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::u16string folder, namePattern;
    zbw::SplitPattern(pattern, folder, namePattern);
    if (namePattern.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    CString full = zbw::FullWindowsPath(CString(folder.c_str()));
    std::string hostFolder = zbw::ToHostPath(full);
    if (hostFolder.empty()) return INVALID_HANDLE_VALUE;
    DIR* dir = opendir(hostFolder.c_str());
    if (!dir) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : zbw::ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    std::vector<std::u16string> names = zbw::ListNames(dir, zbw::IsRootPath(full));
    closedir(dir);
    std::vector<int> tokens = zbw::Tokens(namePattern);
    std::vector<WIN32_FIND_DATAW> entries;
    std::string base = hostFolder.back() == '/' ? hostFolder : hostFolder + "/";
    for (const std::u16string& name : names) {
        if (!zbw::CWildcardMatch(tokens, name).Run()) continue;
        WIN32_FIND_DATAW entry;
        if (zbw::FillFindData(base + zbw::ToUtf8(name.c_str()), name, entry)) entries.push_back(entry);
    }
    if (entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto* find = new zbw::CFindObject(std::move(entries));
    find->Next(*data);
    SetLastError(ERROR_SUCCESS);
    return zbw::NewHandle(find);
}

BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
    CKernelRef ref = zbw::LookupHandle(find);
    if (!ref) return FALSE;
    zbw::CFindObject* f = ref.As<zbw::CFindObject>();
    if (!f || !data) return Fail(f ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return f->Next(*data) ? TRUE : Fail(ERROR_NO_MORE_FILES);
}

BOOL FindClose(HANDLE find) {
    CKernelRef ref = zbw::LookupHandle(find);
    if (!ref) return FALSE;
    if (!ref.As<zbw::CFindObject>()) return Fail(ERROR_INVALID_HANDLE);
    return CloseHandle(find);
}
