// CLogFileParse: marks up the lines of the synchronisation program's log for the file view, and
// RenderFileContent, the file view itself: a log or XML file, or the section of a log that belongs
// to one run, split into pages of 1,200,000 bytes counted from the section's end.
//
// A log line ends with CR LF; its first 22 characters are the time prefix and the message starts
// at character 22. ToHtml applies the first rule that matches: run markers get the loglineid span
// after the prefix, "** Conflict" and "[ERROR]" lines the error image and the loglineerr span,
// "[INFO]" lines the loglineinfo span, lines ending " [OK]." the loglineok span. A line shorter
// than the prefix is never changed, whatever rule it would match.
//
// RenderFileContent reads at most one page of the file (the run markers are found by reading it
// sequentially), escapes "&", "<" and ">" so that no file can put markup on the page, URL-encodes
// the path in the page links, and never fails: a file that cannot be opened or a run that is not
// in the log gives its text in place of the content. A file is UTF-16LE when it starts with FF FE
// or, without the mark, when its first bytes have the pattern of UTF-16 text (the engine's own log
// has no mark); else it is ANSI text. The caller has already checked that the path
// is one the view may show. Stateless apart from the object's own work text; any thread may use
// its own object.
#pragma once

#include "platform/base/CString.h"
#include "platform/classlib/Object.h"

class CLogFileParse : public CObject {
   public:
    // Marks up every CR LF line of text in place.
    void ConvertLog(CString& text);
    // Marks up one line; false when no rule matched and the line is unchanged.
    bool ToHtml(CString& line) const;
};

// The bytes of one page of the file view.
constexpr long long kLogViewPageBytes = 1200000;

// What "#FILE_CONTENT#" of the file view becomes. runId empty shows the whole file; page -1 (or
// any negative number) is the default page, the part at the section's start.
CString RenderFileContent(const CString& path, const CString& runId, int page);
