// The engine's start at the user's logon, registered when it runs outside its Windows service
// and removed by the shutdown command. Before Vista: the value "ZBEngine" under HKEY_CURRENT_USER
// "SOFTWARE\Microsoft\Windows\CurrentVersion\Run" holding the quoted program path. On Vista and
// later: the per-user logon task of g_SchedulerTaskLib (common/SchedulerTaskLib.h).
//
// Failures are logged (g_DebugPrintf) and returned as false; the engine runs on either way.
// Main thread only.
#pragma once

// Adds (remove false) or removes the autostart for this user; true when it is in the asked state.
bool SetAutoStart(bool remove);
// The Vista-and-later half: the logon task. False without the library.
bool SetSchedulerTask(bool remove);
