// Replacing a file by another one without a moment in which neither exists, so a crash or a
// failure in the middle never loses the file being replaced (the debug log's size cut uses it).
//
// ReplaceFileW is bound by name from KERNEL32 at each call; when it is missing or fails (it needs
// both files to exist), the replacement is renamed over the file with MoveFileExW
// (MOVEFILE_REPLACE_EXISTING, a copy beside the target across file systems). The old file is
// never deleted first: when both ways fail it is still there, unchanged. Any thread may call it.
#pragma once

#include "platform/base/WinTypes.h"

// True when the replacement now has the replaced file's name.
bool SafeReplaceFile(LPCWSTR replaced, LPCWSTR replacement);
