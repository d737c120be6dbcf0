// Bench of what an engine with many profiles costs while nothing runs: descriptors and memory of
// idle run items, the CPU of 10,000 window timers, the cost of a posted message, the destruction
// of 10,000 windows with timers and messages pending, and the CPU of the tray icon while the
// engine runs.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/CommStatus.h"
#include "dovrane/threads/RunItem.h"
#include "platform/base/Clock.h"
#include "platform/win32/Thread.h"
#include "platform/win32/WinUser.h"
#include "tests/bench/BenchReport.h"
#include "tests/support/TestRoot.h"

extern char** environ;

namespace {

const int kItems = 1000;
const int kTimerWindows = 100;
const int kTimersPerWindow = 100;
const double kTimerSeconds = 20;
const int kPosts = 200000;
const int kDestroyedWindows = 10000;
const double kTrayWarmUpSeconds = 3;
const double kTraySeconds = 30;

// Serves the calling thread's queue for the given wall time.
void PumpFor(double seconds) {
    const double end = zbbench::MonotonicSeconds() + seconds;
    MSG msg;
    while (zbbench::MonotonicSeconds() < end) {
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
            continue;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
}

void IdleRunItems() {
    zbbench::PrintHeading("Idle run items (1000, daily schedule, activated)");
    std::vector<std::unique_ptr<CRunItem>> items;
    const int fdsBefore = zbbench::OpenDescriptors();
    const size_t heapBefore = zbbench::HeapInUse();
    const size_t residentBefore = zbbench::ResidentBytes();
    SCHEDULEINFO daily;
    daily.nEveryDay = 1;
    daily.dtStart = COleDateTime(2024, 3, 1, 3, 0, 0);
    for (int n = 0; n < kItems; ++n) {
        auto item = std::make_unique<CRunItem>();
        CString name;
        name.Format(u"Profile %04d", n);
        item->SetProfileName(name);
        item->SetSchedule(daily);
        item->SetLaunchCommand(LAUNCHCOMMAND{u"/bin/true", CString()});
        if (!item->CreateItemWindow() || !item->Activate())
            std::fprintf(stderr, "item %d did not start\n", n);
        items.push_back(std::move(item));
    }
    PumpFor(1);
    const double count = kItems;
    zbbench::PrintFigure("descriptors per idle run item", (zbbench::OpenDescriptors() - fdsBefore) / count,
                         "", "0");
    zbbench::PrintFigure("resident memory per idle run item",
                         static_cast<double>(zbbench::ResidentBytes() - residentBefore) / count / 1024, "KB",
                         "< 50 KB with its history");
    zbbench::PrintFigure("heap per idle run item",
                         static_cast<double>(zbbench::HeapInUse() - heapBefore) / count / 1024, "KB",
                         "(informative)");
    items.clear();
    PumpFor(0.2);
}

// Timers start staggered over a minute and then tick every minute, as the run items' do.
const UINT kTimerPeriodMs = 60000;
std::set<std::pair<HWND, UINT_PTR>> g_rearmed;
long g_timerMessages = 0;

LRESULT CALLBACK BenchProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        ++g_timerMessages;
        if (g_rearmed.insert({hwnd, wParam}).second) SetTimer(hwnd, wParam, kTimerPeriodMs, nullptr);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND MakeWindow(LPCWSTR title, DWORD style = WS_POPUP, HWND parent = nullptr) {
    static const ATOM atom = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = BenchProc;
        windowClass.lpszClassName = u"ZbBenchWindow";
        return RegisterClassW(&windowClass);
    }();
    (void)atom;
    return CreateWindowExW(0, u"ZbBenchWindow", title, style, 0, 0, 0, 0, parent, nullptr, nullptr, nullptr);
}

void IdleTimers() {
    zbbench::PrintHeading("10,000 window timers on one thread (each ticking once a minute)");
    std::vector<HWND> windows;
    for (int w = 0; w < kTimerWindows; ++w) {
        HWND hwnd = MakeWindow(u"timers");
        windows.push_back(hwnd);
        for (int t = 0; t < kTimersPerWindow; ++t)
            SetTimer(hwnd, t + 1, 10 + static_cast<UINT>((w * kTimersPerWindow + t) * kTimerPeriodMs / 10000),
                     nullptr);
    }
    const double cpuStart = zbbench::CpuSeconds();
    const double start = zbbench::MonotonicSeconds();
    g_timerMessages = 0;
    MSG msg;
    while (zbbench::MonotonicSeconds() - start < kTimerSeconds) {
        UINT_PTR stop = SetTimer(nullptr, 0, 1000, nullptr);
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.hwnd == nullptr && msg.message == WM_TIMER && msg.wParam == stop) break;
            DispatchMessageW(&msg);
        }
        KillTimer(nullptr, stop);
    }
    const double cpu = zbbench::CpuSeconds() - cpuStart;
    const double wall = zbbench::MonotonicSeconds() - start;
    zbbench::PrintFigure("CPU of the process (166 timer messages a second)", cpu / wall * 100, "%",
                         "(informative: the wake-ups themselves)");
    zbbench::PrintFigure("CPU per timer message", cpu / static_cast<double>(g_timerMessages) * 1e6, "us",
                         "(informative)");
    for (HWND hwnd : windows) DestroyWindow(hwnd);
}

void PostCost() {
    zbbench::PrintHeading("Posted messages (to a window of another thread that is busy)");
    std::atomic<HWND> target{nullptr};
    std::atomic<long> received{0};
    std::thread receiver([&] {
        HWND hwnd = MakeWindow(u"receiver");
        target = hwnd;
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_USER) ++received;
            DispatchMessageW(&msg);
        }
        DestroyWindow(hwnd);
    });
    while (!target.load()) Sleep(1);
    const double start = zbbench::MonotonicSeconds();
    for (int n = 0; n < kPosts; ++n) PostMessageW(target.load(), WM_USER, n, 0);
    const double posted = zbbench::MonotonicSeconds();
    while (received.load() < kPosts && zbbench::MonotonicSeconds() - posted < 30) Sleep(1);
    const double done = zbbench::MonotonicSeconds();
    zbbench::PrintFigure("time per post", (posted - start) / kPosts * 1e6, "us", "(informative)");
    zbbench::PrintFigure("time per message, post to retrieval", (done - start) / kPosts * 1e6, "us",
                         "(informative)");
    PostMessageW(target.load(), WM_QUIT, 0, 0);
    PostThreadMessageW(GetWindowThreadProcessId(target.load(), nullptr), WM_QUIT, 0, 0);
    receiver.join();
}

// The engine's item windows are children of the desktop; each has a timer and a message
// waiting, and the thread has messages of its own between them, as when many profiles go at once.
void DestroyCost() {
    zbbench::PrintHeading("Destroying 10,000 windows, each with a timer and a posted message");
    std::vector<HWND> windows;
    for (int w = 0; w < kDestroyedWindows; ++w) {
        HWND hwnd = MakeWindow(u"item", WS_CHILD, GetDesktopWindow());
        windows.push_back(hwnd);
        SetTimer(hwnd, 1, kTimerPeriodMs, nullptr);
        PostMessageW(hwnd, WM_USER, w, 0);
        PostThreadMessageW(GetCurrentThreadId(), WM_USER, w, 0);
    }
    const double start = zbbench::MonotonicSeconds();
    for (HWND hwnd : windows) DestroyWindow(hwnd);
    const double destroyed = zbbench::MonotonicSeconds();
    zbbench::PrintFigure("destroying them all", (destroyed - start) * 1000, "ms", "< 100 ms");
    int kept = 0;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.hwnd == nullptr && msg.message == WM_USER && msg.wParam == static_cast<WPARAM>(kept)) ++kept;
    }
    zbbench::PrintFigure("thread messages kept in order", kept, "", "10000");
}

void TrayIcon() {
    zbbench::PrintHeading("Tray icon ZBEngineIcon while the engine runs (30 s)");
    CCommStatus engine;
    engine.Open();
    std::atomic<bool> stop{false};
    std::thread heartbeat([&] {
        while (!stop) {
            engine.SetTime(GetTickCount());
            Sleep(500);
        }
    });
    const std::string program = BinDir() + "/ZBEngineIcon";
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", program.c_str());
    } else {
        Sleep(static_cast<DWORD>(kTrayWarmUpSeconds * 1000));
        const double cpuStart = zbbench::CpuSeconds(pid);
        const long wakeUpsStart = zbbench::WakeUps(pid);
        Sleep(static_cast<DWORD>(kTraySeconds * 1000));
        const double cpu = zbbench::CpuSeconds(pid) - cpuStart;
        const long wakeUps = zbbench::WakeUps(pid) - wakeUpsStart;
        zbbench::PrintFigure("CPU of the tray icon", cpu / kTraySeconds * 100, "%", "< 0.1 %");
        zbbench::PrintFigure("wake-ups of the tray icon per second", wakeUps / kTraySeconds, "/s",
                             "(informative)");
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    stop = true;
    heartbeat.join();
}

}  // namespace

int main(int argc, char** argv) {
    CTestRoot root;
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "items") IdleRunItems();
    if (only.empty() || only == "timers") IdleTimers();
    if (only.empty() || only == "posts") PostCost();
    if (only.empty() || only == "destroy") DestroyCost();
    if (only.empty() || only == "tray") TrayIcon();
    return 0;
}
