#include "platform/classlib/File.h"

#include <vector>

#include "platform/win32/FileApi.h"

const HANDLE CFile::hFileNull = INVALID_HANDLE_VALUE;

CFile::CFile() : m_hFile(hFileNull) {}

CFile::CFile(HANDLE file) : m_hFile(file) {}

CFile::CFile(LPCWSTR fileName, UINT openFlags) : m_hFile(hFileNull) {
    CFileException error;
    if (!Open(fileName, openFlags, &error)) throw error;
}

CFile::~CFile() {
    if (IsOpen()) Abort();
}

BOOL CFile::Open(LPCWSTR fileName, UINT openFlags, CFileException* error) {
    if (IsOpen() || !fileName) {
        if (error)
            *error = CFileException(CFileException::genericException, ERROR_INVALID_PARAMETER, fileName);
        return FALSE;
    }
    DWORD access = (openFlags & modeReadWrite) ? GENERIC_READ | GENERIC_WRITE
                   : (openFlags & modeWrite)   ? GENERIC_WRITE
                                               : GENERIC_READ;
    DWORD disposition = !(openFlags & modeCreate)      ? OPEN_EXISTING
                        : (openFlags & modeNoTruncate) ? OPEN_ALWAYS
                                                       : CREATE_ALWAYS;
    HANDLE file = CreateFileW(fileName, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        LONG code = static_cast<LONG>(GetLastError());
        if (error) *error = CFileException(CFileException::OsErrorToException(code), code, fileName);
        return FALSE;
    }
    m_hFile = file;
    m_strFileName = zbw::FullWindowsPath(CString(fileName));
    return TRUE;
}

void CFile::ThrowLastError() const {
    CFileException::ThrowOsError(static_cast<LONG>(GetLastError()), m_strFileName);
}

UINT CFile::Read(void* buffer, UINT count) {
    if (count == 0) return 0;
    DWORD read = 0;
    if (!ReadFile(m_hFile, buffer, count, &read, nullptr)) ThrowLastError();
    return read;
}

void CFile::Write(const void* buffer, UINT count) {
    if (count == 0) return;
    DWORD written = 0;
    if (!WriteFile(m_hFile, buffer, count, &written, nullptr)) ThrowLastError();
    if (written < count) AfxThrowFileException(CFileException::diskFull, -1, m_strFileName);
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from) {
    LARGE_INTEGER distance{};
    distance.QuadPart = offset;
    LARGE_INTEGER position{};
    if (!SetFilePointerEx(m_hFile, distance, &position, from)) ThrowLastError();
    return static_cast<ULONGLONG>(position.QuadPart);
}

ULONGLONG CFile::GetLength() const {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(m_hFile, &size)) ThrowLastError();
    return static_cast<ULONGLONG>(size.QuadPart);
}

void CFile::SetLength(ULONGLONG newLength) {
    Seek(static_cast<LONGLONG>(newLength), begin);
    if (!SetEndOfFile(m_hFile)) ThrowLastError();
}

ULONGLONG CFile::GetPosition() const {
    LARGE_INTEGER zero{};
    LARGE_INTEGER position{};
    if (!SetFilePointerEx(m_hFile, zero, &position, FILE_CURRENT)) ThrowLastError();
    return static_cast<ULONGLONG>(position.QuadPart);
}

void CFile::Flush() {
    if (!IsOpen()) return;
    if (!FlushFileBuffers(m_hFile)) ThrowLastError();
}

void CFile::Close() {
    if (!IsOpen()) return;
    HANDLE file = m_hFile;
    m_hFile = hFileNull;
    if (!CloseHandle(file)) ThrowLastError();
    m_strFileName.Empty();
}

void CFile::Abort() {
    if (IsOpen()) CloseHandle(m_hFile);
    m_hFile = hFileNull;
    m_strFileName.Empty();
}

CString CFile::GetFileName() const {
    int cut = m_strFileName.ReverseFind(u'\\');
    return cut < 0 ? m_strFileName : m_strFileName.Mid(cut + 1);
}
