// Schedule and next-run texts in each locale; fakes nothing but the locale it sets.
#include <gtest/gtest.h>

#include "dovrane/threads/NextRunTime.h"
#include "tests/dovrane/ScheduleTestEnv.h"

namespace {

SCHEDULEINFO Schedule(int minutes, int hours, int days, int excluded = 0) {
    SCHEDULEINFO s;
    s.nEveryMinute = minutes;
    s.nEveryHour = hours;
    s.nEveryDay = days;
    s.dtStart = COleDateTime(2024, 3, 5, 6, 0, 0);
    s.nExcludeDays = excluded;
    return s;
}

class ScheduleTextTest : public zbtest::CScheduleTest {};

}  // namespace

TEST_F(ScheduleTextTest, WeekdayListInWeekOrder) {
    const struct {
        int mask;
        CString list;
    } cases[] = {
        {0, u""},
        {EXCLUDE_SUNDAY, u"Sun"},
        {EXCLUDE_SATURDAY | EXCLUDE_SUNDAY, u"Sun, Sat"},
        {EXCLUDE_FRIDAY | EXCLUDE_MONDAY, u"Mon, Fri"},
        {127, u"Sun, Mon, Tue, Wed, Thu, Fri, Sat"},
    };
    for (const auto& c : cases) EXPECT_EQ(GetWeekdayList(Schedule(0, 0, 0, c.mask)), c.list) << c.mask;
}

TEST_F(ScheduleTextTest, ScheduleTextFollowsTheLocale) {
    const struct {
        SCHEDULEINFO schedule;
        CString english, german;
    } cases[] = {
        {Schedule(0, 2, 0, EXCLUDE_SUNDAY | EXCLUDE_SATURDAY),
         u"Run every 2 hours, start on 3/5/2024 06:00 AM, exclude Sun, Sat",
         u"Run every 2 hours, start on 05.03.2024 06:00, exclude Sun, Sat"},
        {Schedule(1, 0, 0), u"Run every minute, start on 3/5/2024 06:00 AM",
         u"Run every minute, start on 05.03.2024 06:00"},
        {Schedule(15, 0, 0), u"Run every 15 minutes, start on 3/5/2024 06:00 AM",
         u"Run every 15 minutes, start on 05.03.2024 06:00"},
        {Schedule(0, 1, 0), u"Run every hour, start on 3/5/2024 06:00 AM",
         u"Run every hour, start on 05.03.2024 06:00"},
        {Schedule(0, 0, 1, EXCLUDE_WEDNESDAY), u"Run every day, start on 3/5/2024 06:00 AM, exclude Wed",
         u"Run every day, start on 05.03.2024 06:00, exclude Wed"},
        {Schedule(0, 0, 3), u"Run every 3 days, start on 3/5/2024 06:00 AM",
         u"Run every 3 days, start on 05.03.2024 06:00"},
        {Schedule(5, 1, 0), u"Run every 5 minutes - Run every hour, start on 3/5/2024 06:00 AM",
         u"Run every 5 minutes - Run every hour, start on 05.03.2024 06:00"},
        {Schedule(0, 0, 0, EXCLUDE_SUNDAY), u"", u""},
    };
    for (const auto& c : cases) {
        UseLocale("en-US");
        EXPECT_EQ(GetScheduleText(c.schedule), c.english);
        UseLocale("de-DE");
        EXPECT_EQ(GetScheduleText(c.schedule), c.german);
    }
    SCHEDULEINFO afternoon = Schedule(0, 0, 1);
    afternoon.dtStart = COleDateTime(2024, 3, 5, 14, 30, 0);
    UseLocale("en-US");
    EXPECT_EQ(GetScheduleText(afternoon), u"Run every day, start on 3/5/2024 02:30 PM");
    UseLocale("de-DE");
    EXPECT_EQ(GetScheduleText(afternoon), u"Run every day, start on 05.03.2024 14:30");
}

// The clock stands at Tuesday 2024-03-05 10:07:30.
TEST_F(ScheduleTextTest, NextRunTexts) {
    const struct {
        COleDateTime date;
        CString english, german;
    } cases[] = {
        {g_DateNever, u"Manual", u"Manual"},
        {g_DateNeverAlt, u"Schedule Error", u"Schedule Error"},
        {COleDateTime(2024, 3, 5, 18, 0, 0), u"Today at 6:00:00 PM", u"Today at 18:00:00"},
        {COleDateTime(2024, 3, 6, 6, 0, 0), u"Tomorrow at 6:00:00 AM", u"Tomorrow at 06:00:00"},
        {COleDateTime(2024, 3, 4, 6, 0, 0), u"Yesterday at 6:00:00 AM", u"Yesterday at 06:00:00"},
        {COleDateTime(2024, 3, 8, 6, 0, 0), u"3/8/2024 6:00:00 AM", u"08.03.2024 06:00:00"},
    };
    for (const auto& c : cases) {
        UseLocale("en-US");
        EXPECT_EQ(GetNextRunText(c.date), c.english);
        UseLocale("de-DE");
        EXPECT_EQ(GetNextRunText(c.date), c.german);
    }
}

TEST_F(ScheduleTextTest, ComputeNextRunTextFromNow) {
    SCHEDULEINFO every15 = Schedule(15, 0, 0);
    EXPECT_EQ(ComputeNextRunText(0, every15, g_DateNone), u"Today at 10:15:00 AM");
    EXPECT_EQ(ComputeNextRunText(2, every15, g_DateNone), u"Today at 10:45:00 AM");
    EXPECT_EQ(ComputeNextRunText(0, Schedule(0, 1, 0, 127), g_DateNone), u"Schedule Error");
    EXPECT_EQ(ComputeNextRunText(0, Schedule(0, 0, 0), g_DateNone), u"Manual");
    // The fixed reference of the TESTTIME command lies before the start: the start counts first.
    EXPECT_EQ(ComputeNextRunText(0, Schedule(0, 0, 1), COleDateTime(2006, 5, 10, 23, 34, 58)),
              u"Today at 6:00:00 AM");
    EXPECT_EQ(ComputeNextRunText(1, Schedule(0, 0, 1), COleDateTime(2006, 5, 10, 23, 34, 58)),
              u"Tomorrow at 6:00:00 AM");
}
