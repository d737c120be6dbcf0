#include "dovrane/threads/NextRunTime.h"

#include "common/TextUtils.h"

namespace {

// More skips than this mean no allowed weekday is reachable.
const int kMaxSkips = 10;

COleDateTimeSpan Minutes(int minutes) {
    return COleDateTimeSpan(minutes / 1440, 0, minutes % 1440, 0);
}

// t becomes 00:00 of the first allowed day after it; false when none is found.
bool MoveToFirstAllowedDay(COleDateTime& t, const SCHEDULEINFO& schedule) {
    const COleDateTimeSpan day(1, 0, 0, 0);
    t += day;
    t.SetDateTime(t.GetYear(), t.GetMonth(), t.GetDay(), 0, 0, 0);
    for (int count = 0; IsExcludedDay(t, schedule);) {
        t += day;
        if (++count > kMaxSkips) return false;
    }
    return true;
}

// The first grid point after t, or at t when t is a midnight the search was moved to.
COleDateTime FirstGridPoint(const COleDateTime& t, const COleDateTime& start, int interval, bool moved) {
    if (t < start) return start;
    auto minutes = static_cast<LONGLONG>((t - start).GetTotalMinutes());
    DWORD rest = static_cast<DWORD>(minutes) % static_cast<DWORD>(interval);
    if (moved && rest == 0) return t;
    return t + Minutes(interval - static_cast<int>(rest));
}

// Moves next along the grid until it leaves the excluded days; false after too many skips.
bool SkipExcludedGridPoints(COleDateTime& next, const SCHEDULEINFO& schedule, int interval) {
    for (int skips = 0; IsExcludedDay(next, schedule);) {
        int day = next.GetDayOfYear();
        while (next.GetDayOfYear() == day) next += Minutes(interval);
        if (++skips > kMaxSkips) return false;
    }
    return true;
}

void AppendInterval(CString& text, int count, LPCWSTR one, LPCWSTR many) {
    if (count <= 0) return;
    if (!text.IsEmpty()) text += u" - ";
    if (count == 1)
        text += one;
    else
        text.AppendFormat(many, count);
}

}  // namespace

bool IsExcludedDay(const COleDateTime& date, const SCHEDULEINFO& schedule) {
    int weekday = date.GetDayOfWeek();
    if (weekday < 1 || weekday > 7) return false;
    return (schedule.nExcludeDays & (1 << (weekday - 1))) != 0;
}

COleDateTime GetNextRunTime(const COleDateTime& reference, const SCHEDULEINFO& schedule, int steps) {
    COleDateTime start = schedule.dtStart, t = reference, now = COleDateTime::GetCurrentTime();
    TruncateToMinute(start);
    TruncateToMinute(t);
    TruncateToMinute(now);
    if (t == g_DateNone) t = now;
    bool moved = IsExcludedDay(t, schedule);
    if (moved && !MoveToFirstAllowedDay(t, schedule)) return g_DateNeverAlt;
    int interval = schedule.GetIntervalMinutes();
    if (interval == 0) return g_DateNever;
    // A date outside the calendar has no grid.
    if (t.GetStatus() != COleDateTime::valid || start.GetStatus() != COleDateTime::valid)
        return g_DateNeverAlt;
    COleDateTime next = FirstGridPoint(t, start, interval, moved);
    for (int i = 0;; ++i) {
        if (!SkipExcludedGridPoints(next, schedule, interval)) return g_DateNeverAlt;
        if (i >= steps) break;
        next += Minutes(interval);
    }
    TruncateToMinute(next);
    return next;
}

CString GetNextRunText(const COleDateTime& date) {
    if (date == g_DateNever) return u"Manual";
    if (date == g_DateNeverAlt) return u"Schedule Error";
    return FormatDateTimeRelative(date, FTR_TIME | FTR_DATE | FTR_RELATIVE);
}

CString ComputeNextRunText(int steps, const SCHEDULEINFO& schedule, const COleDateTime& reference) {
    return GetNextRunText(GetNextRunTime(reference, schedule, steps));
}

CString GetWeekdayList(const SCHEDULEINFO& schedule) {
    static const char16_t* const kDays[7] = {u"Sun, ", u"Mon, ", u"Tue, ", u"Wed, ",
                                             u"Thu, ", u"Fri, ", u"Sat, "};
    CString list;
    for (int i = 0; i < 7; ++i) {
        if (schedule.nExcludeDays & (1 << i)) list += kDays[i];
    }
    if (list.Right(2) == u", ") list = list.Left(list.GetLength() - 2);
    return list;
}

CString GetScheduleText(const SCHEDULEINFO& schedule) {
    CString text;
    AppendInterval(text, schedule.nEveryMinute, u"Run every minute", u"Run every %d minutes");
    AppendInterval(text, schedule.nEveryHour, u"Run every hour", u"Run every %d hours");
    AppendInterval(text, schedule.nEveryDay, u"Run every day", u"Run every %d days");
    if (text.IsEmpty()) return text;
    text += u", start on " + FormatDateTimeShort(schedule.dtStart);
    if (schedule.nExcludeDays > 0) text.AppendFormat(u", exclude %s", GetWeekdayList(schedule));
    return text;
}
