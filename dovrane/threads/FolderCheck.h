// CFolderCheck: tells a run item whether all its source and target folders can be reached.
// Local folders are tested on the caller's thread at each question; as soon as one folder is
// on a network share (UNC), every answer comes from the last pass of the worker job instead,
// so an absent server never blocks the caller.
//
// Threads: the run item's thread only (every member); the job runs on its own thread and
// shares only its result, under its own lock. Owns the job; destruction stops it, waiting
// 20000 ms and then, as every job's destructor does, until its thread has ended.
//
// Folder lists are "path|flag|path|flag|" (FolderList.h; the flag is not read here). Failures are
// return values: IsFolderMissing FOLDERCHECK_MISSING with the failing folder.
#pragma once

#include "dovrane/threads/FolderCheckThreadJob.h"
#include "platform/classlib/Object.h"

class CFolderCheck : public CObject {
   public:
    CFolderCheck() = default;
    ~CFolderCheck() override;

    // Optional: the job posts message (wParam the new result code) to owner whenever a pass
    // changes its result; takes effect at the next SetFolders.
    void SetOwner(HWND owner, UINT message);
    // Replaces the folders and restarts the job; pingOnly applies to the UNC folders.
    void SetFolders(const CString& folderList, bool pingOnly);
    // True when every folder is accessible; else the first failing one is kept.
    bool CheckAllFolders(const CFolderCheckArray& folders);
    // Whether a folder is missing (see GetFailingFolder); FOLDERCHECK_NOT_YET while the job has no
    // answer yet.
    FOLDERCHECKRESULT IsFolderMissing();

    const CString& GetFailingFolder() const { return m_strFailingFolder; }
    // Milliseconds until the job's next pass; 0 when all folders were accessible.
    int GetLastInterval() const { return m_nLastInterval; }
    const CFolderCheckArray& GetFolders() const { return m_Folders; }
    bool UsesJob() const { return m_bUsesJob; }

   private:
    void StartJob();

    CFolderCheckArray m_Folders;
    CFolderCheckThreadJob m_Job;
    CString m_strFailingFolder;
    bool m_bUsesJob = false;
    int m_nLastInterval = 0;
    HWND m_hWndOwner = nullptr;
    UINT m_uOwnerMessage = 0;
};
