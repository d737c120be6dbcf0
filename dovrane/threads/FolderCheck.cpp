#include "dovrane/threads/FolderCheck.h"

#include "common/PathUtils.h"
#include "dovrane/threads/FolderList.h"
#include "platform/win32/WinUser.h"

namespace {

constexpr DWORD kDestroyStopMs = 20000;

FOLDERCHECKINFO MakeFolder(const CString& path, bool pingOnly) {
    FOLDERCHECKINFO folder;
    folder.strPath = path;
    PATHPARTS parts(path);
    if (IsUncPath(parts.szPath)) {
        folder.strServer = GetUncServer(parts);
        folder.bPingOnly = pingOnly;
    }
    return folder;
}

}  // namespace

CFolderCheck::~CFolderCheck() {
    m_Job.Stop(kDestroyStopMs);
}

void CFolderCheck::SetOwner(HWND owner, UINT message) {
    m_hWndOwner = owner;
    m_uOwnerMessage = message;
}

void CFolderCheck::SetFolders(const CString& folderList, bool pingOnly) {
    m_Folders.RemoveAll();
    m_bUsesJob = false;
    for (const FOLDERLISTITEM& item : ParseFolderList(folderList)) {
        FOLDERCHECKINFO folder = MakeFolder(item.strPath, pingOnly);
        m_bUsesJob = m_bUsesJob || IsUncPath(folder.strPath);
        m_Folders.Add(folder);
    }
    StartJob();
}

void CFolderCheck::StartJob() {
    m_Job.Stop(INFINITE);
    m_Job.SetFolders(m_Folders);
    if (m_uOwnerMessage != 0)
        m_Job.StartNotify(m_hWndOwner, 0, m_uOwnerMessage);
    else
        m_Job.StartJob();
}

bool CFolderCheck::CheckAllFolders(const CFolderCheckArray& folders) {
    m_strFailingFolder.Empty();
    m_nLastInterval = 0;
    for (INT_PTR i = 0; i < folders.GetSize(); ++i) {
        if (IsFolderAccessible(folders[i].strPath)) continue;
        m_strFailingFolder = folders[i].strPath;
        return false;
    }
    return true;
}

FOLDERCHECKRESULT CFolderCheck::IsFolderMissing() {
    if (!m_bUsesJob) return CheckAllFolders(m_Folders) ? FOLDERCHECK_ACCESSIBLE : FOLDERCHECK_MISSING;
    return m_Job.GetCheckResult(m_strFailingFolder, m_nLastInterval);
}
