#include "dovrane/web/PageFiles.h"

#include <vector>

#include "common/EncryptString.h"
#include "common/UrlCodec.h"
#include "platform/base/TextConvert.h"
#include "platform/win32/FileApi.h"

namespace {

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

bool IsSafeSegment(const CString& segment) {
    return segment != u"." && segment != u"..";
}

bool ReadWhole(HANDLE file, ULONGLONG size, std::string& bytes) {
    bytes.assign(static_cast<size_t>(size), '\0');
    DWORD done = 0;
    if (size && !ReadFile(file, bytes.data(), static_cast<DWORD>(size), &done, nullptr)) return false;
    bytes.resize(done);
    return true;
}

}  // namespace

void CPageFiles::Configure(const CString& folder, bool encrypted) {
    m_strFolder = folder;
    m_bEncrypted = encrypted;
    m_cache.clear();
}

bool CPageFiles::MapPath(const std::string& requestPath, CString& fileName) const {
    // The decoding would end the text at a NUL, so a path holding one is refused whole.
    if (requestPath.find("%00") != std::string::npos) return false;
    // "+" is a plus in a path, so it must not become a blank in the decoding.
    std::string escaped;
    for (char ch : requestPath) escaped += ch == '+' ? std::string("%2B") : std::string(1, ch);
    CString path = UrlDecode(escaped);
    if (path.IsEmpty() || path[0] != u'/' || path.FindOneOf(u"\\:") >= 0) return false;
    for (int i = 0; i < path.GetLength(); ++i) {
        if (path[i] < 0x20 || path[i] == 0x7F) return false;
    }
    int start = 1;
    while (start <= path.GetLength()) {
        int slash = path.Find(u'/', start);
        int end = slash < 0 ? path.GetLength() : slash;
        if (!IsSafeSegment(path.Mid(start, end - start))) return false;
        start = end + 1;
    }
    fileName = m_strFolder + path;
    return true;
}

bool CPageFiles::Load(const std::string& requestPath, std::string& bytes, bool* fromCache) {
    if (fromCache) *fromCache = false;
    CString fileName;
    if (!MapPath(requestPath, fileName)) return false;
    bool gif = fileName.GetLength() > 4 && fileName.Right(4).CompareNoCase(u".gif") == 0;
    bool decrypt = m_bEncrypted && !gif;
    if (decrypt) fileName += CString(kEncryptedSuffix);
    DWORD attributes = GetFileAttributesW(fileName);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    HANDLE file = CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME lastWrite{};
    LARGE_INTEGER size{};
    bool ok = GetFileTime(file, nullptr, nullptr, &lastWrite) && GetFileSizeEx(file, &size);
    auto cached = m_cache.find(fileName);
    if (ok && cached != m_cache.end() && SameTime(cached->second.lastWrite, lastWrite) &&
        cached->second.size == static_cast<ULONGLONG>(size.QuadPart)) {
        CloseHandle(file);
        bytes = cached->second.bytes;
        if (fromCache) *fromCache = true;
        return true;
    }
    ok = ok && ReadWhole(file, static_cast<ULONGLONG>(size.QuadPart), bytes);
    CloseHandle(file);
    if (!ok) return false;
    if (decrypt) bytes = DecryptPage(bytes);
    m_cache[fileName] = CACHED{bytes, lastWrite, static_cast<ULONGLONG>(size.QuadPart)};
    return true;
}

std::string CPageFiles::DecryptPage(const std::string& stored) {
    CString decrypted = DecryptStringWithMarker(zbw::FromAnsi(stored));
    if (decrypted.IsEmpty() && !stored.empty()) return stored;
    return zbw::ToUtf8(decrypted);
}
