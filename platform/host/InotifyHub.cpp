#include "platform/host/InotifyHub.h"

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <set>
#include <system_error>
#include <thread>

namespace zbw {
namespace {

// A failing poll is tried again after this long, so the reader never spins.
constexpr int kRetryMs = 100;

}  // namespace

CInotifyHub& CInotifyHub::Instance() {
    static CInotifyHub* hub = new CInotifyHub;  // lives past static destructors of its users
    return *hub;
}

std::unique_lock<std::mutex> CInotifyHub::Lock() {
    return std::unique_lock<std::mutex>(m_lock);
}

int CInotifyHub::AddWatch(const std::string& path, uint32_t mask, CListener* listener) {
    if (int err = Open()) return -err;
    int wd = inotify_add_watch(m_fd, path.c_str(), mask | IN_MASK_ADD);
    if (wd < 0) return -errno;
    std::vector<CListener*>& listeners = m_watches[wd];
    if (std::find(listeners.begin(), listeners.end(), listener) == listeners.end())
        listeners.push_back(listener);
    return wd;
}

void CInotifyHub::RemoveWatch(int wd, CListener* listener) {
    auto watch = m_watches.find(wd);
    if (watch == m_watches.end()) return;
    std::erase(watch->second, listener);
    if (!watch->second.empty()) return;
    inotify_rm_watch(m_fd, wd);
    m_watches.erase(watch);
}

void CInotifyHub::Drain() {
    if (m_fd < 0) return;
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    for (;;) {
        ssize_t got = read(m_fd, buffer, sizeof buffer);
        if (got <= 0) return;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            Dispatch(*event);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

int CInotifyHub::Open() {
    if (m_fd >= 0) return 0;
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) return errno;
    // Process-directed signals belong to the program's own threads.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    int err = 0;
    try {
        std::thread([this, fd = m_fd] { ReadForever(fd); }).detach();
    } catch (const std::system_error&) {
        // Without its reader a sleeping waiter would never wake: no instance at all then.
        close(m_fd);
        m_fd = -1;
        err = EAGAIN;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return err;
}

void CInotifyHub::ReadForever(int fd) {
    pollfd watched{fd, POLLIN, 0};
    for (;;) {
        if (poll(&watched, 1, -1) < 0) {
            if (errno != EINTR) poll(nullptr, 0, kRetryMs);
            continue;
        }
        std::lock_guard<std::mutex> guard(m_lock);
        Drain();
    }
}

void CInotifyHub::Dispatch(const inotify_event& event) {
    if (event.mask & IN_Q_OVERFLOW) {
        std::set<CListener*> everyone;
        for (const auto& [wd, listeners] : m_watches) everyone.insert(listeners.begin(), listeners.end());
        for (CListener* listener : everyone) listener->OnEvent(event);
        return;
    }
    auto watch = m_watches.find(event.wd);
    if (watch == m_watches.end()) return;  // removed while its events were queued
    // By index: a listener may add watches meanwhile, even to this list.
    for (size_t i = 0; i < watch->second.size(); ++i) watch->second[i]->OnEvent(event);
    if (event.mask & IN_IGNORED) m_watches.erase(watch);  // the kernel dropped it (folder gone)
}

}  // namespace zbw
