#include "platform/classlib/Semaphore.h"

#include "platform/win32/SyncApi.h"

CSemaphore::CSemaphore(LONG initialCount, LONG maximumCount, LPCTSTR name, LPSECURITY_ATTRIBUTES attributes)
    : CSyncObject(name) {
    m_hObject = CreateSemaphoreW(attributes, initialCount, maximumCount, name);
}

BOOL CSemaphore::Unlock() {
    return Unlock(1, nullptr);
}

BOOL CSemaphore::Unlock(LONG count, LONG* previousCount) {
    return ReleaseSemaphore(m_hObject, count, previousCount);
}
