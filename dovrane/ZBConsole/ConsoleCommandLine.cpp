#include "dovrane/ZBConsole/ConsoleCommandLine.h"

namespace {

constexpr int kValueStart = 3;

}  // namespace

void CConsoleCommandLine::Parse(const std::vector<CString>& arguments, CConsoleOutput& out) {
    for (const CString& argument : arguments) {
        if (argument.GetLength() < 2 || (argument[0] != u'-' && argument[0] != u'/')) continue;
        const char16_t letter = argument[1];
        switch (letter) {
            case u'C':
            case u'c': m_strCommands = argument.Mid(kValueStart); break;
            case u'I':
            case u'i': m_strIniPath = argument.Mid(kValueStart); break;
            case u'N':
            case u'n': m_bMaximize = FALSE; break;
            default: out.Printf(u"Invalid command line flag: %C\n\n", letter); continue;
        }
        out.Printf(u"Command line flag found: %s\n", argument);
    }
}
