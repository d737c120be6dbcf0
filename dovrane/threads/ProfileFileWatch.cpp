#include "dovrane/threads/ProfileFileWatch.h"

#include <algorithm>

#include "dovrane/threads/FileChangeEvent.h"
#include "platform/win32/WinUser.h"

class CProfileFileWatch::CGroup : public CFileChangeEvent {
   public:
    explicit CGroup(CProfileFileWatch& watch) : m_watch(watch) {}
    void OnFileChange(int code, const CString& path) override { m_watch.Deliver(code, path); }

   private:
    CProfileFileWatch& m_watch;
};

CProfileFileWatch& CProfileFileWatch::Instance() {
    static CProfileFileWatch* watch = new CProfileFileWatch();
    return *watch;
}

void CProfileFileWatch::Subscribe(const void* subscriber, const CString& path, HWND window, UINT message) {
    std::lock_guard<std::mutex> guard(m_lock);
    UnsubscribeLocked(subscriber);
    if (path.IsEmpty()) return;
    WATCHEDPATH& watched = m_paths[path];
    watched.targets.push_back(TARGET{subscriber, window, message});
    m_subscribed[subscriber] = path;
    WatchLocked(path, watched);
}

void CProfileFileWatch::Unsubscribe(const void* subscriber) {
    std::lock_guard<std::mutex> guard(m_lock);
    UnsubscribeLocked(subscriber);
}

bool CProfileFileWatch::IsWatchInPlace(const CString& path) const {
    std::lock_guard<std::mutex> guard(m_lock);
    auto watched = m_paths.find(path);
    return watched != m_paths.end() && watched->second.group != nullptr &&
           watched->second.group->IsWatchInPlace(CFileInfo::FolderOf(path));
}

int CProfileFileWatch::GetGroupCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(m_groups.size());
}

void CProfileFileWatch::UnsubscribeLocked(const void* subscriber) {
    auto subscribed = m_subscribed.find(subscriber);
    if (subscribed == m_subscribed.end()) return;
    auto watched = m_paths.find(subscribed->second);
    m_subscribed.erase(subscribed);
    if (watched == m_paths.end()) return;
    std::vector<TARGET>& targets = watched->second.targets;
    targets.erase(std::remove_if(targets.begin(), targets.end(),
                                 [&](const TARGET& target) { return target.subscriber == subscriber; }),
                  targets.end());
    if (!targets.empty()) return;
    // The last one: the file leaves the watch, so a later subscriber starts from its state then.
    if (watched->second.group != nullptr) watched->second.group->RemoveFile(watched->first);
    m_paths.erase(watched);
}

void CProfileFileWatch::WatchLocked(const CString& path, WATCHEDPATH& watched) {
    if (watched.group == nullptr) watched.group = &GroupForLocked(path);
    watched.group->AddFile(path);
}

CProfileFileWatch::CGroup& CProfileFileWatch::GroupForLocked(const CString& path) {
    const CString folder = CFileInfo::FolderOf(path);
    for (const auto& group : m_groups) {
        if (group->WatchesFolder(folder)) return *group;
    }
    for (const auto& group : m_groups) {
        if (static_cast<size_t>(group->GetFolderCount()) < CFileChangeEvent::kMaxFolders) return *group;
    }
    m_groups.push_back(std::make_unique<CGroup>(*this));
    m_groups.back()->Start();
    return *m_groups.back();
}

void CProfileFileWatch::Deliver(int code, const CString& path) {
    std::vector<TARGET> targets;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto watched = m_paths.find(path);
        if (watched == m_paths.end()) return;
        // A gone file is out of its group; the next subscription watches it again.
        if (code == FILECHANGE_GONE) watched->second.group = nullptr;
        targets = watched->second.targets;
    }
    for (const TARGET& target : targets) {
        if (target.window != nullptr && target.message != 0)
            SendMessageW(target.window, target.message, static_cast<WPARAM>(code), 0);
    }
}
