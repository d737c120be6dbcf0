// LAUNCHCOMMAND: how the synchronisation program is started for one run: the program file and
// the arguments that follow its quoted path on the command line. The profile run item builds it
// when the profile is enabled and hands it by value to its execute job, which runs it on its own
// thread; nothing is packed into one text and split again on the way.
//
// A plain value; one thread at a time per object. An empty program means there is nothing to
// start: the execute job reports it as a launch failure.
#pragma once

#include "platform/base/CString.h"

struct LAUNCHCOMMAND {
    CString strProgram;    // the program file
    CString strArguments;  // what follows the quoted program path, e.g. "\"C:\\p.fsf\" /zbeng"

    // The quoted program path, and a blank and the arguments when there are any.
    CString GetCommandLine() const;
    bool operator==(const LAUNCHCOMMAND& other) const = default;
};
