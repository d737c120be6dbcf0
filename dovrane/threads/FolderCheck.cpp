#include "dovrane/threads/FolderCheck.h"

#include "common/PathUtils.h"
#include "platform/win32/WinUser.h"

namespace {

constexpr DWORD kDestroyStopMs = 20000;

FOLDERCHECKINFO MakeFolder(CString path, bool pingOnly) {
    path.Trim();
    if (path.Right(1) != u"\\" && path.Right(1) != u"/") path += u"\\";
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
    CString list = folderList;
    if (list.Right(1) == u"|") list = list.Left(list.GetLength() - 1);
    int start = 0;
    while (start < list.GetLength()) {
        int bar = list.Find(u'|', start);
        if (bar < 0) break;  // a path without its flag
        FOLDERCHECKINFO folder = MakeFolder(list.Mid(start, bar - start), pingOnly);
        m_bUsesJob = m_bUsesJob || IsUncPath(folder.strPath);
        m_Folders.Add(folder);
        int nextBar = list.Find(u'|', bar + 1);
        start = nextBar < 0 ? list.GetLength() : nextBar + 1;
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

int CFolderCheck::IsFolderMissing() {
    if (!m_bUsesJob) return CheckAllFolders(m_Folders) ? 0 : 1;
    return m_Job.GetCheckResult(m_strFailingFolder, m_nLastInterval);
}
