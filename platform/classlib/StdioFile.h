// CStdioFile: the class library's buffered text file, over CFile.
//
// Text mode (typeText, the default): lines are ANSI (Windows-1252) bytes; reading turns CR LF
// into LF and widens each byte, writing turns LF into CR LF and narrows (a character the code
// page cannot hold becomes "?"). Binary mode (typeBinary): lines are UTF-16LE units that end at
// the unit LF, written and read as they are (a CR stays in the line). ReadString(CString&)
// drops the closing LF and returns FALSE only when nothing was left to read;
// ReadString(buffer, max) keeps it, reads at most max - 1 units and returns NULL at the end.
// Opening for writing without modeCreate appends every write at the end, and modeCreate with
// modeNoTruncate too, as the stream modes the class library picks ("a") do.
// Errors throw CFileException as CFile does. Flush only hands over what is buffered (nothing
// is buffered for writing); it does not make the data durable. Read and Write move raw bytes
// in both modes. One thread at a time may use an object.
#pragma once

#include <vector>

#include "platform/classlib/File.h"

class CStdioFile : public CFile {
   public:
    CStdioFile() = default;
    CStdioFile(LPCWSTR fileName, UINT openFlags);

    BOOL Open(LPCWSTR fileName, UINT openFlags, CFileException* error = nullptr) override;

    virtual BOOL ReadString(CString& line);
    virtual LPWSTR ReadString(LPWSTR buffer, UINT max);
    virtual void WriteString(LPCWSTR text);

    UINT Read(void* buffer, UINT count) override;
    void Write(const void* buffer, UINT count) override;
    ULONGLONG Seek(LONGLONG offset, UINT from) override;
    void SetLength(ULONGLONG newLength) override;
    ULONGLONG GetPosition() const override;
    void Flush() override;
    void Close() override;
    void Abort() override;

   private:
    // The next byte of the read-ahead, or -1 at the end of the file.
    int PeekByte();
    int NextByte();
    // The next UTF-16LE unit, or -1 at the end (a lone last byte is dropped).
    int NextUnit();
    // The next character of a line: a unit in binary mode, a widened byte with CR LF as LF in
    // text mode; -1 at the end.
    int NextChar();
    // Puts the file position back to where the caller is and forgets the read-ahead.
    void DropReadAhead();

    bool m_text = true;
    bool m_append = false;
    std::vector<char> m_ahead;
    size_t m_aheadPos = 0;
};
