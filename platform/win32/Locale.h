// The user default locale and the Windows calls that format numbers, dates and times with it.
//
// The host's C library locale is never consulted (setlocale has no effect here). Two locales
// come from our own tables: en-US (M/d/yyyy, h:mm:ss tt, "." decimal, "," thousands) and de-DE
// (dd.MM.yyyy, HH:mm:ss, "," decimal, "." thousands). The user default is chosen by the
// environment variable ZBW_LOCALE ("en-US" or "de-DE", en-US when unset or unknown), read at
// every call so that tests can switch it.
//
// Kept of Windows: the LCIDs 0x0409 and 0x0407 and the user/system defaults (both the user
// default here); picture codes and quoting of GetDateFormatW/GetTimeFormatW; the NUMBERFMTW rules
// (rounding half away from zero, grouping digits such as 3 or 32, the five negative orders);
// buffer sizes in characters with the terminator, size queries with a count of 0,
// ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER and ERROR_INVALID_FLAGS.
// Left out: calendars, eras ("g"), LOCALE_RETURN_NUMBER and every other locale.
// TIME_FORCE24HOURFORMAT also drops the time marker. All functions are thread-safe.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "platform/base/WinTypes.h"

typedef DWORD LCID;
typedef DWORD LCTYPE;

#define LOCALE_NEUTRAL 0x0000u
#define LOCALE_USER_DEFAULT 0x0400u
#define LOCALE_SYSTEM_DEFAULT 0x0800u
#define LANG_USER_DEFAULT 0x0400u
#define LCID_EN_US 0x0409u
#define LCID_DE_DE 0x0407u

#define LOCALE_NOUSEROVERRIDE 0x80000000u

#define LOCALE_SDECIMAL 0x000Eu
#define LOCALE_STHOUSAND 0x000Fu
#define LOCALE_SGROUPING 0x0010u
#define LOCALE_IDIGITS 0x0011u
#define LOCALE_ILZERO 0x0012u
#define LOCALE_SDATE 0x001Du
#define LOCALE_STIME 0x001Eu
#define LOCALE_SSHORTDATE 0x001Fu
#define LOCALE_SLONGDATE 0x0020u
#define LOCALE_IDATE 0x0021u
#define LOCALE_ITIME 0x0023u
#define LOCALE_S1159 0x0028u
#define LOCALE_S2359 0x0029u
#define LOCALE_SDAYNAME1 0x002Au          // Monday ... LOCALE_SDAYNAME7 Sunday
#define LOCALE_SABBREVDAYNAME1 0x0031u    // Mon ... Sun
#define LOCALE_SMONTHNAME1 0x0038u        // January ... December (12 values)
#define LOCALE_SABBREVMONTHNAME1 0x0044u  // Jan ... Dec
#define LOCALE_SNAME 0x005Cu
#define LOCALE_INEGNUMBER 0x1010u
#define LOCALE_STIMEFORMAT 0x1003u

#define DATE_SHORTDATE 0x00000001u
#define DATE_LONGDATE 0x00000002u

#define TIME_NOMINUTESORSECONDS 0x00000001u
#define TIME_NOSECONDS 0x00000002u
#define TIME_NOTIMEMARKER 0x00000004u
#define TIME_FORCE24HOURFORMAT 0x00000008u

struct NUMBERFMTW {
    UINT NumDigits;    // decimals, 0..9
    UINT LeadingZero;  // 1: "0.5", 0: ".5"
    UINT Grouping;     // 0..9 or 32: group sizes from the decimal point, the last one repeats
    LPWSTR lpDecimalSep;
    LPWSTR lpThousandSep;
    UINT NegativeOrder;  // 0 "(1.1)", 1 "-1.1", 2 "- 1.1", 3 "1.1-", 4 "1.1 -"
};

// lpValue: digits, at most one ".", an optional leading "-". format null: the locale's rules.
int GetNumberFormatW(LCID locale, DWORD flags, LPCWSTR lpValue, const NUMBERFMTW* format, LPWSTR lpNumberStr,
                     int cchNumber);
// lpDate null: today. lpFormat null: DATE_SHORTDATE (default) or DATE_LONGDATE picture.
int GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* lpDate, LPCWSTR lpFormat, LPWSTR lpDateStr,
                   int cchDate);
// lpTime null: now. lpFormat null: the locale's long time picture.
int GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* lpTime, LPCWSTR lpFormat, LPWSTR lpTimeStr,
                   int cchTime);
int GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR lpData, int cchData);
LCID GetUserDefaultLCID();
LCID GetSystemDefaultLCID();

namespace zbw {

struct LOCALEDATA {
    LCID lcid;
    const char16_t* name;
    const char16_t* decimalSep;
    const char16_t* thousandSep;
    UINT grouping;  // NUMBERFMTW form
    UINT digits;
    UINT leadingZero;
    UINT negativeOrder;
    const char16_t* dateSep;
    const char16_t* timeSep;
    const char16_t* shortDate;
    const char16_t* longDate;
    const char16_t* timeFormat;
    const char16_t* am;
    const char16_t* pm;
    int dateOrder;                // LOCALE_IDATE: 0 month-day-year, 1 day-month-year, 2 year-month-day
    const char16_t* dayNames[7];  // Sunday first
    const char16_t* abbrevDayNames[7];
    const char16_t* monthNames[12];
    const char16_t* abbrevMonthNames[12];
};

// The table ZBW_LOCALE selects now.
const LOCALEDATA& UserLocale();
// The table of an LCID (the defaults resolve to UserLocale()); null for any other.
const LOCALEDATA* FindLocale(LCID lcid);
// The English names the C runtime's strftime uses, whatever the locale (wday 0 = Sunday).
const LOCALEDATA& EnglishNames();

// Windows date and time pictures ("M/d/yyyy", "h:mm:ss tt" ...) filled from st.
std::u16string FormatDatePicture(const LOCALEDATA& loc, const SYSTEMTIME& st, std::u16string_view picture);
std::u16string FormatTimePicture(const LOCALEDATA& loc, const SYSTEMTIME& st, std::u16string_view picture,
                                 DWORD flags);

// The C runtime's wcsftime over our tables: names (%a %A %b %B %p) are English, %x %X %c follow the
// user locale's short date and time pictures, "%#c" and "%#x" are the English long forms
// ("Tuesday, March 14, 1995 13:41:29"), "%#d" and the like drop leading zeros. Codes it does not
// know are copied as they stand.
std::u16string StrfTime(const struct tm& t, std::u16string_view format);

}  // namespace zbw
