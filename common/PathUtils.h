// Taking Windows paths apart and shortening them for display, on the text alone (no file system
// access). Drive paths ("C:\dir\f.txt"), UNC paths ("\\server\share\dir\f.txt") and both long-path
// forms ("\\?\C:\..." and "\\?\UNC\server\share\...") are understood; "/" separates like "\".
// Stateless; any thread may call them on its own buffers.
//
// PATHPARTS has fixed fields, and every copy into them is cut to the field's size (the last
// character is always the terminating zero), so an overlong part is truncated rather than written
// past its field. The backslash count that makes a bare share ("\\server\share") a share root is
// taken on the path without its long-path prefix, so "\\?\UNC\server\share" splits like
// "\\server\share".
//
// ShortenPath returns a text that fits the maximum whenever it keeps a head and "\...": the head
// form is used only when head, "\...", the separator and the last component all fit.
#pragma once

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

struct PATHPARTS {
    // Clears every part, then splits path when one is given.
    explicit PATHPARTS(LPCWSTR path = nullptr);

    WCHAR szPath[260];    // the path as given, at most 258 characters (+ "\" for a bare share)
    WCHAR szDrive[3];     // "C:" or empty
    WCHAR szDir[256];     // with leading and trailing separator; for UNC what follows the share
    WCHAR szName[256];    // last component without its extension
    WCHAR szExt[256];     // from the last dot of the last component, or empty
    WCHAR szShare[256];   // UNC share, or empty
    WCHAR szServer[256];  // UNC server, or empty
};

// Fills every part of parts (clearing them first); false only for a null path.
bool SplitLongPath(PATHPARTS& parts, LPCWSTR path);

// Turns a path into a relative folder path: every ":" goes, each "\\" becomes "\", and a leading
// "\" is dropped ("C:\a\b" becomes "C\a\b", "\\srv\x" becomes "srv\x").
void PathToSubfolder(CString& path);

// Shortens the zero-terminated path in buffer, in place, to at most maxChars characters where it
// can: unchanged when it fits; else head + "\..." + the tail of whole components that fits (head
// = "C:" or "\\server", plus the next component when the folder part is longer than 3
// characters); else the last component alone, which may itself be longer than maxChars.
void ShortenPath(LPWSTR buffer, int maxChars);
