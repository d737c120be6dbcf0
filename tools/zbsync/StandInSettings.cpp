#include "tools/zbsync/StandInSettings.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/base/TextConvert.h"
#include "platform/win32/FileApi.h"

namespace {

// The whole file, or false when it cannot be opened or read.
bool ReadWholeFile(const CString& path, std::string& bytes) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char buffer[4096];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &read, nullptr)) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return ok;
}

int ToInt(const CString& value) {
    return static_cast<int>(strtol(zbw::ToUtf8(value).c_str(), nullptr, 10));
}

// Negative and unreadable values mean no time; the longest run is a month, so the milliseconds
// always fit a time-out.
double ToSeconds(const CString& value) {
    const double kLongestRun = 31.0 * 24 * 3600;
    double seconds = strtod(zbw::ToUtf8(value).c_str(), nullptr);
    return seconds > 0 ? std::min(seconds, kLongestRun) : 0;
}

CString WithLogExtension(const CString& path) {
    int dot = path.ReverseFind(u'.');
    int slash = std::max(path.ReverseFind(u'\\'), path.ReverseFind(u'/'));
    return (dot > slash ? path.Left(dot) : path) + u".log";
}

// The profile's text, whichever of the three encodings its bytes are in.
CString DecodeProfileText(const std::string& bytes) {
    bool bom = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
    bool wide = bom || (bytes.size() >= 2 && bytes[1] == '\0');
    if (!wide) return zbw::FromAnsi(bytes);
    std::u16string text;
    for (size_t i = bom ? 2 : 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return CString(text);
}

}  // namespace

bool CStandInSettings::Load(const CString& profilePath) {
    std::string bytes;
    if (!ReadWholeFile(profilePath, bytes)) return false;
    CString text = DecodeProfileText(bytes);
    CString section;
    int position = 0;
    while (position < text.GetLength()) {
        int end = text.Find(u'\n', position);
        if (end < 0) end = text.GetLength();
        CString line = text.Mid(position, end - position);
        position = end + 1;
        line.Trim();
        if (line.IsEmpty() || line[0] == u';') continue;
        if (line[0] == u'[') {
            section = line.Mid(1).SpanExcluding(u"]").Trim();
            continue;
        }
        int equals = line.Find(u'=');
        if (equals > 0) TakeValue(section, line.Left(equals).Trim(), line.Mid(equals + 1).Trim());
    }
    if (m_strLogFile.IsEmpty()) {
        m_strLogFile = m_strProfileLogFile.IsEmpty() ? WithLogExtension(profilePath) : m_strProfileLogFile;
    }
    return true;
}

void CStandInSettings::TakeValue(const CString& section, const CString& key, const CString& value) {
    if (section.CompareNoCase(u"Settings") == 0 && key.CompareNoCase(u"Log File") == 0) {
        m_strProfileLogFile = value;
        return;
    }
    if (section.CompareNoCase(u"StandIn") != 0) return;
    if (key.CompareNoCase(u"ExitCode") == 0) m_nExitCode = ToInt(value);
    if (key.CompareNoCase(u"Seconds") == 0) m_dSeconds = ToSeconds(value);
    if (key.CompareNoCase(u"IgnoreQuit") == 0) m_bIgnoreQuit = ToInt(value) != 0;
    if (key.CompareNoCase(u"LogFile") == 0) m_strLogFile = value;
    if (key.CompareNoCase(u"Percent") == 0) m_nPercent = std::clamp(ToInt(value), 0, 100);
    if (key.CompareNoCase(u"Id") == 0) {
        m_bDefaultId = false;
        m_strId = value;
    }
}
