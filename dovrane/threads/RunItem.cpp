#include "dovrane/threads/RunItem.h"

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

namespace {

const char16_t kLastRunsKey[] = u"software\\ZBEngine\\ZBEngine\\EngLastSchedRuns";
const char16_t kLastRunFormat[] = u"%Y-%m-%d %H:%M";
const char16_t kSeparator[] = u"===";
const char16_t kSourceFile[] = u".\\threads\\RunItem.cpp";
const int kListMutexMs = 3000;
const int kChainAttempts = 3;
const int kShortNameChars = 15;
// Exit code of a run that was stopped: no rerun, no chain.
const int kExitStopped = 4;

bool IsNone(const COleDateTime& date) {
    return date == g_DateNone;
}

CString ShortName(const CString& name) {
    std::u16string raw(static_cast<LPCWSTR>(name), name.GetLength());
    raw.push_back(u'\0');
    ShortenPath(raw.data(), kShortNameChars);
    return CString(raw.c_str());
}

}  // namespace

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
      m_dwIgnoreChangesUntil(GetTickCount()) {
    m_runList.SetCurrentIndex(-1);
}

CRunItem::~CRunItem() {
    if (GetSafeHwnd() != nullptr) {
        KillTimer(TIMER_SCHEDULE);
        KillTimer(TIMER_ACCESS_RETRY);
    }
}

LRESULT CRunItem::OnFolderMonitorEvent(WPARAM, LPARAM) {
    return 1;
}

LRESULT CRunItem::OnExecuteEvent(WPARAM, LPARAM) {
    return 1;
}

void CRunItem::SetState(int, const CString&) {}

BOOL CRunItem::CreateItemWindow() {
    const RECT rect = {0, 0, 10, 10};
    return Create(nullptr, u"ZBEngRunItemWindow", 0, rect, GetDesktopWindow(), 0);
}

int CRunItem::GetState() {
    CSingleLock lock(&m_cs1, TRUE);
    return m_nRunState;
}

bool CRunItem::IsActive() {
    const int state = GetState();
    return state == RUNSTATE_ENABLED || state == RUNSTATE_SUCCEEDED || state == RUNSTATE_FAILED ||
           state == RUNSTATE_CHANGES;
}

COleDateTime CRunItem::GetNextRunTime() {
    CSingleLock lock(&m_cs1, TRUE);
    return m_dtNextRunTime;
}

COleDateTime CRunItem::GetLastScheduledRun() {
    CSingleLock lock(&m_cs1, TRUE);
    return m_dtLastScheduledRun;
}

COleDateTime CRunItem::GetLastRunStart() {
    CSingleLock lock(&m_cs1, TRUE);
    return m_dtLastRunStart;
}

CString CRunItem::GetNextRunText() {
    CSingleLock lock(&m_cs1, TRUE);
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
    CSingleLock lock(&m_cs1, TRUE);
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
        CSingleLock lock(&m_cs1, TRUE);
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
    if (intervalSec != 0) {
        CString suffix;
        suffix.Format(u"  (next check in %d seconds)", intervalSec);
        text += suffix;
    }
    return text;
}

bool CRunItem::CheckProfileAfter() {
    CMutex* mutex = m_pOwnerList != nullptr ? &m_pOwnerList->GetListMutex() : nullptr;
    const bool locked = mutex != nullptr && mutex->Lock(kListMutexMs);
    bool result = true;
    if (!locked || !m_pOwnerList->ProfileExists(m_strProfileAfter)) {
        SetState(RUNSTATE_ERROR,
                 u"Profile " + m_strProfileAfter + u", to run after this one, not found in ZBEngine list");
        result = false;
    } else if (m_strProfileAfter.CompareNoCase(m_strProfileName) == 0) {
        SetState(RUNSTATE_ERROR,
                 u"Cannot run " + m_strProfileAfter + u" after this one: same profile error.");
        result = false;
    }
    if (locked) mutex->Unlock();
    return result;
}

bool CRunItem::Activate() {
    StopSchedule();
    m_bChangesPending = false;
    if (!m_bReactivating) m_bChangesWhileInaccessible = false;
    m_nLastRunsHive = 0;
    {
        CSingleLock lock(&m_cs1, TRUE);
        m_dtLastScheduledRun = g_DateNone;
        m_dtLastRunStart = g_DateNone;
        m_dtNextRunTime = g_DateNone;
        m_nLastExitCode = 0;
        m_strNextRunText = u"Checking... ";
    }
    ReadLastRun();
    m_nScheduleInterval = SCHEDULE_FIRST_MS;
    if (!ArmTimer(TIMER_SCHEDULE, m_nScheduleInterval)) return false;

    bool result = true;
    if (m_bOnlyIfChanged || m_bAsSoonAsChanged) m_bPingOnly = false;
    if ((m_nAsAvailableFolders != 0 || m_bOnlyIfChanged || m_bAsSoonAsChanged) &&
        !m_strAccessFolders.IsEmpty()) {
        SetCheckFolders(m_strAccessFolders, m_bPingOnly);
        CString folder;
        int intervalMs = 0;
        const int missing = IsFolderMissing(folder, intervalMs);
        if (missing == 1) {
            SetState(RUNSTATE_NOT_ACCESSIBLE, NotAccessibleText(folder, intervalMs / 1000));
            result = false;
        } else if (missing != 0 && !m_bReactivating) {
            SetState(RUNSTATE_NOT_ACCESSIBLE, u"Checking folders accessibility...");
            result = false;
        }
    }
    m_nAccessRetryMs = ACCESS_RETRY_FIRST_MS;
    if (!m_strAccessFolders.IsEmpty() && !ArmTimer(TIMER_ACCESS_RETRY, m_nAccessRetryMs)) return false;
    if ((m_bOnlyIfChanged || m_bAsSoonAsChanged) && !m_strMonitorFolders.IsEmpty())
        m_folderMonitor.Start(m_strMonitorFolders, GetSafeHwnd(), WM_RUNITEM_CHANGES, 3000);
    if (!m_strProfileAfter.IsEmpty() && !CheckProfileAfter()) result = false;
    m_bNextIsAsAvailable = false;
    if (result) SetState(RUNSTATE_ENABLED, CString());
    SaveLastRun();
    PostMessage(WM_TIMER, TIMER_SCHEDULE, 0);
    return result;
}

void CRunItem::StopSchedule() {
    KillTimer(TIMER_SCHEDULE);
    PumpMessages();
    while (!m_folderMonitor.Stop(50)) PumpMessages();
    while (!StopJob(50)) PumpMessages();
    m_bChangesPending = false;
    if (!m_bReactivating) m_bChangesWhileInaccessible = false;
    m_nRerunCount = 0;
}

bool CRunItem::Run(int reason, const CProfileRunList* runList) {
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
        CSingleLock lock(&m_cs1, TRUE);
        m_dtLastRunStart = CurrentMinute();
    }
    SaveLastRun();
    m_nRerunCount = reason == RUNREASON_RERUN ? m_nRerunCount + 1 : 0;
    {
        CSingleLock lock(&m_cs1, TRUE);
        m_dtLastRunEnd = g_DateNone;
    }
    ComputeNextRunTime();
    LaunchRun(m_strLaunchCommand, reason);
    return true;
}

bool CRunItem::Stop() {
    g_DebugPrintf.PrintDebug(u"[%s] Stopping... ", m_strProfileName);
    m_bStopping = true;
    while (!StopJob(1000)) Sleep(100);
    Sleep(100);
    MSG msg;
    while (GetSafeHwnd() != nullptr &&
           PeekMessageW(&msg, GetSafeHwnd(), WM_RUNITEM_CHANGES, WM_RUNITEM_CHANGES, PM_REMOVE))
        Sleep(100);
    m_bStopping = false;
    m_dwIgnoreChangesUntil = GetTickCount() + 3000;
    g_DebugPrintf.PrintDebug(u"[%s] Stopped. ", m_strProfileName);
    return true;
}

void CRunItem::ComputeNextRunTime() {
    CSingleLock lock(&m_cs1, TRUE);
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
    const bool rerunAllowed = m_nMaxReruns == 0 || m_nRerunCount < m_nMaxReruns;
    bool rerun = false;
    if (m_nLastExitCode != 0 && m_nLastExitCode != kExitStopped && m_nRerunMinutes > 0 &&
        !IsNone(m_dtLastRunEnd) && rerunAllowed) {
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
            rerun = true;
            g_DebugPrintf.PrintDebug(u"Next Run Time (After on error): %s\n", t.Format());
        }
    }
    if (!rerun && m_nRunState != RUNSTATE_NOT_ACCESSIBLE && m_nAsAvailableFolders != 0 &&
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

COleDateTime CRunItem::GetNextAsAvailableTime() const {
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

CString CRunItem::GetAsAvailableText() const {
    const COleDateTime next = GetNextAsAvailableTime();
    if (IsNone(next)) return u"As soon as source and target are accessible";
    CString text;
    text.Format(u"After %s, if source and target are accessible",
                FormatDateTimeRelative(next, FTR_DATE | FTR_TIME | FTR_RELATIVE));
    return text;
}

void CRunItem::GetRunList(CProfileRunList& out) {
    CSingleLock lock(&m_cs1, TRUE);
    out.Copy(m_runList);
    out.SetCurrentIndex(m_runList.GetCurrentIndex());
}

void CRunItem::SetRunList(const CProfileRunList& list) {
    CSingleLock lock(&m_cs2, TRUE);
    m_runList.Copy(list);
    m_runList.SetCurrentIndex(list.GetCurrentIndex());
}

CString CRunItem::GetChainText() {
    CSingleLock lock(&m_cs2, TRUE);
    const int current = m_runList.GetCurrentIndex();
    if (current <= 0 || current >= m_runList.GetSize() || m_runList[current].m_nAddedAsProfileAfter == 0)
        return CString();
    return u"- After " + ShortName(m_runList[current - 1].m_strName) + u" ";
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
    if (id == TIMER_SCHEDULE)
        ScheduleTick();
    else if (id == TIMER_ACCESS_RETRY || id == TIMER_DEVICE_CHANGE)
        AccessTimer(id);
}

void CRunItem::ScheduleTick() {
    if (m_bChangesPending && m_bAsSoonAsChanged) {
        g_DebugPrintf.PrintDebug(u"Changes Detected: Running Profile.");
        m_bChangesPending = false;
        Run(RUNREASON_CHANGES);
        return;
    }
    SYSTEMTIME st;
    GetLocalTime(&st);
    m_nScheduleInterval = 60000 - st.wSecond * 1000 - st.wMilliseconds;
    ArmTimer(TIMER_SCHEDULE, m_nScheduleInterval);
    g_DebugPrintf.PrintDebug(u"Current Time: %s\n", COleDateTime::GetCurrentTime().Format());
    const COleDateTime now = CurrentMinute();
    g_DebugPrintf.PrintDebug(u"Current Time rounded to lowr minute: %s\n", now.Format());
    if (IsNone(GetNextRunTime())) {
        ComputeNextRunTime();
        g_DebugPrintf.PrintDebug(u"m_NextRunTime: %s\n", GetNextRunTime().Format());
    }
    const COleDateTime nextRun = GetNextRunTime();
    const long long deltaMs = std::llround((FirstExistingMinute(nextRun) - now).GetTotalSeconds() * 1000.0);
    const COleDateTime lastScheduled = m_nLastExitCode != 0 ? g_DateNone : nextRun;
    bool handled = false;
    if (deltaMs > -20000 && deltaMs < 1000) {
        handled = true;
        if (!m_bNextIsAsAvailable) {
            {
                CSingleLock lock(&m_cs1, TRUE);
                m_dtLastScheduledRun = lastScheduled;
            }
            SaveLastRun();
        }
        if (m_nLastExitCode != 0 && m_nRerunMinutes > 0 && m_bNextIsRerun) {
            if (m_nMaxReruns != 0 && m_nRerunCount >= m_nMaxReruns)
                m_nRerunCount = 0;
            else
                Run(RUNREASON_RERUN);
        } else if (!m_bOnlyIfChanged || m_bChangesPending) {
            m_bChangesPending = false;
            Run(m_bOnlyIfChanged       ? RUNREASON_CHANGES
                : m_bNextIsAsAvailable ? RUNREASON_ACCESSIBLE
                                       : RUNREASON_SCHEDULED);
        } else {
            g_DebugPrintf.PrintDebug(u"No changes detected, skipping scheduled run...");
        }
    } else if (deltaMs < -1000) {
        handled = true;
        if (!m_bNextIsAsAvailable) {
            {
                CSingleLock lock(&m_cs1, TRUE);
                m_dtLastScheduledRun = lastScheduled;
            }
            SaveLastRun();
        }
        if (m_bOnlyIfChanged && !m_bChangesPending) {
            g_DebugPrintf.PrintDebug(u"No changes detected, skipping scheduled run...");
        } else {
            m_bChangesPending = false;
            if (m_bRunMissed) {
                g_DebugPrintf.PrintDebug(u"Running now skipped runs... ");
                Run(RUNREASON_MISSED);
            }
        }
    }
    if (handled || COleDateTime::GetCurrentTime().GetDayOfYear() != m_nDayOfComputation) {
        ComputeNextRunTime();
        g_DebugPrintf.PrintDebug(u"m_NextRunTime: %s\n", GetNextRunTime().Format());
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
    CString folder;
    int intervalMs = 0;
    const int missing = IsFolderMissing(folder, intervalMs);
    if (missing == 1) {
        if (state == RUNSTATE_NOT_ACCESSIBLE || IsActive()) {
            const int shownMs = intervalMs != 0 ? intervalMs : static_cast<int>(m_nAccessRetryMs);
            CString text = u"Folder not accessible: " + folder;
            text.AppendFormat(u"  (next check in %d seconds)", shownMs / 1000);
            SetState(RUNSTATE_NOT_ACCESSIBLE, text);
            m_bWasInaccessible = true;
        }
        return;
    }
    if (missing != 0 || state != RUNSTATE_NOT_ACCESSIBLE) return;
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
    CString folder;
    int intervalMs = 0;
    if (!m_strAccessFolders.IsEmpty() && IsFolderMissing(folder, intervalMs) == 1) {
        if (wParam == 0) {
            g_DebugPrintf.PrintDebug(u"Changes detected.");
            m_bChangesWhileInaccessible = true;
        }
        return 0;
    }
    if (wParam != 0) {
        OnFolderMonitorEvent(wParam, lParam);
        return 0;
    }
    if (IsExecuting() && IsRepeatQueued()) return 0;
    if (OnFolderMonitorEvent(0, lParam) < 1) return 0;
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

void CRunItem::StartNextInChain(int exitCode) {
    // Called with critical section 2 held once; it is released before the list mutex is taken.
    int next = m_runList.GetCurrentIndex();
    while (next < m_runList.GetSize() && m_runList[next].m_strName == m_strProfileName) ++next;
    m_cs2.Unlock();
    bool cs2Held = false;
    const int reason = GetJobReason();
    for (int attempt = 0; attempt < kChainAttempts && m_pOwnerList != nullptr; ++attempt) {
        CMutex& mutex = m_pOwnerList->GetListMutex();
        if (!mutex.Lock(kListMutexMs)) break;
        if (!m_cs2.Lock(0)) {
            mutex.Unlock();
            Sleep(1000);
            continue;
        }
        cs2Held = true;
        for (; next < m_runList.GetSize(); ++next) {
            const CPROFILETORUNINFO entry = m_runList[next];
            m_runList.SetCurrentIndex(next);
            const int answer = m_pOwnerList->RunProfile(entry.m_strName, reason, &m_runList);
            if (answer == RUNPROFILE_STARTED) break;
            if (entry.m_nAddedAsProfileAfter != 0 && answer == RUNPROFILE_NOT_FOUND) {
                StopSchedule();
                SetState(RUNSTATE_DISABLED,
                         u"Profile " + entry.m_strName +
                             u", to run after this one, not found in ZBEngine list: manual "
                             u"reactivation required");
                break;
            }
            if (entry.m_nAddedAsProfileAfter != 0 && answer == RUNPROFILE_NOT_ACTIVE) {
                SetState(RUNSTATE_FAILED,
                         u"Profile " + entry.m_strName + u", to run after this one, is disabled");
                break;
            }
        }
        mutex.Unlock();
        break;
    }
    (void)exitCode;
    if (!cs2Held) m_cs2.Lock();
}

void CRunItem::RunAfterEnd(int exitCode) {
    if (!m_strProfileAfter.IsEmpty() && (exitCode == 0 || !m_bNotOnError)) ChainProfileAfter();
    const int current = m_runList.GetCurrentIndex();
    if (current >= 0 && current < m_runList.GetSize()) {
        m_runList[current].m_nExitCode = exitCode;
        if (current != m_runList.GetSize() - 1 && exitCode != kExitStopped) StartNextInChain(exitCode);
    }
    CSingleLock lock(&m_cs1, TRUE);
    m_runList.RemoveAll();
    m_runList.SetCurrentIndex(-1);
}

LRESULT CRunItem::OnExecuteJobNotify(WPARAM code, LPARAM lParam) {
    g_DebugPrintf.PrintDebug(u"Info: received notification from CExecuteJob (CRunItem) wParam=%d lParam=%d",
                             static_cast<int>(code), static_cast<int>(lParam));
    if (code != EXECNOTIFY_ENDED) {
        OnExecuteEvent(code, lParam);
    } else {
        const int exitCode = static_cast<int>(GetJobExitCode());
        {
            CSingleLock lock(&m_cs1, TRUE);
            m_nLastExitCode = exitCode;
            m_dtLastRunEnd = COleDateTime::GetCurrentTime();
        }
        ComputeNextRunTime();
        m_cs2.Lock();
        OnExecuteEvent(EXECNOTIFY_ENDED, lParam);
        RunAfterEnd(exitCode);
        m_cs2.Unlock();
    }
    AcknowledgeJob();
    return 0;
}

void CRunItem::SetCheckFolders(const CString& folders, bool) {
    m_strCheckFolders = folders;
}

int CRunItem::IsFolderMissing(CString& folder, int& intervalMs) {
    intervalMs = 0;
    CString rest = m_strCheckFolders;
    bool isPath = true;
    while (!rest.IsEmpty()) {
        const int bar = rest.Find(u'|');
        CString part = bar < 0 ? rest : rest.Left(bar);
        rest = bar < 0 ? CString() : rest.Mid(bar + 1);
        if (isPath) {
            part.Trim();
            if (!part.IsEmpty() && GetFileAttributesW(part) == INVALID_FILE_ATTRIBUTES) {
                folder = part;
                return 1;
            }
        }
        isPath = !isPath;
    }
    return 0;
}

bool CRunItem::LaunchRun(const CString& command, int reason) {
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
