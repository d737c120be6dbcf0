// Civil-date arithmetic and the host's local-time conversions that the date classes and the
// file-time calls share.
//
// Local time is the host zone of TZ through localtime_r and our own inverse of it; a process that
// changes TZ calls tzset() afterwards. Kept of the C runtime: instants from 1970-01-01 up to
// 3000-12-31 23:59:59 UTC convert, anything outside fails. Local times that a daylight-saving
// change makes ambiguous take the earlier instant; local times it skips are moved forward by the
// length of the gap. Pure functions: any thread may call them.
#pragma once

#include <cstdint>
#include <ctime>

namespace zbw {

// The latest instant the C runtime converts: 3000-12-31 23:59:59 UTC.
constexpr time_t kMaxCrtTime = 32535215999;

// Broken-down local time (TZ) and UTC of an instant; false outside 1970 .. kMaxCrtTime.
bool LocalTm(time_t t, struct tm& out);
bool GmtTm(time_t t, struct tm& out);
// The instant of a local wall-clock time (month 1-12), resolved as the header says; -1 when the
// parts are out of range or the instant lies outside 1970 .. kMaxCrtTime.
time_t LocalToTime(int year, int month, int day, int hour, int minute, int second, int nDST);
// Seconds the local zone is ahead of UTC at the clock's current time (daylight saving included).
long CurrentUtcOffset();
// Days from 1970-01-01 of a proleptic Gregorian date, and back (month 1-12).
int64_t DaysFromCivil(int64_t year, int month, int day);
void CivilFromDays(int64_t days, int64_t& year, int& month, int& day);

}  // namespace zbw
