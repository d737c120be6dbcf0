// CFile and CStdioFile on real files: open flags, exceptions, lines; fakes a temporary emulation root.
#include <gtest/gtest.h>

#include <string>

#include "platform/base/TextConvert.h"
#include "platform/classlib/File.h"
#include "platform/classlib/StdioFile.h"
#include "platform/win32/FileApi.h"
#include "tests/support/TestRoot.h"

namespace {

std::string Utf16le(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

class FileTest : public ::testing::Test {
   protected:
    CString Win(const std::string& relative) const { return zbw::ToWindowsPath(m_root.Path(relative)); }
    std::string Host(const std::string& relative) const { return m_root.Path(relative); }

    CTestRoot m_root;
};

TEST_F(FileTest, OpenFlagsChooseHowTheFileIsMade) {
    const struct {
        UINT flags;
        bool exists;
        bool opens;
        const char* contentAfter;
    } cases[] = {
        {CFile::modeRead, false, false, nullptr},
        {CFile::modeRead | CFile::shareDenyNone, true, true, "old"},
        {CFile::modeCreate | CFile::modeWrite, true, true, ""},
        {CFile::modeCreate | CFile::modeWrite, false, true, ""},
        {CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite | CFile::shareDenyNone, true, true,
         "old"},
        {CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite, false, true, ""},
        {CFile::modeWrite | CFile::shareExclusive, false, false, nullptr},
    };
    int i = 0;
    for (const auto& c : cases) {
        std::string name = "f" + std::to_string(i++);
        if (c.exists) {
            ASSERT_TRUE(WriteHostFile(Host(name), "old"));
        }
        CFile file;
        CFileException error;
        EXPECT_EQ(file.Open(Win(name), c.flags, &error) != FALSE, c.opens) << name;
        if (!c.opens) {
            EXPECT_EQ(error.m_cause, CFileException::fileNotFound) << name;
            EXPECT_EQ(error.m_lOsError, static_cast<LONG>(ERROR_FILE_NOT_FOUND)) << name;
        }
        file.Abort();
        if (c.contentAfter) {
            EXPECT_EQ(ReadHostFile(Host(name)), c.contentAfter) << name;
        }
    }
}

TEST_F(FileTest, TheOpeningConstructorThrows) {
    try {
        CFile file(Win("missing"), CFile::modeRead);
        FAIL() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
        char16_t text[256];
        EXPECT_TRUE(e.GetErrorMessage(text, 256));
        EXPECT_EQ(CString(text), Win("missing") + u" was not found.");
        EXPECT_TRUE(e.GetErrorMessage(text, 5));
        EXPECT_EQ(CString(text), Win("missing").Left(4));
    }
}

TEST_F(FileTest, ReadWriteSeekAndLength) {
    CFile file(Win("data"), CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary);
    EXPECT_EQ(file.GetFilePath(), Win("data"));
    EXPECT_EQ(file.GetFileName(), u"data");
    file.Write("hello world", 11);
    EXPECT_EQ(file.GetLength(), 11u);
    EXPECT_EQ(file.GetPosition(), 11u);
    file.SeekToBegin();
    char buf[16] = {};
    EXPECT_EQ(file.Read(buf, 5), 5u);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(file.Seek(-5, CFile::end), 6u);
    EXPECT_EQ(file.Read(buf, 16), 5u);
    EXPECT_EQ(file.Read(buf, 16), 0u);
    file.SetLength(0);
    EXPECT_EQ(file.GetLength(), 0u);
    EXPECT_EQ(file.SeekToEnd(), 0u);
    file.Flush();
    EXPECT_THROW(file.Seek(-1, CFile::begin), CFileException);
    file.Close();
    file.Close();
    EXPECT_EQ(ReadHostFile(Host("data")), "");
}

TEST_F(FileTest, WritingAReadOnlyOpenThrowsAccessDenied) {
    ASSERT_TRUE(WriteHostFile(Host("f"), "x"));
    CFile file(Win("f"), CFile::modeRead);
    try {
        file.Write("y", 1);
        FAIL() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::accessDenied);
        EXPECT_EQ(e.m_strFileName, Win("f"));
    }
}

TEST_F(FileTest, BinaryLinesAreUtf16Units) {
    ASSERT_TRUE(WriteHostFile(Host("log"), Utf16le(u"L1\r\n\nL\u20AC2\nlast")));
    CStdioFile file(Win("log"), CFile::modeRead | CFile::typeBinary);
    CString line;
    const char16_t* expected[] = {u"L1\r", u"", u"L\u20AC2", u"last"};
    for (const char16_t* e : expected) {
        ASSERT_TRUE(file.ReadString(line));
        EXPECT_EQ(line, e);
    }
    EXPECT_FALSE(file.ReadString(line));
    EXPECT_EQ(line, u"");
}

TEST_F(FileTest, BoundedLineReadsKeepTheLineFeed) {
    ASSERT_TRUE(WriteHostFile(Host("log"), Utf16le(u"abcdef\nxy")));
    CStdioFile file(Win("log"), CFile::modeRead | CFile::typeBinary);
    char16_t buf[4];
    ASSERT_NE(file.ReadString(buf, 4), nullptr);
    EXPECT_EQ(CString(buf), u"abc");
    ASSERT_NE(file.ReadString(buf, 4), nullptr);
    EXPECT_EQ(CString(buf), u"def");
    ASSERT_NE(file.ReadString(buf, 4), nullptr);
    EXPECT_EQ(CString(buf), u"\n");
    ASSERT_NE(file.ReadString(buf, 4), nullptr);
    EXPECT_EQ(CString(buf), u"xy");
    EXPECT_EQ(file.ReadString(buf, 4), nullptr);
}

TEST_F(FileTest, PositionsAccountForWhatIsReadAhead) {
    ASSERT_TRUE(WriteHostFile(Host("log"), Utf16le(u"one\ntwo\nthree\n")));
    CStdioFile file(Win("log"), CFile::modeReadWrite | CFile::typeBinary);
    CString line;
    file.Seek(2, CFile::begin);
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"ne");
    EXPECT_EQ(file.GetPosition(), 8u);
    file.Write(Utf16le(u"TWO").data(), 6);
    file.SeekToBegin();
    ASSERT_TRUE(file.ReadString(line));
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, u"TWO");
}

TEST_F(FileTest, TextLinesAreAnsiWithCrLf) {
    ASSERT_TRUE(WriteHostFile(Host("ini"), "caf\xE9\r\nline2\nx\r"));
    CStdioFile in(Win("ini"), CFile::modeRead | CFile::typeText);
    CString line;
    ASSERT_TRUE(in.ReadString(line));
    EXPECT_EQ(line, u"caf\u00E9");
    ASSERT_TRUE(in.ReadString(line));
    EXPECT_EQ(line, u"line2");
    ASSERT_TRUE(in.ReadString(line));
    EXPECT_EQ(line, u"x\r");
    EXPECT_FALSE(in.ReadString(line));

    CStdioFile out(Win("out"), CFile::modeCreate | CFile::modeWrite);
    out.WriteString(u"a\nb\u20AC\u03A9");
    out.Close();
    EXPECT_EQ(ReadHostFile(Host("out")), "a\r\nb\x80?");
}

TEST_F(FileTest, BinaryWritesAreUtf16le) {
    CStdioFile out(Win("out"), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary);
    out.WriteString(u"a\r\n\U0001D11E");
    out.Close();
    EXPECT_EQ(ReadHostFile(Host("out")), Utf16le(u"a\r\n\U0001D11E"));
}

TEST_F(FileTest, WriteWithoutCreateAppends) {
    ASSERT_TRUE(WriteHostFile(Host("f"), "head"));
    CStdioFile file(Win("f"), CFile::modeWrite | CFile::typeBinary);
    file.SeekToBegin();
    file.Write("tail", 4);
    file.Close();
    EXPECT_EQ(ReadHostFile(Host("f")), "headtail");
}

// The debug log's size cut: the newer half of the lines goes to a temporary file that then
// replaces the log.
TEST_F(FileTest, LogCutKeepsTheNewerHalf) {
    std::u16string log;
    for (int i = 0; i < 100; ++i)
        log += u"line " + CString(std::to_string(i).c_str()).GetStdString() + u"\r\n";
    ASSERT_TRUE(WriteHostFile(Host("ZBEngine.log"), Utf16le(log)));
    char16_t tempPath[MAX_PATH], tempName[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, tempPath), 0u);
    ASSERT_NE(GetTempFileNameW(tempPath, u"~zb", 0, tempName), 0u);

    CStdioFile temp(tempName, CFile::modeCreate | CFile::modeWrite | CFile::typeBinary);
    CStdioFile in(Win("ZBEngine.log"), CFile::modeReadWrite | CFile::typeBinary);
    ULONGLONG size = in.GetLength();
    in.Seek(static_cast<LONGLONG>((size / 2 + 1) & ~1ull), CFile::begin);
    CString line;
    in.ReadString(line);
    while (in.ReadString(line)) {
        line.Remove(u'\n');
        line.Remove(u'\r');
        temp.WriteString(line + u"\r\n");
    }
    temp.Close();
    in.Close();
    ASSERT_TRUE(ReplaceFileW(Win("ZBEngine.log"), tempName, nullptr, 0, nullptr, nullptr));
    std::string kept = ReadHostFile(Host("ZBEngine.log"));
    EXPECT_EQ(kept.substr(0, 16), Utf16le(u"line 51\r"));
    EXPECT_EQ(kept.substr(kept.size() - 18), Utf16le(u"line 99\r\n"));
}

}  // namespace
