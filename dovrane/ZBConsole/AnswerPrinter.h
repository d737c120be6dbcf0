// CAnswerPrinter: prints the engine's answers for the console client. With interpreting on
// (the default) the 4-character answer code is dropped, status answers are laid out as one
// block per profile (records of eight fields joined by U+0001) and run lists get one entry a
// line; with interpreting off answers are printed as they came. One thread uses an object; the
// output belongs to the caller.
#pragma once

#include "dovrane/ZBConsole/ConsoleOutput.h"

#define RUNITEM_FIELD_SEPARATOR u'\x0001'
#define RUNITEM_FIELD_COUNT 8
#define REPORT_WIDTH 80
#define REPORT_INDENT 17

class CAnswerPrinter {
   public:
    explicit CAnswerPrinter(CConsoleOutput& out) : m_out(out) {}

    void SetInterpret(BOOL interpret) { m_bInterpret = interpret; }
    BOOL GetInterpret() const { return m_bInterpret; }

    void PrintAnswer(const CString& command, const CString& answer);
    void PrintStatusReport(const CString& records);
    // Pieces of width - indent characters joined by indent blanks (at most 90), so that on a
    // console of that width each continuation line starts at the indent. A width not above the
    // indent leaves the text whole.
    static CString WrapText(const CString& text, int indent, int width);

   private:
    void PrintField(LPCWSTR label, const CString& value);

    CConsoleOutput& m_out;
    BOOL m_bInterpret = TRUE;
};
