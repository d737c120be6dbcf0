// CProjectChangeEvent: the profile-file watcher of a run item. A CFileChangeEvent on the one
// profile file whose callback sends (not posts) the item's window the message it was registered
// with: wParam the change code (FILECHANGE_CHANGED, FILECHANGE_GONE, FILECHANGE_FIRST_SEEN),
// lParam 0. The watch thread waits in that send until the window has handled it.
//
// Threads: Register and the destructor belong to the item's thread (the main thread). The
// window's handler may disable the item, which stops this watcher from inside the callback's
// handling: the base then does not wait for the thread (see FileChangeEvent.h), nor does Register
// (a thread inside its send ends by itself afterwards), so neither can hang; the destructor waits
// for the thread, answering messages sent to its own thread meanwhile.
// Owned by the run item; the window must outlive the watch (the item's destructor ends it first).
#pragma once

#include <atomic>

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
    // Read by the watch thread, which may still be in a callback while Register sets them.
    std::atomic<HWND> m_hWndTarget{nullptr};
    std::atomic<UINT> m_uMessage{0};
};
