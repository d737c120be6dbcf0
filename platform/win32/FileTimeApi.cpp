#include "platform/win32/FileTimeApi.h"

#include "platform/base/CivilDate.h"
#include "platform/base/WinError.h"

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kTicksPerDay = kTicksPerSecond * 86400;
constexpr uint64_t kMaxTicks = 0x7FFFFFFFFFFFFFFFull;
constexpr int64_t kDaysFrom1601To1970 = 134774;

uint64_t Ticks(const FILETIME& ft) {
    return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

FILETIME FromTicks(uint64_t ticks) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

BOOL Fail() {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

bool ValidSystemTime(const SYSTEMTIME& st) {
    if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
        st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59 || st.wMilliseconds > 999)
        return false;
    int64_t year = 0;
    int month = 0, day = 0;
    zbw::CivilFromDays(zbw::DaysFromCivil(st.wYear, st.wMonth, st.wDay), year, month, day);
    return day == st.wDay;
}

BOOL Shift(const FILETIME* in, LPFILETIME out, int64_t offsetSeconds) {
    if (in == nullptr || out == nullptr || Ticks(*in) > kMaxTicks) return Fail();
    int64_t ticks = static_cast<int64_t>(Ticks(*in));
    int64_t delta = offsetSeconds * static_cast<int64_t>(kTicksPerSecond);
    if ((delta < 0 && ticks < -delta) || (delta > 0 && ticks > static_cast<int64_t>(kMaxTicks) - delta))
        return Fail();
    *out = FromTicks(static_cast<uint64_t>(ticks + delta));
    return TRUE;
}

}  // namespace

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
    if (lpFileTime == nullptr || lpSystemTime == nullptr || Ticks(*lpFileTime) > kMaxTicks) return Fail();
    uint64_t ticks = Ticks(*lpFileTime);
    int64_t days = static_cast<int64_t>(ticks / kTicksPerDay);
    uint64_t rest = ticks % kTicksPerDay;
    int64_t year = 0;
    int month = 0, day = 0;
    zbw::CivilFromDays(days - kDaysFrom1601To1970, year, month, day);
    lpSystemTime->wYear = static_cast<WORD>(year);
    lpSystemTime->wMonth = static_cast<WORD>(month);
    lpSystemTime->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    lpSystemTime->wDay = static_cast<WORD>(day);
    lpSystemTime->wHour = static_cast<WORD>(rest / (kTicksPerSecond * 3600));
    lpSystemTime->wMinute = static_cast<WORD>(rest / (kTicksPerSecond * 60) % 60);
    lpSystemTime->wSecond = static_cast<WORD>(rest / kTicksPerSecond % 60);
    lpSystemTime->wMilliseconds = static_cast<WORD>(rest / 10000 % 1000);
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime) {
    if (lpSystemTime == nullptr || lpFileTime == nullptr || !ValidSystemTime(*lpSystemTime)) return Fail();
    const SYSTEMTIME& st = *lpSystemTime;
    uint64_t days =
        static_cast<uint64_t>(zbw::DaysFromCivil(st.wYear, st.wMonth, st.wDay) + kDaysFrom1601To1970);
    uint64_t seconds = uint64_t{st.wHour} * 3600 + uint64_t{st.wMinute} * 60 + st.wSecond;
    *lpFileTime =
        FromTicks(days * kTicksPerDay + seconds * kTicksPerSecond + uint64_t{st.wMilliseconds} * 10000);
    return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
    return Shift(lpFileTime, lpLocalFileTime, zbw::CurrentUtcOffset());
}

BOOL LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, LPFILETIME lpFileTime) {
    return Shift(lpLocalFileTime, lpFileTime, -zbw::CurrentUtcOffset());
}

namespace zbw {

FILETIME FileTimeFromUnix(int64_t seconds, long nanoseconds) {
    int64_t ticks =
        (seconds + kDaysFrom1601To1970 * 86400) * static_cast<int64_t>(kTicksPerSecond) + nanoseconds / 100;
    return FromTicks(ticks < 0 ? 0 : static_cast<uint64_t>(ticks));
}

}  // namespace zbw
