#include "dovrane/threads/FolderMonThreadJob.h"

#include "common/MultiFoldersParser.h"
#include "dovrane/threads/FolderCheckThreadJob.h"
#include "platform/base/Clock.h"
#include "platform/base/WideChar.h"
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

CString WithSeparator(CString path) {
    path.Trim();
    if (path.IsEmpty()) return path;
    char16_t last = path[path.GetLength() - 1];
    if (last != u'\\' && last != u'/') path += u"\\";
    return path;
}

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
    std::vector<HANDLE> handles{m_hStopEvent};
    if (WatchFolders(handles)) {
        m_bStarted = true;
        Notify(FOLDERMON_STARTED, m_dwThreadId);
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
        for (;;) {
            DWORD got =
                WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
            // The stop event, and a failed wait, end the watching rather than spin.
            if (got <= WAIT_OBJECT_0 || got >= WAIT_OBJECT_0 + handles.size()) break;
            Settle(handles[got - WAIT_OBJECT_0]);
            Notify(FOLDERMON_CHANGES, m_dwThreadId);
        }
    }
    CloseFolders();
    Notify(FOLDERMON_ENDED, m_dwThreadId);
}

void CFolderMonThreadJob::ParseFolders() {
    CMultiFoldersParser parser;
    parser.SetText(m_strFolders, u"|");
    parser.ParseAll();
    const CStringArray& items = parser.GetItems();
    m_folders.clear();
    for (INT_PTR i = 0; i < items.GetSize(); i += 2) {
        FOLDERINFO folder;
        folder.path = WithSeparator(items[i]);
        folder.watchSubtree = i + 1 >= items.GetSize() || _wtoi(items[i + 1]) != 0;
        if (!folder.path.IsEmpty()) m_folders.push_back(folder);
    }
}

bool CFolderMonThreadJob::WatchFolders(std::vector<HANDLE>& handles) {
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
        HANDLE notification = FindFirstChangeNotificationW(
            folder->path, folder->watchSubtree, folder->watchSubtree ? kFilterSubtree : kFilterFolderOnly);
        if (notification == INVALID_HANDLE_VALUE) {
            ReportFailure(folder->path, FOLDERMON_ERROR_NOTIFICATION);
            return false;
        }
        folder->hNotification = notification;
        handles.push_back(notification);
    }
    return true;
}

void CFolderMonThreadJob::ReportFailure(const CString& path, FOLDERMONERROR kind) {
    m_strErrorFolder = path;
    m_eErrorKind = kind;
    m_bError = true;
    Notify(FOLDERMON_ENDED, 1);
    m_bStarted = true;
}

void CFolderMonThreadJob::Settle(HANDLE notification) {
    const DWORD first = GetTickCount();
    for (;;) {
        if (WaitForSingleObject(m_hStopEvent, kSettlePauseMs) == WAIT_OBJECT_0) return;
        FindNextChangeNotification(notification);
        if (WaitForSingleObject(notification, kSettleLookMs) != WAIT_OBJECT_0) return;
        // Unsigned difference: right across the 32-bit wrap of the tick count.
        if (GetTickCount() - first >= m_dwSettleMs) return;
    }
}

void CFolderMonThreadJob::CloseFolders() {
    for (FOLDERINFO& folder : m_folders) {
        if (folder.hNotification) FindCloseChangeNotification(folder.hNotification);
    }
    m_folders.clear();
}
