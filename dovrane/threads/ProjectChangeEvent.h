// CProjectChangeEvent: the profile-file watcher of a run item. A change of the one watched
// profile file is sent (not posted) to the item's window with the message it was registered
// with: wParam the change code (FILECHANGE_CHANGED, FILECHANGE_GONE, FILECHANGE_FIRST_SEEN),
// lParam 0. The watching is done by the process's shared CProfileFileWatch, whose thread waits
// in the send until the window has handled it; an idle item holds no thread or descriptor.
//
// Threads: Register and the destructor may be called from any thread, also from the window's
// handler of the send (the item disables itself there); neither waits for the watch thread. A
// send already under way may still reach the window after Register changed the target; the
// item's destructor registers nothing before it destroys the window, and a send to a destroyed
// window runs no handler.
#pragma once

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

class CProjectChangeEvent {
   public:
    CProjectChangeEvent() = default;
    CProjectChangeEvent(const CProjectChangeEvent&) = delete;
    CProjectChangeEvent& operator=(const CProjectChangeEvent&) = delete;
    ~CProjectChangeEvent();

    // Forgets the watched file and watches path (when not empty) for window and message.
    void Register(const CString& path, HWND window, UINT message);
};
