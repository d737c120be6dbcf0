// CCriticalSection: the class library's critical section, a re-entrant lock of one process
// (CRITICAL_SECTION, SyncApi.h) with no handle. Unlike the class library's, Lock honours its
// time-out: 0 tries without waiting, INFINITE waits, anything between tries until the time is
// up, so "try, without waiting" through CSingleLock::Lock(0) never blocks.
#pragma once

#include "platform/classlib/SyncObject.h"
#include "platform/win32/SyncApi.h"

class CCriticalSection : public CSyncObject {
   public:
    CCriticalSection();
    ~CCriticalSection() override;

    operator CRITICAL_SECTION*() { return &m_sect; }

    BOOL Lock() { return Lock(INFINITE); }
    BOOL Lock(DWORD timeoutMs) override;
    BOOL Unlock() override;
    using CSyncObject::Unlock;

    CRITICAL_SECTION m_sect;
};
