#include "dovrane/threads/FolderMonThreadJob.h"

#include "dovrane/threads/FolderCheckThreadJob.h"
#include "dovrane/threads/FolderList.h"
#include "platform/base/Clock.h"
#include "platform/win32/ChangeNotification.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Thread.h"
#include "platform/win32/Wait.h"

namespace {

constexpr DWORD kFilterSubtree = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                 FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                 FILE_NOTIFY_CHANGE_LAST_WRITE;
constexpr DWORD kFilterFolderOnly = kFilterSubtree & ~FILE_NOTIFY_CHANGE_DIR_NAME;
constexpr DWORD kSettlePauseMs = 500;
constexpr DWORD kSettleLookMs = 100;
constexpr size_t kMaxFolders = MAXIMUM_WAIT_OBJECTS - 1;
// How often a watched folder that went away is looked for.
constexpr DWORD kReturnPollMs = 1000;

}  // namespace

CFolderMonThreadJob::~CFolderMonThreadJob() {
    StopAndWait();
}

bool CFolderMonThreadJob::Start(const CString& folderList, HWND owner, UINT message, DWORD settleMs) {
    if (IsRunning()) return false;
    m_strFolders = folderList;
    m_dwSettleMs = settleMs;
    m_bStarted = false;
    m_bError = false;
    m_eErrorKind = FOLDERMON_ERROR_NONE;
    m_strErrorFolder.Empty();
    m_hWndOwner = owner;
    m_dwOwnerThreadId = 0;
    m_uMessage = message;
    return CThreadJob::Start();
}

void CFolderMonThreadJob::Run() {
    ParseFolders();
    if (WatchFolders()) {
        m_bStarted = true;
        Notify(FOLDERMON_STARTED, m_dwThreadId);
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
        Watch();
    }
    CloseFolders();
    Notify(FOLDERMON_ENDED, m_dwThreadId);
}

void CFolderMonThreadJob::Watch() {
    std::vector<HANDLE> handles;
    std::vector<FOLDERINFO*> owners;
    CollectHandles(handles, owners);
    for (;;) {
        const DWORD waitMs = AnyGone() ? kReturnPollMs : INFINITE;
        const DWORD got =
            WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, waitMs);
        if (got == WAIT_TIMEOUT) {
            if (!RewatchReturned()) continue;
            CollectHandles(handles, owners);
            Notify(FOLDERMON_CHANGES, m_dwThreadId);
            continue;
        }
        // The stop event, and a failed wait, end the watching rather than spin.
        if (got <= WAIT_OBJECT_0 || got >= WAIT_OBJECT_0 + handles.size()) return;
        const size_t index = got - WAIT_OBJECT_0;
        m_bSettling = true;
        const bool watching = Settle(handles[index]);
        m_bSettling = false;
        Notify(FOLDERMON_CHANGES, m_dwThreadId);
        if (!watching || !IsFolderAccessible(owners[index]->path)) {
            Forget(*owners[index]);
            // Made anew already: watched again at once.
            if (RewatchReturned()) Notify(FOLDERMON_CHANGES, m_dwThreadId);
            CollectHandles(handles, owners);
        }
    }
}

void CFolderMonThreadJob::ParseFolders() {
    m_folders.clear();
    for (const FOLDERLISTITEM& item : ParseFolderList(m_strFolders)) {
        FOLDERINFO folder;
        folder.path = item.strPath;
        folder.watchSubtree = item.bFlag;
        m_folders.push_back(folder);
    }
}

HANDLE CFolderMonThreadJob::WatchFolder(const FOLDERINFO& folder) const {
    return FindFirstChangeNotificationW(folder.path, folder.watchSubtree,
                                        folder.watchSubtree ? kFilterSubtree : kFilterFolderOnly);
}

bool CFolderMonThreadJob::WatchFolders() {
    std::vector<FOLDERINFO*> reachable;
    for (FOLDERINFO& folder : m_folders) {
        if (IsFolderAccessible(folder.path)) reachable.push_back(&folder);
    }
    // Counted first, so a list too long for the wait costs no notification (they are a per-user
    // budget shared with every other program).
    if (reachable.size() > kMaxFolders) {
        ReportFailure(reachable[kMaxFolders]->path, FOLDERMON_ERROR_WAIT_LIMIT);
        return false;
    }
    for (FOLDERINFO* folder : reachable) {
        HANDLE notification = WatchFolder(*folder);
        if (notification == INVALID_HANDLE_VALUE) {
            ReportFailure(folder->path, FOLDERMON_ERROR_NOTIFICATION);
            return false;
        }
        folder->hNotification = notification;
    }
    return true;
}

void CFolderMonThreadJob::CollectHandles(std::vector<HANDLE>& handles, std::vector<FOLDERINFO*>& owners) {
    handles.assign(1, m_hStopEvent);
    owners.assign(1, nullptr);
    for (FOLDERINFO& folder : m_folders) {
        if (folder.hNotification == nullptr) continue;
        handles.push_back(folder.hNotification);
        owners.push_back(&folder);
    }
}

void CFolderMonThreadJob::ReportFailure(const CString& path, FOLDERMONERROR kind) {
    m_strErrorFolder = path;
    m_eErrorKind = kind;
    m_bError = true;
    Notify(FOLDERMON_ENDED, 1);
    m_bStarted = true;
}

bool CFolderMonThreadJob::Settle(HANDLE notification) {
    const DWORD first = GetTickCount();
    for (;;) {
        if (WaitForSingleObject(m_hStopEvent, kSettlePauseMs) == WAIT_OBJECT_0) return true;
        // Re-arming fails once the watched folder itself has gone.
        if (!FindNextChangeNotification(notification)) return false;
        if (WaitForSingleObject(notification, kSettleLookMs) != WAIT_OBJECT_0) return true;
        // Unsigned difference: right across the 32-bit wrap of the tick count.
        if (GetTickCount() - first >= m_dwSettleMs) return true;
    }
}

void CFolderMonThreadJob::Forget(FOLDERINFO& folder) {
    FindCloseChangeNotification(folder.hNotification);
    folder.hNotification = nullptr;
    folder.gone = true;
}

bool CFolderMonThreadJob::RewatchReturned() {
    bool returned = false;
    for (FOLDERINFO& folder : m_folders) {
        if (!folder.gone || !IsFolderAccessible(folder.path)) continue;
        HANDLE notification = WatchFolder(folder);
        if (notification == INVALID_HANDLE_VALUE) continue;  // looked for again at the next poll
        folder.hNotification = notification;
        folder.gone = false;
        returned = true;
    }
    return returned;
}

bool CFolderMonThreadJob::AnyGone() const {
    for (const FOLDERINFO& folder : m_folders)
        if (folder.gone) return true;
    return false;
}

void CFolderMonThreadJob::CloseFolders() {
    for (FOLDERINFO& folder : m_folders) {
        if (folder.hNotification) FindCloseChangeNotification(folder.hNotification);
    }
    m_folders.clear();
}
