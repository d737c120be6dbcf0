#include "platform/classlib/Event.h"

#include "platform/win32/SyncApi.h"

CEvent::CEvent(BOOL initiallyOwn, BOOL manualReset, LPCTSTR name, LPSECURITY_ATTRIBUTES attributes)
    : CSyncObject(name) {
    m_hObject = CreateEventW(attributes, manualReset, initiallyOwn, name);
}

BOOL CEvent::SetEvent() {
    return ::SetEvent(m_hObject);
}

BOOL CEvent::ResetEvent() {
    return ::ResetEvent(m_hObject);
}
