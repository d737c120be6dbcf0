#include "platform/host/HostIo.h"

#include <fcntl.h>
#include <sys/stat.h>
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

int OpenSharedFile(const std::string& path, int flags) {
    int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = open(path.c_str(), flags | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) fchmod(fd, 0666);
    return fd;
}

}  // namespace zbw
