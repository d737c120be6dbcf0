#include "platform/classlib/FileException.h"

#include <algorithm>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"

namespace {

LPCWSTR CauseText(int cause) {
    switch (cause) {
        case CFileException::none: return u"No error occurred while accessing %1.";
        case CFileException::fileNotFound: return u"%1 was not found.";
        case CFileException::badPath: return u"%1 contains an invalid path.";
        case CFileException::tooManyOpenFiles:
            return u"%1 could not be opened because too many files are open.";
        case CFileException::accessDenied: return u"Access to %1 was denied.";
        case CFileException::invalidFile: return u"An invalid file handle was used with %1.";
        case CFileException::removeCurrentDir:
            return u"%1 could not be removed because it is the current folder.";
        case CFileException::directoryFull: return u"%1 could not be created because the folder is full.";
        case CFileException::badSeek: return u"Seeking in %1 failed.";
        case CFileException::hardIO: return u"A hardware I/O error was reported while accessing %1.";
        case CFileException::sharingViolation: return u"A sharing violation occurred while accessing %1.";
        case CFileException::lockViolation: return u"A locking violation occurred while accessing %1.";
        case CFileException::diskFull: return u"The disk is full while accessing %1.";
        case CFileException::endOfFile: return u"An attempt was made to access %1 past its end.";
        default: return u"An unexpected error occurred while accessing %1.";
    }
}

}  // namespace

CFileException::CFileException(int cause, LONG osError, LPCWSTR fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(fileName ? fileName : u"") {}

CString CFileException::Message() const {
    CString text = CauseText(m_cause);
    bool first = text.Find(u"%1") == 0;
    CString name =
        m_strFileName.IsEmpty() ? CString(first ? u"An unnamed file" : u"an unnamed file") : m_strFileName;
    text.Replace(u"%1", name);
    return text;
}

BOOL CFileException::GetErrorMessage(LPWSTR error, UINT maxError, UINT* helpContext) const {
    if (helpContext) *helpContext = 0;
    if (!error || maxError == 0) return FALSE;
    CString text = Message();
    UINT count = std::min<UINT>(static_cast<UINT>(text.GetLength()), maxError - 1);
    std::copy(text.GetString(), text.GetString() + count, error);
    error[count] = 0;
    return TRUE;
}

const char* CFileException::what() const noexcept {
    m_what = zbw::ToUtf8(Message());
    return m_what.c_str();
}

int CFileException::OsErrorToException(LONG osError) {
    switch (static_cast<DWORD>(osError)) {
        case ERROR_SUCCESS: return none;
        case ERROR_FILE_NOT_FOUND: return fileNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_DIRECTORY: return badPath;
        case ERROR_TOO_MANY_OPEN_FILES: return tooManyOpenFiles;
        case ERROR_ACCESS_DENIED:
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return accessDenied;
        case ERROR_INVALID_HANDLE: return invalidFile;
        case ERROR_NEGATIVE_SEEK: return badSeek;
        case ERROR_WRITE_FAULT:
        case ERROR_READ_FAULT: return hardIO;
        case ERROR_SHARING_VIOLATION: return sharingViolation;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return diskFull;
        case ERROR_HANDLE_EOF: return endOfFile;
        default: return genericException;
    }
}

void CFileException::ThrowOsError(LONG osError, LPCWSTR fileName) {
    throw CFileException(OsErrorToException(osError), osError, fileName);
}

void AfxThrowFileException(int cause, LONG osError, LPCWSTR fileName) {
    throw CFileException(cause, osError, fileName);
}
