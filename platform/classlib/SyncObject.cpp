#include "platform/classlib/SyncObject.h"

#include "platform/host/KernelObject.h"
#include "platform/win32/Wait.h"

CSyncObject::CSyncObject(LPCTSTR) {}

CSyncObject::~CSyncObject() {
    if (m_hObject) CloseHandle(m_hObject);
}

BOOL CSyncObject::Lock(DWORD timeoutMs) {
    DWORD result = WaitForSingleObject(m_hObject, timeoutMs);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0 ? TRUE : FALSE;
}

BOOL CSyncObject::Unlock(LONG, LONG*) {
    return TRUE;
}
