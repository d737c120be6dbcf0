// Regular expressions: matching, compile failures, long texts and the give-up log line; fakes a temporary
// emulation root.
#include <gtest/gtest.h>

#include <memory>

#include "common/DebugPrintf.h"
#include "common/RegExp.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "tests/support/TestRoot.h"

namespace {

struct CFreeRegExp {
    void operator()(REGEXP* prog) const { RegExpFree(prog); }
};
using CRegExpPtr = std::unique_ptr<REGEXP, CFreeRegExp>;

CRegExpPtr Compile(LPCWSTR expression) {
    return CRegExpPtr(RegExpCompile(expression));
}

}  // namespace

TEST(RegExpTest, MatchesAtTheLeftmostPosition) {
    const struct {
        LPCWSTR expression;
        LPCWSTR text;
        int index;
        LPCWSTR match;
    } cases[] = {
        {u"127\\.0\\.0\\.1", u"127.0.0.1", 0, u"127.0.0.1"},
        {u"127\\.0\\.0\\.1", u"x127.0.0.1y", 1, u"127.0.0.1"},
        {u"127\\.0\\.0\\.1", u"127.0.0.2", -1, u""},
        {u"127\\.0\\.0\\.1", u"127x0.0.1", -1, u""},
        // Matches are partial: the callers decide whether a match inside the text counts.
        {u"10\\.0\\.0\\.1", u"10.0.0.10", 0, u"10.0.0.1"},
        {u"10\\.0\\.0\\.1", u"110.0.0.1", 1, u"10.0.0.1"},
        {u"^(10\\.0\\.0\\.1)$", u"10.0.0.10", -1, u""},
        {u"^(10\\.0\\.0\\.1)$", u"10.0.0.1", 0, u"10.0.0.1"},
        {u"192\\.168\\..*", u"192.168.1.20", 0, u"192.168.1.20"},
        {u"192\\.168\\..*", u"10.192.168.1", 3, u"192.168.1"},
        {u"192\\.168\\..*", u"192.169.1.1", -1, u""},
        {u"[-a]", u"-", 0, u"-"},
        {u"[-a]", u"xa", 1, u"a"},
        {u"[-a]", u"b", -1, u""},
        {u"[a-]+", u"b-a-", 1, u"-a-"},
        {u"[]a]", u"]", 0, u"]"},
        {u"[^]a]", u"a]b", 2, u"b"},
        {u"[^0-9]+", u"123abc4", 3, u"abc"},
        {u"[a-cx-z]+", u"wbcyd", 1, u"bcy"},
        {u"ab*", u"a", 0, u"a"},
        {u"ab*", u"xabbbc", 1, u"abbb"},
        {u"ab+", u"a", -1, u""},
        {u"ab+", u"aabb", 1, u"abb"},
        {u"colou?r", u"color", 0, u"color"},
        {u"colou?r", u"colour", 0, u"colour"},
        {u"a*a", u"aaa", 0, u"aaa"},
        {u".*b", u"abab", 0, u"abab"},
        {u"^abc", u"xabc", -1, u""},
        {u"^abc", u"abcd", 0, u"abc"},
        {u"abc$", u"abcd", -1, u""},
        {u"abc$", u"xabc", 1, u"abc"},
        {u"a|b", u"xb", 1, u"b"},
        {u"cat|category", u"category", 0, u"cat"},
        {u"(ab)*c", u"ababc", 0, u"ababc"},
        {u"(ab)*c", u"c", 0, u"c"},
        {u"(ab)+c", u"abc", 0, u"abc"},
        {u"(ab)+c", u"c", -1, u""},
        {u"x(a|b)?c", u"xc", 0, u"xc"},
        {u"x(a|b)?c", u"xbc", 0, u"xbc"},
        {u"(a*)?b", u"aab", 0, u"aab"},
        {u"(a)(b)(c)(d)(e)(f)(g)(h)(i)", u"abcdefghi", 0, u"abcdefghi"},
        {u"a.c", u"abc", 0, u"abc"},
        {u".", u"", -1, u""},
        {u"\\*", u"a*", 1, u"*"},
        {u"\\.*x", u"..x", 0, u"..x"},
        {u"ABC", u"abc", -1, u""},
        {u"\u00E4+", u"x\u00E4\u00E4", 1, u"\u00E4\u00E4"},
        // An expression that matches the empty text matches every text, at the start.
        {u"", u"", 0, u""},
        {u"", u"abc", 0, u""},
        {u"x*", u"abc", 0, u""},
        {u"a|", u"b", 0, u""},
        {u"$", u"ab", 2, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.expression) + " on " + zbw::ToUtf8(c.text));
        CRegExpPtr prog = Compile(c.expression);
        ASSERT_NE(prog, nullptr);
        EXPECT_EQ(RegExpMatch(prog.get(), c.text), c.index);
        EXPECT_EQ(RegExpMatchText(prog.get()), CString(c.match));
    }
}

TEST(RegExpTest, InvalidExpressionsDoNotCompile) {
    const LPCWSTR cases[] = {
        u"**",   u"a**",  u"a*+",   u"a?*",     u"a+?",  u"*a",
        u"a|*b", u"(+a)", u"(a*)*", u"(a|b*)+", u"^*",   u"$+",
        u"()*",  u"a\\",  u"\\",    u"[z-a]",   u"[a",   u"[",
        u"[^",   u"[]",   u"[a-",   u"(a",      u"((a)", u"a)",
        u")",    u"|a",   u"a||b",  u"(|a)",    u"()",   u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)",
    };
    for (LPCWSTR expression : cases) {
        SCOPED_TRACE(zbw::ToUtf8(expression));
        EXPECT_EQ(Compile(expression), nullptr);
    }
    EXPECT_EQ(RegExpCompile(nullptr), nullptr);
}

TEST(RegExpTest, MissingProgramOrTextAndAFailedMatch) {
    CRegExpPtr prog = Compile(u"b+");
    ASSERT_NE(prog, nullptr);
    EXPECT_EQ(RegExpMatch(nullptr, u"b"), -1);
    EXPECT_EQ(RegExpMatch(prog.get(), nullptr), -1);
    EXPECT_EQ(RegExpMatch(prog.get(), u"abb"), 1);
    EXPECT_EQ(RegExpMatch(prog.get(), u"a"), -1);
    EXPECT_EQ(RegExpMatchText(prog.get()), CString());
    RegExpFree(nullptr);
}

TEST(RegExpTest, LongTextsNeitherOverflowTheStackNorMatchLate) {
    CString text(u'a', 50000);
    CRegExpPtr simple = Compile(u"a*b");
    EXPECT_EQ(RegExpMatch(simple.get(), text + u"b"), 0);
    // A group loop recurses per pass; past the depth bound the match is given up, not
    // crashed on nor reported at a later position.
    CRegExpPtr loop = Compile(u"(a)*b");
    EXPECT_EQ(RegExpMatch(loop.get(), CString(u'a', 100) + u"b"), 0);
    EXPECT_EQ(RegExpMatch(loop.get(), text + u"b"), -1);
}

TEST(RegExpTest, NestedRepeatsAreGivenUpNotBacktrackedForEver) {
    CString stars;
    for (int i = 0; i < 20; ++i) stars += u".*";
    CRegExpPtr bad = Compile(u"^(" + stars + u"a)$");
    for (int i = 0; i < 5; ++i) EXPECT_EQ(RegExpMatch(bad.get(), u"1.2.3.4.5.6.7.8.9.10.11"), -1);
    CRegExpPtr good = Compile(u"^(.*1.*2.*3)$");
    EXPECT_EQ(RegExpMatch(good.get(), u"x1y2z3"), 0);
    EXPECT_EQ(RegExpMatch(bad.get(), u"1.2.3a"), 0);
}

TEST(RegExpTest, AnExpressionThatGivesUpIsLoggedOnce) {
    CTestRoot root;
    ASSERT_TRUE(g_DebugPrintf.Init(zbw::ToWindowsPath(root.Path("zb.log"))));
    CString stars;
    for (int i = 0; i < 20; ++i) stars += u".*";
    CRegExpPtr first = Compile(u"^(" + stars + u"a)$");
    CRegExpPtr second = Compile(u"^(" + stars + u"b)$");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(RegExpMatch(first.get(), u"1.2.3.4.5.6.7.8.9.10.11"), -1);
    EXPECT_EQ(RegExpMatch(second.get(), u"1.2.3.4.5.6.7.8.9.10.11"), -1);
    const std::string bytes = ReadHostFile(root.Path("zb.log"));
    std::u16string log(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < log.size(); ++i)
        log[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    const std::string text = zbw::ToUtf8(log);
    size_t lines = 0;
    for (size_t at = text.find("too complex"); at != std::string::npos; at = text.find("too complex", at + 1))
        ++lines;
    EXPECT_EQ(lines, 2u) << text;
    EXPECT_NE(text.find(zbw::ToUtf8(stars + u"b)$")), std::string::npos) << text;
}
