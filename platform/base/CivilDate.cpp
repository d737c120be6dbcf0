#include "platform/base/CivilDate.h"

#include "platform/base/Clock.h"

namespace zbw {
namespace {

bool InCrtRange(time_t t) {
    return t >= 0 && t <= kMaxCrtTime;
}

long OffsetAt(time_t t) {
    struct tm parts {};
    localtime_r(&t, &parts);
    return parts.tm_gmtoff;
}

bool ValidParts(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1900 || year > 3000 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    int64_t y = 0;
    int m = 0, d = 0;
    CivilFromDays(DaysFromCivil(year, month, day), y, m, d);
    return d == day;
}

// The zone's offsets a day before and a day after the wall time bracket any change near it.
time_t ResolveLocal(int64_t wallAsUtc) {
    long before = OffsetAt(static_cast<time_t>(wallAsUtc - 86400));
    long after = OffsetAt(static_cast<time_t>(wallAsUtc + 86400));
    time_t early = static_cast<time_t>(wallAsUtc - before);
    time_t late = static_cast<time_t>(wallAsUtc - after);
    bool earlyFits = OffsetAt(early) == before;
    bool lateFits = OffsetAt(late) == after;
    if (earlyFits && lateFits) return early < late ? early : late;
    if (lateFits) return late;
    return early;  // fits, or the wall time was skipped: the offset before the gap moves it forward
}

}  // namespace

bool LocalTm(time_t t, struct tm& out) {
    return InCrtRange(t) && localtime_r(&t, &out) != nullptr;
}

bool GmtTm(time_t t, struct tm& out) {
    return InCrtRange(t) && gmtime_r(&t, &out) != nullptr;
}

time_t LocalToTime(int year, int month, int day, int hour, int minute, int second, int nDST) {
    if (!ValidParts(year, month, day, hour, minute, second)) return -1;
    time_t t = -1;
    if (nDST >= 0) {
        struct tm parts {};
        parts.tm_year = year - 1900;
        parts.tm_mon = month - 1;
        parts.tm_mday = day;
        parts.tm_hour = hour;
        parts.tm_min = minute;
        parts.tm_sec = second;
        parts.tm_isdst = nDST > 0 ? 1 : 0;
        t = mktime(&parts);
    } else {
        t = ResolveLocal(DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second);
    }
    return InCrtRange(t) ? t : -1;
}

long CurrentUtcOffset() {
    int64_t micros = WallNowMicros();
    int64_t seconds = micros / 1000000 - (micros % 1000000 < 0 ? 1 : 0);
    return OffsetAt(static_cast<time_t>(seconds));
}

// The civil-calendar day count over 400-year eras, valid for every proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    int64_t era = (year >= 0 ? year : year - 399) / 400;
    int64_t yearOfEra = year - era * 400;
    int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int64_t& year, int& month, int& day) {
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    int64_t dayOfEra = days - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t mp = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace zbw
