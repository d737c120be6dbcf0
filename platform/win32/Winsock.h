// Windows Sockets over BSD sockets: the names, records and constants the system calls, with the
// Windows layouts and constant values, so system code reads as it would on Windows.
//
// A SOCKET is the host descriptor (always close-on-exec). Failures return SOCKET_ERROR or
// INVALID_SOCKET and leave a Windows Sockets code (10000+n) in the thread's last error, which is
// the layer's last error (WSAGetLastError is GetLastError), as on Windows. Sockets are made only
// after WSAStartup (else WSANOTINITIALISED). Every send is MSG_NOSIGNAL, so a closed peer is an
// error code and never a signal. A stream socket that binds gets SO_REUSEADDR, so a listener can
// bind again at once after an earlier one closed; two listeners on one port still collide.
//
// WSAEventSelect: an event from WSACreateEvent is a manual-reset kernel object (KernelObject.h),
// waitable with every wait of the layer and settable with SetEvent. It becomes signalled when a
// selected network event is recorded; recording follows Windows: FD_READ again only after a
// receive, FD_ACCEPT after an accept, FD_WRITE once when writable and again only after a send
// failed with WSAEWOULDBLOCK, FD_CLOSE once, after the data that came before it has been read.
// WSAEnumNetworkEvents hands out and clears the record and resets the event it is given.
//
// Left out: overlapped I/O (the overlapped arguments must be NULL), WSAAccept condition
// functions (must be NULL), protocol-info records, IPv6 records, out-of-band data, blocking hooks.
// An accepted socket is non-blocking when its listener was event-selected, as on Windows, but
// takes over no selection of its own. Any thread may call every function.
#pragma once

#include <sys/select.h>
#include <sys/time.h>
#include <sys/types.h>

#include "platform/base/WinError.h"
#include "platform/base/WinTypes.h"

#if defined(_SYS_SOCKET_H) || defined(_NETINET_IN_H) || defined(_NETDB_H)
#error "Winsock.h replaces the host socket headers in a source file; include only one of them"
#endif

typedef UINT_PTR SOCKET;
#define INVALID_SOCKET (static_cast<SOCKET>(~static_cast<SOCKET>(0)))
#define SOCKET_ERROR (-1)

#define WSAEDESTADDRREQ 10039
#define WSAEPROTOTYPE 10041
#define WSAENOPROTOOPT 10042
#define WSAEPROTONOSUPPORT 10043
#define WSAESOCKTNOSUPPORT 10044
#define WSAEOPNOTSUPP 10045
#define WSAEAFNOSUPPORT 10047
#define WSAENETRESET 10052
#define WSAEHOSTDOWN 10064
#define WSAVERNOTSUPPORTED 10092

#define AF_UNSPEC 0
#define AF_INET 2
#define PF_INET AF_INET
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define SOCK_RAW 3
#define IPPROTO_IP 0
#define IPPROTO_ICMP 1
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17

#define INADDR_ANY 0x00000000u
#define INADDR_LOOPBACK 0x7f000001u
#define INADDR_NONE 0xffffffffu

#define SOL_SOCKET 0xffff
#define SO_REUSEADDR 0x0004
#define SO_KEEPALIVE 0x0008
#define SO_BROADCAST 0x0020
#define SO_LINGER 0x0080
#define SO_SNDBUF 0x1001
#define SO_RCVBUF 0x1002
#define SO_SNDTIMEO 0x1005
#define SO_RCVTIMEO 0x1006
#define SO_ERROR 0x1007
#define SO_TYPE 0x1008
#define TCP_NODELAY 0x0001
#define IP_TOS 3
#define IP_TTL 4

#define SOMAXCONN 0x7fffffff
#define MSG_OOB 0x1
#define MSG_PEEK 0x2
#define SD_RECEIVE 0
#define SD_SEND 1
#define SD_BOTH 2

#define FIONREAD (static_cast<long>(0x4004667Fu))
#define FIONBIO (static_cast<long>(0x8004667Eu))

struct in_addr {
    union {
        struct {
            u_char s_b1, s_b2, s_b3, s_b4;
        } S_un_b;
        struct {
            u_short s_w1, s_w2;
        } S_un_w;
        ULONG S_addr;
    } S_un;
};
#define s_addr S_un.S_addr
typedef in_addr IN_ADDR;

struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};
typedef sockaddr SOCKADDR;
typedef sockaddr* PSOCKADDR;
typedef sockaddr* LPSOCKADDR;

struct sockaddr_in {
    short sin_family;
    u_short sin_port;
    in_addr sin_addr;
    char sin_zero[8];
};
typedef sockaddr_in SOCKADDR_IN;
typedef sockaddr_in* PSOCKADDR_IN;

struct linger {
    u_short l_onoff;
    u_short l_linger;
};
typedef linger LINGER;

// Per thread, valid until the thread's next gethostbyname, as on Windows.
struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};
#define h_addr h_addr_list[0]
typedef hostent HOSTENT;

#define AI_PASSIVE 0x01
#define AI_CANONNAME 0x02
#define AI_NUMERICHOST 0x04
struct addrinfo {
    int ai_flags;
    int ai_family;
    int ai_socktype;
    int ai_protocol;
    size_t ai_addrlen;
    char* ai_canonname;
    sockaddr* ai_addr;
    addrinfo* ai_next;
};
typedef addrinfo ADDRINFOA;
typedef addrinfo* PADDRINFOA;

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};
typedef WSADATA* LPWSADATA;

// The Windows fd_set: a counted array of sockets. The host's bitmap type keeps its own name.
#define fd_set WSAFDSET
#undef FD_SETSIZE
#define FD_SETSIZE 64
struct WSAFDSET {
    u_int fd_count;
    SOCKET fd_array[FD_SETSIZE];
};
typedef WSAFDSET FD_SET;

int __WSAFDIsSet(SOCKET s, WSAFDSET* set);
namespace zbw {
void FdSetAdd(SOCKET s, WSAFDSET* set);
void FdSetRemove(SOCKET s, WSAFDSET* set);
}  // namespace zbw
#undef FD_ZERO
#undef FD_SET
#undef FD_ISSET
#undef FD_CLR
#define FD_ZERO(set) (static_cast<WSAFDSET*>(set)->fd_count = 0)
#define FD_SET(s, set) zbw::FdSetAdd(static_cast<SOCKET>(s), (set))
#define FD_CLR(s, set) zbw::FdSetRemove(static_cast<SOCKET>(s), (set))
#define FD_ISSET(s, set) __WSAFDIsSet(static_cast<SOCKET>(s), (set))
typedef struct timeval TIMEVAL;

struct WSABUF {
    ULONG len;
    char* buf;
};
typedef WSABUF* LPWSABUF;
struct WSAOVERLAPPED;
typedef WSAOVERLAPPED* LPWSAOVERLAPPED;
typedef void(CALLBACK* LPWSAOVERLAPPED_COMPLETION_ROUTINE)(DWORD error, DWORD transferred,
                                                           LPWSAOVERLAPPED overlapped, DWORD flags);
struct WSAPROTOCOL_INFOW;
typedef WSAPROTOCOL_INFOW* LPWSAPROTOCOL_INFOW;
typedef unsigned int GROUP;
#define WSA_FLAG_OVERLAPPED 0x01
typedef int(CALLBACK* LPCONDITIONPROC)(void*, void*, void*, void*, void*, void*, GROUP*, DWORD_PTR);

typedef HANDLE WSAEVENT;
#define WSA_INVALID_EVENT (static_cast<WSAEVENT>(nullptr))
#define WSA_MAXIMUM_WAIT_EVENTS MAXIMUM_WAIT_OBJECTS
#define WSA_WAIT_EVENT_0 WAIT_OBJECT_0
#define WSA_WAIT_TIMEOUT WAIT_TIMEOUT
#define WSA_WAIT_FAILED WAIT_FAILED
#define WSA_INFINITE INFINITE

#define FD_READ_BIT 0
#define FD_READ (1 << FD_READ_BIT)
#define FD_WRITE_BIT 1
#define FD_WRITE (1 << FD_WRITE_BIT)
#define FD_OOB_BIT 2
#define FD_OOB (1 << FD_OOB_BIT)
#define FD_ACCEPT_BIT 3
#define FD_ACCEPT (1 << FD_ACCEPT_BIT)
#define FD_CONNECT_BIT 4
#define FD_CONNECT (1 << FD_CONNECT_BIT)
#define FD_CLOSE_BIT 5
#define FD_CLOSE (1 << FD_CLOSE_BIT)
#define FD_MAX_EVENTS 10
struct WSANETWORKEVENTS {
    long lNetworkEvents;
    int iErrorCode[FD_MAX_EVENTS];
};
typedef WSANETWORKEVENTS* LPWSANETWORKEVENTS;

// Start-up: versions 1.1 to 2.2; an older request fails with WSAVERNOTSUPPORTED (returned, not
// set). Counted: each successful start needs its WSACleanup.
int WSAStartup(WORD versionRequested, LPWSADATA data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

SOCKET socket(int af, int type, int protocol);
SOCKET WSASocketW(int af, int type, int protocol, LPWSAPROTOCOL_INFOW info, GROUP group, DWORD flags);
int bind(SOCKET s, const sockaddr* name, int namelen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
SOCKET WSAAccept(SOCKET s, sockaddr* addr, int* addrlen, LPCONDITIONPROC condition, DWORD_PTR data);
// A non-blocking connect that has not finished fails with WSAEWOULDBLOCK, as on Windows.
int connect(SOCKET s, const sockaddr* name, int namelen);
int send(SOCKET s, const char* buf, int len, int flags);
int recv(SOCKET s, char* buf, int len, int flags);
int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen);
int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen);
int WSASend(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD flags, LPWSAOVERLAPPED overlapped,
            LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);
int WSARecv(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD received, LPDWORD flags,
            LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);
int shutdown(SOCKET s, int how);
int closesocket(SOCKET s);
// nfds is ignored, as on Windows; a NULL timeout waits without limit (bounded only by the caller).
int select(int nfds, WSAFDSET* readfds, WSAFDSET* writefds, WSAFDSET* exceptfds, const timeval* timeout);
int ioctlsocket(SOCKET s, long cmd, u_long* argp);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int getsockname(SOCKET s, sockaddr* name, int* namelen);
int getpeername(SOCKET s, sockaddr* name, int* namelen);

ULONG inet_addr(const char* cp);
// Per thread, valid until the thread's next call.
char* inet_ntoa(in_addr in);
u_short htons(u_short value);
u_short ntohs(u_short value);
ULONG htonl(ULONG value);
ULONG ntohl(ULONG value);
// IPv4 only; NULL with WSAHOST_NOT_FOUND, WSATRY_AGAIN, WSANO_RECOVERY or WSANO_DATA.
hostent* gethostbyname(const char* name);
// IPv4 records only; returns 0 or the Windows Sockets code (also set as the last error).
int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result);
void freeaddrinfo(addrinfo* info);

WSAEVENT WSACreateEvent();
BOOL WSACloseEvent(WSAEVENT event);
BOOL WSASetEvent(WSAEVENT event);
BOOL WSAResetEvent(WSAEVENT event);
// Makes the socket non-blocking; event NULL with mask 0 ends the selection.
int WSAEventSelect(SOCKET s, WSAEVENT event, long networkEvents);
int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, LPWSANETWORKEVENTS networkEvents);
// Alertable waits are not kept: alertable is ignored.
DWORD WSAWaitForMultipleEvents(DWORD count, const WSAEVENT* events, BOOL waitAll, DWORD timeoutMs,
                               BOOL alertable);

namespace zbw {
// The Windows Sockets code for a host errno value.
int WsaErrorFromErrno(int err);
}  // namespace zbw
