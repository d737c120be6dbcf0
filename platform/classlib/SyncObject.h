// CSyncObject: the class library's base of the synchronisation objects (CEvent, CMutex,
// CSemaphore, CCriticalSection) that CSingleLock locks through.
//
// Owns its kernel handle (m_hObject, closed by the destructor). When the handle could not be
// made, m_hObject is null and every Lock fails; the class library would throw instead. Lock
// waits on the handle and also counts an abandoned mutex as locked, because the caller owns it
// then and must release it. Any thread may lock; the object must outlive the waits on it.
#pragma once

#include "platform/base/WinTypes.h"
#include "platform/classlib/Object.h"

class CSyncObject : public CObject {
   public:
    ~CSyncObject() override;
    CSyncObject(const CSyncObject&) = delete;
    CSyncObject& operator=(const CSyncObject&) = delete;

    operator HANDLE() const { return m_hObject; }

    // TRUE when the object was taken within timeoutMs.
    virtual BOOL Lock(DWORD timeoutMs = INFINITE);
    virtual BOOL Unlock() = 0;
    // Semaphores release count; others ignore the count and report success.
    virtual BOOL Unlock(LONG count, LONG* previousCount = nullptr);

    HANDLE m_hObject = nullptr;

   protected:
    explicit CSyncObject(LPCTSTR name);
};
