#include "common/CSCvs.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/base/Clock.h"

namespace {

constexpr u_short kLingerSeconds = 500;
// How long a send on a non-blocking socket waits for room before it gives up.
constexpr DWORD kSendStallMs = 3000;

struct CSCVSSLOT {
    bool used;
    SOCKET sock;
    sockaddr_in addr;
    char host[CSCVS_HOST_MAX + 1];
    ULONG ip;
    u_short port;
    sockaddr_in lastPeer;
    bool connected;
    bool watched;  // selected onto the watch event, so non-blocking
};

CSCVSSLOT g_slots[CSCVS_SLOTS];
int g_listenSlot = -1;
std::mutex g_slotLock;
WSAEVENT g_watchEvent = nullptr;

CSCVSSLOT* Slot(int slot) {
    if (slot < 0 || slot >= CSCVS_SLOTS || !g_slots[slot].used) return nullptr;
    return &g_slots[slot];
}

void Watch(CSCVSSLOT& s) {
    if (!g_watchEvent) return;
    WSAEventSelect(s.sock, g_watchEvent, FD_ACCEPT | FD_READ | FD_CLOSE);
    s.watched = true;
}

int SocketError() {
    int err = WSAGetLastError();
    return err ? -err : -1;
}

void FreeSlot(CSCVSSLOT& s) {
    std::lock_guard<std::mutex> guard(g_slotLock);
    s = CSCVSSLOT{};
    s.sock = INVALID_SOCKET;
}

int CloseWithLinger(int slot, CSCVSSLOT& s, u_short onOff, u_short seconds) {
    LINGER lg = {onOff, seconds};
    setsockopt(s.sock, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&lg), sizeof lg);
    closesocket(s.sock);
    if (g_listenSlot == slot) g_listenSlot = -1;
    FreeSlot(s);
    return CSCVS_OK;
}

// One to four dot-separated decimal numbers, each below 256.
bool IsDottedAddress(const char* text) {
    int parts = 0;
    const char* p = text;
    for (;;) {
        int value = 0;
        int digits = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + (*p++ - '0');
            if (++digits > 3) return false;
        }
        if (digits == 0 || value > 255) return false;
        ++parts;
        if (*p == 0) return parts <= 4;
        if (*p++ != '.' || parts == 4) return false;
    }
}

sockaddr_in Address(ULONG ip, int port) {
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = htonl(ip);
    return addr;
}

int FormatAddress(const sockaddr_in& addr, char* buffer, int size) {
    const auto& b = addr.sin_addr.S_un.S_un_b;
    return std::snprintf(buffer, static_cast<size_t>(size), "%1d.%1d.%1d.%1d", b.s_b1, b.s_b2, b.s_b3,
                         b.s_b4);
}

}  // namespace

int CSCvsAttach() {
    for (CSCVSSLOT& s : g_slots) FreeSlot(s);
    g_listenSlot = -1;
    WSADATA data;
    int result = WSAStartup(MAKEWORD(1, 1), &data);
    return result ? -result : CSCVS_OK;
}

int CSCvsRelease() {
    for (int i = 0; i < CSCVS_SLOTS; ++i) {
        if (g_slots[i].used) CSCvsClose(i);
    }
    g_watchEvent = nullptr;
    WSACleanup();
    return CSCVS_OK;
}

int CSCvsGetNewSocket() {
    std::lock_guard<std::mutex> guard(g_slotLock);
    for (int i = 0; i < CSCVS_SLOTS; ++i) {
        CSCVSSLOT& s = g_slots[i];
        if (s.used) continue;
        SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (sock == INVALID_SOCKET) return CSCVS_NO_SOCKET;
        s.used = true;
        s.sock = sock;
        return i;
    }
    return CSCVS_NO_FREE_SLOT;
}

int CSCvsResolve(const char* host, ULONG* address) {
    if (std::strlen(host) > CSCVS_HOST_MAX) return CSCVS_HOST_TOO_LONG;
    ULONG ip;
    if (IsDottedAddress(host)) {
        ip = ntohl(inet_addr(host));
    } else {
        hostent* found = gethostbyname(host);
        if (!found) return SocketError();
        ULONG net;
        std::memcpy(&net, found->h_addr, sizeof net);
        ip = ntohl(net);
    }
    if (ip == 0) return CSCVS_ZERO_ADDRESS;
    *address = ip;
    return CSCVS_OK;
}

int CSCvsConnect(int slot, const char* host, int port) {
    CSCVSSLOT* s = Slot(slot);
    if (!s) return CSCVS_BAD_SLOT;
    int result = CSCvsResolve(host, &s->ip);
    if (result != CSCVS_OK) return result;
    std::snprintf(s->host, sizeof s->host, "%s", host);
    s->port = static_cast<u_short>(port);
    s->addr = Address(s->ip, port);
    if (connect(s->sock, reinterpret_cast<sockaddr*>(&s->addr), sizeof s->addr) == SOCKET_ERROR &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        return SocketError();
    }
    s->connected = true;
    return CSCVS_OK;
}

int CSCvsBind(int slot, const char* host, int port) {
    CSCVSSLOT* s = Slot(slot);
    if (!s) return CSCVS_BAD_SLOT;
    s->ip = INADDR_ANY;
    if (*host) {
        int result = CSCvsResolve(host, &s->ip);
        if (result != CSCVS_OK) return result;
    }
    std::snprintf(s->host, sizeof s->host, "%s", host);
    s->port = static_cast<u_short>(port);
    s->addr = Address(s->ip, port);
    if (bind(s->sock, reinterpret_cast<sockaddr*>(&s->addr), sizeof s->addr) == SOCKET_ERROR)
        return SocketError();
    return CSCVS_OK;
}

int CSCvsListen(int slot, int backlog) {
    CSCVSSLOT* s = Slot(slot);
    if (!s) return CSCVS_BAD_SLOT;
    if (listen(s->sock, backlog) == SOCKET_ERROR) return SocketError();
    Watch(*s);
    g_listenSlot = slot;
    return CSCVS_OK;
}

int CSCvsListenSlot() {
    return g_listenSlot;
}

int CSCvsAccept(int listenSlot) {
    CSCVSSLOT* l = Slot(listenSlot);
    if (!l) return CSCVS_BAD_SLOT;
    sockaddr_in peer = {};
    int len = sizeof peer;
    SOCKET sock = accept(l->sock, reinterpret_cast<sockaddr*>(&peer), &len);
    if (sock == INVALID_SOCKET) return SocketError();
    l->lastPeer = peer;
    std::lock_guard<std::mutex> guard(g_slotLock);
    for (int i = 0; i < CSCVS_SLOTS; ++i) {
        CSCVSSLOT& s = g_slots[i];
        if (s.used) continue;
        s.used = true;
        s.sock = sock;
        s.addr = peer;
        s.lastPeer = peer;
        s.ip = ntohl(peer.sin_addr.s_addr);
        s.port = ntohs(peer.sin_port);
        s.connected = true;
        Watch(s);
        return i;
    }
    closesocket(sock);
    return CSCVS_NO_ACCEPT_SLOT;
}

int CSCvsTest(int slot, int kind) {
    CSCVSSLOT* s = Slot(slot);
    if (!s) return CSCVS_BAD_SLOT;
    if (kind < CSCVS_WAIT_READ || kind > CSCVS_WAIT_ERROR) return CSCVS_BAD_WAIT;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s->sock, &set);
    timeval zero = {0, 0};
    int result =
        select(0, kind == CSCVS_WAIT_READ ? &set : nullptr, kind == CSCVS_WAIT_WRITE ? &set : nullptr,
               kind == CSCVS_WAIT_ERROR ? &set : nullptr, &zero);
    if (result == SOCKET_ERROR) return SocketError();
    return result > 0 ? 1 : 0;
}

int CSCvsWait(int slot, int kind, DWORD timeoutMs) {
    CSCVSSLOT* s = Slot(slot);
    if (!s) return CSCVS_BAD_SLOT;
    if (kind < CSCVS_WAIT_READ || kind > CSCVS_WAIT_ERROR) return CSCVS_BAD_WAIT;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s->sock, &set);
    timeval limit = {static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    int result =
        select(0, kind == CSCVS_WAIT_READ ? &set : nullptr, kind == CSCVS_WAIT_WRITE ? &set : nullptr,
               kind == CSCVS_WAIT_ERROR ? &set : nullptr, &limit);
    if (result == SOCKET_ERROR) return SocketError();
    return result > 0 ? 1 : 0;
}

int CSCvsSend(int slot, const char* data, int count) {
    CSCVSSLOT* s = Slot(slot);
    if (!s) return CSCVS_BAD_SLOT;
    if (count < 1) return CSCVS_NOTHING_TO_SEND;
    int done = 0;
    while (done < count) {
        int sent = send(s->sock, data + done, count - done, 0);
        // A watched socket is non-blocking: a full send buffer waits for room, within a bound.
        if (sent < 1 && WSAGetLastError() == WSAEWOULDBLOCK &&
            CSCvsWait(slot, CSCVS_WAIT_WRITE, kSendStallMs) == 1)
            continue;
        if (sent < 1) {
            s->connected = false;
            return SocketError();
        }
        done += sent;
    }
    return count;
}

int CSCvsSendNow(int slot, const char* data, int count) {
    CSCVSSLOT* s = Slot(slot);
    if (!s) return CSCVS_BAD_SLOT;
    if (count < 1) return CSCVS_NOTHING_TO_SEND;
    int done = 0;
    while (done < count) {
        int sent = send(s->sock, data + done, count - done, 0);
        if (sent < 1 && WSAGetLastError() == WSAEWOULDBLOCK) break;
        if (sent < 1) {
            s->connected = false;
            return SocketError();
        }
        done += sent;
    }
    return done;
}

int CSCvsReceive(int slot, char* buffer, int size) {
    CSCVSSLOT* s = Slot(slot);
    if (!s) return CSCVS_BAD_SLOT;
    int got = recv(s->sock, buffer, size, 0);
    if (got > 0) return got;
    s->connected = false;
    return got == 0 ? -1 : SocketError();
}

// A lingering close of a watched socket would block its one thread while a peer reads nothing.
int CSCvsClose(int slot) {
    CSCVSSLOT* s = Slot(slot);
    if (!s) return CSCVS_BAD_SLOT;
    return s->watched ? CloseWithLinger(slot, *s, 0, 0) : CloseWithLinger(slot, *s, 1, kLingerSeconds);
}

int CSCvsAbort(int slot) {
    CSCVSSLOT* s = Slot(slot);
    if (!s) return CSCVS_BAD_SLOT;
    return CloseWithLinger(slot, *s, 1, 0);
}

// A full send buffer is no sign of a lost connection: a peer that has not read its last answer
// yet fills it. An error the socket holds is.
bool CSCvsIsLost(int slot) {
    CSCVSSLOT* s = Slot(slot);
    if (!s || !s->connected) return true;
    int error = 0;
    int size = sizeof error;
    if (getsockopt(s->sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) return true;
    if (error == 0) return false;
    s->connected = false;
    return true;
}

bool CSCvsIsConnected(int slot) {
    CSCVSSLOT* s = Slot(slot);
    if (CSCvsIsLost(slot)) return false;
    if (CSCvsTest(slot, CSCVS_WAIT_READ) != 1) return true;
    char byte;
    return recv(s->sock, &byte, 1, MSG_PEEK) == 1;
}

int CSCvsGetAddress(int slot, int which, char* buffer, int size) {
    CSCVSSLOT* s = Slot(slot);
    if (!s) return CSCVS_BAD_SLOT;
    if (size >= 1) buffer[0] = 0;
    if (size <= 16) return 0;
    sockaddr_in addr = {};
    int len = sizeof addr;
    switch (which) {
        case CSCVS_ADDRESS_LOCAL:
            if (getsockname(s->sock, reinterpret_cast<sockaddr*>(&addr), &len) == SOCKET_ERROR)
                return SocketError();
            break;
        case CSCVS_ADDRESS_REMOTE:
            if (getpeername(s->sock, reinterpret_cast<sockaddr*>(&addr), &len) == SOCKET_ERROR)
                addr = s->addr;
            break;
        default: addr = s->lastPeer; break;
    }
    return FormatAddress(addr, buffer, size);
}

void CSCvsSetWatchEvent(WSAEVENT event) {
    g_watchEvent = event;
    for (int i = 0; i < CSCVS_SLOTS; ++i) {
        if (g_slots[i].used) Watch(g_slots[i]);
    }
}

void CSCvsTakeEvents() {
    if (!g_watchEvent) return;
    for (CSCVSSLOT& s : g_slots) {
        WSANETWORKEVENTS events;
        if (s.used) WSAEnumNetworkEvents(s.sock, g_watchEvent, &events);
    }
}
