// COleDateTime and CTime: values, arithmetic across daylight saving, status; fakes a temporary emulation
// root, the locale and a pinned wall clock.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/WinError.h"
#include "platform/classlib/OleDateTime.h"
#include "platform/classlib/Time.h"
#include "platform/win32/FileTimeApi.h"
#include "platform/win32/Locale.h"
#include "tests/support/TestRoot.h"

namespace {

// Berlin time (last Sundays of March and October switch), en-US unless a test switches.
class DateTimeTest : public ::testing::Test {
   protected:
    void SetUp() override {
        m_root.UseTimeZone("Europe/Berlin");
        unsetenv("ZBW_LOCALE");
    }
    void UseLocale(const char* name) { m_root.UseLocale(name); }

    CTestRoot m_root;
};

void ExpectParts(const COleDateTime& dt, int y, int mo, int d, int h, int mi, int s) {
    ASSERT_EQ(dt.GetStatus(), COleDateTime::valid);
    EXPECT_EQ(dt.GetYear(), y);
    EXPECT_EQ(dt.GetMonth(), mo);
    EXPECT_EQ(dt.GetDay(), d);
    EXPECT_EQ(dt.GetHour(), h);
    EXPECT_EQ(dt.GetMinute(), mi);
    EXPECT_EQ(dt.GetSecond(), s);
}

}  // namespace

TEST_F(DateTimeTest, ValueCountsDaysFrom1899WithWeekdayAndDayOfYear) {
    struct Case {
        int y, mo, d, h, mi;
        double value;
        int dayOfWeek, dayOfYear;
    } cases[] = {
        {1899, 12, 30, 0, 0, 0.0, 7, 364},       {1900, 1, 1, 0, 0, 2.0, 2, 1},
        {1899, 12, 29, 6, 0, -1.25, 6, 363},     {2024, 3, 5, 6, 0, 45356.25, 3, 65},
        {2024, 2, 29, 12, 0, 45351.5, 5, 60},    {2024, 12, 31, 0, 0, 45657.0, 3, 366},
        {2023, 12, 31, 18, 0, 45291.75, 1, 365}, {9999, 12, 31, 0, 0, 2958465.0, 6, 365},
        {100, 1, 1, 0, 0, -657434.0, 6, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        COleDateTime dt(c.y, c.mo, c.d, c.h, c.mi, 0);
        EXPECT_DOUBLE_EQ(static_cast<DATE>(dt), c.value);
        EXPECT_EQ(dt.GetDayOfWeek(), c.dayOfWeek);
        EXPECT_EQ(dt.GetDayOfYear(), c.dayOfYear);
        ExpectParts(COleDateTime(c.value), c.y, c.mo, c.d, c.h, c.mi, 0);
        SYSTEMTIME st{};
        ASSERT_TRUE(dt.GetAsSystemTime(st));
        EXPECT_EQ(st.wDayOfWeek, c.dayOfWeek - 1);
    }
}

TEST_F(DateTimeTest, PartsOutOfRangeGiveInvalidStatus) {
    struct Case {
        int y, mo, d, h, mi, s;
    } bad[] = {{2023, 2, 29, 0, 0, 0}, {2024, 13, 1, 0, 0, 0}, {2024, 4, 31, 0, 0, 0},
               {2024, 1, 1, 24, 0, 0}, {2024, 1, 1, 0, 60, 0}, {2024, 1, 1, 0, 0, 60},
               {99, 1, 1, 0, 0, 0},    {10000, 1, 1, 0, 0, 0}};
    for (const Case& c : bad) {
        COleDateTime dt;
        EXPECT_EQ(dt.SetDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s), 1);
        EXPECT_EQ(dt.GetStatus(), COleDateTime::invalid);
        EXPECT_EQ(dt.GetYear(), -1);
        EXPECT_EQ(dt.GetDayOfWeek(), -1);
        SYSTEMTIME st{};
        EXPECT_FALSE(dt.GetAsSystemTime(st));
    }
    COleDateTime dt;
    EXPECT_EQ(dt.SetTime(13, 0, 0), 0);
    ExpectParts(dt, 1899, 12, 30, 13, 0, 0);
    EXPECT_EQ(dt.SetDate(2024, 2, 29), 0);
    ExpectParts(dt, 2024, 2, 29, 0, 0, 0);
    EXPECT_EQ(COleDateTime(3e7).GetStatus(), COleDateTime::invalid);
}

TEST_F(DateTimeTest, ArithmeticIsLocalWallClockAcrossDaylightSaving) {
    struct Case {
        COleDateTime from;
        COleDateTimeSpan span;
        COleDateTime expected;
    } cases[] = {
        {COleDateTime(2024, 3, 30, 12, 0, 0), COleDateTimeSpan(0, 0, 1440, 0),
         COleDateTime(2024, 3, 31, 12, 0, 0)},
        {COleDateTime(2024, 3, 31, 1, 30, 0), COleDateTimeSpan(0, 0, 60, 0),
         COleDateTime(2024, 3, 31, 2, 30, 0)},
        {COleDateTime(2024, 10, 26, 23, 0, 0), COleDateTimeSpan(1, 0, 0, 0),
         COleDateTime(2024, 10, 27, 23, 0, 0)},
        {COleDateTime(2024, 10, 27, 2, 30, 0), COleDateTimeSpan(0, 0, -90, 0),
         COleDateTime(2024, 10, 27, 1, 0, 0)},
        {COleDateTime(2024, 12, 31, 23, 59, 59), COleDateTimeSpan(0, 0, 0, 1),
         COleDateTime(2025, 1, 1, 0, 0, 0)},
        {COleDateTime(1899, 12, 30, 1, 0, 0), COleDateTimeSpan(0, -7, 0, 0),
         COleDateTime(1899, 12, 29, 18, 0, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<DATE>(c.from));
        EXPECT_EQ(c.from + c.span, c.expected);
        EXPECT_EQ(c.expected - c.span, c.from);
        EXPECT_EQ(c.expected - c.from, c.span);
    }
    COleDateTime spring(2024, 3, 31, 0, 0, 0), before(2024, 3, 30, 0, 0, 0);
    EXPECT_EQ((spring - before).GetTotalMinutes(), 1440);
}

TEST_F(DateTimeTest, RepeatedStepsLandExactlyOnTheGrid) {
    COleDateTime t(2024, 1, 1, 8, 0, 0);
    const COleDateTimeSpan step(0, 0, 15, 0);
    for (int i = 0; i < 8; ++i) t += step;
    EXPECT_EQ(t, COleDateTime(2024, 1, 1, 10, 0, 0));
    EXPECT_TRUE(t <= COleDateTime(2024, 1, 1, 10, 0, 0));
    EXPECT_FALSE(t < COleDateTime(2024, 1, 1, 10, 0, 0));
    COleDateTime odd(45292.0 + 1.0 / 3.0);  // a fraction that is no whole second
    EXPECT_EQ(odd, COleDateTime(2024, 1, 1, 8, 0, 0));
}

TEST_F(DateTimeTest, MinuteDifferenceAddsHalfASecondBeforeTruncation) {
    const COleDateTime start(2024, 1, 1, 8, 0, 0);
    struct Case {
        COleDateTime t;
        double minutes;
    } cases[] = {
        {COleDateTime(2024, 1, 1, 10, 7, 0), 127}, {COleDateTime(2024, 1, 1, 10, 15, 0), 135},
        {COleDateTime(2024, 1, 1, 8, 0, 59), 0},   {COleDateTime(2024, 3, 5, 5, 0, 0), 91980},
        {COleDateTime(2024, 1, 1, 7, 59, 0), -1},  {COleDateTime(2023, 12, 31, 8, 0, 0), -1440},
    };
    for (const Case& c : cases) EXPECT_EQ((c.t - start).GetTotalMinutes(), c.minutes) << c.minutes;
    COleDateTimeSpan span(1, 2, 3, 4);
    EXPECT_EQ(span.GetDays(), 1);
    EXPECT_EQ(span.GetHours(), 2);
    EXPECT_EQ(span.GetMinutes(), 3);
    EXPECT_EQ(span.GetSeconds(), 4);
    EXPECT_EQ(span.GetTotalHours(), 26);
    EXPECT_EQ(span.GetTotalMinutes(), 1563);
    EXPECT_EQ(span.GetTotalSeconds(), 93784);
    COleDateTimeSpan negative = -span;
    EXPECT_EQ(negative.GetDays(), -1);
    EXPECT_EQ(negative.GetHours(), -2);
    EXPECT_EQ(negative.GetSeconds(), -4);
    EXPECT_EQ(negative.GetTotalSeconds(), -93784);
    EXPECT_TRUE(COleDateTimeSpan(0, 0, 0, -20) < COleDateTimeSpan(0, 0, 0, 1));
}

TEST_F(DateTimeTest, InvalidAndNullStatusPassThroughOperations) {
    COleDateTime bad;
    bad.SetStatus(COleDateTime::invalid);
    COleDateTime good(2024, 1, 1, 0, 0, 0);
    EXPECT_EQ((bad + COleDateTimeSpan(1.0)).GetStatus(), COleDateTime::invalid);
    EXPECT_EQ((good - bad).GetStatus(), COleDateTimeSpan::invalid);
    COleDateTimeSpan nullSpan;
    nullSpan.SetStatus(COleDateTimeSpan::null);
    EXPECT_EQ((good + nullSpan).GetStatus(), COleDateTime::null);
    EXPECT_EQ((COleDateTime(9999, 12, 31, 0, 0, 0) + COleDateTimeSpan(1.0)).GetStatus(),
              COleDateTime::invalid);
    COleDateTime otherBad(45000.0);
    otherBad.SetStatus(COleDateTime::invalid);
    EXPECT_TRUE(bad == otherBad);
    EXPECT_FALSE(bad == good);
    EXPECT_FALSE(bad < good);
    EXPECT_FALSE(good < bad);
    EXPECT_EQ(bad.Format(u"%Y"), CString(u"Invalid DateTime"));
    EXPECT_EQ(bad.Format(), CString(u"Invalid DateTime"));
    COleDateTime none;
    none.SetStatus(COleDateTime::null);
    EXPECT_EQ(none.Format(), CString());
}

TEST_F(DateTimeTest, FormatCodesUseEnglishNamesAndTheLocaleForX) {
    const COleDateTime dt(2024, 3, 5, 13, 41, 9);
    struct Case {
        const char* locale;
        const char16_t* format;
        const char16_t* expected;
    } cases[] = {
        {"en-US", u"%Y-%m-%d %H:%M", u"2024-03-05 13:41"},
        {"en-US", u"%x %H:%M", u"3/5/2024 13:41"},
        {"en-US", u"%x %I:%M %p", u"3/5/2024 01:41 PM"},
        {"en-US", u"%a, %d %b %Y %H:%M:%S GMT", u"Tue, 05 Mar 2024 13:41:09 GMT"},
        {"en-US", u"%A %B %j %y %w", u"Tuesday March 065 24 2"},
        {"en-US", u"%#c", u"Tuesday, March 05, 2024 13:41:09"},
        {"en-US", u"%c", u"3/5/2024 1:41:09 PM"},
        {"en-US", u"%X", u"1:41:09 PM"},
        {"en-US", u"%#d.%#m. %#j %% %q", u"5.3. 65 % %q"},
        {"de-DE", u"%x %H:%M", u"05.03.2024 13:41"},
        {"de-DE", u"%#c", u"Tuesday, March 05, 2024 13:41:09"},
        {"de-DE", u"%a %b %X", u"Tue Mar 13:41:09"},
        {"de-DE", u"%Y-%m-%d %H:%M", u"2024-03-05 13:41"},
    };
    for (const Case& c : cases) {
        UseLocale(c.locale);
        EXPECT_EQ(dt.Format(c.format), CString(c.expected)) << c.locale;
    }
    UseLocale("en-US");
    EXPECT_EQ(COleDateTime(2024, 3, 5, 0, 5, 0).Format(u"%I:%M %p"), CString(u"12:05 AM"));
    EXPECT_EQ(COleDateTime(2024, 3, 5, 12, 5, 0).Format(u"%I:%M %p"), CString(u"12:05 PM"));
}

TEST_F(DateTimeTest, DefaultFormatIsShortDateAndLongTime) {
    struct Case {
        const char* locale;
        COleDateTime dt;
        DWORD flags;
        const char16_t* expected;
    } cases[] = {
        {"en-US", COleDateTime(2024, 3, 5, 13, 41, 9), 0, u"3/5/2024 1:41:09 PM"},
        {"en-US", COleDateTime(2024, 3, 5, 0, 0, 0), 0, u"3/5/2024"},
        {"en-US", COleDateTime(1899, 12, 30, 13, 0, 0), 0, u"1:00:00 PM"},
        {"en-US", COleDateTime(2024, 3, 5, 13, 41, 9), VAR_DATEVALUEONLY, u"3/5/2024"},
        {"en-US", COleDateTime(2024, 3, 5, 13, 41, 9), VAR_TIMEVALUEONLY, u"1:41:09 PM"},
        {"de-DE", COleDateTime(2024, 3, 5, 13, 41, 9), 0, u"05.03.2024 13:41:09"},
    };
    for (const Case& c : cases) {
        UseLocale(c.locale);
        EXPECT_EQ(c.dt.Format(c.flags), CString(c.expected));
    }
}

namespace {

struct ParseCase {
    const char16_t* text;
    bool ok;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
};

void ExpectParse(const ParseCase& c, DWORD flags = 0, LCID lcid = LANG_USER_DEFAULT) {
    COleDateTime dt(2001, 1, 1, 1, 1, 1);
    bool ok = dt.ParseDateTime(c.text, flags, lcid);
    CString text(c.text);
    ASSERT_EQ(ok, c.ok) << testing::PrintToString(text);
    if (!ok) {
        EXPECT_EQ(dt.GetStatus(), COleDateTime::invalid);
        EXPECT_EQ(static_cast<DATE>(dt), 0.0);
        return;
    }
    SCOPED_TRACE(testing::PrintToString(text));
    ExpectParts(dt, c.y, c.mo, c.d, c.h, c.mi, c.s);
}

}  // namespace

TEST_F(DateTimeTest, ParseAcceptsTheFormsTheSystemFeedsUnderEnglishUs) {
    const ParseCase cases[] = {
        {u"2024-03-05 13:41", true, 2024, 3, 5, 13, 41, 0},
        {u"3/5/2024 1:41:09 PM", true, 2024, 3, 5, 13, 41, 9},
        {u"3/5/2024 01:41 PM", true, 2024, 3, 5, 13, 41, 0},
        {u"3/5/2024 01:41 am", true, 2024, 3, 5, 1, 41, 0},
        {u"3/5/2024 12:00 AM", true, 2024, 3, 5, 0, 0, 0},
        {u"3/5/2024 12:30 PM", true, 2024, 3, 5, 12, 30, 0},
        {u"3/5/2024 13:41", true, 2024, 3, 5, 13, 41, 0},
        {u"3/5/2024 13:41:09", true, 2024, 3, 5, 13, 41, 9},
        {u"3/5/2024", true, 2024, 3, 5, 0, 0, 0},
        {u"13:00", true, 1899, 12, 30, 13, 0, 0},
        {u"6 PM", true, 1899, 12, 30, 18, 0, 0},
        {u"1:05PM", true, 1899, 12, 30, 13, 5, 0},
        {u"  2024-03-05  ", true, 2024, 3, 5, 0, 0, 0},
        {u"3/5/24", true, 2024, 3, 5, 0, 0, 0},
        {u"3/5/95", true, 1995, 3, 5, 0, 0, 0},
        {u"13:41 3/5/2024", true, 2024, 3, 5, 13, 41, 0},
        {u"March 5, 2024", true, 2024, 3, 5, 0, 0, 0},
        {u"Tue, 05 Mar 2024 13:41:09", true, 2024, 3, 5, 13, 41, 9},
        {u"Tuesday, March 05, 2024 13:41:09", true, 2024, 3, 5, 13, 41, 9},
        {u"2024-02-29 23:59", true, 2024, 2, 29, 23, 59, 0},
        {u"", false},
        {u"   ", false},
        {u"junk", false},
        {u"13", false},
        {u"2024-13-01", false},
        {u"2/30/2024", false},
        {u"25:00", false},
        {u"12:60", false},
        {u"13:00 PM", false},
        {u"0:30 AM", false},
        {u"3/5/2024 13:41 extra", false},
        {u"3/5/2024x", false},
        {u"3-5/2024", false},
        {u"Today at 1:00 PM", false},
        {u"1:00:00:00", false},
        {u"3/5/2024 13:41 3/6/2024", false},
        {u"3/5/2024#13:41", false},
        {u"2024-03-05 13:41:09.5", false},
        {u"1234567890", false},
    };
    for (const ParseCase& c : cases) ExpectParse(c);
    COleDateTime dt;
    EXPECT_FALSE(dt.ParseDateTime(nullptr));
    EXPECT_FALSE(dt.ParseDateTime(u"3/5/2024", 0, 0x0411));
}

TEST_F(DateTimeTest, ParseFollowsTheGermanDayOrder) {
    UseLocale("de-DE");
    const ParseCase cases[] = {
        {u"05.03.2024 13:41", true, 2024, 3, 5, 13, 41, 0},
        {u"05.03.2024 13:41:09", true, 2024, 3, 5, 13, 41, 9},
        {u"5.3.2024", true, 2024, 3, 5, 0, 0, 0},
        {u"3/5/2024", true, 2024, 5, 3, 0, 0, 0},
        {u"2024-03-05 13:41", true, 2024, 3, 5, 13, 41, 0},
        {u"5. M\u00e4rz 2024", true, 2024, 3, 5, 0, 0, 0},
        {u"Dienstag, 5. M\u00c4RZ 2024 13:00", true, 2024, 3, 5, 13, 0, 0},
        {u"13:00", true, 1899, 12, 30, 13, 0, 0},
        {u"31.02.2024", false},
        {u"05.03.2024 13 Uhr", false},
    };
    for (const ParseCase& c : cases) ExpectParse(c);
    ExpectParse({u"3/5/2024", true, 2024, 3, 5, 0, 0, 0}, 0, LCID_EN_US);
}

TEST_F(DateTimeTest, ParseFlagsKeepOnlyThePartAskedFor) {
    ExpectParse({u"3/5/2024 13:41", true, 2024, 3, 5, 0, 0, 0}, VAR_DATEVALUEONLY);
    ExpectParse({u"3/5/2024 13:41", true, 1899, 12, 30, 13, 41, 0}, VAR_TIMEVALUEONLY);
}

TEST_F(DateTimeTest, FormattedTextsParseBackUnderBothLocales) {
    const COleDateTime dates[] = {
        COleDateTime(2024, 3, 31, 2, 30, 0),   COleDateTime(2024, 10, 27, 2, 30, 0),
        COleDateTime(1999, 12, 31, 23, 59, 0), COleDateTime(2000, 1, 1, 0, 0, 0),
        COleDateTime(2024, 7, 4, 12, 0, 0),    COleDateTime(2029, 11, 9, 0, 1, 0),
    };
    for (const char* locale : {"en-US", "de-DE"}) {
        UseLocale(locale);
        for (const COleDateTime& dt : dates) {
            SCOPED_TRACE(testing::PrintToString(dt.Format(u"%Y-%m-%d %H:%M")) + " " + locale);
            SYSTEMTIME st{};
            ASSERT_TRUE(dt.GetAsSystemTime(st));
            char16_t date[100], time[100];
            ASSERT_GT(GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 100), 0);
            ASSERT_GT(GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, 100), 0);
            CString relative = CString(date) + u" " + time;
            CString forms[] = {dt.Format(u"%Y-%m-%d %H:%M"), dt.Format(u"%x %H:%M"),
                               dt.Format(u"%x %I:%M %p"), dt.Format(), relative};
            for (const CString& text : forms) {
                COleDateTime back;
                EXPECT_TRUE(back.ParseDateTime(text)) << testing::PrintToString(text);
                EXPECT_EQ(back, dt) << testing::PrintToString(text);
            }
        }
    }
}

TEST_F(DateTimeTest, CurrentTimeIsLocalTimeOfTheClock) {
    zbw::PinWallClock(UtcMicros(2024, 7, 1, 10, 0, 0) + 999999);
    ExpectParts(COleDateTime::GetCurrentTime(), 2024, 7, 1, 12, 0, 0);
    EXPECT_EQ(CTime::GetCurrentTime().GetTime(), 1719828000);
    zbw::PinWallClock(UtcMicros(2024, 1, 15, 10, 0, 0));
    ExpectParts(COleDateTime::GetCurrentTime(), 2024, 1, 15, 11, 0, 0);
}

TEST_F(DateTimeTest, CTimeResolvesLocalTimesThroughTheZone) {
    struct Case {
        int y, mo, d, h, mi, dst;
        time_t expected;
    } cases[] = {
        {2024, 7, 1, 12, 0, -1, 1719828000},    // CEST
        {2024, 1, 15, 12, 0, -1, 1705316400},   // CET
        {2024, 3, 31, 2, 30, -1, 1711848600},   // skipped hour: 03:30 CEST
        {2024, 10, 27, 2, 30, -1, 1729989000},  // repeated hour: the earlier, 02:30 CEST
        {2024, 1, 15, 12, 0, 0, 1705316400},   {1971, 1, 1, 1, 1, -1, 31536060},
        {1970, 1, 1, 0, 30, -1, -1},           {2024, 2, 30, 0, 0, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(CTime(c.y, c.mo, c.d, c.h, c.mi, 0, c.dst).GetTime(), c.expected);
    }
    CTime skipped(2024, 3, 31, 2, 30, 0);
    EXPECT_EQ(skipped.GetHour(), 3);
    EXPECT_EQ(skipped.GetDayOfWeek(), 1);
    EXPECT_EQ(CTime(COleDateTime(2024, 7, 1, 12, 0, 0)).GetTime(), 1719828000);
    EXPECT_EQ(CTime(COleDateTime(2024, 7, 1, 12, 0, 0), 0).GetTime(), 1719828000 + 3600);
    COleDateTime bad;
    bad.SetStatus(COleDateTime::invalid);
    EXPECT_EQ(CTime(bad).GetTime(), -1);
    ExpectParts(COleDateTime(time_t{1719828000}), 2024, 7, 1, 12, 0, 0);
    EXPECT_EQ(COleDateTime(time_t{-1}).GetStatus(), COleDateTime::invalid);
}

TEST_F(DateTimeTest, CTimeOutsideTheRuntimeRangeFailsToConvert) {
    for (time_t t : {time_t{-1}, time_t{-86400}, zbw::kMaxCrtTime + 1}) {
        CTime bad(t);
        SYSTEMTIME st{};
        struct tm parts {};
        EXPECT_FALSE(bad.GetAsSystemTime(st));
        EXPECT_EQ(bad.GetLocalTm(&parts), nullptr);
        EXPECT_EQ(bad.Format(u"%Y"), CString());
        EXPECT_EQ(bad.FormatGmt(u"%Y"), CString());
        EXPECT_EQ(bad.GetYear(), 0);
    }
    CTime last(zbw::kMaxCrtTime);
    EXPECT_EQ(last.FormatGmt(u"%Y-%m-%d %H:%M:%S"), CString(u"3000-12-31 23:59:59"));
}

TEST_F(DateTimeTest, HttpDateIsEnglishUtcUnderGerman) {
    UseLocale("de-DE");
    CTime t(1719828000);
    EXPECT_EQ(t.FormatGmt(u"%a, %d %b %Y %H:%M:%S GMT"), CString(u"Mon, 01 Jul 2024 10:00:00 GMT"));
    EXPECT_EQ(t.Format(u"%a, %d %b %Y %H:%M:%S"), CString(u"Mon, 01 Jul 2024 12:00:00"));
    EXPECT_EQ(t.Format(u"%x"), CString(u"01.07.2024"));
    SYSTEMTIME st{};
    ASSERT_TRUE(t.GetAsSystemTime(st));
    EXPECT_EQ(st.wHour, 12);
    EXPECT_EQ(st.wDayOfWeek, 1);
    CTime later = t + CTimeSpan(1, 2, 3, 4);
    EXPECT_EQ((later - t).GetTotalSeconds(), 93784);
    EXPECT_EQ((later - t).GetMinutes(), 3);
    EXPECT_TRUE(t < later);
}

TEST_F(DateTimeTest, FileTimesConvertToCalendarFields) {
    struct Case {
        SYSTEMTIME st;
        uint64_t ticks;
    } cases[] = {
        {{1601, 1, 1, 1, 0, 0, 0, 0}, 0},
        {{1970, 1, 4, 1, 0, 0, 0, 0}, 116444736000000000ull},
        {{2024, 2, 4, 29, 12, 34, 56, 789}, 133536836967890000ull},
        {{30827, 12, 5, 31, 23, 59, 59, 999}, 9223149887999990000ull},
    };
    for (const Case& c : cases) {
        FILETIME ft{};
        ASSERT_TRUE(SystemTimeToFileTime(&c.st, &ft));
        uint64_t ticks = (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
        EXPECT_EQ(ticks, c.ticks);
        SYSTEMTIME back{};
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
        EXPECT_EQ(back.wYear, c.st.wYear);
        EXPECT_EQ(back.wMonth, c.st.wMonth);
        EXPECT_EQ(back.wDay, c.st.wDay);
        EXPECT_EQ(back.wDayOfWeek, c.st.wDayOfWeek);
        EXPECT_EQ(back.wHour, c.st.wHour);
        EXPECT_EQ(back.wSecond, c.st.wSecond);
        EXPECT_EQ(back.wMilliseconds, c.st.wMilliseconds);
    }
    const SYSTEMTIME bad[] = {{2024, 13, 0, 1, 0, 0, 0, 0},
                              {2023, 2, 0, 29, 0, 0, 0, 0},
                              {1600, 12, 0, 31, 0, 0, 0, 0},
                              {2024, 1, 0, 1, 0, 0, 0, 1000}};
    for (const SYSTEMTIME& st : bad) {
        FILETIME ft{};
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(&st, &ft));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    FILETIME tooLarge{0, 0x80000000u};
    SYSTEMTIME st{};
    EXPECT_FALSE(FileTimeToSystemTime(&tooLarge, &st));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(DateTimeTest, LocalFileTimeUsesTheCurrentBias) {
    const FILETIME winterFile = zbw::FileTimeFromUnix(1705316400, 0);  // 2024-01-15 11:00 UTC
    struct Case {
        int64_t now;
        int expectedHour;
    } cases[] = {{UtcMicros(2024, 7, 1, 10, 0, 0), 13}, {UtcMicros(2024, 1, 20, 10, 0, 0), 12}};
    for (const Case& c : cases) {
        zbw::PinWallClock(c.now);
        FILETIME local{}, back{};
        ASSERT_TRUE(FileTimeToLocalFileTime(&winterFile, &local));
        EXPECT_EQ(COleDateTime(local).GetHour(), c.expectedHour);
        ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
        EXPECT_EQ(back.dwLowDateTime, winterFile.dwLowDateTime);
        EXPECT_EQ(back.dwHighDateTime, winterFile.dwHighDateTime);
    }
    FILETIME zero{0, 0}, out{};
    EXPECT_FALSE(LocalFileTimeToFileTime(&zero, &out));
}

TEST_F(DateTimeTest, FileTimeDateKeepsWholeSeconds) {
    FILETIME ft = zbw::FileTimeFromUnix(1719828000, 999999999);
    EXPECT_EQ((uint64_t{ft.dwHighDateTime} << 32 | ft.dwLowDateTime), 133643016009999999ull);
    COleDateTime dt(ft);
    ExpectParts(dt, 2024, 7, 1, 10, 0, 0);
    EXPECT_EQ(dt, COleDateTime(zbw::FileTimeFromUnix(1719828000, 0)));
}
