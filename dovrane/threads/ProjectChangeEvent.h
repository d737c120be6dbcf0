// CProjectChangeEvent: the profile-file watcher of a run item. A CFileChangeEvent on the one
// profile file whose callback sends (not posts) the item's window the message it was registered
// with: wParam the change code (FILECHANGE_CHANGED, FILECHANGE_GONE, FILECHANGE_FIRST_SEEN),
// lParam 0. The watch thread waits in that send until the window has handled it.
//
// Threads: Register and the destructor belong to the item's thread (the main thread). The
// window's handler may disable the item, which stops this watcher from inside the callback's
// handling: the base then does not wait for the thread (see FileChangeEvent.h), and Register
// answers messages sent to its thread while it waits, so neither can hang.
// Owned by the run item; the window must outlive the watch (the item's destructor ends it first).
#pragma once

#include "dovrane/threads/FileChangeEvent.h"
#include "platform/base/WinTypes.h"

class CProjectChangeEvent : public CFileChangeEvent {
   public:
    CProjectChangeEvent() = default;
    ~CProjectChangeEvent() override;

    // Ends a running watch, forgets the watched file and watches path (when not empty) for
    // window and message.
    void Register(const CString& path, HWND window, UINT message);

    void OnFileChange(int code, const CString& path) override;

   private:
    HWND m_hWndTarget = nullptr;
    UINT m_uMessage = 0;
};
