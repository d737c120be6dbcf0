#include "platform/win32/Locale.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/WinError.h"

namespace zbw {
namespace {

const LOCALEDATA kEnglishUs = {
    LCID_EN_US,
    u"en-US",
    u".",
    u",",
    3,
    2,
    1,
    1,
    u"/",
    u":",
    u"M/d/yyyy",
    u"dddd, MMMM d, yyyy",
    u"h:mm:ss tt",
    u"AM",
    u"PM",
    0,
    {u"Sunday", u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday"},
    {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"},
    {u"January", u"February", u"March", u"April", u"May", u"June", u"July", u"August", u"September",
     u"October", u"November", u"December"},
    {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun", u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"},
};

const LOCALEDATA kGerman = {
    LCID_DE_DE,
    u"de-DE",
    u",",
    u".",
    3,
    2,
    1,
    1,
    u".",
    u":",
    u"dd.MM.yyyy",
    u"dddd, d. MMMM yyyy",
    u"HH:mm:ss",
    u"",
    u"",
    1,
    {u"Sonntag", u"Montag", u"Dienstag", u"Mittwoch", u"Donnerstag", u"Freitag", u"Samstag"},
    {u"So", u"Mo", u"Di", u"Mi", u"Do", u"Fr", u"Sa"},
    {u"Januar", u"Februar", u"M\u00e4rz", u"April", u"Mai", u"Juni", u"Juli", u"August", u"September",
     u"Oktober", u"November", u"Dezember"},
    {u"Jan", u"Feb", u"M\u00e4r", u"Apr", u"Mai", u"Jun", u"Jul", u"Aug", u"Sep", u"Okt", u"Nov", u"Dez"},
};

bool SameNameNoCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        char x = *a == '_' ? '-' : *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return *a == *b;
}

// Copies text and its terminator out as the Windows locale calls do; returns the count or 0.
int CopyOut(const std::u16string& text, LPWSTR buffer, int cch) {
    int needed = static_cast<int>(text.size()) + 1;
    if (cch < 0 || (cch > 0 && buffer == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cch == 0) return needed;
    if (cch < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text.c_str(), sizeof(char16_t) * needed);
    return needed;
}

std::u16string Number(long value, int minDigits) {
    std::u16string digits;
    unsigned long v = value < 0 ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + v % 10));
        v /= 10;
    } while (v != 0);
    while (static_cast<int>(digits.size()) < minDigits) digits.insert(digits.begin(), u'0');
    if (value < 0) digits.insert(digits.begin(), u'-');
    return digits;
}

// One piece of a Windows picture: a code letter repeated count times, or literal text.
struct PICTUREITEM {
    char16_t code;  // 0 for literal text
    int count;
    std::u16string text;
};

std::vector<PICTUREITEM> SplitPicture(std::u16string_view picture, std::u16string_view codes) {
    std::vector<PICTUREITEM> items;
    auto literal = [&items](char16_t c) {
        if (items.empty() || items.back().code != 0) items.push_back({0, 0, {}});
        items.back().text += c;
    };
    for (size_t i = 0; i < picture.size();) {
        char16_t c = picture[i];
        if (c == u'\'') {
            ++i;
            if (i < picture.size() && picture[i] == u'\'') {
                literal(u'\'');
                ++i;
                continue;
            }
            for (; i < picture.size(); ++i) {
                if (picture[i] != u'\'') {
                    literal(picture[i]);
                } else if (i + 1 < picture.size() && picture[i + 1] == u'\'') {
                    literal(u'\'');
                    ++i;
                } else {
                    ++i;
                    break;
                }
            }
            continue;
        }
        if (codes.find(c) == std::u16string_view::npos) {
            literal(c);
            ++i;
            continue;
        }
        size_t j = i;
        while (j < picture.size() && picture[j] == c) ++j;
        items.push_back({c, static_cast<int>(j - i), {}});
        i = j;
    }
    return items;
}

// Drops the code items for which drop() holds, with the separator that joins each to the
// previous code (or, for a leading code, to the next one), as Windows does for TIME_NOSECONDS.
template <typename Pred>
void DropCodes(std::vector<PICTUREITEM>& items, Pred drop) {
    for (size_t i = 0; i < items.size();) {
        if (items[i].code == 0 || !drop(items[i].code)) {
            ++i;
            continue;
        }
        size_t from = i, to = i + 1;
        if (i > 0 && items[i - 1].code == 0 && i >= 2) {
            from = i - 1;
        } else if (i == 0 || (i == 1 && items[0].code == 0)) {
            if (to < items.size() && items[to].code == 0) ++to;
        }
        items.erase(items.begin() + static_cast<long>(from), items.begin() + static_cast<long>(to));
        i = from;
    }
}

bool ValidDate(const SYSTEMTIME& st) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1) return false;
    bool leap = (st.wYear % 4 == 0 && st.wYear % 100 != 0) || st.wYear % 400 == 0;
    int days = kDays[st.wMonth - 1] + (st.wMonth == 2 && leap ? 1 : 0);
    return st.wDay <= days;
}

bool ValidTime(const SYSTEMTIME& st) {
    return st.wHour < 24 && st.wMinute < 60 && st.wSecond < 60 && st.wMilliseconds < 1000;
}

// Windows derives the weekday from the date rather than trusting wDayOfWeek.
int WeekDay(int year, int month, int day) {
    static const int kOffsets[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3) --year;
    return (year + year / 4 - year / 100 + year / 400 + kOffsets[month - 1] + day) % 7;
}

// Grouping digits of NUMBERFMTW: 3 groups by threes, 32 by three and then by twos.
std::u16string GroupDigits(const std::u16string& digits, UINT grouping, const std::u16string& sep) {
    std::vector<int> sizes;
    std::string g = std::to_string(grouping);
    for (char c : g) sizes.push_back(c - '0');
    bool repeat = sizes.back() != 0;
    if (!repeat) sizes.pop_back();
    if (sizes.empty() || sizes[0] == 0) return digits;
    std::u16string out;
    size_t end = digits.size();
    size_t k = 0;
    while (end > 0) {
        int size = k < sizes.size() ? sizes[k] : (repeat ? sizes.back() : 0);
        if (size == 0 || static_cast<size_t>(size) >= end) {
            out.insert(0, digits.substr(0, end));
            break;
        }
        out.insert(0, digits.substr(end - size, size));
        out.insert(0, sep);
        end -= size;
        ++k;
    }
    return out;
}

bool ParseNumberValue(LPCWSTR value, bool& negative, std::u16string& whole, std::u16string& fraction) {
    if (value == nullptr) return false;
    const char16_t* p = value;
    negative = *p == u'-';
    if (negative) ++p;
    bool dot = false;
    for (; *p; ++p) {
        if (*p == u'.' && !dot) {
            dot = true;
        } else if (*p >= u'0' && *p <= u'9') {
            (dot ? fraction : whole) += *p;
        } else {
            return false;
        }
    }
    return !whole.empty() || !fraction.empty();
}

// Rounds the decimal digits half away from zero to places decimals.
void RoundDigits(std::u16string& whole, std::u16string& fraction, UINT places) {
    bool up = fraction.size() > places && fraction[places] >= u'5';
    fraction.resize(places, u'0');
    if (!up) return;
    std::u16string all = whole + fraction;
    int i = static_cast<int>(all.size()) - 1;
    for (; i >= 0; --i) {
        if (all[i] != u'9') {
            ++all[i];
            break;
        }
        all[i] = u'0';
    }
    if (i < 0) all.insert(all.begin(), u'1');
    whole = all.substr(0, all.size() - places);
    fraction = all.substr(all.size() - places);
}

std::u16string ApplyNegativeOrder(const std::u16string& number, UINT order) {
    switch (order) {
        case 0: return u"(" + number + u")";
        case 2: return u"- " + number;
        case 3: return number + u"-";
        case 4: return number + u" -";
        default: return u"-" + number;
    }
}

std::u16string FormatNumberText(bool negative, std::u16string whole, std::u16string fraction,
                                const NUMBERFMTW& fmt) {
    RoundDigits(whole, fraction, fmt.NumDigits);
    size_t nonZero = whole.find_first_not_of(u'0');
    whole = nonZero == std::u16string::npos ? std::u16string() : whole.substr(nonZero);
    bool zero = whole.empty() && fraction.find_first_not_of(u'0') == std::u16string::npos;
    if (whole.empty() && (fmt.LeadingZero != 0 || fmt.NumDigits == 0)) whole = u"0";
    std::u16string text = GroupDigits(whole, fmt.Grouping, fmt.lpThousandSep);
    if (fmt.NumDigits > 0) text += fmt.lpDecimalSep + fraction;
    return negative && !zero ? ApplyNegativeOrder(text, fmt.NegativeOrder) : text;
}

bool ValidNumberFormat(const NUMBERFMTW& fmt) {
    return fmt.NumDigits <= 9 && fmt.LeadingZero <= 1 && fmt.NegativeOrder <= 4 &&
           fmt.lpDecimalSep != nullptr && fmt.lpThousandSep != nullptr &&
           (fmt.Grouping <= 9 || fmt.Grouping == 32);
}

SYSTEMTIME NowOrGiven(const SYSTEMTIME* given) {
    SYSTEMTIME st{};
    if (given != nullptr) return *given;
    GetLocalTime(&st);
    return st;
}

std::u16string LocaleInfoText(const LOCALEDATA& loc, LCTYPE type, bool& known) {
    known = true;
    if (type >= LOCALE_SDAYNAME1 && type < LOCALE_SDAYNAME1 + 7)
        return loc.dayNames[(type - LOCALE_SDAYNAME1 + 1) % 7];
    if (type >= LOCALE_SABBREVDAYNAME1 && type < LOCALE_SABBREVDAYNAME1 + 7)
        return loc.abbrevDayNames[(type - LOCALE_SABBREVDAYNAME1 + 1) % 7];
    if (type >= LOCALE_SMONTHNAME1 && type < LOCALE_SMONTHNAME1 + 12)
        return loc.monthNames[type - LOCALE_SMONTHNAME1];
    if (type >= LOCALE_SABBREVMONTHNAME1 && type < LOCALE_SABBREVMONTHNAME1 + 12)
        return loc.abbrevMonthNames[type - LOCALE_SABBREVMONTHNAME1];
    switch (type) {
        case LOCALE_SNAME: return loc.name;
        case LOCALE_SDECIMAL: return loc.decimalSep;
        case LOCALE_STHOUSAND: return loc.thousandSep;
        case LOCALE_SGROUPING: return loc.grouping == 0 ? u"0" : Number(loc.grouping, 1) + u";0";
        case LOCALE_IDIGITS: return Number(loc.digits, 1);
        case LOCALE_ILZERO: return Number(loc.leadingZero, 1);
        case LOCALE_INEGNUMBER: return Number(loc.negativeOrder, 1);
        case LOCALE_SDATE: return loc.dateSep;
        case LOCALE_STIME: return loc.timeSep;
        case LOCALE_SSHORTDATE: return loc.shortDate;
        case LOCALE_SLONGDATE: return loc.longDate;
        case LOCALE_STIMEFORMAT: return loc.timeFormat;
        case LOCALE_IDATE: return Number(loc.dateOrder, 1);
        case LOCALE_ITIME:
            return std::u16string_view(loc.timeFormat).find(u'H') != std::u16string_view::npos ? u"1" : u"0";
        case LOCALE_S1159: return loc.am;
        case LOCALE_S2359: return loc.pm;
        default: known = false; return {};
    }
}

}  // namespace

const LOCALEDATA& UserLocale() {
    const char* choice = std::getenv("ZBW_LOCALE");
    return choice != nullptr && SameNameNoCase(choice, "de-de") ? kGerman : kEnglishUs;
}

const LOCALEDATA* FindLocale(LCID lcid) {
    switch (lcid) {
        case LOCALE_NEUTRAL:
        case LOCALE_USER_DEFAULT:
        case LOCALE_SYSTEM_DEFAULT: return &UserLocale();
        case LCID_EN_US: return &kEnglishUs;
        case LCID_DE_DE: return &kGerman;
        default: return nullptr;
    }
}

const LOCALEDATA& EnglishNames() {
    return kEnglishUs;
}

std::u16string FormatDatePicture(const LOCALEDATA& loc, const SYSTEMTIME& st, std::u16string_view picture) {
    std::u16string out;
    int wday = WeekDay(st.wYear, st.wMonth, st.wDay);
    for (const PICTUREITEM& item : SplitPicture(picture, u"dMy")) {
        switch (item.code) {
            case u'd':
                if (item.count >= 4)
                    out += loc.dayNames[wday];
                else if (item.count == 3)
                    out += loc.abbrevDayNames[wday];
                else
                    out += Number(st.wDay, item.count);
                break;
            case u'M':
                if (item.count >= 4)
                    out += loc.monthNames[st.wMonth - 1];
                else if (item.count == 3)
                    out += loc.abbrevMonthNames[st.wMonth - 1];
                else
                    out += Number(st.wMonth, item.count);
                break;
            case u'y':
                if (item.count >= 3)
                    out += Number(st.wYear, 4);
                else
                    out += Number(st.wYear % 100, item.count);
                break;
            default: out += item.text; break;
        }
    }
    return out;
}

std::u16string FormatTimePicture(const LOCALEDATA& loc, const SYSTEMTIME& st, std::u16string_view picture,
                                 DWORD flags) {
    std::vector<PICTUREITEM> items = SplitPicture(picture, u"hHmst");
    bool force24 = (flags & TIME_FORCE24HOURFORMAT) != 0;
    if (flags & TIME_NOMINUTESORSECONDS) DropCodes(items, [](char16_t c) { return c == u'm' || c == u's'; });
    if (flags & TIME_NOSECONDS) DropCodes(items, [](char16_t c) { return c == u's'; });
    if ((flags & TIME_NOTIMEMARKER) || force24) DropCodes(items, [](char16_t c) { return c == u't'; });
    std::u16string out;
    const char16_t* marker = st.wHour < 12 ? loc.am : loc.pm;
    for (const PICTUREITEM& item : items) {
        int count = item.count > 2 ? 2 : item.count;
        switch (item.code) {
            case u'h':
                if (force24)
                    out += Number(st.wHour, count);
                else
                    out += Number(st.wHour % 12 == 0 ? 12 : st.wHour % 12, count);
                break;
            case u'H': out += Number(st.wHour, count); break;
            case u'm': out += Number(st.wMinute, count); break;
            case u's': out += Number(st.wSecond, count); break;
            case u't':
                if (count == 1)
                    out += std::u16string_view(marker).substr(0, marker[0] ? 1 : 0);
                else
                    out += marker;
                break;
            default: out += item.text; break;
        }
    }
    return out;
}

std::u16string StrfTime(const struct tm& t, std::u16string_view format) {
    const LOCALEDATA& names = EnglishNames();
    const LOCALEDATA& user = UserLocale();
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(t.tm_year + 1900);
    int wday = ((t.tm_wday % 7) + 7) % 7;
    int month = ((t.tm_mon % 12) + 12) % 12;
    st.wMonth = static_cast<WORD>(month + 1);
    st.wDay = static_cast<WORD>(t.tm_mday);
    st.wHour = static_cast<WORD>(t.tm_hour);
    st.wMinute = static_cast<WORD>(t.tm_min);
    st.wSecond = static_cast<WORD>(t.tm_sec);
    std::u16string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != u'%' || i + 1 >= format.size()) {
            out += format[i];
            continue;
        }
        size_t start = i;
        bool alt = format[i + 1] == u'#';
        if (alt && i + 2 >= format.size()) {
            out += format.substr(start);
            break;
        }
        i += alt ? 2 : 1;
        int pad = alt ? 1 : 2;
        switch (format[i]) {
            case u'a': out += names.abbrevDayNames[wday]; break;
            case u'A': out += names.dayNames[wday]; break;
            case u'b': out += names.abbrevMonthNames[month]; break;
            case u'B': out += names.monthNames[month]; break;
            case u'c':
                if (alt) {
                    out += FormatDatePicture(names, st, u"dddd, MMMM dd, yyyy") + u" ";
                    out += FormatTimePicture(names, st, u"HH:mm:ss", 0);
                } else {
                    out += FormatDatePicture(user, st, user.shortDate) + u" ";
                    out += FormatTimePicture(user, st, user.timeFormat, 0);
                }
                break;
            case u'x':
                if (alt)
                    out += FormatDatePicture(names, st, u"dddd, MMMM dd, yyyy");
                else
                    out += FormatDatePicture(user, st, user.shortDate);
                break;
            case u'X': out += FormatTimePicture(user, st, user.timeFormat, 0); break;
            case u'd': out += Number(t.tm_mday, pad); break;
            case u'H': out += Number(t.tm_hour, pad); break;
            case u'I': out += Number(t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12, pad); break;
            case u'j': out += Number(t.tm_yday + 1, alt ? 1 : 3); break;
            case u'm': out += Number(t.tm_mon + 1, pad); break;
            case u'M': out += Number(t.tm_min, pad); break;
            case u'p': out += t.tm_hour < 12 ? names.am : names.pm; break;
            case u'S': out += Number(t.tm_sec, pad); break;
            case u'U': out += Number((t.tm_yday + 7 - wday) / 7, pad); break;
            case u'W': out += Number((t.tm_yday + 7 - (wday + 6) % 7) / 7, pad); break;
            case u'w': out += Number(wday, 1); break;
            case u'y': out += Number((t.tm_year + 1900) % 100, pad); break;
            case u'Y': out += Number(t.tm_year + 1900, alt ? 1 : 4); break;
            case u'%': out += u'%'; break;
            default: out += format.substr(start, i - start + 1); break;
        }
    }
    return out;
}

}  // namespace zbw

int GetNumberFormatW(LCID locale, DWORD flags, LPCWSTR lpValue, const NUMBERFMTW* format, LPWSTR lpNumberStr,
                     int cchNumber) {
    const zbw::LOCALEDATA* loc = zbw::FindLocale(locale);
    if (loc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((flags & ~LOCALE_NOUSEROVERRIDE) != 0 || (format != nullptr && flags != 0)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    std::u16string decimalSep = loc->decimalSep, thousandSep = loc->thousandSep;
    NUMBERFMTW fmt = {loc->digits,       loc->leadingZero,   loc->grouping,
                      decimalSep.data(), thousandSep.data(), loc->negativeOrder};
    if (format != nullptr) fmt = *format;
    bool negative = false;
    std::u16string whole, fraction;
    if (!zbw::ValidNumberFormat(fmt) || !zbw::ParseNumberValue(lpValue, negative, whole, fraction)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return zbw::CopyOut(zbw::FormatNumberText(negative, whole, fraction, fmt), lpNumberStr, cchNumber);
}

int GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* lpDate, LPCWSTR lpFormat, LPWSTR lpDateStr,
                   int cchDate) {
    const zbw::LOCALEDATA* loc = zbw::FindLocale(locale);
    if (loc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DWORD kinds = flags & (DATE_SHORTDATE | DATE_LONGDATE);
    if ((flags & ~(DATE_SHORTDATE | DATE_LONGDATE | LOCALE_NOUSEROVERRIDE)) != 0 ||
        kinds == (DATE_SHORTDATE | DATE_LONGDATE) || (lpFormat != nullptr && flags != 0)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    SYSTEMTIME st = zbw::NowOrGiven(lpDate);
    if (!zbw::ValidDate(st)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string_view picture =
        lpFormat != nullptr ? lpFormat : (kinds == DATE_LONGDATE ? loc->longDate : loc->shortDate);
    return zbw::CopyOut(zbw::FormatDatePicture(*loc, st, picture), lpDateStr, cchDate);
}

int GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* lpTime, LPCWSTR lpFormat, LPWSTR lpTimeStr,
                   int cchTime) {
    const zbw::LOCALEDATA* loc = zbw::FindLocale(locale);
    if (loc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const DWORD known = TIME_NOMINUTESORSECONDS | TIME_NOSECONDS | TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT;
    if ((flags & ~(known | LOCALE_NOUSEROVERRIDE)) != 0 ||
        (lpFormat != nullptr && (flags & LOCALE_NOUSEROVERRIDE) != 0)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    SYSTEMTIME st = zbw::NowOrGiven(lpTime);
    if (!zbw::ValidTime(st)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string_view picture = lpFormat != nullptr ? lpFormat : loc->timeFormat;
    return zbw::CopyOut(zbw::FormatTimePicture(*loc, st, picture, flags), lpTimeStr, cchTime);
}

int GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR lpData, int cchData) {
    const zbw::LOCALEDATA* loc = zbw::FindLocale(locale);
    if (loc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    bool known = false;
    std::u16string text = zbw::LocaleInfoText(*loc, type & ~LOCALE_NOUSEROVERRIDE, known);
    if (!known) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    return zbw::CopyOut(text, lpData, cchData);
}

LCID GetUserDefaultLCID() {
    return zbw::UserLocale().lcid;
}

LCID GetSystemDefaultLCID() {
    return zbw::UserLocale().lcid;
}
