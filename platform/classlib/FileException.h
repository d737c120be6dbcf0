// CFileException: the class library's file exception, raised by CFile and CStdioFile.
//
// It carries the cause, the Windows error code that led to it and the file's name. Like
// CInvalidArgException it is thrown and caught by value (catch (CFileException& e)), so there
// is no heap object to delete; the Open functions that take a CFileException* fill it instead
// of throwing. A value: one thread at a time per object. The message texts are our own
// US-English wording of each cause.
#pragma once

#include <exception>
#include <string>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

class CFileException : public std::exception {
   public:
    enum {
        none,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile
    };

    explicit CFileException(int cause = none, LONG osError = -1, LPCWSTR fileName = nullptr);

    // The cause's text with the file name in it, cut to maxError - 1 units; FALSE without a
    // buffer. helpContext (optional) gets 0.
    BOOL GetErrorMessage(LPWSTR error, UINT maxError, UINT* helpContext = nullptr) const;
    const char* what() const noexcept override;

    // The cause for a Windows error code.
    static int OsErrorToException(LONG osError);
    [[noreturn]] static void ThrowOsError(LONG osError, LPCWSTR fileName = nullptr);

    int m_cause;
    LONG m_lOsError;
    CString m_strFileName;

   private:
    CString Message() const;

    mutable std::string m_what;
};

[[noreturn]] void AfxThrowFileException(int cause, LONG osError = -1, LPCWSTR fileName = nullptr);
