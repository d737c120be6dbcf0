// CHttpRunItemList: what the HTTP server and its actions ask of the engine's run-item list: its
// mutex, the copy of the engine settings and the display snapshots a page shows, and the profile
// and category actions of the pages. The run-item list of the engine implements it and starts the
// server with itself, so this library never reaches up into the engine that owns it.
//
// Threads: any HTTP client thread may call it; each call takes the list's mutex for its own
// duration (re-entrant, so a caller may already hold it). Failures are the results below, never
// exceptions.
#pragma once

#include "dovrane/model/EngineSettings.h"
#include "dovrane/model/ProfileToRunInfo.h"
#include "dovrane/threads/ZBProjectRunItemData.h"
#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"
#include "platform/classlib/Array.h"
#include "platform/classlib/Mutex.h"

// What OpenProfileInSyncProgram passes to the program after the profile.
enum : int {
    OPENMODE_OPEN = 0,
    OPENMODE_AUTOCOMPARE = 1,
    OPENMODE_SETTINGS = 2,
};

class CHttpRunItemList {
   public:
    virtual ~CHttpRunItemList() = default;

    virtual CMutex& GetListMutex() = 0;
    virtual CEngineSettings GetSettings() = 0;
    // Appends one snapshot per item in list order; the caller empties the array first.
    virtual void UpdateHttpItemData(CArray<CZBProjectRunItemData>& snapshots) = 0;

    // Names match without regard to case; an empty category matches all. The profile actions
    // are false when the profile is not in the list.
    // RUNPROFILE_STARTED, _RUNNING, _NOT_ACTIVE or _NOT_FOUND (dovrane/threads/RunItemOwner.h).
    virtual int RunProfile(LPCWSTR name, int reason, const CProfileRunList* runList) = 0;
    virtual void RunCategory(LPCWSTR category) = 0;
    virtual void RunCategoryInSequence(LPCWSTR category) = 0;
    virtual bool StopProfile(LPCWSTR name) = 0;
    virtual void StopCategory(LPCWSTR category) = 0;
    virtual bool EnableProfile(LPCWSTR name) = 0;
    virtual void EnableCategory(LPCWSTR category) = 0;
    virtual bool DisableProfile(LPCWSTR name) = 0;
    virtual void DisableCategory(LPCWSTR category) = 0;
    virtual bool MoveProfileUp(LPCWSTR name, LPCWSTR category) = 0;
    virtual bool MoveProfileDown(LPCWSTR name, LPCWSTR category) = 0;
    virtual bool ResetProfileLastRuns(LPCWSTR name) = 0;
    // False with error set when the program is missing, the mode is unknown, the program did
    // not start or the profile is not in the list.
    virtual bool OpenProfileInSyncProgram(LPCWSTR name, int mode, CString& error) = 0;
};
