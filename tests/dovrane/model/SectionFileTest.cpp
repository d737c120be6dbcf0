// The INI-like section file: encodings, key lines, comments, unreadable files; fakes a temporary emulation
// root.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <string>
#include <vector>

#include "dovrane/model/SectionFile.h"
#include "dovrane/model/SectionFileReader.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestRoot.h"

namespace {

enum class Enc { utf16Bom, utf16, ansi };

std::string Encode(const std::u16string& text, Enc enc) {
    if (enc == Enc::ansi) return zbw::ToAnsi(text);
    std::string bytes = enc == Enc::utf16Bom ? "\xFF\xFE" : "";
    for (char16_t ch : text) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

const char* Name(Enc enc) {
    return enc == Enc::utf16Bom ? "UTF-16 with BOM" : enc == Enc::utf16 ? "UTF-16" : "ANSI";
}

const Enc kEncodings[] = {Enc::utf16Bom, Enc::utf16, Enc::ansi};

class SectionFileTest : public ::testing::Test {
   protected:
    // A profile file in the test root; its Windows path.
    CString Put(const std::string& bytes, const std::string& name = "p.fsf") {
        EXPECT_TRUE(WriteHostFile(root.Path(name), bytes));
        return zbw::ToWindowsPath(root.Path(name));
    }
    CString Put(const std::u16string& text, Enc enc = Enc::utf16) { return Put(Encode(text, enc)); }
    // Loads text into list; fails the test when the file does not load.
    void Load(const std::u16string& text, Enc enc = Enc::utf16) {
        ASSERT_TRUE(LoadSectionFile(Put(text, enc), list));
    }
    CString Value(LPCWSTR section, LPCWSTR key) {
        CString value = u"<missing>";
        ReadKey(list, section, key, &value);
        return value;
    }

    CTestRoot root;
    CSectionList list;
};

TEST_F(SectionFileTest, EveryEncodingReadsToTheSameSectionsAndKeys) {
    const std::u16string text =
        u"[Zebrodyne Profile - File Version 4.0.0]\r\n[Settings]\r\nSource Folder=C:\\Daten \u00e9\u20ac\r\n"
        u"Speed = 100\r\n[Filters]\r\nNum. of Filters=0";
    const CSectionFileReader::Encoding probed[] = {CSectionFileReader::encodingUtf16Bom,
                                                   CSectionFileReader::encodingUtf16,
                                                   CSectionFileReader::encodingAnsi};
    for (Enc enc : kEncodings) {
        SCOPED_TRACE(Name(enc));
        FreeSections(list);
        Load(text, enc);
        ASSERT_EQ(list.GetSize(), 3);
        EXPECT_EQ(list.Section(0).m_strName, u"Zebrodyne Profile - File Version 4.0.0");
        EXPECT_EQ(Value(u"Settings", u"Source Folder"), u"C:\\Daten \u00e9\u20ac");
        EXPECT_EQ(Value(u"Settings", u"Speed"), u"100");
        EXPECT_EQ(Value(u"Filters", u"Num. of Filters"), u"0");
        EXPECT_EQ(list.Section(1).m_Keys[0].nState, SECTION_STATE_READ);
        CSectionFileReader reader;
        ASSERT_TRUE(reader.Read(Put(text, enc)));
        EXPECT_EQ(reader.GetEncoding(), probed[static_cast<int>(enc)]);
    }
}

TEST_F(SectionFileTest, ProbeLooksAtTheFirstBytes) {
    struct Case {
        std::string bytes;
        CSectionFileReader::Encoding expected;
    } cases[] = {
        {std::string("[\0S\0", 4), CSectionFileReader::encodingUtf16},
        {std::string("\xFF\xFE[\0", 4), CSectionFileReader::encodingUtf16Bom},
        {std::string("\xFF\xFE", 2), CSectionFileReader::encodingUtf16Bom},
        {std::string("[\0\0\0", 4), CSectionFileReader::encodingAnsi},
        {std::string("[\0S", 3), CSectionFileReader::encodingAnsi},
        {"[Settings]", CSectionFileReader::encodingAnsi},
        {"", CSectionFileReader::encodingAnsi},
        // Without the mark, whatever the first characters are.
        {Encode(u"[\u4e2d\u6587]\r\n", Enc::utf16), CSectionFileReader::encodingUtf16},
        {Encode(u"\u4e2d\u6587=\u503c\r\n", Enc::utf16), CSectionFileReader::encodingUtf16},
        {Encode(u"\u00e9t\u00e9=1\r\n", Enc::utf16), CSectionFileReader::encodingUtf16},
        {"[S\xE9]\r\nK=\xE9\r\n", CSectionFileReader::encodingAnsi},
    };
    for (const Case& c : cases) EXPECT_EQ(CSectionFileReader::Probe(c.bytes), c.expected) << c.bytes.size();
}

TEST_F(SectionFileTest, KeyLinesSplitAtTheFirstUnquotedEquals) {
    struct Case {
        std::u16string line;
        std::u16string key;
        std::u16string value;
    } cases[] = {
        {u"Key=Value", u"Key", u"Value"},      {u"  Key  =  two  blanks  ", u"Key", u"two  blanks"},
        {u"\tKey\t=\tv\t", u"Key", u"v"},      {u"Key=a=b", u"Key", u"a=b"},
        {u"Key=\"x=y\"", u"Key", u"\"x=y\""},  {u"\"a=b\"=c", u"\"a=b\"", u"c"},
        {u"Key=abc\u00fedef", u"Key", u"abc"}, {u"Key=\"a\u00feb\"\u00fetail", u"Key", u"\"a\u00feb\""},
        {u"K\u00fey=v", u"K\u00fey", u"v"},    {u"Key=\"open=", u"Key", u"\"open="},
        {u"Lonely", u"Lonely", u""},           {u"=v", u"", u"v"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.line));
        FreeSections(list);
        Load(u"[S]\r\n" + c.line + u"\r\n");
        ASSERT_EQ(list.Section(0).m_Keys.GetSize(), 1);
        EXPECT_EQ(list.Section(0).m_Keys[0].strKey, c.key);
        EXPECT_EQ(list.Section(0).m_Keys[0].strValue, c.value);
    }
}

TEST_F(SectionFileTest, HeadersAndOddLines) {
    Load(u"K0=first\r\n  [Settings]  \r\n   \r\n\t\r\nA=1\r\n[Settings]\r\nA=2\r\n[Open\r\nB=3\r\n[]\r\n");
    ASSERT_EQ(list.GetSize(), 4);
    EXPECT_EQ(list.Section(2).m_strName, u"Open");
    EXPECT_EQ(list.Section(3).m_strName, u"");
    EXPECT_EQ(Value(u"Settings", u"K0"), u"first") << "a key before the first header joins the first section";
    EXPECT_EQ(Value(u"Settings", u"A"), u"1") << "the first of two equal sections wins";
    EXPECT_EQ(list.Section(0).m_Keys.GetSize(), 2) << "blank lines add no key";
    EXPECT_EQ(Value(u"Open", u"B"), u"3");
    EXPECT_EQ(FindSection(list, u"settings"), -1);
}

TEST_F(SectionFileTest, CommentsGoToTheNextHeaderOrKey) {
    Load(u";top\n[S]\n;k1\n;k2\nK=V\n;before T\n\n[T]\n;lost\nL=1\n;x\nM=2\n[U]");
    EXPECT_EQ(list.Section(0).m_strComment, u";top");
    EXPECT_EQ(list.Section(0).m_Keys[0].strComment, u";k1;k2");
    EXPECT_EQ(list.Section(1).m_strComment, u";before T");
    EXPECT_EQ(list.Section(1).m_Keys[0].strComment, u";lost");
    EXPECT_EQ(list.Section(1).m_Keys[1].strComment, u";x");
    EXPECT_TRUE(list.Section(2).m_strComment.IsEmpty()) << "a key line ends the collection";

    FreeSections(list);
    Load(u";c\r\nK=V\r\n[S]\r\n");
    EXPECT_TRUE(list.Section(0).m_strComment.IsEmpty());
    EXPECT_EQ(list.Section(0).m_Keys[0].strComment, u";c");
}

TEST_F(SectionFileTest, FilesWithoutHeadersOrWithoutAccess) {
    Load(u"A=1\r\n;c\r\n");
    EXPECT_EQ(list.GetSize(), 0);
    Load(u"");
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_FALSE(LoadSectionFile(zbw::ToWindowsPath(root.Path("missing.fsf")), list));
    EXPECT_FALSE(LoadSectionFile(zbw::ToWindowsPath(root.Dir()), list));
    EXPECT_EQ(list.GetSize(), 0);
}

TEST_F(SectionFileTest, LoadingAppendsKeysOnlyToItsOwnSections) {
    ASSERT_TRUE(AddSection(list, u"Old"));
    Load(u"K=1\r\n[New]\r\nL=2\r\n");
    ASSERT_EQ(list.GetSize(), 2);
    EXPECT_EQ(list.Section(0).m_Keys.GetSize(), 0);
    EXPECT_EQ(Value(u"New", u"K"), u"1");
    EXPECT_EQ(Value(u"New", u"L"), u"2");
}

TEST_F(SectionFileTest, LinesUpToTheLimitStayWhole) {
    const int max = CSectionFileReader::MaxLine;
    const std::u16string exact = u"K=" + std::u16string(max - 2, u'x');
    for (Enc enc : kEncodings) {
        SCOPED_TRACE(Name(enc));
        for (const std::u16string& end : {std::u16string(u"\r\n"), std::u16string(u"\n")}) {
            FreeSections(list);
            Load(u"[S]\r\n" + exact + end + u"Next=ok\r\n", enc);
            EXPECT_EQ(Value(u"S", u"K").GetLength(), max - 2);
            EXPECT_EQ(Value(u"S", u"Next"), u"ok");
            EXPECT_EQ(list.Section(0).m_Keys.GetSize(), 2);
        }
    }
}

TEST_F(SectionFileTest, OverLongLinesAreCutAndTheirTailDropped) {
    const int max = CSectionFileReader::MaxLine;
    // Split into lines, the tail would read as a header "Evil", then as keys.
    const std::u16string longLine =
        u"K=" + std::u16string(max - 2, u'x') + u"[Evil]" + std::u16string(30000, u'y') + u"Speed=1";
    for (Enc enc : kEncodings) {
        SCOPED_TRACE(Name(enc));
        FreeSections(list);
        Load(u"[S]\r\n" + longLine + u"\r\nNext=ok\r\n", enc);
        ASSERT_EQ(list.GetSize(), 1);
        EXPECT_EQ(Value(u"S", u"K"), CString(std::u16string(max - 2, u'x')));
        EXPECT_EQ(Value(u"S", u"Next"), u"ok");
        EXPECT_EQ(list.Section(0).m_Keys.GetSize(), 2);
    }
}

TEST_F(SectionFileTest, NulEndsItsLineOnly) {
    for (Enc enc : {Enc::utf16, Enc::ansi}) {
        SCOPED_TRACE(Name(enc));
        FreeSections(list);
        Load(std::u16string(u"[S]\r\nK=ab\0cd\r\nL=x\r\n", 19), enc);
        EXPECT_EQ(Value(u"S", u"K"), u"ab");
        EXPECT_EQ(Value(u"S", u"L"), u"x");
    }
}

TEST_F(SectionFileTest, WritesUtf16WithoutBomAndReadsBack) {
    ASSERT_TRUE(AddSection(list, u"Zebrodyne Profile - File Version 4.0.0"));
    ASSERT_TRUE(AddSection(list, u"Settings"));
    list.Section(1).m_strComment = u";section";
    ASSERT_TRUE(WriteKey(list, u"Settings", u"Source Folder", u"C:\\\u03a9", u"; ******* "));
    ASSERT_TRUE(WriteKey(list, u"Settings", u"Speed", u"100"));
    const CString path = zbw::ToWindowsPath(root.Path("out.fsf"));
    ASSERT_TRUE(SaveSectionFile(path, list));
    EXPECT_EQ(ReadHostFile(root.Path("out.fsf")),
              Encode(u"[Zebrodyne Profile - File Version 4.0.0]\r\n;section\r\n[Settings]\r\n; ******* \r\n"
                     u"Source Folder=C:\\\u03a9\r\nSpeed=100\r\n",
                     Enc::utf16));

    CSectionList back;
    ASSERT_TRUE(LoadSectionFile(path, back));
    ASSERT_EQ(back.GetSize(), 2);
    CString value;
    ASSERT_TRUE(ReadKey(back, u"Settings", u"Source Folder", &value));
    EXPECT_EQ(value, u"C:\\\u03a9");
    EXPECT_EQ(back.Section(1).m_strComment, u";section");
}

TEST_F(SectionFileTest, NamesInAnyScriptReadBack) {
    ASSERT_TRUE(AddSection(list, u"\u4e2d\u6587"));
    ASSERT_TRUE(WriteKey(list, u"\u4e2d\u6587", u"\u952e", u"\u503c"));
    const CString path = zbw::ToWindowsPath(root.Path("out.fsf"));
    ASSERT_TRUE(SaveSectionFile(path, list));
    CSectionList back;
    ASSERT_TRUE(LoadSectionFile(path, back));
    ASSERT_EQ(back.GetSize(), 1);
    EXPECT_EQ(back.Section(0).m_strName, u"\u4e2d\u6587");
    CString value;
    ASSERT_TRUE(ReadKey(back, u"\u4e2d\u6587", u"\u952e", &value));
    EXPECT_EQ(value, u"\u503c");
}

// Keys that a plain "key=value" line would not give back: one that holds an unclosed double
// quote (read with an empty value, as the "=" after it is inside the quote) must not gain an "="
// at each save, and one that starts with ";" must not turn into a comment.
TEST_F(SectionFileTest, SaveAndReloadKeepEveryKeyAsItWasRead) {
    Load(u"[S]\r\nKey\"open=1\r\n\"a\"=b\r\nplain=\"v\r\n  ;semi=x\r\n");
    ASSERT_EQ(list.Section(0).m_Keys.GetSize(), 4);
    const CString path = zbw::ToWindowsPath(root.Path("out.fsf"));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(SaveSectionFile(path, list));
        CSectionList back;
        ASSERT_TRUE(LoadSectionFile(path, back));
        ASSERT_EQ(back.Section(0).m_Keys.GetSize(), 4);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(back.Section(0).m_Keys[k].strKey, list.Section(0).m_Keys[k].strKey);
            EXPECT_EQ(back.Section(0).m_Keys[k].strValue, list.Section(0).m_Keys[k].strValue);
        }
        FreeSections(list);
        ASSERT_TRUE(LoadSectionFile(path, list));
    }
    EXPECT_EQ(list.Section(0).m_Keys[0].strKey, u"Key\"open=1");
    EXPECT_EQ(list.Section(0).m_Keys[3].strKey, u";semi");
}

TEST_F(SectionFileTest, WrittenCommentsStayComments) {
    ASSERT_TRUE(AddSection(list, u"S"));
    ASSERT_TRUE(WriteKey(list, u"S", u"K", u"V", u"; one\\ntwo=2"));
    ASSERT_TRUE(WriteKey(list, u"S", u"L", u"W", u"plain"));
    const CString path = zbw::ToWindowsPath(root.Path("out.fsf"));
    ASSERT_TRUE(SaveSectionFile(path, list));
    EXPECT_EQ(ReadHostFile(root.Path("out.fsf")),
              Encode(u"[S]\r\n; one \n;two=2\r\nK=V\r\n;plain\r\nL=W\r\n", Enc::utf16));
    CSectionList back;
    ASSERT_TRUE(LoadSectionFile(path, back));
    ASSERT_EQ(back.Section(0).m_Keys.GetSize(), 2);
    EXPECT_EQ(back.Section(0).m_Keys[0].strComment, u"; one;two=2");
}

TEST_F(SectionFileTest, SavingFailsWhenTheFileCannotBeMadeOrWritten) {
    ASSERT_TRUE(AddSection(list, u"Settings"));
    EXPECT_FALSE(SaveSectionFile(zbw::ToWindowsPath(root.Path("no/such/folder.fsf")), list));
    CFileSizeLimit limit(8);
    EXPECT_FALSE(SaveSectionFile(zbw::ToWindowsPath(root.Path("full.fsf")), list));
}

TEST(AnsiTextTest, ConvertsThroughTheAnsiCodePage) {
    EXPECT_EQ(WideToNarrow(u"A\u00e9\u20ac"), "A\xE9\x80");
    EXPECT_EQ(WideToNarrow(u"\u03a9"), "?");
    EXPECT_EQ(WideToNarrow(u"e\u0301"), "\xE9");
    EXPECT_EQ(WideToNarrow(u""), "");
    EXPECT_EQ(WideToNarrow(nullptr), "");
    EXPECT_EQ(NarrowToWide("A\xE9\x80\x81"), u"A\u00e9\u20ac\u0081");
    EXPECT_EQ(NarrowToWide(""), u"");
    EXPECT_EQ(NarrowToWide(nullptr), u"");
}

}  // namespace
