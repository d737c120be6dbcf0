// CConsoleCommandLine: the console client's flags. An argument that begins with "-" or "/" is a
// flag told by its second character in any case: C (command string, from the fourth
// character on), I (INI file path, from the fourth character on), N (do not maximise). Each
// recognised flag is printed, another letter reported; other arguments are ignored.
// One thread uses an object.
#pragma once

#include <vector>

#include "dovrane/ZBConsole/ConsoleOutput.h"

class CConsoleCommandLine {
   public:
    // arguments without the program name.
    void Parse(const std::vector<CString>& arguments, CConsoleOutput& out);

    CString m_strCommands;
    CString m_strIniPath;
    BOOL m_bMaximize = TRUE;
};
