#include "platform/classlib/CriticalSection.h"

#include <algorithm>

#include "platform/base/Clock.h"

CCriticalSection::CCriticalSection() : CSyncObject(nullptr) {
    InitializeCriticalSection(&m_sect);
}

CCriticalSection::~CCriticalSection() {
    DeleteCriticalSection(&m_sect);
}

BOOL CCriticalSection::Lock(DWORD timeoutMs) {
    if (timeoutMs == INFINITE) {
        EnterCriticalSection(&m_sect);
        return TRUE;
    }
    int64_t deadline = zbw::DeadlineAfter(timeoutMs);
    while (!TryEnterCriticalSection(&m_sect)) {
        int64_t left = zbw::RemainingUntil(deadline);
        if (left == 0) return FALSE;
        Sleep(static_cast<DWORD>(std::min<int64_t>(left, 1)));
    }
    return TRUE;
}

BOOL CCriticalSection::Unlock() {
    LeaveCriticalSection(&m_sect);
    return TRUE;
}
