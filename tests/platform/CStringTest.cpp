// The layer's CString: construction, lengths, buffers, cuts; fakes nothing.
#include <gtest/gtest.h>

#include <map>
#include <unordered_map>
#include <unordered_set>

#include "platform/base/CString.h"

TEST(CStringTest, ConstructsFromEachSource) {
    EXPECT_EQ(CString(u"abc"), u"abc");
    EXPECT_EQ(CString(static_cast<LPCWSTR>(nullptr)), u"");
    EXPECT_EQ(CString(u"abcdef", 3), u"abc");
    EXPECT_EQ(CString(u"abc", -1), u"");
    EXPECT_EQ(CString(u'x', 3), u"xxx");
    EXPECT_EQ(CString(u'x', 0), u"");
    EXPECT_EQ(CString("caf\xE9 \x80"), u"caf\u00E9 \u20AC");
    EXPECT_EQ(CString("abcdef", 2), u"ab");
    EXPECT_EQ(CString(static_cast<const char*>(nullptr)), u"");
    CString s;
    s = "\x9F";
    EXPECT_EQ(s, u"\u0178");
    s = u'q';
    EXPECT_EQ(s, u"q");
}

TEST(CStringTest, LengthsAreInUtf16Units) {
    const CString clef(u"a\U0001D11Eb");
    EXPECT_EQ(clef.GetLength(), 4);
    EXPECT_EQ(clef.Find(u'b'), 3);
    EXPECT_EQ(clef.Mid(1, 2), u"\U0001D11E");
    EXPECT_TRUE(CString().IsEmpty());
    EXPECT_FALSE(clef.IsEmpty());
}

TEST(CStringTest, AssigningFromItsOwnBufferIsSafe) {
    CString s(u"hello world");
    s = s.GetString() + 6;
    EXPECT_EQ(s, u"world");
    s += static_cast<LPCWSTR>(s);
    EXPECT_EQ(s, u"worldworld");
    s.Insert(0, s.GetString());
    EXPECT_EQ(s.GetLength(), 20);
}

TEST(CStringTest, IndexingOutsideTheTextIsHarmless) {
    CString s(u"ab");
    EXPECT_EQ(s.GetAt(1), u'b');
    EXPECT_EQ(s[0], u'a');
    EXPECT_EQ(s.GetAt(2), 0);
    EXPECT_EQ(s.GetAt(-1), 0);
    s.SetAt(0, u'X');
    s.SetAt(5, u'Y');
    s.SetAt(-1, u'Y');
    EXPECT_EQ(s, u"Xb");
}

TEST(CStringTest, BufferRoundTrip) {
    CString s(u"abc");
    LPWSTR p = s.GetBuffer(10);
    p[3] = u'd';
    p[4] = 0;
    s.ReleaseBuffer();
    EXPECT_EQ(s, u"abcd");
    p = s.GetBufferSetLength(6);
    for (int i = 0; i < 6; ++i) p[i] = static_cast<char16_t>(u'0' + i);
    s.ReleaseBuffer(2);
    EXPECT_EQ(s, u"01");
    s.GetBuffer(1);
    s.ReleaseBuffer();
    EXPECT_EQ(s, u"01");
    s.ReleaseBuffer(50);
    EXPECT_EQ(s, u"01");
}

struct CCutCase {
    const char* what;
    CString result;
    LPCWSTR expected;
};

TEST(CStringTest, CutsClampTheirArguments) {
    const CString s(u"abcdef");
    const CCutCase cases[] = {
        {"Left 2", s.Left(2), u"ab"},
        {"Left -1", s.Left(-1), u""},
        {"Left 99", s.Left(99), u"abcdef"},
        {"Right 2", s.Right(2), u"ef"},
        {"Right -3", s.Right(-3), u""},
        {"Right 99", s.Right(99), u"abcdef"},
        {"Mid 4", s.Mid(4), u"ef"},
        {"Mid -2", s.Mid(-2), u"abcdef"},
        {"Mid 9", s.Mid(9), u""},
        {"Mid 1 2", s.Mid(1, 2), u"bc"},
        {"Mid 4 9", s.Mid(4, 9), u"ef"},
        {"Mid 2 -1", s.Mid(2, -1), u""},
        {"Mid -1 2", s.Mid(-1, 2), u"ab"},
        {"Mid 6 1", s.Mid(6, 1), u""},
        {"Incl", CString(u"aabxa").SpanIncluding(u"ab"), u"aab"},
        {"Excl", CString(u"key=value").SpanExcluding(u"=:"), u"key"},
        {"Excl none", CString(u"key").SpanExcluding(u"="), u"key"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
}

TEST(CStringTest, FindsForwardAndBackward) {
    const CString s(u"a.b.c");
    EXPECT_EQ(s.Find(u'.'), 1);
    EXPECT_EQ(s.Find(u'.', 2), 3);
    EXPECT_EQ(s.Find(u'.', 4), -1);
    EXPECT_EQ(s.Find(u'.', -5), 1);
    EXPECT_EQ(s.Find(u"b.c"), 2);
    EXPECT_EQ(s.Find(u"b", 3), -1);
    EXPECT_EQ(s.Find(u"", 2), 2);
    EXPECT_EQ(s.Find(u"a", 9), -1);
    EXPECT_EQ(s.ReverseFind(u'.'), 3);
    EXPECT_EQ(s.ReverseFind(u'x'), -1);
    EXPECT_EQ(s.FindOneOf(u"cb"), 2);
    EXPECT_EQ(s.FindOneOf(u"xyz"), -1);
}

TEST(CStringTest, EditsReportCountsAndLengths) {
    CString s(u"one two one");
    EXPECT_EQ(s.Replace(u"one", u"three"), 2);
    EXPECT_EQ(s, u"three two three");
    EXPECT_EQ(s.Replace(u"", u"x"), 0);
    EXPECT_EQ(s.Replace(u"two ", nullptr), 1);
    EXPECT_EQ(s, u"three three");
    EXPECT_EQ(s.Replace(u'e', u'E'), 4);
    EXPECT_EQ(s.Remove(u'E'), 4);
    EXPECT_EQ(s, u"thr thr");
    CString aaa(u"aaaa");
    EXPECT_EQ(aaa.Replace(u"aa", u"a"), 2);
    EXPECT_EQ(aaa, u"aa");
    CString t(u"ac");
    EXPECT_EQ(t.Insert(1, u'b'), 3);
    EXPECT_EQ(t.Insert(99, u"de"), 5);
    EXPECT_EQ(t.Insert(-4, u"_"), 6);
    EXPECT_EQ(t, u"_abcde");
    EXPECT_EQ(t.Delete(0), 5);
    EXPECT_EQ(t.Delete(3, 99), 3);
    EXPECT_EQ(t.Delete(7, 1), 3);
    EXPECT_EQ(t.Delete(1, 0), 3);
    EXPECT_EQ(t, u"abc");
}

TEST(CStringTest, TrimsBlanksTabsAndLineBreaks) {
    EXPECT_EQ(CString(u" \t\r\n x y \v\f\r\n").Trim(), u"x y");
    EXPECT_EQ(CString(u"  x  ").TrimLeft(), u"x  ");
    EXPECT_EQ(CString(u"  x  ").TrimRight(), u"  x");
    EXPECT_EQ(CString(u"\u00A0x").Trim(), u"\u00A0x");
    EXPECT_EQ(CString(u"--x--").Trim(u'-'), u"x");
    EXPECT_EQ(CString(u"--x--").TrimLeft(u'-'), u"x--");
    EXPECT_EQ(CString(u"--x--").TrimRight(u'-'), u"--x");
    EXPECT_EQ(CString(u"\"'x'\"").Trim(u"\"'"), u"x");
    EXPECT_EQ(CString(u"ab|").TrimRight(u"|"), u"ab");
    EXPECT_EQ(CString(u"|ab").TrimLeft(u"|"), u"ab");
    EXPECT_EQ(CString(u"    ").Trim(), u"");
}

TEST(CStringTest, CaseMappingCoversEuropeanScripts) {
    EXPECT_EQ(CString(u"abc xyz 09 \u00E9\u00FF\u0151\u017E\u03C9\u03AC\u0436\u0451").MakeUpper(),
              u"ABC XYZ 09 \u00C9\u0178\u0150\u017D\u03A9\u0386\u0416\u0401");
    EXPECT_EQ(CString(u"ABC \u00C0\u00DE\u0130\u0152\u0391\u042F\u040E").MakeLower(),
              u"abc \u00E0\u00FE\u0130\u0153\u03B1\u044F\u045E");
    // Characters with no one-to-one partner stay as they are.
    EXPECT_EQ(CString(u"\u00DF\u00F7\u00D7\u00B5\u0131").MakeUpper(), u"\u00DF\u00F7\u00D7\u00B5\u0131");
    EXPECT_EQ(CString(u"\u03C2").MakeUpper(), u"\u03A3");
    EXPECT_EQ(CString(u"abc").MakeReverse(), u"cba");
}

TEST(CStringTest, CompareOrdersByUnsignedUnit) {
    EXPECT_LT(CString(u"B").Compare(u"a"), 0);
    EXPECT_LT(CString(u"\U00010000").Compare(u"\uFFFF"), 0);  // D800 < FFFF, unlike code point order
    EXPECT_EQ(CString(u"abc").Compare(u"abc"), 0);
    EXPECT_LT(CString(u"ab").Compare(u"abc"), 0);
    EXPECT_EQ(CString(u"x").Compare(CString(u"x")), 0);
    EXPECT_TRUE(CString(u"B") < CString(u"a"));
    EXPECT_TRUE(CString(u"\U00010000") < u"\uFFFF");
    EXPECT_TRUE(u"a" > CString(u"B"));
    EXPECT_TRUE(CString(u"a") <= u"a");
    EXPECT_TRUE(CString(u"b") >= CString(u"a"));
    EXPECT_TRUE(u"abc" == CString(u"abc"));
    EXPECT_TRUE(CString(u"abc") != u"abd");
}

TEST(CStringTest, CompareNoCaseFoldsToLowerCase) {
    EXPECT_EQ(CString(u"Unfiled").CompareNoCase(u"UNFILED"), 0);
    EXPECT_EQ(CString(u"\u00C9T\u00C9").CompareNoCase(u"\u00E9t\u00E9"), 0);
    EXPECT_EQ(CString(u"\u0414\u0430").CompareNoCase(u"\u0434\u0410"), 0);
    EXPECT_LT(CString(u"apple").CompareNoCase(u"BANANA"), 0);
    // Lower-case folding puts "_" before letters, as the C runtime does.
    EXPECT_LT(CString(u"_").CompareNoCase(u"A"), 0);
    EXPECT_GT(CString(u"abc").CompareNoCase(u"AB"), 0);
    EXPECT_NE(CString(u"a").CompareNoCase(CString(u"b")), 0);
}

TEST(CStringTest, TokenizeSkipsRunsOfDelimiters) {
    const CString s(u"  a,b  ,,c ");
    std::vector<CString> tokens;
    int pos = 0;
    for (CString t = s.Tokenize(u" ,", pos); pos != -1; t = s.Tokenize(u" ,", pos)) tokens.push_back(t);
    EXPECT_EQ(tokens, (std::vector<CString>{u"a", u"b", u"c"}));

    pos = 0;
    EXPECT_EQ(CString(u",,").Tokenize(u",", pos), u"");
    EXPECT_EQ(pos, -1);
    pos = -3;
    EXPECT_EQ(s.Tokenize(u",", pos), u"");
    EXPECT_EQ(pos, -1);
    // With no delimiters the rest is one token, and the next call ends.
    pos = 2;
    EXPECT_EQ(s.Tokenize(u"", pos), u"a,b  ,,c ");
    EXPECT_EQ(s.Tokenize(u"", pos), u"");
    EXPECT_EQ(pos, -1);
}

TEST(CStringTest, ConcatenatesWithEveryOperandKind) {
    const CString a(u"a");
    EXPECT_EQ(a + CString(u"b"), u"ab");
    EXPECT_EQ(a + u"b", u"ab");
    EXPECT_EQ(u"b" + a, u"ba");
    EXPECT_EQ(a + u'c', u"ac");
    EXPECT_EQ(u'c' + a, u"ca");
    CString s;
    s += a;
    s += u"x";
    s += u'y';
    s += "\xA3";
    EXPECT_EQ(s, u"axy\u00A3");
}

TEST(CStringTest, ConvertsToAPointerImplicitly) {
    const CString s(u"abc");
    LPCWSTR p = s;
    EXPECT_EQ(p[2], u'c');
    EXPECT_EQ(p[3], 0);
    EXPECT_EQ(s.GetString(), p);
}

TEST(CStringTest, WorksAsAKeyOfStandardContainers) {
    std::unordered_map<CString, int> hashed{{u"a", 1}, {u"A", 2}};
    EXPECT_EQ(hashed.size(), 2u);
    EXPECT_EQ(hashed[u"A"], 2);
    std::map<CString, int> ordered{{u"b", 1}, {u"B", 2}, {u"a", 3}};
    EXPECT_EQ(ordered.begin()->first, u"B");
    std::map<CString, int, zbw::CStringLessNoCase> noCase{{u"Name", 1}};
    EXPECT_EQ(noCase.count(u"NAME"), 1u);
    std::unordered_set<CString, zbw::CStringHashNoCase, zbw::CStringEqualNoCase> set{u"Tag", u"TAG",
                                                                                     u"t\u00C0g"};
    EXPECT_EQ(set.size(), 2u);
    EXPECT_EQ(set.count(u"T\u00E0G"), 1u);
}
