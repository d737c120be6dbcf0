// The exports of the task-scheduler library (libjorvell.so, loaded as "jorvell.dll"): register,
// query, delete, stop and enable per-user logon tasks, and report the process's integrity level.
//
// Every task function writes one message into the caller's buffer on failure (and on a warning),
// cut to the buffer's length with a terminating zero; on success the buffer is left alone. The
// paths are relative to the scheduler's root folder. Flags count by their low byte only.
// Nothing is kept between calls and nothing is thrown or logged.
//
// Threads: each call works on the calling thread. All but DLL_StopSchedulerTask initialise COM
// (multithreaded) and its process security themselves and uninitialise it on return, so a thread
// that holds COM already gets 1 ("CoInitializeSecurity failed"). DLL_StopSchedulerTask needs a
// thread that has initialised COM; the program must then export its symbols (ENABLE_EXPORTS) so
// that the library sees the program's COM state.
#pragma once

#include "platform/base/WinTypes.h"

// Return codes of the task functions.
enum JORVELL_RESULT {
    JORVELL_OK = 0,
    JORVELL_COM_FAILED = 1,
    JORVELL_CONNECT_FAILED = 2,
    JORVELL_NO_ROOT_FOLDER = 3,
    JORVELL_CREATE_FAILED = 4,
    JORVELL_NO_TASK = 5,
    JORVELL_DELETE_FAILED = 6,
    JORVELL_STOP_FAILED = 7,
    JORVELL_ENABLE_FAILED = 8
};

extern "C" {

// A logon task for the current user starting program at the highest run level; a task of that
// path is replaced. hr receives each step's result (the last one on return).
int DLL_CreateSchedulerTask(HRESULT* hr, LPCWSTR taskPath, LPCWSTR programPath, LPCWSTR author,
                            LPWSTR message, int messageLength);
// 0 when the task exists, 5 when not.
int DLL_SchedulerTaskExists(LPCWSTR taskPath, LPWSTR message, int messageLength);
// A task, or with isFolder a folder (optionally after deleting the tasks in it): 0 or 6.
int DLL_DeleteSchedulerTask(LPCWSTR path, BOOL isFolder, BOOL deleteTasksFirst, LPWSTR message,
                            int messageLength);
// Ends the task's running instances: 0, 5 or 7.
int DLL_StopSchedulerTask(LPCWSTR taskPath, LPWSTR message, int messageLength);
// With set, makes the task's enabled flag *enabled; else stores it there (nonzero: enabled).
int DLL_EnableSchedulerTask(LPCWSTR taskPath, int* enabled, BOOL set, LPWSTR message, int messageLength);
// 1 low, 2 medium, 3 high, 4 system; 0 when the token cannot be read.
int DLL_GetProcessIntegrityLevel();

}  // extern "C"

typedef int (*PFN_DLL_CreateSchedulerTask)(HRESULT*, LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR, int);
typedef int (*PFN_DLL_SchedulerTaskExists)(LPCWSTR, LPWSTR, int);
typedef int (*PFN_DLL_DeleteSchedulerTask)(LPCWSTR, BOOL, BOOL, LPWSTR, int);
typedef int (*PFN_DLL_StopSchedulerTask)(LPCWSTR, LPWSTR, int);
typedef int (*PFN_DLL_EnableSchedulerTask)(LPCWSTR, int*, BOOL, LPWSTR, int);
typedef int (*PFN_DLL_GetProcessIntegrityLevel)();

// The level of a mandatory-label RID.
inline int IntegrityLevelFromRid(DWORD rid) {
    if (rid <= 0x1FFF) return 1;
    if (rid <= 0x2FFF) return 2;
    if (rid < 0x4000) return 3;
    return 4;
}
