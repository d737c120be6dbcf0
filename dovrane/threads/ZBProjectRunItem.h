// CZBProjectRunItem: the run item of one synchronisation profile: the CRunItem schedule plus what
// knows the synchronisation program. It holds the profile's CLaunchItem (its ITEM element) and the
// settings read from its profile file. Enabling builds the program's launch command, watches the
// profile file and arms the schedule; while a run is under way a one-second timer reads the
// program's status blocks; at the end of a run the exit code becomes a result text, the run is
// recorded at the head of the history (CDBEngList, saved to the run-history database) and the state
// set. It also gives the texts and HTML fragments that command answers and pages show.
//
// Threads: main thread. The window, its timers, the job reports and every operation (SetInfo,
// Enable, Disable, ResetLastRuns) run on the thread that owns the window (asserted); the list
// hands the servers' commands to it. The texts may be read on any thread under the owner list's
// lock (StateLock), which the main thread holds while it changes what they show. The profile
// watcher's thread waits in its sent message until OnProjectChanged ran.
//
// Ownership: created and deleted by the run-item list; owns its settings, status readers, history
// and profile watcher. The owner window (set by the list) gets the owner message posted, wParam 0
// and lParam 0, after every state change.
//
// Failures are states with texts: 5 "Unable to locate Zebrodyne Pro on this computer. Please
// install Zebrodyne Pro.", the profile reader's error, "No execution method specified in this
// Zebrodyne profile.", "Initialization failure.", "Windows can not monitor folder: ...", and 0
// "Error launching Zebrodyne Pro. Application not found on this computer.". Timer 2 retries Enable
// every minute while the item is in error or its folders cannot be listed.
//
// The details text is the text of the last state change (why the item is in error, which folder is
// not accessible, the result of the last run), and while a run lasts the program's status text.
//
// Opening the status blocks does not wait for the program's identification (timer 3 picks it up);
// Enable on an item whose run is under way re-arms it and keeps the run; texts from the status
// blocks and the profile are escaped in HTML (and URL-encoded inside links).
#pragma once

#include <memory>

#include "common/SyncCounts.h"
#include "dovrane/model/DBEngList.h"
#include "dovrane/model/Settings.h"
#include "dovrane/model/ZBEngStatus.h"
#include "dovrane/model/ZBStatus.h"
#include "dovrane/threads/LaunchCommand.h"
#include "dovrane/threads/LaunchItem.h"
#include "dovrane/threads/ProjectChangeEvent.h"
#include "dovrane/threads/RunItem.h"
#include "platform/base/CString.h"

class CZBProjectRunItem : public CRunItem {
   public:
    CZBProjectRunItem();
    ~CZBProjectRunItem() override;

    // Main thread. False when the launch item has no profile; else copies it, initialises the
    // item and reads the profile file.
    bool SetInfo(const CLaunchItem& item);
    // Main thread, once: the window and the history. False (state 5) when the window fails.
    bool Initialize();
    // Main thread. True when the item is armed.
    bool Enable(const CLaunchItem& item);
    // Main thread. Ends a run under way.
    void Disable();
    // Main thread: the window that gets message posted after every state change.
    void SetOwnerWindow(HWND window, UINT message);

    // Any thread.
    const CString& GetName() const { return m_launchItem.m_strProfile; }
    const CString& GetProfileAfter() const { return m_launchItem.m_strProfileAfter; }
    const CString& GetCategory() const { return m_launchItem.m_strCategory; }
    CLaunchItem GetLaunchItem() const { return m_launchItem; }
    // The profile's folders, comparison and execution as HTML.
    CString GetHtmlSummary();
    // The profile's log-file path as its settings hold it.
    CString GetHtmlText();
    // "path|flag|" lists of the resolved folders to watch and to check; false (both outputs the
    // error text) when the profile names no execution method.
    bool GetFolderLists(CString& monitorList, CString& accessList);
    // Main thread. Deletes the run history and stores the empty history; false when it could not
    // be saved.
    bool ResetLastRuns();

    // The texts that command answers and pages show (any thread, under the list's lock).
    CString GetStatusText();
    CString GetStatusHtml();
    CString GetDetailsText();
    CString GetProgressHtml();
    CString GetLastRunHtml();
    // The start of the newest recorded run (seconds since 1970, UTC) and whether it failed; start
    // 0 when the profile never ran.
    void GetLastRun(LONGLONG& start, bool& failed);
    CString GetLastOkRunText();
    CString GetLastRunsHtml();
    // The same, shared with every earlier caller that got the same text: the profile pages (and
    // the page cache) hold one copy of the history while it stays the same.
    std::shared_ptr<const CString> GetSharedLastRunsHtml();
    CString GetSettingsText();
    CString GetSourceText();
    CString GetTargetText();
    CString GetExecutionMethodText();
    // Next-run text of index (0 = the next run) from reference (g_DateNone: now).
    CString GetNextRunDisplayText(int index, const COleDateTime& reference);
    // The progress percentage of the run under way; -1 when none.
    int GetProgressPercent();
    // The state name of a run state ("Disabled", "Enabled", "Running...", ...).
    static CString GetStateName(int state);

    // Main thread (the job's and the monitor's reports, SetState).
    LRESULT OnFolderMonitorEvent(WPARAM code, LPARAM detail) override;
    LRESULT OnExecuteEvent(WPARAM code, LPARAM detail) override;
    void SetState(int state, const CString& text) override;

   protected:
    void OnTimer(UINT_PTR id);
    LRESULT OnProjectChanged(WPARAM code, LPARAM lParam);

   private:
    bool LoadProfile(CString& error);
    void CopyOptions();
    bool ReadProgramPath();
    LAUNCHCOMMAND BuildLaunchCommand() const;
    void RegisterWatch();
    CString BuildSettingsText() const;
    CString StateText(bool html);
    void OnRunStarted();
    void OnRunEnded();
    void ReadProgress();
    void ResetProgress();
    void TakeRunId();
    CProjectRunTime BuildRunRecord(const CString& description);
    CString RunDescription(const CString& result);

    CLaunchItem m_launchItem;
    CSettings m_settings;
    CProjectChangeEvent m_profileWatcher;
    bool m_bInitialized = false;
    bool m_bWatchPending = true;
    CString m_strProgramPath;
    HWND m_hWndOwner = nullptr;
    UINT m_uOwnerMessage = 0;

    // Written under StateLock: what the last SetState kept, the progress of the run under way (whose
    // status text replaces the SetState text while it runs), the status readers and the run
    // history.
    int m_nShownState = RUNSTATE_DISABLED;
    CString m_strStateName;
    CString m_strSettingsText;
    CString m_strStatusText;  // the last SetState's text; while running, the program's status text
    CString m_strChainText;
    int m_nPercent = -1;
    CString m_strFile;
    CString m_strCaption;
    CString m_strLine1;
    CString m_strLine2;
    CString m_strLine3;
    CString m_strTodoHtml;
    CString m_strRunId;
    SYNCCOUNTS m_todo;
    CZBStatus m_status;
    CZBEngStatus m_engStatus;
    CDBEngList m_history;
    std::shared_ptr<const CString> m_lastRunsHtml;  // under StateLock

    DECLARE_MESSAGE_MAP()
};

// The next-run text of index for an item (GetNextRunDisplayText).
CString GetRunItemDescription(CZBProjectRunItem& item, int index, const COleDateTime& reference);
