// Next-run computation and excluded days; fakes a pinned wall clock.
#include <gtest/gtest.h>

#include "dovrane/threads/NextRunTime.h"
#include "platform/base/TextConvert.h"
#include "tests/dovrane/ScheduleTestEnv.h"

namespace {

using zbtest::UtcMicros;

COleDateTime At(int y, int mo, int d, int h, int mi, int s = 0) {
    return COleDateTime(y, mo, d, h, mi, s);
}

SCHEDULEINFO Schedule(int minutes, int hours, int days, const COleDateTime& start, int excluded = 0) {
    SCHEDULEINFO s;
    s.nEveryMinute = minutes;
    s.nEveryHour = hours;
    s.nEveryDay = days;
    s.dtStart = start;
    s.nExcludeDays = excluded;
    return s;
}

std::string Text(const COleDateTime& date) {
    if (date == g_DateNever) return "manual";
    if (date == g_DateNeverAlt) return "schedule error";
    return zbw::ToUtf8(date.Format(u"%Y-%m-%d %H:%M:%S"));
}

const int kSatSun = EXCLUDE_SATURDAY | EXCLUDE_SUNDAY;
const int kAllDays = 127;

class NextRunTimeTest : public zbtest::CScheduleTest {};

}  // namespace

// 2024-03-02 and 03-09 are Saturdays; 03-31 and 10-27 are the Berlin daylight-saving Sundays.
TEST_F(NextRunTimeTest, NextRunAndItsNthStep) {
    const struct {
        const char* what;
        SCHEDULEINFO schedule;
        COleDateTime reference;
        COleDateTime next;
        int steps;
        COleDateTime nth;
    } cases[] = {
        {"15 min, between grid points", Schedule(15, 0, 0, At(2024, 3, 5, 8, 0)), At(2024, 3, 5, 10, 7),
         At(2024, 3, 5, 10, 15), 2, At(2024, 3, 5, 10, 45)},
        {"15 min, on a grid point", Schedule(15, 0, 0, At(2024, 3, 5, 8, 0)), At(2024, 3, 5, 10, 15),
         At(2024, 3, 5, 10, 30), 1, At(2024, 3, 5, 10, 45)},
        {"seconds of the reference are dropped", Schedule(15, 0, 0, At(2024, 3, 5, 8, 0)),
         At(2024, 3, 5, 10, 14, 59), At(2024, 3, 5, 10, 15), 0, At(2024, 3, 5, 10, 15)},
        {"daily from January", Schedule(0, 0, 1, At(2024, 1, 1, 6, 0)), At(2024, 3, 5, 5, 0),
         At(2024, 3, 5, 6, 0), 2, At(2024, 3, 7, 6, 0)},
        {"start in the future", Schedule(0, 1, 0, At(2024, 3, 8, 12, 0)), At(2024, 3, 5, 10, 0),
         At(2024, 3, 8, 12, 0), 1, At(2024, 3, 8, 13, 0)},
        {"reference on an excluded weekend", Schedule(0, 2, 0, At(2024, 1, 1, 1, 0), kSatSun),
         At(2024, 3, 9, 14, 0), At(2024, 3, 11, 1, 0), 1, At(2024, 3, 11, 3, 0)},
        {"hourly runs into an excluded Sunday", Schedule(0, 1, 0, At(2024, 1, 1, 0, 0), EXCLUDE_SUNDAY),
         At(2024, 3, 9, 22, 30), At(2024, 3, 9, 23, 0), 1, At(2024, 3, 11, 0, 0)},
        {"skips stay on the grid", Schedule(0, 5, 0, At(2024, 3, 9, 0, 0), EXCLUDE_SUNDAY),
         At(2024, 3, 9, 14, 0), At(2024, 3, 9, 15, 0), 2, At(2024, 3, 11, 2, 0)},
        {"every weekday excluded", Schedule(0, 1, 0, At(2024, 1, 1, 0, 0), kAllDays), At(2024, 3, 5, 10, 0),
         g_DateNeverAlt, 1, g_DateNeverAlt},
        {"no interval", Schedule(0, 0, 0, g_DateNone), At(2024, 3, 5, 10, 0), g_DateNever, 3, g_DateNever},
        // The weekday step comes first: with every day excluded even a manual item has no run.
        {"no interval, every day excluded", Schedule(0, 0, 0, g_DateNone, kAllDays), At(2024, 3, 5, 10, 0),
         g_DateNeverAlt, 0, g_DateNeverAlt},
        {"no interval, reference excluded", Schedule(0, 0, 0, g_DateNone, EXCLUDE_TUESDAY),
         At(2024, 3, 5, 10, 0), g_DateNever, 0, g_DateNever},
        {"weekly on an excluded Sunday", Schedule(0, 0, 7, At(2024, 3, 3, 0, 0), EXCLUDE_SUNDAY),
         At(2024, 3, 5, 10, 0), g_DateNeverAlt, 1, g_DateNeverAlt},
        {"not set means now", Schedule(15, 0, 0, At(2024, 3, 5, 8, 0)), g_DateNone, At(2024, 3, 5, 10, 15), 1,
         At(2024, 3, 5, 10, 30)},
        // A reference moved to an allowed midnight: a grid point at that midnight counts.
        {"midnight grid point after an excluded day",
         Schedule(0, 0, 1, At(2024, 1, 1, 0, 0), EXCLUDE_SATURDAY), At(2024, 3, 9, 9, 0),
         At(2024, 3, 10, 0, 0), 1, At(2024, 3, 11, 0, 0)},
        {"moved midnight off the grid", Schedule(0, 0, 1, At(2024, 1, 1, 6, 0), EXCLUDE_SATURDAY),
         At(2024, 3, 9, 7, 0), At(2024, 3, 10, 6, 0), 0, At(2024, 3, 10, 6, 0)},
        {"hourly midnight after an excluded day", Schedule(0, 1, 0, At(2024, 1, 1, 0, 0), kSatSun),
         At(2024, 3, 9, 9, 0), At(2024, 3, 11, 0, 0), 1, At(2024, 3, 11, 1, 0)},
        {"a reference at an allowed midnight itself is passed", Schedule(0, 0, 1, At(2024, 1, 1, 0, 0)),
         At(2024, 3, 10, 0, 0), At(2024, 3, 11, 0, 0), 0, At(2024, 3, 11, 0, 0)},
        // Local clock arithmetic across the daylight-saving changes: the grid keeps its wall times.
        {"minutes into the spring gap", Schedule(30, 0, 0, At(2024, 3, 31, 0, 0)), At(2024, 3, 31, 1, 45),
         At(2024, 3, 31, 2, 0), 2, At(2024, 3, 31, 3, 0)},
        {"hours across the spring change", Schedule(0, 1, 0, At(2024, 3, 30, 0, 0)), At(2024, 3, 31, 1, 30),
         At(2024, 3, 31, 2, 0), 1, At(2024, 3, 31, 3, 0)},
        {"days across the spring change", Schedule(0, 0, 1, At(2024, 3, 1, 2, 30)), At(2024, 3, 30, 3, 0),
         At(2024, 3, 31, 2, 30), 1, At(2024, 4, 1, 2, 30)},
        {"minutes across the autumn change", Schedule(15, 0, 0, At(2024, 10, 27, 0, 0)),
         At(2024, 10, 27, 2, 50), At(2024, 10, 27, 3, 0), 4, At(2024, 10, 27, 4, 0)},
        {"hours across the autumn change", Schedule(0, 1, 0, At(2024, 10, 1, 0, 0)), At(2024, 10, 27, 2, 30),
         At(2024, 10, 27, 3, 0), 1, At(2024, 10, 27, 4, 0)},
        {"days across the autumn change", Schedule(0, 0, 1, At(2024, 10, 1, 6, 0)), At(2024, 10, 26, 7, 0),
         At(2024, 10, 27, 6, 0), 2, At(2024, 10, 29, 6, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Text(GetNextRunTime(c.reference, c.schedule, 0)), Text(c.next));
        EXPECT_EQ(Text(GetNextRunTime(c.reference, c.schedule, c.steps)), Text(c.nth));
    }
}

// "Now" comes from the wall clock through the zone, so it follows the daylight-saving change.
TEST_F(NextRunTimeTest, NotSetReferenceIsTheLocalNowAcrossTheChange) {
    const struct {
        int64_t utc;
        COleDateTime next;
    } cases[] = {
        {UtcMicros(2024, 3, 31, 0, 59, 30), At(2024, 3, 31, 2, 0)},    // 01:59 CET
        {UtcMicros(2024, 3, 31, 1, 0, 30), At(2024, 3, 31, 3, 15)},    // 03:00 CEST
        {UtcMicros(2024, 10, 27, 0, 59, 30), At(2024, 10, 27, 3, 0)},  // 02:59 CEST
        {UtcMicros(2024, 10, 27, 1, 0, 30), At(2024, 10, 27, 2, 15)},  // 02:00 CET, the hour again
    };
    SCHEDULEINFO every15 = Schedule(15, 0, 0, At(2024, 1, 1, 0, 0));
    for (const auto& c : cases) {
        zbw::PinWallClock(c.utc);
        EXPECT_EQ(Text(GetNextRunTime(g_DateNone, every15, 0)), Text(c.next));
    }
}

TEST_F(NextRunTimeTest, IsExcludedDayReadsTheWeekdayBit) {
    SCHEDULEINFO s = Schedule(0, 1, 0, g_DateNone, EXCLUDE_MONDAY | EXCLUDE_SATURDAY);
    EXPECT_TRUE(IsExcludedDay(At(2024, 3, 4, 12, 0), s));   // Monday
    EXPECT_FALSE(IsExcludedDay(At(2024, 3, 5, 12, 0), s));  // Tuesday
    EXPECT_TRUE(IsExcludedDay(At(2024, 3, 9, 0, 0), s));    // Saturday
    COleDateTime invalid;
    invalid.SetStatus(COleDateTime::invalid);
    s.nExcludeDays = kAllDays;
    EXPECT_FALSE(IsExcludedDay(invalid, s));
}

TEST_F(NextRunTimeTest, HugeCountsDoNotOverflowTheInterval) {
    SCHEDULEINFO s = Schedule(0, 0, 2147483647, At(2024, 1, 1, 0, 0));
    EXPECT_EQ(s.GetIntervalMinutes(), 2147483647);
    COleDateTime next = GetNextRunTime(At(2024, 3, 5, 10, 0), s, 1);
    EXPECT_NE(next.GetStatus(), COleDateTime::valid);  // past the calendar
}
