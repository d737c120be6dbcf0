// CFileChangeEvent: watches single files for a later last-write time, for their disappearance
// and for their first appearance, with one change notification per folder that holds a watched
// file. A watch thread waits on the notifications, lets a folder's changes settle (1000 ms
// without a further change), compares each file of that folder with what it saw before and
// calls OnFileChange on the watch thread.
//
// Threads: AddFile, RemoveFile, RemoveAllFiles, Start, Stop and the destructor belong to the
// owner's thread. The files and folders are locked, so RemoveFile may run while the thread
// watches (it uses the shorter folder list from its next pass); AddFile restarts a running
// thread when the file's folder is new, so that it watches the new list (a file in a folder
// already watched is looked at from the next examination on). The callback runs without the
// lock.
//
// Stopping from the callback's handling: a subclass may deliver the callback by a message sent
// to the owner, whose handler may stop the watcher. Stop therefore waits for the thread only
// while the thread is not inside the callback; otherwise it returns at once, and the thread ends
// by itself when the callback returns, without touching the files again. The destructor waits
// until the thread has ended; while the thread is in the callback it answers messages sent to
// the destroying thread, so a callback that sends to it cannot hang it.
//
// Failures: a folder whose notification cannot be made (it is missing, say) and the folders
// beyond the first kMaxFolders, which one wait cannot take, are left out of the wait until the
// folder list changes, so that they do not end the watch of the others.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dovrane/threads/FileInfo.h"
#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

// Codes of CFileChangeEvent::OnFileChange.
enum FILECHANGE {
    FILECHANGE_CHANGED = 0,     // the last-write time moved forward
    FILECHANGE_GONE = 1,        // the file cannot be opened any more; it is no longer watched
    FILECHANGE_FIRST_SEEN = 2,  // the file was read for the first time
};

class CFileChangeEvent {
   public:
    // The folders one watch thread can wait on, beside its stop event.
    static constexpr size_t kMaxFolders = MAXIMUM_WAIT_OBJECTS - 1;

    CFileChangeEvent();
    CFileChangeEvent(const CFileChangeEvent&) = delete;
    CFileChangeEvent& operator=(const CFileChangeEvent&) = delete;
    virtual ~CFileChangeEvent();

    // Called on the watch thread; the base does nothing.
    virtual void OnFileChange(int code, const CString& path);

    // Ignores an empty path and one already watched.
    void AddFile(const CString& path);
    void RemoveFile(const CString& path);
    void RemoveAllFiles();
    int GetFileCount() const;
    int GetFolderCount() const;
    // Whether a watched file lies in folder (as CFileInfo::FolderOf gives it).
    bool WatchesFolder(const CString& folder) const;

    // Starts the watch thread unless it is wanted already; true when it runs.
    bool Start();
    // Ends the watch thread (see above about the callback).
    void Stop();
    bool IsRunning() const { return m_bRunning; }
    bool IsThreadActive() const { return m_nThreadActive > 0; }
    // Whether the running watch thread has its notification for folder (as CFileInfo::FolderOf
    // gives it) in place: a change made from then on is seen.
    bool IsWatchInPlace(const CString& folder) const;

   protected:
    // Waits until no watch thread runs, answering messages sent to the caller meanwhile. A
    // subclass whose callback uses its own members calls Stop and this first in its destructor.
    void WaitForThreadEnd();

    HANDLE m_hStopEvent;

   private:
    struct FOLDERENTRY {
        CString folder;
        int files = 0;
    };
    struct THREADPARAM {
        CFileChangeEvent* watcher;
        unsigned generation;
    };
    // The notifications made for one folder list; a folder that could not be watched has none.
    struct WATCHSET {
        std::vector<CString> folders;
        std::vector<HANDLE> notifications;
        std::vector<CString> notified;  // the folder of each notification
    };
    struct ORDINAL {
        bool operator()(const CString& a, const CString& b) const { return a.Compare(b) < 0; }
    };

    static UINT WatchThread(LPVOID param);
    void Watch(unsigned generation);
    // One pass: false when the thread is to end.
    bool WatchPass(unsigned generation, WATCHSET& set);
    // Waits until the folder's changes have settled; false on the stop event.
    bool Settle(HANDLE notification);
    // Compares the folder's files; false when the thread is to end.
    bool Examine(unsigned generation, const CString& folder);
    // The change of one file and its code, or -1; takes a gone file out of the watch.
    int CheckFile(const CString& path);
    bool Current(unsigned generation) const { return m_generation == generation; }
    void ForgetFile(std::map<CString, std::unique_ptr<CFileInfo>, ORDINAL>::iterator file);
    std::vector<FOLDERENTRY>::iterator FindFolder(const CString& folder);
    // Makes the notifications of set.folders, as far as it can.
    static void Notify(WATCHSET& set);
    std::vector<CString> Folders() const;

    mutable std::mutex m_lock;
    std::map<CString, std::unique_ptr<CFileInfo>, ORDINAL> m_files;
    std::vector<FOLDERENTRY> m_folders;
    std::vector<CString> m_inPlace;  // the folders the current thread has notifications for
    std::atomic<bool> m_bRunning{false};
    std::atomic<int> m_nThreadActive{0};
    std::atomic<unsigned> m_generation{0};
    std::atomic<bool> m_bInCallback{false};
};
