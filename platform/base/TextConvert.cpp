#include "platform/base/TextConvert.h"

#include <cstring>

#include "platform/base/CString.h"
#include "platform/base/WinError.h"

using zbw::AppendUtf8;
using zbw::IsHighSurrogate;
using zbw::IsLowSurrogate;

namespace {

// Windows-1252 bytes 80..9F; the undefined ones map to the C1 control of the same value.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// A Latin letter and a combining accent that the code page holds as one character.
struct CComposition {
    char16_t base;
    char16_t mark;
    char16_t composed;
};

constexpr CComposition kCompositions[] = {
    {u'A', 0x300, 0xC0},  {u'E', 0x300, 0xC8},  {u'I', 0x300, 0xCC},  {u'O', 0x300, 0xD2},
    {u'U', 0x300, 0xD9},  {u'a', 0x300, 0xE0},  {u'e', 0x300, 0xE8},  {u'i', 0x300, 0xEC},
    {u'o', 0x300, 0xF2},  {u'u', 0x300, 0xF9},  {u'A', 0x301, 0xC1},  {u'E', 0x301, 0xC9},
    {u'I', 0x301, 0xCD},  {u'O', 0x301, 0xD3},  {u'U', 0x301, 0xDA},  {u'Y', 0x301, 0xDD},
    {u'a', 0x301, 0xE1},  {u'e', 0x301, 0xE9},  {u'i', 0x301, 0xED},  {u'o', 0x301, 0xF3},
    {u'u', 0x301, 0xFA},  {u'y', 0x301, 0xFD},  {u'A', 0x302, 0xC2},  {u'E', 0x302, 0xCA},
    {u'I', 0x302, 0xCE},  {u'O', 0x302, 0xD4},  {u'U', 0x302, 0xDB},  {u'a', 0x302, 0xE2},
    {u'e', 0x302, 0xEA},  {u'i', 0x302, 0xEE},  {u'o', 0x302, 0xF4},  {u'u', 0x302, 0xFB},
    {u'A', 0x303, 0xC3},  {u'N', 0x303, 0xD1},  {u'O', 0x303, 0xD5},  {u'a', 0x303, 0xE3},
    {u'n', 0x303, 0xF1},  {u'o', 0x303, 0xF5},  {u'A', 0x308, 0xC4},  {u'E', 0x308, 0xCB},
    {u'I', 0x308, 0xCF},  {u'O', 0x308, 0xD6},  {u'U', 0x308, 0xDC},  {u'Y', 0x308, 0x178},
    {u'a', 0x308, 0xE4},  {u'e', 0x308, 0xEB},  {u'i', 0x308, 0xEF},  {u'o', 0x308, 0xF6},
    {u'u', 0x308, 0xFC},  {u'y', 0x308, 0xFF},  {u'A', 0x30A, 0xC5},  {u'a', 0x30A, 0xE5},
    {u'C', 0x327, 0xC7},  {u'c', 0x327, 0xE7},  {u'S', 0x30C, 0x160}, {u's', 0x30C, 0x161},
    {u'Z', 0x30C, 0x17D}, {u'z', 0x30C, 0x17E},
};

constexpr char16_t kReplacement = 0xFFFD;

bool IsCombiningMark(char16_t ch) {
    return ch >= 0x300 && ch <= 0x36F;
}

char16_t Compose(char16_t base, char16_t mark) {
    for (const auto& c : kCompositions) {
        if (c.base == base && c.mark == mark) return c.composed;
    }
    return 0;
}

bool IsAnsiPage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_THREAD_ACP || codePage == CP_WINDOWS_1252;
}

class CAnsiEncoder {
   public:
    CAnsiEncoder(DWORD flags, char defaultChar) : m_flags(flags), m_default(defaultChar) {}

    std::string Encode(std::u16string_view text) {
        std::string out;
        out.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            if ((m_flags & WC_COMPOSITECHECK) && i + 1 < text.size() && IsCombiningMark(text[i + 1])) {
                EncodeComposite(text[i], text[i + 1], out);
                ++i;
            } else {
                Put(text[i], out);
            }
        }
        return out;
    }
    bool UsedDefault() const { return m_usedDefault; }

   private:
    void EncodeComposite(char16_t base, char16_t mark, std::string& out) {
        const char16_t composed = Compose(base, mark);
        if (composed) return Put(composed, out);
        if (m_flags & WC_DEFAULTCHAR) return PutDefault(out);
        Put(base, out);
        if (!(m_flags & WC_DISCARDNS)) Put(mark, out);
    }
    void Put(char16_t ch, std::string& out) {
        char byte;
        if (zbw::WideToAnsi(ch, &byte)) {
            out += byte;
        } else {
            PutDefault(out);
        }
    }
    void PutDefault(std::string& out) {
        out += m_default;
        m_usedDefault = true;
    }

    DWORD m_flags;
    char m_default;
    bool m_usedDefault = false;
};

// Returns false when a lone surrogate had to be replaced.
bool EncodeUtf8(std::u16string_view text, std::string& out) {
    bool valid = true;
    out.reserve(out.size() + text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            AppendUtf8(out, kReplacement);
            valid = false;
        } else {
            AppendUtf8(out, c);
        }
    }
    return valid;
}

void AppendUtf16(char32_t cp, std::u16string& out) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
}

// Bytes that follow a lead byte, and the range its first continuation byte must fall in
// (this excludes overlong forms, encoded surrogates and values past U+10FFFF).
struct CLeadByte {
    int continuations;
    unsigned char low;
    unsigned char high;
};

CLeadByte ClassifyLead(unsigned char b) {
    if (b >= 0xC2 && b <= 0xDF) return {1, 0x80, 0xBF};
    if (b == 0xE0) return {2, 0xA0, 0xBF};
    if (b == 0xED) return {2, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF) return {2, 0x80, 0xBF};
    if (b == 0xF0) return {3, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {3, 0x80, 0xBF};
    if (b == 0xF4) return {3, 0x80, 0x8F};
    return {0, 0, 0};
}

// Each maximal ill-formed part becomes one U+FFFD. Returns false when that happened.
bool DecodeUtf8(std::string_view text, std::u16string& out) {
    bool valid = true;
    out.reserve(out.size() + text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i++]);
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            continue;
        }
        const CLeadByte kind = ClassifyLead(lead);
        char32_t cp = lead & (0x3F >> kind.continuations);
        int taken = 0;
        for (; taken < kind.continuations && i < text.size(); ++taken, ++i) {
            const auto b = static_cast<unsigned char>(text[i]);
            const unsigned char low = taken == 0 ? kind.low : 0x80;
            const unsigned char high = taken == 0 ? kind.high : 0xBF;
            if (b < low || b > high) break;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (kind.continuations == 0 || taken < kind.continuations) {
            out += kReplacement;
            valid = false;
        } else {
            AppendUtf16(cp, out);
        }
    }
    return valid;
}

template <class Out>
int CopyOut(const Out& result, typename Out::value_type* dst, int capacity) {
    if (result.size() > static_cast<size_t>(INT32_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int size = static_cast<int>(result.size());
    if (capacity == 0) return size;
    if (size > capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dst, result.data(), result.size() * sizeof(typename Out::value_type));
    return size;
}

bool ValidSizes(const void* src, int srcCount, const void* dst, int dstCount) {
    return src && srcCount != 0 && srcCount >= -1 && dstCount >= 0 && (dstCount == 0 || dst);
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcBytes, LPWSTR dst, int dstChars) {
    if (!ValidSizes(src, srcBytes, dst, dstChars) || !(IsAnsiPage(codePage) || codePage == CP_UTF8)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const DWORD allowed =
        codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : (MB_PRECOMPOSED | MB_ERR_INVALID_CHARS);
    if (flags & ~allowed) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    const size_t length = srcBytes == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcBytes);
    const std::string_view input(src, length);
    std::u16string result;
    if (codePage == CP_UTF8) {
        if (!DecodeUtf8(input, result) && (flags & MB_ERR_INVALID_CHARS)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
    } else {
        result = zbw::FromAnsi(input).GetStdString();
    }
    return CopyOut(result, dst, dstChars);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcChars, LPSTR dst, int dstBytes,
                        LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    if (!ValidSizes(src, srcChars, dst, dstBytes) || !(IsAnsiPage(codePage) || codePage == CP_UTF8) ||
        (codePage == CP_UTF8 && (defaultChar || usedDefaultChar))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const DWORD allowed =
        codePage == CP_UTF8
            ? WC_ERR_INVALID_CHARS
            : (WC_COMPOSITECHECK | WC_SEPCHARS | WC_DISCARDNS | WC_DEFAULTCHAR | WC_NO_BEST_FIT_CHARS);
    if (flags & ~allowed) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    const size_t length =
        srcChars == -1 ? std::char_traits<char16_t>::length(src) + 1 : static_cast<size_t>(srcChars);
    const std::u16string_view input(src, length);
    std::string result;
    if (codePage == CP_UTF8) {
        if (!EncodeUtf8(input, result) && (flags & WC_ERR_INVALID_CHARS)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
    } else {
        CAnsiEncoder encoder(flags, defaultChar ? defaultChar[0] : '?');
        result = encoder.Encode(input);
        if (usedDefaultChar) *usedDefaultChar = encoder.UsedDefault() ? TRUE : FALSE;
    }
    return CopyOut(result, dst, dstBytes);
}

namespace zbw {

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    EncodeUtf8(text, out);
    return out;
}

std::string ToUtf8(const std::u16string& text) {
    return ToUtf8(std::u16string_view(text));
}

std::string ToUtf8(LPCWSTR text) {
    return text ? ToUtf8(std::u16string_view(text)) : std::string();
}

std::string ToUtf8(const CString& text) {
    return ToUtf8(text.GetStdString());
}

CString FromUtf8(std::string_view text) {
    std::u16string out;
    DecodeUtf8(text, out);
    return CString(std::move(out));
}

CString FromUtf8(const std::string& text) {
    return FromUtf8(std::string_view(text));
}

CString FromUtf8(const char* text) {
    return text ? FromUtf8(std::string_view(text)) : CString();
}

std::string ToAnsi(std::u16string_view text) {
    return CAnsiEncoder(0, '?').Encode(text);
}

CString FromAnsi(std::string_view text) {
    std::u16string out(text.size(), u'\0');
    for (size_t i = 0; i < text.size(); ++i) out[i] = AnsiToWide(static_cast<unsigned char>(text[i]));
    return CString(std::move(out));
}

char16_t AnsiToWide(unsigned char byte) {
    return (byte >= 0x80 && byte < 0xA0) ? kHighControls[byte - 0x80] : static_cast<char16_t>(byte);
}

bool WideToAnsi(char16_t ch, char* byte) {
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) {
        *byte = static_cast<char>(ch);
        return true;
    }
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == ch) {
            *byte = static_cast<char>(0x80 + i);
            return true;
        }
    }
    return false;
}

}  // namespace zbw

namespace zbw {

bool IsHighSurrogate(char16_t ch) {
    return ch >= 0xD800 && ch <= 0xDBFF;
}

bool IsLowSurrogate(char16_t ch) {
    return ch >= 0xDC00 && ch <= 0xDFFF;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace zbw
