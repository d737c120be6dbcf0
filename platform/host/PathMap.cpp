#include "platform/host/PathMap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/EmulationRoot.h"

namespace zbw {
namespace {

typedef std::vector<std::u16string> Parts;

bool IsSep(char16_t c) {
    return c == u'\\' || c == u'/';
}
bool IsAsciiAlpha(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
char16_t UpperAscii(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

bool EqualNoCase(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    }
    return true;
}

bool EndsWithExe(const std::u16string& s) {
    return s.size() >= 4 && EqualNoCase(s.substr(s.size() - 4), u".exe");
}

const std::u16string& U16(const CString& s) {
    return s.GetStdString();
}

// ---- map files ----

struct SShare {
    std::u16string server;
    std::u16string share;
    std::string folder;
};

struct SMaps {
    std::map<char16_t, std::string> drives;  // upper-case letter -> host folder
    std::vector<SShare> shares;
};

struct SFileStamp {
    bool present = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const SFileStamp&) const = default;
};

SFileStamp StampOf(const std::string& path) {
    SFileStamp s;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return s;
    s.present = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return s;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// The lines of a small host file ("" when missing), read through a close-on-exec descriptor.
std::vector<std::string> ReadLines(const std::string& path) {
    std::string text;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buf[4096];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
        close(fd);
    }
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// "key=value" lines; comments and malformed lines are skipped.
std::vector<std::pair<std::string, std::string>> ReadMapLines(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> lines;
    for (std::string line : ReadLines(path)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        lines.emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
    }
    return lines;
}

std::string CleanFolder(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

Parts SplitParts(const std::u16string& text) {
    Parts parts;
    std::u16string cur;
    for (char16_t c : text) {
        if (IsSep(c)) {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

SMaps ParseMaps(const std::string& drivesFile, const std::string& sharesFile) {
    SMaps maps;
    maps.drives[u'C'] = "/";
    for (const auto& [key, value] : ReadMapLines(drivesFile)) {
        if (key.size() != 2 || key[1] != ':' || !IsAsciiAlpha(key[0]) || value.empty() || value[0] != '/')
            continue;
        maps.drives[UpperAscii(static_cast<char16_t>(key[0]))] = CleanFolder(value);
    }
    for (const auto& [key, value] : ReadMapLines(sharesFile)) {
        std::u16string k = U16(FromUtf8(key));
        Parts parts = SplitParts(k);
        if (k.size() < 2 || !IsSep(k[0]) || !IsSep(k[1]) || parts.size() != 2 || value.empty() ||
            value[0] != '/')
            continue;
        maps.shares.push_back({parts[0], parts[1], CleanFolder(value)});
    }
    return maps;
}

const char kDriveMap[] = "drives";
const char kShareMap[] = "shares";

// Every path conversion looks at the map files: it does not make their folder as well.
std::string MapFileToRead(const char* name) {
    return MachinePath() + "/" + name;
}

class CMapCache {
   public:
    SMaps Get() {
        std::string drives = MapFileToRead(kDriveMap);
        std::string shares = MapFileToRead(kShareMap);
        SFileStamp ds = StampOf(drives);
        SFileStamp ss = StampOf(shares);
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_valid || drives != m_drivesFile || shares != m_sharesFile || !(ds == m_drivesStamp) ||
            !(ss == m_sharesStamp)) {
            m_maps = ParseMaps(drives, shares);
            m_drivesFile = drives;
            m_sharesFile = shares;
            m_drivesStamp = ds;
            m_sharesStamp = ss;
            m_valid = true;
        }
        return m_maps;
    }

   private:
    std::mutex m_lock;
    bool m_valid = false;
    std::string m_drivesFile;
    std::string m_sharesFile;
    SFileStamp m_drivesStamp;
    SFileStamp m_sharesStamp;
    SMaps m_maps;
};

SMaps Maps() {
    static CMapCache* cache = new CMapCache;  // used by static destructors of callers too
    return cache->Get();
}

std::mutex& MapEditLock() {
    static std::mutex lock;
    return lock;
}

// Replaces the lines whose key matches (case-insensitively) by "key=folder", or drops them.
bool EditMapFile(const std::string& file, const std::string& key, const std::string& folder) {
    std::lock_guard<std::mutex> guard(MapEditLock());
    std::u16string wantKey = U16(FromUtf8(key));
    std::string out;
    for (const std::string& line : ReadLines(file)) {
        std::string t = Trim(line);
        size_t eq = t.find('=');
        bool comment = t.empty() || t[0] == '#' || t[0] == ';';
        if (!comment && eq != std::string::npos && EqualNoCase(U16(FromUtf8(Trim(t.substr(0, eq)))), wantKey))
            continue;
        out += line + '\n';
    }
    if (!folder.empty()) out += key + '=' + folder + '\n';
    std::string tmp = file + ".tmp" + std::to_string(getpid());
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool written = write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size());
    close(fd);
    return written && std::rename(tmp.c_str(), file.c_str()) == 0;
}

// ---- parsed Windows paths ----

struct SWinPath {
    enum class Root { Drive, Share, Host };  // Host: rooted, but under no drive
    Root root = Root::Host;
    char16_t drive = 0;
    std::u16string server;
    std::u16string share;
    Parts parts;
    bool trailing = false;  // the text ended in a separator
};

// Windows drops trailing dots and blanks of a component; "." and ".." act on the text.
void AppendParts(Parts& parts, const Parts& more) {
    for (std::u16string p : more) {
        if (p == u".") continue;
        if (p == u"..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        while (!p.empty() && (p.back() == u'.' || p.back() == u' ')) p.pop_back();
        if (!p.empty()) parts.push_back(p);
    }
}

Parts HostParts(const std::string& host) {
    Parts parts;
    std::string cur;
    for (size_t i = 0; i <= host.size(); ++i) {
        if (i == host.size() || host[i] == '/') {
            if (cur == "..") {
                if (!parts.empty()) parts.pop_back();
            } else if (!cur.empty() && cur != ".") {
                parts.push_back(U16(FromUtf8(cur)));
            }
            cur.clear();
        } else {
            cur += host[i];
        }
    }
    return parts;
}

bool IsPrefix(const Parts& prefix, const Parts& whole) {
    return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

SWinPath HostToWin(const std::string& host) {
    SWinPath w;
    Parts parts = HostParts(host);
    size_t best = 0;
    bool found = false;
    for (const auto& [letter, folder] : Maps().drives) {
        Parts fp = HostParts(folder);
        if (IsPrefix(fp, parts) && (!found || fp.size() > best)) {
            found = true;
            best = fp.size();
            w.drive = letter;
        }
    }
    w.root = found ? SWinPath::Root::Drive : SWinPath::Root::Host;
    w.parts.assign(parts.begin() + (found ? best : 0), parts.end());
    return w;
}

std::string HostCwd() {
    std::vector<char> buf(4096);
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE) return "/";
        buf.resize(buf.size() * 2);
    }
    return buf.data();
}

SWinPath CurrentFolder() {
    return HostToWin(HostCwd());
}

std::u16string StripLongPrefix(const std::u16string& p) {
    auto sepAt = [&](size_t i) { return i < p.size() && IsSep(p[i]); };
    if (sepAt(0) && sepAt(1) && p.size() > 3 && p[2] == u'?' && sepAt(3)) {
        std::u16string rest = p.substr(4);
        if (rest.size() >= 3 && EqualNoCase(rest.substr(0, 3), u"UNC") &&
            (rest.size() == 3 || IsSep(rest[3])))
            return u"\\\\" + (rest.size() > 3 ? rest.substr(4) : std::u16string());
        return rest;
    }
    return p;
}

bool ParseWindows(const std::u16string& input, SWinPath& out) {
    std::u16string p = StripLongPrefix(input);
    if (p.empty()) return false;
    out = SWinPath();
    out.trailing = IsSep(p.back());
    if (p.size() >= 2 && IsSep(p[0]) && IsSep(p[1])) {
        Parts parts = SplitParts(p);
        if (parts.empty()) return false;
        out.root = SWinPath::Root::Share;
        out.server = parts[0];
        if (parts.size() > 1) out.share = parts[1];
        AppendParts(out.parts, Parts(parts.begin() + std::min<size_t>(2, parts.size()), parts.end()));
        return true;
    }
    std::u16string rest = p;
    if (p.size() >= 2 && p[1] == u':' && IsAsciiAlpha(p[0])) {
        char16_t letter = UpperAscii(p[0]);
        rest = p.substr(2);
        SWinPath cwd = CurrentFolder();
        bool onCwdDrive = cwd.root == SWinPath::Root::Drive && cwd.drive == letter;
        if (!rest.empty() && IsSep(rest[0])) {
            out.root = SWinPath::Root::Drive;
            out.drive = letter;
        } else if (onCwdDrive) {
            out = cwd;
        } else {
            out.root = SWinPath::Root::Drive;
            out.drive = letter;
        }
        out.trailing = !rest.empty() && IsSep(rest.back());
    } else {
        SWinPath cwd = CurrentFolder();
        out = cwd;
        if (IsSep(p[0])) out.parts.clear();
        out.trailing = IsSep(p.back());
    }
    AppendParts(out.parts, SplitParts(rest));
    return true;
}

std::u16string Compose(const SWinPath& w) {
    std::u16string s;
    switch (w.root) {
        case SWinPath::Root::Drive: s = std::u16string(1, w.drive) + u":"; break;
        case SWinPath::Root::Share:
            s = u"\\\\" + w.server;
            if (!w.share.empty()) s += u"\\" + w.share;
            break;
        case SWinPath::Root::Host: break;
    }
    for (const std::u16string& p : w.parts) s += u"\\" + p;
    bool atRoot = w.parts.empty();
    if ((atRoot && w.root != SWinPath::Root::Share) || (w.trailing && (!atRoot || !w.share.empty())))
        s += u'\\';
    return s;
}

// Characters a Windows file name cannot hold (the drive's colon is not part of a component).
bool IsValidComponent(const std::u16string& part) {
    for (char16_t c : part) {
        if (c < 32 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' || c == u'*')
            return false;
    }
    return true;
}

bool WinToHost(const SWinPath& w, std::string& host) {
    SMaps maps = Maps();
    switch (w.root) {
        case SWinPath::Root::Drive: {
            auto it = maps.drives.find(w.drive);
            if (it == maps.drives.end()) {
                SetLastError(ERROR_PATH_NOT_FOUND);
                return false;
            }
            host = it->second;
            break;
        }
        case SWinPath::Root::Share: {
            bool serverKnown = false;
            const SShare* found = nullptr;
            for (const SShare& s : maps.shares) {
                if (!EqualNoCase(s.server, w.server)) continue;
                serverKnown = true;
                if (EqualNoCase(s.share, w.share)) found = &s;
            }
            if (!found) {
                SetLastError(serverKnown && !w.share.empty() ? ERROR_BAD_NET_NAME : ERROR_BAD_NETPATH);
                return false;
            }
            host = found->folder;
            break;
        }
        case SWinPath::Root::Host: host = "/"; break;
    }
    for (const std::u16string& p : w.parts) {
        if (!IsValidComponent(p)) {
            SetLastError(ERROR_INVALID_NAME);
            return false;
        }
        if (host.back() != '/') host += '/';
        host += ToUtf8(p.c_str());
    }
    if (w.trailing && !w.parts.empty()) host += '/';
    return true;
}

bool HostExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// Copies a text with its terminator when it fits: the length, else the size needed.
DWORD CopyOut(const std::u16string& s, DWORD size, LPWSTR buffer) {
    if (!buffer || s.size() + 1 > size) return static_cast<DWORD>(s.size() + 1);
    std::copy(s.begin(), s.end(), buffer);
    buffer[s.size()] = 0;
    return static_cast<DWORD>(s.size());
}

}  // namespace

std::string DriveMapPath() {
    return MachineDir() + "/" + kDriveMap;
}
std::string ShareMapPath() {
    return MachineDir() + "/" + kShareMap;
}

bool MapDrive(char16_t letter, const std::string& hostFolder) {
    if (!IsAsciiAlpha(letter)) return false;
    std::string key(1, static_cast<char>(UpperAscii(letter)));
    return EditMapFile(DriveMapPath(), key + ":", hostFolder.empty() ? hostFolder : CleanFolder(hostFolder));
}

bool MapShare(const CString& server, const CString& share, const std::string& hostFolder) {
    std::string key = "\\\\" + ToUtf8(server) + "\\" + ToUtf8(share);
    return EditMapFile(ShareMapPath(), key, hostFolder.empty() ? hostFolder : CleanFolder(hostFolder));
}

std::string ToHostPath(const CString& windowsPath) {
    SWinPath w;
    if (!ParseWindows(U16(windowsPath), w)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::string();
    }
    std::string host;
    return WinToHost(w, host) ? host : std::string();
}

std::string ToHostProgramPath(const CString& windowsPath) {
    std::string host = ToHostPath(windowsPath);
    if (host.size() > 4 && EndsWithExe(U16(windowsPath)) && !HostExists(host)) {
        std::string bare = host.substr(0, host.size() - 4);
        if (HostExists(bare)) return bare;
    }
    return host;
}

CString ToWindowsPath(const std::string& hostPath) {
    if (hostPath.empty()) return CString();
    if (hostPath[0] != '/') {
        std::u16string s = U16(FromUtf8(hostPath));
        std::replace(s.begin(), s.end(), u'/', u'\\');
        return CString(s.c_str());
    }
    SWinPath w = HostToWin(hostPath);
    w.trailing = false;
    return CString(Compose(w).c_str());
}

CString FullWindowsPath(const CString& path) {
    SWinPath w;
    if (!ParseWindows(U16(path), w)) return CString();
    return CString(Compose(w).c_str());
}

bool IsRootPath(const CString& fullPath) {
    SWinPath w;
    if (!ParseWindows(U16(fullPath), w)) return false;
    return w.parts.empty() && (w.root == SWinPath::Root::Drive || !w.share.empty());
}

std::string ProgramHostPath() {
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string();
}

}  // namespace zbw

DWORD GetModuleFileNameW(HMODULE /*module*/, LPWSTR buffer, DWORD size) {
    std::string host = zbw::ProgramHostPath();
    if (host.empty() || !buffer || size == 0) {
        SetLastError(host.empty() ? ERROR_FILE_NOT_FOUND : ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::u16string path = zbw::U16(zbw::ToWindowsPath(host));
    if (!zbw::EndsWithExe(path)) path += u".exe";
    if (path.size() + 1 > size) {
        std::copy(path.begin(), path.begin() + (size - 1), buffer);
        buffer[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = 0;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
}

DWORD GetLogicalDriveStringsW(DWORD size, LPWSTR buffer) {
    std::u16string all;
    for (const auto& entry : zbw::Maps().drives) {
        all += entry.first;
        all += u":\\";
        all += u'\0';
    }
    if (!buffer || all.size() + 1 > size) return static_cast<DWORD>(all.size() + 1);
    std::copy(all.begin(), all.end(), buffer);
    buffer[all.size()] = 0;
    return static_cast<DWORD>(all.size());
}

DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
    return zbw::CopyOut(zbw::U16(zbw::ToWindowsPath(zbw::HostCwd())), size, buffer);
}

BOOL SetCurrentDirectoryW(LPCWSTR path) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string host = zbw::ToHostPath(CString(path));
    if (host.empty()) return FALSE;
    if (chdir(host.c_str()) != 0) {
        SetLastError(errno == ENOTDIR ? ERROR_DIRECTORY : zbw::ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

DWORD GetFullPathNameW(LPCWSTR fileName, DWORD size, LPWSTR buffer, LPWSTR* filePart) {
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    std::u16string full = zbw::U16(zbw::FullWindowsPath(CString(fileName)));
    DWORD result = zbw::CopyOut(full, size, buffer);
    if (filePart && result < size) {
        size_t sep = full.find_last_of(u"\\");
        *filePart = (sep == std::u16string::npos || sep + 1 == full.size()) ? nullptr : buffer + sep + 1;
    }
    return result;
}
