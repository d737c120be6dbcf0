#include "dovrane/threads/RunItem.h"

#include <cassert>
#include <cmath>
#include <ctime>

#include "common/DebugPrintf.h"
#include "common/PathUtils.h"
#include "common/PumpMessages.h"
#include "common/RegUtils.h"
#include "common/TextUtils.h"
#include "dovrane/threads/NextRunTime.h"
#include "platform/base/Clock.h"
#include "platform/classlib/SingleLock.h"
#include "platform/classlib/Time.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Thread.h"

namespace {

const char16_t kLastRunsKey[] = u"software\\ZBEngine\\ZBEngine\\EngLastSchedRuns";
const char16_t kLastRunFormat[] = u"%Y-%m-%d %H:%M";
const char16_t kSeparator[] = u"===";
const char16_t kSourceFile[] = u".\\threads\\RunItem.cpp";
const int kShortNameChars = 15;
const DWORD kIgnoreChangesAfterStopMs = 3000;
const DWORD kMonitorSettleMs = 3000;

// The schedule tick is armed for each whole minute and compares the next run time with the current
// time taken to the minute, so a run is due at any tick within its minute. The window around that
// minute (20 s back, 1 s ahead) keeps the rule for a run time that is not a whole minute; a run
// time further back is a missed run.
const long long kDueLateMs = 20000;
const long long kDueEarlyMs = 1000;
// A due time that passed after the previous tick, while the main thread was held up, is still
// run as due when the tick comes at most this late; longer gaps are a suspended machine or a
// stopped engine, whose runs count as missed.
const double kStallGraceMinutes = 10;
// Exit code of a run that was stopped: no rerun, no chain.
const int kExitStopped = 4;

bool IsNone(const COleDateTime& date) {
    return date == g_DateNone;
}

// How many stops of this thread's run items are pumping messages now.
thread_local int t_nPumpDepth = 0;

class CPumpScope {
   public:
    CPumpScope() { ++t_nPumpDepth; }
    ~CPumpScope() { --t_nPumpDepth; }
    CPumpScope(const CPumpScope&) = delete;
    CPumpScope& operator=(const CPumpScope&) = delete;
};

}  // namespace

CString CRunItem::ShortDisplayName(const CString& name) {
    std::u16string raw(static_cast<LPCWSTR>(name), name.GetLength());
    raw.push_back(u'\0');
    ShortenPath(raw.data(), kShortNameChars);
    return CString(raw.c_str());
}

BEGIN_MESSAGE_MAP(CRunItem, CWnd)
ON_WM_TIMER()
ON_MESSAGE(WM_RUNITEM_CHANGES, &CRunItem::OnChangesDetected)
ON_MESSAGE(WM_RUNITEM_EXECUTE, &CRunItem::OnExecuteJobNotify)
ON_WM_DEVICECHANGE()
END_MESSAGE_MAP()

CRunItem::CRunItem()
    : m_strLastRunsKey(kLastRunsKey),
      m_dtLastScheduledRun(g_DateNone),
      m_dtNextScheduledRun(g_DateNone),
      m_dtLastRunStart(g_DateNone),
      m_dtNextRunTime(g_DateNone),
      m_dtLastRunEnd(g_DateNone),
      m_dwIgnoreChangesUntil(GetTickCount()),
      m_dtLastTick(g_DateNone) {
    m_runList.SetCurrentIndex(-1);
    m_chainList.SetCurrentIndex(-1);
}

CRunItem::~CRunItem() {
    if (GetSafeHwnd() != nullptr) {
        KillTimer(TIMER_SCHEDULE);
        KillTimer(TIMER_ACCESS_RETRY);
    }
}

LRESULT CRunItem::OnFolderMonitorEvent(WPARAM, LPARAM) {
    return RUNITEMEVENT_GO_ON;
}

LRESULT CRunItem::OnExecuteEvent(WPARAM, LPARAM) {
    return RUNITEMEVENT_GO_ON;
}

void CRunItem::SetState(int, const CString&) {}

BOOL CRunItem::CreateItemWindow() {
    const RECT rect = {0, 0, 10, 10};
    return Create(nullptr, u"ZBEngRunItemWindow", 0, rect, GetDesktopWindow(), 0);
}

int CRunItem::GetState() {
    CSingleLock lock(&StateLock(), TRUE);
    return m_nRunState;
}

bool CRunItem::IsActive() {
    const int state = GetState();
    return state == RUNSTATE_ENABLED || state == RUNSTATE_SUCCEEDED || state == RUNSTATE_FAILED ||
           state == RUNSTATE_CHANGES;
}

COleDateTime CRunItem::GetNextRunTime() {
    CSingleLock lock(&StateLock(), TRUE);
    return m_dtNextRunTime;
}

COleDateTime CRunItem::GetLastScheduledRun() {
    CSingleLock lock(&StateLock(), TRUE);
    return m_dtLastScheduledRun;
}

COleDateTime CRunItem::GetLastRunStart() {
    CSingleLock lock(&StateLock(), TRUE);
    return m_dtLastRunStart;
}

CString CRunItem::GetNextRunText() {
    CSingleLock lock(&StateLock(), TRUE);
    return m_strNextRunText;
}

bool CRunItem::ArmTimer(UINT_PTR id, UINT elapseMs) {
    if (SetTimer(id, elapseMs) == 0) {
        g_DebugPrintf.PrintDebug(u"SetTimer FAILED, ID=%d, TIME=%d, %s-%d", static_cast<int>(id),
                                 static_cast<int>(elapseMs), kSourceFile, __LINE__);
        return false;
    }
    g_DebugPrintf.PrintDebug(u"SetTimer OK, ID=%d, TIME=%d, %s-%d", static_cast<int>(id),
                             static_cast<int>(elapseMs), kSourceFile, __LINE__);
    return true;
}

COleDateTime CRunItem::CurrentMinute() {
    COleDateTime now = COleDateTime::GetCurrentTime();
    TruncateToMinute(now);
    return now;
}

COleDateTime CRunItem::FirstExistingMinute(const COleDateTime& time) {
    // Wall times skipped by a daylight-saving change come back shifted from the round trip.
    const int kMaxGapMinutes = 24 * 60;
    COleDateTime candidate = time;
    for (int step = 0; step < kMaxGapMinutes; ++step) {
        const time_t instant = zbw::LocalToTime(candidate.GetYear(), candidate.GetMonth(), candidate.GetDay(),
                                                candidate.GetHour(), candidate.GetMinute(), 0, -1);
        struct tm parts = {};
        if (instant == -1 || !zbw::LocalTm(instant, parts)) return time;
        if (parts.tm_hour == candidate.GetHour() && parts.tm_min == candidate.GetMinute() &&
            parts.tm_mday == candidate.GetDay())
            return step == 0 ? time : candidate;
        candidate += COleDateTimeSpan(0, 0, 1, 0);
        TruncateToMinute(candidate);
    }
    return time;
}

CString CRunItem::GetScheduleSignature() const {
    CString signature;
    signature.Format(u"%s*%d*%d%d", GetScheduleText(m_schedule), m_nRerunMinutes, m_nAsAvailableFolders,
                     m_nAsAvailableFrequency);
    return signature;
}

void CRunItem::ReadLastRun() {
    CString value;
    if (ReadRegStringCU(m_strLastRunsKey, m_strProfileName, value))
        m_nLastRunsHive = 1;
    else if (ReadRegStringLM(m_strLastRunsKey, m_strProfileName, value))
        m_nLastRunsHive = 2;
    else
        return;
    const int first = value.Find(kSeparator);
    if (first < 2) return;
    const CString rest = value.Mid(first + 3);
    const int second = rest.Find(kSeparator);
    if (second < 2) return;
    const CString lastScheduled = value.Left(first);
    const CString lastStart = rest.Left(second);
    const CString signature = rest.Mid(second + 3);
    if (signature.IsEmpty() || signature != GetScheduleSignature()) return;
    COleDateTime scheduled;
    COleDateTime start;
    CSingleLock lock(&StateLock(), TRUE);
    if (scheduled.ParseDateTime(lastScheduled) && start.ParseDateTime(lastStart)) {
        m_dtLastScheduledRun = scheduled;
        m_dtLastRunStart = start;
    } else {
        m_dtLastScheduledRun = g_DateNone;
        m_dtLastRunStart = g_DateNone;
    }
}

void CRunItem::SaveLastRun() {
    CString value;
    {
        CSingleLock lock(&StateLock(), TRUE);
        value = m_dtLastScheduledRun.Format(kLastRunFormat) + kSeparator +
                m_dtLastRunStart.Format(kLastRunFormat) + kSeparator + GetScheduleSignature();
    }
    if (m_nLastRunsHive == 1) {
        if (!WriteRegStringCU(m_strLastRunsKey, m_strProfileName, value))
            g_DebugPrintf.Print(u"ERROR: cannot write last time run to USER registry.");
    } else if (m_nLastRunsHive == 2) {
        if (!WriteRegStringLM(m_strLastRunsKey, m_strProfileName, value))
            g_DebugPrintf.Print(u"ERROR: cannot write last time run to MACHINE registry.");
    } else if (WriteRegStringCU(m_strLastRunsKey, m_strProfileName, value)) {
        m_nLastRunsHive = 1;
    } else if (WriteRegStringLM(m_strLastRunsKey, m_strProfileName, value)) {
        m_nLastRunsHive = 2;
    } else {
        g_DebugPrintf.Print(u"ERROR: cannot write last time run to USER or MACHINE registry.");
    }
}

CString CRunItem::NotAccessibleText(const CString& folder, int intervalSec) const {
    CString text = u"Folder not accessible: " + folder;
    if (intervalSec != 0) text.AppendFormat(u"  (next check in %d seconds)", intervalSec);
    return text;
}

bool CRunItem::CheckProfileAfter() {
    if (m_pOwnerList == nullptr || !m_pOwnerList->ProfileExists(m_strProfileAfter)) {
        SetState(RUNSTATE_ERROR,
                 u"Profile " + m_strProfileAfter + u", to run after this one, not found in ZBEngine list");
        return false;
    }
    if (m_strProfileAfter.CompareNoCase(m_strProfileName) == 0) {
        SetState(RUNSTATE_ERROR,
                 u"Cannot run " + m_strProfileAfter + u" after this one: same profile error.");
        return false;
    }
    return true;
}

CSyncObject& CRunItem::StateLock() {
    return m_pOwnerList != nullptr ? m_pOwnerList->GetStateLock() : m_csOwnState;
}

void CRunItem::AssertMainThread() const {
    HWND window = GetSafeHwnd();
    (void)window;
    assert(window == nullptr || GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId());
}

bool CRunItem::Activate() {
    AssertMainThread();
    PauseSchedule();
    m_nLastRunsHive = 0;
    {
        CSingleLock lock(&StateLock(), TRUE);
        m_dtLastScheduledRun = g_DateNone;
        m_dtLastRunStart = g_DateNone;
        m_dtNextRunTime = g_DateNone;
        m_nLastExitCode = 0;
        m_strNextRunText = u"Checking... ";
    }
    m_dtLastTick = g_DateNone;
    ReadLastRun();
    m_nScheduleInterval = SCHEDULE_FIRST_MS;
    if (!ArmTimer(TIMER_SCHEDULE, m_nScheduleInterval)) return false;

    bool result = true;
    if (m_bOnlyIfChanged || m_bAsSoonAsChanged) m_bPingOnly = false;
    if ((m_nAsAvailableFolders != 0 || m_bOnlyIfChanged || m_bAsSoonAsChanged) &&
        !m_strAccessFolders.IsEmpty()) {
        m_folderCheck.SetFolders(m_strAccessFolders, m_bPingOnly);
        const FOLDERCHECKRESULT missing = m_folderCheck.IsFolderMissing();
        if (missing == FOLDERCHECK_MISSING) {
            SetState(RUNSTATE_NOT_ACCESSIBLE, NotAccessibleText(m_folderCheck.GetFailingFolder(),
                                                                m_folderCheck.GetLastInterval() / 1000));
            result = false;
        } else if (missing != FOLDERCHECK_ACCESSIBLE && !m_bReactivating) {
            SetState(RUNSTATE_NOT_ACCESSIBLE, u"Checking folders accessibility...");
            result = false;
        }
    }
    m_nAccessRetryMs = ACCESS_RETRY_FIRST_MS;
    if (!m_strAccessFolders.IsEmpty() && !ArmTimer(TIMER_ACCESS_RETRY, m_nAccessRetryMs)) return false;
    if ((m_bOnlyIfChanged || m_bAsSoonAsChanged) && !m_strMonitorFolders.IsEmpty())
        m_folderMonitor.Start(m_strMonitorFolders, GetSafeHwnd(), WM_RUNITEM_CHANGES, kMonitorSettleMs);
    if (!m_strProfileAfter.IsEmpty() && !CheckProfileAfter()) result = false;
    {
        CSingleLock lock(&StateLock(), TRUE);
        m_bNextIsAsAvailable = false;
    }
    if (result) SetState(RUNSTATE_ENABLED, CString());
    SaveLastRun();
    PostMessage(WM_TIMER, TIMER_SCHEDULE, 0);
    return result;
}

void CRunItem::StopSchedule() {
    StopWorkers(true);
}

void CRunItem::PauseSchedule() {
    StopWorkers(false);
}

bool CRunItem::IsPumping() {
    return t_nPumpDepth > 0;
}

void CRunItem::StopWorkers(bool endRun) {
    AssertMainThread();
    KillTimer(TIMER_SCHEDULE);
    CPumpScope pumping;
    PumpMessages();
    while (!m_folderMonitor.Stop(50)) PumpMessages();
    if (endRun) {
        while (!StopJob(50)) PumpMessages();
    }
    m_bChangesPending = false;
    if (!m_bReactivating) m_bChangesWhileInaccessible = false;
    m_nRerunCount = 0;
}

bool CRunItem::Run(int reason, const CProfileRunList* runList) {
    return StartRun(reason, runList, NEXTRUN_NOW);
}

bool CRunItem::StartRun(int reason, const CProfileRunList* runList, NEXTRUN next) {
    AssertMainThread();
    m_bChangesPending = false;
    const int state = GetState();
    if (!IsActive()) {
        if (!(state == RUNSTATE_RUNNING && reason == RUNREASON_CHANGES)) {
            g_DebugPrintf.PrintDebug(u"Profile not active and not running");
            return true;
        }
    }
    g_DebugPrintf.PrintDebug(u"Running profile ...");
    if (runList != nullptr && state != RUNSTATE_RUNNING && !IsExecuting()) SetRunList(*runList);
    {
        CSingleLock lock(&StateLock(), TRUE);
        m_dtLastRunStart = CurrentMinute();
    }
    SaveLastRun();
    m_nRerunCount = reason == RUNREASON_RERUN ? m_nRerunCount + 1 : 0;
    {
        CSingleLock lock(&StateLock(), TRUE);
        m_dtLastRunEnd = g_DateNone;
    }
    if (next == NEXTRUN_NOW) ComputeNextRunTime();
    LaunchRun(m_launchCommand, reason);
    return true;
}

void CRunItem::RunAtStartup() {
    AssertMainThread();
    m_bChangesPending = false;
    if (!IsActive()) {
        g_DebugPrintf.PrintDebug(u"Profile not active and not running");
        return;
    }
    g_DebugPrintf.PrintDebug(u"Running profile ...");
    {
        CSingleLock lock(&StateLock(), TRUE);
        m_dtLastScheduledRun = CurrentMinute();
        m_dtLastRunEnd = g_DateNone;
    }
    SaveLastRun();
    m_nRerunCount = 0;
    ComputeNextRunTime();
    LaunchRun(m_launchCommand, RUNREASON_STARTUP);
}

bool CRunItem::Stop() {
    AssertMainThread();
    g_DebugPrintf.PrintDebug(u"[%s] Stopping... ", m_strProfileName);
    m_bStopping = true;
    // Asks and returns: a program that ignores the quit requests takes up to a minute to end,
    // and its end arrives as the job's "ended" (OnExecuteJobNotify), which finishes the stop.
    if (StopJob(0)) FinishStop();
    return true;
}

void CRunItem::FinishStop() {
    // Only the window's own thread can take messages off its queue; elsewhere the ignore time
    // drops them when they are handled.
    HWND window = GetSafeHwnd();
    if (window != nullptr && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        MSG msg;
        while (PeekMessageW(&msg, window, WM_RUNITEM_CHANGES, WM_RUNITEM_CHANGES, PM_REMOVE)) {
        }
    }
    m_dwIgnoreChangesUntil = GetTickCount() + kIgnoreChangesAfterStopMs;
    m_bStopping = false;
    g_DebugPrintf.PrintDebug(u"[%s] Stopped. ", m_strProfileName);
}

void CRunItem::ComputeNextRunTime() {
    CSingleLock lock(&StateLock(), TRUE);
    const COleDateTime base =
        IsNone(m_dtNextRunTime) && !IsNone(m_dtLastScheduledRun) ? m_dtLastScheduledRun : g_DateNone;
    m_dtNextScheduledRun = ::GetNextRunTime(base, m_schedule, 0);
    m_dtNextRunTime = m_dtNextScheduledRun;
    m_strNextRunText = ::GetNextRunText(m_dtNextRunTime);
    g_DebugPrintf.PrintDebug(u"Last Scheduled Run: %s\n", m_dtLastScheduledRun.Format());
    g_DebugPrintf.PrintDebug(u"Next Scheduled Run: %s\n", m_dtNextScheduledRun.Format());
    m_bNextIsRerun = false;
    m_bNextIsAsAvailable = false;
    const COleDateTime currentMinute = CurrentMinute();
    const int lastExitCode = m_nLastExitCode;
    const bool rerunAllowed = m_nMaxReruns == 0 || m_nRerunCount < m_nMaxReruns;
    if (lastExitCode != 0 && lastExitCode != kExitStopped && m_nRerunMinutes > 0 && !IsNone(m_dtLastRunEnd) &&
        rerunAllowed) {
        COleDateTime t = m_dtLastRunEnd;
        TruncateToMinute(t);
        t += COleDateTimeSpan(0, 0, m_nRerunMinutes, 0);
        TruncateToMinute(t);
        if (t < m_dtNextRunTime && t > currentMinute) {
            m_dtNextRunTime = t;
            CString text;
            text.Format(u"%s (Re-running after error, #%d",
                        FormatDateTimeRelative(t, FTR_DATE | FTR_TIME | FTR_RELATIVE), m_nRerunCount + 1);
            if (m_nMaxReruns >= 1) text.AppendFormat(u" of %d", m_nMaxReruns);
            m_strNextRunText = text + u")";
            m_bNextIsRerun = true;
            g_DebugPrintf.PrintDebug(u"Next Run Time (After on error): %s\n", t.Format());
        }
    }
    if (!m_bNextIsRerun && m_nRunState != RUNSTATE_NOT_ACCESSIBLE && m_nAsAvailableFolders != 0 &&
        m_nAsAvailableFrequency != 1) {
        COleDateTime available = GetNextAsAvailableTime();
        if (IsNone(available)) available = currentMinute;
        if (available < m_dtNextRunTime) {
            m_dtNextRunTime = available;
            m_strNextRunText = FormatDateTimeRelative(available, FTR_DATE | FTR_TIME | FTR_RELATIVE);
            m_bNextIsAsAvailable = true;
        }
        g_DebugPrintf.PrintDebug(u"Next As Soon As Available: %s\n", available.Format());
    }
    m_nDayOfComputation = COleDateTime::GetCurrentTime().GetDayOfYear();
}

COleDateTime CRunItem::GetNextAsAvailableTime() {
    CSingleLock lock(&StateLock(), TRUE);
    if (IsNone(m_dtLastRunStart) || m_dtLastRunStart.GetStatus() != COleDateTime::valid ||
        m_nAsAvailableFrequency == 1)
        return g_DateNone;
    COleDateTimeSpan step;
    switch (m_nAsAvailableFrequency) {
        case 2: step = COleDateTimeSpan(0, 1, 0, 0); break;
        case 3: step = COleDateTimeSpan(1, 0, 0, 0); break;
        case 4: step = COleDateTimeSpan(7, 0, 0, 0); break;
        default: return g_DateNone;
    }
    COleDateTime next = m_dtLastRunStart + step;
    if (next < COleDateTime::GetCurrentTime()) return g_DateNone;
    TruncateToMinute(next);
    return next;
}

CString CRunItem::GetAsAvailableText() {
    const COleDateTime next = GetNextAsAvailableTime();
    if (IsNone(next)) return u"As soon as source and target are accessible";
    CString text;
    text.Format(u"After %s, if source and target are accessible",
                FormatDateTimeRelative(next, FTR_DATE | FTR_TIME | FTR_RELATIVE));
    return text;
}

void CRunItem::GetRunList(CProfileRunList& out) {
    CSingleLock lock(&StateLock(), TRUE);
    out.Copy(m_runList);
    out.SetCurrentIndex(m_runList.GetCurrentIndex());
}

void CRunItem::SetRunList(const CProfileRunList& list) {
    CSingleLock run(&StateLock(), TRUE);
    CSingleLock lock(&StateLock(), TRUE);
    m_runList.Copy(list);
    m_runList.SetCurrentIndex(list.GetCurrentIndex());
}

CString CRunItem::GetChainText() {
    CSingleLock lock(&StateLock(), TRUE);
    const int current = m_runList.GetCurrentIndex();
    if (current <= 0 || current >= m_runList.GetSize() || m_runList[current].m_nAddedAsProfileAfter == 0)
        return CString();
    return u"- After " + ShortDisplayName(m_runList[current - 1].m_strName) + u" ";
}

CString CRunItem::GetRunReasonText(int reason) {
    switch (reason) {
        case RUNREASON_MANUAL: return u"(Manual Run)";
        case RUNREASON_SCHEDULED: return u"(Scheduled Run)";
        case RUNREASON_MISSED: return u"(Missed Run)";
        case RUNREASON_CHANGES: return u"(Changes Detected)";
        case RUNREASON_RERUN: return u"(After Error Rerun)";
        case RUNREASON_ACCESSIBLE: return u"(Source/Target Accessible)";
        case RUNREASON_STARTUP: return u"(At Startup)";
        default: return u"Other";
    }
}

void CRunItem::OnTimer(UINT_PTR id) {
    CWnd::OnTimer(id);
    switch (id) {
        case TIMER_SCHEDULE: ScheduleTick(); break;
        case TIMER_ACCESS_RETRY:
        case TIMER_DEVICE_CHANGE: AccessTimer(id); break;
        default: break;
    }
}

// Once a minute: a change that runs at once, else the due, the missed or no run of the schedule,
// then the next run time when it was used or the day changed.
void CRunItem::ScheduleTick() {
    if (m_bChangesPending && m_bAsSoonAsChanged) {
        g_DebugPrintf.PrintDebug(u"Changes Detected: Running Profile.");
        m_bChangesPending = false;
        Run(RUNREASON_CHANGES);
        return;
    }
    ArmNextMinute();
    g_DebugPrintf.PrintDebug(u"Current Time: %s\n", COleDateTime::GetCurrentTime().Format());
    const COleDateTime now = CurrentMinute();
    g_DebugPrintf.PrintDebug(u"Current Time rounded to lowr minute: %s\n", now.Format());
    if (IsNone(GetNextRunTime())) {
        ComputeNextRunTime();
        g_DebugPrintf.PrintDebug(u"m_NextRunTime: %s\n", GetNextRunTime().Format());
    }
    const NEXTRUNINFO next = ReadNextRun();
    const TICKCASE tick = ClassifyTick(next.time, now);
    m_dtLastTick = now;
    if (tick == TICK_DUE) RunDue(next);
    if (tick == TICK_MISSED) CatchUpMissed(next);
    if (tick != TICK_NOT_DUE || COleDateTime::GetCurrentTime().GetDayOfYear() != DayOfComputation()) {
        ComputeNextRunTime();
        g_DebugPrintf.PrintDebug(u"m_NextRunTime: %s\n", GetNextRunTime().Format());
    }
}

void CRunItem::ArmNextMinute() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    m_nScheduleInterval = 60000 - st.wSecond * 1000 - st.wMilliseconds;
    ArmTimer(TIMER_SCHEDULE, m_nScheduleInterval);
}

CRunItem::NEXTRUNINFO CRunItem::ReadNextRun() {
    CSingleLock lock(&StateLock(), TRUE);
    return {m_dtNextRunTime, m_bNextIsAsAvailable, m_bNextIsRerun};
}

int CRunItem::DayOfComputation() {
    CSingleLock lock(&StateLock(), TRUE);
    return m_nDayOfComputation;
}

// Due: within the window around the current minute, or passed since the tick before, which
// came in time (the main thread was held up). Missed: passed longer ago than the window.
CRunItem::TICKCASE CRunItem::ClassifyTick(const COleDateTime& nextRun, const COleDateTime& now) const {
    const COleDateTime due = FirstExistingMinute(nextRun);
    const long long deltaMs = std::llround((due - now).GetTotalSeconds() * 1000.0);
    const bool heldUp =
        !IsNone(m_dtLastTick) && m_dtLastTick < due && (now - due).GetTotalMinutes() <= kStallGraceMinutes;
    if ((deltaMs > -kDueLateMs && deltaMs < kDueEarlyMs) || (deltaMs < 0 && heldUp)) return TICK_DUE;
    if (deltaMs <= -kDueLateMs) return TICK_MISSED;
    return TICK_NOT_DUE;
}

// A scheduled time (not an as-available one) is remembered as the last scheduled run; after a
// failed run the last scheduled run is cleared instead.
void CRunItem::RecordScheduledRun(const NEXTRUNINFO& next) {
    if (next.asAvailable) return;
    {
        CSingleLock lock(&StateLock(), TRUE);
        m_dtLastScheduledRun = m_nLastExitCode != 0 ? g_DateNone : next.time;
    }
    SaveLastRun();
}

void CRunItem::RunDue(const NEXTRUNINFO& next) {
    RecordScheduledRun(next);
    if (m_nLastExitCode != 0 && m_nRerunMinutes > 0 && next.rerun) {
        if (m_nMaxReruns != 0 && m_nRerunCount >= m_nMaxReruns)
            m_nRerunCount = 0;
        else
            StartRun(RUNREASON_RERUN, nullptr, NEXTRUN_BY_CALLER);
    } else if (!m_bOnlyIfChanged || m_bChangesPending) {
        m_bChangesPending = false;
        StartRun(m_bOnlyIfChanged   ? RUNREASON_CHANGES
                 : next.asAvailable ? RUNREASON_ACCESSIBLE
                                    : RUNREASON_SCHEDULED,
                 nullptr, NEXTRUN_BY_CALLER);
    } else {
        g_DebugPrintf.PrintDebug(u"No changes detected, skipping scheduled run...");
    }
}

void CRunItem::CatchUpMissed(const NEXTRUNINFO& next) {
    RecordScheduledRun(next);
    if (m_bOnlyIfChanged && !m_bChangesPending) {
        g_DebugPrintf.PrintDebug(u"No changes detected, skipping scheduled run...");
        return;
    }
    m_bChangesPending = false;
    if (m_bRunMissed) {
        g_DebugPrintf.PrintDebug(u"Running now skipped runs... ");
        StartRun(RUNREASON_MISSED, nullptr, NEXTRUN_BY_CALLER);
    }
}

void CRunItem::AccessTimer(UINT_PTR id) {
    if (id == TIMER_ACCESS_RETRY) {
        m_nAccessRetryMs *= 2;
        if (m_nAccessRetryMs > 59998) m_nAccessRetryMs = ACCESS_RETRY_MAX_MS;
        ArmTimer(TIMER_ACCESS_RETRY, m_nAccessRetryMs);
    } else {
        KillTimer(TIMER_DEVICE_CHANGE);
    }
    const int state = GetState();
    if (m_strAccessFolders.IsEmpty() || state == RUNSTATE_RUNNING || state == RUNSTATE_DISABLED) return;
    const FOLDERCHECKRESULT missing = m_folderCheck.IsFolderMissing();
    if (missing == FOLDERCHECK_MISSING) {
        if (state == RUNSTATE_NOT_ACCESSIBLE || IsActive()) {
            const int intervalMs = m_folderCheck.GetLastInterval();
            const int shownMs = intervalMs != 0 ? intervalMs : static_cast<int>(m_nAccessRetryMs);
            SetState(RUNSTATE_NOT_ACCESSIBLE,
                     NotAccessibleText(m_folderCheck.GetFailingFolder(), shownMs / 1000));
            m_bWasInaccessible = true;
        }
        return;
    }
    if (missing != FOLDERCHECK_ACCESSIBLE || state != RUNSTATE_NOT_ACCESSIBLE) return;
    m_bReactivating = true;
    Activate();
    m_bReactivating = false;
    if (m_nAsAvailableFolders != 0 && m_bWasInaccessible && m_nAsAvailableFrequency == 1) {
        Run(RUNREASON_ACCESSIBLE);
    } else if (m_bChangesWhileInaccessible) {
        m_bChangesPending = true;
        ScheduleTick();
    }
    m_bChangesWhileInaccessible = false;
    m_bWasInaccessible = false;
}

BOOL CRunItem::OnDeviceChange(UINT, DWORD_PTR) {
    ArmTimer(TIMER_DEVICE_CHANGE, DEVICE_CHANGE_DELAY_MS);
    return TRUE;
}

LRESULT CRunItem::OnChangesDetected(WPARAM wParam, LPARAM lParam) {
    if (m_bStopping || static_cast<int>(GetTickCount() - m_dwIgnoreChangesUntil) < 0) return 0;
    if (!m_strAccessFolders.IsEmpty() && m_folderCheck.IsFolderMissing() == FOLDERCHECK_MISSING) {
        if (wParam == FOLDERMON_CHANGES) {
            g_DebugPrintf.PrintDebug(u"Changes detected.");
            m_bChangesWhileInaccessible = true;
        }
        return 0;
    }
    if (wParam != FOLDERMON_CHANGES) {
        OnFolderMonitorEvent(wParam, lParam);
        return 0;
    }
    if (IsExecuting() && IsRepeatQueued()) return 0;
    if (OnFolderMonitorEvent(FOLDERMON_CHANGES, lParam) != RUNITEMEVENT_GO_ON) return 0;
    g_DebugPrintf.PrintDebug(u"Changes detected.");
    m_bChangesPending = true;
    if (m_bAsSoonAsChanged) {
        g_DebugPrintf.PrintDebug(u"Starting profile.");
        ScheduleTick();
    }
    return 0;
}

void CRunItem::ChainProfileAfter() {
    const int current = m_runList.GetCurrentIndex();
    if (current < 0 || current >= m_runList.GetSize()) {
        m_runList.RemoveAll();
        AddProfileToRunList(m_runList, m_strProfileName);
        AddProfileToRunList(m_runList, m_strProfileAfter);
        m_runList.SetCurrentIndex(0);
        m_runList[1].m_nAddedAsProfileAfter = 1;
        return;
    }
    const int found = FindProfileAfter(m_runList, current, m_strProfileAfter);
    if (found >= 0) m_runList.RemoveAt(found);
    InsertProfileAt(m_runList, current + 1, m_strProfileAfter);
    m_runList[current + 1].m_nAddedAsProfileAfter = 1;
}

void CRunItem::PrepareChain(int exitCode) {
    CSingleLock lock(&StateLock(), TRUE);
    if (!m_strProfileAfter.IsEmpty() && (exitCode == 0 || !m_bNotOnError)) ChainProfileAfter();
    const int current = m_runList.GetCurrentIndex();
    if (current >= 0 && current < m_runList.GetSize()) {
        m_runList[current].m_nExitCode = exitCode;
        if (current != m_runList.GetSize() - 1 && exitCode != kExitStopped) {
            int next = current;
            while (next < m_runList.GetSize() && m_runList[next].m_strName == m_strProfileName) ++next;
            m_chainList.Copy(m_runList);
            m_chainList.SetCurrentIndex(next);
            m_nChainReason = GetJobReason();
            m_bChainPending = true;
        }
    }
    m_runList.RemoveAll();
    m_runList.SetCurrentIndex(-1);
}

void CRunItem::ContinueChain() {
    if (!m_bChainPending) return;
    m_bChainPending = false;
    if (m_pOwnerList != nullptr) StartChainEntry();
    m_chainList.RemoveAll();
    m_chainList.SetCurrentIndex(-1);
}

void CRunItem::StartChainEntry() {
    for (int next = m_chainList.GetCurrentIndex(); next < m_chainList.GetSize(); ++next) {
        const CPROFILETORUNINFO entry = m_chainList[next];
        m_chainList.SetCurrentIndex(next);
        const int answer = m_pOwnerList->RunProfile(entry.m_strName, m_nChainReason, &m_chainList);
        if (answer == RUNPROFILE_STARTED) return;
        if (entry.m_nAddedAsProfileAfter == 0) continue;
        if (answer == RUNPROFILE_NOT_FOUND) {
            StopSchedule();
            SetState(RUNSTATE_DISABLED, u"Profile " + entry.m_strName +
                                            u", to run after this one, not found in ZBEngine list: manual "
                                            u"reactivation required");
            return;
        }
        if (answer == RUNPROFILE_NOT_ACTIVE) {
            SetState(RUNSTATE_FAILED,
                     u"Profile " + entry.m_strName + u", to run after this one, is disabled");
            return;
        }
    }
}

LRESULT CRunItem::OnExecuteJobNotify(WPARAM code, LPARAM lParam) {
    g_DebugPrintf.PrintDebug(u"Info: received notification from CExecuteJob (CRunItem) wParam=%d lParam=%d",
                             static_cast<int>(code), static_cast<int>(lParam));
    if (code != EXECNOTIFY_ENDED) {
        OnExecuteEvent(code, lParam);
        AcknowledgeJob();
        return 0;
    }
    const int exitCode = static_cast<int>(GetJobExitCode());
    {
        CSingleLock lock(&StateLock(), TRUE);
        m_nLastExitCode = exitCode;
        m_dtLastRunEnd = COleDateTime::GetCurrentTime();
    }
    ComputeNextRunTime();
    OnExecuteEvent(EXECNOTIFY_ENDED, lParam);
    PrepareChain(exitCode);
    if (m_bStopping) FinishStop();
    // Everything of the job's run has been read: let it end before the chain starts others.
    AcknowledgeJob();
    ContinueChain();
    return 0;
}

bool CRunItem::LaunchRun(const LAUNCHCOMMAND& command, int reason) {
    return m_executeJob.Execute(command, reason, GetSafeHwnd(), WM_RUNITEM_EXECUTE);
}

bool CRunItem::StopJob(DWORD timeoutMs) {
    return m_executeJob.Stop(timeoutMs);
}

bool CRunItem::IsExecuting() const {
    return m_executeJob.IsRunning();
}

bool CRunItem::IsRepeatQueued() const {
    return m_executeJob.IsRepeating();
}

DWORD CRunItem::GetJobExitCode() const {
    return m_executeJob.GetExitCode();
}

int CRunItem::GetJobReason() const {
    return m_executeJob.GetReason();
}

void CRunItem::AcknowledgeJob() {
    m_executeJob.Acknowledge();
}
