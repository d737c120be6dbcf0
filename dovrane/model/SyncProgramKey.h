// Where the synchronisation program records its installation (HKLM, value "path" and its
// build), and the text the engine shows when it is not there. Plain constants; any thread.
#pragma once

inline constexpr char16_t kSyncProgramKey[] = u"software\\Zebrodyne Pro 2\\Zebrodyne Pro";
inline constexpr char16_t kSyncProgramMissing[] =
    u"Unable to locate Zebrodyne Pro on this computer. Please install Zebrodyne Pro.";
