// COleDateTime and COleDateTimeSpan: the class library's local date-time as days since
// 1899-12-30 (the time of day as the fraction; before 1899-12-30 the fraction counts forward
// from the negative day, as OLE dates do), and spans of days as a double.
//
// The value is local and naive: it knows no zone, so adding 1440 minutes gives the same clock
// time the next day, across a daylight-saving change too. Only the conversions from and to
// instants (time_t, CTime, GetCurrentTime) go through the zone of TZ (Time.h).
// Kept of the class library: the status (valid, invalid, null) that every operation passes on
// (an invalid operand gives an invalid result; Get... parts give -1); dates from 100-01-01 to
// 9999-12-31; SetDateTime/SetDate/SetTime return 0 on success and 1 (status invalid) when the
// parts are out of range; ParseDateTime and Format under the user default locale.
// Changed: values are held to the whole second (sub-second input is rounded at construction and
// results of arithmetic are rounded), so two dates that read the same compare equal; the
// class library kept the raw double and let rounding noise break equality. Span totals add half
// a second away from zero before truncating, so negative spans round like positive ones.
// Left out: UDATE, DBTIMESTAMP, VARIANT, resource-string formats, exceptions.
// Values are plain data; any thread may use its own objects.
#pragma once

#include <ctime>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"
#include "platform/win32/Locale.h"

typedef double DATE;

// ParseDateTime and Format flags.
#define VAR_TIMEVALUEONLY 0x00000001u
#define VAR_DATEVALUEONLY 0x00000002u

class COleDateTimeSpan {
   public:
    enum DateTimeSpanStatus { valid = 0, invalid = 1, null = 2 };

    COleDateTimeSpan() = default;
    COleDateTimeSpan(double days) : m_span(days) {}
    COleDateTimeSpan(LONG days, int hours, int minutes, int seconds);

    void SetDateTimeSpan(LONG days, int hours, int minutes, int seconds);
    DateTimeSpanStatus GetStatus() const { return m_status; }
    void SetStatus(DateTimeSpanStatus status) { m_status = status; }

    // Whole units, truncated toward zero after half a second was added away from zero.
    double GetTotalDays() const;
    double GetTotalHours() const;
    double GetTotalMinutes() const;
    double GetTotalSeconds() const;
    // The parts of the span rounded to the second; they carry its sign.
    LONG GetDays() const;
    LONG GetHours() const;
    LONG GetMinutes() const;
    LONG GetSeconds() const;

    operator double() const { return m_span; }

    COleDateTimeSpan operator+(const COleDateTimeSpan& other) const;
    COleDateTimeSpan operator-(const COleDateTimeSpan& other) const;
    COleDateTimeSpan operator-() const;
    COleDateTimeSpan& operator+=(const COleDateTimeSpan& other) { return *this = *this + other; }
    COleDateTimeSpan& operator-=(const COleDateTimeSpan& other) { return *this = *this - other; }

    // Equal: same status and, when valid, same value; ordering only between valid spans.
    bool operator==(const COleDateTimeSpan& other) const;
    bool operator<(const COleDateTimeSpan& other) const;
    bool operator>(const COleDateTimeSpan& other) const { return other < *this; }
    bool operator<=(const COleDateTimeSpan& other) const;
    bool operator>=(const COleDateTimeSpan& other) const { return other <= *this; }

   private:
    LONGLONG RoundedSeconds() const;

    double m_span = 0;
    DateTimeSpanStatus m_status = valid;
};

class COleDateTime {
   public:
    enum DateTimeStatus { error = -1, valid = 0, invalid = 1, null = 2 };

    // Now, local time, whole seconds, from the layer's clock.
    static COleDateTime GetCurrentTime();

    COleDateTime() = default;
    COleDateTime(DATE value);
    COleDateTime(time_t instant);
    COleDateTime(const SYSTEMTIME& st);
    // Takes the file time's calendar fields as they are (no zone conversion), like SYSTEMTIME.
    COleDateTime(const FILETIME& ft);
    COleDateTime(int year, int month, int day, int hour, int minute, int second);

    DateTimeStatus GetStatus() const { return m_status; }
    void SetStatus(DateTimeStatus status) { m_status = status; }
    operator DATE() const { return m_dt; }

    bool GetAsSystemTime(SYSTEMTIME& st) const;
    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    int GetDayOfWeek() const;  // 1 = Sunday
    int GetDayOfYear() const;  // 1 = January 1st

    int SetDateTime(int year, int month, int day, int hour, int minute, int second);
    int SetDate(int year, int month, int day);
    int SetTime(int hour, int minute, int second);  // the date becomes 1899-12-30

    // Equal: same status and, when valid, same value; ordering only between valid dates.
    bool operator==(const COleDateTime& other) const;
    bool operator<(const COleDateTime& other) const;
    bool operator>(const COleDateTime& other) const { return other < *this; }
    bool operator<=(const COleDateTime& other) const;
    bool operator>=(const COleDateTime& other) const { return other <= *this; }

    COleDateTime operator+(const COleDateTimeSpan& span) const;
    COleDateTime operator-(const COleDateTimeSpan& span) const;
    COleDateTimeSpan operator-(const COleDateTime& other) const;
    COleDateTime& operator+=(const COleDateTimeSpan& span) { return *this = *this + span; }
    COleDateTime& operator-=(const COleDateTimeSpan& span) { return *this = *this - span; }

    // Accepts, in the locale's day order (ISO year-first always): a date alone; a time alone,
    // "13:00", which gives the date 1899-12-30; or a date and a time in either order. Dates:
    // "2024-03-05", the short date ("3/5/2024", "05.03.2024", two-digit years 00-29 = 20xx),
    // English or locale month names ("March 5, 2024", "5 Mar 2024", a leading weekday ignored).
    // Times: "H:mm", "H:mm:ss", with an AM/PM marker (English or the locale's) also "h AM".
    // Anything else leaves the status invalid and the value 0 and returns false.
    bool ParseDateTime(LPCWSTR text, DWORD flags = 0, LCID lcid = LANG_USER_DEFAULT);
    // The short date and the long time of the locale; the time is left out at midnight and the
    // date on 1899-12-30. Invalid: "Invalid DateTime"; null: empty.
    CString Format(DWORD flags = 0, LCID lcid = LANG_USER_DEFAULT) const;
    // wcsftime codes (zbw::StrfTime in Locale.h).
    CString Format(LPCWSTR format) const;

   private:
    bool SetFromSeconds(LONGLONG seconds);
    LONGLONG Seconds() const;
    bool GetParts(struct tm& parts) const;

    DATE m_dt = 0;
    DateTimeStatus m_status = valid;
};
