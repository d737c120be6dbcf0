#include "platform/win32/Environment.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/base/TextConvert.h"
#include "platform/base/WideChar.h"
#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/win32/FileApi.h"

namespace zbw {
namespace {

std::mutex& EnvLock() {
    static std::mutex lock;
    return lock;
}

// The host name of a variable: the exact one when set, else the first that differs only in
// case, else "". Call with the lock held.
std::string HostName(const std::string& name) {
    if (std::getenv(name.c_str())) return name;
    std::u16string wanted = FromUtf8(name).GetStdString();
    for (char** e = environ; e && *e; ++e) {
        std::string entry = *e;
        size_t eq = entry.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        std::string candidate = entry.substr(0, eq);
        if (CompareNoCase(FromUtf8(candidate).GetStdString(), wanted) == 0) return candidate;
    }
    return std::string();
}

CString TempFolderWithoutSeparator() {
    char16_t buffer[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH) return CString();
    CString path(buffer);
    if (path.GetLength() > 3) path = path.Left(path.GetLength() - 1);
    return path;
}

// What a Windows process always has, for names the host leaves unset.
bool WindowsDefault(const CString& name, CString& value) {
    if (name.CompareNoCase(u"SystemRoot") == 0 || name.CompareNoCase(u"windir") == 0) {
        value = u"C:\\Windows";
    } else if (name.CompareNoCase(u"TEMP") == 0 || name.CompareNoCase(u"TMP") == 0) {
        value = TempFolderWithoutSeparator();
    } else if (name.CompareNoCase(u"USERPROFILE") == 0) {
        const char* home = std::getenv("HOME");
        if (!home || !*home) return false;
        value = ToWindowsPath(home);
    } else {
        return false;
    }
    return !value.IsEmpty();
}

bool ValidName(LPCWSTR name) {
    return name && *name && std::u16string_view(name).find(u'=', 1) == std::u16string_view::npos;
}

}  // namespace

bool LookupEnvironment(const CString& name, CString& value) {
    if (!ValidName(name)) return false;
    std::string host;
    {
        std::lock_guard<std::mutex> guard(EnvLock());
        host = HostName(ToUtf8(name));
        if (!host.empty()) {
            value = FromUtf8(std::getenv(host.c_str()));
            return true;
        }
    }
    return WindowsDefault(name, value);
}

}  // namespace zbw

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    CString value;
    if (!zbw::LookupEnvironment(CString(name ? name : u""), value)) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    DWORD length = static_cast<DWORD>(value.GetLength());
    if (!buffer || length + 1 > size) return length + 1;
    std::copy(value.GetString(), value.GetString() + length + 1, buffer);
    SetLastError(ERROR_SUCCESS);
    return length;
}

BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value) {
    if (!zbw::ValidName(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(zbw::EnvLock());
    std::string host = zbw::HostName(zbw::ToUtf8(name));
    if (host.empty()) host = zbw::ToUtf8(name);
    int rc = value ? setenv(host.c_str(), zbw::ToUtf8(value).c_str(), 1) : unsetenv(host.c_str());
    if (rc != 0) {
        zbw::SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size) {
    if (!source) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string in(source);
    std::u16string out;
    size_t pos = 0;
    while (pos < in.size()) {
        size_t open = in.find(u'%', pos);
        size_t close = open == std::u16string::npos ? open : in.find(u'%', open + 1);
        if (close == std::u16string::npos) {
            out += in.substr(pos);
            break;
        }
        out += in.substr(pos, open - pos);
        CString value;
        std::u16string name = in.substr(open + 1, close - open - 1);
        if (!name.empty() && zbw::LookupEnvironment(CString(name), value)) {
            out += value.GetStdString();
            pos = close + 1;
        } else {
            // The closing "%" may open the next variable.
            out += in.substr(open, close - open);
            pos = close;
        }
    }
    DWORD needed = static_cast<DWORD>(out.size() + 1);
    if (destination && needed <= size) std::copy(out.c_str(), out.c_str() + needed, destination);
    return needed;
}
