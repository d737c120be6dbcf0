// The command server's speed with 1000 profiles loaded: the round trip of STATUS ALL and of
// STATUS <name> over TCP/IP and over the command block (median and p99 of 200 requests each),
// a new client's login (connect to greeting) alone, while a peer that never reads holds a
// STATUS ALL, and while a thousand silent connections keep coming from another address, and
// the engine's CPU while it idles for 30 s.
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/CommStatus.h"
#include "common/SHA1Text.h"
#include "common/csc.h"
#include "dovrane/IPFrameBuffer.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Winsock.h"
#include "tests/bench/BenchReport.h"
#include "tests/e2e/ChildProcess.h"
#include "tests/e2e/LogFiles.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/TestRoot.h"

namespace {

// Answers such as STATUS ALL of many profiles are far longer than any command.
constexpr int kAnswerMaxChars = 64 * 1024 * 1024;

const int kProfiles = 1000;
const int kRequests = 200;
// Each login's client waits for its close (one second), and a never-reading peer is closed after
// 20 s: few logins per figure.
const int kLogins = 10;
// A thousand over the logins.
const int kSilentPerLogin = 100;
const double kIdleSeconds = 30;
const unsigned kBoundMs = 60000;
const char kPassword[] = "bench";

std::string WindowsPath(const std::string& hostPath) {
    return zbw::ToUtf8(zbw::ToWindowsPath(hostPath));
}

std::string Utf16File(const std::string& utf8) {
    std::string bytes = "\xFF\xFE";
    const std::u16string text = zbw::FromUtf8(utf8).GetStdString();
    for (char16_t ch : text) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

// One logged-in TCP/IP connection, frames as the engine sends them.
class CClient {
   public:
    ~CClient() {
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
    }
    // A small window, so that what the client leaves unread soon fills the engine's side.
    void SetReceiveBuffer(int bytes) { m_nReceiveBuffer = bytes; }
    bool Login(int port) {
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (m_nReceiveBuffer > 0)
            setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&m_nReceiveBuffer),
                       sizeof m_nReceiveBuffer);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<u_short>(port));
        addr.sin_addr.s_addr = inet_addr("127.0.0.1");
        if (connect(m_socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
        const std::optional<CString> challenge = Read();
        if (!challenge) return false;
        char response[CSC_CHALLENGE_LEN + 1] = {};
        cscResponse(zbw::ToUtf8(*challenge).c_str(), response);
        Send(zbw::FromUtf8(response) + SHA1HashText(zbw::FromUtf8(kPassword)));
        return Read().has_value();
    }
    std::optional<CString> Command(const CString& text) {
        Send(text);
        return Read();
    }
    void Ask(const CString& text) { Send(text); }
    // Says goodbye and waits until the engine has closed, so its slot is free again.
    void Leave() {
        Command(u"BYE");
        while (Read()) {
        }
    }

   private:
    void Send(const CString& text) {
        CString framed = text + u"|";
        AppendSHA1Digest(framed);
        std::string bytes;
        for (int i = 0; i < framed.GetLength(); ++i) {
            bytes += static_cast<char>(framed[i] & 0xFF);
            bytes += static_cast<char>(framed[i] >> 8);
        }
        send(m_socket, bytes.data(), static_cast<int>(bytes.size()), 0);
    }
    std::optional<CString> Read() {
        for (;;) {
            CString text;
            if (m_frames.TakeFrame(text) == CIPFrameBuffer::FRAME_OK) return text;
            char piece[65536];
            const int got = recv(m_socket, piece, sizeof piece, 0);
            if (got <= 0) return std::nullopt;
            m_frames.Append(piece, got, GetTickCount());
        }
    }

    SOCKET m_socket = INVALID_SOCKET;
    CIPFrameBuffer m_frames{kAnswerMaxChars};
    int m_nReceiveBuffer = 0;
};

// Connections from 127.0.0.2 that are made and then say nothing; closed with the object.
class CSilentCrowd {
   public:
    ~CSilentCrowd() {
        for (SOCKET s : m_sockets) closesocket(s);
    }
    // Starts count connects without waiting for them.
    void Add(int port, int count) {
        for (int i = 0; i < count; ++i) {
            const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            u_long nonBlocking = 1;
            ioctlsocket(s, FIONBIO, &nonBlocking);
            sockaddr_in addr = {};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = inet_addr("127.0.0.2");
            bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            addr.sin_port = htons(static_cast<u_short>(port));
            addr.sin_addr.s_addr = inet_addr("127.0.0.1");
            connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            m_sockets.push_back(s);
        }
    }

   private:
    std::vector<SOCKET> m_sockets;
};

// The block's client side, as ZBConsole uses it: command, then poll for the answer.
std::optional<CString> BlockCommand(CCommStatus& block, const CString& command) {
    block.SendCommand(COMMSTATUS_COMMAND, command);
    const int64_t deadline = zbw::DeadlineAfter(5000);
    while (zbw::RemainingUntil(deadline) > 0) {
        int type = COMMSTATUS_IDLE;
        CString answer;
        if (block.ReadCommand(type, answer) && type == COMMSTATUS_ANSWER) return answer;
        Sleep(1);
    }
    return std::nullopt;
}

template <class F>
void Measure(const char* name, const char* target, F request, int requests = kRequests) {
    std::vector<double> ms;
    for (int i = 0; i < requests; ++i) {
        const double start = zbbench::MonotonicSeconds();
        if (!request(i)) {
            std::printf("%s: a request failed\n", name);
            return;
        }
        ms.push_back((zbbench::MonotonicSeconds() - start) * 1000);
    }
    std::sort(ms.begin(), ms.end());
    std::string median = std::string(name) + " median";
    std::string p99 = std::string(name) + " p99";
    zbbench::PrintFigure(median.c_str(), ms[ms.size() / 2], "ms", target);
    zbbench::PrintFigure(p99.c_str(), ms[ms.size() * 99 / 100], "ms", target);
}

std::string ProfileName(int i) {
    return "C:\\bench\\profile" + std::to_string(i) + ".fsf";
}

}  // namespace

int main() {
    CTestRoot root;
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const int port = FreeLoopbackPort();
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<SETTINGS><TCPIP><PORT>" +
                      std::to_string(port) + "</PORT><PWD>" + kPassword +
                      "</PWD></TCPIP><HTTP><NOHTTP/></HTTP>";
    for (int i = 0; i < kProfiles; ++i)
        xml += "<ITEM><PROFILE>" + ProfileName(i) + "</PROFILE><EVERYDAY>1</EVERYDAY></ITEM>";
    xml += "</SETTINGS>\r\n";
    WriteHostFile(root.Path("settings.xml"), Utf16File(xml));
    CChildProcess engine;
    if (!engine.Start(BinDir() + "/zbengine", {WindowsPath(root.Path("settings.xml"))})) return 1;
    const std::string log = root.Path("home/.local/share/ZBEngine/ZBEngine.log");
    if (!zbtest::WaitForEngineLog(log, "Waiting for TCP/IP client connections", kBoundMs)) {
        std::printf("the engine did not start its server\n");
        return 1;
    }
    CClient client;
    if (!client.Login(port)) {
        std::printf("the login failed\n");
        return 1;
    }
    std::optional<CString> all = client.Command(u"STATUS ALL");
    const int records = all ? (all->Replace(u'\x01', u'\x01') + 1) / 8 : 0;
    zbbench::PrintHeading(("Command server, " + std::to_string(records) + " profiles loaded").c_str());

    Measure("TCP/IP STATUS ALL", "< 10 ms", [&](int) { return client.Command(u"STATUS ALL").has_value(); });
    Measure("TCP/IP STATUS <name>", "< 10 ms", [&](int i) {
        return client.Command(zbw::FromUtf8("STATUS " + ProfileName(i % kProfiles))).has_value();
    });
    CCommStatus block(TRUE, FALSE);
    Measure("Command block STATUS ALL", "read every 100 ms",
            [&](int) { return BlockCommand(block, u"STATUS ALL").has_value(); });
    Measure("Command block STATUS <name>", "read every 100 ms", [&](int i) {
        return BlockCommand(block, zbw::FromUtf8("STATUS " + ProfileName(i % kProfiles))).has_value();
    });

    // Each login's client leaves before the next, so the logins never fill the slots themselves.
    auto login = [port](int) {
        CClient fresh;
        const double start = zbbench::MonotonicSeconds();
        if (!fresh.Login(port)) return -1.0;
        const double took = (zbbench::MonotonicSeconds() - start) * 1000;
        fresh.Leave();
        return took;
    };
    auto measureLogins = [&](const char* name, const std::function<void()>& before) {
        std::vector<double> ms;
        for (int i = 0; i < kLogins; ++i) {
            before();
            const double took = login(i);
            if (took < 0) {
                std::printf("%s: a login failed\n", name);
                return;
            }
            ms.push_back(took);
        }
        std::sort(ms.begin(), ms.end());
        zbbench::PrintFigure((std::string(name) + " median").c_str(), ms[ms.size() / 2], "ms", "< 100 ms");
        zbbench::PrintFigure((std::string(name) + " worst").c_str(), ms.back(), "ms", "< 1000 ms");
    };
    measureLogins("TCP/IP login, no other peer", [] {});
    {
        CClient hog;
        hog.SetReceiveBuffer(4096);
        if (!hog.Login(port)) {
            std::printf("the never-reading peer could not log in\n");
            return 1;
        }
        for (int i = 0; i < 20; ++i) hog.Ask(u"STATUS ALL");
        measureLogins("TCP/IP login, a peer never reads its STATUS ALL", [] {});
    }
    {
        CSilentCrowd crowd;
        measureLogins("TCP/IP login, silent connections keep coming",
                      [&] { crowd.Add(port, kSilentPerLogin); });
    }

    Sleep(6000);  // the last answer leaves the block first
    const double cpuBefore = zbbench::CpuSeconds(engine.Pid());
    const long wakeBefore = zbbench::WakeUps(engine.Pid());
    Sleep(static_cast<DWORD>(kIdleSeconds * 1000));
    const double cpu = zbbench::CpuSeconds(engine.Pid()) - cpuBefore;
    const long wakeUps = zbbench::WakeUps(engine.Pid()) - wakeBefore;
    zbbench::PrintFigure("Idle engine CPU over 30 s", 100 * cpu / kIdleSeconds, "% of a core", "< 0.1 %");
    zbbench::PrintFigure("Idle engine wake-ups", static_cast<double>(wakeUps) / kIdleSeconds, "per second",
                         "a few per second");
    engine.Signal(SIGINT);
    engine.WaitExit(20000);
    WSACleanup();
    return 0;
}
