// The folder lists a run item hands to its folder check and its folder monitor:
// "path|flag|path|flag|", built by the profile run item from its source and target folders, the
// flag being the folder's per-folder flag of the profile ("1" or "0"; the monitor reads it as
// "watch the subtree", the check does not read it).
//
// One rule for every reader: one trailing "|" is dropped and the rest split at each "|" into
// path, flag, path, flag ...; a path is trimmed of white space at both ends and gets a "\" unless
// it ends with "\" or "/"; an empty path is skipped (it would name the root of the current
// drive); a flag is read as a decimal number, anything but 0 being set; a last path without its
// flag is taken with the flag set, so every folder that is listed is checked and watched.
// Stateless; any thread.
#pragma once

#include <vector>

#include "platform/base/CString.h"

struct FOLDERLISTITEM {
    CString strPath;  // ends with "\" or "/"
    bool bFlag = true;
};

std::vector<FOLDERLISTITEM> ParseFolderList(const CString& list);

// Appends "path|1|" or "path|0|".
void AppendFolderListItem(CString& list, const CString& path, bool flag);
