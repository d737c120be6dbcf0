#include "platform/base/Clock.h"

#include <poll.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace zbw {
namespace {

int64_t EnvShift(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::strtoll(v, nullptr, 10) : 0;
}

int64_t ReadClock(clockid_t id, int64_t divisor) {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<int64_t>(ts.tv_sec) * (1000000000 / divisor) + ts.tv_nsec / divisor;
}

struct Steering {
    std::atomic<int64_t> advanceMs{0};
    std::atomic<bool> steered{false};
    std::atomic<bool> tickPinned{false};
    std::atomic<int64_t> pinnedTickMs{0};
    std::mutex pinLock;
    bool pinned = false;
    int64_t pinnedMicros = 0;
    const int64_t envWallShiftMs = EnvShift("ZBW_CLOCK_SHIFT_MS");
    const int64_t envTickShiftMs = EnvShift("ZBW_TICK_SHIFT_MS");
};

Steering& State() {
    static Steering s;
    return s;
}

}  // namespace

int64_t TickNow64() {
    Steering& s = State();
    const int64_t base = s.tickPinned ? s.pinnedTickMs.load() : ReadClock(CLOCK_BOOTTIME, 1000000);
    return base + s.envTickShiftMs + s.advanceMs.load();
}

int64_t WallNowMicros() {
    Steering& s = State();
    {
        std::lock_guard<std::mutex> lock(s.pinLock);
        if (s.pinned) return s.pinnedMicros + s.advanceMs.load() * 1000;
    }
    return ReadClock(CLOCK_REALTIME, 1000) + (s.envWallShiftMs + s.advanceMs.load()) * 1000;
}

void AdvanceClock(int64_t ms) {
    Steering& s = State();
    s.steered = true;
    s.advanceMs += ms;
}

void PinWallClock(int64_t utcMicros) {
    Steering& s = State();
    std::lock_guard<std::mutex> lock(s.pinLock);
    s.pinned = true;
    s.pinnedMicros = utcMicros - s.advanceMs.load() * 1000;
}

void UnpinWallClock() {
    Steering& s = State();
    std::lock_guard<std::mutex> lock(s.pinLock);
    s.pinned = false;
}

void PinTickCount() {
    Steering& s = State();
    s.steered = true;
    s.pinnedTickMs = ReadClock(CLOCK_BOOTTIME, 1000000);
    s.tickPinned = true;
}

void ResetClockForTest() {
    Steering& s = State();
    std::lock_guard<std::mutex> lock(s.pinLock);
    s.pinned = false;
    s.tickPinned = false;
    s.advanceMs = 0;
    s.steered = false;
}

int PollSliceMs(int64_t remainingMs) {
    constexpr int64_t kSteeredSliceMs = 20;
    if (State().steered && (remainingMs < 0 || remainingMs > kSteeredSliceMs)) return kSteeredSliceMs;
    if (remainingMs < 0) return -1;
    return remainingMs > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(remainingMs);
}

SYSTEMTIME SystemTimeFromTm(const struct tm& t, WORD milliseconds) {
    SYSTEMTIME st;
    st.wYear = static_cast<WORD>(t.tm_year + 1900);
    st.wMonth = static_cast<WORD>(t.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(t.tm_wday);
    st.wDay = static_cast<WORD>(t.tm_mday);
    st.wHour = static_cast<WORD>(t.tm_hour);
    st.wMinute = static_cast<WORD>(t.tm_min);
    st.wSecond = static_cast<WORD>(t.tm_sec);
    st.wMilliseconds = milliseconds;
    return st;
}

int64_t DeadlineAfter(DWORD timeoutMs) {
    return timeoutMs == INFINITE ? -1 : TickNow64() + timeoutMs;
}

int64_t RemainingUntil(int64_t deadline) {
    if (deadline < 0) return -1;
    int64_t left = deadline - TickNow64();
    return left > 0 ? left : 0;
}

}  // namespace zbw

DWORD GetTickCount() {
    return static_cast<DWORD>(zbw::TickNow64());
}

ULONGLONG GetTickCount64() {
    return static_cast<ULONGLONG>(zbw::TickNow64());
}

void Sleep(DWORD ms) {
    int64_t deadline = zbw::DeadlineAfter(ms);
    for (;;) {
        int64_t left = zbw::RemainingUntil(deadline);
        if (left == 0) return;
        poll(nullptr, 0, zbw::PollSliceMs(left));
    }
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    counter->QuadPart = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = 1000000000;
    return TRUE;
}

namespace {

void WallTime(bool local, LPSYSTEMTIME st) {
    int64_t micros = zbw::WallNowMicros();
    time_t secs = static_cast<time_t>(micros / 1000000);
    struct tm t {};
    if (local)
        localtime_r(&secs, &t);
    else
        gmtime_r(&secs, &t);
    *st = zbw::SystemTimeFromTm(t, static_cast<WORD>((micros / 1000) % 1000));
}

}  // namespace

void GetSystemTime(LPSYSTEMTIME st) {
    WallTime(false, st);
}

void GetLocalTime(LPSYSTEMTIME st) {
    WallTime(true, st);
}

void GetSystemTimeAsFileTime(LPFILETIME ft) {
    constexpr uint64_t kEpochDiff100ns = 116444736000000000ull;  // 1601-01-01 to 1970-01-01
    uint64_t v = static_cast<uint64_t>(zbw::WallNowMicros()) * 10 + kEpochDiff100ns;
    ft->dwLowDateTime = static_cast<DWORD>(v);
    ft->dwHighDateTime = static_cast<DWORD>(v >> 32);
}
