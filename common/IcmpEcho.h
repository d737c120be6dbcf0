// Ping: one ICMP echo request to an IPv4 host and the wait for its answer, so that a worker
// thread can tell whether a server answers before it touches a folder on it.
//
// Threads: any thread; each call has its own socket and buffers. Windows Sockets must already be
// started (WSAStartup) by the process. The caller owns the stop event and the result record.
//
// Socket: a raw ICMP socket where the process may open one, else the unprivileged ICMP datagram
// socket. A datagram socket hands over replies without their IP header, and the kernel picks the
// identifier when it cannot be the process's own; either way only answers to this process's
// request count. Our own outgoing request, which a raw socket sees on loopback, is no reply.
//
// Failures: false with the reason in the thread's last error: the socket error of the failing
// call, WSAHOST_NOT_FOUND (or the other look-up codes) for an unknown host, WSAETIMEDOUT when
// nothing answered within 5000 ms, ERROR_UNEXP_NET_ERR for an ICMP error answer to our request,
// WSAEINTR when the stop event was set. Nothing is logged.
//
// Left out: IPv6, options in the request, more than one request per call. Replies to other
// threads' pings of the same process look alike (sequence 0) and may be taken for ours.
#pragma once

#include "platform/base/WinTypes.h"

struct PINGRESULT {
    DWORD dwAddress;  // the IPv4 address that answered, network order
    DWORD dwRoundTripMs;
};

// hStopEvent may be NULL. On success fills result; on failure leaves it unchanged.
bool Ping(HANDLE hStopEvent, LPCWSTR host, PINGRESULT* result);

namespace zbw {

constexpr int kEchoRequestSize = 44;

// RFC 1071 checksum of bytes (an odd last byte is padded with zero).
USHORT InternetChecksum(const BYTE* bytes, int count);

// The request as sent: type 8, code 0, checksum, identifier (stored as given), sequence 0,
// tick count, 32 times 'E'.
void BuildEchoRequest(BYTE* packet, USHORT identifier, DWORD tickCount);

enum class EchoAnswer {
    Ignore,  // not an answer to our request: keep waiting
    Reply,   // an echo reply to our request
    Error,   // an ICMP error answer to our request
};

// Classifies a received datagram; withIpHeader when it starts with the IP header (raw socket).
// identifier is the field value of our request as stored by BuildEchoRequest.
EchoAnswer ClassifyEchoAnswer(const BYTE* data, int length, bool withIpHeader, USHORT identifier);

}  // namespace zbw
