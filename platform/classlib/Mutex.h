// CMutex: the class library's mutex over CreateMutexW (SyncApi.h), re-entrant for its owner
// thread, named or not. Lock waits for it (with a time-out if given); Unlock releases one
// level and fails for a thread that does not own it.
#pragma once

#include "platform/classlib/SyncObject.h"

class CMutex : public CSyncObject {
   public:
    explicit CMutex(BOOL initiallyOwn = FALSE, LPCTSTR name = nullptr,
                    LPSECURITY_ATTRIBUTES attributes = nullptr);

    BOOL Unlock() override;
    using CSyncObject::Unlock;
};
