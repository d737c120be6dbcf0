// CFolderMonThreadJob: the folder change monitor of one run item. Its thread watches the item's
// source and target folders with change notifications, lets a burst of changes settle and then
// posts the owner window that changes were detected.
//
// The folder list is "path|flag|path|flag|..." read by the rule of FolderList.h; a set flag
// watches the subtree. Folders that cannot be reached at the start are skipped without a
// message. A watched folder that goes away (deleted, moved, or its drive removed) is looked for
// again every second, and when it is back it is watched again and its return reported as a change,
// so a folder deleted and made anew, however quickly, is not lost to the monitor.
//
// Notifications (posted, never waited for): the owner's message with wParam a FOLDERMONNOTIFY
// code and lParam the monitor thread's id, except that a folder that cannot be watched gives
// (FOLDERMON_ENDED, 1) first, with the error flag, its kind and the failing folder set before it
// is posted. One wait covers at most MAXIMUM_WAIT_OBJECTS - 1 folders (the stop event takes a
// place); a list with more reachable folders fails on the first one beyond, as a folder that
// cannot be watched does, but with its own kind and before any notification is made.
//
// Settling: after a change the thread pauses 500 ms (on the stop event), re-arms and looks 100 ms
// for a further change; it goes on while changes come and less than the settle time has passed
// since the first one, then posts FOLDERMON_CHANGES. A stop during the settling still posts it.
//
// Threads: Start, Stop (the base's) and the getters belong to the owner; Run is the job thread.
// The getters of the error are valid once the failure notification has arrived.
#pragma once

#include <atomic>
#include <vector>

#include "common/ThreadJob.h"
#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

// wParam of the monitor's notification.
enum FOLDERMONNOTIFY {
    FOLDERMON_CHANGES = 0,
    FOLDERMON_ENDED = 1,
    FOLDERMON_STARTED = 2,
};

// Why the monitor failed.
enum FOLDERMONERROR {
    FOLDERMON_ERROR_NONE = 0,
    FOLDERMON_ERROR_WAIT_LIMIT = 1,    // more reachable folders than one wait takes
    FOLDERMON_ERROR_NOTIFICATION = 2,  // a change notification could not be made
};

// One watched folder.
struct FOLDERINFO {
    CString path;  // ends with "\" or "/"
    bool watchSubtree = true;
    HANDLE hNotification = nullptr;
    bool gone = false;  // was watched, then went away
};

class CFolderMonThreadJob : public CThreadJob {
   public:
    CFolderMonThreadJob() = default;
    ~CFolderMonThreadJob() override;

    // False, changing nothing, while the job runs; else stores the list and the settle time and
    // starts the thread with the owner window and message (owner thread 0).
    bool Start(const CString& folderList, HWND owner, UINT message, DWORD settleMs);

    bool IsStarted() const { return m_bStarted; }
    // A change is being let settle; a stop now still reports it.
    bool IsSettling() const { return m_bSettling; }
    bool HasError() const { return m_bError; }
    FOLDERMONERROR GetErrorKind() const { return m_eErrorKind; }
    const CString& GetErrorFolder() const { return m_strErrorFolder; }

   protected:
    void Run() override;

   private:
    void ParseFolders();
    // Makes the folders' notifications; false after a failure was reported.
    bool WatchFolders();
    HANDLE WatchFolder(const FOLDERINFO& folder) const;
    void ReportFailure(const CString& path, FOLDERMONERROR kind);
    // The stop event and every folder's notification, with the folder of each notification.
    void CollectHandles(std::vector<HANDLE>& handles, std::vector<FOLDERINFO*>& owners);
    // Waits until the changes of one folder have settled; false when the folder itself went away
    // (its notification can no longer be re-armed).
    bool Settle(HANDLE notification);
    // Closes the notification of a folder that went away; it is looked for again.
    void Forget(FOLDERINFO& folder);
    // Watches again the folders that came back; true when one did.
    bool RewatchReturned();
    bool AnyGone() const;
    void Watch();
    void CloseFolders();

    CString m_strFolders;
    DWORD m_dwSettleMs = 0;
    std::vector<FOLDERINFO> m_folders;
    std::atomic<bool> m_bStarted{false};
    std::atomic<bool> m_bSettling{false};
    std::atomic<bool> m_bError{false};
    std::atomic<FOLDERMONERROR> m_eErrorKind{FOLDERMON_ERROR_NONE};
    CString m_strErrorFolder;
};
