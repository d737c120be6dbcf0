// CRunItem: the scheduling core of one scheduled profile. A hidden window on the engine's main
// thread whose timers drive the schedule; its worker jobs (execute job, folder monitor, folder
// check) report to it by posted messages. It decides when the profile runs (schedule, missed run,
// rerun after an error, detected changes, folders that became accessible), starts and stops runs
// through its CExecuteJob, keeps the dates of the last and next runs, remembers the last scheduled
// run in the registry (HKCU, else HKLM, "software\ZBEngine\ZBEngine\EngLastSchedRuns", value named
// by the profile) and starts the profile to run after it. The profile run item derives from it and
// supplies SetState, OnFolderMonitorEvent and OnExecuteEvent.
//
// Threads: main thread. The window, its handlers and every operation that changes the item run
// on the thread that owns the window (asserted), so its timers are armed and killed there only.
// Other threads only read (the getters marked "any thread"), and only under the owner list's one
// lock (StateLock), which the main thread holds while it writes what they read; without an owner
// the item has a lock of its own.
//
// No handler on the main thread waits on a worker: Stop asks the job to end and returns, and the
// end arrives as the job's "ended" message. The lock is never held while waiting for another
// thread.
//
// Failures: a timer that cannot be armed makes Activate false; registry failures are logged and do
// not stop the schedule. The owner list is not owned; it must outlive the item.
//
// A next run time that falls into the hour skipped by a daylight-saving change is due at the first
// minute after the skip, so it is neither missed nor run twice; a due minute that passed while the
// main thread was held up (the tick before it came in time) still runs as scheduled; activating an
// item whose run is under way keeps the run.
#pragma once

#include <atomic>

#include "dovrane/model/ProfileToRunInfo.h"
#include "dovrane/threads/ExecuteJob.h"
#include "dovrane/threads/FolderCheck.h"
#include "dovrane/threads/FolderMonThreadJob.h"
#include "dovrane/threads/LaunchCommand.h"
#include "dovrane/threads/RunItemMessages.h"
#include "dovrane/threads/RunItemOwner.h"
#include "dovrane/threads/ScheduleInfo.h"
#include "platform/base/CString.h"
#include "platform/classlib/CriticalSection.h"
#include "platform/classlib/OleDateTime.h"
#include "platform/classlib/Wnd.h"

// What OnFolderMonitorEvent and OnExecuteEvent answer: go on with the report, or drop it.
enum RUNITEMEVENT {
    RUNITEMEVENT_DROP = 0,
    RUNITEMEVENT_GO_ON = 1,
};

class CRunItem : public CWnd {
   public:
    CRunItem();
    ~CRunItem() override;

    // Main thread. Reports of the folder monitor and the execute job (RUNITEMEVENT_GO_ON here).
    virtual LRESULT OnFolderMonitorEvent(WPARAM code, LPARAM detail);
    virtual LRESULT OnExecuteEvent(WPARAM code, LPARAM detail);
    // Main thread. A state change (nothing here).
    virtual void SetState(int state, const CString& text);

    // Main thread.
    BOOL CreateItemWindow();

    // Main thread, while the item is not armed (the profile run item sets them when enabling).
    void SetSchedule(const SCHEDULEINFO& schedule) { m_schedule = schedule; }
    void SetMonitorFolders(const CString& text) { m_strMonitorFolders = text; }
    void SetAccessFolders(const CString& text) { m_strAccessFolders = text; }
    void SetProfileAfter(const CString& text) { m_strProfileAfter = text; }
    void SetLaunchCommand(const LAUNCHCOMMAND& command) { m_launchCommand = command; }
    void SetProfileName(const CString& text) { m_strProfileName = text; }
    void SetOwnerList(CRunItemOwner* owner) { m_pOwnerList = owner; }

    // Any thread.
    int GetState();
    bool IsActive();

    // Main thread.
    bool Activate();
    // Stops the timers, the folder monitor and the execute job, ending a run under way; waits for
    // the job while serving this thread's messages (IsPumping meanwhile).
    void StopSchedule();
    bool Run(int reason, const CProfileRunList* runList = nullptr);
    // Asks a run under way to end and returns at once; the end comes as the job's "ended".
    bool Stop();
    // Whether a run item of the calling thread is pumping messages while it stops its workers;
    // what the pump dispatches then must not start another list operation.
    static bool IsPumping();
    // The run at engine start: last scheduled run := the current minute, then the run.
    void RunAtStartup();
    void ComputeNextRunTime();
    void SaveLastRun();

    // Any thread (SetRunList: main thread).
    void GetRunList(CProfileRunList& out);
    void SetRunList(const CProfileRunList& list);
    CString GetChainText();
    static CString GetRunReasonText(int reason);
    COleDateTime GetNextAsAvailableTime();
    CString GetAsAvailableText();
    // Schedule text "*" rerun minutes "*" as-available folders and frequency.
    CString GetScheduleSignature() const;
    COleDateTime GetNextRunTime();
    COleDateTime GetLastScheduledRun();
    COleDateTime GetLastRunStart();
    CString GetNextRunText();
    int GetLastExitCode() const { return m_nLastExitCode; }
    int GetRerunCount() const { return m_nRerunCount; }
    int GetLastRunsHive() const { return m_nLastRunsHive; }
    bool IsStopping() const { return m_bStopping; }
    const CString& GetProfileName() const { return m_strProfileName; }
    const LAUNCHCOMMAND& GetLaunchCommand() const { return m_launchCommand; }

    // Options copied in by the profile run item when it is enabled (while not armed).
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

    // The execute job, behind virtual calls so that tests can stand in for it. LaunchRun hands a
    // run to the job (or queues it as the job's repeat); StopJob is one stop request, true once the
    // job has stopped (0 ms: ask and return).
    virtual bool LaunchRun(const LAUNCHCOMMAND& command, int reason);
    virtual bool StopJob(DWORD timeoutMs);
    virtual bool IsExecuting() const;
    virtual bool IsRepeatQueued() const;
    virtual DWORD GetJobExitCode() const;
    virtual int GetJobReason() const;
    virtual void AcknowledgeJob();

    void ScheduleTick();
    // The steps of the tick.
    struct NEXTRUNINFO {
        COleDateTime time;
        bool asAvailable;
        bool rerun;
    };
    enum TICKCASE { TICK_NOT_DUE, TICK_DUE, TICK_MISSED };
    void ArmNextMinute();
    NEXTRUNINFO ReadNextRun();
    int DayOfComputation();
    TICKCASE ClassifyTick(const COleDateTime& nextRun, const COleDateTime& now) const;
    void RecordScheduledRun(const NEXTRUNINFO& next);
    void RunDue(const NEXTRUNINFO& next);
    void CatchUpMissed(const NEXTRUNINFO& next);
    void AccessTimer(UINT_PTR id);
    bool ArmTimer(UINT_PTR id, UINT elapseMs);
    void ReadLastRun();
    // Stops timers, monitor and job but leaves a run under way running.
    void PauseSchedule();
    void StopWorkers(bool endRun);
    // next: how the next run time is brought up to date (the tick does it once itself).
    enum NEXTRUN { NEXTRUN_NOW, NEXTRUN_BY_CALLER };
    bool StartRun(int reason, const CProfileRunList* runList, NEXTRUN next);
    void FinishStop();
    // The chain after a run: profile after, exit code, next entry to start.
    void PrepareChain(int exitCode);
    void ChainProfileAfter();
    // Starts the next entry of the pending chain.
    void ContinueChain();
    void StartChainEntry();
    // The profile to run after this one is in the list and is not this one.
    bool CheckProfileAfter();
    // The lock that guards what other threads read of the item.
    CSyncObject& StateLock();
    // Debug builds stop when an item operation runs on another thread than its window's.
    void AssertMainThread() const;
    CString NotAccessibleText(const CString& folder, int intervalSec) const;
    void ReportNotAccessible(int intervalMs);
    static COleDateTime CurrentMinute();
    // A profile name shortened for display (15 characters).
    static CString ShortDisplayName(const CString& name);
    // The first minute at or after the given wall time that exists in local time.
    static COleDateTime FirstExistingMinute(const COleDateTime& time);

    // Set while not armed (Set... above), read by the main thread's handlers.
    SCHEDULEINFO m_schedule;
    CString m_strMonitorFolders;
    CString m_strAccessFolders;
    CString m_strProfileAfter;
    LAUNCHCOMMAND m_launchCommand;
    CString m_strProfileName;
    CString m_strLastRunsKey;
    CRunItemOwner* m_pOwnerList = nullptr;

    // Workers owned by the item.
    CFolderMonThreadJob m_folderMonitor;
    CExecuteJob m_executeJob;
    CFolderCheck m_folderCheck;

    // The item's lock when it has no owner list.
    CCriticalSection m_csOwnState;

    // Written by the main thread under StateLock, read by others under it: the run state, the
    // schedule dates and texts, the run list.
    int m_nRunState = RUNSTATE_DISABLED;
    COleDateTime m_dtLastScheduledRun;
    COleDateTime m_dtNextScheduledRun;
    COleDateTime m_dtLastRunStart;
    COleDateTime m_dtNextRunTime;
    COleDateTime m_dtLastRunEnd;
    CString m_strNextRunText;
    bool m_bNextIsAsAvailable = false;
    bool m_bNextIsRerun = false;
    int m_nDayOfComputation = -1;

    CProfileRunList m_runList;

    // Written by the main thread, read by any.
    std::atomic<int> m_nLastExitCode{0};
    std::atomic<int> m_nRerunCount{0};
    std::atomic<bool> m_bChangesPending{false};
    std::atomic<bool> m_bStopping{false};
    std::atomic<DWORD> m_dwIgnoreChangesUntil{0};

    // Main thread only.
    UINT m_nScheduleInterval = SCHEDULE_FIRST_MS;
    UINT m_nAccessRetryMs = ACCESS_RETRY_FIRST_MS;
    COleDateTime m_dtLastTick;  // the minute of the last schedule tick; g_DateNone
                                // after Activate
    bool m_bChangesWhileInaccessible = false;
    bool m_bReactivating = false;
    bool m_bWasInaccessible = false;
    int m_nLastRunsHive = 0;
    CProfileRunList m_chainList;  // the chain waiting to start its next entry
    bool m_bChainPending = false;
    int m_nChainReason = 0;

    DECLARE_MESSAGE_MAP()
};
