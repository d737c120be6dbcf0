#include "platform/host/HostIo.h"

#include <unistd.h>

#include <cerrno>

namespace zbw {

bool WriteAll(int fd, const void* data, size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, next, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        next += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, std::string& bytes) {
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        bytes.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace zbw
