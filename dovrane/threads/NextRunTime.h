// The next run of a schedule and the texts shown for schedules and next runs.
//
// Runs lie on the grid start + k * interval in local time (COleDateTime arithmetic, so a daily
// run keeps its clock time across a daylight-saving change); days of excluded weekdays are
// skipped along the grid. A reference on an excluded day starts the search at 00:00 of the first
// allowed day, and a grid point exactly at that midnight counts.
// Results: the run's date, g_DateNever when the schedule has no interval, g_DateNeverAlt when no
// allowed weekday is found (ScheduleInfo.h). Stateless; any thread (reads the layer's clock).
#pragma once

#include "dovrane/threads/ScheduleInfo.h"
#include "platform/base/CString.h"
#include "platform/classlib/OleDateTime.h"

// Whether the date's weekday is excluded; false for a date that has no weekday.
bool IsExcludedDay(const COleDateTime& date, const SCHEDULEINFO& schedule);

// The run steps runs after the first one due after reference (steps 0 = the next run);
// reference g_DateNone means now.
COleDateTime GetNextRunTime(const COleDateTime& reference, const SCHEDULEINFO& schedule, int steps);

// "Manual", "Schedule Error" or the relative date and time ("Today at 6:00:00 AM").
CString GetNextRunText(const COleDateTime& date);
CString ComputeNextRunText(int steps, const SCHEDULEINFO& schedule, const COleDateTime& reference);

// The excluded weekdays, "Sun, Sat"; empty when none.
CString GetWeekdayList(const SCHEDULEINFO& schedule);

// "Run every 2 hours, start on <short date and time>, exclude Sun, Sat"; empty without interval.
CString GetScheduleText(const SCHEDULEINFO& schedule);
