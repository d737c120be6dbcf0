// The csc socket library: error texts, integers, challenge and response, over real loopback sockets; fakes a
// temporary emulation root and the computer name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/CSCvs.h"
#include "common/csc.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Winsock.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/TestRoot.h"

namespace {

constexpr int kWaitMs = 5000;

std::string ErrorText(int code) {
    char text[128];
    cscErrorText(code, text, sizeof text);
    return text;
}

class CscSocketTest : public ::testing::Test {
   protected:
    void TearDown() override { EXPECT_EQ(cscRelease(), CSC_OK); }

    // Attaches, listens on a free loopback port and connects one client: (client, server side).
    std::pair<int, int> Connected(int sockets = 6) {
        EXPECT_EQ(cscAttach(sockets), CSC_OK);
        m_port = FreeLoopbackPort();
        EXPECT_EQ(cscServer("127.0.0.1", m_port), CSCVS_OK);
        int client = cscClient("127.0.0.1", m_port);
        EXPECT_GE(client, 0) << ErrorText(client);
        EXPECT_EQ(cscAwaitConnect(), 1);
        int server = cscAcceptConnect();
        EXPECT_GE(server, 0) << ErrorText(server);
        return {client, server};
    }
    // Everything that arrives within the wait, read in pieces of at most 254 bytes.
    static std::string Receive(int connection, size_t expected) {
        std::string got;
        while (got.size() < expected && cscAwaitData(connection, kWaitMs) == 1) {
            char piece[256] = {};
            int n = cscGetData(connection, piece, 254);
            if (n < 1) break;
            got.append(piece, static_cast<size_t>(n));
        }
        return got;
    }

    CTestRoot m_root;
    int m_port = 0;
};

TEST(CscTextTest, ErrorTexts) {
    struct {
        int code;
        const char* text;
    } cases[] = {
        {1, "No error."},
        {-1, "EOF."},
        {-17, "No free sockets."},
        {-24, "File too large"},
        {-10038, "Not a valid socket"},
        {-10061, "Connection refused by remote host."},
        {-11004, "No data is available."},
        {-1003, ""},
        {0, ""},
        {999, ""},
        {-9999, ""},
    };
    for (const auto& c : cases) {
        char text[128];
        EXPECT_EQ(cscErrorText(c.code, text, sizeof text), static_cast<int>(std::strlen(c.text))) << c.code;
        EXPECT_STREQ(text, c.text) << c.code;
    }
    char small[4];
    EXPECT_EQ(cscErrorText(-5, small, sizeof small), 3);
    EXPECT_STREQ(small, "Can");
    EXPECT_EQ(cscErrorText(-5, small, 0), 0);
    EXPECT_EQ(cscErrorText(-5, nullptr, 10), CSC_NULL_POINTER);
}

TEST(CscTextTest, Integers) {
    EXPECT_EQ(cscGetInteger(CSC_INT_VERSION), 0x301);
    EXPECT_EQ(cscGetInteger(CSC_INT_BUILD), 4);
    EXPECT_EQ(cscGetInteger(CSC_INT_BUFFER_SIZE), 4096);
    EXPECT_EQ(cscGetInteger(CSC_INT_TABLE_END), 999);
    EXPECT_EQ(cscGetInteger(0), -1);
}

TEST(CscLoginTest, ChallengeIsUpperCaseHex) {
    char challenge[CSC_CHALLENGE_LEN + 1];
    EXPECT_EQ(cscChallenge(challenge), CSC_CHALLENGE_LEN);
    size_t length = std::strlen(challenge);
    EXPECT_GE(length, 1u);
    EXPECT_LE(length, 8u);
    for (size_t i = 0; i < length; ++i)
        EXPECT_TRUE(std::strchr("0123456789ABCDEF", challenge[i])) << challenge;
    EXPECT_EQ(cscChallenge(nullptr), CSC_NULL_POINTER);
}

TEST(CscLoginTest, ResponseIsFixedAndBothEndsAgree) {
    // Pinned pairs: every client in the field computes these, so a change of the digit table,
    // multiplier, rotation or mask breaks the login and must show here.
    const struct {
        const char* challenge;
        const char* response;
    } vectors[] = {
        {"00000000", "5A3CC3A5"},  // zero stays zero until the mask
        {"00000001", "DA3CC1ED"}, {"80000000", "1A3CC681"}, {"1234ABCD", "EB6294DE"},
        {"1234ABCE", "6B629261"}, {"DEADBEEF", "8BC41B51"}, {"FFFFFFFF", "8A67BD70"},
    };
    char a[CSC_CHALLENGE_LEN + 1];
    for (const auto& v : vectors) {
        EXPECT_EQ(cscResponse(v.challenge, a), CSC_CHALLENGE_LEN);
        EXPECT_STREQ(a, v.response) << v.challenge;
    }

    // Anything that is not eight upper-case digits reads as the value -1, on both sides alike.
    char minusOne[CSC_CHALLENGE_LEN + 1];
    cscResponse("FFFFFFFF", minusOne);
    for (const char* odd : {"1234abcd", "12 4ABCD", "", "ABC", "1234567"}) {
        cscResponse(odd, a);
        EXPECT_STREQ(a, minusOne) << odd;
    }
    EXPECT_EQ(cscResponse(nullptr, a), CSC_NULL_POINTER);
}

TEST(CscLoginTest, ShortChallengeIsNotReadPastItsEnd) {
    std::unique_ptr<char[]> exact(new char[3]{'A', 'B', 0});
    char out[CSC_CHALLENGE_LEN + 1];
    char minusOne[CSC_CHALLENGE_LEN + 1];
    cscResponse(exact.get(), out);
    cscResponse("FFFFFFFF", minusOne);
    EXPECT_STREQ(out, minusOne);
}

TEST_F(CscSocketTest, AttachRules) {
    char buf[32];
    EXPECT_EQ(cscClient("127.0.0.1", 1), CSC_NOT_ATTACHED);
    EXPECT_EQ(cscGetData(0, buf, sizeof buf), CSC_NOT_ATTACHED);
    EXPECT_EQ(cscAwaitConnect(), CSC_NOT_ATTACHED);
    EXPECT_EQ(cscAttach(129), CSC_TOO_MANY_SOCKETS);
    EXPECT_EQ(cscAttach(0), CSC_CANNOT_COMPLY);
    ASSERT_EQ(cscAttach(6), CSC_OK);
    EXPECT_EQ(cscAttach(6), CSC_ALREADY_ATTACHED);
    EXPECT_EQ(cscAwaitConnect(), CSC_NO_SUCH_SOCKET);
    EXPECT_EQ(cscAcceptConnect(), CSC_NO_SUCH_SOCKET);
    for (int connection : {0, 5, 6, -2, 200}) {
        EXPECT_EQ(cscGetData(connection, buf, sizeof buf), CSC_NO_SUCH_SOCKET) << connection;
        EXPECT_EQ(cscPutData(connection, "x", 1), CSC_NO_SUCH_SOCKET) << connection;
        EXPECT_EQ(cscClose(connection), CSC_NO_SUCH_SOCKET) << connection;
    }
    EXPECT_EQ(cscRelease(), CSC_OK);
    EXPECT_EQ(cscAttach(1), CSC_OK);
}

TEST_F(CscSocketTest, ExchangeAndAddresses) {
    auto [client, server] = Connected();
    const char message[] = "STATUS ALL";
    EXPECT_EQ(cscPutData(client, message, 10), 10);
    EXPECT_EQ(Receive(server, 10), "STATUS ALL");

    std::string big(100000, 'q');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
    EXPECT_EQ(cscPutData(server, big.data(), static_cast<int>(big.size())), 100000);
    EXPECT_EQ(Receive(client, big.size()), big);

    char text[64];
    for (int code : {CSC_STR_LOCAL_ADDRESS, CSC_STR_REMOTE_ADDRESS, CSC_STR_PEER_ADDRESS}) {
        EXPECT_EQ(cscGetString(client, code, text, sizeof text), 9) << code;
        EXPECT_STREQ(text, "127.0.0.1") << code;
    }
    EXPECT_EQ(cscGetString(server, CSC_STR_LAST_ACCEPTED, text, sizeof text), 9);
    EXPECT_STREQ(text, "127.0.0.1");
    EXPECT_EQ(cscGetString(server, CSC_STR_ENTRY_TEXT, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(cscGetString(server, 99, text, sizeof text), 0);
    EXPECT_STREQ(text, "?");
    EXPECT_EQ(cscGetString(server, CSC_STR_PEER_ADDRESS, text, 16), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(cscGetString(server, CSC_STR_PEER_ADDRESS, nullptr, 64), CSC_CANNOT_COMPLY);
    EXPECT_EQ(cscIsConnected(client), 1);
}

TEST_F(CscSocketTest, WaitsAndBadArguments) {
    auto [client, server] = Connected();
    EXPECT_EQ(cscAwaitData(server, 150), 0);
    EXPECT_EQ(cscAwaitConnect(), 0);
    char buf[16];
    EXPECT_EQ(cscGetData(server, buf, sizeof buf), 0);
    EXPECT_EQ(cscGetData(server, buf, 0), CSCVS_NOTHING_TO_SEND);
    EXPECT_EQ(cscGetData(server, nullptr, 10), CSC_NULL_POINTER);
    EXPECT_EQ(cscPutData(client, "x", 0), CSCVS_NOTHING_TO_SEND);
    EXPECT_EQ(cscPutData(client, nullptr, 5), CSC_NULL_POINTER);
    EXPECT_EQ(cscClient(nullptr, m_port), CSC_NULL_ARGUMENT);
    EXPECT_EQ(cscServer(nullptr, m_port), CSC_NULL_ARGUMENT);
}

TEST_F(CscSocketTest, PeerCloseIsEndOfData) {
    auto [client, server] = Connected();
    EXPECT_EQ(cscClose(client), CSC_OK);
    ASSERT_EQ(cscAwaitData(server, kWaitMs), 1);
    EXPECT_EQ(cscIsConnected(server), 0);
    char buf[16];
    EXPECT_EQ(cscGetData(server, buf, sizeof buf), CSC_EOF);
    EXPECT_EQ(cscGetData(client, buf, sizeof buf), CSC_NO_SUCH_SOCKET);
}

// A peer that has not read what was sent to it yet is slow, not gone: its commands are still read.
TEST_F(CscSocketTest, APeerThatReadsNothingIsStillConnected) {
    auto [client, server] = Connected();
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(cscAwaitActivity(stop, 0), CSC_ACTIVITY_TIMEOUT);  // watched sockets are non-blocking
    const std::string piece(65536, 'x');
    int sent = 0;
    while (sent < 64 * 1024 * 1024) {
        const int now = cscPutDataNow(server, piece.data(), static_cast<int>(piece.size()));
        ASSERT_GE(now, 0) << ErrorText(now);
        if (now == 0) break;
        sent += now;
    }
    ASSERT_EQ(cscPutDataNow(server, piece.data(), 1), 0) << "the send buffer is full";
    EXPECT_EQ(cscIsConnected(server), 1);
    EXPECT_EQ(cscPutData(client, "VER", 3), 3);
    EXPECT_EQ(Receive(server, 3), "VER");
    CloseHandle(stop);
}

TEST_F(CscSocketTest, ClientFailuresFreeTheirEntry) {
    ASSERT_EQ(cscAttach(1), CSC_OK);
    int port = FreeLoopbackPort();
    EXPECT_EQ(cscClient("127.0.0.1", port), -WSAECONNREFUSED);
    EXPECT_EQ(ErrorText(-WSAECONNREFUSED), "Connection refused by remote host.");
    EXPECT_EQ(cscClient("0.0.0.0", port), CSCVS_ZERO_ADDRESS);
    EXPECT_EQ(cscClient(std::string(128, 'h').c_str(), port), CSCVS_HOST_TOO_LONG);
    // The single entry is still free.
    ASSERT_EQ(cscServer("", port), CSCVS_OK);
    EXPECT_EQ(cscClient("127.0.0.1", port), 0);
    EXPECT_EQ(cscClient("127.0.0.1", port), CSC_NO_FREE_SOCKETS);
}

TEST_F(CscSocketTest, AcceptWithoutRoomClosesTheConnection) {
    auto [client, server] = Connected(2);
    (void)server;
    // A third connection: the table of two is full, so the accepted socket is closed at once.
    SOCKET extra = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(m_port));
    addr.sin_addr.s_addr = inet_addr("127.0.0.1");
    ASSERT_EQ(connect(extra, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(cscAwaitConnect(), 1);
    EXPECT_EQ(cscAcceptConnect(), CSC_NO_FREE_SOCKETS);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(extra, &set);
    timeval wait = {5, 0};
    ASSERT_EQ(select(0, &set, nullptr, nullptr, &wait), 1);
    char byte;
    EXPECT_EQ(recv(extra, &byte, 1, 0), 0);
    closesocket(extra);
    EXPECT_EQ(cscIsConnected(client), 1);
}

TEST_F(CscSocketTest, AcceptWithoutSlotClosesTheConnection) {
    ASSERT_EQ(cscAttach(CSC_MAX_CONNECTIONS), CSC_OK);
    int port = FreeLoopbackPort();
    ASSERT_EQ(cscServer("127.0.0.1", port), CSCVS_OK);
    for (int i = 0; i < CSCVS_SLOTS - 1; ++i) ASSERT_GE(cscClient("127.0.0.1", port), 0);
    EXPECT_EQ(cscClient("127.0.0.1", port), CSCVS_NO_FREE_SLOT);
    ASSERT_EQ(cscAwaitConnect(), 1);
    EXPECT_EQ(cscAcceptConnect(), CSCVS_NO_ACCEPT_SLOT);
}

TEST_F(CscSocketTest, ActivityWaitWakesForStopConnectsDataAndCloses) {
    auto [client, server] = Connected();
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(cscAwaitActivity(stop, 50), CSC_ACTIVITY_TIMEOUT);
    ASSERT_EQ(cscPutData(client, "VER", 3), 3);
    EXPECT_EQ(cscAwaitActivity(stop, kWaitMs), CSC_ACTIVITY_SOCKETS);
    EXPECT_EQ(Receive(server, 3), "VER");
    EXPECT_EQ(cscAwaitActivity(stop, 50), CSC_ACTIVITY_TIMEOUT);  // nothing new since

    // A watched socket is non-blocking; a send larger than the socket buffers still goes whole.
    std::string big(4 * 1024 * 1024, 'z');
    std::thread reader([&] { EXPECT_EQ(Receive(client, big.size()).size(), big.size()); });
    EXPECT_EQ(cscPutData(server, big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
    reader.join();

    const int second = cscClient("127.0.0.1", m_port);
    ASSERT_GE(second, 0);
    EXPECT_EQ(cscAwaitActivity(stop, kWaitMs), CSC_ACTIVITY_SOCKETS);
    ASSERT_EQ(cscAwaitConnect(), 1);
    const int accepted = cscAcceptConnect();
    ASSERT_GE(accepted, 0);
    EXPECT_EQ(cscClose(second), CSC_OK);
    EXPECT_EQ(cscAwaitActivity(stop, kWaitMs), CSC_ACTIVITY_SOCKETS);  // the accepted one is watched too
    char buf[16];
    EXPECT_EQ(cscGetData(accepted, buf, sizeof buf), CSC_EOF);

    SetEvent(stop);
    EXPECT_EQ(cscAwaitActivity(stop, kWaitMs), CSC_ACTIVITY_STOP);
    CloseHandle(stop);
}

TEST_F(CscSocketTest, ComputerName) {
    setenv("ZBW_COMPUTER_NAME", "testbox", 1);
    char name[32];
    EXPECT_EQ(cscGetString(-1, CSC_STR_COMPUTER_NAME, name, 15), CSC_BUFFER_SIZE);
    EXPECT_EQ(cscGetString(-1, CSC_STR_COMPUTER_NAME, name, 16), 7);
    EXPECT_STREQ(name, "TESTBOX");
    EXPECT_EQ(cscGetString(-1, CSC_STR_PEER_ADDRESS, name, 16), CSC_EOF);
}

}  // namespace
