// The browse page of the add form: the sub-folders and profile files (".fsf") of one folder of the
// engine's computer, the special locations and the drives, so that a user can pick a profile.
//
// The folder is the query's CURRFOLDER, else the last one shown (the user's registry value
// "lfbrowse" under "software\ZBEngine\ZBEngine\Settings"), else "<documents>"; "<documents>" and
// "<desktop>" stand for the user's folders and are stored as they are written. Every name and path
// put on the page is HTML-escaped, and every path in a link is URL-encoded.
//
// The page lists the engine computer's folders, so only a client on that computer may browse: for
// any other client every browse tag becomes the refusal text and nothing is stored.
// Any thread may call it; the registry value is the only shared state.
#pragma once

#include "platform/base/CString.h"

// The refusal shown to a client that is not on the engine's computer.
constexpr LPCWSTR kBrowseRefused =
    u"<em>Browsing folders is only possible from the engine's own computer.</em>";

// Fills "#BROWSE_CURRENT_FOLDER#", "#BROWSE_FOLDERS#", "#BROWSE_PROFILES#", "#BROWSE_LOCATIONS#"
// and "#BROWSE_DRIVES#" of page.
void BuildBrowsePage(CString& page, const CString& currentFolder, bool localClient);
