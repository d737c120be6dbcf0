#include "platform/host/SignalFd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>

namespace zbw {

CSignalFd::~CSignalFd() {
    if (m_fd >= 0) close(m_fd);
}

void CSignalFd::Update(bool signalled) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (signalled == m_signalled) return;
    m_signalled = signalled;
    SetReadable(signalled);
    if (!signalled) return;
    ++m_changes;
    m_changed.notify_all();
}

void CSignalFd::SetReadable(bool readable) const {
    if (m_fd < 0 || readable == m_readable) return;
    uint64_t value = 1;
    ssize_t done = readable ? write(m_fd, &value, sizeof value) : read(m_fd, &value, sizeof value);
    if (done == static_cast<ssize_t>(sizeof value)) m_readable = readable;
}

int CSignalFd::Fd() const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd < 0 && !m_fdFailed) {
        m_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_fdFailed = m_fd < 0;
        SetReadable(m_signalled);
    }
    return m_fd;
}

uint64_t CSignalFd::Changes() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_changes;
}

void CSignalFd::WaitForChange(uint64_t seen, int timeoutMs) const {
    std::unique_lock<std::mutex> guard(m_lock);
    auto changed = [&] { return m_changes != seen; };
    if (timeoutMs < 0)
        m_changed.wait(guard, changed);
    else
        m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), changed);
}

bool CSignalFd::HasFd() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_fd >= 0;
}

}  // namespace zbw
