// The program's crash reporter, in a file of its own so that only a program that names it
// installs it (a static library links this object only then).
#include "common/CrashHandler.h"

CCrashHandler g_CrashHandler;
