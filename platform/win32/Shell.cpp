#include "platform/win32/Shell.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/base/WinError.h"
#include "platform/host/EmulationRoot.h"
#include "platform/host/PathMap.h"

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string Home() {
    std::string home = Env("HOME");
    if (!home.empty()) return home;
    const passwd* pw = getpwuid(getuid());
    return pw && pw->pw_dir ? std::string(pw->pw_dir) : std::string("/");
}

// A small host file whole, through a close-on-exec descriptor; "" when missing.
std::string ReadSmallFile(const std::string& path) {
    std::string text;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    close(fd);
    return text;
}

// A user-dirs.dirs value: "$HOME/x" or an absolute path, in double quotes.
std::string UserDirValue(std::string value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) return Home() + value.substr(5);
    return value.empty() || value[0] != '/' ? std::string() : value;
}

std::string XdgUserDir(const char* key, const char* fallback) {
    std::string fromEnv = Env(key);
    if (!fromEnv.empty() && fromEnv[0] == '/') return fromEnv;
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty()) config = Home() + "/.config";
    std::string text = ReadSmallFile(config + "/user-dirs.dirs");
    std::string prefix = "\n" + std::string(key) + "=";
    text.insert(0, 1, '\n');
    size_t at = text.find(prefix);
    if (at != std::string::npos) {
        size_t begin = at + prefix.size();
        size_t end = text.find('\n', begin);
        std::string value = UserDirValue(text.substr(begin, end == std::string::npos ? end : end - begin));
        if (!value.empty()) return value;
    }
    return Home() + "/" + fallback;
}

// The host folder of a folder id, or "" for an id we do not know.
std::string HostFolder(int csidl) {
    switch (csidl & ~CSIDL_FLAG_CREATE) {
        case CSIDL_APPDATA: {
            std::string data = Env("XDG_DATA_HOME");
            return !data.empty() && data[0] == '/' ? data : Home() + "/.local/share";
        }
        case CSIDL_PERSONAL: return XdgUserDir("XDG_DOCUMENTS_DIR", "Documents");
        case CSIDL_DESKTOPDIRECTORY: return XdgUserDir("XDG_DESKTOP_DIR", "Desktop");
        default: return std::string();
    }
}

bool FolderPath(int csidl, bool create, LPWSTR path) {
    std::string host = HostFolder(csidl);
    if (host.empty() || !path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (create && !zbw::MakeHostDirs(host)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    CString windows = zbw::ToWindowsPath(host);
    if (windows.GetLength() >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::copy(windows.GetString(), windows.GetString() + windows.GetLength() + 1, path);
    return true;
}

}  // namespace

BOOL SHGetSpecialFolderPathW(HWND /*owner*/, LPWSTR path, int csidl, BOOL create) {
    return FolderPath(csidl, create || (csidl & CSIDL_FLAG_CREATE), path) ? TRUE : FALSE;
}

HRESULT SHGetFolderPathW(HWND /*owner*/, int csidl, HANDLE /*token*/, DWORD /*flags*/, LPWSTR path) {
    if (HostFolder(csidl).empty() || !path) return E_INVALIDARG;
    return FolderPath(csidl, (csidl & CSIDL_FLAG_CREATE) != 0, path) ? S_OK : E_FAIL;
}
