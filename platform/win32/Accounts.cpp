#include "platform/win32/Accounts.h"

#include <netdb.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/TextConvert.h"
#include "platform/base/WideChar.h"
#include "platform/base/WinError.h"

namespace {

bool UserName(std::string* name) {
    const char* forced = std::getenv("ZBW_USER_NAME");
    if (forced && *forced) {
        *name = forced;
        return true;
    }
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd pw {};
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) != 0 || !found || !*found->pw_name)
        return false;
    *name = found->pw_name;
    return true;
}

bool HostName(std::string* name) {
    const char* forced = std::getenv("ZBW_COMPUTER_NAME");
    if (forced && *forced) {
        *name = forced;
        return true;
    }
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0 || !buf[0]) return false;
    *name = buf;
    return true;
}

// The resolver's canonical name for a dotless host name, remembered per name.
std::string CanonicalName(const std::string& host) {
    static std::mutex lock;
    static auto& known = *new std::map<std::string, std::string>;  // outlives exit, as callers may
    std::lock_guard<std::mutex> guard(lock);
    auto it = known.find(host);
    if (it != known.end()) return it->second;
    std::string result = host;
    struct addrinfo hints {};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) == 0 && list) {
        const char* canon = list->ai_canonname;
        if (canon && std::strncmp(canon, host.c_str(), host.size()) == 0 && canon[host.size()] == '.') {
            result = canon;
        }
        freeaddrinfo(list);
    }
    known[host] = result;
    return result;
}

bool FullyQualifiedName(std::string* name) {
    if (!HostName(name)) return false;
    if (name->find('.') == std::string::npos && !std::getenv("ZBW_COMPUTER_NAME"))
        *name = CanonicalName(*name);
    return true;
}

bool ComputerNameText(COMPUTER_NAME_FORMAT format, std::u16string* text) {
    std::string full;
    if (!FullyQualifiedName(&full)) return false;
    const size_t dot = full.find('.');
    const std::string label = full.substr(0, dot);
    std::string chosen;
    switch (format) {
        case ComputerNameNetBIOS:
        case ComputerNamePhysicalNetBIOS: {
            CString upper = zbw::FromUtf8(label);
            upper.MakeUpper();
            *text = upper.GetString();
            return true;
        }
        case ComputerNameDnsHostname:
        case ComputerNamePhysicalDnsHostname: chosen = label; break;
        case ComputerNameDnsDomain:
        case ComputerNamePhysicalDnsDomain:
            chosen = dot == std::string::npos ? std::string() : full.substr(dot + 1);
            break;
        case ComputerNameDnsFullyQualified:
        case ComputerNamePhysicalDnsFullyQualified: chosen = full; break;
        default: return false;
    }
    *text = zbw::FromUtf8(chosen).GetString();
    return true;
}

// Copies text and its zero when the buffer holds them; else sets the size needed (with zero).
bool CopyOut(const std::u16string& text, LPWSTR buffer, DWORD* size) {
    if (!buffer || *size <= text.size()) {
        *size = static_cast<DWORD>(text.size() + 1);
        return false;
    }
    std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    return true;
}

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

}  // namespace

BOOL GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer) {
    if (!pcbBuffer) return Fail(ERROR_INVALID_PARAMETER);
    std::string name;
    if (!UserName(&name)) return Fail(ERROR_NONE_MAPPED);
    std::u16string text = zbw::FromUtf8(name).GetString();
    if (!CopyOut(text, lpBuffer, pcbBuffer)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    *pcbBuffer = static_cast<DWORD>(text.size() + 1);
    return TRUE;
}

BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize) {
    if (!nSize) return Fail(ERROR_INVALID_PARAMETER);
    std::u16string text;
    if (!ComputerNameText(ComputerNameNetBIOS, &text)) return Fail(ERROR_NONE_MAPPED);
    if (!CopyOut(text, lpBuffer, nSize)) return Fail(ERROR_BUFFER_OVERFLOW);
    *nSize = static_cast<DWORD>(text.size());
    return TRUE;
}

BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
    if (!nSize) return Fail(ERROR_INVALID_PARAMETER);
    std::u16string text;
    if (!ComputerNameText(ComputerNameNetBIOS, &text)) return Fail(ERROR_NONE_MAPPED);
    const std::string ansi = zbw::ToAnsi(text);
    if (!lpBuffer || *nSize <= ansi.size()) {
        *nSize = static_cast<DWORD>(ansi.size() + 1);
        return Fail(ERROR_BUFFER_OVERFLOW);
    }
    std::memcpy(lpBuffer, ansi.c_str(), ansi.size() + 1);
    *nSize = static_cast<DWORD>(ansi.size());
    return TRUE;
}

BOOL GetComputerNameExW(COMPUTER_NAME_FORMAT NameType, LPWSTR lpBuffer, LPDWORD nSize) {
    if (!nSize || NameType < ComputerNameNetBIOS || NameType >= ComputerNameMax) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::u16string text;
    if (!ComputerNameText(NameType, &text)) return Fail(ERROR_NONE_MAPPED);
    if (!CopyOut(text, lpBuffer, nSize)) return Fail(ERROR_MORE_DATA);
    *nSize = static_cast<DWORD>(text.size());
    return TRUE;
}

BOOLEAN GetUserNameExW(EXTENDED_NAME_FORMAT NameFormat, LPWSTR lpNameBuffer, PULONG nSize) {
    if (!nSize) return static_cast<BOOLEAN>(Fail(ERROR_INVALID_PARAMETER));
    if (NameFormat != NameSamCompatible) return static_cast<BOOLEAN>(Fail(ERROR_NONE_MAPPED));
    std::string user;
    std::u16string computer;
    if (!UserName(&user) || !ComputerNameText(ComputerNameNetBIOS, &computer)) {
        return static_cast<BOOLEAN>(Fail(ERROR_NONE_MAPPED));
    }
    std::u16string text = computer + u"\\" + zbw::FromUtf8(user).GetString();
    DWORD size = *nSize;
    const bool copied = CopyOut(text, lpNameBuffer, &size);
    *nSize = copied ? static_cast<ULONG>(text.size()) : size;
    return copied ? TRUE : static_cast<BOOLEAN>(Fail(ERROR_MORE_DATA));
}

namespace zbw {

CString CurrentUserSidText() {
    return FromUtf8("S-1-5-21-0-0-0-" + std::to_string(getuid()));
}

DWORD CurrentIntegrityRid() {
    return geteuid() == 0 ? 0x3000u : 0x2000u;
}

int CurrentIntegrityLevel() {
    return geteuid() == 0 ? 3 : 2;
}

}  // namespace zbw
