#include "dovrane/ZBConsole/AnswerPrinter.h"

#include <algorithm>

namespace {

constexpr int kCodeLength = 4;
constexpr int kMaxIndent = 90;

bool BeginsWith(const CString& text, LPCWSTR prefix) {
    return text.Find(prefix) == 0;
}

bool IsRunListCommand(const CString& command) {
    return BeginsWith(command, u"lastruns ") || BeginsWith(command, u"LASTRUNS ") ||
           BeginsWith(command, u"nextruns ") || BeginsWith(command, u"NEXTRUNS ");
}

CString StarLine() {
    return CString(u'*', REPORT_WIDTH) + u"\n";
}

}  // namespace

void CAnswerPrinter::PrintAnswer(const CString& command, const CString& answer) {
    if (!m_bInterpret) {
        m_out.Printf(u"Received : %s\n", answer);
        return;
    }
    CString rest = answer.Mid(kCodeLength);
    if (BeginsWith(command, u"STATUS") || BeginsWith(command, u"status")) {
        PrintStatusReport(rest);
        return;
    }
    if (IsRunListCommand(command)) rest.Replace(u"*?*", u"\n");
    m_out.Printf(u"Received : %s\n", rest);
}

void CAnswerPrinter::PrintStatusReport(const CString& records) {
    CString details;
    int index = 0;
    int start = 0;
    for (;;) {
        const int end = records.Find(RUNITEM_FIELD_SEPARATOR, start);
        const CString value = end < 0 ? records.Mid(start) : records.Mid(start, end - start);
        switch (index % RUNITEM_FIELD_COUNT) {
            case 0:
                m_out.Write(u"\n" + StarLine());
                PrintField(u" Profile      : ", value);
                break;
            case 1: PrintField(u" Status Code  : ", value); break;
            case 2: PrintField(u" Status       : ", value); break;
            case 3: PrintField(u" Settings     : ", value); break;
            case 4: details = value; break;
            case 5:
                PrintField(u" Details      : ", value.IsEmpty() ? details : details + u" " + value);
                break;
            case 6: PrintField(u" Last Run     : ", value); break;
            default: PrintField(u" Next Run     : ", value); break;
        }
        ++index;
        if (end < 0) break;
        start = end + 1;
    }
    m_out.Write(u"\n" + StarLine());
}

void CAnswerPrinter::PrintField(LPCWSTR label, const CString& value) {
    m_out.Write(label);
    m_out.Printf(u" %s\n", WrapText(value, REPORT_INDENT, REPORT_WIDTH));
}

CString CAnswerPrinter::WrapText(const CString& text, int indent, int width) {
    indent = std::clamp(indent, 0, kMaxIndent);
    const int piece = width - indent;
    if (piece <= 0) return text;
    CString wrapped;
    for (int start = 0; start < text.GetLength(); start += piece) {
        if (start > 0) wrapped += CString(u' ', indent);
        wrapped += text.Mid(start, piece);
    }
    return wrapped;
}
