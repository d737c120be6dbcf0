#include "dovrane/threads/FileChangeEvent.h"

#include <algorithm>

#include "platform/base/Clock.h"
#include "platform/classlib/WinThread.h"
#include "platform/win32/ChangeNotification.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Wait.h"
#include "platform/win32/WinUser.h"

namespace {

constexpr DWORD kFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;
constexpr DWORD kSettleMs = 1000;
// The thread ends as soon as it sees the stop event: a stop (once per profile enabled) costs the
// main thread a few milliseconds, not 100 ms per step.
constexpr DWORD kStopStepMs = 1;
constexpr DWORD kEndStepMs = 10;
constexpr UINT kNoMessage = 0xFFFF;

void CloseAll(std::vector<HANDLE>& notifications, std::vector<CString>& notified) {
    for (HANDLE notification : notifications) FindCloseChangeNotification(notification);
    notifications.clear();
    notified.clear();
}

}  // namespace

CFileChangeEvent::CFileChangeEvent() : m_hStopEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

CFileChangeEvent::~CFileChangeEvent() {
    Stop();
    WaitForThreadEnd();
    CloseHandle(m_hStopEvent);
}

void CFileChangeEvent::WaitForThreadEnd() {
    while (m_nThreadActive > 0) {
        // A callback may be sending to this very thread: answer it (the filter takes nothing
        // posted) so that the thread can come back and end.
        MSG msg;
        if (m_bInCallback) PeekMessageW(&msg, nullptr, kNoMessage, kNoMessage, PM_NOREMOVE);
        Sleep(kEndStepMs);
    }
}

void CFileChangeEvent::OnFileChange(int, const CString&) {}

void CFileChangeEvent::AddFile(const CString& path) {
    if (path.IsEmpty()) return;
    bool newFolder = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_files.count(path)) return;
        auto info = std::make_unique<CFileInfo>(path);
        CString folder = info->GetFolder();
        m_files.emplace(path, std::move(info));
        auto entry = FindFolder(folder);
        newFolder = entry == m_folders.end();
        if (newFolder)
            m_folders.push_back(FOLDERENTRY{folder, 1});
        else
            ++entry->files;
    }
    if (m_bRunning && newFolder) {
        Stop();
        Start();
    }
}

void CFileChangeEvent::RemoveFile(const CString& path) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto file = m_files.find(path);
    if (file != m_files.end()) ForgetFile(file);
}

void CFileChangeEvent::RemoveAllFiles() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_files.clear();
    m_folders.clear();
}

int CFileChangeEvent::GetFileCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(m_files.size());
}

int CFileChangeEvent::GetFolderCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(m_folders.size());
}

bool CFileChangeEvent::WatchesFolder(const CString& folder) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return std::any_of(m_folders.begin(), m_folders.end(),
                       [&](const FOLDERENTRY& e) { return e.folder.Compare(folder) == 0; });
}

// Call under the lock.
std::vector<CFileChangeEvent::FOLDERENTRY>::iterator CFileChangeEvent::FindFolder(const CString& folder) {
    return std::find_if(m_folders.begin(), m_folders.end(),
                        [&](const FOLDERENTRY& e) { return e.folder.Compare(folder) == 0; });
}

// Call under the lock.
void CFileChangeEvent::ForgetFile(std::map<CString, std::unique_ptr<CFileInfo>, ORDINAL>::iterator file) {
    CString folder = file->second->GetFolder();
    m_files.erase(file);
    auto entry = FindFolder(folder);
    if (entry != m_folders.end() && --entry->files <= 0) m_folders.erase(entry);
}

bool CFileChangeEvent::IsWatchInPlace(const CString& folder) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return std::any_of(m_inPlace.begin(), m_inPlace.end(),
                       [&](const CString& watched) { return watched.Compare(folder) == 0; });
}

bool CFileChangeEvent::Start() {
    if (m_bRunning) return true;
    ResetEvent(m_hStopEvent);
    auto* param = new THREADPARAM{this, ++m_generation};
    // Counted before the thread runs, so a Stop right after the start waits for it.
    ++m_nThreadActive;
    if (!AfxBeginThread(WatchThread, param)) {
        --m_nThreadActive;
        delete param;
        return false;
    }
    m_bRunning = true;
    return true;
}

void CFileChangeEvent::Stop() {
    if (!m_bRunning) return;
    m_bRunning = false;
    ++m_generation;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_inPlace.clear();
    }
    SetEvent(m_hStopEvent);
    // Inside the callback the thread may wait for this very caller; it ends by itself afterwards.
    while (m_nThreadActive > 0 && !m_bInCallback) Sleep(kStopStepMs);
}

UINT CFileChangeEvent::WatchThread(LPVOID parameter) {
    auto* param = static_cast<THREADPARAM*>(parameter);
    CFileChangeEvent* watcher = param->watcher;
    unsigned generation = param->generation;
    delete param;
    watcher->Watch(generation);
    // The last touch: from here on the owner may free the watcher.
    --watcher->m_nThreadActive;
    return 0;
}

void CFileChangeEvent::Watch(unsigned generation) {
    WATCHSET set;
    while (Current(generation) && WatchPass(generation, set)) {
    }
    CloseAll(set.notifications, set.notified);
    // A thread that ended by itself (a failed wait) watches nothing any more.
    std::lock_guard<std::mutex> guard(m_lock);
    if (Current(generation)) m_inPlace.clear();
}

std::vector<CString> CFileChangeEvent::Folders() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<CString> folders;
    for (const FOLDERENTRY& entry : m_folders) folders.push_back(entry.folder);
    return folders;
}

bool CFileChangeEvent::WatchPass(unsigned generation, WATCHSET& set) {
    // Notifications are made again only when the folder list changed: closing them would lose
    // what other folders signalled while one was examined.
    std::vector<CString> folders = Folders();
    if (folders != set.folders) {
        set.folders = folders;
        Notify(set);
        std::lock_guard<std::mutex> guard(m_lock);
        // Checked under the lock: a Stop clears the list after it has moved the generation on.
        if (Current(generation)) m_inPlace = set.notified;
    }
    std::vector<HANDLE> handles{m_hStopEvent};
    handles.insert(handles.end(), set.notifications.begin(), set.notifications.end());
    DWORD got = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
    if (got <= WAIT_OBJECT_0 || got >= WAIT_OBJECT_0 + handles.size()) return false;
    DWORD index = got - WAIT_OBJECT_0;
    if (!Settle(handles[index])) return false;
    return Examine(generation, set.notified[index - 1]);
}

void CFileChangeEvent::Notify(WATCHSET& set) {
    CloseAll(set.notifications, set.notified);
    for (const CString& folder : set.folders) {
        if (set.notifications.size() == kMaxFolders) break;
        HANDLE notification = FindFirstChangeNotificationW(folder, FALSE, kFilter);
        if (notification == INVALID_HANDLE_VALUE) continue;
        set.notifications.push_back(notification);
        set.notified.push_back(folder);
    }
}

bool CFileChangeEvent::Settle(HANDLE notification) {
    // The stop event is watched too, so that a folder that never settles cannot hold up a Stop.
    HANDLE handles[2] = {m_hStopEvent, notification};
    for (;;) {
        FindNextChangeNotification(notification);
        DWORD got = WaitForMultipleObjects(2, handles, FALSE, kSettleMs);
        if (got == WAIT_TIMEOUT) return true;
        if (got != WAIT_OBJECT_0 + 1) return false;
    }
}

bool CFileChangeEvent::Examine(unsigned generation, const CString& folder) {
    std::vector<CString> paths;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const auto& [path, info] : m_files) {
            if (info->GetFolder().Compare(folder) == 0) paths.push_back(path);
        }
    }
    for (const CString& path : paths) {
        int code = CheckFile(path);
        if (code < 0) continue;
        m_bInCallback = true;
        OnFileChange(code, path);
        m_bInCallback = false;
        // A Stop during the callback handed the files back to the owner.
        if (!Current(generation)) return false;
    }
    return true;
}

int CFileChangeEvent::CheckFile(const CString& path) {
    COleDateTime now;
    bool exists = CFileInfo::ReadLastWrite(path, now);
    std::lock_guard<std::mutex> guard(m_lock);
    auto file = m_files.find(path);
    if (file == m_files.end()) return -1;  // removed meanwhile
    if (!exists) {
        ForgetFile(file);
        return FILECHANGE_GONE;
    }
    CFileInfo& info = *file->second;
    if (info.GetLastWrite().GetStatus() != COleDateTime::valid) {
        info.SetLastWrite(now);
        return FILECHANGE_FIRST_SEEN;
    }
    if (now.GetStatus() == COleDateTime::valid && now > info.GetLastWrite()) {
        info.SetLastWrite(now);
        return FILECHANGE_CHANGED;
    }
    return -1;
}
