// ZBConsole: drives the engine from a command window or a script (see ConsoleLoop.h).
#include "dovrane/ZBConsole/ConsoleLoop.h"
#include "platform/base/TextConvert.h"

int main(int argc, char** argv) {
    std::vector<CString> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(zbw::FromUtf8(argv[i]));
    CConsoleOutput out;
    CConsoleInput in;
    CConsoleLoop loop(out, in);
    return loop.Main(arguments);
}
