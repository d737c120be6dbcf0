#include "platform/host/HostSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zbw::host {
namespace {

// The Windows values of the levels and options the system sets (Winsock.h).
constexpr int kWinSolSocket = 0xffff;
constexpr int kWinIpProto = 0;
constexpr int kWinTcpProto = 6;

struct SOPTION {
    int winLevel;
    int winName;
    int level;
    int name;
};

const SOPTION kOptions[] = {
    {kWinSolSocket, 0x0004, SOL_SOCKET, SO_REUSEADDR},
    {kWinSolSocket, 0x0008, SOL_SOCKET, SO_KEEPALIVE},
    {kWinSolSocket, 0x0020, SOL_SOCKET, SO_BROADCAST},
    {kWinSolSocket, 0x0080, SOL_SOCKET, SO_LINGER},
    {kWinSolSocket, 0x1001, SOL_SOCKET, SO_SNDBUF},
    {kWinSolSocket, 0x1002, SOL_SOCKET, SO_RCVBUF},
    {kWinSolSocket, 0x1005, SOL_SOCKET, SO_SNDTIMEO},
    {kWinSolSocket, 0x1006, SOL_SOCKET, SO_RCVTIMEO},
    {kWinSolSocket, 0x1007, SOL_SOCKET, SO_ERROR},
    {kWinSolSocket, 0x1008, SOL_SOCKET, SO_TYPE},
    {kWinTcpProto, 0x0001, IPPROTO_TCP, TCP_NODELAY},
    {kWinIpProto, 3, IPPROTO_IP, IP_TOS},
    {kWinIpProto, 4, IPPROTO_IP, IP_TTL},
};

const SOPTION* FindOption(int winLevel, int winName) {
    for (const SOPTION& option : kOptions) {
        if (option.winLevel == winLevel && option.winName == winName) return &option;
    }
    errno = ENOPROTOOPT;
    return nullptr;
}

// Windows keeps these as milliseconds in a DWORD; the host as a timeval.
bool IsTimeout(const SOPTION& option) {
    return option.level == SOL_SOCKET && (option.name == SO_SNDTIMEO || option.name == SO_RCVTIMEO);
}

// Windows' linger record has 16-bit fields.
struct WINLINGER {
    uint16_t onoff;
    uint16_t seconds;
};

int IntValue(const char* value, int len) {
    if (len >= static_cast<int>(sizeof(int))) {
        int v;
        std::memcpy(&v, value, sizeof v);
        return v;
    }
    return len >= 1 ? static_cast<unsigned char>(value[0]) : 0;
}

}  // namespace

int Socket(int af, int type, int protocol) {
    return socket(af, type | SOCK_CLOEXEC, protocol);
}

int Bind(int fd, const void* addr, int len) {
    int type = 0;
    socklen_t size = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) == 0 && type == SOCK_STREAM) {
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    return bind(fd, static_cast<const sockaddr*>(addr), static_cast<socklen_t>(len));
}

int Listen(int fd, int backlog) {
    return listen(fd, backlog);
}

int Accept(int fd, void* addr, int* len) {
    socklen_t size = len ? static_cast<socklen_t>(*len) : 0;
    int result = accept4(fd, static_cast<sockaddr*>(addr), addr ? &size : nullptr, SOCK_CLOEXEC);
    if (result >= 0 && len) *len = static_cast<int>(size);
    return result;
}

int Connect(int fd, const void* addr, int len) {
    return connect(fd, static_cast<const sockaddr*>(addr), static_cast<socklen_t>(len));
}

long Send(int fd, const void* buf, size_t len, int flags) {
    return send(fd, buf, len, flags | MSG_NOSIGNAL);
}

long Recv(int fd, void* buf, size_t len, int flags) {
    return recv(fd, buf, len, flags);
}

long SendTo(int fd, const void* buf, size_t len, int flags, const void* to, int tolen) {
    return sendto(fd, buf, len, flags | MSG_NOSIGNAL, static_cast<const sockaddr*>(to),
                  static_cast<socklen_t>(tolen));
}

long RecvFrom(int fd, void* buf, size_t len, int flags, void* from, int* fromlen) {
    socklen_t size = fromlen ? static_cast<socklen_t>(*fromlen) : 0;
    long result = recvfrom(fd, buf, len, flags, static_cast<sockaddr*>(from), from ? &size : nullptr);
    if (result >= 0 && fromlen) *fromlen = static_cast<int>(size);
    return result;
}

int Shutdown(int fd, int how) {
    return shutdown(fd, how);
}

int Close(int fd) {
    return close(fd);
}

int SetNonBlocking(int fd, bool on) {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return -1;
    return fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

bool IsNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK) != 0;
}

bool IsListening(int fd) {
    int on = 0;
    socklen_t size = sizeof on;
    return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &on, &size) == 0 && on != 0;
}

int PendingBytes(int fd, int* count) {
    return ioctl(fd, FIONREAD, count);
}

int TakeSocketError(int fd) {
    int err = 0;
    socklen_t size = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &size) < 0) return errno;
    return err;
}

int SetOption(int fd, int level, int name, const char* value, int len) {
    const SOPTION* option = FindOption(level, name);
    if (!option) return -1;
    if (!value || len < 1) {
        errno = EFAULT;
        return -1;
    }
    if (option->level == SOL_SOCKET && option->name == SO_LINGER) {
        if (len < static_cast<int>(sizeof(WINLINGER))) {
            errno = EFAULT;
            return -1;
        }
        WINLINGER win;
        std::memcpy(&win, value, sizeof win);
        struct linger host = {win.onoff != 0, win.seconds};
        return setsockopt(fd, SOL_SOCKET, SO_LINGER, &host, sizeof host);
    }
    int v = IntValue(value, len);
    if (IsTimeout(*option)) {
        timeval tv = {v / 1000, (v % 1000) * 1000};
        return setsockopt(fd, option->level, option->name, &tv, sizeof tv);
    }
    return setsockopt(fd, option->level, option->name, &v, sizeof v);
}

int GetOption(int fd, int level, int name, char* value, int* len) {
    const SOPTION* option = FindOption(level, name);
    if (!option) return -1;
    if (!value || !len || *len < 1) {
        errno = EFAULT;
        return -1;
    }
    if (option->level == SOL_SOCKET && option->name == SO_LINGER) {
        struct linger host = {};
        socklen_t size = sizeof host;
        if (*len < static_cast<int>(sizeof(WINLINGER))) {
            errno = EFAULT;
            return -1;
        }
        if (getsockopt(fd, SOL_SOCKET, SO_LINGER, &host, &size) < 0) return -1;
        WINLINGER win = {static_cast<uint16_t>(host.l_onoff != 0), static_cast<uint16_t>(host.l_linger)};
        std::memcpy(value, &win, sizeof win);
        *len = sizeof win;
        return 0;
    }
    int v = 0;
    if (IsTimeout(*option)) {
        timeval tv = {};
        socklen_t size = sizeof tv;
        if (getsockopt(fd, option->level, option->name, &tv, &size) < 0) return -1;
        v = static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
    } else {
        socklen_t size = sizeof v;
        if (getsockopt(fd, option->level, option->name, &v, &size) < 0) return -1;
    }
    if (*len < static_cast<int>(sizeof v)) {
        errno = EFAULT;
        return -1;
    }
    std::memcpy(value, &v, sizeof v);
    *len = sizeof v;
    return 0;
}

int SockName(int fd, void* addr, int* len) {
    socklen_t size = static_cast<socklen_t>(*len);
    int result = getsockname(fd, static_cast<sockaddr*>(addr), &size);
    if (result == 0) *len = static_cast<int>(size);
    return result;
}

int PeerName(int fd, void* addr, int* len) {
    socklen_t size = static_cast<socklen_t>(*len);
    int result = getpeername(fd, static_cast<sockaddr*>(addr), &size);
    if (result == 0) *len = static_cast<int>(size);
    return result;
}

int PollOne(int fd, short events, int timeoutMs) {
    pollfd p = {fd, events, 0};
    int result = poll(&p, 1, timeoutMs);
    if (result <= 0) return result;
    return p.revents;
}

int ResolveIPv4(const char* name, std::vector<uint32_t>& addrs, std::string& canonical) {
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    int result = getaddrinfo(name, nullptr, &hints, &found);
    switch (result) {
        case 0: break;
        case EAI_AGAIN: return 11002;
        case EAI_FAIL:
        case EAI_MEMORY:
        case EAI_SYSTEM: return 11003;
        case EAI_NODATA:
        case EAI_ADDRFAMILY: return 11004;
        default: return 11001;
    }
    canonical = found->ai_canonname ? found->ai_canonname : name;
    for (addrinfo* it = found; it; it = it->ai_next) {
        uint32_t addr = reinterpret_cast<sockaddr_in*>(it->ai_addr)->sin_addr.s_addr;
        bool seen = false;
        for (uint32_t known : addrs) seen = seen || known == addr;
        if (!seen) addrs.push_back(addr);
    }
    freeaddrinfo(found);
    return addrs.empty() ? 11004 : 0;
}

}  // namespace zbw::host
