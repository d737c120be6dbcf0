#include "dovrane/threads/ProjectChangeEvent.h"

#include "dovrane/threads/ProfileFileWatch.h"

CProjectChangeEvent::~CProjectChangeEvent() {
    CProfileFileWatch::Instance().Unsubscribe(this);
}

void CProjectChangeEvent::Register(const CString& path, HWND window, UINT message) {
    CProfileFileWatch::Instance().Subscribe(this, path, window, message);
}
