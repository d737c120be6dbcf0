#include "dovrane/threads/LaunchCommand.h"

CString LAUNCHCOMMAND::GetCommandLine() const {
    CString line = u"\"" + strProgram + u"\"";
    if (!strArguments.IsEmpty()) line += u" " + strArguments;
    return line;
}
