// CHttpRunItemList: what the HTTP server and its actions ask of the engine's run-item list: its
// lock, the copy of the engine settings and the display snapshots a page shows, and the opening
// of a profile in the synchronisation program. The pages' run-item actions are not here: the
// HTTP actions hand them to the main window (EngineCall.h). The run-item list of the engine implements it and
// starts the server with itself, so this library never reaches up into the engine that owns it.
//
// Threads: any HTTP client thread may call it; each call takes the list's one lock for its own
// duration (re-entrant, so a caller may already hold it: a page's snapshot is GetSettings and
// UpdateHttpItemData under one hold of GetListMutex). Failures are the results below, never
// exceptions.
#pragma once

#include <memory>

#include "dovrane/model/EngineSettings.h"
#include "dovrane/model/ProfileToRunInfo.h"
#include "dovrane/threads/ZBProjectRunItemData.h"
#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"
#include "platform/classlib/Array.h"
#include "platform/classlib/SyncObject.h"

// What OpenProfileInSyncProgram passes to the program after the profile.
enum : int {
    OPENMODE_OPEN = 0,
    OPENMODE_AUTOCOMPARE = 1,
    OPENMODE_SETTINGS = 2,
};

class CHttpRunItemList {
   public:
    virtual ~CHttpRunItemList() = default;

    virtual CSyncObject& GetListMutex() = 0;
    virtual CEngineSettings GetSettings() = 0;
    // Appends one snapshot per item in list order; the caller empties the array first.
    virtual void UpdateHttpItemData(CArray<CZBProjectRunItemData>& snapshots) = 0;
    // The profile's run history as its page shows it, shared while it stays the same (the same
    // pointer is the same text); null when the profile is not in the list. Only the page that
    // shows it asks, so the history's text is never built for every profile of every snapshot.
    virtual std::shared_ptr<const CString> GetSharedLastRunsHtml(LPCWSTR name) = 0;

    // False with error set when the program is missing, the mode is unknown, the program did
    // not start or the profile is not in the list.
    virtual bool OpenProfileInSyncProgram(LPCWSTR name, int mode, CString& error) = 0;
};
