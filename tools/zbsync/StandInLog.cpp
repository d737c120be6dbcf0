#include "tools/zbsync/StandInLog.h"

#include <string>

#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/win32/FileApi.h"

namespace {

const char kStartMarker[] = "START ID: ";

HANDLE OpenForAppend(const CString& path) {
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool CStandInLog::Open(const CString& path) {
    HANDLE file = OpenForAppend(path);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    m_strPath = path;
    return true;
}

int CStandInLog::NextRunId() const {
    HANDLE file = CreateFileW(m_strPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
    CloseHandle(file);
    int runs = 0;
    for (size_t at = text.find(kStartMarker); at != std::string::npos; at = text.find(kStartMarker, at + 1))
        ++runs;
    return runs + 1;
}

bool CStandInLog::Line(const CString& message) const {
    HANDLE file = OpenForAppend(m_strPath);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string bytes = zbw::ToAnsi((TimePrefix() + message + u"\r\n").GetStdString());
    DWORD written = 0;
    bool ok = SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
              WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(file);
    return ok;
}

CString CStandInLog::TimePrefix() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    CString prefix;
    prefix.Format(u"%04d-%02d-%02d %02d:%02d:%02d   ", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return prefix;
}
