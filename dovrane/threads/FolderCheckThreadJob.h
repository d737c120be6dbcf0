// CFolderCheckThreadJob: the worker that tests a profile's folders again and again, so that a
// folder on a network share is never tested on the main thread. A pass tests the folders in
// order (by an ICMP echo to the server alone when a folder asks for it) and stops at the first
// inaccessible one; after each pass the job waits 5000 ms more than before, up to 60000 ms.
//
// Threads: SetFolders, the start and the stop belong to the owner (CFolderCheck, on the run
// item's thread); Run is the job's thread; GetCheckResult may be called from any thread, the result
// is guarded by the job's critical section. Windows Sockets must be started for ping folders.
//
// Owner: when started with StartNotify and a message, the job posts the message (wParam the new
// result code, lParam 0) each time a pass changes the result, so an owner need not poll.
//
// Also here: FOLDERCHECKINFO, the UNC test and the folder test shared with CFolderCheck.
#pragma once

#include "common/SortedArray.h"
#include "common/ThreadJob.h"
#include "platform/base/CString.h"
#include "platform/classlib/CriticalSection.h"

struct PATHPARTS;

struct FOLDERCHECKINFO {
    CString strPath;    // ends with "\" or "/"
    CString strServer;  // UNC server, empty for other paths
    bool bPingOnly = false;

    friend bool operator<(const FOLDERCHECKINFO& a, const FOLDERCHECKINFO& b) {
        return a.strPath < b.strPath;
    }
    friend bool operator==(const FOLDERCHECKINFO& a, const FOLDERCHECKINFO& b) {
        return a.strPath == b.strPath;
    }
};

typedef CSortedArray<FOLDERCHECKINFO> CFolderCheckArray;

// True for "\\?\UNC\..." and for "\\..." that is not "\\?\...".
bool IsUncPath(LPCWSTR path);
// The server part of split path parts.
CString GetUncServer(const PATHPARTS& parts);
// True when the folder answers to its attributes or opens with no access rights.
bool IsFolderAccessible(const CString& path);

// What a folder check answers.
enum FOLDERCHECKRESULT {
    FOLDERCHECK_ACCESSIBLE = 0,  // every folder can be reached
    FOLDERCHECK_MISSING = 1,     // one cannot; it is the failing folder
    FOLDERCHECK_NOT_YET = 2,     // the job has not finished its first pass
};

class CFolderCheckThreadJob : public CThreadJob {
   public:
    CFolderCheckThreadJob() = default;
    ~CFolderCheckThreadJob() override;

    // Resets the result to "not checked" and takes a copy of the folders; call while stopped.
    void SetFolders(const CFolderCheckArray& folders);
    // Starts the thread without an owner to notify.
    bool StartJob() { return Start(); }
    // The last pass's result code, with its failing folder and interval (0 when accessible).
    FOLDERCHECKRESULT GetCheckResult(CString& failingFolder, int& intervalMs);

   protected:
    void Run() override;

   private:
    // False with the first inaccessible folder; stopped when the stop event ended the pass.
    bool RunPass(const CFolderCheckArray& folders, CString& failing, bool& stopped);
    bool IsReachable(const FOLDERCHECKINFO& folder);
    // Stores the pass's result; true when the result code changed.
    bool Publish(bool accessible, const CString& failing, int intervalMs);

    CFolderCheckArray m_Folders;
    CCriticalSection m_Lock;
    FOLDERCHECKRESULT m_nResult = FOLDERCHECK_NOT_YET;
    CString m_strFailingFolder;
    int m_nInterval = 0;
};
