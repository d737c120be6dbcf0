#include "dovrane/threads/ProjectChangeEvent.h"

#include "platform/win32/WinUser.h"

CProjectChangeEvent::~CProjectChangeEvent() {
    Stop();
    WaitForThreadEnd();
}

void CProjectChangeEvent::Register(const CString& path, HWND window, UINT message) {
    Stop();
    WaitForThreadEnd();
    m_hWndTarget = window;
    m_uMessage = message;
    RemoveAllFiles();
    if (path.IsEmpty()) return;
    AddFile(path);
    Start();
}

void CProjectChangeEvent::OnFileChange(int code, const CString&) {
    if (m_hWndTarget != nullptr && m_uMessage != 0) SendMessageW(m_hWndTarget, m_uMessage, code, 0);
}
