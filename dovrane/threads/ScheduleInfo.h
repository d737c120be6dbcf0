// SCHEDULEINFO: the periodic schedule of a launch item and of a run item (every N minutes, hours
// or days from a start time, with excluded weekdays), and the engine's three shared dates.
// A plain value: copied whole, one thread at a time per object. The shared dates are constant
// globals, valid from the start of main (global constructors of other files must not read them).
#pragma once

#include "platform/base/CString.h"
#include "platform/classlib/OleDateTime.h"

// A date not set (1980-01-01 00:00), no scheduled run: manual (2080-01-01 00:00), and a schedule
// that finds no allowed weekday (2080-01-01 01:00).
extern const COleDateTime g_DateNone;
extern const COleDateTime g_DateNever;
extern const COleDateTime g_DateNeverAlt;

// Bits of SCHEDULEINFO::nExcludeDays.
enum : int {
    EXCLUDE_SUNDAY = 1,
    EXCLUDE_MONDAY = 2,
    EXCLUDE_TUESDAY = 4,
    EXCLUDE_WEDNESDAY = 8,
    EXCLUDE_THURSDAY = 16,
    EXCLUDE_FRIDAY = 32,
    EXCLUDE_SATURDAY = 64,
};

struct SCHEDULEINFO {
    SCHEDULEINFO();

    // The interval in minutes: days first, then hours, then minutes; 0 when none is set; at most
    // INT_MAX.
    int GetIntervalMinutes() const;
    bool operator==(const SCHEDULEINFO& other) const;

    int nEveryMinute;  // 0 = not used
    int nEveryHour;
    int nEveryDay;
    COleDateTime dtStart;  // g_DateNone when not set
    int nExcludeDays;      // EXCLUDE_... bits
    CString strStartTime;  // the start time as it was read
};
