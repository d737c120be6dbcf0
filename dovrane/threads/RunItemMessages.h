// The messages, timer ids, run states and run reasons that the run items, their worker jobs, the
// run-item list and the pages share. Plain constants; any thread.
#pragma once

#include "platform/win32/WinUser.h"

// Posted by the folder monitor: wParam a FOLDERMONNOTIFY code, lParam its detail.
#define WM_RUNITEM_CHANGES (WM_USER + 101)
// Posted by the execute job: wParam an EXECNOTIFY code, lParam the job's thread id.
#define WM_RUNITEM_EXECUTE (WM_USER + 102)
// Sent by the profile-file watcher: wParam 0 changed, 1 gone, 2 first seen.
#define WM_PROJECT_CHANGED (WM_USER + 104)

// Timers of a run item's window.
enum : UINT_PTR {
    TIMER_REENABLE = 2,          // 60000 ms: retry enabling a profile in error
    TIMER_PROGRESS = 3,          // 1000 ms while a run is under way
    TIMER_ACCESS_RETRY = 1127,   // 1000 ms, doubling up to 60000
    TIMER_DEVICE_CHANGE = 1129,  // one shot, 3000 ms after a device change
    TIMER_SCHEDULE = 1130,       // re-armed to fall on each whole minute
};

enum : UINT {
    REENABLE_INTERVAL_MS = 60000,
    PROGRESS_INTERVAL_MS = 1000,
    ACCESS_RETRY_FIRST_MS = 1000,
    ACCESS_RETRY_MAX_MS = 60000,
    DEVICE_CHANGE_DELAY_MS = 3000,
    SCHEDULE_FIRST_MS = 10000,
};

// Run states; 1, 2, 3 and 6 are active.
enum RUNSTATE {
    RUNSTATE_DISABLED = 0,
    RUNSTATE_ENABLED = 1,
    RUNSTATE_SUCCEEDED = 2,
    RUNSTATE_FAILED = 3,
    RUNSTATE_RUNNING = 4,
    RUNSTATE_ERROR = 5,
    RUNSTATE_CHANGES = 6,
    RUNSTATE_NOT_ACCESSIBLE = 7,
};

enum RUNREASON {
    RUNREASON_MANUAL = 0,
    RUNREASON_SCHEDULED = 1,
    RUNREASON_MISSED = 2,
    RUNREASON_CHANGES = 3,
    RUNREASON_RERUN = 4,
    RUNREASON_ACCESSIBLE = 5,
    RUNREASON_STARTUP = 6,
};
