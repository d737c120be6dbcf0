// The console client's answer printing by command and mode; fakes nothing.
#include <gtest/gtest.h>

#include "dovrane/ZBConsole/AnswerPrinter.h"
#include "platform/base/TextConvert.h"
#include "tests/dovrane/ZBConsole/ConsoleFakes.h"

namespace {

struct AnswerCase {
    const char16_t* command;
    const char16_t* answer;
    bool interpret;
    const char16_t* printed;
};

TEST(AnswerPrinterTest, PrintsAnswersByCommandAndMode) {
    const AnswerCase cases[] = {
        {u"VER", u"100-Welcome, ZBEngine 1.1", true, u"Received : Welcome, ZBEngine 1.1\n"},
        {u"VER", u"100-Welcome, ZBEngine 1.1", false, u"Received : 100-Welcome, ZBEngine 1.1\n"},
        {u"LASTRUNS Docs", u"100-first*?*second*?*", true, u"Received : first\nsecond\n\n"},
        {u"nextruns Docs", u"100-a*?*b", true, u"Received : a\nb\n"},
        {u"LastRuns Docs", u"100-a*?*b", true, u"Received : a*?*b\n"},
        {u"LASTRUNS Docs", u"100-a*?*b", false, u"Received : 100-a*?*b\n"},
        {u"ECHO", u"101-?", true, u"Received : ?\n"},
        {u"ECHO", u"", true, u"Received : \n"},
        {u"Status Docs", u"101-?", true, u"Received : ?\n"},
    };
    for (const AnswerCase& c : cases) {
        CCaptureOutput out;
        CAnswerPrinter printer(out);
        printer.SetInterpret(c.interpret);
        printer.PrintAnswer(c.command, c.answer);
        EXPECT_EQ(out.m_text, CString(c.printed)) << zbw::ToUtf8(CString(c.command));
    }
}

TEST(AnswerPrinterTest, StatusRecordsPrintOneBlockPerProfile) {
    CCaptureOutput out;
    CAnswerPrinter printer(out);
    printer.PrintAnswer(u"STATUS ALL", u"100-" + TwoProfileRecords());
    const CString stars = CString(u'*', 80) + u"\n";
    const CString expected = u"\n" + stars +
                             u" Profile      :  Docs\n"
                             u" Status Code  :  2\n"
                             u" Status       :  Enabled\n"
                             u" Settings     :  Every day at 22:00\n"
                             u" Details      :  Last run OK 50%\n"
                             u" Last Run     :  12/9/2026 10:00:00 PM\n"
                             u" Next Run     :  12/10/2026 10:00:00 PM\n" +
                             u"\n" + stars +
                             u" Profile      :  Photos\n"
                             u" Status Code  :  0\n"
                             u" Status       :  Disabled\n"
                             u" Settings     :  Manual\n"
                             u" Details      :  Never run\n"
                             u" Last Run     :  \n"
                             u" Next Run     :  \n" +
                             u"\n" + stars;
    EXPECT_EQ(out.m_text, expected);
}

TEST(AnswerPrinterTest, StatusInLowerCaseIsAReportAndOffPrintsRaw) {
    CCaptureOutput out;
    CAnswerPrinter printer(out);
    printer.PrintAnswer(u"status Docs", u"100-Docs");
    EXPECT_EQ(out.m_text.Find(u" Profile      :  Docs\n"), 81 + 1);
    out.m_text.Empty();
    printer.SetInterpret(FALSE);
    printer.PrintAnswer(u"STATUS Docs", u"100-Docs");
    EXPECT_EQ(out.m_text, CString(u"Received : 100-Docs\n"));
}

TEST(AnswerPrinterTest, LongValuesWrapAtTheIndent) {
    const CString value = CString(u'a', 63) + CString(u'b', 37);
    EXPECT_EQ(CAnswerPrinter::WrapText(value, 17, 80),
              CString(u'a', 63) + CString(u' ', 17) + CString(u'b', 37));
    EXPECT_EQ(CAnswerPrinter::WrapText(CString(u'a', 63), 17, 80), CString(u'a', 63));
    EXPECT_EQ(CAnswerPrinter::WrapText(u"", 17, 80), CString());
    EXPECT_EQ(CAnswerPrinter::WrapText(u"abc", 80, 80), CString(u"abc"));  // no room: whole
    EXPECT_EQ(CAnswerPrinter::WrapText(u"abcd", 1, 3), CString(u"ab cd"));
}

}  // namespace
