// CFile: the class library's binary file over a Win32 file handle (FileApi.h).
//
// Open takes the class library's flags: modeRead / modeWrite / modeReadWrite; modeCreate makes
// the file or empties it, with modeNoTruncate it is made when missing and kept otherwise; the
// share flags are accepted and ignored, as the share modes below them are. Open with a
// CFileException* reports a failure there and returns FALSE; the constructor that opens throws.
// Read, Write, Seek, the length functions, Flush and Close throw CFileException (by value) on
// failure; Write throws diskFull when not everything could be written. Abort and the destructor
// close without throwing. Flush makes the data durable (FlushFileBuffers).
// The object owns its handle; one thread at a time may use it.
// Left out: duplication, locking ranges, status records, renaming and removing through the class.
#pragma once

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"
#include "platform/classlib/FileException.h"
#include "platform/classlib/Object.h"

class CFile : public CObject {
   public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000
    };
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

    static const HANDLE hFileNull;

    CFile();
    // Takes over an open handle.
    explicit CFile(HANDLE file);
    CFile(LPCWSTR fileName, UINT openFlags);
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    ~CFile() override;

    virtual BOOL Open(LPCWSTR fileName, UINT openFlags, CFileException* error = nullptr);
    virtual UINT Read(void* buffer, UINT count);
    virtual void Write(const void* buffer, UINT count);
    virtual ULONGLONG Seek(LONGLONG offset, UINT from);
    void SeekToBegin() { Seek(0, begin); }
    ULONGLONG SeekToEnd() { return Seek(0, end); }
    virtual ULONGLONG GetLength() const;
    // The position ends at the new length.
    virtual void SetLength(ULONGLONG newLength);
    virtual ULONGLONG GetPosition() const;
    virtual void Flush();
    virtual void Close();
    virtual void Abort();
    // The full path given to Open; its last component.
    virtual CString GetFilePath() const { return m_strFileName; }
    virtual CString GetFileName() const;

    operator HANDLE() const { return m_hFile; }

    HANDLE m_hFile;

   protected:
    bool IsOpen() const { return m_hFile != hFileNull && m_hFile != nullptr; }
    [[noreturn]] void ThrowLastError() const;

    CString m_strFileName;
};
