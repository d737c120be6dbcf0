#include "platform/host/SignalFd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace zbw {

CSignalFd::CSignalFd() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CSignalFd::~CSignalFd() {
    if (m_fd >= 0) close(m_fd);
}

void CSignalFd::Update(bool signalled) {
    if (m_fd < 0 || signalled == m_readable) return;
    uint64_t value = 1;
    ssize_t done = signalled ? write(m_fd, &value, sizeof value) : read(m_fd, &value, sizeof value);
    if (done == static_cast<ssize_t>(sizeof value)) m_readable = signalled;
}

}  // namespace zbw
