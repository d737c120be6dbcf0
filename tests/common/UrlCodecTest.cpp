// URL encoding and decoding; fakes nothing.
#include <gtest/gtest.h>

#include <string>

#include "common/UrlCodec.h"

TEST(UrlCodecTest, DecodeHandlesPlusPercentAndUtf8) {
    const struct {
        std::string text;
        CString decoded;
    } cases[] = {
        {"%41", u"A"},
        {"%4", u"4"},
        {"%", u""},
        {"%zz1", u"zz1"},
        {"a+b", u"a b"},
        {"%2B", u"+"},
        {"%2b%2F", u"+/"},
        {"%c3%a9t%C3%A9", u"\u00e9t\u00e9"},
        {"%e2%82%ac", u"\u20ac"},
        {"%f0%9f%98%80", u"\U0001F600"},
        {"ab%ffcd", u"ab"},   // not UTF-8: the text ends before it
        {"ab%e2%82", u"ab"},  // a character cut off
        {"a%00b", u"a"},
        {"", u""},
    };
    for (const auto& c : cases) EXPECT_EQ(UrlDecode(c.text), c.decoded) << c.text;
}

TEST(UrlCodecTest, EncodeKeepsOnlyAsciiLettersAndDigits) {
    const struct {
        CString text;
        std::string encoded;
    } cases[] = {
        {u"Az09", "Az09"},
        {u"-_.~", "%2d%5f%2e%7e"},
        {u"a b", "a%20b"},
        {u"\u00e9t\u00e9", "%c3%a9t%c3%a9"},
        {u"\U0001F600", "%f0%9f%98%80"},
        {u"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(UrlEncode(c.text), c.encoded) << c.encoded;
}

TEST(UrlCodecTest, RoundTripsNonAsciiText) {
    const CString texts[] = {
        u"Gr\u00fc\u00dfe aus K\u00f6ln",
        u"C:\\Profiles\\my profile.fsf",
        u"\u65e5\u672c\u8a9e",
        u"\U0001F600 smile",
        u"100% + more & = ?",
    };
    for (const auto& text : texts) EXPECT_EQ(UrlDecode(UrlEncode(text)), text) << UrlEncode(text);
}
