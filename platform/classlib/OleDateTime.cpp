#include "platform/classlib/OleDateTime.h"

#include <cmath>
#include <vector>

#include "platform/base/CivilDate.h"
#include "platform/base/Clock.h"
#include "platform/classlib/Time.h"
#include "platform/win32/FileTimeApi.h"

namespace {

constexpr LONGLONG kSecondsPerDay = 86400;
constexpr LONGLONG kMinDay = -657434;     // 0100-01-01
constexpr LONGLONG kMaxDay = 2958465;     // 9999-12-31
constexpr LONGLONG kDayOf1970 = 25569;    // 1970-01-01 in days from 1899-12-30
constexpr double kMaxSpanDays = 3615897;  // the class library's span range

LONGLONG FloorDiv(LONGLONG a, LONGLONG b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

bool InDateRange(LONGLONG seconds) {
    return seconds >= kMinDay * kSecondsPerDay && seconds < (kMaxDay + 1) * kSecondsPerDay;
}

// An OLE date counts whole days from 1899-12-30 and, before it, the time of day as a fraction
// beyond the negative day (-1.25 is 1899-12-29 06:00); seconds here count straight on.
bool SecondsFromDate(DATE value, LONGLONG& seconds) {
    if (!std::isfinite(value) || value <= kMinDay - 1.0 || value >= kMaxDay + 1.0) return false;
    double day = std::trunc(value);
    LONGLONG fraction = std::llround(std::fabs(value - day) * kSecondsPerDay);
    seconds = static_cast<LONGLONG>(day) * kSecondsPerDay + fraction;
    return InDateRange(seconds);
}

DATE DateFromSeconds(LONGLONG seconds) {
    LONGLONG day = FloorDiv(seconds, kSecondsPerDay);
    double fraction = static_cast<double>(seconds - day * kSecondsPerDay) / kSecondsPerDay;
    return day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
}

bool ValidParts(int year, int month, int day, int hour, int minute, int second) {
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    int64_t y = 0;
    int m = 0, d = 0;
    zbw::CivilFromDays(zbw::DaysFromCivil(year, month, day), y, m, d);
    return d == day;
}

LONGLONG SecondsFromParts(int year, int month, int day, int hour, int minute, int second) {
    LONGLONG days = zbw::DaysFromCivil(year, month, day) + kDayOf1970;
    return days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

template <typename Status>
Status Combined(Status a, Status b) {
    if (a == Status::null || b == Status::null) return Status::null;
    return a == Status::valid ? b : a;
}

LONGLONG RoundToSeconds(double days) {
    return std::llround(days * kSecondsPerDay);
}

// Whole units of a span of days: half a second is added away from zero, then truncated.
double TotalUnits(double days, double unitsPerDay) {
    double half = 0.5 * unitsPerDay / kSecondsPerDay;
    double units = days * unitsPerDay;
    return std::trunc(units < 0 ? units - half : units + half);
}

// ---- Parsing ----

enum class TokenKind { Number, Word, Space, Mark };

struct DATETOKEN {
    TokenKind kind;
    std::u16string text;
    int value;
};

struct DATEFIELDS {
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
};

bool IsLetter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
           (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7);
}

char16_t Fold(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return static_cast<char16_t>(c + 0x20);
    return c;
}

bool SameWord(const std::u16string& word, const char16_t* name) {
    size_t i = 0;
    for (; i < word.size() && name[i] != 0; ++i)
        if (Fold(word[i]) != Fold(name[i])) return false;
    return i == word.size() && name[i] == 0 && i > 0;
}

bool Tokenize(std::u16string_view text, const zbw::LOCALEDATA& loc, std::vector<DATETOKEN>& tokens) {
    const std::u16string marks = std::u16string(u"/-.,:") + loc.dateSep[0] + loc.timeSep[0];
    for (size_t i = 0; i < text.size();) {
        char16_t c = text[i];
        size_t j = i + 1;
        if (c >= u'0' && c <= u'9') {
            while (j < text.size() && text[j] >= u'0' && text[j] <= u'9') ++j;
            if (j - i > 9) return false;
            std::u16string digits(text.substr(i, j - i));
            int value = 0;
            for (char16_t d : digits) value = value * 10 + (d - u'0');
            tokens.push_back({TokenKind::Number, digits, value});
        } else if (IsLetter(c)) {
            while (j < text.size() && IsLetter(text[j])) ++j;
            tokens.push_back({TokenKind::Word, std::u16string(text.substr(i, j - i)), 0});
        } else if (c == u' ' || c == u'\t') {
            while (j < text.size() && (text[j] == u' ' || text[j] == u'\t')) ++j;
            tokens.push_back({TokenKind::Space, u" ", 0});
        } else if (marks.find(c) != std::u16string::npos) {
            tokens.push_back({TokenKind::Mark, std::u16string(1, c), 0});
        } else {
            return false;
        }
        i = j;
    }
    return true;
}

// 0 no marker, 1 AM, 2 PM: the locale's designators or the English ones.
int MarkerOf(const DATETOKEN& token, const zbw::LOCALEDATA& loc) {
    if (token.kind != TokenKind::Word) return 0;
    const zbw::LOCALEDATA& en = zbw::EnglishNames();
    if (SameWord(token.text, loc.am) || SameWord(token.text, en.am)) return 1;
    if (SameWord(token.text, loc.pm) || SameWord(token.text, en.pm)) return 2;
    return 0;
}

int MonthOf(const DATETOKEN& token, const zbw::LOCALEDATA& loc) {
    if (token.kind != TokenKind::Word) return 0;
    for (const zbw::LOCALEDATA* names : {&loc, &zbw::EnglishNames()})
        for (int m = 0; m < 12; ++m)
            if (SameWord(token.text, names->monthNames[m]) ||
                SameWord(token.text, names->abbrevMonthNames[m]))
                return m + 1;
    return 0;
}

bool IsDayName(const DATETOKEN& token, const zbw::LOCALEDATA& loc) {
    if (token.kind != TokenKind::Word) return false;
    for (const zbw::LOCALEDATA* names : {&loc, &zbw::EnglishNames()})
        for (int d = 0; d < 7; ++d)
            if (SameWord(token.text, names->dayNames[d]) || SameWord(token.text, names->abbrevDayNames[d]))
                return true;
    return false;
}

bool IsNumber(const std::vector<DATETOKEN>& t, size_t i, size_t maxDigits) {
    return i < t.size() && t[i].kind == TokenKind::Number && t[i].text.size() <= maxDigits;
}

bool IsTimeSep(const std::vector<DATETOKEN>& t, size_t i, const zbw::LOCALEDATA& loc) {
    return i < t.size() && t[i].kind == TokenKind::Mark &&
           (t[i].text[0] == u':' || t[i].text[0] == loc.timeSep[0]);
}

// 12 AM is midnight, 12 PM noon; a marker needs an hour of 1 to 12.
bool ApplyMarker(int marker, int& hour) {
    if (marker == 0) return true;
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (marker == 2 ? 12 : 0);
    return true;
}

// The marker after position j, with or without a blank before it; j moves past it.
int TakeMarker(const std::vector<DATETOKEN>& t, size_t& j, const zbw::LOCALEDATA& loc) {
    size_t k = j < t.size() && t[j].kind == TokenKind::Space ? j + 1 : j;
    int marker = k < t.size() ? MarkerOf(t[k], loc) : 0;
    if (marker != 0) j = k + 1;
    return marker;
}

// Finds "H:mm[:ss][ AM]" or "h AM"; [first, last) is its place. False when there is none.
bool FindTime(const std::vector<DATETOKEN>& t, const zbw::LOCALEDATA& loc, size_t& first, size_t& last,
              int& marker, DATEFIELDS& f) {
    for (size_t i = 0; i < t.size(); ++i) {
        if (!IsNumber(t, i, 2)) continue;
        size_t j = i + 1;
        if (IsTimeSep(t, j, loc) && IsNumber(t, j + 1, 2)) {
            f.minute = t[j + 1].value;
            j += 2;
            if (IsTimeSep(t, j, loc) && IsNumber(t, j + 1, 2)) {
                f.second = t[j + 1].value;
                j += 2;
            }
        } else if (TakeMarker(t, j, loc) == 0) {
            continue;
        } else {
            j = i + 1;
        }
        f.hour = t[i].value;
        marker = TakeMarker(t, j, loc);
        first = i;
        last = j;
        return true;
    }
    return false;
}

int ExpandYear(const DATETOKEN& token) {
    if (token.text.size() > 2) return token.value;
    return token.value < 30 ? 2000 + token.value : 1900 + token.value;
}

bool IsDateMark(const DATETOKEN& token, const zbw::LOCALEDATA& loc) {
    if (token.kind != TokenKind::Mark) return false;
    char16_t c = token.text[0];
    return c == u'/' || c == u'-' || c == u'.' || c == loc.dateSep[0];
}

// "2024-03-05", or three numbers joined by one date mark in the locale's order.
bool ParseNumericDate(const std::vector<DATETOKEN>& t, const zbw::LOCALEDATA& loc, DATEFIELDS& f) {
    if (t.size() != 5 || !IsNumber(t, 0, 4) || !IsNumber(t, 2, 2) || !IsNumber(t, 4, 4) ||
        !IsDateMark(t[1], loc) || t[1].text != t[3].text)
        return false;
    int order = t[0].text.size() > 2 ? 2 : loc.dateOrder;
    if (order == 2) {
        if (t[4].text.size() > 2) return false;
        f.year = ExpandYear(t[0]);
        f.month = t[2].value;
        f.day = t[4].value;
        return true;
    }
    if (t[0].text.size() > 2) return false;
    f.month = order == 0 ? t[0].value : t[2].value;
    f.day = order == 0 ? t[2].value : t[0].value;
    f.year = ExpandYear(t[4]);
    return true;
}

// "March 5, 2024", "5. März 2024", "5-Mar-2024": a month name with day and year.
bool ParseNamedDate(const std::vector<DATETOKEN>& t, const zbw::LOCALEDATA& loc, DATEFIELDS& f) {
    std::vector<DATETOKEN> core;
    for (const DATETOKEN& token : t) {
        bool filler = token.kind == TokenKind::Space ||
                      (token.kind == TokenKind::Mark &&
                       (token.text == u"," || token.text == u"." || token.text == u"-"));
        if (!filler) core.push_back(token);
    }
    if (core.size() != 3 || !IsNumber(core, 2, 4)) return false;
    int month = MonthOf(core[0], loc);
    if (month != 0 && IsNumber(core, 1, 2)) {
        f.day = core[1].value;
    } else if ((month = MonthOf(core[1], loc)) != 0 && IsNumber(core, 0, 2)) {
        f.day = core[0].value;
    } else {
        return false;
    }
    f.month = month;
    f.year = ExpandYear(core[2]);
    return true;
}

bool ParseDate(std::vector<DATETOKEN> t, const zbw::LOCALEDATA& loc, DATEFIELDS& f) {
    if (!t.empty() && IsDayName(t[0], loc)) {
        t.erase(t.begin());
        if (!t.empty() && t[0].kind == TokenKind::Mark && t[0].text == u",") t.erase(t.begin());
        if (!t.empty() && t[0].kind == TokenKind::Space) t.erase(t.begin());
    }
    return ParseNumericDate(t, loc, f) || ParseNamedDate(t, loc, f);
}

bool IsGap(const DATETOKEN& token) {
    return token.kind == TokenKind::Space || (token.kind == TokenKind::Mark && token.text == u",");
}

// Splits off the date tokens that stand before or after the time, with a gap between them.
bool DateAround(const std::vector<DATETOKEN>& t, size_t first, size_t last, std::vector<DATETOKEN>& date) {
    size_t end = first;
    while (end > 0 && IsGap(t[end - 1])) --end;
    size_t begin = last;
    while (begin < t.size() && t[begin].kind == TokenKind::Space) ++begin;
    bool before = end > 0, after = begin < t.size();
    if (before && after) return false;
    if (before && end == first) return false;
    if (after && begin == last) return false;
    if (before) date.assign(t.begin(), t.begin() + static_cast<long>(end));
    if (after) date.assign(t.begin() + static_cast<long>(begin), t.end());
    return true;
}

bool ParseText(std::u16string_view text, const zbw::LOCALEDATA& loc, bool& hasDate, bool& hasTime,
               DATEFIELDS& f) {
    std::vector<DATETOKEN> tokens;
    if (!Tokenize(text, loc, tokens)) return false;
    while (!tokens.empty() && tokens.front().kind == TokenKind::Space) tokens.erase(tokens.begin());
    while (!tokens.empty() && tokens.back().kind == TokenKind::Space) tokens.pop_back();
    size_t first = 0, last = 0;
    int marker = 0;
    std::vector<DATETOKEN> date = tokens;
    hasTime = FindTime(tokens, loc, first, last, marker, f);
    if (hasTime) {
        date.clear();
        if (!ApplyMarker(marker, f.hour) || !DateAround(tokens, first, last, date)) return false;
    }
    hasDate = !date.empty();
    if (hasDate && !ParseDate(date, loc, f)) return false;
    return (hasDate || hasTime) && ValidParts(f.year, f.month, f.day, f.hour, f.minute, f.second);
}

}  // namespace

// ---- COleDateTimeSpan ----

COleDateTimeSpan::COleDateTimeSpan(LONG days, int hours, int minutes, int seconds) {
    SetDateTimeSpan(days, hours, minutes, seconds);
}

void COleDateTimeSpan::SetDateTimeSpan(LONG days, int hours, int minutes, int seconds) {
    LONGLONG total =
        LONGLONG{days} * kSecondsPerDay + LONGLONG{hours} * 3600 + LONGLONG{minutes} * 60 + seconds;
    m_span = static_cast<double>(total) / kSecondsPerDay;
    m_status = std::fabs(m_span) <= kMaxSpanDays ? valid : invalid;
    if (m_status != valid) m_span = 0;
}

double COleDateTimeSpan::GetTotalDays() const {
    return TotalUnits(m_span, 1);
}

double COleDateTimeSpan::GetTotalHours() const {
    return TotalUnits(m_span, 24);
}

double COleDateTimeSpan::GetTotalMinutes() const {
    return TotalUnits(m_span, 1440);
}

double COleDateTimeSpan::GetTotalSeconds() const {
    return TotalUnits(m_span, kSecondsPerDay);
}

LONGLONG COleDateTimeSpan::RoundedSeconds() const {
    return RoundToSeconds(m_span);
}

LONG COleDateTimeSpan::GetDays() const {
    return static_cast<LONG>(RoundedSeconds() / kSecondsPerDay);
}

LONG COleDateTimeSpan::GetHours() const {
    return static_cast<LONG>(RoundedSeconds() / 3600 % 24);
}

LONG COleDateTimeSpan::GetMinutes() const {
    return static_cast<LONG>(RoundedSeconds() / 60 % 60);
}

LONG COleDateTimeSpan::GetSeconds() const {
    return static_cast<LONG>(RoundedSeconds() % 60);
}

COleDateTimeSpan COleDateTimeSpan::operator+(const COleDateTimeSpan& other) const {
    COleDateTimeSpan sum;
    sum.m_status = Combined(m_status, other.m_status);
    if (sum.m_status == valid) sum.m_span = m_span + other.m_span;
    return sum;
}

COleDateTimeSpan COleDateTimeSpan::operator-(const COleDateTimeSpan& other) const {
    return *this + -other;
}

COleDateTimeSpan COleDateTimeSpan::operator-() const {
    COleDateTimeSpan negated = *this;
    negated.m_span = -m_span;
    return negated;
}

bool COleDateTimeSpan::operator==(const COleDateTimeSpan& other) const {
    return m_status == other.m_status && (m_status != valid || m_span == other.m_span);
}

bool COleDateTimeSpan::operator<(const COleDateTimeSpan& other) const {
    return m_status == valid && other.m_status == valid && m_span < other.m_span;
}

bool COleDateTimeSpan::operator<=(const COleDateTimeSpan& other) const {
    return m_status == valid && other.m_status == valid && m_span <= other.m_span;
}

// ---- COleDateTime ----

COleDateTime COleDateTime::GetCurrentTime() {
    int64_t micros = zbw::WallNowMicros();
    return COleDateTime(static_cast<time_t>(FloorDiv(micros, 1000000)));
}

COleDateTime::COleDateTime(DATE value) {
    LONGLONG seconds = 0;
    if (SecondsFromDate(value, seconds))
        SetFromSeconds(seconds);
    else
        m_status = invalid;
}

COleDateTime::COleDateTime(time_t instant) {
    struct tm parts {};
    if (zbw::LocalTm(instant, parts))
        SetDateTime(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
                    parts.tm_sec);
    else
        m_status = invalid;
}

COleDateTime::COleDateTime(const SYSTEMTIME& st) {
    SetDateTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
}

COleDateTime::COleDateTime(const FILETIME& ft) {
    SYSTEMTIME st{};
    if (FileTimeToSystemTime(&ft, &st))
        *this = COleDateTime(st);
    else
        m_status = invalid;
}

COleDateTime::COleDateTime(int year, int month, int day, int hour, int minute, int second) {
    SetDateTime(year, month, day, hour, minute, second);
}

bool COleDateTime::SetFromSeconds(LONGLONG seconds) {
    if (!InDateRange(seconds)) {
        m_dt = 0;
        m_status = invalid;
        return false;
    }
    m_dt = DateFromSeconds(seconds);
    m_status = valid;
    return true;
}

LONGLONG COleDateTime::Seconds() const {
    LONGLONG seconds = 0;
    SecondsFromDate(m_dt, seconds);
    return seconds;
}

bool COleDateTime::GetParts(struct tm& parts) const {
    LONGLONG seconds = 0;
    if (m_status != valid || !SecondsFromDate(m_dt, seconds)) return false;
    LONGLONG day = FloorDiv(seconds, kSecondsPerDay);
    LONGLONG time = seconds - day * kSecondsPerDay;
    int64_t year = 0;
    int month = 0, mday = 0;
    zbw::CivilFromDays(day - kDayOf1970, year, month, mday);
    parts = {};
    parts.tm_year = static_cast<int>(year - 1900);
    parts.tm_mon = month - 1;
    parts.tm_mday = mday;
    parts.tm_hour = static_cast<int>(time / 3600);
    parts.tm_min = static_cast<int>(time / 60 % 60);
    parts.tm_sec = static_cast<int>(time % 60);
    parts.tm_wday = static_cast<int>(((day + 6) % 7 + 7) % 7);  // 1899-12-30 was a Saturday
    parts.tm_yday = static_cast<int>(day - kDayOf1970 - zbw::DaysFromCivil(year, 1, 1));
    parts.tm_isdst = -1;
    return true;
}

bool COleDateTime::GetAsSystemTime(SYSTEMTIME& st) const {
    struct tm parts {};
    if (!GetParts(parts)) return false;
    st = zbw::SystemTimeFromTm(parts, 0);
    return true;
}

int COleDateTime::GetYear() const {
    struct tm parts {};
    return GetParts(parts) ? parts.tm_year + 1900 : -1;
}

int COleDateTime::GetMonth() const {
    struct tm parts {};
    return GetParts(parts) ? parts.tm_mon + 1 : -1;
}

int COleDateTime::GetDay() const {
    struct tm parts {};
    return GetParts(parts) ? parts.tm_mday : -1;
}

int COleDateTime::GetHour() const {
    struct tm parts {};
    return GetParts(parts) ? parts.tm_hour : -1;
}

int COleDateTime::GetMinute() const {
    struct tm parts {};
    return GetParts(parts) ? parts.tm_min : -1;
}

int COleDateTime::GetSecond() const {
    struct tm parts {};
    return GetParts(parts) ? parts.tm_sec : -1;
}

int COleDateTime::GetDayOfWeek() const {
    struct tm parts {};
    return GetParts(parts) ? parts.tm_wday + 1 : -1;
}

int COleDateTime::GetDayOfYear() const {
    struct tm parts {};
    return GetParts(parts) ? parts.tm_yday + 1 : -1;
}

int COleDateTime::SetDateTime(int year, int month, int day, int hour, int minute, int second) {
    if (ValidParts(year, month, day, hour, minute, second) &&
        SetFromSeconds(SecondsFromParts(year, month, day, hour, minute, second)))
        return 0;
    m_dt = 0;
    m_status = invalid;
    return 1;
}

int COleDateTime::SetDate(int year, int month, int day) {
    return SetDateTime(year, month, day, 0, 0, 0);
}

int COleDateTime::SetTime(int hour, int minute, int second) {
    return SetDateTime(1899, 12, 30, hour, minute, second);
}

bool COleDateTime::operator==(const COleDateTime& other) const {
    return m_status == other.m_status && (m_status != valid || Seconds() == other.Seconds());
}

bool COleDateTime::operator<(const COleDateTime& other) const {
    return m_status == valid && other.m_status == valid && Seconds() < other.Seconds();
}

bool COleDateTime::operator<=(const COleDateTime& other) const {
    return m_status == valid && other.m_status == valid && Seconds() <= other.Seconds();
}

COleDateTime COleDateTime::operator+(const COleDateTimeSpan& span) const {
    COleDateTime result;
    DateTimeStatus status = m_status;
    if (span.GetStatus() == COleDateTimeSpan::null)
        status = null;
    else if (status == valid && span.GetStatus() != COleDateTimeSpan::valid)
        status = invalid;
    if (status == valid && std::fabs(static_cast<double>(span)) <= kMaxSpanDays) {
        result.SetFromSeconds(Seconds() + RoundToSeconds(span));
    } else {
        result.m_status = status == valid ? invalid : status;
    }
    return result;
}

COleDateTime COleDateTime::operator-(const COleDateTimeSpan& span) const {
    return *this + -span;
}

COleDateTimeSpan COleDateTime::operator-(const COleDateTime& other) const {
    COleDateTimeSpan span;
    if (m_status == null || other.m_status == null) {
        span.SetStatus(COleDateTimeSpan::null);
    } else if (m_status != valid || other.m_status != valid) {
        span.SetStatus(COleDateTimeSpan::invalid);
    } else {
        span = COleDateTimeSpan(static_cast<double>(Seconds() - other.Seconds()) / kSecondsPerDay);
    }
    return span;
}

bool COleDateTime::ParseDateTime(LPCWSTR text, DWORD flags, LCID lcid) {
    const zbw::LOCALEDATA* loc = zbw::FindLocale(lcid);
    DATEFIELDS f;
    bool hasDate = false, hasTime = false;
    if (text == nullptr || loc == nullptr || !ParseText(text, *loc, hasDate, hasTime, f)) {
        m_dt = 0;
        m_status = invalid;
        return false;
    }
    if (flags & VAR_TIMEVALUEONLY) {
        f.year = 1899;
        f.month = 12;
        f.day = 30;
    }
    if (flags & VAR_DATEVALUEONLY) f.hour = f.minute = f.second = 0;
    return SetDateTime(f.year, f.month, f.day, f.hour, f.minute, f.second) == 0;
}

CString COleDateTime::Format(DWORD flags, LCID lcid) const {
    SYSTEMTIME st{};
    const zbw::LOCALEDATA* loc = zbw::FindLocale(lcid);
    if (m_status == null || loc == nullptr) return CString();
    if (!GetAsSystemTime(st)) return CString(u"Invalid DateTime");
    bool onlyTime = (flags & VAR_TIMEVALUEONLY) != 0, onlyDate = (flags & VAR_DATEVALUEONLY) != 0;
    bool midnight = st.wHour == 0 && st.wMinute == 0 && st.wSecond == 0;
    bool dayZero = st.wYear == 1899 && st.wMonth == 12 && st.wDay == 30;
    std::u16string text;
    if (!onlyTime && !(dayZero && !onlyDate)) text = zbw::FormatDatePicture(*loc, st, loc->shortDate);
    if (!onlyDate && (!midnight || onlyTime || text.empty())) {
        if (!text.empty()) text += u' ';
        text += zbw::FormatTimePicture(*loc, st, loc->timeFormat, 0);
    }
    return CString(std::move(text));
}

CString COleDateTime::Format(LPCWSTR format) const {
    struct tm parts {};
    if (m_status == null || format == nullptr) return CString();
    if (!GetParts(parts)) return CString(u"Invalid DateTime");
    return CString(zbw::StrfTime(parts, format));
}
