#include "platform/classlib/Mutex.h"

#include "platform/win32/SyncApi.h"

CMutex::CMutex(BOOL initiallyOwn, LPCTSTR name, LPSECURITY_ATTRIBUTES attributes) : CSyncObject(name) {
    m_hObject = CreateMutexW(attributes, initiallyOwn, name);
}

BOOL CMutex::Unlock() {
    return ReleaseMutex(m_hObject);
}
