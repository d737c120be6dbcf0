// CString: the class library's wide string over UTF-16 units (char16_t), held in a
// std::u16string. Lengths, positions and order are in UTF-16 units (a surrogate pair counts
// two); comparison is by unsigned unit, so "B" < "a". Construction from const char* converts
// from the ANSI code page (Windows-1252). Case mapping and CompareNoCase use our own table
// (WideChar.h); Trim() removes ASCII blanks (space, tab, line breaks, vertical tab, form feed).
// A CString is a value: one thread at a time may use an object; copies are independent.
// Nothing throws for a bad argument: positions are clamped, GetAt past the end gives 0 and
// SetAt past the end does nothing (the class library would throw).
// Format and AppendFormat take typed arguments (StringFormat.h), so a CString goes straight
// to %s. Resource-string loading, locking of buffers and the narrow CStringA are left out.
#pragma once

#include <compare>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "platform/base/StringFormat.h"
#include "platform/base/WinTypes.h"

class CString {
   public:
    CString() = default;
    CString(LPCWSTR text);
    CString(LPCWSTR text, int length);
    CString(const char* ansi);
    CString(const char* ansi, int length);
    explicit CString(char16_t ch, int repeat = 1);
    CString(const std::u16string& text) : m_text(text) {}
    CString(std::u16string&& text) : m_text(std::move(text)) {}
    explicit CString(std::u16string_view text) : m_text(text) {}

    CString& operator=(LPCWSTR text);
    CString& operator=(const char* ansi);
    CString& operator=(char16_t ch);
    CString& operator=(const std::u16string& text);

    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    char16_t GetAt(int index) const;
    void SetAt(int index, char16_t ch);
    char16_t operator[](int index) const { return GetAt(index); }
    operator LPCWSTR() const { return m_text.c_str(); }
    LPCWSTR GetString() const { return m_text.c_str(); }
    const std::u16string& GetStdString() const { return m_text; }

    // The buffer stays valid until the next change; ReleaseBuffer(-1) ends the text at its
    // first NUL, ReleaseBuffer(n) at n units.
    LPWSTR GetBuffer();
    LPWSTR GetBuffer(int minLength);
    LPWSTR GetBufferSetLength(int length);
    void ReleaseBuffer(int newLength = -1);
    void Preallocate(int length);

    CString Left(int count) const;
    CString Right(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString SpanIncluding(LPCWSTR set) const;
    CString SpanExcluding(LPCWSTR set) const;
    // The next token after position start, skipping leading delimiters; start moves past it,
    // or becomes -1 (with an empty result) when none is left.
    CString Tokenize(LPCWSTR delimiters, int& start) const;

    // Positions are UTF-16 units; -1 when not found.
    int Find(char16_t ch, int start = 0) const;
    int Find(LPCWSTR sub, int start = 0) const;
    int ReverseFind(char16_t ch) const;
    int FindOneOf(LPCWSTR set) const;

    // Counts of replaced or removed items; Insert and Delete return the new length.
    int Replace(char16_t oldCh, char16_t newCh);
    int Replace(LPCWSTR oldText, LPCWSTR newText);
    int Remove(char16_t ch);
    int Insert(int index, char16_t ch);
    int Insert(int index, LPCWSTR text);
    int Delete(int index, int count = 1);

    CString& Trim();
    CString& Trim(char16_t ch);
    CString& Trim(LPCWSTR set);
    CString& TrimLeft();
    CString& TrimLeft(char16_t ch);
    CString& TrimLeft(LPCWSTR set);
    CString& TrimRight();
    CString& TrimRight(char16_t ch);
    CString& TrimRight(LPCWSTR set);

    CString& MakeUpper();
    CString& MakeLower();
    CString& MakeReverse();

    // Negative, 0 or positive, by unsigned UTF-16 unit.
    int Compare(LPCWSTR text) const;
    int Compare(const CString& text) const;
    int CompareNoCase(LPCWSTR text) const;
    int CompareNoCase(const CString& text) const;

    template <class... A>
    void Format(LPCWSTR format, const A&... args) {
        FormatArgs(format, zbw::CFormatArgs(args...));
    }
    template <class... A>
    void AppendFormat(LPCWSTR format, const A&... args) {
        AppendFormatArgs(format, zbw::CFormatArgs(args...));
    }
    void FormatArgs(LPCWSTR format, const zbw::CFormatArgs& args);
    void AppendFormatArgs(LPCWSTR format, const zbw::CFormatArgs& args);

    CString& operator+=(const CString& text);
    CString& operator+=(LPCWSTR text);
    CString& operator+=(char16_t ch);

    friend CString operator+(const CString& a, const CString& b);
    friend CString operator+(const CString& a, LPCWSTR b);
    friend CString operator+(LPCWSTR a, const CString& b);
    friend CString operator+(const CString& a, char16_t b);
    friend CString operator+(char16_t a, const CString& b);

    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend bool operator==(const CString& a, LPCWSTR b) { return a.Compare(b) == 0; }
    friend std::strong_ordering operator<=>(const CString& a, const CString& b) {
        return a.m_text <=> b.m_text;
    }
    friend std::strong_ordering operator<=>(const CString& a, LPCWSTR b) { return a.Compare(b) <=> 0; }

   private:
    std::u16string_view View() const { return m_text; }

    std::u16string m_text;
};

// So test failures show the text (as UTF-8).
void PrintTo(const CString& text, std::ostream* os);

template <>
struct std::hash<CString> {
    size_t operator()(const CString& text) const noexcept {
        return std::hash<std::u16string>()(text.GetStdString());
    }
};

namespace zbw {

// Case-insensitive keys for ordered and hashed containers, folding as CompareNoCase does.
struct CStringLessNoCase {
    bool operator()(const CString& a, const CString& b) const { return a.CompareNoCase(b) < 0; }
};
struct CStringEqualNoCase {
    bool operator()(const CString& a, const CString& b) const { return a.CompareNoCase(b) == 0; }
};
struct CStringHashNoCase {
    size_t operator()(const CString& text) const noexcept;
};

}  // namespace zbw
