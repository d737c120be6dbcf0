#include "dovrane/threads/ScheduleInfo.h"

#include <algorithm>
#include <climits>

const COleDateTime g_DateNone(1980, 1, 1, 0, 0, 0);
const COleDateTime g_DateNever(2080, 1, 1, 0, 0, 0);
const COleDateTime g_DateNeverAlt(2080, 1, 1, 1, 0, 0);

// Not g_DateNone: a SCHEDULEINFO may be built by another file's global constructor.
SCHEDULEINFO::SCHEDULEINFO()
    : nEveryMinute(0), nEveryHour(0), nEveryDay(0), dtStart(1980, 1, 1, 0, 0, 0), nExcludeDays(0) {}

// Capped so that huge counts cannot overflow; such intervals leave the date range anyway.
int SCHEDULEINFO::GetIntervalMinutes() const {
    long long minutes = 0;
    if (nEveryDay > 0)
        minutes = nEveryDay * 1440LL;
    else if (nEveryHour > 0)
        minutes = nEveryHour * 60LL;
    else if (nEveryMinute > 0)
        minutes = nEveryMinute;
    return static_cast<int>(std::min<long long>(minutes, INT_MAX));
}

bool SCHEDULEINFO::operator==(const SCHEDULEINFO& other) const {
    return nEveryMinute == other.nEveryMinute && nEveryHour == other.nEveryHour &&
           nEveryDay == other.nEveryDay && dtStart == other.dtStart && nExcludeDays == other.nExcludeDays &&
           strStartTime == other.strStartTime;
}
