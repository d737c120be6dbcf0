// The ICMP echo test: request layout, checksum, answers on loopback, the stop event; fakes a temporary
// emulation root and an unprivileged identity.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/IcmpEcho.h"
#include "platform/base/Clock.h"
#include "platform/base/WinError.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Thread.h"
#include "platform/win32/Winsock.h"
#include "tests/support/OtherIdentity.h"
#include "tests/support/TestRoot.h"

namespace {

constexpr USHORT kId = 0x3412;

class IcmpEchoTest : public ::testing::Test {
   protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }

    CTestRoot m_root;
};

std::vector<BYTE> Icmp(BYTE type, USHORT id, USHORT sequence, int size = 44) {
    std::vector<BYTE> icmp(size, 'E');
    icmp[0] = type;
    icmp[1] = 0;
    memcpy(&icmp[4], &id, 2);
    memcpy(&icmp[6], &sequence, 2);
    return icmp;
}

std::vector<BYTE> WithIpHeader(const std::vector<BYTE>& icmp, int headerBytes = 20) {
    std::vector<BYTE> datagram(headerBytes, 0);
    datagram[0] = static_cast<BYTE>(0x40 | headerBytes / 4);
    datagram.insert(datagram.end(), icmp.begin(), icmp.end());
    return datagram;
}

// An error answer (type 3 or 11) quoting the IP header and 8 bytes of the request it answers.
std::vector<BYTE> ErrorAnswer(BYTE type, const std::vector<BYTE>& quotedIcmp) {
    std::vector<BYTE> icmp(8, 0);
    icmp[0] = type;
    std::vector<BYTE> quoted = WithIpHeader(std::vector<BYTE>(quotedIcmp.begin(), quotedIcmp.begin() + 8));
    icmp.insert(icmp.end(), quoted.begin(), quoted.end());
    return icmp;
}

std::vector<BYTE> Cut(std::vector<BYTE> bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

TEST(IcmpEchoPacketTest, ChecksumFollowsRfc1071) {
    const BYTE sample[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    USHORT checksum = zbw::InternetChecksum(sample, sizeof sample);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&checksum);
    EXPECT_EQ(bytes[0], 0x22);
    EXPECT_EQ(bytes[1], 0x0d);
    const BYTE odd[] = {0x12, 0x34, 0x56};
    EXPECT_EQ(zbw::InternetChecksum(odd, 3), htons(static_cast<USHORT>(~(0x1234 + 0x5600) & 0xFFFF)));
}

TEST(IcmpEchoPacketTest, RequestLayout) {
    BYTE packet[zbw::kEchoRequestSize];
    zbw::BuildEchoRequest(packet, kId, 0x11223344u);
    EXPECT_EQ(packet[0], 8);
    EXPECT_EQ(packet[1], 0);
    USHORT id;
    USHORT sequence;
    DWORD tick;
    memcpy(&id, packet + 4, 2);
    memcpy(&sequence, packet + 6, 2);
    memcpy(&tick, packet + 8, 4);
    EXPECT_EQ(id, kId);
    EXPECT_EQ(sequence, 0);
    EXPECT_EQ(tick, 0x11223344u);
    for (int i = 12; i < zbw::kEchoRequestSize; ++i) EXPECT_EQ(packet[i], 'E') << i;
    EXPECT_EQ(zbw::InternetChecksum(packet, sizeof packet), 0) << "checksum field makes the sum complete";
}

struct ANSWERCASE {
    const char* name;
    std::vector<BYTE> datagram;
    bool withIpHeader;
    zbw::EchoAnswer expected;
};

TEST(IcmpEchoPacketTest, ClassifiesAnswers) {
    using zbw::EchoAnswer;
    const std::vector<BYTE> request = Icmp(8, kId, 0);
    const ANSWERCASE cases[] = {
        {"raw reply", WithIpHeader(Icmp(0, kId, 0)), true, EchoAnswer::Reply},
        {"raw reply after IP options", WithIpHeader(Icmp(0, kId, 0), 24), true, EchoAnswer::Reply},
        {"datagram reply without IP header", Icmp(0, kId, 0), false, EchoAnswer::Reply},
        {"our own outgoing request", WithIpHeader(request), true, EchoAnswer::Ignore},
        {"another process's reply", WithIpHeader(Icmp(0, kId + 1, 0)), true, EchoAnswer::Ignore},
        {"another sequence number", WithIpHeader(Icmp(0, kId, 1)), true, EchoAnswer::Ignore},
        {"shorter than header plus 12", WithIpHeader(Icmp(0, kId, 0, 11)), true, EchoAnswer::Ignore},
        {"empty datagram", {}, true, EchoAnswer::Ignore},
        {"unreachable quoting our request", WithIpHeader(ErrorAnswer(3, request)), true, EchoAnswer::Error},
        {"time exceeded quoting our request", ErrorAnswer(11, request), false, EchoAnswer::Error},
        {"unreachable quoting another request", WithIpHeader(ErrorAnswer(3, Icmp(8, kId + 1, 0))), true,
         EchoAnswer::Ignore},
        {"unreachable with its quote cut", WithIpHeader(Cut(ErrorAnswer(3, request), 30)), true,
         EchoAnswer::Ignore},
        {"other type for our request", WithIpHeader(Icmp(14, kId, 0)), true, EchoAnswer::Error},
    };
    for (const ANSWERCASE& c : cases) {
        EXPECT_EQ(zbw::ClassifyEchoAnswer(c.datagram.data(), static_cast<int>(c.datagram.size()),
                                          c.withIpHeader, kId),
                  c.expected)
            << c.name;
    }
}

// Each identity in a network of its own, where loopback answers: root may open the raw socket,
// an ordinary user only the datagram one. The layer picks the one it can open.
class IcmpIdentityTest : public IcmpEchoTest, public ::testing::WithParamInterface<bool> {};

TEST_P(IcmpIdentityTest, LoopbackAnswers) {
    const bool privileged = GetParam();
    EXPECT_EQ(RunInPrivateNetwork(privileged,
                                  [privileged] {
                                      SOCKET raw = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
                                      EXPECT_EQ(raw != INVALID_SOCKET, privileged)
                                          << "the socket the identity has";
                                      if (raw != INVALID_SOCKET) closesocket(raw);
                                      PINGRESULT result{};
                                      ASSERT_TRUE(Ping(nullptr, u"127.0.0.1", &result)) << GetLastError();
                                      EXPECT_EQ(result.dwAddress, htonl(INADDR_LOOPBACK));
                                      EXPECT_LT(result.dwRoundTripMs, 5000u);
                                  }),
              0);
}

// Tests send only to loopback, which always answers: a stop already set wins before the first
// look for an answer.
TEST_P(IcmpIdentityTest, StopEventEndsTheWait) {
    EXPECT_EQ(RunInPrivateNetwork(GetParam(),
                                  [] {
                                      HANDLE stop = CreateEventW(nullptr, TRUE, TRUE, nullptr);
                                      PINGRESULT result{};
                                      EXPECT_FALSE(Ping(stop, u"127.0.0.1", &result));
                                      EXPECT_EQ(GetLastError(), static_cast<DWORD>(WSAEINTR));
                                      CloseHandle(stop);
                                  }),
              0);
}

INSTANTIATE_TEST_SUITE_P(Identities, IcmpIdentityTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Privileged" : "Unprivileged");
                         });

TEST_F(IcmpEchoTest, BadArgumentsFailBeforeSending) {
    PINGRESULT result{};
    EXPECT_FALSE(Ping(nullptr, nullptr, &result));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(Ping(nullptr, u"127.0.0.1", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
