#include "dovrane/LoginThrottle.h"

#include <algorithm>

DWORD CLoginThrottle::DelayFor(const CString& address, DWORD now) {
    const ENTRY* entry = Find(address, now);
    if (!entry) return 0;
    DWORD delay = LOGIN_THROTTLE_FIRST_MS;
    for (int i = 1; i < entry->failures && delay < LOGIN_THROTTLE_MAX_MS; ++i) delay *= 2;
    return std::min<DWORD>(delay, LOGIN_THROTTLE_MAX_MS);
}

int CLoginThrottle::NoteFailure(const CString& address, DWORD now) {
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
    std::erase_if(m_entries, [&address](const ENTRY& e) { return e.address == address; });
}

// The address's entry, unless it has been quiet long enough to be forgotten.
CLoginThrottle::ENTRY* CLoginThrottle::Find(const CString& address, DWORD now) {
    std::erase_if(m_entries, [now](const ENTRY& e) { return now - e.last > LOGIN_THROTTLE_FORGET_MS; });
    for (ENTRY& e : m_entries) {
        if (e.address == address) return &e;
    }
    return nullptr;
}
