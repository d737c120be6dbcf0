// The socket server base on loopback: an echo subclass, several clients, the client filter, the
// stop, a port already in use, the limits and how slow peers from other loopback addresses
// (127.0.0.2 and up) give way to new clients.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "common/DebugPrintf.h"
#include "dovrane/web/ClientFilter.h"
#include "dovrane/web/GenericServer.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/win32/Thread.h"
#include "platform/win32/Winsock.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/TestRoot.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kBound = std::chrono::seconds(10);
const std::string kBigCommand = "BIG\n";
const size_t kBigSize = 16 * 1024 * 1024;

std::string BigResponse() {
    std::string big(kBigSize, 'x');
    for (size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<char>('a' + (i / 4096) % 26);
    return big;
}

// Echoes a request ending in "\n"; "BIG\n" answers kBigSize bytes.
class CEchoServer : public CGenericServer {
   public:
    explicit CEchoServer(CDebugPrintf& log) : CGenericServer(log) {}
    ~CEchoServer() override {
        Release();
        ShutdownAndWait();
    }

    CClientFilter m_filter;
    bool m_bKeepAlive = false;
    int m_nBarrier = 0;  // requests that must be inside ProcessRequest at once
    std::atomic<bool> m_bHoldAccept{false};

    std::atomic<int> m_nAccepts{0};
    std::atomic<int> m_nRequests{0};
    std::atomic<DWORD> m_dwLastSent{0};
    std::atomic<int> m_nAnswersSent{0};
    std::atomic<int> m_nMaxInside{0};
    std::atomic<bool> m_bAcceptEntered{false};

    void LimitRequestTime(DWORD ms) { SetRequestTimeLimit(ms); }

    void Release() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bReleased = true;
        m_cv.notify_all();
    }

    // The threads that have answered a request.
    std::set<DWORD> AnsweringThreads() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_answeringThreads;
    }

   protected:
    int OnAccept(const char* address, int) override {
        ++m_nAccepts;
        if (m_bHoldAccept) {
            m_bAcceptEntered = true;
            std::unique_lock<std::mutex> lock(m_lock);
            m_cv.wait_for(lock, kBound, [this] { return m_bReleased; });
        }
        return m_filter.Check(CString(address)) == CClientFilter::ALLOWED;
    }
    int OnDataSent(DWORD bytesSent) override {
        m_dwLastSent = bytesSent;
        ++m_nAnswersSent;
        return 0;
    }
    int IsRequestComplete(const std::string& request) override {
        if (request.rfind("REFUSE", 0) == 0) return -1;
        return !request.empty() && request.back() == '\n';
    }
    int ProcessRequest(const std::string& request, std::string& response, bool& keepAlive,
                       const char*) override {
        ++m_nRequests;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_answeringThreads.insert(GetCurrentThreadId());
        }
        WaitAtBarrier();
        response = request == kBigCommand ? BigResponse() : request;
        keepAlive = m_bKeepAlive;
        return 1;
    }

   private:
    void WaitAtBarrier() {
        if (m_nBarrier == 0) return;
        std::unique_lock<std::mutex> lock(m_lock);
        int inside = ++m_nInside;
        if (inside > m_nMaxInside) m_nMaxInside = inside;
        m_cv.notify_all();
        m_cv.wait_for(lock, kBound, [this] { return m_nInside >= m_nBarrier || m_bReleased; });
    }

    std::mutex m_lock;
    std::condition_variable m_cv;
    int m_nInside = 0;
    bool m_bReleased = false;
    std::set<DWORD> m_answeringThreads;
};

// From a loopback source address of its own when from is given.
SOCKET Connect(WORD port, const char* from = nullptr) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (from) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = inet_addr(from);
        if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == SOCKET_ERROR) {
            closesocket(s);
            return INVALID_SOCKET;
        }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == SOCKET_ERROR) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

void SendText(SOCKET s, const std::string& text) {
    ASSERT_EQ(send(s, text.data(), static_cast<int>(text.size()), 0), static_cast<int>(text.size()));
}

// Reads until the peer closes, limit bytes have come or nothing has come for the bound; closed
// tells which. A large answer on a crowded machine may take longer than the bound as a whole.
std::string Read(SOCKET s, size_t limit, bool* closed = nullptr) {
    std::string data;
    std::vector<char> buffer(65536);
    auto end = Clock::now() + kBound;
    if (closed) *closed = false;
    while (data.size() < limit && Clock::now() < end) {
        WSAFDSET set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval slice{0, 50000};
        if (select(0, &set, nullptr, nullptr, &slice) <= 0) continue;
        int got = recv(s, buffer.data(), static_cast<int>(std::min(buffer.size(), limit - data.size())), 0);
        if (got <= 0) {
            if (closed) *closed = true;
            break;
        }
        data.append(buffer.data(), static_cast<size_t>(got));
        end = Clock::now() + kBound;
    }
    return data;
}

std::string ReadUntilClosed(SOCKET s, bool* closed) {
    return Read(s, static_cast<size_t>(-1), closed);
}

template <class Pred>
bool WaitUntil(Pred pred) {
    auto end = Clock::now() + kBound;
    while (!pred()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The UTF-16LE bytes of an ASCII text, as the debug log holds it.
std::string Wide(const std::string& text) {
    std::string wide;
    for (char c : text) {
        wide += c;
        wide += '\0';
    }
    return wide;
}

class GenericServerTest : public ::testing::Test {
   protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        ASSERT_TRUE(m_log.Init(CString(m_root.Path("server.log").c_str())));
        m_server = std::make_unique<CEchoServer>(m_log);
        m_port = FreeLoopbackPort();
    }
    void TearDown() override {
        m_server.reset();
        WSACleanup();
    }

    bool LogHas(const std::string& line) {
        return ReadHostFile(m_root.Path("server.log")).find(Wide(line)) != std::string::npos;
    }

    CTestRoot m_root;
    CDebugPrintf m_log;
    std::unique_ptr<CEchoServer> m_server;
    WORD m_port = 0;
};

TEST_F(GenericServerTest, EchoesRequestAndClosesWithoutKeepAlive) {
    ASSERT_EQ(m_server->Start(m_port, 5000), 1);
    SOCKET s = Connect(m_port);
    ASSERT_NE(s, INVALID_SOCKET);
    SendText(s, "hello\n");
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(s, &closed), "hello\n");
    EXPECT_TRUE(closed);
    EXPECT_EQ(m_server->m_dwLastSent, 6u);
    closesocket(s);
    EXPECT_EQ(m_server->Shutdown(), 1);
}

TEST_F(GenericServerTest, SplitRequestIsAnsweredOnceWhenComplete) {
    ASSERT_EQ(m_server->Start(m_port, 5000), 1);
    SOCKET s = Connect(m_port);
    SendText(s, "hel");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(m_server->m_nRequests, 0);
    SendText(s, "lo\n");
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(s, &closed), "hello\n");
    EXPECT_EQ(m_server->m_nRequests, 1);
    closesocket(s);
}

TEST_F(GenericServerTest, RefusedRequestClosesWithoutAnswer) {
    ASSERT_EQ(m_server->Start(m_port, 5000), 1);
    SOCKET s = Connect(m_port);
    SendText(s, "REFUSE this\n");
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(s, &closed), "");
    EXPECT_TRUE(closed);
    EXPECT_EQ(m_server->m_nRequests, 0);
    closesocket(s);
}

TEST_F(GenericServerTest, TricklingRequestIsCutAtTheTimeLimit) {
    m_server->LimitRequestTime(600);
    ASSERT_EQ(m_server->Start(m_port, 5000), 1);
    SOCKET s = Connect(m_port);
    auto start = Clock::now();
    auto peerClosed = [&] {
        WSAFDSET set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval none{0, 0};
        char byte;
        return select(0, &set, nullptr, nullptr, &none) > 0 && recv(s, &byte, 1, 0) <= 0;
    };
    bool closed = false;
    // One byte every 150 ms keeps the idle time-out from ever firing.
    for (int i = 0; i < 20 && !closed; ++i) {
        send(s, "a", 1, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        closed = peerClosed();
    }
    EXPECT_TRUE(closed);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_EQ(m_server->m_nRequests, 0);
    closesocket(s);
}

TEST_F(GenericServerTest, KeepAliveAnswersNextRequestFromFreshText) {
    m_server->m_bKeepAlive = true;
    ASSERT_EQ(m_server->Start(m_port, 5000), 1);
    SOCKET s = Connect(m_port);
    SendText(s, "one\n");
    EXPECT_EQ(Read(s, 4), "one\n");
    SendText(s, "two\n");
    EXPECT_EQ(Read(s, 4), "two\n");
    closesocket(s);
}

TEST_F(GenericServerTest, ServesSeveralClientsAtOnce) {
    const int kClients = 4;
    m_server->m_nBarrier = kClients;
    ASSERT_EQ(m_server->Start(m_port, 5000), 1);
    std::vector<SOCKET> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(Connect(m_port));
        SendText(clients.back(), "client " + std::to_string(i) + "\n");
    }
    for (int i = 0; i < kClients; ++i) {
        bool closed = false;
        EXPECT_EQ(ReadUntilClosed(clients[i], &closed), "client " + std::to_string(i) + "\n");
        closesocket(clients[i]);
    }
    EXPECT_EQ(m_server->m_nMaxInside, kClients);
}

TEST_F(GenericServerTest, FilteredAddressIsClosedWithoutAByte) {
    const struct {
        const char16_t* filter;
        bool served;
    } cases[] = {{u"10.*", false}, {u"27.0.0.1", false}, {u"127.0.0.*", true}, {u"", true}};
    ASSERT_EQ(m_server->Start(m_port, 5000), 1);
    for (const auto& c : cases) {
        m_server->m_filter.SetFilter(c.filter);
        int requests = m_server->m_nRequests;
        SOCKET s = Connect(m_port);
        SendText(s, "hi\n");
        bool closed = false;
        EXPECT_EQ(ReadUntilClosed(s, &closed), c.served ? "hi\n" : "") << zbw::ToUtf8(c.filter);
        EXPECT_TRUE(closed);
        EXPECT_EQ(m_server->m_nRequests - requests, c.served ? 1 : 0);
        closesocket(s);
    }
    EXPECT_TRUE(LogHas("AddClient(...) failure.\t[AcceptThread]\t[0]"));
}

TEST(ClientFilterTest, MatchesTheWholeAddress) {
    const struct {
        const char16_t* filter;
        const char16_t* address;
        CClientFilter::RESULT result;
    } cases[] = {
        {u"", u"1.2.3.4", CClientFilter::ALLOWED},
        {u"*", u"1.2.3.4", CClientFilter::ALLOWED},
        {u"192.168.1.*", u"192.168.1.20", CClientFilter::ALLOWED},
        {u"192.168.1.*", u"192.168.10.20", CClientFilter::REFUSED},
        {u"192.168.1.2", u"192.168.1.20", CClientFilter::REFUSED},
        {u"2.168.1.20", u"192.168.1.20", CClientFilter::REFUSED},
        {u"127.0.0.?", u"127.0.0.1", CClientFilter::ALLOWED},
        {u"127.0.0.?", u"127.0.0.10", CClientFilter::REFUSED},
        {u"127.0.0.1", u"127x0x0x1", CClientFilter::REFUSED},
        // Filters that backtrack without end are cut short: refused, and soon.
        {u"********************a", u"192.168.100.200", CClientFilter::REFUSED},
        {u"*?*?*?*?*?*?*?*?*?*?*?*?*?*?*a", u"192.168.100.200", CClientFilter::REFUSED},
        {u"*1*1*1*1*1*1*1*1*1*1*1*1*1*1*1*1*1*1*1*1*x", u"111.111.111.111", CClientFilter::REFUSED},
        {u"1**1**.*?.**1", u"111.111.111.111", CClientFilter::ALLOWED},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CClientFilter(c.filter).Check(c.address), c.result)
            << zbw::ToUtf8(c.filter) << " " << zbw::ToUtf8(c.address);
}

TEST_F(GenericServerTest, ShutdownEndsEveryClientThread) {
    const int kClients = 5;
    ASSERT_EQ(m_server->Start(m_port, 0), 1);
    std::vector<SOCKET> clients;
    for (int i = 0; i < kClients; ++i) clients.push_back(Connect(m_port));
    ASSERT_TRUE(WaitUntil([&] { return m_server->GetClientCount() == kClients; }));
    EXPECT_EQ(m_server->Shutdown(), 1);
    EXPECT_EQ(m_server->GetClientCount(), 0);
    EXPECT_FALSE(m_server->IsStarted());
    for (SOCKET s : clients) {
        bool closed = false;
        EXPECT_EQ(ReadUntilClosed(s, &closed), "");
        EXPECT_TRUE(closed);
        closesocket(s);
    }
    EXPECT_EQ(Connect(m_port), INVALID_SOCKET);
}

TEST_F(GenericServerTest, PortInUseFailsTheStartAtOnce) {
    SOCKET holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(m_port);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(listen(holder, 5), 0);
    auto start = Clock::now();
    EXPECT_EQ(m_server->Start(m_port, 5000), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "the accept thread's end ends the wait";
    EXPECT_FALSE(m_server->IsStarted());
    EXPECT_TRUE(LogHas("bind(...) failure.\t[AcceptThread]\t[10048]"));
    EXPECT_TRUE(LogHas("Thread ended without answering.\t[Run]\t[0]"));
    EXPECT_EQ(m_server->Shutdown(), 1);
    closesocket(holder);
    EXPECT_EQ(m_server->Start(m_port, 5000), 1);
}

TEST_F(GenericServerTest, SecondStartFailsAndUnstartedShutdownSucceeds) {
    EXPECT_EQ(m_server->Shutdown(), 1);
    ASSERT_EQ(m_server->Start(m_port, 5000), 1);
    EXPECT_EQ(m_server->Start(m_port, 5000), 0);
    EXPECT_TRUE(LogHas("_beginthreadex(...) failure, for Launch Thread.\t[Run]"));
    EXPECT_EQ(m_server->Shutdown(), 1);
    EXPECT_EQ(m_server->Shutdown(), 1);
}

TEST_F(GenericServerTest, IdleClientIsDisconnectedAfterTheTimeOut) {
    ASSERT_EQ(m_server->Start(m_port, 200), 1);
    SOCKET s = Connect(m_port);
    auto start = Clock::now();
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(s, &closed), "");
    EXPECT_TRUE(closed);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(150));
    closesocket(s);
}

TEST_F(GenericServerTest, LargeResponseIsCompletedAfterTheSocketDrains) {
    ASSERT_EQ(m_server->Start(m_port, 5000), 1);
    SOCKET s = Connect(m_port);
    SendText(s, kBigCommand);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    bool closed = false;
    std::string got = ReadUntilClosed(s, &closed);
    EXPECT_EQ(got.size(), kBigSize);
    EXPECT_TRUE(got == BigResponse());
    EXPECT_EQ(m_server->m_dwLastSent, kBigSize);
    closesocket(s);
}

TEST_F(GenericServerTest, RequestArrivingDuringAPendingSendWaitsForIt) {
    m_server->m_bKeepAlive = true;
    ASSERT_EQ(m_server->Start(m_port, 5000), 1);
    SOCKET s = Connect(m_port);
    SendText(s, kBigCommand);
    ASSERT_TRUE(WaitUntil([&] { return m_server->m_nRequests == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    SendText(s, "next\n");
    std::string got = Read(s, kBigSize + 5);
    ASSERT_EQ(got.size(), kBigSize + 5);
    EXPECT_TRUE(got.compare(0, kBigSize, BigResponse()) == 0);
    EXPECT_EQ(got.substr(kBigSize), "next\n");
    closesocket(s);
}

TEST_F(GenericServerTest, RequestBeyondTheLimitClosesTheConnection) {
    ASSERT_EQ(m_server->Start(m_port, 5000), 1);
    SOCKET s = Connect(m_port);
    const std::string piece(100000, 'r');
    for (size_t sent = 0; sent <= CGenericServer::MAX_REQUEST_BYTES; sent += piece.size())
        if (send(s, piece.data(), static_cast<int>(piece.size()), 0) == SOCKET_ERROR) break;
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(s, &closed), "");
    EXPECT_TRUE(closed);
    EXPECT_EQ(m_server->m_nRequests, 0);
    EXPECT_TRUE(LogHas("Request too large.\t[ClientThread]"));
    closesocket(s);
}

// The address of the i-th of n connections spread over 127.0.0.2 and up, each address below its share.
std::string SpreadAddress(int i) {
    return "127.0.0." + std::to_string(2 + i / (CGenericServer::MAX_CLIENTS_PER_ADDRESS / 2));
}

// Whether the server closed s without a byte (a byte that came stays unread).
bool ClosedWithoutAnswer(SOCKET s) {
    bool closed = false;
    return Read(s, 1, &closed).empty() && closed;
}

TEST_F(GenericServerTest, ClientsBeyondTheLimitAreClosedAtOnceWhenEveryPlaceIsAnswering) {
    m_server->m_nBarrier = CGenericServer::MAX_CLIENTS + 1;
    ASSERT_EQ(m_server->Start(m_port, 0), 1);
    std::vector<SOCKET> clients;
    for (int i = 0; i < CGenericServer::MAX_CLIENTS; ++i) {
        clients.push_back(Connect(m_port, SpreadAddress(i).c_str()));
        ASSERT_NE(clients.back(), INVALID_SOCKET);
        SendText(clients.back(), "held\n");
    }
    ASSERT_TRUE(WaitUntil([&] { return m_server->m_nRequests == CGenericServer::MAX_CLIENTS; }));
    SOCKET extra = Connect(m_port);
    EXPECT_TRUE(ClosedWithoutAnswer(extra)) << "no place waits for a request";
    EXPECT_EQ(m_server->GetPlaceCount(), CGenericServer::MAX_CLIENTS);
    EXPECT_TRUE(LogHas("Too many clients, client not served.\t[AddClient]"));
    closesocket(extra);
    m_server->Release();
    bool closed = false;
    for (SOCKET s : clients) {
        EXPECT_EQ(ReadUntilClosed(s, &closed), "held\n");
        closesocket(s);
    }
}

// Every place holds a silent connection: a newcomer takes the place of the one accepted first,
// which is closed as its time limit would close it; the others keep theirs.
TEST_F(GenericServerTest, FullServerGivesTheLongestWaitingPlaceToANewClient) {
    ASSERT_EQ(m_server->Start(m_port, 0), 1);
    std::vector<SOCKET> silent;
    silent.push_back(Connect(m_port, SpreadAddress(0).c_str()));
    ASSERT_TRUE(WaitUntil([&] { return m_server->GetPlaceCount() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    for (int i = 1; i < CGenericServer::MAX_CLIENTS; ++i) {
        silent.push_back(Connect(m_port, SpreadAddress(i).c_str()));
        ASSERT_NE(silent.back(), INVALID_SOCKET);
    }
    ASSERT_TRUE(WaitUntil([&] { return m_server->GetPlaceCount() == CGenericServer::MAX_CLIENTS; }));
    SOCKET newcomer = Connect(m_port);
    SendText(newcomer, "served\n");
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(newcomer, &closed), "served\n");
    closesocket(newcomer);
    EXPECT_TRUE(ClosedWithoutAnswer(silent.front())) << "the longest waiting gave its place";
    EXPECT_TRUE(LogHas("Too many clients, longest waiting client closed.\t[AddClient]\t[1]"));
    SendText(silent.back(), "kept\n");
    EXPECT_EQ(ReadUntilClosed(silent.back(), &closed), "kept\n");
    for (SOCKET s : silent) closesocket(s);
}

// Keep-alive connections that were answered once wait in every place a case fills; as many
// newcomers each take the place of the longest waiting one and are answered on its thread, so
// admitting them starts no thread.
TEST_F(GenericServerTest, NewcomerTakesOverTheThreadOfTheConnectionItCloses) {
    const std::string kShared = "127.0.0.2";
    struct CASE {
        const char* name;
        int places;
        std::function<std::string(int)> holderAddress;
        std::function<std::string(int)> newcomerAddress;
    } cases[] = {
        {"every place taken", CGenericServer::MAX_CLIENTS, SpreadAddress,
         [](int i) { return SpreadAddress(CGenericServer::MAX_CLIENTS + i); }},
        {"one address holding its share", CGenericServer::MAX_CLIENTS_PER_ADDRESS,
         [&](int) { return kShared; }, [&](int) { return kShared; }},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        m_server = std::make_unique<CEchoServer>(m_log);
        m_server->m_bKeepAlive = true;
        ASSERT_EQ(m_server->Start(m_port, 0), 1);
        std::vector<SOCKET> holders;
        for (int i = 0; i < c.places; ++i) {
            holders.push_back(Connect(m_port, c.holderAddress(i).c_str()));
            SendText(holders.back(), "hold\n");
            ASSERT_EQ(Read(holders.back(), 5), "hold\n");
        }
        // A holder reads its answer a moment before its thread notes it waiting again.
        ASSERT_TRUE(WaitUntil([&] { return m_server->m_nAnswersSent == c.places; }));
        const size_t threads = m_server->AnsweringThreads().size();
        ASSERT_EQ(threads, static_cast<size_t>(c.places));
        std::vector<SOCKET> newcomers;
        for (int i = 0; i < c.places; ++i) {
            newcomers.push_back(Connect(m_port, c.newcomerAddress(i).c_str()));
            SendText(newcomers.back(), "new\n");
            ASSERT_EQ(Read(newcomers.back(), 4), "new\n") << "newcomer " << i;
        }
        EXPECT_EQ(m_server->AnsweringThreads().size(), threads) << "threads started for newcomers";
        EXPECT_EQ(m_server->GetClientCount(), c.places);
        for (SOCKET s : holders) EXPECT_TRUE(ClosedWithoutAnswer(s));
        for (SOCKET s : holders) closesocket(s);
        for (SOCKET s : newcomers) closesocket(s);
        m_server.reset();
    }
}

// Hundreds of connections that trickle a byte and never end a request keep coming from one
// address: it never holds more than its share, and a client from another address is answered
// each time it asks.
TEST_F(GenericServerTest, SlowClientsFromOneAddressCannotLockOthersOut) {
    const int kSlow = 300;
    const char kAttacker[] = "127.0.0.2";
    m_server->LimitRequestTime(30000);
    ASSERT_EQ(m_server->Start(m_port, 10000), 1);
    std::atomic<bool> stop{false};
    std::atomic<int> opened{0};
    std::atomic<int> mostHeld{0};
    std::thread attacker([&] {
        std::vector<SOCKET> slow(kSlow, INVALID_SOCKET);
        for (int i = 0; !stop; i = (i + 1) % kSlow) {
            if (slow[i] != INVALID_SOCKET) closesocket(slow[i]);
            slow[i] = Connect(m_port, kAttacker);
            if (slow[i] != INVALID_SOCKET && send(slow[i], "G", 1, 0) == 1) ++opened;
            int held = m_server->GetPlaceCount(kAttacker);
            if (held > mostHeld) mostHeld = held;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (SOCKET s : slow)
            if (s != INVALID_SOCKET) closesocket(s);
    });
    ASSERT_TRUE(WaitUntil([&] { return opened >= kSlow; }));
    ASSERT_TRUE(WaitUntil([&] {
        return m_server->GetPlaceCount(kAttacker) == CGenericServer::MAX_CLIENTS_PER_ADDRESS;
    })) << "the filter lets the attacker's address in";
    for (int round = 0; round < 5; ++round) {
        SOCKET s = Connect(m_port);
        ASSERT_NE(s, INVALID_SOCKET);
        SendText(s, "round " + std::to_string(round) + "\n");
        bool closed = false;
        EXPECT_EQ(ReadUntilClosed(s, &closed), "round " + std::to_string(round) + "\n");
        closesocket(s);
    }
    int before = opened;
    EXPECT_TRUE(WaitUntil([&] { return opened >= before + kSlow; })) << "the attack went on meanwhile";
    stop = true;
    attacker.join();
    EXPECT_LE(mostHeld, CGenericServer::MAX_CLIENTS_PER_ADDRESS);
    EXPECT_EQ(m_server->Shutdown(), 1);
}

TEST_F(GenericServerTest, ThreadOutlivingAStopIsWaitedForNotAbandoned) {
    m_server->m_bHoldAccept = true;
    ASSERT_EQ(m_server->Start(m_port, 5000), 1);
    SOCKET s = Connect(m_port);
    ASSERT_TRUE(WaitUntil([&] { return m_server->m_bAcceptEntered.load(); }));
    EXPECT_EQ(m_server->Shutdown(), 0);
    EXPECT_TRUE(LogHas("WaitForMultipleObjects(...) timed out.\t[Shutdown]\t[0]"));
    // The held accept thread still runs in the server: no new run while it does.
    EXPECT_EQ(m_server->Start(m_port, 5000), 0);
    m_server->m_bHoldAccept = false;
    m_server->Release();
    bool closed = false;
    EXPECT_EQ(ReadUntilClosed(s, &closed), "");
    closesocket(s);
    EXPECT_TRUE(WaitUntil([&] { return m_server->Start(m_port, 5000) == 1; }));
    EXPECT_EQ(m_server->Shutdown(), 1);
}

}  // namespace
