#include "dovrane/ZBConsole/ConsoleInput.h"

#include <cstdio>
#include <string>

#include "platform/base/TextConvert.h"

BOOL CConsoleInput::ReadLine(CString& line) {
    std::string bytes;
    int ch = 0;
    while (static_cast<int>(bytes.size()) < CONSOLE_LINE_MAX && (ch = std::fgetc(stdin)) != EOF &&
           ch != '\n') {
        bytes += static_cast<char>(ch);
    }
    if (ch == EOF && bytes.empty()) return FALSE;
    line = zbw::FromUtf8(bytes);
    return TRUE;
}

void CConsoleInput::WaitKey() {
    std::fgetc(stdin);
}
