#include "dovrane/ZBConsole/ConsoleOutput.h"

#include <cstdio>

#include "platform/base/TextConvert.h"

void CConsoleOutput::Write(const CString& text) {
    std::fputs(zbw::ToUtf8(text).c_str(), stdout);
    std::fflush(stdout);
}
