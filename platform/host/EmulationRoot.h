// Where the layer keeps everything that lives outside one process: registry hives, the event
// log, service records, the task store, named objects, the window directory, control endpoints
// and the drive map. The root is $ZBW_ROOT (default $HOME/.zbwin) with a machine part and a
// part for the current user. Paths are host paths in UTF-8; folders are made on first use.
// Thread-safe; the environment is read at every call so tests can point it elsewhere.
#pragma once

#include <string>

namespace zbw {

std::string RootDir();
// $root/machine: machine-wide state (HKLM, "Global\" objects, event log, services, tasks).
std::string MachineDir();
// $root/user-<uid>: the current user's state (HKCU, "Local\" and plain object names).
std::string UserDir();
// The same two folders, not made: for callers that look often and make what they need themselves.
std::string MachinePath();
std::string UserPath();
// A subfolder of one of the above, made when missing.
std::string MachineSubdir(const std::string& name);
std::string UserSubdir(const std::string& name);

// mkdir -p; true when the folder exists afterwards.
bool MakeHostDirs(const std::string& path);

}  // namespace zbw
