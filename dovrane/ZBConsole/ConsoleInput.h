// CConsoleInput: the keyboard of the console client, read from standard input. Lines are
// UTF-8 on the host; a key press is one byte. The end of standard input is reported, never
// waited on; tests derive from it to feed lines. One thread uses an object.
#pragma once

#include "platform/base/CString.h"

#define CONSOLE_LINE_MAX 255

class CConsoleInput {
   public:
    virtual ~CConsoleInput() = default;

    // One line without its line end, at most CONSOLE_LINE_MAX characters (the rest of a longer
    // line comes with the next call). FALSE at the end of the input.
    virtual BOOL ReadLine(CString& line);
    // Waits for one key; returns at once at the end of the input.
    virtual void WaitKey();
};
