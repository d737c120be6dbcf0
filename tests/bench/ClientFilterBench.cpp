// Bench of the client filter on the accept thread: the time one address check takes, for
// ordinary filters and for filters that would backtrack without end, and of one match that runs
// through the whole step budget of the regular expressions (the most any filter can cost), with
// the median and the worst of many checks.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/RegExp.h"
#include "dovrane/web/ClientFilter.h"
#include "tests/bench/BenchReport.h"

namespace {

const int kChecks = 200;

// Milliseconds of each check of the address against the filter.
std::vector<double> Checks(const CString& filter, const CString& address) {
    std::vector<double> times;
    const CClientFilter check(filter);
    for (int i = 0; i < kChecks; ++i) {
        const double start = zbbench::MonotonicSeconds();
        check.Check(address);
        times.push_back(1000 * (zbbench::MonotonicSeconds() - start));
    }
    std::sort(times.begin(), times.end());
    return times;
}

std::vector<double> BudgetMatches() {
    CString stars;
    for (int i = 0; i < 20; ++i) stars += u".*";
    REGEXP* prog = RegExpCompile(u"^(" + stars + u"a)$");
    std::vector<double> times;
    for (int i = 0; i < kChecks; ++i) {
        const double start = zbbench::MonotonicSeconds();
        RegExpMatch(prog, u"111.111.111.111");
        times.push_back(1000 * (zbbench::MonotonicSeconds() - start));
    }
    RegExpFree(prog);
    std::sort(times.begin(), times.end());
    return times;
}

void PrintTimes(const char* what, const std::vector<double>& times) {
    char name[96];
    std::snprintf(name, sizeof name, "%s, median", what);
    zbbench::PrintFigure(name, times[times.size() / 2], "ms", "a few ms at most");
    std::snprintf(name, sizeof name, "%s, worst", what);
    zbbench::PrintFigure(name, times.back(), "ms", "a few ms at most");
}

}  // namespace

int main() {
    const struct {
        const char* name;
        const char16_t* filter;
    } filters[] = {
        {"plain subnet", u"192.168.1.*"},
        {"twenty stars", u"********************a"},
        {"stars and ones", u"*1*1*1*1*1*1*1*1*1*1*1*1*1*1*1*1*1*1*1*1*x"},
        {"stars and marks", u"*?*?*?*?*?*?*?*?*?*?*?*?*?*?*a"},
    };
    zbbench::PrintHeading("client filter, one check of 111.111.111.111");
    for (const auto& f : filters) PrintTimes(f.name, Checks(f.filter, u"111.111.111.111"));
    PrintTimes("expression that spends the step budget", BudgetMatches());
    return 0;
}
