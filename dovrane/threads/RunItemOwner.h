// CRunItemOwner: what a run item asks of the run-item list that holds it: the lock under which
// the item changes what other threads read of it, and the look-up and start of another profile
// by name (without regard to case). Implemented by the run-item list; the run item calls it on
// the main thread.
#pragma once

#include "dovrane/model/ProfileToRunInfo.h"
#include "platform/base/WinTypes.h"
#include "platform/classlib/SyncObject.h"

// Answers of RunProfile.
enum RUNPROFILERESULT {
    RUNPROFILE_STARTED = 0,
    RUNPROFILE_NOT_FOUND = 1,
    RUNPROFILE_NOT_ACTIVE = 2,
    RUNPROFILE_RUNNING = 3,
};

class CRunItemOwner {
   public:
    virtual ~CRunItemOwner() = default;

    // The list's one lock (re-entrant): readers on other threads hold it while they copy, the
    // main thread while it writes.
    virtual CSyncObject& GetStateLock() = 0;
    virtual bool ProfileExists(LPCWSTR name) = 0;
    // Starts the profile with the reason and, when given, the run list it carries on.
    virtual int RunProfile(LPCWSTR name, int reason, const CProfileRunList* runList) = 0;
};
