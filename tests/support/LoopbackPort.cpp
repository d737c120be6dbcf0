// Test support: free loopback ports; fakes nothing.
#include "tests/support/LoopbackPort.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <set>
#include <stdexcept>

namespace {

constexpr int kLowestPort = 10000;
constexpr const char* kLockFile = "/tmp/zb-test-ports.lock";

int FirstEphemeralPort() {
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    int first = 0;
    return range >> first && first > kLowestPort + 1000 ? first : 32768;
}

// Locks are per process, so a port this process took must not be taken again.
bool Reserve(int lockFd, int port) {
    static std::set<int> taken;
    if (taken.count(port)) return false;
    if (lockFd < 0) return taken.insert(port).second;
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = port;
    lock.l_len = 1;
    if (fcntl(lockFd, F_SETLK, &lock) != 0) return false;
    taken.insert(port);
    return true;
}

bool Bindable(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return bound;
}

}  // namespace

int FreeLoopbackPort() {
    // Kept open: closing any descriptor of the file would drop this process's locks. Without the
    // file the ports are still unique within this process.
    static const int lockFd = open(kLockFile, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    static std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> pick(kLowestPort, FirstEphemeralPort() - 1);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int port = pick(random);
        if (Reserve(lockFd, port) && Bindable(port)) return port;
    }
    throw std::runtime_error("no free loopback port below the ephemeral range");
}
