// The emulated task scheduler's store: one folder tree under zbw::MachineDir()/tasks, a host
// folder per task folder and a file "<name>.task" per task (UTF-8 "Key=Value" lines, with "\\",
// "\t" and "\n" escaped), plus "<name>.task.run" listing the process ids the task has started.
//
// Task paths use "\" between names; empty names are skipped, so "\A\B", "A\B" and "A\\B" are
// one path. "." and ".." and names holding "/" are refused, so no path leaves the store. Names
// match exactly (case-sensitive, where Windows ignores case).
//
// Writes replace a file through a temporary and a rename, so a reader never sees half a task;
// two writers of one task race and the last one wins (no lock). Any thread may call these.
#pragma once

#include <string>
#include <vector>

#include "platform/base/CString.h"

namespace zbw {

struct TASKTRIGGERDATA {
    int type = 0;
    CString id;
    CString startBoundary;
    CString userId;
    bool enabled = true;
};

struct TASKACTIONDATA {
    int type = 0;
    CString path;
    CString arguments;
    CString workingDirectory;
};

// Defaults are those of a new Windows task definition.
struct TASKDATA {
    CString author;
    CString description;
    int runLevel = 0;
    CString principalUser;
    bool enabled = true;
    bool startWhenAvailable = false;
    bool disallowStartIfOnBatteries = true;
    bool allowHardTerminate = true;
    CString executionTimeLimit = u"PT72H";
    std::vector<TASKTRIGGERDATA> triggers;
    std::vector<TASKACTIONDATA> actions;
};

// Appends the names of path to names; false when a name is not allowed.
bool SplitTaskPath(LPCWSTR path, std::vector<CString>& names);
// "\A\B" for names {A, B}; "\" for none.
CString JoinTaskPath(const std::vector<CString>& names);
// The host folder of a task folder (the store's root for none).
std::string TaskFolderHostPath(const std::vector<CString>& names);
// The host file of a task in a host folder.
std::string TaskHostFile(const std::string& folder, const CString& name);

bool ReadTaskFile(const std::string& file, TASKDATA& data);
bool WriteTaskFile(const std::string& file, const TASKDATA& data);

// Process ids the task started that still run.
std::vector<int> LiveTaskProcesses(const std::string& taskFile);
void AddTaskProcess(const std::string& taskFile, int pid);
// Ends (SIGTERM) every live process of the task and forgets them.
void StopTaskProcesses(const std::string& taskFile);

}  // namespace zbw
