#include "dovrane/threads/ProjectChangeEvent.h"

#include "platform/win32/WinUser.h"

CProjectChangeEvent::~CProjectChangeEvent() {
    Stop();
    WaitForThreadEnd();
}

void CProjectChangeEvent::Register(const CString& path, HWND window, UINT message) {
    // Not waiting for a thread that is inside its callback: it may be sending to the main thread
    // while that waits for the list's mutex this caller holds. It ends by itself once the send
    // returns, without touching the files again.
    Stop();
    m_hWndTarget = window;
    m_uMessage = message;
    RemoveAllFiles();
    if (path.IsEmpty()) return;
    AddFile(path);
    Start();
}

void CProjectChangeEvent::OnFileChange(int code, const CString&) {
    const HWND target = m_hWndTarget;
    const UINT message = m_uMessage;
    if (target != nullptr && message != 0) SendMessageW(target, message, code, 0);
}
