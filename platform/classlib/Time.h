// CTime and CTimeSpan: the class library's 64-bit seconds since 1970-01-01 UTC, converted to and
// from local time through CivilDate.h.
//
// Local time is the host zone of TZ through localtime_r and our own inverse of it; a process that
// changes TZ calls tzset() afterwards. Kept of the C runtime: instants from 1970-01-01 up to
// 3000-12-31 23:59:59 UTC convert; anything outside (CTime(-1) from a failed construction
// included) fails to convert, so GetAsSystemTime is false, Format gives the empty text and the
// Get... parts give 0. Names in Format are English (see zbw::StrfTime in Locale.h).
// Local times that a daylight-saving change makes ambiguous (the repeated hour in autumn) take the
// earlier instant; local times it skips (the missing hour in spring) are moved forward by the
// length of the gap (02:30 becomes 03:30). A non-negative nDST is handed to mktime as tm_isdst.
// Construction never throws: parts out of range give the time -1.
// Values are plain data; any thread may use its own objects.
#pragma once

#include <ctime>

#include "platform/base/CString.h"
#include "platform/base/CivilDate.h"
#include "platform/base/WinTypes.h"

static_assert(sizeof(time_t) == 8, "CTime needs a 64-bit time_t");

class COleDateTime;

class CTimeSpan {
   public:
    CTimeSpan() = default;
    CTimeSpan(time_t seconds) : m_span(seconds) {}
    CTimeSpan(LONG days, int hours, int minutes, int seconds);

    time_t GetTimeSpan() const { return m_span; }
    LONGLONG GetDays() const { return m_span / 86400; }
    LONGLONG GetTotalHours() const { return m_span / 3600; }
    LONG GetHours() const { return static_cast<LONG>(GetTotalHours() - GetDays() * 24); }
    LONGLONG GetTotalMinutes() const { return m_span / 60; }
    LONG GetMinutes() const { return static_cast<LONG>(GetTotalMinutes() - GetTotalHours() * 60); }
    LONGLONG GetTotalSeconds() const { return m_span; }
    LONG GetSeconds() const { return static_cast<LONG>(m_span - GetTotalMinutes() * 60); }

    CTimeSpan operator+(CTimeSpan other) const { return CTimeSpan(m_span + other.m_span); }
    CTimeSpan operator-(CTimeSpan other) const { return CTimeSpan(m_span - other.m_span); }
    CTimeSpan& operator+=(CTimeSpan other) {
        m_span += other.m_span;
        return *this;
    }
    CTimeSpan& operator-=(CTimeSpan other) {
        m_span -= other.m_span;
        return *this;
    }
    auto operator<=>(const CTimeSpan&) const = default;

   private:
    time_t m_span = 0;
};

class CTime {
   public:
    static CTime GetCurrentTime();

    CTime() = default;
    CTime(time_t time) : m_time(time) {}
    CTime(int year, int month, int day, int hour, int minute, int second, int nDST = -1);
    CTime(const SYSTEMTIME& st, int nDST = -1);
    explicit CTime(const COleDateTime& dt, int nDST = -1);

    time_t GetTime() const { return m_time; }
    // Null when the time cannot be converted; otherwise ptm, filled.
    struct tm* GetLocalTm(struct tm* ptm) const;
    struct tm* GetGmtTm(struct tm* ptm) const;
    bool GetAsSystemTime(SYSTEMTIME& st) const;

    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    int GetDayOfWeek() const;  // 1 = Sunday

    // wcsftime codes over local time, resp. UTC; empty when the time cannot be converted.
    CString Format(LPCWSTR format) const;
    CString FormatGmt(LPCWSTR format) const;

    CTime operator+(CTimeSpan span) const { return CTime(m_time + span.GetTimeSpan()); }
    CTime operator-(CTimeSpan span) const { return CTime(m_time - span.GetTimeSpan()); }
    CTimeSpan operator-(CTime other) const { return CTimeSpan(m_time - other.m_time); }
    CTime& operator+=(CTimeSpan span) {
        m_time += span.GetTimeSpan();
        return *this;
    }
    CTime& operator-=(CTimeSpan span) {
        m_time -= span.GetTimeSpan();
        return *this;
    }
    auto operator<=>(const CTime&) const = default;

   private:
    time_t m_time = 0;
};
