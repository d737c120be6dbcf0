// The process environment with Windows rules: variable names are case-insensitive (an exact
// match wins, else the first name that differs only in case), values are UTF-8 on the host and
// UTF-16 here. Variables every Windows process has read as Windows would when the host does
// not set them: SystemRoot and windir ("C:\Windows"), TEMP and TMP (GetTempPathW without its
// trailing "\"), USERPROFILE ($HOME in Windows form).
//
// The functions serialise among themselves; other code that changes the host environment while
// they run (setenv) is not protected against, as with the C library.
#pragma once

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

// The length without the terminator when the value fits, else the size needed with it; 0 with
// ERROR_ENVVAR_NOT_FOUND when the variable is not set.
DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);
// A NULL value removes the variable.
BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value);
// Replaces each "%NAME%" of a set variable by its value; any other "%" stays as it is. The
// size needed with the terminator (written only when it fits in size), or 0 on failure.
DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size);

namespace zbw {
// The variable's value, false when it is not set.
bool LookupEnvironment(const CString& name, CString& value);
}  // namespace zbw
