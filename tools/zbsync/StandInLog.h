// CStandInLog: the stand-in's log file, in the form the engine's log view reads: ANSI text, CR LF,
// each line opening with a 22-character time prefix ("YYYY-MM-DD hh:mm:ss" and three blanks). A
// run's lines lie between "START ID: n" and "END ID: n", n counting the runs the file holds.
// Every line is appended at the end of the file at once (several runs may share a file), and
// the file is opened for each line, so a log another program cuts or deletes is simply made
// again. One thread uses an object at a time.
#pragma once

#include "platform/base/CString.h"

class CStandInLog {
   public:
    // False when the file cannot be opened for writing.
    bool Open(const CString& path);
    // The number of the next run: one more than the runs the file holds now.
    int NextRunId() const;
    bool Line(const CString& message) const;

    static CString TimePrefix();

   private:
    CString m_strPath;
};
