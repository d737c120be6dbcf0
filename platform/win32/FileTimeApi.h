// FILETIME and SYSTEMTIME conversions: 100-nanosecond intervals since 1601-01-01 against
// calendar fields, and UTC against local file times.
//
// As on Windows, FileTimeToLocalFileTime and LocalFileTimeToFileTime apply the zone's offset at
// the current moment of the clock (daylight saving of today, whatever the date converted), so a
// winter file time read in summer is one hour off, exactly as the system expects. Fields out of
// range, file times above 0x7FFFFFFFFFFFFFFF and results that would overflow fail with FALSE
// and ERROR_INVALID_PARAMETER. wDayOfWeek is ignored on input and set on output.
// Left out: time-zone records and conversions for other zones. All functions are thread-safe.
#pragma once

#include "platform/base/WinTypes.h"

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime);
BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime);
BOOL LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, LPFILETIME lpFileTime);

namespace zbw {

// The file time of a host instant (seconds and nanoseconds since 1970-01-01 UTC, as stat gives).
FILETIME FileTimeFromUnix(int64_t seconds, long nanoseconds);

}  // namespace zbw
