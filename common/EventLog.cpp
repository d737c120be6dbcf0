#include "common/EventLog.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/base/CString.h"
#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/win32/EventLogApi.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Thread.h"
#include "platform/win32/Token.h"

CEventLog g_EventLog __attribute__((init_priority(102)));

namespace {

const char16_t kSourcesKey[] = u"SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\";
const DWORD kTypesSupported = 31;  // error, warning, information, audit success and failure

// The folder of the running program and the fixed name of the file with the message table.
CString MessageFilePath() {
    char16_t path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    CString file(path);
    const int slash = file.ReverseFind(u'\\');
    return (slash >= 0 ? file.Left(slash) : CString()) + u"\\zbengine.exe";
}

HANDLE OpenUserToken() {
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) return token;
    if (GetLastError() != ERROR_NO_TOKEN) return nullptr;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ? token : nullptr;
}

std::vector<BYTE> TokenUserSid(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(TOKEN_USER)) return {};
    std::vector<BYTE> info(size);
    if (!GetTokenInformation(token, TokenUser, info.data(), size, &size)) return {};
    TOKEN_USER user;
    std::memcpy(&user, info.data(), sizeof user);
    std::vector<BYTE> sid(GetLengthSid(user.User.Sid));
    if (sid.empty() || !CopySid(static_cast<DWORD>(sid.size()), sid.data(), user.User.Sid)) return {};
    return sid;
}

}  // namespace

CEventLog::~CEventLog() {
    CloseSource();
}

bool CEventLog::OpenEventSource(LPCWSTR sourceName) {
    if (!sourceName || !*sourceName) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    CloseSource();
    if (!m_pszSourceName) m_pszSourceName = std::make_unique<char16_t[]>(kNameBufferSize);
    const size_t length =
        std::min(std::char_traits<char16_t>::length(sourceName), size_t{kNameBufferSize - 2});
    std::char_traits<char16_t>::copy(m_pszSourceName.get(), sourceName, length);
    m_pszSourceName[length] = 0;
    if (InstallEventSource(m_pszSourceName.get()))
        m_hEventSource = RegisterEventSourceW(nullptr, m_pszSourceName.get());
    return m_hEventSource != nullptr;
}

bool CEventLog::WriteEventLog(WORD type, LPCWSTR text) {
    if (!text) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_hEventSource) return false;
    std::vector<BYTE> sid = CurrentUserSid();
    LPCWSTR strings[1] = {text};
    return ReportEventW(m_hEventSource, type, 0, 1, sid.empty() ? nullptr : sid.data(), 1, 0, strings,
                        nullptr) != FALSE;
}

bool CEventLog::InstallEventSource(LPCWSTR sourceName) {
    if (!sourceName || !*sourceName) return false;
    const CString keyPath = CString(kSourcesKey) + sourceName;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const CString file = MessageFilePath();
    RegSetValueExW(key, u"EventMessageFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(file.GetString()),
                   static_cast<DWORD>((file.GetLength() + 1) * sizeof(char16_t)));
    RegSetValueExW(key, u"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kTypesSupported),
                   sizeof kTypesSupported);
    RegCloseKey(key);
    return true;
}

void CEventLog::CloseSource() {
    if (m_hEventSource) DeregisterEventSource(m_hEventSource);
    m_hEventSource = nullptr;
}

std::vector<BYTE> CEventLog::CurrentUserSid() {
    HANDLE token = OpenUserToken();
    if (!token) return {};
    std::vector<BYTE> sid = TokenUserSid(token);
    CloseHandle(token);
    return sid;
}
