// CRunItemOwner: what a run item asks of the run-item list that holds it: the list's mutex, and
// the look-up and start of another profile by name (without regard to case). Implemented by the
// run-item list; the run item calls it on the main thread with the mutex held.
#pragma once

#include "dovrane/model/ProfileToRunInfo.h"
#include "platform/base/WinTypes.h"
#include "platform/classlib/Mutex.h"

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

    virtual CMutex& GetListMutex() = 0;
    virtual bool ProfileExists(LPCWSTR name) = 0;
    // Starts the profile with the reason and, when given, the run list it carries on.
    virtual int RunProfile(LPCWSTR name, int reason, const CProfileRunList* runList) = 0;
};
