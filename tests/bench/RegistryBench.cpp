// Bench of the registry at scale: reading and writing one value of a key that holds 10,000
// values, as the engine does with its last-run times. The hive is seeded as a text hive file,
// which the registry brings over on its first call (the import is timed too).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/base/WinError.h"
#include "platform/host/EmulationRoot.h"
#include "platform/win32/Registry.h"
#include "tests/support/TestRoot.h"

namespace {

const int kValues = 10000;
const int kSamples = 2000;
const double kBudgetSeconds = 20;
const char16_t kKey[] = u"Software\\ZBEngine\\ZBEngine\\EngLastSchedRuns";

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void PrintFigure(const char* name, double value, const char* unit, const char* target) {
    std::printf("%s: %.1f %s   (target: %s)\n", name, value, unit, target);
    std::fflush(stdout);
}

std::u16string ValueName(int n) {
    std::string name = "C:\\Profiles\\Profile " + std::to_string(100000 + n).substr(1) + ".zbp";
    return std::u16string(name.begin(), name.end());
}

std::string SeedText() {
    std::string text = "ZBW-REGISTRY-HIVE 1\n[Software\\ZBEngine\\ZBEngine\\EngLastSchedRuns]\n";
    for (int n = 0; n < kValues; ++n) {
        std::string name = "C:\\Profiles\\Profile " + std::to_string(100000 + n).substr(1) + ".zbp";
        text += "\"" + name + "\" REG_SZ text:\"2024-05-07 10:00===2024-05-07 10:00===sig%0000\"\n";
    }
    return text;
}

// Times `op` over up to kSamples calls within the budget; microseconds, sorted.
template <typename OP>
std::vector<double> Sample(OP op) {
    std::vector<double> micros;
    const double end = Now() + kBudgetSeconds;
    for (int i = 0; i < kSamples && Now() < end; ++i) {
        const double start = Now();
        if (!op(i)) break;
        micros.push_back((Now() - start) * 1e6);
    }
    std::sort(micros.begin(), micros.end());
    return micros;
}

void PrintLatency(const char* what, const std::vector<double>& micros) {
    if (micros.empty()) {
        std::printf("%s: failed\n", what);
        return;
    }
    const std::string median = std::string(what) + " median";
    const std::string p99 = std::string(what) + " p99";
    PrintFigure(median.c_str(), micros[micros.size() / 2], "us", "< 100 us");
    PrintFigure(p99.c_str(), micros[std::min(micros.size() - 1, micros.size() * 99 / 100)], "us", "< 100 us");
    std::printf("  (%zu samples)\n", micros.size());
}

}  // namespace

int main() {
    CTestRoot root;
    if (!WriteHostFile(zbw::UserDir() + "/registry.hive", SeedText())) return 1;
    std::printf("Registry: one key with %d values\n", kValues);

    HKEY key = nullptr;
    double start = Now();
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 1;
    PrintFigure("first open (brings the hive over)", (Now() - start) * 1000, "ms", "none");

    std::mt19937 random(7);
    std::uniform_int_distribution<int> pick(0, kValues - 1);
    std::vector<std::u16string> names;
    for (int i = 0; i < kSamples; ++i) names.push_back(ValueName(pick(random)));

    PrintLatency("read of a value", Sample([&](int i) {
                     BYTE data[256];
                     DWORD size = sizeof data;
                     DWORD type = 0;
                     return RegQueryValueExW(key, names[i].c_str(), nullptr, &type, data, &size) ==
                            ERROR_SUCCESS;
                 }));
    const std::u16string text = u"2024-05-08 11:00===2024-05-08 11:00===sig";
    PrintLatency("write of a value", Sample([&](int i) {
                     return RegSetValueExW(key, names[i].c_str(), 0, REG_SZ,
                                           reinterpret_cast<const BYTE*>(text.c_str()),
                                           static_cast<DWORD>((text.size() + 1) * 2)) == ERROR_SUCCESS;
                 }));
    RegCloseKey(key);
    return 0;
}
