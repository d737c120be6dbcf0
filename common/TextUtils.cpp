#include "common/TextUtils.h"

#include "platform/win32/Locale.h"

namespace {

const int kNumberChars = 40;
const int kDateChars = 100;

char16_t DecimalSeparator() {
    char16_t sep[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, 8) <= 0) return u'.';
    return sep[0];
}

// The locale's grouping and decimals; the plain text when the locale call refuses it.
CString LocaleNumber(const CString& number) {
    char16_t buffer[kNumberChars];
    if (GetNumberFormatW(LOCALE_USER_DEFAULT, 0, number, nullptr, buffer, kNumberChars) <= 0) return number;
    return CString(buffer);
}

// Whole numbers lose the decimals the locale adds.
CString WholeNumber(const CString& number) {
    CString text = LocaleNumber(number);
    int cut = text.ReverseFind(DecimalSeparator());
    return cut >= 0 ? text.Left(cut) : text;
}

CString Fraction(LPCWSTR format, double value, LPCWSTR unit) {
    CString number;
    number.Format(format, value);
    return LocaleNumber(number) + unit;
}

bool SameDay(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay;
}

// The days that FTR_RELATIVE names, as the caller's time type computed them.
struct RELATIVEDAYS {
    SYSTEMTIME today{};
    SYSTEMTIME yesterday{};
    SYSTEMTIME tomorrow{};
};

// Today, yesterday and tomorrow in the caller's time type (CTime or COleDateTime), each day
// computed by that type's own arithmetic.
template <class TIME, class SPAN>
RELATIVEDAYS DaysAround(const TIME& now) {
    const SPAN day(1, 0, 0, 0);
    RELATIVEDAYS days;
    now.GetAsSystemTime(days.today);
    (now - day).GetAsSystemTime(days.yesterday);
    (now + day).GetAsSystemTime(days.tomorrow);
    return days;
}

CString RelativeDayName(const SYSTEMTIME& st, const RELATIVEDAYS& days) {
    if (SameDay(st, days.today)) return u"Today at";
    if (SameDay(st, days.yesterday)) return u"Yesterday at";
    if (SameDay(st, days.tomorrow)) return u"Tomorrow at";
    return CString();
}

CString FallbackText(const SYSTEMTIME& st) {
    CString text;
    text.Format(u"%02d-%02d-%02d %02d:%02d.%02d", st.wDay, st.wMonth, st.wYear % 100, st.wHour, st.wMinute,
                st.wSecond);
    return text;
}

CString FormatRelative(const SYSTEMTIME& st, DWORD flags, const RELATIVEDAYS& days) {
    CString text;
    char16_t buffer[kDateChars];
    if (flags & FTR_DATE) {
        bool relative = (flags & FTR_RELATIVE) && (flags & FTR_TIME);
        if (relative) text = RelativeDayName(st, days);
        if (text.IsEmpty()) {
            if (GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buffer, kDateChars) <= 0)
                return FallbackText(st);
            text = buffer;
        }
    }
    if (flags & FTR_TIME) {
        if (GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, kDateChars) <= 0)
            return FallbackText(st);
        if (!text.IsEmpty()) text += u' ';
        text += buffer;
    }
    return text;
}

const char16_t kTimestampError[] = u"Timestamp Error";

bool UsesTwelveHourClock() {
    CString sample = FormatTimeRelative(CTime(1980, 1, 1, 23, 23, 23), FTR_TIME);
    sample.MakeLower();
    return sample.Find(u"am") > 0 || sample.Find(u"pm") > 0;
}

}  // namespace

CString IntToString(int value) {
    CString text;
    text.Format(u"%d", value);
    return text;
}

CString FormatNumber(ULONGLONG value, bool units) {
    CString number;
    if (!units) {
        number.Format(u"%I64u", value);
        return WholeNumber(number);
    }
    if (value == 0) return WholeNumber(u"0");
    if (value < 1024) {
        number.Format(u"%u", static_cast<UINT>(value));
        return WholeNumber(number) + u"B";
    }
    double size = static_cast<double>(value);
    if (value <= 0xFFFFF) return Fraction(u"%3.2f", size / 1024.0, u"KB");
    if (value < 1073741824ull) return Fraction(u"%3.2f", size / 1048576.0, u"MB");
    return Fraction(u"%1.2f", size / 1073741824.0, u"GB");
}

CString FormatDuration(UINT seconds) {
    UINT h = seconds / 3600, m = seconds % 3600 / 60, s = seconds % 60;
    CString text;
    if (h > 0)
        text.Format(u"%uh %02um %02us", h, m, s);
    else if (m > 0)
        text.Format(u"%u min %02u sec", m, s);
    else
        text.Format(u"%u sec", s);
    return text;
}

CString FormatTimeRelative(const CTime& time, DWORD flags) {
    SYSTEMTIME st{};
    if (!time.GetAsSystemTime(st)) return kTimestampError;
    return FormatRelative(st, flags, DaysAround<CTime, CTimeSpan>(CTime::GetCurrentTime()));
}

CString FormatDateTimeRelative(const COleDateTime& time, DWORD flags) {
    SYSTEMTIME st{};
    if (time.GetStatus() != COleDateTime::valid || !time.GetAsSystemTime(st)) return kTimestampError;
    return FormatRelative(st, flags,
                          DaysAround<COleDateTime, COleDateTimeSpan>(COleDateTime::GetCurrentTime()));
}

CString FormatDateTimeShort(const COleDateTime& time) {
    return time.Format(UsesTwelveHourClock() ? u"%x %I:%M %p" : u"%x %H:%M");
}

void TruncateToMinute(COleDateTime& time) {
    if (time.GetStatus() != COleDateTime::valid || time.GetSecond() == 0) return;
    time.SetDateTime(time.GetYear(), time.GetMonth(), time.GetDay(), time.GetHour(), time.GetMinute(), 0);
}

CTime MakeUtcBase(LPCWSTR text) {
    COleDateTime parsed;
    if (parsed.ParseDateTime(text)) return CTime(parsed);
    return CTime(1971, 1, 1, 1, 1, 1);
}

CString HtmlEscape(const CString& text) {
    CString escaped;
    for (int i = 0; i < text.GetLength(); ++i) {
        char16_t ch = text[i];
        switch (ch) {
            case u'&': escaped += u"&amp;"; break;
            case u'<': escaped += u"&lt;"; break;
            case u'>': escaped += u"&gt;"; break;
            case u'"': escaped += u"&quot;"; break;
            default: escaped += ch;
        }
    }
    return escaped;
}

CString WildcardToRegExp(const CString& pattern) {
    static const char16_t kMeta[] = u"^$.[]()|+\\";
    CString expression;
    for (int i = 0; i < pattern.GetLength();) {
        char16_t ch = pattern[i];
        if (ch != u'*' && ch != u'?') {
            if (CString(kMeta).Find(ch) >= 0) expression += u'\\';
            expression += ch;
            ++i;
            continue;
        }
        // A run of "*" and "?" is "at least as many characters as it has "?"": one ".*" for
        // the whole run keeps the matcher from trying every split of the text between stars.
        bool star = false;
        for (; i < pattern.GetLength() && (pattern[i] == u'*' || pattern[i] == u'?'); ++i) {
            if (pattern[i] == u'*')
                star = true;
            else
                expression += u'.';
        }
        if (star) expression += u".*";
    }
    return expression;
}

bool ParseSectionHeader(LPCWSTR line, CString& name) {
    name.Empty();
    if (line == nullptr) return false;
    while (*line == u' ' || *line == u'\t') ++line;
    if (*line != u'[') return false;
    const char16_t* end = ++line;
    while (*end != 0 && *end != u']') ++end;
    name = CString(line, static_cast<int>(end - line));
    return true;
}

void TrimLineEnd(CString& line) {
    int length = line.GetLength();
    if (length > 0 && line[length - 1] == u'\n') --length;
    if (length > 0 && line[length - 1] == u'\r') --length;
    while (length > 0 && line[length - 1] == u' ') --length;
    line = line.Left(length);
}
