// Starting a program for the engine: the synchronisation program for a run, an interactive
// session of it, a program a launch item names.
//
// CreateProcessW with no handle inheritance, default creation flags, environment and folder, and
// STARTF_FORCEOFFFEEDBACK (no busy cursor). The child's thread gets default security: no
// security descriptor is made (one that grants everybody full access to the thread is not
// wanted, and the layer keeps no descriptors anyway). Any thread may call it.
//
// Ownership: with a PROCESS_INFORMATION record the caller gets it filled and owns both of its
// handles (the returned handle is its hProcess). Without one, the thread handle is closed here
// and the caller owns only the returned process handle. Failure: null, the thread id 0 and the
// last error of CreateProcessW.
#pragma once

#include "platform/base/WinTypes.h"
#include "platform/win32/Process.h"

// program may be null (the program is then the command line's first token); threadId and info
// may be null.
HANDLE LaunchProcess(LPCWSTR program, LPCWSTR commandLine, DWORD* threadId, PROCESS_INFORMATION* info);
