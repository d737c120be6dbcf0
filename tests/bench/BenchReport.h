// What the benchmark programs share: one printed line per figure with its target beside it, and
// the few process measurements they take (monotonic seconds, CPU time, heap in use, resident
// memory, open descriptors). Linux only; main thread of a bench program.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace zbbench {

// "<name>: <value> <unit>   (target: <target>)", flushed at once.
void PrintFigure(const char* name, double value, const char* unit, const char* target);
// A heading line before a group of figures.
void PrintHeading(const char* text);

double MonotonicSeconds();
// User plus system CPU seconds of a process (0 = this one); -1 when it cannot be read.
double CpuSeconds(pid_t pid = 0);
// Times the threads of a process (0 = this one) went to sleep of their own accord.
long WakeUps(pid_t pid = 0);
// Bytes the allocator has handed out and not taken back.
size_t HeapInUse();
// Resident set of this process in bytes.
size_t ResidentBytes();
// Descriptors this process holds open.
int OpenDescriptors();

}  // namespace zbbench
