// Run-item list at scale: loads a settings file of 1000 enabled, idle profiles (their profile
// files and folders in a temporary folder, the stand-in as the synchronisation program) on the
// main thread, then prints the load time, the resident memory and threads per profile, and the
// time of GetAllProfilesInfo and of one snapshot for the pages, each beside its target.
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "dovrane/RunItemList.h"
#include "dovrane/model/EngineDB.h"
#include "dovrane/threads/RunItemMessages.h"
#include "dovrane/threads/ZBProjectRunItemData.h"
#include "dovrane/web/PageRefresh.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WideChar.h"
#include "platform/base/WinError.h"
#include "platform/classlib/Array.h"
#include "platform/classlib/WinApp.h"
#include "platform/host/PathMap.h"
#include "platform/win32/WinUser.h"
#include "tests/bench/StandIn.h"
#include "tests/support/TestRoot.h"

namespace {

int kProfiles = 1000;  // or the first argument
const int kRounds = 21;

double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long ResidentKB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

int Threads() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
    }
    return count;
}

void PrintFigure(const char* name, double value, const char* unit, const char* target) {
    std::printf("%-42s %12.3f %-6s (target: %s)\n", name, value, unit, target);
    std::fflush(stdout);
}

std::string Utf16Le(const CString& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t ch : text.GetStdString()) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

// One profile file per item with existing source and target folders, run every day.
CString WriteProfiles(const CTestRoot& root) {
    std::system(("mkdir -p '" + root.Path("src") + "' '" + root.Path("dst") + "'").c_str());
    const CString source = zbw::ToWindowsPath(root.Path("src"));
    const CString target = zbw::ToWindowsPath(root.Path("dst"));
    CString items;
    for (int i = 0; i < kProfiles; ++i) {
        const std::string name = "profile" + std::to_string(i) + ".fsf";
        const CString profile = zbw::ToWindowsPath(root.Path(name));
        WriteHostFile(root.Path(name),
                      Utf16Le(u"[Zebrodyne Profile - File Version 4.0.0]\r\n[Settings]\r\nSource Folder=" +
                              source + u"\r\nTarget Folder=" + target +
                              u"\r\nExecution Method=1\r\n[StandIn]\r\nSeconds=0\r\n"));
        items += u"<ITEM><PROFILE>" + profile +
                 u"</PROFILE><EVERYDAY>1</EVERYDAY><STARTTIME>2024-01-01 03:00</STARTTIME></ITEM>\r\n";
    }
    const CString file = zbw::ToWindowsPath(root.Path("settings.xml"));
    WriteHostFile(root.Path("settings.xml"),
                  Utf16Le(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<SETTINGS>\r\n" + items +
                          u"</SETTINGS>\r\n"));
    return file;
}

// Serves the main thread's queue until nothing is waiting.
void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

template <class F>
double MedianMs(F body) {
    std::vector<double> times;
    for (int i = 0; i < kRounds; ++i) {
        const double start = Seconds();
        body();
        times.push_back((Seconds() - start) * 1000);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) kProfiles = std::atoi(argv[1]);
    CTestRoot root;
    CWinApp app(u"zbengine");  // the items read their launch switch through its profile
    app.SetRegistryKey(u"ZBEngine");
    g_EngineDB.SetDBFilePath(zbw::ToWindowsPath(root.Path("engine.db")));
    g_EngineDB.OpenDBFile();
    zbbench::RegisterStandIn();
    const CString file = WriteProfiles(root);
    double result = 0;
    {
        CRunItemList list;
        list.LoadSettings(file, true);
        Pump();
        const long residentBefore = ResidentKB();
        const int threadsBefore = Threads();
        const double start = Seconds();
        const bool loaded = list.LoadSettings(file, false);
        const double loadSeconds = Seconds() - start;
        Pump();
        const long residentAfter = ResidentKB();
        const int threadsAfter = Threads();
        int idle = 0;
        for (int i = 0; i < list.GetCount(); ++i) {
            CString record = list.RUNITEM_RECORD(i);
            const int state = _wtoi(record.Mid(record.Find(CRunItemList::kRecordSeparator) + 1));
            if (state == RUNSTATE_ENABLED || state == RUNSTATE_SUCCEEDED) ++idle;
        }
        std::printf("RunItemListBench: %d profiles, loaded %s, %d enabled and idle\n", list.GetCount(),
                    loaded ? "yes" : "NO", idle);
        PrintFigure("load of the settings file", loadSeconds * 1000, "ms", "< 1000 ms");
        PrintFigure("resident memory per enabled idle profile",
                    idle ? static_cast<double>(residentAfter - residentBefore) / idle : 0, "KB", "< 50 KB");
        PrintFigure("threads per profile", static_cast<double>(threadsAfter - threadsBefore) / kProfiles, "",
                    "no own thread per idle profile beyond what the item needs");
        CString all;
        PrintFigure("GetAllProfilesInfo (median)", MedianMs([&] { all = list.GetAllProfilesInfo(); }), "ms",
                    "< 10 ms");
        CArray<CZBProjectRunItemData> snapshots;
        PrintFigure("snapshot for the pages (median)", MedianMs([&] {
                        snapshots.RemoveAll();
                        list.UpdateHttpItemData(snapshots);
                    }),
                    "ms", "(none given)");
        CArray<CZBProjectRunItemData> hundred;
        for (INT_PTR i = 0; i < snapshots.GetSize() && i < 100; ++i) hundred.Add(snapshots[i]);
        CString id;
        PrintFigure("page-refresh identifier, 100 profiles (median)",
                    MedianMs([&] { id = ComputeRefreshId(hundred, -1, u"", u""); }), "ms",
                    "(none given; each refresh check computes one)");
        PrintFigure("page-refresh identifier, every profile (median)",
                    MedianMs([&] { id = ComputeRefreshId(snapshots, -1, u"", u""); }), "ms", "(none given)");
        result = all.GetLength() + static_cast<double>(snapshots.GetSize()) + id.GetLength();
        list.RemoveAllRunItems();
        Pump();
    }
    g_EngineDB.CloseDBFile();
    return result > 0 ? 0 : 1;
}
