// Windows Sockets over real loopback sockets: versions, errors, descriptors; fakes a temporary emulation
// root.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/base/Clock.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Wait.h"
#include "platform/win32/Winsock.h"
#include "tests/support/TestRoot.h"

namespace {

constexpr DWORD kQuietMs = 60;    // long enough for a spurious event to show
constexpr DWORD kEventMs = 5000;  // bound for an event that must come

class WinsockTest : public ::testing::Test {
   protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override {
        for (SOCKET s : m_sockets) closesocket(s);
        for (WSAEVENT e : m_events) WSACloseEvent(e);
        WSACleanup();
    }

    SOCKET Track(SOCKET s) {
        EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
        m_sockets.push_back(s);
        return s;
    }
    void Untrack(SOCKET s) { std::erase(m_sockets, s); }
    WSAEVENT Event() {
        WSAEVENT e = WSACreateEvent();
        EXPECT_NE(e, WSA_INVALID_EVENT);
        m_events.push_back(e);
        return e;
    }
    static sockaddr_in Loopback(u_short port) {
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = inet_addr("127.0.0.1");
        return addr;
    }
    static u_short PortOf(SOCKET s) {
        sockaddr_in addr = {};
        int len = sizeof addr;
        EXPECT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len), 0);
        return ntohs(addr.sin_port);
    }
    // A listener on a free loopback port.
    SOCKET Listener() {
        SOCKET s = Track(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in addr = Loopback(0);
        EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << WSAGetLastError();
        EXPECT_EQ(listen(s, 5), 0);
        return s;
    }
    SOCKET Connect(u_short port) {
        SOCKET s = Track(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in addr = Loopback(port);
        EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << WSAGetLastError();
        return s;
    }
    SOCKET Accept(SOCKET listener) { return Track(accept(listener, nullptr, nullptr)); }
    // A connected pair: client, server side.
    std::pair<SOCKET, SOCKET> Pair() {
        SOCKET l = Listener();
        SOCKET c = Connect(PortOf(l));
        return {c, Accept(l)};
    }
    static WSANETWORKEVENTS Take(SOCKET s, WSAEVENT e) {
        WSANETWORKEVENTS ne;
        EXPECT_EQ(WSAEnumNetworkEvents(s, e, &ne), 0) << WSAGetLastError();
        return ne;
    }
    static bool Readable(SOCKET s, long usec) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tv = {0, usec};
        return select(0, &set, nullptr, nullptr, &tv) == 1 && FD_ISSET(s, &set);
    }

    CTestRoot m_root;
    std::vector<SOCKET> m_sockets;
    std::vector<WSAEVENT> m_events;
};

TEST(WinsockStartupTest, VersionsAndNotInitialised) {
    CTestRoot root;
    SetLastError(0);
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    WSADATA data;
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 0), &data), WSAVERNOTSUPPORTED);
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(1, 1));
    EXPECT_EQ(data.wHighVersion, MAKEWORD(2, 2));
    ASSERT_EQ(WSAStartup(MAKEWORD(3, 0), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), 0);
}

TEST(WinsockStartupTest, LastErrorIsTheLayersOwn) {
    WSASetLastError(WSAECONNRESET);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(WSAECONNRESET));
    SetLastError(WSAEWOULDBLOCK);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST_F(WinsockTest, LoopbackRoundTripAndAddresses) {
    SOCKET l = Listener();
    u_short port = PortOf(l);
    ASSERT_NE(port, 0);
    SOCKET c = Connect(port);
    sockaddr_in peer = {};
    int len = sizeof peer;
    SOCKET a = Track(accept(l, reinterpret_cast<sockaddr*>(&peer), &len));
    EXPECT_STREQ(inet_ntoa(peer.sin_addr), "127.0.0.1");
    EXPECT_EQ(ntohs(peer.sin_port), PortOf(c));

    ASSERT_EQ(send(c, "hello", 5, 0), 5);
    char buf[16] = {};
    ASSERT_TRUE(Readable(a, 2000000));
    EXPECT_EQ(recv(a, buf, sizeof buf, 0), 5);
    EXPECT_STREQ(buf, "hello");

    sockaddr_in remote = {};
    len = sizeof remote;
    ASSERT_EQ(getpeername(c, reinterpret_cast<sockaddr*>(&remote), &len), 0);
    EXPECT_EQ(ntohs(remote.sin_port), port);
    EXPECT_EQ(remote.sin_family, AF_INET);

    closesocket(c);
    Untrack(c);
    ASSERT_TRUE(Readable(a, 2000000));
    EXPECT_EQ(recv(a, buf, sizeof buf, 0), 0);
}

TEST_F(WinsockTest, EveryDescriptorIsCloseOnExec) {
    auto [c, a] = Pair();
    for (SOCKET s : {c, a}) EXPECT_TRUE(fcntl(static_cast<int>(s), F_GETFD) & FD_CLOEXEC);
}

TEST_F(WinsockTest, ErrorsAreWindowsSocketCodes) {
    SOCKET l = Listener();
    u_short port = PortOf(l);

    SOCKET other = Track(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in addr = Loopback(port);
    EXPECT_EQ(bind(other, reinterpret_cast<sockaddr*>(&addr), sizeof addr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
    EXPECT_EQ(bind(other, reinterpret_cast<sockaddr*>(&addr), 4), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);

    closesocket(l);
    Untrack(l);
    SOCKET refused = Track(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    EXPECT_EQ(connect(refused, reinterpret_cast<sockaddr*>(&addr), sizeof addr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);

    SOCKET closed = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    closesocket(closed);
    char buf[4];
    EXPECT_EQ(recv(closed, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(closesocket(closed), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(WinsockTest, ListenerRebindsAtOnceAfterClose) {
    SOCKET l = Listener();
    u_short port = PortOf(l);
    {
        SOCKET c = Connect(port);
        SOCKET a = Accept(l);
        closesocket(a);  // the server side closes first and keeps TIME_WAIT
        Untrack(a);
        closesocket(c);
        Untrack(c);
    }
    closesocket(l);
    Untrack(l);
    SOCKET again = Track(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in addr = Loopback(port);
    EXPECT_EQ(bind(again, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << WSAGetLastError();
    EXPECT_EQ(listen(again, SOMAXCONN), 0);
}

TEST_F(WinsockTest, SendToAClosedPeerFailsWithoutSignal) {
    auto [c, a] = Pair();
    closesocket(a);
    Untrack(a);
    std::string block(65536, 'x');
    int result = 0;
    for (int i = 0; i < 50 && result != SOCKET_ERROR; ++i) {
        result = send(c, block.data(), static_cast<int>(block.size()), 0);
        Sleep(5);
    }
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

TEST_F(WinsockTest, SelectReportsReadableWritableAndTimesOut) {
    auto [c, a] = Pair();
    EXPECT_FALSE(Readable(a, 0));
    fd_set none;
    FD_ZERO(&none);
    timeval zero = {0, 0};
    EXPECT_EQ(select(0, &none, nullptr, nullptr, &zero), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);

    fd_set r, w;
    FD_ZERO(&r);
    FD_ZERO(&w);
    FD_SET(a, &r);
    FD_SET(c, &r);
    FD_SET(c, &w);
    FD_SET(c, &w);  // twice is once
    EXPECT_EQ(w.fd_count, 1u);
    ASSERT_EQ(send(a, "x", 1, 0), 1);
    timeval wait = {2, 0};
    EXPECT_EQ(select(0, &r, &w, nullptr, &wait), 2);
    EXPECT_TRUE(FD_ISSET(c, &r));
    EXPECT_FALSE(FD_ISSET(a, &r));
    EXPECT_TRUE(FD_ISSET(c, &w));
    FD_CLR(c, &w);
    EXPECT_EQ(w.fd_count, 0u);
}

TEST_F(WinsockTest, IoctlNonBlockingAndPendingBytes) {
    auto [c, a] = Pair();
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(a, FIONBIO, &on), 0);
    char buf[8];
    EXPECT_EQ(recv(a, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_EQ(send(c, "abc", 3, 0), 3);
    ASSERT_TRUE(Readable(a, 2000000));
    u_long pending = 0;
    ASSERT_EQ(ioctlsocket(a, FIONREAD, &pending), 0);
    EXPECT_EQ(pending, 3u);
    EXPECT_EQ(ioctlsocket(a, 0x1234, &pending), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

TEST_F(WinsockTest, OptionsRoundTrip) {
    auto [c, a] = Pair();
    LINGER lg = {1, 7};
    ASSERT_EQ(setsockopt(c, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&lg), sizeof lg), 0);
    LINGER back = {};
    int len = sizeof back;
    ASSERT_EQ(getsockopt(c, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&back), &len), 0);
    EXPECT_EQ(back.l_onoff, 1);
    EXPECT_EQ(back.l_linger, 7);

    BOOL noDelay = TRUE;
    ASSERT_EQ(setsockopt(a, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&noDelay), sizeof noDelay), 0);
    int type = 0;
    len = sizeof type;
    ASSERT_EQ(getsockopt(a, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len), 0);
    EXPECT_EQ(type, SOCK_STREAM);
    EXPECT_EQ(setsockopt(a, SOL_SOCKET, 0x7777, reinterpret_cast<char*>(&type), sizeof type), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
}

TEST(WinsockAddressTest, InetAddrForms) {
    struct {
        const char* text;
        ULONG hostOrder;
    } cases[] = {
        {"127.0.0.1", 0x7f000001u},
        {"10.1.2.3", 0x0a010203u},
        {"1.2", 0x01000002u},
        {"1.2.3", 0x01020003u},
        {"0x7f.1", 0x7f000001u},
        {"010.0.0.1", 0x08000001u},
        {"255.255.255.255", 0xffffffffu},
        {"256.1.1.1", INADDR_NONE},
        {"1.2.3.4.5", INADDR_NONE},
        {"", INADDR_NONE},
        {"abc", INADDR_NONE},
        {"1..2", INADDR_NONE},
        {"1.2.3.4 ", INADDR_NONE},
        {"1.256", 0x01000100u},
    };
    for (const auto& c : cases) EXPECT_EQ(ntohl(inet_addr(c.text)), c.hostOrder) << c.text;
    EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);
    in_addr in;
    in.s_addr = htonl(0xc0a80105u);
    EXPECT_STREQ(inet_ntoa(in), "192.168.1.5");
    EXPECT_EQ(htons(0x1234), 0x3412);
}

TEST_F(WinsockTest, NameLookups) {
    hostent* h = gethostbyname("127.0.0.1");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->h_addrtype, AF_INET);
    EXPECT_EQ(h->h_length, 4);
    EXPECT_EQ(reinterpret_cast<in_addr*>(h->h_addr)->s_addr, inet_addr("127.0.0.1"));
    EXPECT_EQ(h->h_addr_list[1], nullptr);

    h = gethostbyname("localhost");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ntohl(reinterpret_cast<in_addr*>(h->h_addr)->s_addr) >> 24, 127u);

    // Names the hosts file does not hold are left out: their lookup would leave this machine.
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    ASSERT_EQ(getaddrinfo("127.0.0.1", "8001", &hints, &found), 0);
    ASSERT_NE(found, nullptr);
    auto* sa = reinterpret_cast<sockaddr_in*>(found->ai_addr);
    EXPECT_EQ(ntohs(sa->sin_port), 8001);
    EXPECT_EQ(sa->sin_addr.s_addr, inet_addr("127.0.0.1"));
    EXPECT_EQ(found->ai_addrlen, sizeof(sockaddr_in));
    freeaddrinfo(found);
    hints.ai_flags = AI_NUMERICHOST;
    EXPECT_EQ(getaddrinfo("localhost", nullptr, &hints, &found), WSAHOST_NOT_FOUND);
    EXPECT_EQ(found, nullptr);
}

// A server that exits without stopping its threads: they go on looking at the socket-event table
// while the program's globals are destroyed, and must still find it whole.
TEST_F(WinsockTest, ThreadsStillWaitingAtExitFindTheEventTable) {
    EXPECT_EXIT(
        {
            SOCKET l = Listener();
            WSAEVENT e = Event();
            if (WSAEventSelect(l, e, FD_ACCEPT) != 0) _exit(3);
            for (int i = 0; i < 4; ++i) {
                std::thread([l, e] {
                    for (;;) {
                        WSAWaitForMultipleEvents(1, &e, FALSE, 0, FALSE);
                        WSANETWORKEVENTS events;
                        WSAEnumNetworkEvents(l, e, &events);
                    }
                }).detach();
            }
            Sleep(20);
            exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(WinsockTest, AcceptEventIsRecordedOncePerAccept) {
    SOCKET l = Listener();
    WSAEVENT e = Event();
    ASSERT_EQ(WSAEventSelect(l, e, FD_ACCEPT), 0);
    EXPECT_EQ(WSAWaitForMultipleEvents(1, &e, FALSE, kQuietMs, FALSE), WSA_WAIT_TIMEOUT);

    Connect(PortOf(l));
    ASSERT_EQ(WSAWaitForMultipleEvents(1, &e, FALSE, kEventMs, FALSE), WSA_WAIT_EVENT_0);
    WSANETWORKEVENTS ne = Take(l, e);
    EXPECT_EQ(ne.lNetworkEvents, FD_ACCEPT);
    EXPECT_EQ(ne.iErrorCode[FD_ACCEPT_BIT], 0);
    // Not recorded again until an accept, even though the connection still waits.
    EXPECT_EQ(WaitForSingleObject(e, kQuietMs), WAIT_TIMEOUT);

    SOCKET a = Track(WSAAccept(l, nullptr, nullptr, nullptr, 0));
    u_long blocking = 0;
    EXPECT_EQ(ioctlsocket(l, FIONBIO, &blocking),
              SOCKET_ERROR);  // not while selected
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    EXPECT_TRUE(fcntl(static_cast<int>(a), F_GETFL) & O_NONBLOCK);
    EXPECT_EQ(WaitForSingleObject(e, kQuietMs), WAIT_TIMEOUT);
    EXPECT_EQ(accept(l, nullptr, nullptr), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST_F(WinsockTest, ReadWriteAndCloseEventsFollowWindowsRecording) {
    auto [c, a] = Pair();
    WSAEVENT e = Event();
    ASSERT_EQ(WSAEventSelect(a, e, FD_READ | FD_WRITE | FD_CLOSE), 0);

    // FD_WRITE once after the selection, then quiet.
    ASSERT_EQ(WSAWaitForMultipleEvents(1, &e, FALSE, kEventMs, FALSE), WSA_WAIT_EVENT_0);
    EXPECT_EQ(Take(a, e).lNetworkEvents, FD_WRITE);
    EXPECT_EQ(WSAWaitForMultipleEvents(1, &e, FALSE, kQuietMs, FALSE), WSA_WAIT_TIMEOUT);

    ASSERT_EQ(send(c, "0123456789", 10, 0), 10);
    ASSERT_EQ(WSAWaitForMultipleEvents(1, &e, FALSE, kEventMs, FALSE), WSA_WAIT_EVENT_0);
    EXPECT_EQ(Take(a, e).lNetworkEvents, FD_READ);
    // No receive yet: FD_READ is not recorded again.
    EXPECT_EQ(WSAWaitForMultipleEvents(1, &e, FALSE, kQuietMs, FALSE), WSA_WAIT_TIMEOUT);

    char buf[4];
    ASSERT_EQ(recv(a, buf, 4, 0), 4);  // data left: recorded again at once
    ASSERT_EQ(WSAWaitForMultipleEvents(1, &e, FALSE, kEventMs, FALSE), WSA_WAIT_EVENT_0);
    EXPECT_EQ(Take(a, e).lNetworkEvents, FD_READ);

    closesocket(c);
    Untrack(c);
    // The close is recorded only once the data before it has been read.
    EXPECT_EQ(WSAWaitForMultipleEvents(1, &e, FALSE, kQuietMs, FALSE), WSA_WAIT_TIMEOUT);
    char rest[16];
    ASSERT_EQ(recv(a, rest, sizeof rest, 0), 6);
    ASSERT_EQ(WSAWaitForMultipleEvents(1, &e, FALSE, kEventMs, FALSE), WSA_WAIT_EVENT_0);
    WSANETWORKEVENTS ne = Take(a, e);
    EXPECT_EQ(ne.lNetworkEvents, FD_CLOSE);
    EXPECT_EQ(ne.iErrorCode[FD_CLOSE_BIT], 0);
    EXPECT_EQ(WSAWaitForMultipleEvents(1, &e, FALSE, kQuietMs, FALSE), WSA_WAIT_TIMEOUT);
}

TEST_F(WinsockTest, DataAndCloseTogetherComeInOneRecord) {
    auto [c, a] = Pair();
    ASSERT_EQ(send(c, "bye", 3, 0), 3);
    closesocket(c);
    Untrack(c);
    Sleep(20);
    WSAEVENT e = Event();
    ASSERT_EQ(WSAEventSelect(a, e, FD_READ | FD_CLOSE), 0);
    ASSERT_EQ(WSAWaitForMultipleEvents(1, &e, FALSE, kEventMs, FALSE), WSA_WAIT_EVENT_0);
    EXPECT_EQ(Take(a, e).lNetworkEvents, FD_READ);
    char buf[8];
    WSABUF wb = {sizeof buf, buf};
    DWORD got = 0, flags = 0;
    ASSERT_EQ(WSARecv(a, &wb, 1, &got, &flags, nullptr, nullptr), 0);
    EXPECT_EQ(got, 3u);
    ASSERT_EQ(WSAWaitForMultipleEvents(1, &e, FALSE, kEventMs, FALSE), WSA_WAIT_EVENT_0);
    EXPECT_EQ(Take(a, e).lNetworkEvents, FD_CLOSE);
}

TEST_F(WinsockTest, WouldBlockSendIsResumedAfterWriteEvent) {
    auto [c, a] = Pair();
    WSAEVENT e = Event();
    ASSERT_EQ(WSAEventSelect(a, e, FD_WRITE | FD_CLOSE), 0);
    ASSERT_EQ(WSAWaitForMultipleEvents(1, &e, FALSE, kEventMs, FALSE), WSA_WAIT_EVENT_0);
    EXPECT_EQ(Take(a, e).lNetworkEvents, FD_WRITE);

    std::string block(200000, 'y');
    size_t sentTotal = 0;
    DWORD sent = 0;
    WSABUF wb = {static_cast<ULONG>(block.size()), block.data()};
    int result = 0;
    for (int i = 0; i < 1000 && result == 0; ++i) {
        result = WSASend(a, &wb, 1, &sent, 0, nullptr, nullptr);
        if (result == 0) sentTotal += sent;
    }
    ASSERT_EQ(result, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    std::thread drain([c = c, sentTotal] {
        std::vector<char> buf(65536);
        size_t got = 0;
        while (got < sentTotal) {
            int n = recv(c, buf.data(), static_cast<int>(buf.size()), 0);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
    });
    DWORD waited = WSAWaitForMultipleEvents(1, &e, FALSE, kEventMs, FALSE);
    drain.join();
    ASSERT_EQ(waited, WSA_WAIT_EVENT_0);
    EXPECT_EQ(Take(a, e).lNetworkEvents & FD_WRITE, FD_WRITE);
}

TEST_F(WinsockTest, ConnectEventReportsResult) {
    SOCKET l = Listener();
    u_short port = PortOf(l);
    SOCKET c = Track(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    WSAEVENT e = Event();
    ASSERT_EQ(WSAEventSelect(c, e, FD_CONNECT | FD_WRITE), 0);
    sockaddr_in addr = Loopback(port);
    int result = connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (result == SOCKET_ERROR) {
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    }
    ASSERT_EQ(WSAWaitForMultipleEvents(1, &e, FALSE, kEventMs, FALSE), WSA_WAIT_EVENT_0);
    WSANETWORKEVENTS ne = Take(c, e);
    EXPECT_TRUE(ne.lNetworkEvents & FD_CONNECT);
    EXPECT_EQ(ne.iErrorCode[FD_CONNECT_BIT], 0);

    closesocket(l);
    Untrack(l);
    SOCKET refused = Track(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    WSAEVENT e2 = Event();
    ASSERT_EQ(WSAEventSelect(refused, e2, FD_CONNECT), 0);
    connect(refused, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ASSERT_EQ(WSAWaitForMultipleEvents(1, &e2, FALSE, kEventMs, FALSE), WSA_WAIT_EVENT_0);
    ne = Take(refused, e2);
    EXPECT_EQ(ne.lNetworkEvents, FD_CONNECT);
    EXPECT_EQ(ne.iErrorCode[FD_CONNECT_BIT], WSAECONNREFUSED);
}

TEST_F(WinsockTest, SocketEventsAreEventsForEveryWait) {
    SOCKET l = Listener();
    WSAEVENT shutdownEvent = Event();
    WSAEVENT listenEvent = Event();
    ASSERT_EQ(WSAEventSelect(l, listenEvent, FD_ACCEPT), 0);
    HANDLE pair[2] = {shutdownEvent, listenEvent};
    EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, kQuietMs), WAIT_TIMEOUT);

    std::thread setter([shutdownEvent] {
        Sleep(20);
        SetEvent(shutdownEvent);
    });
    EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, kEventMs), WAIT_OBJECT_0);
    setter.join();
    // Manual reset: stays set until reset.
    EXPECT_EQ(WSAWaitForMultipleEvents(2, pair, FALSE, 0, FALSE), WSA_WAIT_EVENT_0);
    EXPECT_TRUE(WSAResetEvent(shutdownEvent));
    EXPECT_TRUE(WSASetEvent(listenEvent));
    EXPECT_EQ(WSAWaitForMultipleEvents(2, pair, FALSE, 0, FALSE), WSA_WAIT_EVENT_0 + 1);
    EXPECT_EQ(Take(l, listenEvent).lNetworkEvents,
              0);  // set by hand: nothing recorded
    EXPECT_EQ(WSAWaitForMultipleEvents(2, pair, FALSE, 0, FALSE), WSA_WAIT_TIMEOUT);

    // Ending the selection stops the recording.
    ASSERT_EQ(WSAEventSelect(l, nullptr, 0), 0);
    Connect(PortOf(l));
    EXPECT_EQ(WSAWaitForMultipleEvents(1, &listenEvent, FALSE, kQuietMs, FALSE), WSA_WAIT_TIMEOUT);

    HANDLE plain = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WSAEventSelect(l, plain, FD_ACCEPT), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    CloseHandle(plain);
}

TEST_F(WinsockTest, ClosingTheEventHandleKeepsTheSelectionAlive) {
    auto [c, a] = Pair();
    WSAEVENT e = WSACreateEvent();
    ASSERT_EQ(WSAEventSelect(a, e, FD_READ), 0);
    HANDLE second = zbw::AddHandle(e);
    EXPECT_TRUE(WSACloseEvent(e));
    ASSERT_EQ(send(c, "z", 1, 0), 1);
    EXPECT_EQ(WaitForSingleObject(second, kEventMs), WAIT_OBJECT_0);
    closesocket(a);
    Untrack(a);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_FALSE(WSACloseEvent(e));
}

}  // namespace
