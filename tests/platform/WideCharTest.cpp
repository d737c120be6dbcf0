// Wide-character helpers: numbers, case, predicates, copies; fakes nothing.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "platform/base/WideChar.h"

TEST(WideCharTest, WtoiReadsLeadingDigits) {
    const struct {
        LPCWSTR text;
        int expected;
    } cases[] = {
        {u"42", 42},
        {u"  -17abc", -17},
        {u"+8", 8},
        {u"\t\r\n 5", 5},
        {u"abc", 0},
        {u"", 0},
        {u"-", 0},
        {u"- 5", 0},
        {u"12 34", 12},
        {u"0x1A", 0},
        {u"007", 7},
        {u"3.9", 3},
        {u"2147483647", INT_MAX},
        {u"-2147483648", INT_MIN},
        {u"99999999999", INT_MAX},
        {u"-99999999999", INT_MIN},
        {u"\u0661", 0},
        {nullptr, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(_wtoi(c.text), c.expected) << (c.text ? "text" : "null");
        EXPECT_EQ(_wtol(c.text), c.expected);
    }
    EXPECT_EQ(_wtoi64(u"5368709120"), 5368709120LL);
    EXPECT_EQ(_wtoi64(u" -9223372036854775808"), INT64_MIN);
    EXPECT_EQ(_wtoi64(u"99999999999999999999"), INT64_MAX);
}

TEST(WideCharTest, CaseMappingPairsAreInverse) {
    for (char32_t c = 0; c < 0x0530; ++c) {
        const auto ch = static_cast<char16_t>(c);
        const char16_t up = zbw::ToUpper(ch);
        const char16_t low = zbw::ToLower(ch);
        const int code = static_cast<int>(c);
        if (up != ch) {
            EXPECT_EQ(zbw::ToLower(up), ch == 0x03C2 ? 0x03C3 : ch) << code;
        }
        if (low != ch) {
            EXPECT_EQ(zbw::ToUpper(low), ch) << code;
        }
    }
    EXPECT_EQ(zbw::ToUpper(u'\u00FF'), u'\u0178');
    EXPECT_EQ(zbw::ToLower(u'\u0400'), u'\u0450');
    EXPECT_EQ(zbw::ToUpper(u'\u0481'), u'\u0480');
    EXPECT_EQ(zbw::ToUpper(u'\uFF41'), u'\uFF41');
}

TEST(WideCharTest, Predicates) {
    EXPECT_TRUE(zbw::IsDigit(u'7'));
    EXPECT_FALSE(zbw::IsDigit(u'\u0661'));
    EXPECT_TRUE(zbw::IsXDigit(u'f'));
    EXPECT_FALSE(zbw::IsXDigit(u'g'));
    for (char16_t c : u" \t\n\v\f\r") {
        if (c) {
            EXPECT_TRUE(zbw::IsSpace(c));
        }
    }
    EXPECT_FALSE(zbw::IsSpace(u'\u00A0'));
    EXPECT_FALSE(zbw::IsSpace(0));
}

TEST(WideCharTest, LengthsCopiesAndComparisons) {
    EXPECT_EQ(zbw::StrLen(u"ab\U0001F600"), 4u);
    EXPECT_EQ(zbw::StrLen(nullptr), 0u);
    EXPECT_EQ(lstrlenW(u"abc"), 3);
    EXPECT_EQ(lstrlenW(nullptr), 0);
    char16_t buffer[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(lstrcpynW(buffer, u"abcdef", 4), buffer);
    EXPECT_EQ(std::u16string(buffer), u"abc");
    lstrcpynW(buffer, u"x", 4);
    EXPECT_EQ(std::u16string(buffer), u"x");
    EXPECT_EQ(_wcsicmp(u"Profile", u"PROFILE"), 0);
    EXPECT_LT(_wcsicmp(u"a", u"B"), 0);
    EXPECT_GT(_wcsicmp(u"abc", u"AB"), 0);
    EXPECT_EQ(_wcsnicmp(u"ITEMx", u"itemY", 4), 0);
    EXPECT_NE(_wcsnicmp(u"ITEMx", u"itemY", 5), 0);
    EXPECT_EQ(lstrcmpiW(u"b", u"A"), 1);
    EXPECT_EQ(lstrcmpiW(nullptr, u""), 0);
}
