// Bench of the run-history database at scale: loading 1000 histories of 15 records, the memory a
// loaded history holds, and building the HTML of one history for a page.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "dovrane/model/DBEngList.h"
#include "dovrane/model/EngineDB.h"
#include "platform/host/PathMap.h"
#include "tests/bench/BenchReport.h"
#include "tests/support/TestRoot.h"

namespace {

const int kProfiles = 1000;
const int kRecords = 15;
const int kRounds = 5;

CString ProfileName(int n) {
    CString name;
    name.Format(u"C:\\Profiles\\Profile %04d.zbp", n);
    return name;
}

// A finished run with counts in every record, as a real run leaves it.
CProjectRunTime Run(int n) {
    CProjectRunTime run;
    run.m_tStart = 1700000000 + n * 3600;
    run.m_tEnd = run.m_tStart + 95;
    run.m_strResult = u"Scheduled - Successful.";
    run.m_nExitCode = n % 4 == 0 ? 1 : 0;
    run.m_strLogID.Format(u"%d", 4000 + n);
    std::memset(&run.m_todo, 0, sizeof run.m_todo);
    std::memset(&run.m_done, 0, sizeof run.m_done);
    std::memset(&run.m_coms, 0, sizeof run.m_coms);
    std::memset(&run.m_comt, 0, sizeof run.m_comt);
    run.m_todo.source.nFilesAdded = 12 + n;
    run.m_todo.target.nFilesUpdated = 3;
    run.m_done.source.nFilesAdded = 12 + n;
    run.m_done.source.nBytesAdded = 1234567;
    run.m_coms.nFiles = 500 + n;
    run.m_comt.nFiles = 498 + n;
    return run;
}

void FillDatabase() {
    for (int p = 0; p < kProfiles; ++p) {
        CDBEngList list(ProfileName(p));
        for (int r = 0; r < kRecords; ++r) list.AddTailEntry(Run(r));
        if (!list.SaveToDB()) std::fprintf(stderr, "saving history %d failed\n", p);
    }
}

size_t HtmlLength(const CDBEngList& list) {
    size_t length = 0;
    for (POSITION pos = list.GetHeadPosition(); pos;) {
        const CProjectRunTime& record = list.GetNext(pos);
        length += record.GetRunPreview().GetLength() + record.GetRunSummary().GetLength() +
                  record.GetFinalStatus().GetLength();
    }
    return length;
}

}  // namespace

int main() {
    CTestRoot root;
    root.UseTimeZone("UTC");
    g_EngineDB.SetDBFilePath(zbw::ToWindowsPath(root.Path("ZBEngine.db")));
    if (!g_EngineDB.OpenDBFile()) {
        std::fprintf(stderr, "cannot open the history database\n");
        return 1;
    }
    FillDatabase();

    zbbench::PrintHeading("Run history (1000 profiles, 15 records each)");
    std::vector<std::unique_ptr<CDBEngList>> lists;
    std::vector<double> loadMs;
    std::vector<double> cpuMs;
    size_t heapPerHistory = 0;
    for (int round = 0; round < kRounds; ++round) {
        lists.clear();
        lists.reserve(kProfiles);
        const size_t heapBefore = zbbench::HeapInUse();
        const double start = zbbench::MonotonicSeconds();
        const double cpuStart = zbbench::CpuSeconds();
        for (int p = 0; p < kProfiles; ++p) {
            lists.push_back(std::make_unique<CDBEngList>());
            lists.back()->SetKeyAndLoad(ProfileName(p));
        }
        loadMs.push_back((zbbench::MonotonicSeconds() - start) * 1000);
        cpuMs.push_back((zbbench::CpuSeconds() - cpuStart) * 1000);
        heapPerHistory = (zbbench::HeapInUse() - heapBefore) / kProfiles;
    }
    std::sort(loadMs.begin(), loadMs.end());
    std::sort(cpuMs.begin(), cpuMs.end());
    zbbench::PrintFigure("load of 1000 histories (median of 5)", loadMs[kRounds / 2], "ms", "< 200 ms");
    zbbench::PrintFigure("  of which on the CPU", cpuMs[kRounds / 2], "ms", "(informative)");
    zbbench::PrintFigure("memory per loaded history", static_cast<double>(heapPerHistory) / 1024, "KB",
                         "< 50 KB with its item");

    const double htmlStart = zbbench::MonotonicSeconds();
    size_t length = HtmlLength(*lists[0]);
    const double firstHtmlMs = (zbbench::MonotonicSeconds() - htmlStart) * 1000;
    const double againStart = zbbench::MonotonicSeconds();
    length += HtmlLength(*lists[0]);
    const double againMs = (zbbench::MonotonicSeconds() - againStart) * 1000;
    zbbench::PrintFigure("HTML of one history for a page, first time", firstHtmlMs, "ms", "(informative)");
    zbbench::PrintFigure("HTML of one history for a page, again", againMs, "ms", "(informative)");
    if (length == 0) std::fprintf(stderr, "no HTML was built\n");
    lists.clear();
    g_EngineDB.CloseDBFile();
    return 0;
}
