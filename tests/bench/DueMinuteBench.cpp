// Bench of the whole scheduling core at scale: 1000 profile run items of one run-item list, all
// due at the same minute, with the stand-in as the synchronisation program. Prints the
// activation time of the items, what an idle item holds, and how late the runs started
// (p50 and p99), each beside its target. Then it starts the same runs itself, each from a thread
// of its own with no engine, and prints their lateness too: what process starts cost on this
// machine, so the engine's own share shows beside it. The wall clock of the bench and of the
// stand-ins it starts is shifted to 02:58:00 at the start, so all items are due two minutes
// later, at 03:00. An argument gives another number of items.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/LaunchProcess.h"
#include "dovrane/RunItemList.h"
#include "dovrane/model/EngineDB.h"
#include "dovrane/threads/LaunchCommand.h"
#include "platform/base/Clock.h"
#include "platform/classlib/WinApp.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Wait.h"
#include "platform/win32/WinUser.h"
#include "tests/bench/BenchReport.h"
#include "tests/bench/StandIn.h"
#include "tests/support/TestRoot.h"

namespace {

int kProfiles = 1000;
const double kLeadSeconds = 120;  // from the start to the due minute
const double kRunsBoundSeconds = 240;

std::string Utf16Le(const CString& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t ch : text.GetStdString()) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

CString ProfilePath(const CTestRoot& root, int n) {
    return zbw::ToWindowsPath(root.Path("profile" + std::to_string(n) + ".fsf"));
}

// Profiles whose stand-in ends at once, each due every day at 03:00.
CString WriteSettings(const CTestRoot& root) {
    std::system(("mkdir -p '" + root.Path("src") + "' '" + root.Path("dst") + "'").c_str());
    const CString source = zbw::ToWindowsPath(root.Path("src"));
    const CString target = zbw::ToWindowsPath(root.Path("dst"));
    CString items;
    for (int n = 0; n < kProfiles; ++n) {
        WriteHostFile(root.Path("profile" + std::to_string(n) + ".fsf"),
                      Utf16Le(u"[Zebrodyne Profile - File Version 4.0.0]\r\n[Settings]\r\nSource Folder=" +
                              source + u"\r\nTarget Folder=" + target +
                              u"\r\nExecution Method=1\r\n[StandIn]\r\nSeconds=0\r\n"));
        items += u"<ITEM><PROFILE>" + ProfilePath(root, n) +
                 u"</PROFILE><EVERYDAY>1</EVERYDAY><STARTTIME>2024-01-01 03:00</STARTTIME></ITEM>\r\n";
    }
    WriteHostFile(root.Path("settings.xml"),
                  Utf16Le(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<SETTINGS>\r\n" + items +
                          u"</SETTINGS>\r\n"));
    return zbw::ToWindowsPath(root.Path("settings.xml"));
}

// Starts every profile's stand-in at once, each from a thread of its own as the engine's jobs do,
// with the command line the engine gives it, and waits for them all.
void StartDirectly(const CTestRoot& root, const CString& program) {
    std::vector<std::thread> threads;
    for (int n = 0; n < kProfiles; ++n) {
        const LAUNCHCOMMAND command{program, u"\"" + ProfilePath(root, n) + u"\" /hiddenautosync /zbeng"};
        threads.emplace_back([program, line = command.GetCommandLine()] {
            PROCESS_INFORMATION info{};
            HANDLE process = LaunchProcess(program, line, nullptr, &info);
            if (process == nullptr) return;
            WaitForSingleObject(process, INFINITE);
            CloseHandle(info.hThread);
            CloseHandle(process);
        });
    }
    for (std::thread& thread : threads) thread.join();
}

void RemoveLogs(const CTestRoot& root) {
    for (int n = 0; n < kProfiles; ++n)
        std::remove(root.Path("profile" + std::to_string(n) + ".log").c_str());
}

void PumpFor(double seconds) {
    const double end = zbbench::MonotonicSeconds() + seconds;
    MSG msg;
    while (zbbench::MonotonicSeconds() < end) {
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        else
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
}

// Seconds each run started after the due minute, in real time: the stand-in makes its log file
// (the profile's name with ".log") as it starts, so the file's birth tells when (its last change
// where the file system keeps no birth time). Runs not yet made are left out.
std::vector<double> Lateness(const CTestRoot& root, double realDue) {
    std::vector<double> late;
    for (int n = 0; n < kProfiles; ++n) {
        struct statx info {};
        const std::string log = root.Path("profile" + std::to_string(n) + ".log");
        if (statx(AT_FDCWD, log.c_str(), 0, STATX_BTIME | STATX_MTIME, &info) != 0) continue;
        const statx_timestamp made = (info.stx_mask & STATX_BTIME) ? info.stx_btime : info.stx_mtime;
        late.push_back(static_cast<double>(made.tv_sec) + made.tv_nsec / 1e9 - realDue);
    }
    return late;
}

double RealSeconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1,
                           static_cast<size_t>(fraction * static_cast<double>(values.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) kProfiles = std::atoi(argv[1]);
    CTestRoot root;
    root.UseTimeZone("UTC");
    const double realDue = RealSeconds() + kLeadSeconds;
    const int64_t shiftMs = UtcMicros(2024, 3, 5, 3, 0, 0) / 1000 - static_cast<int64_t>(realDue * 1000);
    setenv("ZBW_CLOCK_SHIFT_MS", std::to_string(shiftMs).c_str(), 1);  // read at the clock's first use
    CWinApp app(u"zbengine");
    app.SetRegistryKey(u"ZBEngine");
    g_EngineDB.SetDBFilePath(zbw::ToWindowsPath(root.Path("engine.db")));
    g_EngineDB.OpenDBFile();
    zbbench::RegisterStandIn();
    const CString program = zbw::ToWindowsPath(BinDir() + "/zbsync");
    const CString file = WriteSettings(root);

    std::printf("%d profile run items due at the same minute, the stand-in as the program\n", kProfiles);
    CRunItemList list;
    list.LoadSettings(file, true);
    const int fdsBefore = zbbench::OpenDescriptors();
    const size_t residentBefore = zbbench::ResidentBytes();
    const double start = zbbench::MonotonicSeconds();
    const bool loaded = list.LoadSettings(file, false);
    const double activationMs = (zbbench::MonotonicSeconds() - start) * 1000;
    PumpFor(1);
    zbbench::PrintFigure("activation of the items", activationMs, "ms", "< 1000 ms for 1000");
    zbbench::PrintFigure("descriptors per idle item",
                         (zbbench::OpenDescriptors() - fdsBefore) / double(kProfiles), "", "0");
    zbbench::PrintFigure("resident memory per idle item, with its history",
                         static_cast<double>(zbbench::ResidentBytes() - residentBefore) / kProfiles / 1024,
                         "KB", "< 50 KB");

    std::vector<double> late;
    while (RealSeconds() < realDue + kRunsBoundSeconds) {
        PumpFor(1);
        late = Lateness(root, realDue);
        if (late.size() == static_cast<size_t>(kProfiles)) break;
    }
    const long onTime = std::count_if(late.begin(), late.end(), [](double s) { return s < 1; });
    std::printf("  %d items (settings %s), %zu runs started, %ld within 1 s of the due minute\n",
                list.GetCount(), loaded ? "loaded" : "NOT loaded", late.size(), onTime);
    zbbench::PrintFigure("start lateness p50", Percentile(late, 0.5), "s", "(informative)");
    zbbench::PrintFigure("start lateness p99", Percentile(late, 0.99), "s", "< 1 s");
    PumpFor(5);
    list.RemoveAllRunItems();
    PumpFor(1);

    RemoveLogs(root);
    const double directStart = RealSeconds();
    StartDirectly(root, program);
    const std::vector<double> direct = Lateness(root, directStart);
    std::printf("  the same %zu runs started directly, without the engine:\n", direct.size());
    zbbench::PrintFigure("their start lateness p50", Percentile(direct, 0.5), "s", "(this machine)");
    zbbench::PrintFigure("their start lateness p99", Percentile(direct, 0.99), "s", "(this machine)");
    g_EngineDB.CloseDBFile();
    return 0;
}
