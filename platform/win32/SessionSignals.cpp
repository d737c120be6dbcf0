#include "platform/win32/SessionSignals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/win32/MessageQueue.h"
#include "platform/win32/Thread.h"

namespace {

const unsigned kTerm = 1;
const unsigned kInt = 2;
const unsigned kHup = 4;

std::atomic<unsigned> g_pending{0};
std::atomic<int> g_wakeFd{-1};
std::atomic<DWORD> g_thread{0};
std::atomic<HWND (*)()> g_mainWindow{nullptr};
thread_local bool t_endingSession = false;

unsigned BitOf(int sig) {
    return sig == SIGTERM ? kTerm : sig == SIGINT ? kInt : kHup;
}

void OnSignal(int sig) {
    int saved = errno;
    g_pending.fetch_or(BitOf(sig));
    int fd = g_wakeFd.load();
    if (fd >= 0) {
        uint64_t one = 1;
        ssize_t written = write(fd, &one, sizeof one);
        (void)written;
    }
    errno = saved;
}

// Queues the handler may wake stay open until the process ends.
void KeepQueue(const std::shared_ptr<CMessageQueue>& queue) {
    static std::mutex lock;
    static auto* kept = new std::vector<std::shared_ptr<CMessageQueue>>;
    std::lock_guard<std::mutex> guard(lock);
    kept->push_back(queue);
}

void TakeDefaultAction(int sig) {
    signal(sig, SIG_DFL);
    raise(sig);
}

HWND MainWindow() {
    HWND (*resolve)() = g_mainWindow.load();
    HWND hwnd = resolve ? resolve() : nullptr;
    return hwnd && hwnd != GetDesktopWindow() && IsWindow(hwnd) ? hwnd : nullptr;
}

void DeliverClose(int sig) {
    if (HWND hwnd = MainWindow()) {
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
    } else {
        TakeDefaultAction(sig);
    }
}

void DeliverEndSession() {
    HWND hwnd = MainWindow();
    if (!hwnd) {
        TakeDefaultAction(SIGTERM);
        return;
    }
    t_endingSession = true;
    BOOL ending = SendMessageW(hwnd, WM_QUERYENDSESSION, 0, 0) != 0;
    SendMessageW(hwnd, WM_ENDSESSION, ending, 0);
    t_endingSession = false;
    if (!ending) return;
    fflush(nullptr);
    _exit(0);  // Windows ends the process once the session is over, without further clean-up
}

}  // namespace

namespace zbw {

void InstallSessionSignals(HWND (*mainWindow)()) {
    std::shared_ptr<CMessageQueue> queue = CMessageQueue::OfCurrentThread();
    if (!queue) return;
    KeepQueue(queue);
    g_mainWindow = mainWindow;
    g_thread = queue->ThreadId();
    g_wakeFd = queue->WakeFd();
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
}

void ServeSessionSignals() {
    if (g_pending.load() == 0 || g_thread.load() != GetCurrentThreadId()) return;
    unsigned pending = g_pending.exchange(0);
    if (pending & kInt) DeliverClose(SIGINT);
    if (pending & kHup) DeliverClose(SIGHUP);
    if ((pending & kTerm) && !t_endingSession) DeliverEndSession();  // no second session end inside one
}

bool SessionSignalPending(DWORD threadId) {
    return g_pending.load() != 0 && g_thread.load() == threadId;
}

}  // namespace zbw
