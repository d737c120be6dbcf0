#include "common/XMLFile.h"

#include <algorithm>
#include <mutex>
#include <string>

#include "platform/base/TextConvert.h"
#include "platform/win32/FileApi.h"

namespace {

// Closes a file handle when it goes out of scope.
class CFileHandle {
   public:
    explicit CFileHandle(HANDLE file) : m_hFile(file) {}
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    ~CFileHandle() { Close(); }

    bool IsValid() const { return m_hFile != INVALID_HANDLE_VALUE && m_hFile != nullptr; }
    HANDLE Get() const { return m_hFile; }
    bool Close() {
        if (!IsValid()) return true;
        bool closed = CloseHandle(m_hFile);
        m_hFile = INVALID_HANDLE_VALUE;
        return closed;
    }

   private:
    HANDLE m_hFile;
};

bool ReadWhole(HANDLE file, std::string& bytes) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > 0x7FFFFFF0) return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        if (!ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr))
            return false;
        if (read == 0) break;
        done += read;
    }
    bytes.resize(done);
    return true;
}

// The file's bytes as text. The bytes are looked at zero-padded (at least ten of them, plus a
// two-byte terminator), so a short file is judged as the whole buffer would be.
CString DecodeText(std::string bytes) {
    bytes.resize(std::max<size_t>(bytes.size(), 10) + 2, '\0');
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const bool mark = b[0] == 0xFF && b[1] == 0xFE;
    if (!mark && !(b[1] == 0 && b[3] == 0)) return zbw::FromAnsi(bytes.c_str());
    std::u16string text;
    for (size_t i = mark ? 2 : 0; i + 1 < bytes.size(); i += 2) {
        char16_t ch = static_cast<char16_t>(b[i] | (b[i + 1] << 8));
        if (!ch) break;
        text += ch;
    }
    return CString(std::move(text));
}

std::string EncodeText(const CString& text) {
    std::string bytes = "\xFF\xFE";
    bytes.reserve(2 + 2 * static_cast<size_t>(text.GetLength()));
    for (char16_t ch : text.GetStdString()) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size() && FlushFileBuffers(file);
}

// One rename: an existing target keeps its permissions (ReplaceFileW), a new one is made.
bool PutInPlace(LPCWSTR target, LPCWSTR temp) {
    if (GetFileAttributesW(target) != INVALID_FILE_ATTRIBUTES)
        return ReplaceFileW(target, temp, nullptr, REPLACEFILE_WRITE_THROUGH, nullptr, nullptr);
    return MoveFileExW(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

// Never destroyed: a thread may still save while the program exits.
std::mutex& SaveLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

}  // namespace

bool CXMLFile::Fail(LPCWSTR error) {
    m_strError = error;
    return false;
}

bool CXMLFile::Load(LPCWSTR fileName) {
    m_strError.Empty();
    CFileHandle file(CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return Fail(u"Unable to open XML file for parsing");
    std::string bytes;
    if (!ReadWhole(file.Get(), bytes)) return Fail(u"Unable to load XML file");
    file.Close();
    if (!m_xml.SetDocument(DecodeText(std::move(bytes)))) return Fail(m_xml.GetError());
    return true;
}

bool CXMLFile::Save(LPCWSTR fileName, const CString& text) {
    m_strError.Empty();
    // One temporary name per target, so a save that was killed leaves at most one file, which
    // the next save takes over. Saves in this process take turns on it.
    std::lock_guard<std::mutex> turn(SaveLock());
    const CString temp = CString(fileName) + u".tmp";
    CFileHandle file(
        CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return Fail(u"Unable to open XML file for saving settings");
    bool written = WriteAll(file.Get(), EncodeText(text));
    written = file.Close() && written;
    if (!written || !PutInPlace(fileName, temp)) {
        DeleteFileW(temp);
        return Fail(u"Unable to save XML file");
    }
    return true;
}
