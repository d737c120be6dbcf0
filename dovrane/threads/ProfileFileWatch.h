// CProfileFileWatch: the one watch of profile files that every run item's profile watcher
// (CProjectChangeEvent) shares, so that a thousand profiles cost a thread and a change
// notification per folder group, not per profile. Files are watched by CFileChangeEvent groups
// of up to CFileChangeEvent::kMaxFolders folders each; a change of a file is sent (not posted)
// to every window subscribed to that path, with the subscriber's message, wParam the change code
// (FILECHANGE_*) and lParam 0. A group's thread waits in each send until the window has handled
// it.
//
// Threads: Subscribe and Unsubscribe may be called from any thread, also from the handler of a
// send; they never wait for a group's thread that is inside a send. A send already under way
// when its subscriber goes may still reach the window: one to a destroyed window is answered 0
// without a handler. The watch is made on first use and never destroyed, since group threads
// may still be sending while the process ends; groups stay for reuse when their files go.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

class CFileChangeEvent;

class CProfileFileWatch {
   public:
    static CProfileFileWatch& Instance();

    // Watches path for subscriber in place of what it watched before (nothing when path is
    // empty).
    void Subscribe(const void* subscriber, const CString& path, HWND window, UINT message);
    void Unsubscribe(const void* subscriber);
    // Whether a change of path made from now on is seen.
    bool IsWatchInPlace(const CString& path) const;
    // Watch threads, one per group.
    int GetGroupCount() const;

   private:
    class CGroup;
    struct TARGET {
        const void* subscriber;
        HWND window;
        UINT message;
    };
    struct WATCHEDPATH {
        CGroup* group = nullptr;  // null while the file is gone (out of its group's watch)
        std::vector<TARGET> targets;
    };
    struct ORDINAL {
        bool operator()(const CString& a, const CString& b) const { return a.Compare(b) < 0; }
    };

    CProfileFileWatch() = default;
    // A group's thread: sends the change to the path's subscribers.
    void Deliver(int code, const CString& path);
    // Call under the lock.
    void UnsubscribeLocked(const void* subscriber);
    void WatchLocked(const CString& path, WATCHEDPATH& watched);
    CGroup& GroupForLocked(const CString& path);

    mutable std::mutex m_lock;
    std::vector<std::unique_ptr<CGroup>> m_groups;
    std::map<CString, WATCHEDPATH, ORDINAL> m_paths;
    std::map<const void*, CString> m_subscribed;  // subscriber -> its path
};
