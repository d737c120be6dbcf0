// CSingleLock: takes one CSyncObject for a scope; the destructor releases what it still holds.
// Lock on a lock that already holds its object returns TRUE without taking it again, so one
// Unlock always balances it. Used by one thread at a time; the object must outlive it.
#pragma once

#include "platform/classlib/SyncObject.h"

class CSingleLock {
   public:
    explicit CSingleLock(CSyncObject* object, BOOL initialLock = FALSE);
    ~CSingleLock();
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;

    BOOL Lock(DWORD timeoutMs = INFINITE);
    // TRUE when the object is no longer held by this lock.
    BOOL Unlock();
    BOOL Unlock(LONG count, LONG* previousCount = nullptr);
    BOOL IsLocked() const { return m_bAcquired; }

   private:
    CSyncObject* m_pObject;
    BOOL m_bAcquired = FALSE;
};
