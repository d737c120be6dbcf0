#include "dovrane/model/SyncExitCode.h"

#include <iterator>

namespace {

const char16_t* const kExitCodeTexts[] = {
    u"OK.",
    u"Execution not completed: unspecified error.",
    u"Execution not completed.",
    u"Execution completed with file copy/delete errors.",
    u"Execution canceled by user.",
    u"Execution completed with conflicts. Some files were in conflict. These files need to be reconciled "
    u"manually.",
    u"Error opening the profile file. The profile file is invalid.",
    u"Profile contains incorrect settings.",
    u"Unable to open log file. It may be inaccessible or in use by another Zebrodyne process.",
    u"Unable to open tracking database. It may be inaccessible or in use by another Zebrodyne process.",
    u"Backup completed with warning. Some files are present both in source and in target but are newer in "
    u"target. "
    u"If you want to overwrite these files, use the profile option 'Replace newer target files with older "
    u"source "
    u"files'",
    u"Source and Target are different.",
    u"Error saving snapshot file.",
    u"Source folder not found.",
    u"Target folder not found.",
    u"Archive folder not found.",
    u"Profile file (.fsf) not found.",
    u"Execution method not specified in this profile.",
    u"Errors on command line.",
    u"Profile settings have changed since the last time the tracking database was saved. Synchronization "
    u"tracking "
    u"database in the profile settings needs to be reset.",
};

}  // namespace

CString GetExitCodeText(DWORD exitCode) {
    if (exitCode >= std::size(kExitCodeTexts)) return u"Unspecified";
    return kExitCodeTexts[exitCode];
}
