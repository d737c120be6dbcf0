#include "platform/win32/Winsock.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/host/HostSocket.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/SocketEvent.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Wait.h"

namespace {

constexpr WORD kHighestVersion = MAKEWORD(2, 2);
std::atomic<int> g_startups{0};

int Fail(int code) {
    SetLastError(static_cast<DWORD>(code));
    return SOCKET_ERROR;
}

int FailFromErrno() {
    return Fail(zbw::WsaErrorFromErrno(errno));
}

// getaddrinfo returns its code as well as setting it.
int FailCode(int code) {
    SetLastError(static_cast<DWORD>(code));
    return code;
}

bool Started() {
    if (g_startups.load() > 0) return true;
    SetLastError(WSANOTINITIALISED);
    return false;
}

// Descriptors above INT_MAX cannot be ours.
bool ToFd(SOCKET s, int& fd) {
    if (s > static_cast<SOCKET>(INT_MAX)) {
        SetLastError(WSAENOTSOCK);
        return false;
    }
    fd = static_cast<int>(s);
    return true;
}

bool AddressFits(const int* len) {
    return len && *len >= static_cast<int>(sizeof(sockaddr_in));
}

void CopyText(char* to, size_t size, const char* text) {
    std::strncpy(to, text, size - 1);
    to[size - 1] = 0;
}

// One part of a dotted address: decimal, octal (leading 0) or hexadecimal (leading 0x).
bool ParsePart(const char*& p, unsigned long& value) {
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
        if (!std::isxdigit(static_cast<unsigned char>(*p))) return false;
    } else if (p[0] == '0') {
        base = 8;
    }
    if (!std::isxdigit(static_cast<unsigned char>(*p))) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(p, &end, base);
    if (errno || end == p || value > 0xffffffffUL) return false;
    p = end;
    return true;
}

ULONG Swap32(ULONG v) {
    if constexpr (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) return __builtin_bswap32(v);
    return v;
}

u_short Swap16(u_short v) {
    if constexpr (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) return __builtin_bswap16(v);
    return v;
}

// The per-thread record gethostbyname hands out.
struct SHOSTRECORD {
    hostent entry = {};
    std::string name;
    std::vector<uint32_t> addrs;
    std::vector<char*> list;
    char* aliases[1] = {nullptr};
};

// One getaddrinfo entry with its address in the same block.
struct SADDRINFOBLOCK {
    addrinfo info;
    sockaddr_in address;
};

struct SPOLLSET {
    std::vector<pollfd> fds;
    std::vector<SOCKET> sockets;
};

void AddToPoll(SPOLLSET& set, WSAFDSET* sockets, short events) {
    if (!sockets) return;
    for (u_int i = 0; i < sockets->fd_count && i < FD_SETSIZE; ++i) {
        SOCKET s = sockets->fd_array[i];
        size_t at = 0;
        while (at < set.sockets.size() && set.sockets[at] != s) ++at;
        if (at == set.sockets.size()) {
            set.sockets.push_back(s);
            set.fds.push_back(pollfd{static_cast<int>(s), 0, 0});
        }
        set.fds[at].events |= events;
    }
}

bool IsReady(short revents, char kind) {
    switch (kind) {
        case 'r': return revents & (POLLIN | POLLHUP | POLLERR);
        case 'w': return (revents & POLLOUT) && !(revents & POLLERR);
        default: return revents & (POLLPRI | POLLERR);
    }
}

// Keeps only the ready sockets of one set; returns how many stayed.
int KeepReady(const SPOLLSET& set, WSAFDSET* sockets, char kind) {
    if (!sockets) return 0;
    u_int kept = 0;
    for (u_int i = 0; i < sockets->fd_count && i < FD_SETSIZE; ++i) {
        SOCKET s = sockets->fd_array[i];
        for (size_t at = 0; at < set.sockets.size(); ++at) {
            if (set.sockets[at] == s && IsReady(set.fds[at].revents, kind)) {
                sockets->fd_array[kept++] = s;
                break;
            }
        }
    }
    sockets->fd_count = kept;
    return static_cast<int>(kept);
}

int CountReady(const SPOLLSET& set) {
    int ready = 0;
    for (const pollfd& p : set.fds) {
        if ((p.events & POLLIN) && IsReady(p.revents, 'r')) ++ready;
        if ((p.events & POLLOUT) && IsReady(p.revents, 'w')) ++ready;
        if ((p.events & POLLPRI) && IsReady(p.revents, 'e')) ++ready;
    }
    return ready;
}

bool AnyInvalid(const SPOLLSET& set) {
    for (const pollfd& p : set.fds) {
        if (p.revents & POLLNVAL) return true;
    }
    return false;
}

}  // namespace

namespace zbw {

int WsaErrorFromErrno(int err) {
    switch (err) {
        case 0: return 0;
        case EINTR: return WSAEINTR;
        case EBADF:
        case ENOTSOCK: return WSAENOTSOCK;
        case EACCES:
        case EPERM: return WSAEACCES;
        case EFAULT: return WSAEFAULT;
        case EINVAL: return WSAEINVAL;
        case EMFILE:
        case ENFILE: return WSAEMFILE;
        case EAGAIN:
        case EINPROGRESS: return WSAEWOULDBLOCK;
        case EALREADY: return WSAEALREADY;
        case EDESTADDRREQ: return WSAEDESTADDRREQ;
        case EMSGSIZE: return WSAEMSGSIZE;
        case EPROTOTYPE: return WSAEPROTOTYPE;
        case ENOPROTOOPT: return WSAENOPROTOOPT;
        case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
        case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
        case EOPNOTSUPP: return WSAEOPNOTSUPP;
        case EAFNOSUPPORT:
        case EPFNOSUPPORT: return WSAEAFNOSUPPORT;
        case EADDRINUSE: return WSAEADDRINUSE;
        case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
        case ENETDOWN: return WSAENETDOWN;
        case ENETUNREACH: return WSAENETUNREACH;
        case ENETRESET: return WSAENETRESET;
        case ECONNABORTED: return WSAECONNABORTED;
        case ECONNRESET:
        case EPIPE: return WSAECONNRESET;
        case ENOBUFS:
        case ENOMEM: return WSAENOBUFS;
        case EISCONN: return WSAEISCONN;
        case ENOTCONN: return WSAENOTCONN;
        case ESHUTDOWN: return WSAESHUTDOWN;
        case ETIMEDOUT: return WSAETIMEDOUT;
        case ECONNREFUSED: return WSAECONNREFUSED;
        case EHOSTDOWN: return WSAEHOSTDOWN;
        case EHOSTUNREACH: return WSAEHOSTUNREACH;
        default: return WSAEINVAL;
    }
}

void FdSetAdd(SOCKET s, WSAFDSET* set) {
    for (u_int i = 0; i < set->fd_count; ++i) {
        if (set->fd_array[i] == s) return;
    }
    if (set->fd_count < FD_SETSIZE) set->fd_array[set->fd_count++] = s;
}

void FdSetRemove(SOCKET s, WSAFDSET* set) {
    for (u_int i = 0; i < set->fd_count; ++i) {
        if (set->fd_array[i] != s) continue;
        set->fd_array[i] = set->fd_array[--set->fd_count];
        return;
    }
}

}  // namespace zbw

int __WSAFDIsSet(SOCKET s, WSAFDSET* set) {
    for (u_int i = 0; i < set->fd_count && i < FD_SETSIZE; ++i) {
        if (set->fd_array[i] == s) return 1;
    }
    return 0;
}

int WSAStartup(WORD versionRequested, LPWSADATA data) {
    BYTE major = LOBYTE(versionRequested);
    BYTE minor = HIBYTE(versionRequested);
    if (major < 1 || (major == 1 && minor < 1)) return WSAVERNOTSUPPORTED;
    if (!data) return WSAEFAULT;
    std::memset(data, 0, sizeof *data);
    bool above = major > 2 || (major == 2 && minor > 2);
    data->wVersion = above ? kHighestVersion : versionRequested;
    data->wHighVersion = kHighestVersion;
    CopyText(data->szDescription, sizeof data->szDescription, "WinSock 2.0");
    CopyText(data->szSystemStatus, sizeof data->szSystemStatus, "Running");
    g_startups.fetch_add(1);
    return 0;
}

int WSACleanup() {
    int count = g_startups.load();
    while (count > 0 && !g_startups.compare_exchange_weak(count, count - 1)) {
    }
    if (count <= 0) return Fail(WSANOTINITIALISED);
    return 0;
}

int WSAGetLastError() {
    return static_cast<int>(GetLastError());
}

void WSASetLastError(int error) {
    SetLastError(static_cast<DWORD>(error));
}

SOCKET socket(int af, int type, int protocol) {
    if (!Started()) return INVALID_SOCKET;
    int fd = zbw::host::Socket(af, type, protocol);
    if (fd < 0) {
        FailFromErrno();
        return INVALID_SOCKET;
    }
    return static_cast<SOCKET>(fd);
}

SOCKET WSASocketW(int af, int type, int protocol, LPWSAPROTOCOL_INFOW info, GROUP, DWORD) {
    if (info) {
        Fail(WSAEINVAL);
        return INVALID_SOCKET;
    }
    return socket(af, type, protocol);
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
    int fd;
    if (!ToFd(s, fd)) return SOCKET_ERROR;
    if (!name || !AddressFits(&namelen)) return Fail(WSAEFAULT);
    return zbw::host::Bind(fd, name, namelen) == 0 ? 0 : FailFromErrno();
}

int listen(SOCKET s, int backlog) {
    int fd;
    if (!ToFd(s, fd)) return SOCKET_ERROR;
    return zbw::host::Listen(fd, backlog) == 0 ? 0 : FailFromErrno();
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
    int fd;
    if (!ToFd(s, fd)) return INVALID_SOCKET;
    if (addr && !AddressFits(addrlen)) {
        Fail(WSAEFAULT);
        return INVALID_SOCKET;
    }
    int got = zbw::host::Accept(fd, addr, addr ? addrlen : nullptr);
    int err = errno;
    zbw::RearmSocketEvents(s, FD_ACCEPT);
    if (got < 0) {
        Fail(zbw::WsaErrorFromErrno(err));
        return INVALID_SOCKET;
    }
    if (zbw::IsEventSelected(s)) zbw::host::SetNonBlocking(got, true);
    return static_cast<SOCKET>(got);
}

SOCKET WSAAccept(SOCKET s, sockaddr* addr, int* addrlen, LPCONDITIONPROC condition, DWORD_PTR) {
    if (condition) {
        Fail(WSAEOPNOTSUPP);
        return INVALID_SOCKET;
    }
    return accept(s, addr, addrlen);
}

int connect(SOCKET s, const sockaddr* name, int namelen) {
    int fd;
    if (!ToFd(s, fd)) return SOCKET_ERROR;
    if (!name || !AddressFits(&namelen)) return Fail(WSAEFAULT);
    int result = zbw::host::Connect(fd, name, namelen);
    int err = errno;
    if (result == 0 || err == EINPROGRESS) zbw::NoteConnectStarted(s);
    return result == 0 ? 0 : Fail(zbw::WsaErrorFromErrno(err));
}

int send(SOCKET s, const char* buf, int len, int flags) {
    int fd;
    if (!ToFd(s, fd)) return SOCKET_ERROR;
    if (len < 0) return Fail(WSAEINVAL);
    if (!buf && len > 0) return Fail(WSAEFAULT);
    long sent = zbw::host::Send(fd, buf, static_cast<size_t>(len), flags);
    if (sent >= 0) return static_cast<int>(sent);
    int err = errno;
    if (err == EAGAIN) zbw::RearmSocketEvents(s, FD_WRITE);
    return Fail(zbw::WsaErrorFromErrno(err));
}

int recv(SOCKET s, char* buf, int len, int flags) {
    int fd;
    if (!ToFd(s, fd)) return SOCKET_ERROR;
    if (len < 0) return Fail(WSAEINVAL);
    if (!buf && len > 0) return Fail(WSAEFAULT);
    long got = zbw::host::Recv(fd, buf, static_cast<size_t>(len), flags);
    int err = errno;
    zbw::RearmSocketEvents(s, FD_READ);
    return got >= 0 ? static_cast<int>(got) : Fail(zbw::WsaErrorFromErrno(err));
}

int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen) {
    int fd;
    if (!ToFd(s, fd)) return SOCKET_ERROR;
    if (len < 0) return Fail(WSAEINVAL);
    if ((!buf && len > 0) || (to && !AddressFits(&tolen))) return Fail(WSAEFAULT);
    long sent = zbw::host::SendTo(fd, buf, static_cast<size_t>(len), flags, to, to ? tolen : 0);
    return sent >= 0 ? static_cast<int>(sent) : FailFromErrno();
}

int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
    int fd;
    if (!ToFd(s, fd)) return SOCKET_ERROR;
    if (len < 0) return Fail(WSAEINVAL);
    if ((!buf && len > 0) || (from && !AddressFits(fromlen))) return Fail(WSAEFAULT);
    long got = zbw::host::RecvFrom(fd, buf, static_cast<size_t>(len), flags, from, from ? fromlen : nullptr);
    int err = errno;
    zbw::RearmSocketEvents(s, FD_READ);
    return got >= 0 ? static_cast<int>(got) : Fail(zbw::WsaErrorFromErrno(err));
}

int WSASend(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD flags, LPWSAOVERLAPPED overlapped,
            LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
    if (overlapped || completion) return Fail(WSAEINVAL);
    if (!buffers || count == 0) return Fail(WSAEFAULT);
    std::string joined;
    for (DWORD i = 0; i < count; ++i) {
        if (!buffers[i].buf && buffers[i].len) return Fail(WSAEFAULT);
        joined.append(buffers[i].buf ? buffers[i].buf : "", buffers[i].len);
    }
    if (joined.size() > static_cast<size_t>(INT_MAX)) return Fail(WSAENOBUFS);
    int done = send(s, joined.data(), static_cast<int>(joined.size()), static_cast<int>(flags));
    if (done == SOCKET_ERROR) return SOCKET_ERROR;
    if (sent) *sent = static_cast<DWORD>(done);
    return 0;
}

int WSARecv(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD received, LPDWORD flags,
            LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
    if (overlapped || completion) return Fail(WSAEINVAL);
    if (!buffers || count == 0 || !flags) return Fail(WSAEFAULT);
    size_t total = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (!buffers[i].buf && buffers[i].len) return Fail(WSAEFAULT);
        total += buffers[i].len;
    }
    if (total > static_cast<size_t>(INT_MAX)) return Fail(WSAENOBUFS);
    std::vector<char> bytes(total);
    int got = recv(s, bytes.data(), static_cast<int>(total), static_cast<int>(*flags));
    if (got == SOCKET_ERROR) return SOCKET_ERROR;
    size_t at = 0;
    for (DWORD i = 0; i < count && at < static_cast<size_t>(got); ++i) {
        size_t piece = std::min<size_t>(buffers[i].len, static_cast<size_t>(got) - at);
        std::memcpy(buffers[i].buf, bytes.data() + at, piece);
        at += piece;
    }
    if (received) *received = static_cast<DWORD>(got);
    *flags = 0;
    return 0;
}

int shutdown(SOCKET s, int how) {
    int fd;
    if (!ToFd(s, fd)) return SOCKET_ERROR;
    if (how < SD_RECEIVE || how > SD_BOTH) return Fail(WSAEINVAL);
    return zbw::host::Shutdown(fd, how) == 0 ? 0 : FailFromErrno();
}

int closesocket(SOCKET s) {
    int fd;
    if (!ToFd(s, fd)) return SOCKET_ERROR;
    zbw::ForgetSocket(s);
    return zbw::host::Close(fd) == 0 ? 0 : FailFromErrno();
}

int select(int, WSAFDSET* readfds, WSAFDSET* writefds, WSAFDSET* exceptfds, const timeval* timeout) {
    SPOLLSET set;
    AddToPoll(set, readfds, POLLIN);
    AddToPoll(set, writefds, POLLOUT);
    AddToPoll(set, exceptfds, POLLPRI);
    if (set.fds.empty()) return Fail(WSAEINVAL);
    if (timeout && (timeout->tv_sec < 0 || timeout->tv_usec < 0)) return Fail(WSAEINVAL);
    DWORD ms = INFINITE;
    if (timeout) {
        long long total = static_cast<long long>(timeout->tv_sec) * 1000 + (timeout->tv_usec + 999) / 1000;
        ms = static_cast<DWORD>(std::min<long long>(total, INFINITE - 1));
    }
    int64_t deadline = zbw::DeadlineAfter(ms);
    for (;;) {
        int64_t remaining = zbw::RemainingUntil(deadline);
        int result = poll(set.fds.data(), set.fds.size(), zbw::PollSliceMs(remaining));
        if (result < 0 && errno != EINTR) return FailFromErrno();
        if (result > 0 && AnyInvalid(set)) return Fail(WSAENOTSOCK);
        if (result > 0 && CountReady(set) > 0) break;
        if (remaining == 0) break;
        for (pollfd& p : set.fds) p.revents = 0;
    }
    return KeepReady(set, readfds, 'r') + KeepReady(set, writefds, 'w') + KeepReady(set, exceptfds, 'e');
}

int ioctlsocket(SOCKET s, long cmd, u_long* argp) {
    int fd;
    if (!ToFd(s, fd)) return SOCKET_ERROR;
    if (!argp) return Fail(WSAEFAULT);
    if (cmd == FIONBIO) {
        if (*argp == 0 && zbw::IsEventSelected(s)) return Fail(WSAEINVAL);
        return zbw::host::SetNonBlocking(fd, *argp != 0) == 0 ? 0 : FailFromErrno();
    }
    if (cmd == FIONREAD) {
        int pending = 0;
        if (zbw::host::PendingBytes(fd, &pending) < 0) return FailFromErrno();
        *argp = static_cast<u_long>(pending);
        return 0;
    }
    return Fail(WSAEINVAL);
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
    int fd;
    if (!ToFd(s, fd)) return SOCKET_ERROR;
    return zbw::host::SetOption(fd, level, optname, optval, optlen) == 0 ? 0 : FailFromErrno();
}

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
    int fd;
    if (!ToFd(s, fd)) return SOCKET_ERROR;
    if (zbw::host::GetOption(fd, level, optname, optval, optlen) != 0) return FailFromErrno();
    if (level == SOL_SOCKET && optname == SO_ERROR) {
        int err;
        std::memcpy(&err, optval, sizeof err);
        err = zbw::WsaErrorFromErrno(err);
        std::memcpy(optval, &err, sizeof err);
    }
    return 0;
}

int getsockname(SOCKET s, sockaddr* name, int* namelen) {
    int fd;
    if (!ToFd(s, fd)) return SOCKET_ERROR;
    if (!name || !AddressFits(namelen)) return Fail(WSAEFAULT);
    return zbw::host::SockName(fd, name, namelen) == 0 ? 0 : FailFromErrno();
}

int getpeername(SOCKET s, sockaddr* name, int* namelen) {
    int fd;
    if (!ToFd(s, fd)) return SOCKET_ERROR;
    if (!name || !AddressFits(namelen)) return Fail(WSAEFAULT);
    return zbw::host::PeerName(fd, name, namelen) == 0 ? 0 : FailFromErrno();
}

ULONG inet_addr(const char* cp) {
    if (!cp || !*cp) return INADDR_NONE;
    unsigned long parts[4];
    int count = 0;
    const char* p = cp;
    for (;;) {
        if (count == 4 || !ParsePart(p, parts[count])) return INADDR_NONE;
        ++count;
        if (*p != '.') break;
        ++p;
    }
    if (*p != 0) return INADDR_NONE;
    unsigned long value = parts[count - 1];
    unsigned long lastMax = count == 1   ? 0xffffffffUL
                            : count == 2 ? 0xffffffUL
                            : count == 3 ? 0xffffUL
                                         : 0xffUL;
    if (value > lastMax) return INADDR_NONE;
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xff) return INADDR_NONE;
        value |= parts[i] << (24 - 8 * i);
    }
    return htonl(static_cast<ULONG>(value));
}

char* inet_ntoa(in_addr in) {
    thread_local char text[16];
    const auto& b = in.S_un.S_un_b;
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b.s_b1, b.s_b2, b.s_b3, b.s_b4);
    return text;
}

u_short htons(u_short value) {
    return Swap16(value);
}

u_short ntohs(u_short value) {
    return Swap16(value);
}

ULONG htonl(ULONG value) {
    return Swap32(value);
}

ULONG ntohl(ULONG value) {
    return Swap32(value);
}

hostent* gethostbyname(const char* name) {
    if (!Started()) return nullptr;
    if (!name) {
        Fail(WSAEFAULT);
        return nullptr;
    }
    thread_local SHOSTRECORD record;
    record.addrs.clear();
    int error = zbw::host::ResolveIPv4(name, record.addrs, record.name);
    if (error) {
        Fail(error);
        return nullptr;
    }
    record.list.clear();
    for (uint32_t& addr : record.addrs) record.list.push_back(reinterpret_cast<char*>(&addr));
    record.list.push_back(nullptr);
    record.entry.h_name = record.name.data();
    record.entry.h_aliases = record.aliases;
    record.entry.h_addrtype = AF_INET;
    record.entry.h_length = 4;
    record.entry.h_addr_list = record.list.data();
    return &record.entry;
}

int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
    if (!result) return FailCode(WSAEFAULT);
    *result = nullptr;
    if (!Started()) return WSANOTINITIALISED;  // Started() set it
    addrinfo want = hints ? *hints : addrinfo{};
    if (want.ai_family != AF_UNSPEC && want.ai_family != AF_INET) return FailCode(WSAEAFNOSUPPORT);
    if (!node && !service) return FailCode(WSAHOST_NOT_FOUND);
    unsigned long port = 0;
    if (service) {
        char* end = nullptr;
        port = std::strtoul(service, &end, 10);
        if (!*service || *end || port > 0xffff) return FailCode(WSAHOST_NOT_FOUND);
    }
    std::vector<uint32_t> addrs;
    std::string canonical;
    if (!node) {
        addrs.push_back(htonl((want.ai_flags & AI_PASSIVE) ? INADDR_ANY : INADDR_LOOPBACK));
    } else if ((want.ai_flags & AI_NUMERICHOST) && inet_addr(node) == INADDR_NONE) {
        return FailCode(WSAHOST_NOT_FOUND);
    } else if (int error = zbw::host::ResolveIPv4(node, addrs, canonical)) {
        return FailCode(error);
    }
    addrinfo** tail = result;
    for (uint32_t addr : addrs) {
        auto* block = new SADDRINFOBLOCK{};
        block->address.sin_family = AF_INET;
        block->address.sin_port = htons(static_cast<u_short>(port));
        block->address.sin_addr.s_addr = addr;
        block->info.ai_family = AF_INET;
        block->info.ai_socktype = want.ai_socktype;
        block->info.ai_protocol = want.ai_protocol;
        block->info.ai_addrlen = sizeof(sockaddr_in);
        block->info.ai_addr = reinterpret_cast<sockaddr*>(&block->address);
        if (tail == result && (want.ai_flags & AI_CANONNAME)) {
            block->info.ai_canonname = new char[canonical.size() + 1];
            std::memcpy(block->info.ai_canonname, canonical.c_str(), canonical.size() + 1);
        }
        *tail = &block->info;
        tail = &block->info.ai_next;
    }
    SetLastError(0);
    return 0;
}

void freeaddrinfo(addrinfo* info) {
    while (info) {
        addrinfo* next = info->ai_next;
        delete[] info->ai_canonname;
        delete reinterpret_cast<SADDRINFOBLOCK*>(info);
        info = next;
    }
}

WSAEVENT WSACreateEvent() {
    return zbw::NewHandle(new CSocketEvent());
}

BOOL WSACloseEvent(WSAEVENT event) {
    return CloseHandle(event);
}

BOOL WSASetEvent(WSAEVENT event) {
    return SetEvent(event);
}

BOOL WSAResetEvent(WSAEVENT event) {
    return ResetEvent(event);
}

int WSAEventSelect(SOCKET s, WSAEVENT event, long networkEvents) {
    return zbw::SelectSocketEvents(s, event, networkEvents) ? 0 : SOCKET_ERROR;
}

int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, LPWSANETWORKEVENTS networkEvents) {
    return zbw::TakeNetworkEvents(s, event, networkEvents) ? 0 : SOCKET_ERROR;
}

DWORD WSAWaitForMultipleEvents(DWORD count, const WSAEVENT* events, BOOL waitAll, DWORD timeoutMs, BOOL) {
    return WaitForMultipleObjects(count, events, waitAll, timeoutMs);
}
