#include "platform/classlib/SingleLock.h"

CSingleLock::CSingleLock(CSyncObject* object, BOOL initialLock) : m_pObject(object) {
    if (initialLock) Lock();
}

CSingleLock::~CSingleLock() {
    Unlock();
}

BOOL CSingleLock::Lock(DWORD timeoutMs) {
    if (!m_bAcquired) m_bAcquired = m_pObject->Lock(timeoutMs);
    return m_bAcquired;
}

BOOL CSingleLock::Unlock() {
    if (m_bAcquired) m_bAcquired = !m_pObject->Unlock();
    return !m_bAcquired;
}

BOOL CSingleLock::Unlock(LONG count, LONG* previousCount) {
    if (m_bAcquired) m_bAcquired = !m_pObject->Unlock(count, previousCount);
    return !m_bAcquired;
}
