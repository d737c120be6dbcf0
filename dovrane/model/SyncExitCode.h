// SyncExitCode: the exit codes of the synchronisation program and their result texts, shown in
// run summaries and stored with each run. Stateless; any thread may call GetExitCodeText.
#pragma once

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

enum SyncExitCode : DWORD {
    SYNC_OK = 0,
    SYNC_UNSPECIFIED_ERROR = 1,
    SYNC_NOT_COMPLETED = 2,
    SYNC_COPY_DELETE_ERRORS = 3,
    SYNC_CANCELED = 4,
    SYNC_CONFLICTS = 5,
    SYNC_PROFILE_INVALID = 6,
    SYNC_INCORRECT_SETTINGS = 7,
    SYNC_LOG_FILE = 8,
    SYNC_TRACKING_DATABASE = 9,
    SYNC_NEWER_IN_TARGET = 10,
    SYNC_DIFFERENT = 11,
    SYNC_SNAPSHOT = 12,
    SYNC_NO_SOURCE = 13,
    SYNC_NO_TARGET = 14,
    SYNC_NO_ARCHIVE = 15,
    SYNC_NO_PROFILE = 16,
    SYNC_NO_METHOD = 17,
    SYNC_COMMAND_LINE = 18,
    SYNC_SETTINGS_CHANGED = 19,
};

// The result text of an exit code; "Unspecified" for any code outside 0 to 19.
CString GetExitCodeText(DWORD exitCode);
