// CRunItem: the scheduling core of one scheduled profile. A hidden window on the engine's main
// thread whose timers drive the schedule; its worker jobs (execute job, folder monitor) report to
// it by posted messages. It decides when the profile runs (schedule, missed run, rerun after an
// error, detected changes, folders that became accessible), starts and stops runs through its
// CExecuteJob, keeps the dates of the last and next runs, remembers the last scheduled run in the
// registry (HKCU, else HKLM, "software\ZBEngine\ZBEngine\EngLastSchedRuns", value named by the
// profile) and starts the profile to run after it. The profile run item derives from it and
// supplies SetState, OnFolderMonitorEvent and OnExecuteEvent.
//
// Threads: the window, its handlers and Activate/StopSchedule run on the main thread; Run may
// also be called by other threads under the run-item list's mutex. Critical section 1 guards the
// run state, the schedule dates and the run list copy; critical section 2 state changes, progress
// values and the end-of-run handling. Order: 2 before 1, the list mutex before 1; at the end of a
// run 2 is released before the list mutex is taken and then only tried without waiting.
//
// Failures: a timer that cannot be armed makes Activate false; registry failures are logged and
// do not stop the schedule. The owner list is not owned; it must outlive the item.
//
// Kept of the original: the times, texts and rules of the schedule tick. Changed: a next run time
// that falls into the hour skipped by a daylight-saving change is due at the first minute after
// the skip, so it is neither missed nor run twice. Left out: the wait cursor (none here).
#pragma once

#include "dovrane/model/ProfileToRunInfo.h"
#include "dovrane/threads/ExecuteJob.h"
#include "dovrane/threads/FolderMonThreadJob.h"
#include "dovrane/threads/RunItemMessages.h"
#include "dovrane/threads/RunItemOwner.h"
#include "dovrane/threads/ScheduleInfo.h"
#include "platform/base/CString.h"
#include "platform/classlib/CriticalSection.h"
#include "platform/classlib/OleDateTime.h"
#include "platform/classlib/Wnd.h"

class CRunItem : public CWnd {
   public:
    CRunItem();
    ~CRunItem() override;

    // Overridden by the profile run item: reports of the folder monitor and the execute job (1 =
    // go on), and state changes (nothing here).
    virtual LRESULT OnFolderMonitorEvent(WPARAM code, LPARAM detail);
    virtual LRESULT OnExecuteEvent(WPARAM code, LPARAM detail);
    virtual void SetState(int state, const CString& text);

    BOOL CreateItemWindow();

    void SetSchedule(const SCHEDULEINFO& schedule) { m_schedule = schedule; }
    void SetMonitorFolders(const CString& text) { m_strMonitorFolders = text; }
    void SetAccessFolders(const CString& text) { m_strAccessFolders = text; }
    void SetProfileAfter(const CString& text) { m_strProfileAfter = text; }
    void SetLaunchCommand(const CString& text) { m_strLaunchCommand = text; }
    void SetProfileName(const CString& text) { m_strProfileName = text; }
    void SetOwnerList(CRunItemOwner* owner) { m_pOwnerList = owner; }

    int GetState();
    bool IsActive();

    bool Activate();
    void StopSchedule();
    bool Run(int reason, const CProfileRunList* runList = nullptr);
    bool Stop();
    void ComputeNextRunTime();
    void SaveLastRun();

    void GetRunList(CProfileRunList& out);
    void SetRunList(const CProfileRunList& list);
    CString GetChainText();
    static CString GetRunReasonText(int reason);
    COleDateTime GetNextAsAvailableTime() const;
    CString GetAsAvailableText() const;
    // Schedule text "*" rerun minutes "*" as-available folders and frequency.
    CString GetScheduleSignature() const;

    COleDateTime GetNextRunTime();
    COleDateTime GetLastScheduledRun();
    COleDateTime GetLastRunStart();
    CString GetNextRunText();
    int GetLastExitCode() const { return m_nLastExitCode; }
    int GetRerunCount() const { return m_nRerunCount; }
    int GetLastRunsHive() const { return m_nLastRunsHive; }
    const CString& GetProfileName() const { return m_strProfileName; }

    // Options copied in by the profile run item when it is enabled.
    bool m_bOnlyIfChanged = false;
    bool m_bAsSoonAsChanged = false;
    int m_nAsAvailableFolders = 0;    // 1 source, 2 target
    int m_nAsAvailableFrequency = 1;  // 1 immediately, 2 hourly, 3 daily, 4 weekly
    bool m_bRunMissed = false;
    int m_nRerunMinutes = 0;
    int m_nMaxReruns = 0;
    bool m_bNotOnError = false;
    bool m_bPingOnly = false;

   protected:
    void OnTimer(UINT_PTR id);
    LRESULT OnChangesDetected(WPARAM wParam, LPARAM lParam);
    LRESULT OnExecuteJobNotify(WPARAM code, LPARAM lParam);
    BOOL OnDeviceChange(UINT eventType, DWORD_PTR data);

    // The folder check: hands it the access folders, and asks whether one is missing (0 all
    // accessible, 1 folder is missing, 2 no answer yet; intervalMs: its next check, 0 = none).
    // The default tests the folders of the "path|flag|" list on the spot.
    virtual void SetCheckFolders(const CString& folders, bool pingOnly);
    virtual int IsFolderMissing(CString& folder, int& intervalMs);
    // Hands a run to the execute job (or queues it as the job's repeat).
    virtual bool LaunchRun(const CString& command, int reason);
    // One stop request to the execute job; true once it has stopped.
    virtual bool StopJob(DWORD timeoutMs);
    // Whether the execute job runs, and whether a repeat is queued.
    virtual bool IsExecuting() const;
    virtual bool IsRepeatQueued() const;
    virtual DWORD GetJobExitCode() const;
    virtual int GetJobReason() const;
    virtual void AcknowledgeJob();

    void ScheduleTick();
    void AccessTimer(UINT_PTR id);
    bool ArmTimer(UINT_PTR id, UINT elapseMs);
    void ReadLastRun();
    void RunAfterEnd(int exitCode);
    void StartNextInChain(int exitCode);
    void ChainProfileAfter();
    bool CheckProfileAfter();
    CString NotAccessibleText(const CString& folder, int intervalSec) const;
    static COleDateTime CurrentMinute();
    // The first minute at or after the given wall time that exists in local time.
    static COleDateTime FirstExistingMinute(const COleDateTime& time);

    UINT m_nScheduleInterval = SCHEDULE_FIRST_MS;
    CFolderMonThreadJob m_folderMonitor;
    CExecuteJob m_executeJob;
    SCHEDULEINFO m_schedule;
    CString m_strMonitorFolders;
    CString m_strAccessFolders;
    CString m_strProfileAfter;
    CString m_strLaunchCommand;
    CString m_strProfileName;
    CString m_strLastRunsKey;
    CString m_strNextRunText;
    COleDateTime m_dtLastScheduledRun;
    COleDateTime m_dtNextScheduledRun;
    COleDateTime m_dtLastRunStart;
    COleDateTime m_dtNextRunTime;
    COleDateTime m_dtLastRunEnd;
    int m_nRunState = RUNSTATE_DISABLED;
    int m_nLastExitCode = 0;
    int m_nRerunCount = 0;
    bool m_bChangesPending = false;
    bool m_bChangesWhileInaccessible = false;
    bool m_bReactivating = false;
    bool m_bWasInaccessible = false;
    bool m_bNextIsAsAvailable = false;
    bool m_bNextIsRerun = false;
    int m_nDayOfComputation = -1;
    int m_nLastRunsHive = 0;
    bool m_bStopping = false;
    DWORD m_dwIgnoreChangesUntil = 0;
    CProfileRunList m_runList;
    UINT m_nAccessRetryMs = ACCESS_RETRY_FIRST_MS;
    CCriticalSection m_cs1;
    CCriticalSection m_cs2;
    CRunItemOwner* m_pOwnerList = nullptr;
    CString m_strCheckFolders;

    DECLARE_MESSAGE_MAP()
};
