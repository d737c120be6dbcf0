// The folders the engine keeps its files in, and creating a folder with all its parents.
//
// The shell functions are bound by name at each call (LateBound.h), so a system without them
// gives the empty text, the result for any failure. The folder texts are returned by value:
// nothing is cached, so two threads may ask at once.
// Paths are Windows paths; CreateDirectoryTree works on backslash-separated paths only.
#pragma once

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

// The user's application-data folder + "\ZBEngine\" (with the trailing backslash), created when
// missing; empty when the folder cannot be found or made.
CString GetEngineDataFolder();

// The user's documents and desktop folders (SHGetFolderPathW from shell32, else SHFolder), or empty.
CString GetDocumentsFolder();
CString GetDesktopFolder();

// Makes every missing folder of the folder that holds the path's last component (the text up to
// the last backslash, so "C:\a\b\" makes C:\a\b). True when that folder exists afterwards, and at
// once for a drive root.
bool CreateDirectoryTree(LPCWSTR path);
