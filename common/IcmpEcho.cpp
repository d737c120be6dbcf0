#include "common/IcmpEcho.h"

#include <cstring>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/win32/Thread.h"
#include "platform/win32/Wait.h"
#include "platform/win32/Winsock.h"

namespace {

constexpr BYTE kEchoReply = 0;
constexpr BYTE kEchoRequest = 8;
constexpr int kReceiveBufferSize = 65532;
constexpr DWORD kAnswerTimeoutMs = 5000;
constexpr int kSliceMs = 200;
constexpr DWORD kStopLookMs = 5;
constexpr int kMinAnswer = 12;

USHORT ReadField(const BYTE* at) {
    USHORT value;
    memcpy(&value, at, sizeof value);
    return value;
}

// Types whose body quotes the IP header and first 8 bytes of the datagram they answer.
bool IsErrorType(BYTE type) {
    return type == 3 || type == 4 || type == 5 || type == 11 || type == 12;
}

bool IsOurRequest(const BYTE* icmp, USHORT identifier) {
    return icmp[0] == kEchoRequest && ReadField(icmp + 4) == identifier && ReadField(icmp + 6) == 0;
}

zbw::EchoAnswer ClassifyErrorAnswer(const BYTE* icmp, int length, USHORT identifier) {
    if (length < 8 + 20) return zbw::EchoAnswer::Ignore;
    const BYTE* quoted = icmp + 8;
    int quotedHeader = 4 * (quoted[0] & 0x0F);
    if (quotedHeader < 20 || length < 8 + quotedHeader + 8) return zbw::EchoAnswer::Ignore;
    return IsOurRequest(quoted + quotedHeader, identifier) ? zbw::EchoAnswer::Error : zbw::EchoAnswer::Ignore;
}

bool ResolveHost(LPCWSTR host, ULONG& address) {
    char name[1024];
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, host, -1, name, sizeof name, nullptr, nullptr) == 0) {
        SetLastError(WSAHOST_NOT_FOUND);
        return false;
    }
    address = inet_addr(name);
    if (address != INADDR_NONE) return true;
    hostent* entry = gethostbyname(name);
    if (!entry || !entry->h_addr_list[0]) return false;
    memcpy(&address, entry->h_addr_list[0], sizeof address);
    return true;
}

// A raw socket where allowed, else the datagram kind; rawSocket tells which one it is.
SOCKET OpenIcmpSocket(bool& rawSocket) {
    SOCKET s = WSASocketW(AF_INET, SOCK_RAW, IPPROTO_ICMP, nullptr, 0, 0);
    rawSocket = s != INVALID_SOCKET;
    if (rawSocket) return s;
    return WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_ICMP, nullptr, 0, 0);
}

bool SetIpOptions(SOCKET s) {
    int ttl = 30;
    int tos = 0;
    return setsockopt(s, IPPROTO_IP, IP_TTL, reinterpret_cast<const char*>(&ttl), sizeof ttl) == 0 &&
           setsockopt(s, IPPROTO_IP, IP_TOS, reinterpret_cast<const char*>(&tos), sizeof tos) == 0;
}

// The identifier field of what the datagram socket sent: the kernel writes its own.
USHORT SentIdentifier(SOCKET s, USHORT requested) {
    sockaddr_in local{};
    int size = sizeof local;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&local), &size) != 0) return requested;
    return local.sin_port;
}

// Asks the datagram socket for our identifier; another socket may hold it already.
void RequestIdentifier(SOCKET s, USHORT identifier) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = identifier;
    DWORD saved = GetLastError();
    bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local);
    SetLastError(saved);
}

bool IsStopSet(HANDLE hStopEvent) {
    return hStopEvent && WaitForSingleObject(hStopEvent, kStopLookMs) == WAIT_OBJECT_0;
}

// 1 readable, 0 nothing in this slice, -1 error.
int WaitReadable(SOCKET s, int64_t remainingMs) {
    int slice = zbw::PollSliceMs(remainingMs < kSliceMs ? remainingMs : kSliceMs);
    WSAFDSET readable{};
    zbw::FdSetAdd(s, &readable);
    timeval timeout{slice / 1000, (slice % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &timeout);
}

struct ECHOWAIT {
    SOCKET s;
    bool rawSocket;
    USHORT identifier;
    HANDLE hStopEvent;
};

// Waits for the answer; true with the sender's address on an echo reply.
bool AwaitAnswer(const ECHOWAIT& wait, ULONG& from) {
    std::vector<BYTE> buffer(kReceiveBufferSize);
    int64_t deadline = zbw::DeadlineAfter(kAnswerTimeoutMs);
    for (;;) {
        if (IsStopSet(wait.hStopEvent)) {
            SetLastError(WSAEINTR);
            return false;
        }
        int64_t remaining = zbw::RemainingUntil(deadline);
        if (remaining == 0) {
            SetLastError(WSAETIMEDOUT);
            return false;
        }
        int ready = WaitReadable(wait.s, remaining);
        if (ready < 0) return false;
        if (ready == 0) continue;
        sockaddr_in sender{};
        int senderSize = sizeof sender;
        int got = recvfrom(wait.s, reinterpret_cast<char*>(buffer.data()), kReceiveBufferSize, 0,
                           reinterpret_cast<sockaddr*>(&sender), &senderSize);
        if (got == SOCKET_ERROR) return false;
        zbw::EchoAnswer answer = zbw::ClassifyEchoAnswer(buffer.data(), got, wait.rawSocket, wait.identifier);
        if (answer == zbw::EchoAnswer::Ignore) continue;
        if (answer == zbw::EchoAnswer::Error) {
            SetLastError(ERROR_UNEXP_NET_ERR);
            return false;
        }
        from = sender.sin_addr.s_addr;
        return true;
    }
}

bool PingOnSocket(SOCKET s, bool rawSocket, ULONG address, HANDLE hStopEvent, PINGRESULT* result,
                  LONGLONG frequency) {
    if (!SetIpOptions(s)) return false;
    USHORT identifier = static_cast<USHORT>(GetCurrentProcessId() & 0xFFFF);
    if (!rawSocket) RequestIdentifier(s, identifier);
    BYTE request[zbw::kEchoRequestSize];
    zbw::BuildEchoRequest(request, identifier, GetTickCount());
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = address;
    LARGE_INTEGER sent;
    QueryPerformanceCounter(&sent);
    if (sendto(s, reinterpret_cast<const char*>(request), sizeof request, 0,
               reinterpret_cast<const sockaddr*>(&target), sizeof target) == SOCKET_ERROR)
        return false;
    if (!rawSocket) identifier = SentIdentifier(s, identifier);
    ULONG from = 0;
    if (!AwaitAnswer({s, rawSocket, identifier, hStopEvent}, from)) return false;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    result->dwAddress = from;
    result->dwRoundTripMs = static_cast<DWORD>((now.QuadPart - sent.QuadPart) * 1000 / frequency);
    return true;
}

}  // namespace

namespace zbw {

USHORT InternetChecksum(const BYTE* bytes, int count) {
    uint32_t sum = 0;
    for (int i = 0; i + 1 < count; i += 2) sum += static_cast<uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (count % 2) sum += static_cast<uint32_t>(bytes[count - 1] << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return htons(static_cast<USHORT>(~sum & 0xFFFF));
}

void BuildEchoRequest(BYTE* packet, USHORT identifier, DWORD tickCount) {
    memset(packet, 0, kEchoRequestSize);
    packet[0] = kEchoRequest;
    memcpy(packet + 4, &identifier, sizeof identifier);
    memcpy(packet + 8, &tickCount, sizeof tickCount);
    memset(packet + 12, 'E', kEchoRequestSize - 12);
    USHORT checksum = InternetChecksum(packet, kEchoRequestSize);
    memcpy(packet + 2, &checksum, sizeof checksum);
}

EchoAnswer ClassifyEchoAnswer(const BYTE* data, int length, bool withIpHeader, USHORT identifier) {
    int header = withIpHeader && length > 0 ? 4 * (data[0] & 0x0F) : 0;
    if (length < header + kMinAnswer) return EchoAnswer::Ignore;
    const BYTE* icmp = data + header;
    int icmpLength = length - header;
    if (icmp[0] == kEchoRequest) return EchoAnswer::Ignore;
    if (IsErrorType(icmp[0])) return ClassifyErrorAnswer(icmp, icmpLength, identifier);
    if (ReadField(icmp + 4) != identifier || ReadField(icmp + 6) != 0) return EchoAnswer::Ignore;
    return icmp[0] == kEchoReply ? EchoAnswer::Reply : EchoAnswer::Error;
}

}  // namespace zbw

bool Ping(HANDLE hStopEvent, LPCWSTR host, PINGRESULT* result) {
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart == 0) return false;
    ULONG address = 0;
    if (!host || !result) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!ResolveHost(host, address)) return false;
    bool rawSocket = false;
    SOCKET s = OpenIcmpSocket(rawSocket);
    if (s == INVALID_SOCKET) return false;
    bool answered = PingOnSocket(s, rawSocket, address, hStopEvent, result, frequency.QuadPart);
    DWORD error = GetLastError();
    closesocket(s);
    SetLastError(error);
    return answered;
}
