#include "dovrane/threads/FolderCheckThreadJob.h"

#include <algorithm>

#include "common/IcmpEcho.h"
#include "common/PathUtils.h"
#include "platform/classlib/SingleLock.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Wait.h"

namespace {

constexpr int kIntervalStepMs = 5000;
constexpr int kIntervalMaxMs = 60000;
constexpr DWORD kBetweenFoldersMs = 10;

bool StartsWith(LPCWSTR text, LPCWSTR prefix) {
    for (; *prefix; ++text, ++prefix)
        if (*text != *prefix) return false;
    return true;
}

}  // namespace

bool IsUncPath(LPCWSTR path) {
    if (!path) return false;
    if (StartsWith(path, u"\\\\?\\UNC\\")) return true;
    return StartsWith(path, u"\\\\") && !StartsWith(path, u"\\\\?\\");
}

CString GetUncServer(const PATHPARTS& parts) {
    return CString(parts.szServer);
}

bool IsFolderAccessible(const CString& path) {
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return true;
    HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

CFolderCheckThreadJob::~CFolderCheckThreadJob() {
    StopAndWait();
}

void CFolderCheckThreadJob::SetFolders(const CFolderCheckArray& folders) {
    CSingleLock lock(&m_Lock, TRUE);
    m_nResult = FOLDERCHECK_NOT_YET;
    m_strFailingFolder.Empty();
    m_nInterval = 0;
    m_Folders.Copy(folders);
}

FOLDERCHECKRESULT CFolderCheckThreadJob::GetCheckResult(CString& failingFolder, int& intervalMs) {
    CSingleLock lock(&m_Lock, TRUE);
    failingFolder = m_strFailingFolder;
    intervalMs = m_nInterval;
    return m_nResult;
}

void CFolderCheckThreadJob::Run() {
    CFolderCheckArray folders;
    {
        CSingleLock lock(&m_Lock, TRUE);
        folders.Copy(m_Folders);
    }
    int interval = 0;
    for (;;) {
        CString failing;
        bool stopped = false;
        bool accessible = RunPass(folders, failing, stopped);
        if (stopped) return;
        interval = std::min(interval + kIntervalStepMs, kIntervalMaxMs);
        if (Publish(accessible, failing, interval))
            Notify(accessible ? FOLDERCHECK_ACCESSIBLE : FOLDERCHECK_MISSING, 0);
        if (WaitForSingleObject(m_hStopEvent, static_cast<DWORD>(interval)) != WAIT_TIMEOUT) return;
    }
}

bool CFolderCheckThreadJob::RunPass(const CFolderCheckArray& folders, CString& failing, bool& stopped) {
    for (INT_PTR i = 0; i < folders.GetSize(); ++i) {
        if (!IsReachable(folders[i])) {
            // A ping cut short by the stop says nothing about the folder.
            stopped = WaitForSingleObject(m_hStopEvent, 0) == WAIT_OBJECT_0;
            failing = folders[i].strPath;
            return false;
        }
        if (WaitForSingleObject(m_hStopEvent, kBetweenFoldersMs) != WAIT_TIMEOUT) {
            stopped = true;
            return false;
        }
    }
    return true;
}

bool CFolderCheckThreadJob::IsReachable(const FOLDERCHECKINFO& folder) {
    if (!folder.bPingOnly) return IsFolderAccessible(folder.strPath);
    PINGRESULT answer;
    return Ping(m_hStopEvent, folder.strServer, &answer);
}

bool CFolderCheckThreadJob::Publish(bool accessible, const CString& failing, int intervalMs) {
    CSingleLock lock(&m_Lock, TRUE);
    int previous = m_nResult;
    m_nResult = accessible ? FOLDERCHECK_ACCESSIBLE : FOLDERCHECK_MISSING;
    m_strFailingFolder = accessible ? CString() : failing;
    m_nInterval = accessible ? 0 : intervalMs;
    return m_nResult != previous;
}
