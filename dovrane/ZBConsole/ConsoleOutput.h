// CConsoleOutput: where the console client prints its texts. The default writes UTF-8 to
// standard output and flushes at once, so a script reading the pipe sees each prompt as it
// comes; tests derive from it to capture the texts. One thread uses an object.
#pragma once

#include "platform/base/CString.h"

class CConsoleOutput {
   public:
    virtual ~CConsoleOutput() = default;

    virtual void Write(const CString& text);

    template <class... A>
    void Printf(LPCWSTR format, const A&... args) {
        CString text;
        text.Format(format, args...);
        Write(text);
    }
};
