// ANSI and UTF conversions with the Windows code page rules; fakes nothing.
#include <gtest/gtest.h>

#include <string>

#include "platform/base/CString.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"

namespace {

std::string Narrow(LPCWSTR text, DWORD flags = 0, BOOL* used = nullptr, LPCSTR defaultChar = nullptr,
                   UINT codePage = CP_ACP) {
    char buffer[256] = {};
    const int n = WideCharToMultiByte(codePage, flags, text, -1, buffer, sizeof buffer, defaultChar, used);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n - 1)) : std::string("<failed>");
}

std::u16string Wide(const std::string& bytes, UINT codePage, DWORD flags = 0) {
    char16_t buffer[256] = {};
    const int n =
        MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), buffer, 256);
    return std::u16string(buffer, static_cast<size_t>(n));
}

}  // namespace

TEST(TextConvertTest, EveryByteRoundTripsThroughTheAnsiCodePage) {
    for (int b = 1; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        char16_t wide[2] = {};
        ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, &byte, 1, wide, 2), 1) << b;
        char back[2] = {};
        BOOL used = TRUE;
        ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, 1, back, 2, nullptr, &used), 1) << b;
        EXPECT_EQ(back[0], byte) << b;
        EXPECT_FALSE(used) << b;
    }
}

TEST(TextConvertTest, AnsiTableIsWindows1252) {
    const struct {
        unsigned char byte;
        char16_t wide;
    } cases[] = {{0x41, u'A'},   {0x80, 0x20AC}, {0x81, 0x0081}, {0x8D, 0x008D},
                 {0x8F, 0x008F}, {0x90, 0x0090}, {0x9D, 0x009D}, {0x8A, 0x0160},
                 {0x99, 0x2122}, {0x9F, 0x0178}, {0xA0, 0x00A0}, {0xFF, 0x00FF}};
    for (const auto& c : cases) {
        EXPECT_EQ(zbw::AnsiToWide(c.byte), c.wide) << int(c.byte);
        char byte = 0;
        EXPECT_TRUE(zbw::WideToAnsi(c.wide, &byte));
        EXPECT_EQ(static_cast<unsigned char>(byte), c.byte);
    }
    char byte = 0;
    EXPECT_FALSE(zbw::WideToAnsi(0x0080, &byte));
    EXPECT_FALSE(zbw::WideToAnsi(0x03A9, &byte));
}

TEST(TextConvertTest, UnmappableCharactersBecomeTheDefault) {
    BOOL used = FALSE;
    EXPECT_EQ(Narrow(u"\u20AC", 0, &used), "\x80");
    EXPECT_FALSE(used);
    EXPECT_EQ(Narrow(u"a\u03A9b", 0, &used), "a?b");
    EXPECT_TRUE(used);
    EXPECT_EQ(Narrow(u"\u03A9", 0, &used, "*"), "*");
    EXPECT_EQ(Narrow(u"\U0001F600"), "??");
    EXPECT_EQ(zbw::ToAnsi(u"x\u03A9\u00E9"), "x?\xE9");
}

TEST(TextConvertTest, CompositeCheckJoinsLetterAndAccent) {
    const DWORD echo = WC_COMPOSITECHECK | WC_SEPCHARS;
    BOOL used = TRUE;
    EXPECT_EQ(Narrow(u"e\u0301te\u0308", echo, &used), "\xE9t\xEB");
    EXPECT_FALSE(used);
    EXPECT_EQ(Narrow(u"x\u0301", echo, &used), "x?");
    EXPECT_TRUE(used);
    EXPECT_EQ(Narrow(u"x\u0301", WC_COMPOSITECHECK | WC_DISCARDNS), "x");
    EXPECT_EQ(Narrow(u"x\u0301", WC_COMPOSITECHECK | WC_DEFAULTCHAR), "?");
    EXPECT_EQ(Narrow(u"e\u0301"), "e?");  // without the check the accent stands alone
}

TEST(TextConvertTest, SizesAndErrorsFollowWindows) {
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", -1, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", 3, nullptr, 0, nullptr, nullptr), 3);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xE2\x82\xAC", -1, nullptr, 0), 2);
    char small[2];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", -1, small, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", 0, small, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, nullptr, -1, small, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WideCharToMultiByte(437, 0, u"a", -1, small, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    BOOL used;
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", -1, small, 2, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_COMPOSITECHECK, u"a", -1, small, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
    char16_t wide[1];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab", 2, wide, 1), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(TextConvertTest, Utf8RoundTripsEveryPlane) {
    const std::u16string text = u"a\u00E9\u20AC\uFFFF\U00010000\U0010FFFF";
    const std::string utf8 = zbw::ToUtf8(text);
    EXPECT_EQ(utf8, "a\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
    EXPECT_EQ(zbw::FromUtf8(utf8), text.c_str());
    EXPECT_EQ(zbw::FromUtf8(utf8).GetLength(), 8);
    EXPECT_EQ(Narrow(u"\u20AC", 0, nullptr, nullptr, CP_UTF8), "\xE2\x82\xAC");
    EXPECT_EQ(zbw::ToUtf8(CString(u"x")), "x");
    EXPECT_EQ(zbw::ToUtf8(static_cast<LPCWSTR>(nullptr)), "");
}

TEST(TextConvertTest, LoneSurrogatesBecomeTheReplacementCharacter) {
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    EXPECT_EQ(zbw::ToUtf8(lone),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    char out[16];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, out, 16, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    const char16_t trailingHigh[] = {u'z', 0xDBFF, 0};
    EXPECT_EQ(zbw::ToUtf8(trailingHigh), "z\xEF\xBF\xBD");
}

TEST(TextConvertTest, IllFormedUtf8BecomesOneReplacementPerPart) {
    const struct {
        std::string bytes;
        std::u16string expected;
    } cases[] = {
        {"\x80", u"\uFFFD"},
        {"a\xC3", u"a\uFFFD"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
        {"\xE2\x82x", u"\uFFFDx"},                          // truncated, then a good byte
        {"\xF0\x9F\x98", u"\uFFFD"},
        {"\xFF\xFE", u"\uFFFD\uFFFD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Wide(c.bytes, CP_UTF8), c.expected);
        EXPECT_EQ(zbw::FromUtf8(c.bytes).GetStdString(), c.expected);
    }
    char16_t out[8];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\x80", 1, out, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

TEST(TextConvertTest, TerminatorIsConvertedAndCounted) {
    char16_t out[8] = {u'#', u'#', u'#', u'#', u'#'};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab", -1, out, 8), 3);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(Wide(std::string("a\0b", 3), CP_ACP), std::u16string(u"a\0b", 3));
}
