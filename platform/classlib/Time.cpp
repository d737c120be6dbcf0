#include "platform/classlib/Time.h"

#include "platform/base/Clock.h"
#include "platform/classlib/OleDateTime.h"
#include "platform/win32/Locale.h"

CTimeSpan::CTimeSpan(LONG days, int hours, int minutes, int seconds)
    : m_span(static_cast<time_t>(days) * 86400 + static_cast<time_t>(hours) * 3600 + minutes * 60 + seconds) {
}

CTime CTime::GetCurrentTime() {
    int64_t micros = zbw::WallNowMicros();
    return CTime(static_cast<time_t>(micros / 1000000 - (micros % 1000000 < 0 ? 1 : 0)));
}

CTime::CTime(int year, int month, int day, int hour, int minute, int second, int nDST)
    : m_time(zbw::LocalToTime(year, month, day, hour, minute, second, nDST)) {}

CTime::CTime(const SYSTEMTIME& st, int nDST)
    : m_time(zbw::LocalToTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, nDST)) {}

CTime::CTime(const COleDateTime& dt, int nDST) : m_time(-1) {
    if (dt.GetStatus() == COleDateTime::valid)
        m_time = zbw::LocalToTime(dt.GetYear(), dt.GetMonth(), dt.GetDay(), dt.GetHour(), dt.GetMinute(),
                                  dt.GetSecond(), nDST);
}

struct tm* CTime::GetLocalTm(struct tm* ptm) const {
    return ptm != nullptr && zbw::LocalTm(m_time, *ptm) ? ptm : nullptr;
}

struct tm* CTime::GetGmtTm(struct tm* ptm) const {
    return ptm != nullptr && zbw::GmtTm(m_time, *ptm) ? ptm : nullptr;
}

bool CTime::GetAsSystemTime(SYSTEMTIME& st) const {
    struct tm parts {};
    if (!zbw::LocalTm(m_time, parts)) return false;
    st = zbw::SystemTimeFromTm(parts, 0);
    return true;
}

int CTime::GetYear() const {
    struct tm parts {};
    return GetLocalTm(&parts) ? parts.tm_year + 1900 : 0;
}

int CTime::GetMonth() const {
    struct tm parts {};
    return GetLocalTm(&parts) ? parts.tm_mon + 1 : 0;
}

int CTime::GetDay() const {
    struct tm parts {};
    return GetLocalTm(&parts) ? parts.tm_mday : 0;
}

int CTime::GetHour() const {
    struct tm parts {};
    return GetLocalTm(&parts) ? parts.tm_hour : 0;
}

int CTime::GetMinute() const {
    struct tm parts {};
    return GetLocalTm(&parts) ? parts.tm_min : 0;
}

int CTime::GetSecond() const {
    struct tm parts {};
    return GetLocalTm(&parts) ? parts.tm_sec : 0;
}

int CTime::GetDayOfWeek() const {
    struct tm parts {};
    return GetLocalTm(&parts) ? parts.tm_wday + 1 : 0;
}

CString CTime::Format(LPCWSTR format) const {
    struct tm parts {};
    if (format == nullptr || !GetLocalTm(&parts)) return CString();
    return CString(zbw::StrfTime(parts, format).c_str());
}

CString CTime::FormatGmt(LPCWSTR format) const {
    struct tm parts {};
    if (format == nullptr || !GetGmtTm(&parts)) return CString();
    return CString(zbw::StrfTime(parts, format).c_str());
}
