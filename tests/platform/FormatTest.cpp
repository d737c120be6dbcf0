// The layer's printf-style formatting codes; fakes nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/base/CString.h"
#include "platform/base/StringFormat.h"

namespace {

template <class... A>
CString Fmt(LPCWSTR format, const A&... args) {
    CString s;
    s.Format(format, args...);
    return s;
}

enum class EColour { Red = 3 };

struct CCase {
    CString result;
    LPCWSTR expected;
};

}  // namespace

TEST(FormatTest, WideAndNarrowTextCodes) {
    const CString wide(u"w\u00E9\u03A9");
    const CCase cases[] = {
        {Fmt(u"%s", wide), u"w\u00E9\u03A9"},
        {Fmt(u"%ls|%ws", u"a", u"b"), u"a|b"},
        {Fmt(u"%S", "n\xE9\x80"), u"n\u00E9\u20AC"},
        {Fmt(u"%hs", std::string("std")), u"std"},
        // A string prints as what it is, whichever text code it meets.
        {Fmt(u"%s", "narrow"), u"narrow"},
        {Fmt(u"%S", wide), u"w\u00E9\u03A9"},
        {Fmt(u"%s|%S", static_cast<LPCWSTR>(nullptr), static_cast<const char*>(nullptr)), u"(null)|(null)"},
        {Fmt(u"%.3s", u"abcdef"), u"abc"},
        {Fmt(u"%.2S", "abcdef"), u"ab"},
        {Fmt(u"%-8s|", u"ab"), u"ab      |"},
        {Fmt(u"%8s|", u"ab"), u"      ab|"},
        {Fmt(u"%*s|", -4, u"ab"), u"ab  |"},
        {Fmt(u"%.*s", 1, u"ab"), u"a"},
        {Fmt(u"%s", std::u16string(u"u16")), u"u16"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, c.expected);
}

TEST(FormatTest, TextStopsAtItsFirstNul) {
    const char16_t buffer[8] = u"ab\0cd";
    EXPECT_EQ(Fmt(u"[%s]", buffer), u"[ab]");
    const char16_t unterminated[3] = {u'x', u'y', u'z'};
    EXPECT_EQ(Fmt(u"[%s]", unterminated), u"[xyz]");
}

TEST(FormatTest, CharacterCodes) {
    const CCase cases[] = {
        {Fmt(u"%c", u'\u03A9'), u"\u03A9"}, {Fmt(u"%c", 0x41), u"A"},
        {Fmt(u"%C", 0x80), u"\u20AC"},      {Fmt(u"%C", 'x'), u"x"},
        {Fmt(u"%C", u'\u03A9'), u"\u03A9"}, {Fmt(u"%hc", 0xE9), u"\u00E9"},
        {Fmt(u"%lc", 0x3A9), u"\u03A9"},    {Fmt(u"%c", '\xE9'), u"\u00E9"},
        {Fmt(u"[%3c]", u'x'), u"[  x]"},    {Fmt(u"[%-3c]", u'x'), u"[x  ]"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, c.expected);
}

TEST(FormatTest, IntegerCodesFlagsAndWidths) {
    const CCase cases[] = {
        {Fmt(u"%d", -42), u"-42"},
        {Fmt(u"%i", 7), u"7"},
        {Fmt(u"%05d", 42), u"00042"},
        {Fmt(u"%05d", -42), u"-0042"},
        {Fmt(u"%02d", 2024), u"2024"},
        {Fmt(u"%02d/%02d", 3, 7), u"03/07"},
        {Fmt(u"%1d|%01d", 0, 5), u"0|5"},
        {Fmt(u"%-5d|", 42), u"42   |"},
        {Fmt(u"%+d|% d|%+d", 5, 5, -5), u"+5| 5|-5"},
        {Fmt(u"%.3d|%5.3d|%05.3d", 7, 7, 7), u"007|  007|  007"},
        {Fmt(u"[%.0d]", 0), u"[]"},
        {Fmt(u"%*d|%-*d|", 4, 1, 3, 2), u"   1|2  |"},
        {Fmt(u"%u", -1), u"4294967295"},
        {Fmt(u"%x|%X", 0xbeefu, 0xbeefu), u"beef|BEEF"},
        {Fmt(u"%08X", 0x1A2Bu), u"00001A2B"},
        {Fmt(u"%02X%02x", 10, 255), u"0Aff"},
        {Fmt(u"%04X", 0xABCDEF), u"ABCDEF"},
        {Fmt(u"%#x|%#X|%#x", 31, 31, 0), u"0x1f|0X1F|0"},
        {Fmt(u"%o|%#o", 8, 8), u"10|010"},
        {Fmt(u"%x", -1), u"ffffffff"},
        {Fmt(u"%hd|%hu", 70000, -1), u"4464|65535"},
        {Fmt(u"%hhd", 300), u"44"},
        {Fmt(u"%ld|%lu", 123L, 456UL), u"123|456"},
        {Fmt(u"%d", true), u"1"},
        {Fmt(u"%d", EColour::Red), u"3"},
        {Fmt(u"%d", u'A'), u"65"},
        {Fmt(u"%d", static_cast<unsigned char>(200)), u"200"},
        {Fmt(u"%d", static_cast<signed char>(-2)), u"-2"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, c.expected);
}

TEST(FormatTest, SixtyFourBitCodesAndThirtyTwoBitTruncation) {
    const ULONGLONG five = 5368709120ull;
    const CCase cases[] = {
        {Fmt(u"%I64u", five), u"5368709120"},
        {Fmt(u"%I64d", -five), u"-5368709120"},
        {Fmt(u"%I64X", 0xFEDCBA9876543210ull), u"FEDCBA9876543210"},
        {Fmt(u"%lld|%llu", INT64_MIN, UINT64_MAX), u"-9223372036854775808|18446744073709551615"},
        {Fmt(u"%I64d", -1), u"-1"},
        {Fmt(u"%I64u", 4000000000u), u"4000000000"},
        {Fmt(u"%I64u", -1), u"18446744073709551615"},
        {Fmt(u"%I32d", -1), u"-1"},
        // %d reads 32 bits, as on Windows.
        {Fmt(u"%d", five), u"1073741824"},
        {Fmt(u"%u", 0x1FFFFFFFFull), u"4294967295"},
        {Fmt(u"%d", 3000000000u), u"-1294967296"},
        {Fmt(u"%zu|%Iu", static_cast<size_t>(five), static_cast<size_t>(five)), u"5368709120|5368709120"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, c.expected);
}

TEST(FormatTest, FloatingPointCodes) {
    const CCase cases[] = {
        {Fmt(u"%3.2f", 1.5), u"1.50"},
        {Fmt(u"%3.2f", 976.5625), u"976.56"},
        {Fmt(u"%1.2f", 0.005), u"0.01"},
        {Fmt(u"%1.2f", 12345.678), u"12345.68"},
        {Fmt(u"%f|%lf", 2.0, 0.1f), u"2.000000|0.100000"},
        {Fmt(u"%8.3f|%-8.1f|", -3.14159, 2.25), u"  -3.142|2.2     |"},
        {Fmt(u"%08.2f|%+.1f", -1.5, 1.0), u"-0001.50|+1.0"},
        {Fmt(u"%e|%E", 1234.5, 0.00012), u"1.234500e+03|1.200000E-04"},
        {Fmt(u"%g|%G|%g", 0.0001, 1e20, 100.0), u"0.0001|1E+20|100"},
        {Fmt(u"%.0f|%#.0f", 2.5, 3.0), u"2|3."},
        {Fmt(u"%f", 7), u"7.000000"},
        {Fmt(u"%5f|%f", HUGE_VAL, -HUGE_VAL), u"  inf|-inf"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, c.expected);
}

TEST(FormatTest, PercentPointersAndOddCodes) {
    const CCase cases[] = {
        {Fmt(u"100%%"), u"100%"},
        {Fmt(u"%p", reinterpret_cast<void*>(0x12AB)), u"00000000000012AB"},
        {Fmt(u"%p", nullptr), u"0000000000000000"},
        {Fmt(u"a%"), u"a"},
        {Fmt(u"%y|%d", 5), u"y|5"},
        {Fmt(u"no codes", 1, 2), u"no codes"},
        // A missing argument prints nothing.
        {Fmt(u"[%d][%s]", 1), u"[1][]"},
        // Values given to a text code print as what they are.
        {Fmt(u"%s|%s|%s|%s", 42, -7LL, 2.5, u'z'), u"42|-7|2.5|z"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, c.expected);
}

TEST(FormatTest, FormatMayUseItsOwnTextAsAnArgument) {
    CString s(u"abc");
    s.Format(u"<%s>", s);
    EXPECT_EQ(s, u"<abc>");
    s.AppendFormat(u"%s%d", s, 1);
    EXPECT_EQ(s, u"<abc><abc>1");
    s.Format(nullptr);
    EXPECT_EQ(s, u"");
}

namespace {

// A variadic function that hands its arguments on, as the debug log does.
template <class... A>
CString Forward(LPCWSTR format, const A&... args) {
    CString s(u"> ");
    s.AppendFormatArgs(format, zbw::CFormatArgs(args...));
    return s;
}

}  // namespace

TEST(FormatTest, PackagedArgumentsForward) {
    EXPECT_EQ(Forward(u"%s=%d", CString(u"n"), 3), u"> n=3");
    EXPECT_EQ(Forward(u"plain"), u"> plain");
    const zbw::CFormatArgs list(1, u"two", 3.0);
    EXPECT_EQ(list.GetCount(), 3u);
    EXPECT_EQ(list.GetAt(3), nullptr);
    CString s;
    s.FormatArgs(u"%d %s %.1f", list);
    EXPECT_EQ(s, u"1 two 3.0");
}

TEST(FormatTest, WsPrintfHasNoFloatingPoint) {
    char16_t out[1024];
    EXPECT_EQ(wsprintfW(out, u"%d|%f|%s", 1, 2.5, u"x"), 4);
    EXPECT_EQ(CString(out), u"1||x");
    EXPECT_EQ(wsprintfW(out, u"%S.\t[%S]\t[%d]", "WSAAccept(...) failure", "Run", 10054), 37);
    EXPECT_EQ(CString(out), u"WSAAccept(...) failure.\t[Run]\t[10054]");
    EXPECT_EQ(wsprintfW(out, u"%02d/%02d/%02d [%d.%03d-PID:%d-%05d] ", 3, 9, 2024, 12, 5, 400, 77), 34);
    EXPECT_EQ(CString(out), u"03/09/2024 [12.005-PID:400-00077] ");
}

TEST(FormatTest, WsPrintfWritesAtMost1024UnitsWithTheTerminator) {
    std::u16string out(2000, u'#');
    const CString longText(u'x', 1500);
    EXPECT_EQ(wvsprintfW(out.data(), u"%s", zbw::CFormatArgs(longText)), 1023);
    EXPECT_EQ(out[1022], u'x');
    EXPECT_EQ(out[1023], 0);
    EXPECT_EQ(out[1024], u'#');
    EXPECT_EQ(wvsprintfW(out.data(), u"%2000d", zbw::CFormatArgs(5)), 1023);
    EXPECT_EQ(out[1023], 0);
    const CString exact(u'y', 1023);
    EXPECT_EQ(wsprintfW(out.data(), u"%s", exact), 1023);
    EXPECT_EQ(wsprintfW(out.data(), nullptr), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(wsprintfW(nullptr, u"x"), 0);
}
