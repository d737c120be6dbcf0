#include "platform/base/WideChar.h"

#include <climits>
#include <cstdint>
#include <limits>

namespace {

// Ranges where upper and lower case alternate: upper at even offsets from first.
struct CAlternatingRange {
    char16_t first;
    char16_t last;
};

constexpr CAlternatingRange kAlternating[] = {
    {0x0100, 0x012F}, {0x0132, 0x0137}, {0x0139, 0x0148}, {0x014A, 0x0177}, {0x0179, 0x017E},
    {0x03D8, 0x03EF}, {0x0460, 0x0481}, {0x048A, 0x04BF}, {0x04C1, 0x04CE}, {0x04D0, 0x04FF},
};

// Blocks where lower case is upper case plus a fixed offset.
struct COffsetRange {
    char16_t firstUpper;
    char16_t lastUpper;
    char16_t offset;
};

constexpr COffsetRange kOffset[] = {
    {0x0041, 0x005A, 0x20}, {0x00C0, 0x00D6, 0x20}, {0x00D8, 0x00DE, 0x20},
    {0x0388, 0x038A, 0x25}, {0x038E, 0x038F, 0x3F}, {0x0391, 0x03A1, 0x20},
    {0x03A3, 0x03AB, 0x20}, {0x0400, 0x040F, 0x50}, {0x0410, 0x042F, 0x20},
};

// Pairs that fit no pattern.
struct CPair {
    char16_t upper;
    char16_t lower;
};

constexpr CPair kPairs[] = {{0x0178, 0x00FF}, {0x0386, 0x03AC}, {0x038C, 0x03CC}, {0x04C0, 0x04CF}};

const CAlternatingRange* FindAlternating(char16_t ch) {
    for (const auto& r : kAlternating) {
        if (ch >= r.first && ch <= r.last) return &r;
    }
    return nullptr;
}

bool IsAlternatingUpper(const CAlternatingRange& r, char16_t ch) {
    return (ch - r.first) % 2 == 0;
}

template <class T>
T ParseSigned(LPCWSTR text) {
    if (!text) return 0;
    while (zbw::IsSpace(*text)) ++text;
    bool negative = false;
    if (*text == u'+' || *text == u'-') negative = (*text++ == u'-');
    // Accumulate as a negative number so the minimum value fits.
    const T limit = std::numeric_limits<T>::min();
    T value = 0;
    bool overflow = false;
    for (; zbw::IsDigit(*text); ++text) {
        const T digit = static_cast<T>(*text - u'0');
        if (value < (limit + digit) / 10) {
            overflow = true;
            continue;
        }
        value = static_cast<T>(value * 10 - digit);
    }
    if (overflow) return negative ? limit : std::numeric_limits<T>::max();
    if (negative) return value;
    return value == limit ? std::numeric_limits<T>::max() : static_cast<T>(-value);
}

}  // namespace

namespace zbw {

char16_t ToLower(char16_t ch) {
    if (ch < 0x80) return (ch >= u'A' && ch <= u'Z') ? static_cast<char16_t>(ch + 0x20) : ch;
    for (const auto& r : kOffset) {
        if (ch >= r.firstUpper && ch <= r.lastUpper) return static_cast<char16_t>(ch + r.offset);
    }
    if (const auto* r = FindAlternating(ch)) {
        return IsAlternatingUpper(*r, ch) ? static_cast<char16_t>(ch + 1) : ch;
    }
    for (const auto& p : kPairs) {
        if (ch == p.upper) return p.lower;
    }
    return ch;
}

char16_t ToUpper(char16_t ch) {
    if (ch < 0x80) return (ch >= u'a' && ch <= u'z') ? static_cast<char16_t>(ch - 0x20) : ch;
    // Final sigma has no lower partner of its own; it upper-cases to sigma.
    if (ch == 0x03C2) return 0x03A3;
    for (const auto& r : kOffset) {
        if (ch >= r.firstUpper + r.offset && ch <= r.lastUpper + r.offset) {
            return static_cast<char16_t>(ch - r.offset);
        }
    }
    if (const auto* r = FindAlternating(ch)) {
        return IsAlternatingUpper(*r, ch) ? ch : static_cast<char16_t>(ch - 1);
    }
    for (const auto& p : kPairs) {
        if (ch == p.lower) return p.upper;
    }
    return ch;
}

bool IsDigit(char16_t ch) {
    return ch >= u'0' && ch <= u'9';
}

bool IsXDigit(char16_t ch) {
    return IsDigit(ch) || (ch >= u'a' && ch <= u'f') || (ch >= u'A' && ch <= u'F');
}

bool IsSpace(char16_t ch) {
    return ch == u' ' || (ch >= 0x09 && ch <= 0x0D);
}

size_t StrLen(LPCWSTR text) {
    if (!text) return 0;
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const int ca = ToLower(a[i]);
        const int cb = ToLower(b[i]);
        if (ca != cb) return ca - cb;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

}  // namespace zbw

int _wtoi(LPCWSTR text) {
    return ParseSigned<int32_t>(text);
}

LONG _wtol(LPCWSTR text) {
    return ParseSigned<int32_t>(text);
}

LONGLONG _wtoi64(LPCWSTR text) {
    return ParseSigned<int64_t>(text);
}

int _wcsicmp(LPCWSTR a, LPCWSTR b) {
    return zbw::CompareNoCase({a ? a : u"", zbw::StrLen(a)}, {b ? b : u"", zbw::StrLen(b)});
}

int _wcsnicmp(LPCWSTR a, LPCWSTR b, size_t count) {
    std::u16string_view va(a ? a : u"", zbw::StrLen(a));
    std::u16string_view vb(b ? b : u"", zbw::StrLen(b));
    return zbw::CompareNoCase(va.substr(0, count), vb.substr(0, count));
}

int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
    const int r = _wcsicmp(a, b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int lstrlenW(LPCWSTR text) {
    const size_t n = zbw::StrLen(text);
    return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int max) {
    if (!dst || max <= 0) return dst;
    int i = 0;
    for (; src && i < max - 1 && src[i]; ++i) dst[i] = src[i];
    dst[i] = 0;
    return dst;
}
