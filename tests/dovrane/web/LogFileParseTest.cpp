// The log view: line mark-up rules, run sections of ANSI and UTF-16 logs, pages counted from the
// section's end, and the escaping that keeps a file's text from becoming markup.
#include <gtest/gtest.h>

#include <string>

#include "dovrane/web/LogFileParse.h"
#include "platform/base/TextConvert.h"
#include "tests/support/TestRoot.h"

namespace {

const std::string kPrefix = "2026-12-10 14:00:00   ";  // 22 characters
const CString kErrorSpan =
    u"<img src=\"img/err.gif\" width=\"16\" height=\"16\" align=\"texttop\"> <span class='loglineerr'>";

struct MARKUPCASE {
    const char* name;
    std::string line;
    CString expected;  // empty: unchanged
};

CString Wide(const std::string& text) {
    return zbw::FromAnsi(text);
}

class LogLineTest : public testing::TestWithParam<MARKUPCASE> {};

TEST_P(LogLineTest, MarksUpByTheFirstMatchingRule) {
    CString line = Wide(GetParam().line);
    bool changed = CLogFileParse().ToHtml(line);
    if (GetParam().expected.IsEmpty()) {
        EXPECT_FALSE(changed);
        EXPECT_EQ(zbw::ToUtf8(line), GetParam().line);
    } else {
        EXPECT_TRUE(changed);
        EXPECT_EQ(zbw::ToUtf8(line), zbw::ToUtf8(GetParam().expected));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, LogLineTest,
    testing::Values(
        MARKUPCASE{"run_start", kPrefix + "START ID: 17",
                   Wide(kPrefix) + u"<span class='loglineid'>START ID: 17</span>"},
        MARKUPCASE{"run_end", kPrefix + "END ID: 17",
                   Wide(kPrefix) + u"<span class='loglineid'>END ID: 17</span>"},
        MARKUPCASE{"conflict", kPrefix + "** Conflict a.txt",
                   kErrorSpan + Wide(kPrefix + "** Conflict a.txt") + u"</span>"},
        MARKUPCASE{"info", kPrefix + "[INFO] scanning",
                   u"<span class='loglineinfo'>" + Wide(kPrefix + "[INFO] scanning") + u"</span>"},
        MARKUPCASE{"ok", kPrefix + "Copy a.txt [OK].",
                   u"<span class='loglineok'>" + Wide(kPrefix + "Copy a.txt [OK].") + u"</span>"},
        MARKUPCASE{"error_inside", kPrefix + "Copy [ERROR] denied",
                   kErrorSpan + Wide(kPrefix + "Copy [ERROR] denied") + u"</span>"},
        MARKUPCASE{"info_before_ok", kPrefix + "[INFO] done [OK].",
                   u"<span class='loglineinfo'>" + Wide(kPrefix + "[INFO] done [OK].") + u"</span>"},
        MARKUPCASE{"plain", kPrefix + "Copying files", CString()},
        MARKUPCASE{"error_in_prefix_only", "[ERROR] 2026-12-10   x", CString()},
        // Every rule is guarded by the prefix length, the " [OK]." rule too.
        MARKUPCASE{"short_ok", "Copy [OK].", CString()}, MARKUPCASE{"short_error", "[ERROR]", CString()}),
    [](const testing::TestParamInfo<MARKUPCASE>& info) { return std::string(info.param.name); });

TEST(LogFileParseTest, ConvertLogMarksEveryLineAndKeepsTheLineBreaks) {
    CString text = Wide(kPrefix + "START ID: 1\r\n" + kPrefix + "plain\r\n" + kPrefix + "x [OK].");
    CLogFileParse().ConvertLog(text);
    EXPECT_EQ(zbw::ToUtf8(text), kPrefix + "<span class='loglineid'>START ID: 1</span>\r\n" + kPrefix +
                                     "plain\r\n<span class='loglineok'>" + kPrefix + "x [OK].</span>");
}

class FileViewTest : public testing::Test {
   protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        std::string path = m_root.Path(name);
        EXPECT_TRUE(WriteHostFile(path, bytes));
        return path;
    }
    static std::string View(const std::string& path, const char* runId = "", int page = -1) {
        return zbw::ToUtf8(RenderFileContent(zbw::FromUtf8(path), zbw::FromUtf8(runId), page));
    }

    CTestRoot m_root;
};

std::string Utf16(const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) bytes += std::string{c, '\0'};
    return bytes;
}

std::string TwoRuns() {
    return kPrefix + "START ID: 1\r\n" + kPrefix + "first run\r\n" + kPrefix + "END ID: 1\r\n" + kPrefix +
           "START ID: 12\r\n" + kPrefix + "second run\r\n" + kPrefix + "END ID: 12\r\n";
}

TEST_F(FileViewTest, ShowsOneRunsSectionOfAnAnsiAndAUtf16Log) {
    for (const std::string& bytes : {TwoRuns(), Utf16(TwoRuns())}) {
        std::string view = View(Write("sync.log", bytes), "1");
        EXPECT_NE(view.find("first run"), std::string::npos);
        EXPECT_EQ(view.find("second run"), std::string::npos) << "ID 1 must not match ID 12";
        EXPECT_EQ(view.find(kPrefix + "<span class='loglineid'>START ID: 1</span><br>"), 0u) << view;

        std::string second = View(Write("sync.log", bytes), "12");
        EXPECT_NE(second.find("second run"), std::string::npos);
        EXPECT_EQ(second.find("first run"), std::string::npos);
    }
}

TEST_F(FileViewTest, SectionWithoutEndRunsToTheEndOfTheFile) {
    std::string view =
        View(Write("sync.log", kPrefix + "START ID: 3\r\n" + kPrefix + "still running\r\n"), "3");
    EXPECT_NE(view.find("still running"), std::string::npos);
}

TEST_F(FileViewTest, MissingRunAndMissingFileGiveTheirTexts) {
    EXPECT_EQ(View(Write("sync.log", TwoRuns()), "7")
                  .rfind("Information about this run not found in the log file.", 0),
              0u);
    EXPECT_EQ(View(m_root.Path("absent.log")), "File not found or unable to open file");
}

TEST_F(FileViewTest, EscapesTheFilesTextBeforeMarkingItUp) {
    std::string view = View(Write("sync.log", kPrefix + "<script>alert(1)</script> & [OK].\r\n"));
    EXPECT_EQ(view.find("<script>"), std::string::npos);
    EXPECT_NE(view.find("&lt;script&gt;alert(1)&lt;/script&gt; &amp; [OK].</span>"), std::string::npos)
        << view;
}

TEST_F(FileViewTest, XmlFilesAreEscapedButNotMarkedUp) {
    std::string view = View(Write("settings.xml", "<SETTINGS>\r\n" + kPrefix + "[INFO]\r\n</SETTINGS>"));
    EXPECT_EQ(
        view.rfind("&lt;SETTINGS&gt;<br>" + kPrefix + "[INFO]<br>&lt;/SETTINGS&gt;<br><br><b>Size: ", 0), 0u)
        << view;
}

// 3,000,000 bytes make three pages counted from the end: the default page is the file's first
// 600,000 bytes, page 0 its last 1,200,000.
TEST_F(FileViewTest, LongFileIsPagedFromItsEnd) {
    std::string bytes(3000000, 'a');
    bytes.replace(0, 5, "BEGIN");
    bytes.replace(600000 - 4, 4, "CUT1");
    bytes.replace(bytes.size() - 3, 3, "END");
    std::string path = Write("big.log", bytes);

    std::string first = View(path);
    EXPECT_EQ(first.rfind("BEGIN", 0), 0u);
    EXPECT_NE(first.find("CUT1<br>Page 1 of 3 <br>"), std::string::npos);
    EXPECT_EQ(first.find("First"), std::string::npos) << "no link back from the first page";
    EXPECT_NE(first.find("'>Next >>> </a> | <a href='\\file.htm?URL="), std::string::npos);
    EXPECT_NE(first.find("&LID=&SCT=0'>Last</a>"), std::string::npos);
    EXPECT_NE(first.find("big%2elog&LID=&SCT=1'>Next"), std::string::npos) << first;

    std::string middle = View(path, "", 1);
    EXPECT_NE(middle.find("Page 2 of 3"), std::string::npos);
    EXPECT_NE(middle.find("SCT=2'>First</a> | <a href='"), std::string::npos);
    EXPECT_NE(middle.find("SCT=2'><<< Previous</a>&nbsp;|&nbsp<a href='"), std::string::npos);

    std::string last = View(path, "", 0);
    EXPECT_NE(last.find("END<br>Page 3 of 3 <br>"), std::string::npos);
    EXPECT_EQ(last.find("Next"), std::string::npos);
    EXPECT_NE(last.find("<br><br><b>Size: "), std::string::npos);

    EXPECT_EQ(View(path, "", 3), last) << "a page past the count shows page 0";
}

TEST_F(FileViewTest, LinksCarryTheEncodedPathAndRun) {
    std::string bytes = kPrefix + "START ID: 5\r\n" + std::string(1300000, 'b') + "\r\n";
    std::string path = Write("a&b 'x'.log", bytes);
    std::string view = View(path, "5");
    EXPECT_EQ(view.find("a&b"), std::string::npos);
    EXPECT_EQ(view.find("'x'"), std::string::npos);
    EXPECT_NE(view.find("a%26b%20%27x%27%2elog&LID=5&SCT=0'>"), std::string::npos)
        << view.substr(view.size() - 400);
}

}  // namespace
