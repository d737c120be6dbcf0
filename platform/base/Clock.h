// The one clock of the layer: tick count, wall time, timers, waits and Sleep all read it.
//
// Ticks come from CLOCK_BOOTTIME, so every process on the machine sees the same GetTickCount().
// Wall time is the host's real time. Both can be shifted:
//   - for a whole process tree by the environment: ZBW_CLOCK_SHIFT_MS moves the wall clock,
//     ZBW_TICK_SHIFT_MS moves the tick count (children inherit both);
//   - inside one process by tests: AdvanceClock moves ticks and wall time together, so timers
//     and waits that are due fire at once; PinWallClock freezes the wall clock at a value and
//     PinTickCount freezes the tick count where it stands (AdvanceClock still moves both).
// Waits that would sleep across a steered jump poll in short slices (PollSliceMs).
// All functions are thread-safe.
#pragma once

#include <ctime>

#include "platform/base/WinTypes.h"

namespace zbw {

// The broken-down time as a SYSTEMTIME.
SYSTEMTIME SystemTimeFromTm(const struct tm& t, WORD milliseconds);

// Milliseconds of the shared tick clock, 64-bit, shifts included.
int64_t TickNow64();
// Wall clock, UTC microseconds since 1970-01-01, shifts and pin included.
int64_t WallNowMicros();

// Tests: move ticks and wall time forward (or back) by ms.
void AdvanceClock(int64_t ms);
// Tests: freeze the wall clock at utcMicros; UnpinWallClock lets it run again from there.
void PinWallClock(int64_t utcMicros);
void UnpinWallClock();
// Tests: freeze the tick count at its current value; only AdvanceClock moves it then. A wait
// with a time-out ends only by its object or by an advance while the tick is pinned.
void PinTickCount();
// Tests: forget every in-process steering.
void ResetClockForTest();

// How long a poll may sleep when remainingMs are left (-1 = infinite): the remaining time,
// cut to a short slice once the clock has been steered in this process.
int PollSliceMs(int64_t remainingMs);

// Absolute tick deadline for a Windows time-out (INFINITE gives -1).
int64_t DeadlineAfter(DWORD timeoutMs);
// Milliseconds left until deadline (-1 for no deadline, 0 when passed).
int64_t RemainingUntil(int64_t deadline);

}  // namespace zbw

DWORD GetTickCount();
ULONGLONG GetTickCount64();
void Sleep(DWORD ms);
BOOL QueryPerformanceCounter(LARGE_INTEGER* counter);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
void GetSystemTime(LPSYSTEMTIME st);
void GetLocalTime(LPSYSTEMTIME st);
void GetSystemTimeAsFileTime(LPFILETIME ft);
