// Support for the benches: prints each figure beside its target; fakes nothing.
#include "tests/bench/BenchReport.h"

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

namespace zbbench {

void PrintFigure(const char* name, double value, const char* unit, const char* target) {
    std::printf("  %-58s %12.3f %-6s (target: %s)\n", name, value, unit, target);
    std::fflush(stdout);
}

void PrintHeading(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}

double MonotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The scheduler's nanosecond counts of every thread (the tick counts of /proc/<pid>/stat are
// too coarse for an idle process).
double CpuSeconds(pid_t pid) {
    const std::string tasks =
        (pid == 0 ? std::string("/proc/self") : "/proc/" + std::to_string(pid)) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir) return -1;
    double nanoseconds = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream schedstat(tasks + "/" + entry->d_name + "/schedstat");
        double onCpu = 0;
        if (schedstat >> onCpu) nanoseconds += onCpu;
    }
    closedir(dir);
    return nanoseconds / 1e9;
}

long WakeUps(pid_t pid) {
    const std::string tasks =
        (pid == 0 ? std::string("/proc/self") : "/proc/" + std::to_string(pid)) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir) return -1;
    long count = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream status(tasks + "/" + entry->d_name + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) count += std::stol(line.substr(24));
    }
    closedir(dir);
    return count;
}

size_t HeapInUse() {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
        --count;  // the directory's own descriptor
    }
    return count;
}

}  // namespace zbbench
