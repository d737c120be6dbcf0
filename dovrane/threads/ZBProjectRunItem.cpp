#include "dovrane/threads/ZBProjectRunItem.h"

#include <algorithm>
#include <vector>

#include "common/DebugPrintf.h"
#include "common/EventLog.h"
#include "common/MultiFoldersParser.h"
#include "common/RegUtils.h"
#include "common/TextUtils.h"
#include "common/UrlCodec.h"
#include "dovrane/model/PathVariables.h"
#include "dovrane/model/ProfileDescription.h"
#include "dovrane/model/RegEntry.h"
#include "dovrane/model/SyncExitCode.h"
#include "dovrane/model/SyncProgramKey.h"
#include "dovrane/model/ZB_TODO_HTML.h"
#include "dovrane/threads/FolderList.h"
#include "dovrane/threads/NextRunTime.h"
#include "platform/classlib/SingleLock.h"
#include "platform/classlib/Time.h"
#include "platform/classlib/WinApp.h"

namespace {

const char16_t kLaunchError[] = u"Error launching Zebrodyne Pro. Application not found on this computer.";
const char16_t kNoMethod[] = u"No execution method specified in this Zebrodyne profile.";
const char16_t kProfileChanged[] =
    u", ZBEngine has detected changes in this Zebrodyne profile and has disabled the scheduled run(s): "
    u"manual reactivation required.";
const int kIdChars = 512;
const int kFirstMethod = 1;
const int kLastMethod = 7;

CString MonitorWhere(int bits, LPCWSTR source, LPCWSTR target, LPCWSTR both) {
    switch (bits & (MONITOR_SOURCE | MONITOR_TARGET)) {
        case MONITOR_SOURCE: return source;
        case MONITOR_TARGET: return target;
        case MONITOR_SOURCE | MONITOR_TARGET: return both;
        default: return CString();
    }
}

CString FrequencyWord(int frequency) {
    switch (frequency) {
        case ASAVAILABLE_IMMEDIATELY: return u"immediately ";
        case ASAVAILABLE_HOURLY: return u"hourly ";
        case ASAVAILABLE_DAILY: return u"daily ";
        case ASAVAILABLE_WEEKLY: return u"weekly ";
        default: return CString();
    }
}

CString Plural(int count, LPCWSTR one, LPCWSTR many) {
    if (count == 1) return one;
    CString text;
    text.Format(many, count);
    return text;
}

// A folder with its variables resolved for now; unresolvable ones stay as written.
CString Resolve(const CString& path, const COleDateTime& now, LPCWSTR source) {
    CString resolved;
    CString error;
    ExpandPathVariables(path, now, resolved, &error, source);
    return error.IsEmpty() ? resolved : path;
}

// URL text of a value put into a link, so it cannot leave the link's attribute or script string.
CString UrlPart(const CString& text) {
    const std::string encoded = UrlEncode(text);
    CString result;
    for (char c : encoded) result += static_cast<char16_t>(c);
    return result;
}

}  // namespace

BEGIN_MESSAGE_MAP(CZBProjectRunItem, CRunItem)
ON_WM_TIMER()
ON_MESSAGE(WM_PROJECT_CHANGED, &CZBProjectRunItem::OnProjectChanged)
END_MESSAGE_MAP()

CZBProjectRunItem::CZBProjectRunItem()
    : m_strStateName(GetStateName(RUNSTATE_DISABLED)), m_todo(NoSyncCounts()) {
    // Profile entries must never write the profiles' values into the engine's own settings.
    CRegEntry::SetWriteBack(false);
}

CZBProjectRunItem::~CZBProjectRunItem() {
    // No handler of this class may run while its members go: the watcher stops first (it may be
    // sending to the window), then the window, so late reports of the workers find no window.
    m_profileWatcher.Register(CString(), nullptr, 0);
    if (GetSafeHwnd() != nullptr) DestroyWindow();
}

bool CZBProjectRunItem::SetInfo(const CLaunchItem& item) {
    AssertMainThread();
    if (item.m_strProfile.IsEmpty()) return false;
    {
        CSingleLock lock(&StateLock(), TRUE);
        m_launchItem = item;
    }
    Initialize();
    CString error;
    LoadProfile(error);
    return true;
}

bool CZBProjectRunItem::Initialize() {
    if (m_bInitialized) return true;
    if (GetSafeHwnd() == nullptr && !CreateItemWindow()) {
        SetState(RUNSTATE_ERROR, u"Initialization failure.");
        return false;
    }
    CSingleLock run(&StateLock(), TRUE);
    m_settings.InitEntries();
    m_bInitialized = true;
    m_history.SetKeyAndLoad(GetName());
    return true;
}

void CZBProjectRunItem::SetOwnerWindow(HWND window, UINT message) {
    m_hWndOwner = window;
    m_uOwnerMessage = message;
}

bool CZBProjectRunItem::LoadProfile(CString& error) {
    CSingleLock lock(&StateLock(), TRUE);
    return m_settings.Load(GetName(), false, error);
}

void CZBProjectRunItem::CopyOptions() {
    CSingleLock lock(&StateLock(), TRUE);
    m_bOnlyIfChanged = m_launchItem.m_nOnlyIfChanged != 0;
    m_bAsSoonAsChanged = m_launchItem.m_nAsSoonAsChanged != 0;
    m_nAsAvailableFolders = m_launchItem.m_nAsAvailable;
    m_nAsAvailableFrequency = m_launchItem.m_nAsAvailableFrequency;
    m_bRunMissed = m_launchItem.m_nRunMissed != 0;
    m_nRerunMinutes = m_launchItem.m_nOnErrorRerun;
    SetSchedule(m_launchItem.m_schedule);
    SetProfileAfter(m_launchItem.m_strProfileAfter);
    m_bNotOnError = m_launchItem.m_bNotOnError;
    m_nMaxReruns = m_launchItem.m_nMaxRerun;
    m_bPingOnly = m_launchItem.m_nPing != 0;
    SetProfileName(GetName());
}

bool CZBProjectRunItem::ReadProgramPath() {
    return ReadRegStringLM(kSyncProgramKey, u"path", m_strProgramPath) && !m_strProgramPath.IsEmpty();
}

LAUNCHCOMMAND CZBProjectRunItem::BuildLaunchCommand() const {
    CWinApp* app = AfxGetApp();
    const int mode = app != nullptr ? static_cast<int>(app->GetProfileInt(u"Settings", u"zbrun", 0)) : 0;
    LPCWSTR launchSwitch = u" /dialogautosync /zbeng";
    switch (mode) {
        case 0: launchSwitch = u" /hiddenautosync /zbeng"; break;
        case 1: launchSwitch = u" "; break;
        case 2: launchSwitch = u" /autosync /zbeng"; break;
        default: break;
    }
    LAUNCHCOMMAND command;
    command.strProgram = m_strProgramPath;
    command.strArguments = u"\"" + GetName() + u"\"" + launchSwitch;
    return command;
}

void CZBProjectRunItem::RegisterWatch() {
    m_profileWatcher.Register(GetName(), GetSafeHwnd(), WM_PROJECT_CHANGED);
}

bool CZBProjectRunItem::Enable(const CLaunchItem& item) {
    AssertMainThread();
    SetInfo(item);
    CopyOptions();
    g_DebugPrintf.PrintDebug(u"Enabling profile %s - step 1", GetName());
    if (!ReadProgramPath()) {
        SetState(RUNSTATE_ERROR, kSyncProgramMissing);
        return false;
    }
    SetLaunchCommand(BuildLaunchCommand());
    if (!Initialize()) return false;
    m_bWatchPending = false;
    if (IsExecuting()) {
        // Re-arming must not end the run under way: its end sets the state.
        KillTimer(TIMER_REENABLE);
        PauseSchedule();
    } else {
        Disable();
    }
    g_DebugPrintf.Print(u"Enabling profile %s", GetName());
    CString error;
    if (!LoadProfile(error)) {
        SetState(RUNSTATE_ERROR, error);
        return false;
    }
    RegisterWatch();
    ArmTimer(TIMER_REENABLE, REENABLE_INTERVAL_MS);
    CString monitorList;
    CString accessList;
    if (!GetFolderLists(monitorList, accessList)) {
        SetState(RUNSTATE_ERROR, monitorList);
        return false;
    }
    SetMonitorFolders(monitorList);
    SetAccessFolders(accessList);
    return Activate();
}

void CZBProjectRunItem::Disable() {
    AssertMainThread();
    SetProfileName(GetName());
    if (!m_bInitialized) Initialize();
    if (GetSafeHwnd() != nullptr) {
        KillTimer(TIMER_REENABLE);
        KillTimer(TIMER_PROGRESS);
    }
    StopSchedule();
    SetState(RUNSTATE_DISABLED, CString());
    g_DebugPrintf.Print(u"Disabling profile %s", GetName());
    if (m_bWatchPending) {
        m_bWatchPending = false;
        RegisterWatch();
    }
}

bool CZBProjectRunItem::GetFolderLists(CString& monitorList, CString& accessList) {
    const CStringArray sources = CMultiFoldersParser::SplitFolders(m_settings.m_SourceFolder.GetValue());
    const CStringArray targets = CMultiFoldersParser::SplitFolders(m_settings.m_TargetFolder.GetValue());
    const CDWordArray& flags = m_settings.m_IncludeSubfoldersFlags.GetFlags();
    const COleDateTime now = COleDateTime::GetCurrentTime();
    CString sourceText;
    CString targetText;
    for (INT_PTR i = 0; i < sources.GetSize(); ++i) {
        const bool flag = i < flags.GetSize() && flags[i] != 0;
        const CString source = Resolve(sources[i], now, nullptr);
        AppendFolderListItem(sourceText, source, flag);
        if (i < targets.GetSize()) AppendFolderListItem(targetText, Resolve(targets[i], now, source), flag);
    }
    const int method = m_settings.m_ExecutionMethod.GetValue();
    if (method < kFirstMethod || method > kLastMethod) {
        monitorList = kNoMethod;
        accessList = kNoMethod;
        return false;
    }
    const int monitor = m_launchItem.m_nMonitor;
    const int access = monitor | m_launchItem.m_nAsAvailable;
    monitorList = ((monitor & MONITOR_SOURCE) ? sourceText : CString()) +
                  ((monitor & MONITOR_TARGET) ? targetText : CString());
    accessList = ((access & MONITOR_SOURCE) ? sourceText : CString()) +
                 ((access & MONITOR_TARGET) ? targetText : CString());
    return true;
}

// The profile's settings, read again on the main thread (LoadProfile), are read under the state
// lock here and below: pages read them on their own threads.
CString CZBProjectRunItem::GetHtmlSummary() {
    CSingleLock lock(&StateLock(), TRUE);
    CString folders;
    CString comparison;
    CString execution;
    BuildProfileDescription(m_settings, folders);
    BuildComparisonDescription(m_settings, comparison);
    BuildExecutionDescription(m_settings, execution);
    return u"<b>Folders</b><br>- " + folders + u"<br>" + u"<b>Comparison</b><br>- " + comparison + u"<br>" +
           u"<b>Execution</b><br>- " + execution + u"<br>";
}

CString CZBProjectRunItem::GetHtmlText() {
    CSingleLock lock(&StateLock(), TRUE);
    return m_settings.m_LogFile.GetValue();
}

CString CZBProjectRunItem::GetSourceText() {
    CSingleLock lock(&StateLock(), TRUE);
    return m_settings.m_SourceFolder.GetValue();
}

CString CZBProjectRunItem::GetTargetText() {
    CSingleLock lock(&StateLock(), TRUE);
    return m_settings.m_TargetFolder.GetValue();
}

CString CZBProjectRunItem::GetExecutionMethodText() {
    CSingleLock lock(&StateLock(), TRUE);
    const CPerInt& method = m_settings.m_ExecutionMethod;
    const int value = method.GetValue();
    if (value == 0) return u"None";
    return value > 0 && value < method.GetValueNameCount() ? method.GetValueName(value) : CString();
}

bool CZBProjectRunItem::ResetLastRuns() {
    AssertMainThread();
    CSingleLock run(&StateLock(), TRUE);
    m_history.RemoveAll();
    return m_history.SaveToDB();
}

CString CZBProjectRunItem::GetStateName(int state) {
    switch (state) {
        case RUNSTATE_DISABLED: return u"Disabled";
        case RUNSTATE_ENABLED:
        case RUNSTATE_SUCCEEDED:
        case RUNSTATE_FAILED: return u"Enabled";
        case RUNSTATE_RUNNING: return u"Running...";
        case RUNSTATE_ERROR: return u"Error";
        case RUNSTATE_CHANGES: return u"Changes Detected";
        case RUNSTATE_NOT_ACCESSIBLE: return u"Source or Target Not Accessible";
        default: return CString();
    }
}

CString CZBProjectRunItem::BuildSettingsText() const {
    const CLaunchItem& item = m_launchItem;
    std::vector<CString> parts;
    if (item.m_nStartup != 0) parts.push_back(u"Run at startup");
    CString schedule = GetScheduleText(item.m_schedule);
    if (item.m_nOnlyIfChanged != 0)
        schedule +=
            u", only if file changes are detected" +
            MonitorWhere(item.m_nMonitor, u" in source(s)", u" in target(s)", u" in source(s) or target(s)");
    if (!schedule.IsEmpty()) parts.push_back(schedule);
    if (item.m_nAsSoonAsChanged != 0)
        parts.push_back(
            u"Monitor " +
            MonitorWhere(item.m_nMonitor, u"source(s)", u"target(s)", u"source(s) and target(s)") +
            u" and run when file changes are detected");
    if (item.m_nAsAvailable != 0)
        parts.push_back(u"Run " + FrequencyWord(item.m_nAsAvailableFrequency) +
                        u"as soon as source and target are accessible");
    if (item.m_nRunMissed != 0) parts.push_back(u"If scheduled run is missed, run at next startup");
    if (parts.empty()) parts.push_back(u"Run manually");
    if (item.m_nOnErrorRerun > 0) {
        CString rerun =
            u"If error occurs rerun after " + Plural(item.m_nOnErrorRerun, u"1 minute", u"%d minutes");
        if (item.m_nMaxRerun > 0) rerun += u", max. " + Plural(item.m_nMaxRerun, u"1 time", u"%d times");
        parts.push_back(rerun);
    }
    if (item.m_nPing != 0)
        parts.push_back(u"Check if source and target are accessible on server using PING command only");
    if (!item.m_strProfileAfter.IsEmpty())
        parts.push_back(u"After this profile, run " + item.m_strProfileAfter +
                        (item.m_bNotOnError ? u", but do not run on error" : u""));
    CString text;
    for (const CString& part : parts) text += (text.IsEmpty() ? u"" : u" - ") + part;
    return text;
}

void CZBProjectRunItem::SetState(int state, const CString& text) {
    CSingleLock run(&StateLock(), TRUE);
    CSingleLock lock(&StateLock(), TRUE);
    const int current = m_nRunState;
    if (state == RUNSTATE_CHANGES && current == RUNSTATE_RUNNING) return;
    // A run under way keeps showing itself; its end sets the state.
    if (current == RUNSTATE_RUNNING && IsExecuting() &&
        (state == RUNSTATE_ENABLED || state == RUNSTATE_NOT_ACCESSIBLE))
        return;
    if (current == RUNSTATE_DISABLED && state != RUNSTATE_DISABLED && state != RUNSTATE_ENABLED &&
        state != RUNSTATE_ERROR && state != RUNSTATE_NOT_ACCESSIBLE)
        return;
    m_nShownState = state;
    m_strStatusText = text;
    m_strStateName = GetStateName(state);
    m_strSettingsText = BuildSettingsText();
    m_strChainText = GetChainText();
    if (state != current) {
        g_DebugPrintf.Print(u"[%s] %s %s", GetName(), m_strStateName, m_strSettingsText);
        if (!text.IsEmpty()) g_DebugPrintf.Print(u"[%s] %s", GetName(), text);
    }
    if (state == RUNSTATE_ERROR) {
        CString event;
        event.Format(u"[%s] %s - %s", GetName(), m_strStateName, text);
        g_EventLog.WriteEventLog(EVENTLOG_ERROR_TYPE, event);
    }
    m_nRunState = state;
    if (m_hWndOwner != nullptr) PostMessageW(m_hWndOwner, m_uOwnerMessage, 0, 0);
}

void CZBProjectRunItem::OnTimer(UINT_PTR id) {
    CRunItem::OnTimer(id);
    if (id == TIMER_REENABLE) {
        CString monitorList;
        CString accessList;
        if (!GetFolderLists(monitorList, accessList) || GetState() == RUNSTATE_ERROR) {
            const CLaunchItem item = m_launchItem;
            Enable(item);
        }
    } else if (id == TIMER_PROGRESS) {
        ReadProgress();
    }
}

LRESULT CZBProjectRunItem::OnProjectChanged(WPARAM, LPARAM) {
    Disable();
    SetState(RUNSTATE_DISABLED,
             FormatDateTimeRelative(COleDateTime::GetCurrentTime(), FTR_DATE | FTR_TIME | FTR_RELATIVE) +
                 kProfileChanged);
    CString error;
    LoadProfile(error);
    return 0;
}

LRESULT CZBProjectRunItem::OnFolderMonitorEvent(WPARAM code, LPARAM detail) {
    if (code == FOLDERMON_ENDED && detail == 1)
        SetState(RUNSTATE_ERROR, u"Windows can not monitor folder: " + m_folderMonitor.GetErrorFolder());
    else if (code == FOLDERMON_CHANGES)
        SetState(RUNSTATE_CHANGES, u"Changes Detected.");
    return RUNITEMEVENT_GO_ON;
}

LRESULT CZBProjectRunItem::OnExecuteEvent(WPARAM code, LPARAM) {
    switch (code) {
        case EXECNOTIFY_FAILED:
            KillTimer(TIMER_PROGRESS);
            Disable();
            SetState(RUNSTATE_DISABLED, kLaunchError);
            g_DebugPrintf.Print(u"%s", kLaunchError);
            g_EventLog.WriteEventLog(EVENTLOG_ERROR_TYPE, kLaunchError);
            break;
        case EXECNOTIFY_REPEATED:
            g_DebugPrintf.PrintDebug(u"Repeating...");
            OnRunStarted();
            break;
        case EXECNOTIFY_STARTED: OnRunStarted(); break;
        case EXECNOTIFY_ENDED: OnRunEnded(); break;
        default: break;
    }
    return RUNITEMEVENT_GO_ON;
}

void CZBProjectRunItem::OnRunStarted() {
    SetState(RUNSTATE_RUNNING, CString());
    {
        CSingleLock run(&StateLock(), TRUE);
        const DWORD processId = m_executeJob.GetProcessId();
        m_status.Open(processId);
        // Not waiting for the program's identification here: timer 3 picks it up.
        m_engStatus.Attach(processId);
        ResetProgress();
        TakeRunId();
    }
    ArmTimer(TIMER_PROGRESS, PROGRESS_INTERVAL_MS);
}

void CZBProjectRunItem::ResetProgress() {
    m_strStatusText.Empty();
    m_nPercent = -1;
    m_strFile.Empty();
    m_strCaption.Empty();
    m_strLine1.Empty();
    m_strLine2.Empty();
    m_strLine3.Empty();
    m_strTodoHtml.Empty();
    m_strRunId.Empty();
    m_todo = NoSyncCounts();
}

void CZBProjectRunItem::TakeRunId() {
    if (m_strRunId.IsEmpty() && m_engStatus.PollID()) m_strRunId = m_engStatus.GetID();
}

void CZBProjectRunItem::ReadProgress() {
    CSingleLock run(&StateLock(), TRUE);
    m_strStatusText = m_status.GetStatusText();
    m_nPercent = m_status.GetPercent();
    m_strFile = m_engStatus.GetFile();
    m_strCaption = m_engStatus.GetCaption();
    m_strLine1 = m_engStatus.GetLine1();
    m_strLine2 = m_engStatus.GetLine2();
    m_strLine3 = m_engStatus.GetLine3();
    if (m_strTodoHtml.IsEmpty() && m_engStatus.GetToDo(m_todo) && HasData(m_todo))
        m_strTodoHtml = CZB_TODO_HTML().Build(m_todo);
    TakeRunId();
}

CString CZBProjectRunItem::RunDescription(const CString& result) {
    CString text;
    const int current = m_runList.GetCurrentIndex();
    if (current > 0 && current < m_runList.GetSize() && m_runList[current].m_nAddedAsProfileAfter != 0)
        text = u"After " + ShortDisplayName(m_runList[current - 1].m_strName) + u" ";
    return text + GetRunReasonText(GetJobReason()) + u" - " + result;
}

CProjectRunTime CZBProjectRunItem::BuildRunRecord(const CString& description) {
    CProjectRunTime record;
    record.m_tStart = m_executeJob.GetStartTime();
    record.m_tEnd = CTime::GetCurrentTime().GetTime();
    record.m_strResult = description;
    record.m_nExitCode = static_cast<int>(GetJobExitCode());
    if (m_todo.nResult == -1) m_engStatus.GetToDo(m_todo);
    record.m_todo = m_todo;
    m_engStatus.GetRecord(u"DONE", &record.m_done, sizeof record.m_done);
    m_engStatus.GetRecord(u"COMS", &record.m_coms, sizeof record.m_coms);
    m_engStatus.GetRecord(u"COMT", &record.m_comt, sizeof record.m_comt);
    if (m_strRunId.IsEmpty()) m_strRunId = m_engStatus.GetString(u"ID", kIdChars);
    record.m_strLogID = m_strRunId;
    record.m_strLastError = m_engStatus.GetLastError();
    return record;
}

void CZBProjectRunItem::OnRunEnded() {
    KillTimer(TIMER_PROGRESS);
    const int exitCode = static_cast<int>(GetJobExitCode());
    const CString result =
        exitCode == 0 ? CString(u"Successful.") : GetExitCodeText(static_cast<DWORD>(exitCode));
    CSingleLock run(&StateLock(), TRUE);
    const CProjectRunTime record = BuildRunRecord(RunDescription(result));
    CString line;
    line.Format(u"[%s] Profile finished. Result \"%s\". Exit Code: %d.", GetName(), result, exitCode);
    g_DebugPrintf.Print(u"%s", line);
    g_EventLog.WriteEventLog(exitCode != 0 ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, line);
    m_history.AddHeadEntry(record);
    m_history.TrimAfterRun(exitCode);
    run.Unlock();
    // Only this thread writes the history: it is stored without holding the readers off.
    g_DebugPrintf.PrintDebug(u"Saving last runs to registry.");
    m_history.SaveToDB();
    if (!IsRepeatQueued())
        SetState(exitCode == 0 || exitCode == SYNC_COPY_DELETE_ERRORS ? RUNSTATE_SUCCEEDED : RUNSTATE_FAILED,
                 result);
}

int CZBProjectRunItem::GetProgressPercent() {
    CSingleLock run(&StateLock(), TRUE);
    return GetState() == RUNSTATE_RUNNING ? m_nPercent : -1;
}

CString CZBProjectRunItem::StateText(bool html) {
    CSingleLock run(&StateLock(), TRUE);
    if (m_nShownState != RUNSTATE_RUNNING) return m_strStateName;
    const int64_t start = m_executeJob.GetStartTime();
    const int64_t now = CTime::GetCurrentTime().GetTime();
    const CString running = FormatTimeRelative(CTime(static_cast<time_t>(start)), FTR_TIME) + u" (" +
                            FormatDuration(static_cast<UINT>(std::max<int64_t>(now - start, 0))) + u") " +
                            m_strChainText + GetRunReasonText(GetJobReason());
    if (!html) return m_strStateName + u" Start Time " + running;
    return HtmlEscape(m_strStateName) + u"<br>Start Time " + HtmlEscape(running);
}

CString CZBProjectRunItem::GetStatusText() {
    return StateText(false);
}

CString CZBProjectRunItem::GetStatusHtml() {
    return StateText(true);
}

CString CZBProjectRunItem::GetSettingsText() {
    CSingleLock run(&StateLock(), TRUE);
    return m_strSettingsText;
}

CString CZBProjectRunItem::GetDetailsText() {
    CSingleLock run(&StateLock(), TRUE);
    CString text = m_strStatusText;
    if (!text.IsEmpty() && GetState() == RUNSTATE_RUNNING && m_nPercent >= 0 && m_nPercent <= 99)
        text.AppendFormat(u" (%d%%)", m_nPercent);
    return text;
}

namespace {

const char16_t kEntrySeparator[] = u"*?*";
const char16_t kEllipsisEntry[] = u"...";
const int kEllipsisBefore = 16;
const char16_t kErrorIcon[] = u"<img src=\"img/err.gif\" width=\"16\" height=\"16\" align=\"texttop\"> ";
const char16_t kOkIcon[] = u"<img src=\"img/tick.gif\" width=\"16\" height=\"16\" align=\"texttop\"> ";
const char16_t kHelpLink[] = u"&nbsp;<a href=\"/help/help.htm?sc9\" target=\"_blank\">Help</a>";
const char16_t kMoreInfoLink[] =
    u"&nbsp;<a href=\"#\" onClick=\"showPopup('%dtodo', event, 50, -9999); return false;\">More Info...</a>";
const char16_t kRunPopup[] =
    u"<DIV  style='width: 550px;' onclick=\"event.cancelBubble = true;\" class='popuptodo' "
    u"id='%dtodo'><table "
    u"cellspacing=0 cellpadding=0 width=100%%><tr><td><a class=closeLink href='#' "
    u"onclick='hideCurrentPopup(); "
    u"return false;'>(Close)</a></td><td style='text-align: right;'><span class='popupsmalltext'>Run ID: "
    u"%s</span></td></tr><tr><td></td><td style='text-align: right;'><span class='popupsmalltext'><a "
    u"href=\"#PROFILE_SHOWLOGFILE_COMMAND#&LID=%s\" "
    u"onclick=\"openwin('#PROFILE_SHOWLOGFILE_COMMAND_SPECIAL#&LID=%s'); return false;\">View Log for This "
    u"Run</a></span></td></tr></table><br>%s</DIV>";
const char16_t kPreviewPopup[] =
    u"<DIV style='width: 550px;' onclick=\"event.cancelBubble = true;\" class='popuptodo' id='todo'><table "
    u"cellspacing=0 cellpadding=0 width=100%%><tr><td><a class=closeLink href='#' "
    u"onclick='hideCurrentPopup(); "
    u"return false;'>(Close)</a></td><td style='text-align: right;'><span class='popupsmalltext'>Run ID: "
    u"%s</span></td></tr><tr><td></td><td style='text-align: right;'><span class='popupsmalltext'><a "
    u"href=\"#PROFILE_SHOWLOGFILE_COMMAND#&LID=%s\" "
    u"onclick=\"openwin('#PROFILE_SHOWLOGFILE_COMMAND_SPECIAL#&LID=%s'); return false;\">View Log for This "
    u"Run</a></span></td></tr></table><br>";
const char16_t kLogLink[] =
    u"<div style='text-align:right;'><span class='popupsmalltextleftmarg'><a "
    u"href=\"#PROFILE_SHOWLOGFILE_COMMAND#&LID=%s\" "
    u"onclick=\"openwin('#PROFILE_SHOWLOGFILE_COMMAND_SPECIAL#&LID=%s'); return false;\">View Log for This "
    u"Run</a></span></div><br>";
const char16_t kPreviewLink[] =
    u"<br> <a href=\"#\" onClick=\"showPopup('todo', event, 50, -9999); return false;\">Run Preview...</a>";

CString Icon(const CProjectRunTime& record) {
    return record.m_nExitCode != 0 ? kErrorIcon : kOkIcon;
}

CString MoreInfo(const CProjectRunTime& record) {
    CString content;
    if (!record.GetRunPreview().IsEmpty()) content = record.GetRunPreview() + u"<br>";
    content += record.GetRunSummary();
    if (!record.GetLastError().IsEmpty())
        content += u"<br><span class='tablehigh'>" + HtmlEscape(record.GetLastError()) + u"</span><br>";
    const CString id = UrlPart(record.GetLogID());
    CString link;
    link.Format(kLogLink, id, id);
    return content + link + record.GetFinalStatus();
}

CString HighlightAfter(const CString& line, LPCWSTR label) {
    CString text = HtmlEscape(line);
    text.Replace(label, CString(u"<span class='highlight'>") + label + u"</span>");
    return text;
}

}  // namespace

CString CZBProjectRunItem::GetProgressHtml() {
    CSingleLock run(&StateLock(), TRUE);
    if (m_strStatusText.IsEmpty() || GetState() != RUNSTATE_RUNNING || m_nPercent < 0 || m_nPercent > 99 ||
        m_strFile.IsEmpty())
        return CString();
    CString html = u"<br><strong>Progress of \"" + HtmlEscape(m_strStatusText) + u"\" :</strong><br>";
    html += u"<span class='highlight'>" + HtmlEscape(m_strFile) + u"</span>";
    if (!m_strLine2.IsEmpty()) html += u"<br>" + HtmlEscape(m_strLine2);
    if (!m_strLine1.IsEmpty()) html += u"<br>" + HighlightAfter(m_strLine1, u"Estimated Time Left:");
    if (!m_strLine3.IsEmpty()) html += u"<br>" + HighlightAfter(m_strLine3, u"Transfer Rate:");
    if (!m_strTodoHtml.IsEmpty() && !m_strRunId.IsEmpty()) {
        const CString id = UrlPart(m_strRunId);
        CString popup;
        popup.Format(kPreviewPopup, HtmlEscape(m_strRunId), id, id);
        html += u"<br>" + CString(kPreviewLink) + popup + m_strTodoHtml + u"</DIV>";
    }
    return html;
}

CString CZBProjectRunItem::GetLastRunHtml() {
    CSingleLock run(&StateLock(), TRUE);
    if (m_history.IsEmpty()) return u"None";
    const CProjectRunTime& newest = m_history.GetHead();
    CString html = Icon(newest) + HtmlEscape(newest.GetRunText());
    if (newest.m_nExitCode != 0) html += kHelpLink;
    return html;
}

void CZBProjectRunItem::GetLastRun(LONGLONG& start, bool& failed) {
    CSingleLock run(&StateLock(), TRUE);
    start = m_history.IsEmpty() ? 0 : m_history.GetHead().m_tStart;
    failed = !m_history.IsEmpty() && m_history.GetHead().m_nExitCode != 0;
}

CString CZBProjectRunItem::GetLastOkRunText() {
    CSingleLock run(&StateLock(), TRUE);
    for (POSITION pos = m_history.GetHeadPosition(); pos != nullptr;) {
        const CProjectRunTime& record = m_history.GetNext(pos);
        if (record.m_nExitCode == 0) return record.GetRunText();
    }
    return u"None";
}

CString CZBProjectRunItem::GetLastRunsHtml() {
    CSingleLock run(&StateLock(), TRUE);
    if (m_history.IsEmpty()) return u"None";
    CString html;
    int n = 0;
    for (POSITION pos = m_history.GetHeadPosition(); pos != nullptr;) {
        const CProjectRunTime& record = m_history.GetNext(pos);
        if (++n == kEllipsisBefore) html += CString(kEntrySeparator) + kEllipsisEntry;
        CString entry = Icon(record) + HtmlEscape(record.GetRunText());
        if (!record.GetLogID().IsEmpty()) {
            CString link;
            link.Format(kMoreInfoLink, n);
            const CString id = UrlPart(record.GetLogID());
            CString popup;
            popup.Format(kRunPopup, n, HtmlEscape(record.GetLogID()), id, id, MoreInfo(record));
            entry += link + popup;
        }
        html += kEntrySeparator + entry;
    }
    return html;
}

std::shared_ptr<const CString> CZBProjectRunItem::GetSharedLastRunsHtml() {
    CString html = GetLastRunsHtml();
    CSingleLock run(&StateLock(), TRUE);
    if (!m_lastRunsHtml || *m_lastRunsHtml != html)
        m_lastRunsHtml = std::make_shared<const CString>(std::move(html));
    return m_lastRunsHtml;
}

CString CZBProjectRunItem::GetNextRunDisplayText(int index, const COleDateTime& reference) {
    const CString checking = u"Checking... ";
    const CString nextRunText = GetNextRunText();
    if (nextRunText == checking) return checking;
    const int state = GetState();
    if (state == RUNSTATE_NOT_ACCESSIBLE)
        return m_nAsAvailableFolders != 0 && index == 0 ? GetAsAvailableText() : CString(u"None");
    if (!IsActive() && !IsExecuting()) return u"None";
    CSingleLock lock(&StateLock(), TRUE);
    if (m_dtNextRunTime == g_DateNeverAlt) return u"Schedule Error";
    const bool never = m_dtNextRunTime == g_DateNever;
    const bool rerun = m_bNextIsRerun && index == 0;
    const bool failed = m_nLastExitCode != 0;
    CString text;
    if (!m_bOnlyIfChanged || m_bNextIsAsAvailable) {
        if (never && !rerun) {
            if (m_bAsSoonAsChanged) return u"As soon as file changes are detected";
            if (m_nAsAvailableFolders != 0) return GetAsAvailableText() + u" again";
            return u"Manual";
        }
        if (index == 0)
            text = m_strNextRunText;
        else if (!failed)
            text = ComputeNextRunText(index, m_schedule, reference);
        else
            text = ComputeNextRunText(index - 1, m_schedule, std::max(reference, m_dtNextRunTime));
        if (index == 0 && !never && !rerun)
            text += m_bNextIsAsAvailable ? u" (If source and target are accessible)" : u" (Scheduled Run)";
        if (m_bAsSoonAsChanged && !text.IsEmpty()) text += u" or as soon as file changes are detected";
        return text;
    }
    if (index == 0)
        text = m_strNextRunText;
    else if (!failed)
        text = ComputeNextRunText(index, m_schedule, COleDateTime::GetCurrentTime());
    else
        text = ComputeNextRunText(index - 1, m_schedule, m_dtNextRunTime);
    if (text.IsEmpty() || (failed && index == 0)) return text;
    return text + (m_bChangesPending ? u" (file changes detected)" : u" if file changes are detected");
}

CString GetRunItemDescription(CZBProjectRunItem& item, int index, const COleDateTime& reference) {
    return item.GetNextRunDisplayText(index, reference);
}
