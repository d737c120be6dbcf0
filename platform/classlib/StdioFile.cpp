#include "platform/classlib/StdioFile.h"

#include <string>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"

namespace {

const size_t kReadAhead = 4096;

}  // namespace

CStdioFile::CStdioFile(LPCWSTR fileName, UINT openFlags) {
    CFileException error;
    if (!Open(fileName, openFlags, &error)) throw error;
}

BOOL CStdioFile::Open(LPCWSTR fileName, UINT openFlags, CFileException* error) {
    if (!CFile::Open(fileName, openFlags & ~(typeText | typeBinary), error)) return FALSE;
    m_text = !(openFlags & typeBinary);
    m_append = (openFlags & modeCreate) ? (openFlags & modeNoTruncate) != 0 : (openFlags & modeWrite) != 0;
    m_ahead.clear();
    m_aheadPos = 0;
    return TRUE;
}

int CStdioFile::PeekByte() {
    if (m_aheadPos >= m_ahead.size()) {
        m_ahead.resize(kReadAhead);
        UINT got = CFile::Read(m_ahead.data(), static_cast<UINT>(kReadAhead));
        m_ahead.resize(got);
        m_aheadPos = 0;
        if (got == 0) return -1;
    }
    return static_cast<unsigned char>(m_ahead[m_aheadPos]);
}

int CStdioFile::NextByte() {
    int b = PeekByte();
    if (b >= 0) ++m_aheadPos;
    return b;
}

int CStdioFile::NextUnit() {
    int lo = NextByte();
    if (lo < 0) return -1;
    int hi = NextByte();
    if (hi < 0) return -1;
    return lo | (hi << 8);
}

int CStdioFile::NextChar() {
    if (!m_text) return NextUnit();
    int b = NextByte();
    if (b == '\r' && PeekByte() == '\n') b = NextByte();
    return b < 0 ? -1 : zbw::AnsiToWide(static_cast<unsigned char>(b));
}

void CStdioFile::DropReadAhead() {
    size_t unread = m_ahead.size() - m_aheadPos;
    m_ahead.clear();
    m_aheadPos = 0;
    if (unread) CFile::Seek(-static_cast<LONGLONG>(unread), current);
}

BOOL CStdioFile::ReadString(CString& line) {
    std::u16string text;
    bool any = false;
    for (int c = NextChar(); c >= 0; c = NextChar()) {
        any = true;
        if (c == u'\n') break;
        text += static_cast<char16_t>(c);
    }
    line = text;
    return any ? TRUE : FALSE;
}

LPWSTR CStdioFile::ReadString(LPWSTR buffer, UINT max) {
    if (!buffer || max == 0) return nullptr;
    UINT count = 0;
    while (count + 1 < max) {
        int c = NextChar();
        if (c < 0) break;
        buffer[count++] = static_cast<char16_t>(c);
        if (c == u'\n') break;
    }
    buffer[count] = 0;
    return count == 0 && max > 1 ? nullptr : buffer;
}

void CStdioFile::WriteString(LPCWSTR text) {
    if (!text)
        AfxThrowFileException(CFileException::genericException, ERROR_INVALID_PARAMETER, m_strFileName);
    std::u16string_view view(text);
    if (!m_text) {
        Write(view.data(), static_cast<UINT>(view.size() * sizeof(char16_t)));
        return;
    }
    std::string bytes;
    for (char16_t c : view) {
        if (c == u'\n') bytes += '\r';
        char b = '?';
        zbw::WideToAnsi(c, &b);
        bytes += b;
    }
    Write(bytes.data(), static_cast<UINT>(bytes.size()));
}

UINT CStdioFile::Read(void* buffer, UINT count) {
    char* out = static_cast<char*>(buffer);
    UINT done = 0;
    while (done < count && m_aheadPos < m_ahead.size()) out[done++] = m_ahead[m_aheadPos++];
    return done + (done < count ? CFile::Read(out + done, count - done) : 0);
}

void CStdioFile::Write(const void* buffer, UINT count) {
    DropReadAhead();
    if (m_append) CFile::Seek(0, end);
    CFile::Write(buffer, count);
}

ULONGLONG CStdioFile::Seek(LONGLONG offset, UINT from) {
    DropReadAhead();
    return CFile::Seek(offset, from);
}

void CStdioFile::SetLength(ULONGLONG newLength) {
    DropReadAhead();
    CFile::SetLength(newLength);
}

ULONGLONG CStdioFile::GetPosition() const {
    return CFile::GetPosition() - (m_ahead.size() - m_aheadPos);
}

void CStdioFile::Flush() {
    if (IsOpen()) DropReadAhead();
}

void CStdioFile::Close() {
    m_ahead.clear();
    m_aheadPos = 0;
    CFile::Close();
}

void CStdioFile::Abort() {
    m_ahead.clear();
    m_aheadPos = 0;
    CFile::Abort();
}
