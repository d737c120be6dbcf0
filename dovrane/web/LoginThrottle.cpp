#include "dovrane/web/LoginThrottle.h"

#include <algorithm>

DWORD CLoginThrottle::DelayFor(const CString& address, DWORD now) {
    std::lock_guard<std::mutex> guard(m_lock);
    const ENTRY* entry = Find(address, now);
    return entry ? DelayOf(*entry) : 0;
}

int CLoginThrottle::NoteFailure(const CString& address, DWORD now) {
    std::lock_guard<std::mutex> guard(m_lock);
    return Count(address, now);
}

DWORD CLoginThrottle::TakeTry(const CString& address, DWORD now, int& failures) {
    std::lock_guard<std::mutex> guard(m_lock);
    const DWORD left = Left(Find(address, now), now);
    if (left == 0) failures = Count(address, now);
    return left;
}

// What is left of the entry's delay since its last failure. Under the lock.
DWORD CLoginThrottle::Left(const ENTRY* entry, DWORD now) {
    if (!entry) return 0;
    const DWORD passed = now - entry->last;
    const DWORD delay = DelayOf(*entry);
    return passed >= delay ? 0 : delay - passed;
}

// Counts one failure for the address, making room in the table if it is new. Under the lock.
int CLoginThrottle::Count(const CString& address, DWORD now) {
    ENTRY* entry = Find(address, now);
    if (!entry) {
        if (m_entries.size() < LOGIN_THROTTLE_ADDRESSES) {
            m_entries.push_back(ENTRY{address, 0, now});
        } else {
            auto oldest = std::max_element(
                m_entries.begin(), m_entries.end(),
                [now](const ENTRY& a, const ENTRY& b) { return now - a.last < now - b.last; });
            *oldest = ENTRY{address, 0, now};
        }
        entry = Find(address, now);
    }
    entry->last = now;
    return ++entry->failures;
}

void CLoginThrottle::NoteSuccess(const CString& address) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::erase_if(m_entries, [&address](const ENTRY& e) { return e.address == address; });
}

// The address's entry, unless it has been quiet long enough to be forgotten. Under the lock.
CLoginThrottle::ENTRY* CLoginThrottle::Find(const CString& address, DWORD now) {
    std::erase_if(m_entries, [now](const ENTRY& e) { return now - e.last > LOGIN_THROTTLE_FORGET_MS; });
    for (ENTRY& e : m_entries) {
        if (e.address == address) return &e;
    }
    return nullptr;
}

DWORD CLoginThrottle::DelayOf(const ENTRY& entry) {
    DWORD delay = LOGIN_THROTTLE_FIRST_MS;
    for (int i = 1; i < entry.failures && delay < LOGIN_THROTTLE_MAX_MS; ++i) delay *= 2;
    return std::min<DWORD>(delay, LOGIN_THROTTLE_MAX_MS);
}
