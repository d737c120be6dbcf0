// Expansion of the variables a profile folder may contain: "<date>", "<time>" and their parts,
// "<computer>", "<user>", "<source>", "<sourcewithoutdrive>", "<cd>", "<cdwithoutdrive>" and any
// environment variable in angle brackets (names in any case). The profile run item expands each
// source folder, then each target folder with its expanded source, to know what to watch.
//
// Kept of Windows: the name buffers (16 characters for the computer, 257 for the user, 259 for
// the current folder); a name that does not fit gives "computer_unknown" / "user_unknown", a
// current folder that does not fit counts as unset. Paths stay in Windows form (drive or UNC).
// Any thread may call it; it reads the environment, the current folder and the account names at
// each call. Failure is a message in error (empty on success) and an empty result; the caller
// keeps the unexpanded folder. A value that itself holds a token is expanded again, but at most
// MaxPathVariableRounds times and never beyond MaxExpandedPathLength units, so a variable that
// names itself, or values that grow at each round, end with an error instead of without end
// ("invalid parameter syntax, too many parameters" / "..., parameter <x> expands too far").
#pragma once

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"
#include "platform/classlib/OleDateTime.h"

constexpr int MaxPathVariableRounds = 64;
constexpr int MaxExpandedPathLength = 32767;

// time: the moment for the date and time tokens (an invalid one gives 0, and -1 for the hour);
// source: the expanded source folder for "<source>" and "<sourcewithoutdrive>", or null.
void ExpandPathVariables(LPCWSTR path, const COleDateTime& time, CString& result, CString* error = nullptr,
                         LPCWSTR source = nullptr);
