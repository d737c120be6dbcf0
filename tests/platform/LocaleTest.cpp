// Locale number and date formats; fakes a temporary emulation root, the locale and a pinned wall clock.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/base/CString.h"
#include "platform/base/Clock.h"
#include "platform/base/WinError.h"
#include "platform/win32/Locale.h"
#include "tests/support/TestRoot.h"

namespace {

class LocaleTest : public ::testing::Test {
   protected:
    void SetUp() override { unsetenv("ZBW_LOCALE"); }
    void UseLocale(const char* name) { m_root.UseLocale(name); }

    CTestRoot m_root;
};

CString Number(LPCWSTR value, const NUMBERFMTW* fmt = nullptr) {
    char16_t buffer[40];
    int n = GetNumberFormatW(LOCALE_USER_DEFAULT, 0, value, fmt, buffer, 40);
    return n > 0 ? CString(buffer) : CString(u"<failed>");
}

CString DateText(DWORD flags, const SYSTEMTIME* st, LPCWSTR picture = nullptr) {
    char16_t buffer[100];
    int n = GetDateFormatW(LOCALE_USER_DEFAULT, flags, st, picture, buffer, 100);
    return n > 0 ? CString(buffer) : CString(u"<failed>");
}

CString TimeText(DWORD flags, const SYSTEMTIME* st, LPCWSTR picture = nullptr) {
    char16_t buffer[100];
    int n = GetTimeFormatW(LOCALE_USER_DEFAULT, flags, st, picture, buffer, 100);
    return n > 0 ? CString(buffer) : CString(u"<failed>");
}

CString Info(LCTYPE type, LCID lcid = LOCALE_USER_DEFAULT) {
    char16_t buffer[100];
    int n = GetLocaleInfoW(lcid, type, buffer, 100);
    return n > 0 ? CString(buffer) : CString(u"<failed>");
}

const SYSTEMTIME kTuesday = {2024, 3, 0, 5, 13, 41, 9, 0};  // wDayOfWeek left wrong on purpose

}  // namespace

TEST_F(LocaleTest, NumbersFollowTheLocaleSeparators) {
    struct Case {
        const char16_t* value;
        const char16_t* english;
        const char16_t* german;
    } cases[] = {
        {u"1023", u"1,023.00", u"1.023,00"},
        {u"1.00", u"1.00", u"1,00"},
        {u"5368709120", u"5,368,709,120.00", u"5.368.709.120,00"},
        {u"-1234.567", u"-1,234.57", u"-1.234,57"},
        {u"0.5", u"0.50", u"0,50"},
        {u".005", u"0.01", u"0,01"},
        {u"999.995", u"1,000.00", u"1.000,00"},
        {u"-0.001", u"0.00", u"0,00"},
        {u"007", u"7.00", u"7,00"},
        {u"123", u"123.00", u"123,00"},
    };
    for (const Case& c : cases) {
        UseLocale("en-US");
        EXPECT_EQ(Number(c.value), CString(c.english));
        UseLocale("de-DE");
        EXPECT_EQ(Number(c.value), CString(c.german));
    }
}

TEST_F(LocaleTest, WholeNumbersCutAtTheDecimalSeparator) {
    struct Case {
        const char* locale;
        const char16_t* expected;
    } cases[] = {{"en-US", u"1,023"}, {"de-DE", u"1.023"}};
    for (const Case& c : cases) {
        UseLocale(c.locale);
        CString text = Number(u"1023");
        char16_t decimal[4];
        ASSERT_GT(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, decimal, 4), 0);
        int cut = text.ReverseFind(decimal[0]);
        ASSERT_GE(cut, 0);
        EXPECT_EQ(text.Left(cut), CString(c.expected));
    }
}

TEST_F(LocaleTest, ExplicitNumberFormatRules) {
    char16_t dot[] = u".", comma[] = u",";
    struct Case {
        UINT digits, leadingZero, grouping, negativeOrder;
        const char16_t* value;
        const char16_t* expected;
    } cases[] = {
        {0, 1, 3, 1, u"1234567.89", u"1,234,568"},
        {2, 1, 32, 1, u"1234567.891", u"12,34,567.89"},
        {2, 1, 0, 1, u"1234567.89", u"1234567.89"},
        {2, 1, 3, 0, u"-1.5", u"(1.50)"},
        {2, 1, 3, 2, u"-1.5", u"- 1.50"},
        {2, 1, 3, 3, u"-1.5", u"1.50-"},
        {2, 1, 3, 4, u"-1.5", u"1.50 -"},
        {2, 0, 3, 1, u"0.5", u".50"},
        {0, 0, 3, 1, u"0.4", u"0"},
        {9, 1, 3, 1, u"1", u"1.000000000"},
    };
    for (const Case& c : cases) {
        NUMBERFMTW fmt = {c.digits, c.leadingZero, c.grouping, dot, comma, c.negativeOrder};
        EXPECT_EQ(Number(c.value, &fmt), CString(c.expected));
    }
}

TEST_F(LocaleTest, BadNumbersAndFormatsAreRefused) {
    char16_t dot[] = u".", comma[] = u",";
    char16_t buffer[40];
    for (LPCWSTR value : {u"", u"-", u"1.2.3", u"12a", u"--1", u" 1", u"1e5"}) {
        SetLastError(0);
        EXPECT_EQ(GetNumberFormatW(LOCALE_USER_DEFAULT, 0, value, nullptr, buffer, 40), 0);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(GetNumberFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, buffer, 40), 0);
    const NUMBERFMTW bad[] = {{10, 1, 3, dot, comma, 1},
                              {2, 1, 33, dot, comma, 1},
                              {2, 1, 3, nullptr, comma, 1},
                              {2, 1, 3, dot, comma, 5}};
    for (const NUMBERFMTW& fmt : bad) {
        SetLastError(0);
        EXPECT_EQ(GetNumberFormatW(LOCALE_USER_DEFAULT, 0, u"1", &fmt, buffer, 40), 0);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(GetNumberFormatW(LOCALE_USER_DEFAULT, LOCALE_NOUSEROVERRIDE, u"1", &bad[0], buffer, 40), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
    EXPECT_GT(GetNumberFormatW(LOCALE_USER_DEFAULT, LOCALE_NOUSEROVERRIDE, u"1", nullptr, buffer, 40), 0);
}

TEST_F(LocaleTest, BufferSizesCountTheTerminator) {
    char16_t buffer[8];
    EXPECT_EQ(GetNumberFormatW(LOCALE_USER_DEFAULT, 0, u"1023", nullptr, nullptr, 0), 9);  // "1,023.00"
    SetLastError(0);
    EXPECT_EQ(GetNumberFormatW(LOCALE_USER_DEFAULT, 0, u"1023", nullptr, buffer, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, nullptr, 0), 9);  // "M/d/yyyy"
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, buffer, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    char16_t exact[9];
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, exact, 9), 9);
    EXPECT_EQ(CString(exact), CString(u"M/d/yyyy"));
    EXPECT_EQ(GetDateFormatW(LOCALE_USER_DEFAULT, 0, &kTuesday, nullptr, nullptr, 0), 9);   // "3/5/2024"
    EXPECT_EQ(GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &kTuesday, nullptr, nullptr, 0), 11);  // "1:41:09 PM"
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, -1), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetLocaleInfoW(0x0411, LOCALE_SDECIMAL, buffer, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, 0x7777, buffer, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
}

TEST_F(LocaleTest, DatePicturesOfBothLocales) {
    struct Case {
        const char* locale;
        DWORD flags;
        const char16_t* picture;
        const char16_t* expected;
    } cases[] = {
        {"en-US", DATE_SHORTDATE, nullptr, u"3/5/2024"},
        {"en-US", 0, nullptr, u"3/5/2024"},
        {"en-US", DATE_LONGDATE, nullptr, u"Tuesday, March 5, 2024"},
        {"de-DE", DATE_SHORTDATE, nullptr, u"05.03.2024"},
        {"de-DE", DATE_LONGDATE, nullptr, u"Dienstag, 5. M\u00e4rz 2024"},
        {"en-US", 0, u"yyyy-MM-dd", u"2024-03-05"},
        {"en-US", 0, u"ddd, MMM d ''yy", u"Tue, Mar 5 '24"},
        {"en-US", 0, u"y/yyyyy", u"24/2024"},
        {"de-DE", 0, u"'Heute ist' dddd, 'd''M'", u"Heute ist Dienstag, d'M"},
        {"de-DE", 0, u"ddd MMM", u"Di M\u00e4r"},
    };
    for (const Case& c : cases) {
        UseLocale(c.locale);
        EXPECT_EQ(DateText(c.flags, &kTuesday, c.picture), CString(c.expected)) << c.locale;
    }
}

TEST_F(LocaleTest, DateFormatErrors) {
    char16_t buffer[100];
    const SYSTEMTIME badDates[] = {
        {2023, 2, 0, 29, 0, 0, 0, 0}, {2024, 0, 0, 1, 0, 0, 0, 0}, {2024, 1, 0, 0, 0, 0, 0, 0}};
    for (const SYSTEMTIME& st : badDates) {
        SetLastError(0);
        EXPECT_EQ(GetDateFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, 100), 0);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &kTuesday, u"d", buffer, 100), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
    EXPECT_EQ(
        GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE | DATE_LONGDATE, &kTuesday, nullptr, buffer, 100),
        0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
}

TEST_F(LocaleTest, NullDateAndTimeMeanNow) {
    setenv("TZ", "UTC", 1);
    tzset();
    zbw::PinWallClock(int64_t{1719828000} * 1000000);  // 2024-07-01 10:00:00 UTC
    EXPECT_EQ(DateText(0, nullptr), CString(u"7/1/2024"));
    EXPECT_EQ(TimeText(0, nullptr), CString(u"10:00:00 AM"));
}

TEST_F(LocaleTest, TimePicturesAndFlags) {
    const SYSTEMTIME early = {2024, 3, 2, 5, 0, 5, 7, 0};
    struct Case {
        const char* locale;
        const SYSTEMTIME* st;
        DWORD flags;
        const char16_t* picture;
        const char16_t* expected;
    } cases[] = {
        {"en-US", &kTuesday, 0, nullptr, u"1:41:09 PM"},
        {"de-DE", &kTuesday, 0, nullptr, u"13:41:09"},
        {"en-US", &kTuesday, TIME_NOSECONDS, nullptr, u"1:41 PM"},
        {"de-DE", &kTuesday, TIME_NOSECONDS, nullptr, u"13:41"},
        {"en-US", &kTuesday, TIME_FORCE24HOURFORMAT, nullptr, u"13:41:09"},
        {"en-US", &kTuesday, TIME_NOTIMEMARKER, nullptr, u"1:41:09"},
        {"en-US", &kTuesday, TIME_NOMINUTESORSECONDS, nullptr, u"1 PM"},
        {"en-US", &early, 0, nullptr, u"12:05:07 AM"},
        {"en-US", &early, 0, u"hh:mm tt", u"12:05 AM"},
        {"en-US", &kTuesday, 0, u"H 'h' m t", u"13 h 41 P"},
        {"en-US", &kTuesday, TIME_NOSECONDS, u"HH:mm:ss", u"13:41"},
        {"de-DE", &early, 0, u"HH.mm 'Uhr'", u"00.05 Uhr"},
    };
    for (const Case& c : cases) {
        UseLocale(c.locale);
        EXPECT_EQ(TimeText(c.flags, c.st, c.picture), CString(c.expected)) << c.locale;
    }
    char16_t buffer[40];
    const SYSTEMTIME badTime = {2024, 3, 2, 5, 24, 0, 0, 0};
    SetLastError(0);
    EXPECT_EQ(GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &badTime, nullptr, buffer, 40), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetTimeFormatW(LOCALE_USER_DEFAULT, 0x100, &kTuesday, nullptr, buffer, 40), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
}

// The way the system tells a 12-hour locale: 23:23:23 lower-cased, "am"/"pm" after position 0.
TEST_F(LocaleTest, TwelveHourClockIsVisibleInTheTimeText) {
    const SYSTEMTIME sample = {1980, 1, 2, 1, 23, 23, 23, 0};
    struct Case {
        const char* locale;
        bool twelveHour;
    } cases[] = {{"en-US", true}, {"de-DE", false}};
    for (const Case& c : cases) {
        UseLocale(c.locale);
        CString text = TimeText(0, &sample);
        text.MakeLower();
        bool found = text.Find(u"am") > 0 || text.Find(u"pm") > 0;
        EXPECT_EQ(found, c.twelveHour) << c.locale;
        EXPECT_EQ(Info(LOCALE_ITIME), CString(c.twelveHour ? u"0" : u"1"));
    }
}

TEST_F(LocaleTest, LocaleInfoOfBothLocales) {
    struct Case {
        LCTYPE type;
        const char16_t* english;
        const char16_t* german;
    } cases[] = {
        {LOCALE_SDECIMAL, u".", u","},
        {LOCALE_STHOUSAND, u",", u"."},
        {LOCALE_SGROUPING, u"3;0", u"3;0"},
        {LOCALE_IDIGITS, u"2", u"2"},
        {LOCALE_ILZERO, u"1", u"1"},
        {LOCALE_INEGNUMBER, u"1", u"1"},
        {LOCALE_SDATE, u"/", u"."},
        {LOCALE_STIME, u":", u":"},
        {LOCALE_SSHORTDATE, u"M/d/yyyy", u"dd.MM.yyyy"},
        {LOCALE_SLONGDATE, u"dddd, MMMM d, yyyy", u"dddd, d. MMMM yyyy"},
        {LOCALE_STIMEFORMAT, u"h:mm:ss tt", u"HH:mm:ss"},
        {LOCALE_IDATE, u"0", u"1"},
        {LOCALE_S1159, u"AM", u""},
        {LOCALE_S2359, u"PM", u""},
        {LOCALE_SNAME, u"en-US", u"de-DE"},
        {LOCALE_SDAYNAME1, u"Monday", u"Montag"},
        {LOCALE_SDAYNAME1 + 6, u"Sunday", u"Sonntag"},
        {LOCALE_SABBREVDAYNAME1 + 6, u"Sun", u"So"},
        {LOCALE_SMONTHNAME1 + 2, u"March", u"M\u00e4rz"},
        {LOCALE_SABBREVMONTHNAME1 + 9, u"Oct", u"Okt"},
        {LOCALE_SDECIMAL | LOCALE_NOUSEROVERRIDE, u".", u","},
    };
    for (const Case& c : cases) {
        UseLocale("en-US");
        EXPECT_EQ(Info(c.type), CString(c.english)) << c.type;
        EXPECT_EQ(Info(c.type, LCID_DE_DE), CString(c.german)) << c.type;
        UseLocale("de-DE");
        EXPECT_EQ(Info(c.type), CString(c.german)) << c.type;
        EXPECT_EQ(Info(c.type, LCID_EN_US), CString(c.english)) << c.type;
    }
    // An empty designator still counts its terminator.
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_S1159, nullptr, 0), 1);
}

TEST_F(LocaleTest, EnvironmentChoosesTheUserDefault) {
    struct Case {
        const char* value;
        LCID lcid;
    } cases[] = {{nullptr, LCID_EN_US}, {"en-US", LCID_EN_US}, {"de-DE", LCID_DE_DE},
                 {"de_de", LCID_DE_DE}, {"fr-FR", LCID_EN_US}, {"", LCID_EN_US}};
    for (const Case& c : cases) {
        if (c.value)
            setenv("ZBW_LOCALE", c.value, 1);
        else
            unsetenv("ZBW_LOCALE");
        EXPECT_EQ(GetUserDefaultLCID(), c.lcid) << (c.value ? c.value : "(unset)");
        EXPECT_EQ(GetSystemDefaultLCID(), c.lcid);
    }
}
