#include "platform/win32/SocketEvent.h"

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/host/HostSocket.h"

namespace {

// What WSAEventSelect keeps per socket.
struct SSELECTION {
    long mask = 0;
    long armed = 0;  // events that may be recorded now
    long recorded = 0;
    int errors[FD_MAX_EVENTS] = {};
    bool listening = false;
    bool connecting = false;
    bool connected = false;
    bool eof = false;
    CKernelRef event;

    CSocketEvent* Event() const { return event.As<CSocketEvent>(); }
};

std::mutex g_lock;

// Server threads may still wait on their events while the program exits: the table is made on
// first use and never destroyed, as the layer's other tables.
std::map<int, SSELECTION>& Selections() {
    static auto* selections = new std::map<int, SSELECTION>;
    return *selections;
}

void Record(SSELECTION& sel, int bit, int error) {
    sel.recorded |= 1L << bit;
    sel.armed &= ~(1L << bit);
    sel.errors[bit] = error;
}

int PendingError(int fd) {
    int err = zbw::host::TakeSocketError(fd);
    return err ? zbw::WsaErrorFromErrno(err) : 0;
}

// The conditions still to be recorded, as epoll events; hang-up and errors always wake epoll,
// so a socket with nothing left to record is not watched at all.
uint32_t WatchEvents(const SSELECTION& sel) {
    uint32_t events = 0;
    if (sel.connecting) return (sel.armed & (FD_CONNECT | FD_WRITE)) ? static_cast<uint32_t>(EPOLLOUT) : 0u;
    if (sel.listening) return (sel.armed & FD_ACCEPT) ? static_cast<uint32_t>(EPOLLIN) : 0u;
    if (!sel.eof) {
        if (sel.armed & FD_READ) events |= EPOLLIN;
        if ((sel.armed & FD_CLOSE) && ((sel.armed & FD_READ) || !(sel.mask & FD_READ))) events |= EPOLLRDHUP;
    }
    if (sel.armed & FD_WRITE) events |= EPOLLOUT;
    return events;
}

void RefreshConnecting(int fd, SSELECTION& sel, int seen) {
    if (!(seen & (POLLOUT | POLLERR | POLLHUP))) return;
    sel.connecting = false;
    int error = PendingError(fd);
    if (sel.armed & FD_CONNECT) Record(sel, FD_CONNECT_BIT, error);
    sel.connected = error == 0;
    if (error) sel.armed &= ~FD_WRITE;
}

void RefreshStream(int fd, SSELECTION& sel, int seen) {
    if (!sel.connected) {
        sockaddr_in peer;
        int len = sizeof peer;
        sel.connected = zbw::host::PeerName(fd, &peer, &len) == 0;
        if (!sel.connected) return;
    }
    int pending = 0;
    if (zbw::host::PendingBytes(fd, &pending) < 0) pending = 0;
    if ((sel.armed & FD_READ) && pending > 0) Record(sel, FD_READ_BIT, 0);
    if ((sel.armed & FD_WRITE) && (seen & POLLOUT)) Record(sel, FD_WRITE_BIT, 0);
    bool closed = seen & (POLLRDHUP | POLLHUP | POLLERR);
    if (!sel.eof && closed && (pending == 0 || !(sel.mask & FD_READ))) {
        sel.eof = true;
        int error = (seen & POLLERR) ? PendingError(fd) : 0;
        if (sel.armed & FD_CLOSE) Record(sel, FD_CLOSE_BIT, error);
    }
}

// Records what has happened on the socket since the last look; under g_lock.
void Refresh(int fd, SSELECTION& sel) {
    int seen = zbw::host::PollOne(fd, POLLIN | POLLOUT | POLLRDHUP, 0);
    if (seen > 0) {
        if (sel.connecting) {
            RefreshConnecting(fd, sel, seen);
        } else if (sel.listening) {
            if ((sel.armed & FD_ACCEPT) && (seen & POLLIN)) Record(sel, FD_ACCEPT_BIT, 0);
        }
        if (!sel.connecting && !sel.listening) RefreshStream(fd, sel, seen);
    }
    CSocketEvent* event = sel.Event();
    event->Watch(fd, WatchEvents(sel));
    if (sel.recorded) event->Set();
}

void Forget(std::map<int, SSELECTION>::iterator it) {
    it->second.Event()->Detach(it->first);
    Selections().erase(it);
}

bool IsSocket(int fd) {
    int type = 0;
    int len = sizeof type;
    if (zbw::host::GetOption(fd, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len) == 0) return true;
    SetLastError(WSAENOTSOCK);
    return false;
}

}  // namespace

CSocketEvent::CSocketEvent() : CEventObject(true, false), m_epoll(epoll_create1(EPOLL_CLOEXEC)) {
    if (m_epoll < 0 || CEventObject::WaitFd() < 0) return;
    epoll_event own = {};
    own.events = EPOLLIN;
    own.data.fd = CEventObject::WaitFd();
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, own.data.fd, &own);
}

CSocketEvent::~CSocketEvent() {
    if (m_epoll >= 0) close(m_epoll);
}

CKernelObject::Acquire CSocketEvent::TryAcquire() {
    Refresh();
    return CEventObject::TryAcquire();
}

bool CSocketEvent::IsSignalled() {
    Refresh();
    return CEventObject::IsSignalled();
}

// The set watches every condition still to be recorded: while it is quiet no socket has one.
bool CSocketEvent::Quiet() const {
    return m_epoll >= 0 && zbw::host::PollOne(m_epoll, POLLIN, 0) == 0;
}

int CSocketEvent::WaitFd() const {
    return m_epoll >= 0 ? m_epoll : CEventObject::WaitFd();
}

void CSocketEvent::Attach(int fd) {
    m_sockets.push_back(WATCHED{fd, 0});
}

void CSocketEvent::Detach(int fd) {
    Watch(fd, 0);
    std::erase_if(m_sockets, [fd](const WATCHED& socket) { return socket.fd == fd; });
}

// Every wait looks at the sockets again; the epoll set changes only when what is watched does.
void CSocketEvent::Watch(int fd, uint32_t events) {
    if (m_epoll < 0) return;
    auto socket =
        std::find_if(m_sockets.begin(), m_sockets.end(), [fd](const WATCHED& s) { return s.fd == fd; });
    if (socket == m_sockets.end() || socket->events == events) return;
    epoll_event watch = {};
    watch.events = events;
    watch.data.fd = fd;
    if (events == 0) {
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    } else {
        const int op = socket->events ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
        // The set and this record disagree only when a descriptor was closed behind our back.
        if (epoll_ctl(m_epoll, op, fd, &watch) < 0 &&
            epoll_ctl(m_epoll, op == EPOLL_CTL_MOD ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &watch) < 0)
            return;
    }
    socket->events = events;
}

void CSocketEvent::Refresh() {
    if (Quiet()) return;
    std::lock_guard<std::mutex> guard(g_lock);
    for (const WATCHED& socket : m_sockets) {
        auto it = Selections().find(socket.fd);
        if (it != Selections().end()) ::Refresh(socket.fd, it->second);
    }
}

namespace zbw {

bool SelectSocketEvents(SOCKET s, WSAEVENT event, long mask) {
    int fd = static_cast<int>(s);
    if (!IsSocket(fd)) return false;
    std::lock_guard<std::mutex> guard(g_lock);
    auto old = Selections().find(fd);
    if (old != Selections().end()) Forget(old);
    if (mask == 0) return true;
    CKernelRef ref = LookupHandle(event);
    if (!ref.As<CSocketEvent>()) {
        SetLastError(WSAEINVAL);
        return false;
    }
    if (host::SetNonBlocking(fd, true) < 0) {
        SetLastError(WsaErrorFromErrno(errno));
        return false;
    }
    SSELECTION& sel = Selections()[fd];
    sel.mask = mask;
    sel.armed = mask;
    sel.listening = host::IsListening(fd);
    sel.event = ref;
    sel.Event()->Attach(fd);
    ::Refresh(fd, sel);
    return true;
}

bool TakeNetworkEvents(SOCKET s, WSAEVENT event, WSANETWORKEVENTS* out) {
    int fd = static_cast<int>(s);
    if (!out) {
        SetLastError(WSAEFAULT);
        return false;
    }
    // A selected descriptor was a socket when it was selected.
    if (!IsEventSelected(s) && !IsSocket(fd)) return false;
    CKernelRef ref;
    if (event) {
        ref = LookupHandle(event);
        if (!ref.As<CEventObject>()) {
            SetLastError(WSAEINVAL);
            return false;
        }
    }
    std::memset(out, 0, sizeof *out);
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = Selections().find(fd);
    if (it != Selections().end()) {
        SSELECTION& sel = it->second;
        if (!sel.Event()->Quiet()) ::Refresh(fd, sel);
        out->lNetworkEvents = sel.recorded;
        std::memcpy(out->iErrorCode, sel.errors, sizeof out->iErrorCode);
        sel.recorded = 0;
        std::memset(sel.errors, 0, sizeof sel.errors);
    }
    if (ref) ref.As<CEventObject>()->Reset();
    return true;
}

void RearmSocketEvents(SOCKET s, long events) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = Selections().find(static_cast<int>(s));
    if (it == Selections().end()) return;
    SSELECTION& sel = it->second;
    sel.armed |= events & sel.mask;
    sel.Event()->Watch(it->first, WatchEvents(sel));
}

void NoteConnectStarted(SOCKET s) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = Selections().find(static_cast<int>(s));
    if (it == Selections().end()) return;
    SSELECTION& sel = it->second;
    sel.connecting = true;
    sel.armed |= (FD_CONNECT | FD_WRITE | FD_READ | FD_CLOSE) & sel.mask;
    sel.Event()->Watch(it->first, WatchEvents(sel));
}

bool IsEventSelected(SOCKET s) {
    std::lock_guard<std::mutex> guard(g_lock);
    return Selections().count(static_cast<int>(s)) != 0;
}

void ForgetSocket(SOCKET s) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = Selections().find(static_cast<int>(s));
    if (it != Selections().end()) Forget(it);
}

}  // namespace zbw
