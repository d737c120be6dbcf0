// zbengine's command server over loopback with its real settings file: the exact answers of the
// command table over TCP/IP and the command block, ZBConsole on both transports, the login and
// its failures, framing however the bytes arrive, the client limit, peers that never read what
// they asked for, and how the server ends the engine (another engine, a port held, settings
// that do not load, shutdown, restart and Ctrl-C).
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/CommStatus.h"
#include "common/SHA1Text.h"
#include "common/csc.h"
#include "dovrane/IPFrameBuffer.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Winsock.h"
#include "tests/e2e/ChildProcess.h"
#include "tests/e2e/EngineAlive.h"
#include "tests/e2e/LogFiles.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/TestRoot.h"

namespace {

// Answers such as STATUS ALL of many profiles are far longer than any command.
constexpr int kAnswerMaxChars = 64 * 1024 * 1024;

const unsigned kBoundMs = 20000;
const int kManyProfiles = 300;
// The engine's 20 s for a peer that takes nothing, with room for a busy machine.
const unsigned kStallBoundMs = 60000;
const unsigned kStartLimitMs = 120000;
const char kPassword[] = "s3cret";

std::string WindowsPath(const std::string& hostPath) {
    return zbw::ToUtf8(zbw::ToWindowsPath(hostPath));
}

std::string Utf16(const std::string& utf8, bool bom) {
    std::string bytes = bom ? "\xFF\xFE" : "";
    const std::u16string text = zbw::FromUtf8(utf8).GetStdString();
    for (char16_t ch : text) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

std::string Narrow(const CString& text) {
    return zbw::ToUtf8(text);
}

// A listener of this process on a free loopback port, for "port in use".
class CHeldPort {
   public:
    CHeldPort() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = inet_addr("127.0.0.1");
        bind(m_socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(m_socket, 5);
        int len = sizeof addr;
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
    }
    ~CHeldPort() {
        closesocket(m_socket);
        WSACleanup();
    }
    int Port() const { return m_port; }

   private:
    SOCKET m_socket;
    int m_port = 0;
};

// A TCP/IP client speaking the engine's frames by hand, so a test can also break the protocol.
class CWireClient {
   public:
    CWireClient() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~CWireClient() {
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
        WSACleanup();
    }

    // A peer that reads little: the system keeps a small window for it, so what it leaves
    // unread soon fills the engine's side.
    void SetReceiveBuffer(int bytes) { m_nReceiveBuffer = bytes; }
    bool Connect(int port) {
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (m_nReceiveBuffer > 0)
            setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&m_nReceiveBuffer),
                       sizeof m_nReceiveBuffer);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<u_short>(port));
        addr.sin_addr.s_addr = inet_addr("127.0.0.1");
        return connect(m_socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }

    static std::string Frame(const CString& text) {
        CString framed = text + u"|";
        AppendSHA1Digest(framed);
        std::string bytes;
        for (int i = 0; i < framed.GetLength(); ++i) {
            bytes += static_cast<char>(framed[i] & 0xFF);
            bytes += static_cast<char>(framed[i] >> 8);
        }
        return bytes;
    }
    void SendBytes(const std::string& bytes) {
        send(m_socket, bytes.data(), static_cast<int>(bytes.size()), 0);
    }
    void Send(const CString& text) { SendBytes(Frame(text)); }

    // The next frame within the time; none when it does not come or the engine closed.
    std::optional<CString> Read(unsigned timeoutMs = kBoundMs) {
        const int64_t deadline = zbw::DeadlineAfter(timeoutMs);
        for (;;) {
            CString text;
            if (m_frames.TakeFrame(text) == CIPFrameBuffer::FRAME_OK) return text;
            if (!WaitReadable(deadline)) return std::nullopt;
            char piece[4096];
            const int got = recv(m_socket, piece, sizeof piece, 0);
            if (got <= 0) {
                m_bClosed = true;
                return std::nullopt;
            }
            m_frames.Append(piece, got, GetTickCount());
        }
    }
    // True once the engine has closed the connection (nothing more arrives first).
    bool ClosedWithin(unsigned timeoutMs) {
        while (!m_bClosed && Read(timeoutMs)) {
        }
        return m_bClosed;
    }

    // The challenge's reply: the response and the digest text of the password.
    static CString Reply(const CString& challenge, const CString& password) {
        char response[CSC_CHALLENGE_LEN + 1] = {};
        cscResponse(Narrow(challenge).c_str(), response);
        return zbw::FromUtf8(response) + SHA1HashText(password);
    }
    bool Login(int port, const CString& password = zbw::FromUtf8(kPassword)) {
        if (!Connect(port)) return false;
        const std::optional<CString> challenge = Read();
        if (!challenge) return false;
        Send(Reply(*challenge, password));
        const std::optional<CString> greeting = Read();
        return greeting && *greeting == CString(u"Welcome, ZBEngine 1.1");
    }
    CString Command(const CString& text) {
        Send(text);
        return Read().value_or(CString(u"(no answer)"));
    }

   private:
    bool WaitReadable(int64_t deadline) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_socket, &set);
        const int64_t left = zbw::RemainingUntil(deadline);
        timeval wait = {static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
        return select(0, &set, nullptr, nullptr, &wait) == 1;
    }

    SOCKET m_socket = INVALID_SOCKET;
    CIPFrameBuffer m_frames{kAnswerMaxChars};
    bool m_bClosed = false;
    int m_nReceiveBuffer = 0;
};

class IPServerTest : public ::testing::Test {
   protected:
    void SetUp() override {
        setenv("ZBW_COMPUTER_NAME", "testhost", 1);
        m_tcpPort = FreeLoopbackPort();
        m_httpPort = FreeLoopbackPort();
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"software\\Zebrodyne Pro 2\\Zebrodyne Pro", 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const CString program = zbw::FromUtf8(WindowsPath(BinDir() + "/zbsync") + ".exe");
        RegSetValueExW(key, u"path", 0, REG_SZ, reinterpret_cast<const BYTE*>(program.GetString()),
                       static_cast<DWORD>((program.GetLength() + 1) * 2));
        RegCloseKey(key);
    }

    std::string SettingsFile() const { return m_root.Path("zb.xml"); }
    std::string ProfileName(const std::string& name) const { return WindowsPath(m_root.Path(name + ".fsf")); }
    std::string ItemXml(const std::string& name, const std::string& extra = "") const {
        return "<ITEM><PROFILE>" + ProfileName(name) + "</PROFILE>" + extra + "</ITEM>";
    }
    // A profile of the stand-in that ends with exit code 0 after the given time.
    void WriteProfile(const std::string& name, const std::string& seconds = "0.3") {
        std::filesystem::create_directories(m_root.Path("src"));
        std::filesystem::create_directories(m_root.Path("dst"));
        const std::string text =
            "[Zebrodyne Profile - File Version 4.0.0]\r\n[Settings]\r\nSource Folder=" +
            WindowsPath(m_root.Path("src")) + "\r\nTarget Folder=" + WindowsPath(m_root.Path("dst")) +
            "\r\nExecution Method=1\r\nLog File=" + WindowsPath(m_root.Path(name + ".log")) +
            "\r\n[StandIn]\r\nExitCode=0\r\nSeconds=" + seconds + "\r\n";
        ASSERT_TRUE(WriteHostFile(m_root.Path(name + ".fsf"), text));
    }
    void WriteSettings(const std::string& tcpip, const std::string& items) {
        const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<SETTINGS>" + tcpip +
                                "<HTTP><PORT>" + std::to_string(m_httpPort) + "</PORT></HTTP>" + items +
                                "</SETTINGS>\r\n";
        ASSERT_TRUE(WriteHostFile(SettingsFile(), Utf16(xml, true)));
    }
    std::string Tcpip(int port) const {
        return "<TCPIP><PORT>" + std::to_string(port) + "</PORT><PWD>" + kPassword + "</PWD></TCPIP>";
    }
    // Two profiles, A and B, with the TCP/IP port and password set.
    void WriteStandardSettings() {
        WriteProfile("A");
        WriteProfile("B");
        WriteSettings(Tcpip(m_tcpPort), ItemXml("A") + ItemXml("B", "<EVERYMINUTE>5</EVERYMINUTE>"));
    }

    // Many profiles (their files need not exist), so that STATUS ALL is a long answer.
    void WriteManyProfilesSettings() {
        std::string items;
        for (int i = 0; i < kManyProfiles; ++i) items += ItemXml("profile" + std::to_string(i));
        WriteSettings(Tcpip(m_tcpPort), items);
    }
    // A logged-in peer that asks for STATUS ALL again and again and reads none of it.
    void AskAndNeverRead(CWireClient& peer) {
        peer.SetReceiveBuffer(4096);
        ASSERT_TRUE(peer.Login(m_tcpPort));
        for (int i = 0; i < 100; ++i) peer.Send(u"STATUS ALL");
    }

    // Starts an engine on the settings file and waits until its server has loaded them.
    void StartEngine(CChildProcess& engine) {
        ASSERT_TRUE(engine.Start(BinDir() + "/zbengine", {WindowsPath(SettingsFile())}));
        // Hundreds of profiles load slowly on a crowded machine: only a log that stands still fails.
        ASSERT_TRUE(zbtest::WaitForGrowingEngineLog(m_log, "Saving settings to XML file", kStallBoundMs,
                                                    kStartLimitMs))
            << Log();
        ASSERT_TRUE(zbtest::WaitForText([this] { return Log(); }, "IPServer started in", kBoundMs)) << Log();
        ASSERT_TRUE(zbtest::WaitForEngineServing(kBoundMs));
    }
    std::string Log() const { return zbtest::ReadUtf16Log(m_log); }

    // ZBConsole with these commands; its output.
    std::string RunConsole(const std::string& commands) {
        const std::string out = m_root.Path("console.txt");
        setenv("ZBC_OUT", out.c_str(), 1);
        CChildProcess console;
        EXPECT_TRUE(console.Start(
            "/bin/sh", {"-c", "exec \"$0\" \"$@\" > \"$ZBC_OUT\" < /dev/null", BinDir() + "/ZBConsole",
                        "/I:" + m_root.Path("none.ini"), "/C:" + commands}));
        EXPECT_GE(console.WaitExit(60000), 0);
        unsetenv("ZBC_OUT");
        return ReadHostFile(out);
    }

    CTestRoot m_root;
    std::string m_log = m_root.Path("home/.local/share/ZBEngine/ZBEngine.log");
    int m_tcpPort = 0;
    int m_httpPort = 0;
};

struct EXCHANGE {
    std::string command;
    std::string answer;
};

TEST_F(IPServerTest, EveryCommandGetsItsExactAnswerOverTcpIp) {
    WriteStandardSettings();
    CChildProcess engine;
    StartEngine(engine);
    CWireClient client;
    ASSERT_TRUE(client.Login(m_tcpPort));
    CHeldPort held;
    const int freePort = FreeLoopbackPort();
    const std::string a = ProfileName("A");
    const std::string b = ProfileName("B");
    const std::string c = ProfileName("C");
    const std::string http = std::to_string(m_httpPort);
    const std::string hash = Narrow(SHA1HashText(CString(u"webpwd")));
    const std::string itemC = "<SETTINGS>" + ItemXml("C") + "</SETTINGS>";
    const std::vector<EXCHANGE> exchanges = {
        {"VER", "100-Welcome, ZBEngine 1.1"},
        {"ver", "100-Welcome, ZBEngine 1.1"},
        {"WHO", "100-TESTHOST"},
        {"ECHO", "100-ECHO"},
        {"ECHO x", "101-?"},
        {"Status x", "101-?"},
        {"ENABLEx", "101-?"},
        {"", "101-?"},
        {std::string(20000, 'x'), "101-?"},
        {"LIST", "100-" + a + "|" + b},
        {"CONNECTIONS", "100-1127.0.0.1,"},
        {"GETERROR", "100-"},
        {"STATUS nosuch", "101-Error, nosuch not found."},
        {"STATUS \xC3\xA9t\xC3\xA9", "101-Error, \xC3\xA9t\xC3\xA9 not found."},
        {"RUN nosuch", "101-Error. nosuch not found."},
        {"ENABLE nosuch", "101-Error. nosuch not found."},
        {"ENABLE  ALL", "101-Error. ALL not found."},
        {"DISABLE nosuch", "101-Error. nosuch not found."},
        {"STOP nosuch", "101-Error. nosuch not found."},
        {"GET nosuch", "101-Error. nosuch not found."},
        {"LASTRUNS nosuch", "101-Error, nosuch not found."},
        {"NEXTRUNS nosuch", "101-Error, nosuch not found."},
        {"NEXTRUNS " + a + " 0 notatime", "101-Error, notatime invalid time."},
        {"REMOVE nosuch", "101-Not found"},
        {"ADD <SETTINGS></SETTINGS>", "101-Error, wrongly formatted XML"},
        {"SET <SETTINGS>" + ItemXml("nosuch") + "</SETTINGS>", "101-Error"},
        {"TESTTIME garbage", "101-Error, wrongly formatted XML"},
        {"DISABLE " + a, "100-Disabling " + a + "..."},
        {"RUN " + a, "101-" + a + " is not enabled."},
        {"enable " + a, "100-Enabling " + a + "..."},
        {"ENABLE ALL", "200-Enabling All..."},
        {"DISABLE ALL", "200-Disabling All..."},
        {"enable all", "200-Enabling All..."},
        {"STOP ALL", "100-Stopping All..."},
        {"STOP " + a, "100-Stopping " + a + "..."},
        {"ADD " + itemC, "100-Added " + itemC},
        {"LIST", "100-" + a + "|" + b + "|" + c},
        {"SET " + itemC, "100-Set " + itemC},
        {"REMOVE " + c, "100-Removed " + c},
        {"LIST", "100-" + a + "|" + b},
        {"GETHTTPPORT", "100-" + http},
        {"GETHTTPCHECKNEW", "100-5"},
        {"GETHTTPFILTER", "100-127.0.0.1"},
        {"GETHTTPPWDHASH", "100-"},
        {"GETHTTPSETTINGS", "100-" + http + " , 127.0.0.1 ,  , 5"},
        {"SETNEWHTTPPORT abc", "101-Error, invalid port number: abc"},
        {"SETNEWHTTPPORT 65535", "101-Error, invalid port number: 65535"},
        {"SETNEWHTTPPORT -3", "101-Error, invalid port number: -3"},
        {"SETNEWHTTPPORT 0", "100-Ok, new port 0, old port " + http + "."},
        {"SETNEWHTTPPORT " + http, "101-Error, port already in use: " + http},  // the engine's own
        {"SETNEWHTTPPORT " + std::to_string(held.Port()),
         "101-Error, port already in use: " + std::to_string(held.Port())},
        {"SETNEWHTTPPORT " + std::to_string(freePort),
         "100-Ok, new port " + std::to_string(freePort) + ", old port " + http + "."},
        {"GETNEWHTTPPORT", "100-" + std::to_string(freePort)},
        {"SETNEWHTTPPWD webpwd", "100-OK."},
        {"GETNEWHTTPPWDHASH", "100-" + hash},
        {"SETNEWHTTPFILTER 10.*", "100-Ok, new HTTP client filter 10.*"},
        {"SETNEWHTTPCHECKNEW 7", "100-Ok, new value 7, old value 5."},
        {"GETNEWHTTPCHECKNEW", "100-7"},
        {"GETNEWHTTPFILTER", "100-10.*"},
        {"GETNEWHTTPSETTINGS", "100-" + std::to_string(freePort) + " , 10.* , " + hash + " , 7"},
        {"SETNEWHTTPPWD -", "100-OK."},
        {"GETNEWHTTPPWDHASH", "100-"},
        {"SETNEWHTTPFILTER -", "100-Ok, new HTTP client filter "},
        {"BYE", "100-OK, see you soon."},
    };
    for (const EXCHANGE& e : exchanges) {
        SCOPED_TRACE(e.command.substr(0, 80));
        EXPECT_EQ(Narrow(client.Command(zbw::FromUtf8(e.command))), e.answer);
    }
    EXPECT_TRUE(client.ClosedWithin(5000));
}

TEST_F(IPServerTest, HelpListsAndStatusRecordsAreWhole) {
    WriteStandardSettings();
    CChildProcess engine;
    StartEngine(engine);
    CWireClient client;
    ASSERT_TRUE(client.Login(m_tcpPort));
    const std::string help = Narrow(client.Command(u"HELP"));
    EXPECT_EQ(Narrow(client.Command(u"h")), help);
    std::vector<std::string> lines;
    for (size_t start = 0;;) {
        const size_t end = help.find('\n', start);
        lines.push_back(help.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 24u) << help;
    EXPECT_EQ(lines[0], "100-Command list:");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], std::string(24, '*'));
    EXPECT_EQ(lines[3], "HELP  | show this help");
    EXPECT_EQ(
        lines[13],
        "LOAD [filename.xml]  | (re)loads settings from filename.xml; if a filename is not specified, will "
        "load from default XML file");
    EXPECT_EQ(lines[23], "NEXTRUNS <profilename> | show next scheduled execution");

    for (const char* all : {"STATUS ALL", "STATUS", "status", "ST"}) {
        const std::string records = Narrow(client.Command(zbw::FromUtf8(all)));
        EXPECT_EQ(records.substr(0, 4 + ProfileName("A").size()), "100-" + ProfileName("A")) << all;
        EXPECT_EQ(zbtest::CountOf(records, "\x01"), 15) << all;  // two records of eight fields
    }
    const std::string one = Narrow(client.Command(zbw::FromUtf8("STATUS " + ProfileName("B"))));
    EXPECT_EQ(one.substr(0, 4 + ProfileName("B").size() + 2), "100-" + ProfileName("B") + "\x01" + "1")
        << one;
    EXPECT_EQ(zbtest::CountOf(one, "\x01"), 7);
    EXPECT_EQ(zbtest::CountOf(Narrow(client.Command(zbw::FromUtf8("NEXTRUNS " + ProfileName("B")))), "*?*"),
              3);
    const std::string get = Narrow(client.Command(zbw::FromUtf8("GET " + ProfileName("B"))));
    EXPECT_EQ(get.substr(0, 10), "100-<ITEM>") << get;
    EXPECT_NE(get.find("<EVERYMINUTE>5</EVERYMINUTE>"), std::string::npos) << get;
    const std::string times = Narrow(client.Command(
        u"TESTTIME <SETTINGS><ITEM><PROFILE>1</PROFILE><EVERYMINUTE>18</EVERYMINUTE></ITEM></SETTINGS>"));
    EXPECT_EQ(times.substr(0, 4), "100-") << times;
    EXPECT_EQ(zbtest::CountOf(times, "|"), 2) << times;
    EXPECT_EQ(Narrow(client.Command(u"SAVE")).substr(0, 17), "100-Saving  ... ");
    EXPECT_EQ(Narrow(client.Command(u"LOAD")).substr(0, 18), "100-Loading  ... ");
    const std::string missing = WindowsPath(m_root.Path("missing.xml"));
    const std::string refused = "101-Loading " + missing + " ... ";
    EXPECT_EQ(Narrow(client.Command(zbw::FromUtf8("LOAD " + missing))).substr(0, refused.size()), refused);
}

// The state is the second field of the record.
std::string StateOf(const std::string& record) {
    const size_t first = record.find('\x01');
    return first == std::string::npos ? ""
                                      : record.substr(first + 1, record.find('\x01', first + 1) - first - 1);
}

TEST_F(IPServerTest, RunMakesTheStandInRunAndStatusShowsItsEnd) {
    WriteStandardSettings();
    CChildProcess engine;
    StartEngine(engine);
    CWireClient client;
    ASSERT_TRUE(client.Login(m_tcpPort));
    const CString status = zbw::FromUtf8("STATUS " + ProfileName("A"));
    EXPECT_EQ(StateOf(Narrow(client.Command(status))), "1");
    EXPECT_EQ(Narrow(client.Command(zbw::FromUtf8("RUN " + ProfileName("A")))),
              "100-Running " + ProfileName("A") + "...");
    EXPECT_TRUE(zbtest::WaitForAnsiLog(m_root.Path("A.log"), "END ID: 1", kBoundMs));
    EXPECT_TRUE(zbtest::WaitForText([&] { return StateOf(Narrow(client.Command(status))); }, "2", kBoundMs))
        << Narrow(client.Command(status));
    EXPECT_EQ(Narrow(client.Command(zbw::FromUtf8("LASTRUNS " + ProfileName("A")))).substr(0, 4), "100-");
}

TEST_F(IPServerTest, ConsoleTalksToTheEngineOverTheBlockAndOverTcpIp) {
    WriteStandardSettings();
    CChildProcess engine;
    StartEngine(engine);
    const std::string port = std::to_string(m_tcpPort);
    const std::string out = RunConsole("VER|LIST|STATUS ALL|USETCP 127.0.0.1 " + port + "|PASS " + kPassword +
                                       "|CONNECT|WHO|CONNECTIONS|STATUS ALL|BYE");
    EXPECT_NE(out.find(":> VER\nSending  : VER\nReceived : Welcome, ZBEngine 1.1\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("Received : " + ProfileName("A") + "|" + ProfileName("B") + "\n"), std::string::npos)
        << out;
    EXPECT_EQ(zbtest::CountOf(out, " Profile      :  " + ProfileName("B")), 2) << out;
    EXPECT_NE(out.find("Welcome, ZBEngine 1.1\nRemote server IP = 127.0.0.1"), std::string::npos) << out;
    EXPECT_NE(out.find("Received : TESTHOST\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Received : 1127.0.0.1,\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Received : OK, see you soon.\n"), std::string::npos) << out;
}

TEST_F(IPServerTest, LoginFailuresAreTextsAndSlowTheNextTry) {
    WriteStandardSettings();
    CChildProcess engine;
    StartEngine(engine);
    {
        CWireClient wrongPassword;
        ASSERT_TRUE(wrongPassword.Connect(m_tcpPort));
        const std::optional<CString> challenge = wrongPassword.Read();
        ASSERT_TRUE(challenge);
        // "%x" of the tick value: one time in sixteen it has a leading zero digit and so 7 characters.
        EXPECT_GE(challenge->GetLength(), 1);
        EXPECT_LE(challenge->GetLength(), 8);
        wrongPassword.Send(CWireClient::Reply(*challenge, u"guess"));
        EXPECT_EQ(Narrow(wrongPassword.Read().value_or(u"")), "Client not validated, incorrect password");
        EXPECT_TRUE(wrongPassword.ClosedWithin(kBoundMs));
    }
    {
        CWireClient wrongResponse;
        ASSERT_TRUE(wrongResponse.Connect(m_tcpPort));
        const int64_t asked = zbw::TickNow64();
        ASSERT_TRUE(wrongResponse.Read());
        EXPECT_GE(zbw::TickNow64() - asked, 500);  // the address failed once
        wrongResponse.Send(u"00000000" + SHA1HashText(zbw::FromUtf8(kPassword)));
        EXPECT_EQ(Narrow(wrongResponse.Read().value_or(u"")), "Client not validated, incorrect response");
    }
    CWireClient right;
    const int64_t started = zbw::TickNow64();
    ASSERT_TRUE(right.Login(m_tcpPort));
    EXPECT_GE(zbw::TickNow64() - started, 1500);  // twice now: two seconds
    EXPECT_EQ(Narrow(right.Command(u"VER")), "100-Welcome, ZBEngine 1.1");
    EXPECT_NE(Log().find("Login failure 2 in a row from 127.0.0.1"), std::string::npos) << Log();
}

// The engine's port test connects to its own TCP port and closes: six of them, counted as
// failures, would hold the next challenge for 32 s.
TEST_F(IPServerTest, TheEnginesOwnPortTestDoesNotSlowTheNextLogin) {
    WriteStandardSettings();
    CChildProcess engine;
    StartEngine(engine);
    {
        CWireClient client;
        ASSERT_TRUE(client.Login(m_tcpPort));
        const std::string port = std::to_string(m_tcpPort);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(Narrow(client.Command(zbw::FromUtf8("SETNEWHTTPPORT " + port))),
                      "101-Error, port already in use: " + port);
    }
    ASSERT_TRUE(zbtest::WaitForText(
        [this] { return std::to_string(zbtest::CountOf(Log(), "Closing connection with")); }, "7", kBoundMs))
        << Log();
    CWireClient next;  // the six port tests and the client that asked for them have gone
    EXPECT_TRUE(next.Login(m_tcpPort)) << Log();
    EXPECT_EQ(Log().find("Login failure"), std::string::npos) << Log();
}

// What a peer does not read waits in its slot: another client still gets its challenge and its
// answers, and the peer that takes nothing is closed after the stall time.
TEST_F(IPServerTest, APeerThatNeverReadsHoldsNoOneUpAndIsClosed) {
    WriteManyProfilesSettings();
    CChildProcess engine;
    StartEngine(engine);
    CWireClient hog;
    AskAndNeverRead(hog);
    CWireClient other;
    ASSERT_TRUE(other.Login(m_tcpPort)) << Log();
    EXPECT_EQ(Narrow(other.Command(u"VER")), "100-Welcome, ZBEngine 1.1");
    EXPECT_TRUE(zbtest::WaitForEngineLog(m_log, "127.0.0.1 has taken nothing for 20 seconds", kStallBoundMs))
        << Log();
    EXPECT_TRUE(zbtest::WaitForText([&] { return Narrow(other.Command(u"CONNECTIONS")).substr(0, 5); },
                                    "100-1", kBoundMs));
}

TEST_F(IPServerTest, CtrlCStopsTheEngineWhileAPeerReadsNothing) {
    WriteManyProfilesSettings();
    CChildProcess engine;
    StartEngine(engine);
    CWireClient hog;
    AskAndNeverRead(hog);
    CWireClient other;
    ASSERT_TRUE(other.Login(m_tcpPort)) << Log();  // the server has answered past the hog's asks
    ASSERT_TRUE(engine.Signal(SIGINT));
    EXPECT_EQ(engine.WaitExit(kBoundMs), 0) << Log();
}

TEST_F(IPServerTest, FramesMayArriveInPiecesOrTogetherAndBadOnesGetNoAnswer) {
    WriteStandardSettings();
    CChildProcess engine;
    StartEngine(engine);
    CWireClient client;
    ASSERT_TRUE(client.Login(m_tcpPort));
    const std::string ver = CWireClient::Frame(u"VER");
    for (size_t i = 0; i < ver.size(); i += 7) {
        client.SendBytes(ver.substr(i, 7));
        Sleep(5);
    }
    EXPECT_EQ(Narrow(client.Read().value_or(u"")), "100-Welcome, ZBEngine 1.1");
    client.SendBytes(CWireClient::Frame(u"WHO") + CWireClient::Frame(u"ECHO"));
    EXPECT_EQ(Narrow(client.Read().value_or(u"")), "100-TESTHOST");
    EXPECT_EQ(Narrow(client.Read().value_or(u"")), "100-ECHO");
    std::string bad = CWireClient::Frame(u"SHUTDOWN");
    bad[0] = 'X';
    client.SendBytes(bad);
    EXPECT_FALSE(client.Read(700));
    EXPECT_EQ(Narrow(client.Command(u"VER")), "100-Welcome, ZBEngine 1.1");
    EXPECT_NE(Log().find("Message with a wrong digest dropped"), std::string::npos);
    EXPECT_TRUE(engine.WaitExit(100) < 0);  // the altered SHUTDOWN did nothing
}

TEST_F(IPServerTest, ASixthClientIsClosedWithNothingSent) {
    WriteStandardSettings();
    CChildProcess engine;
    StartEngine(engine);
    std::vector<std::unique_ptr<CWireClient>> clients;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(std::make_unique<CWireClient>());
        ASSERT_TRUE(clients.back()->Login(m_tcpPort)) << i;
    }
    CWireClient sixth;
    ASSERT_TRUE(sixth.Connect(m_tcpPort));
    EXPECT_FALSE(sixth.Read(kBoundMs));
    EXPECT_TRUE(sixth.ClosedWithin(100));
    EXPECT_TRUE(zbtest::WaitForEngineLog(m_log, "Maximum number of TCP/IP connections exceeded!", kBoundMs));
    EXPECT_EQ(Narrow(clients[4]->Command(u"CONNECTIONS")).substr(0, 5), "100-5");
}

TEST_F(IPServerTest, ASilentClientIsClosedAfterTheLoginTimeOut) {
    WriteStandardSettings();
    CChildProcess engine;
    StartEngine(engine);
    CWireClient silent;
    ASSERT_TRUE(silent.Connect(m_tcpPort));
    const int64_t started = zbw::TickNow64();
    ASSERT_TRUE(silent.Read());
    EXPECT_TRUE(silent.ClosedWithin(40000));
    const int64_t took = zbw::TickNow64() - started;
    EXPECT_GE(took, 30000);
    EXPECT_LT(took, 35000);
    EXPECT_NE(Log().find(": Client not validated, timeout 30 secs"), std::string::npos);
}

TEST_F(IPServerTest, PortZeroServesOnlyTheBlock) {
    WriteProfile("A");
    WriteSettings("", ItemXml("A"));
    CChildProcess engine;
    StartEngine(engine);
    EXPECT_NE(Log().find("Server does not accept TCP/IP connections from clients."), std::string::npos);
    const std::string out = RunConsole("CONNECTIONS|RUN nosuch|SHUTDOWN");
    EXPECT_NE(out.find("Received : 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Received : Error. nosuch not found.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Received : OK, shutting down server\n"), std::string::npos) << out;
    EXPECT_EQ(engine.WaitExit(kBoundMs), 0);
    CCommStatus block(TRUE, FALSE);
    EXPECT_FALSE(block.IsAlive(500));
    const std::string after = RunConsole("VER");
    EXPECT_NE(after.find("ZBEngine not running ... "), std::string::npos) << after;
}

TEST_F(IPServerTest, ABlockAnswerStaysFiveSecondsThenTheBlockIsIdle) {
    WriteStandardSettings();
    CChildProcess engine;
    StartEngine(engine);
    CCommStatus block(TRUE, FALSE);
    ASSERT_TRUE(
        zbtest::WaitForText([&] { return block.IsAlive(500) ? "alive" : "not yet"; }, "alive", kBoundMs));
    int type = COMMSTATUS_IDLE;
    CString text;
    block.ReadCommand(type, text);
    block.SendCommand(COMMSTATUS_COMMAND, u"ECHO");
    ASSERT_TRUE(zbtest::WaitForText(
        [&] {
            block.ReadCommand(type, text);
            return std::to_string(type) + Narrow(text);
        },
        "1100-ECHO", kBoundMs));
    const int64_t answered = zbw::TickNow64();
    // Until it is cleared the answer stands unchanged: the command is not run again.
    std::string seen;
    ASSERT_TRUE(zbtest::WaitForText(
        [&] {
            const bool changed = block.ReadCommand(type, text);
            if (type == COMMSTATUS_ANSWER && changed) seen = "rewritten";
            return std::to_string(type) + "[" + Narrow(text) + "]";
        },
        "0[ ]", kBoundMs));
    EXPECT_GE(zbw::TickNow64() - answered, 4900);
    EXPECT_EQ(seen, "");
}

TEST_F(IPServerTest, ASecondEngineEndsWithThree) {
    WriteStandardSettings();
    CChildProcess first;
    StartEngine(first);
    CChildProcess second;
    ASSERT_TRUE(second.Start(BinDir() + "/zbengine", {WindowsPath(SettingsFile())}));
    EXPECT_EQ(second.WaitExit(kBoundMs), 3);
    EXPECT_NE(Log().find("ZBEngine already running."), std::string::npos) << Log();
    CWireClient client;
    EXPECT_TRUE(client.Login(m_tcpPort));  // the first one serves on
}

TEST_F(IPServerTest, APortHeldByAnotherProgramEndsWithFour) {
    // Held on another loopback address: the engine cannot bind it, and 127.0.0.1 does not answer.
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET other = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(m_tcpPort));
    addr.sin_addr.s_addr = inet_addr("127.0.0.2");
    ASSERT_EQ(bind(other, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(other, 1), 0);
    WriteProfile("A");
    WriteSettings(Tcpip(m_tcpPort), ItemXml("A"));
    CChildProcess engine;
    ASSERT_TRUE(engine.Start(BinDir() + "/zbengine", {WindowsPath(SettingsFile())}));
    EXPECT_EQ(engine.WaitExit(kBoundMs), 4);
    EXPECT_NE(Log().find("Server failed to attach to TCP/IP port"), std::string::npos) << Log();
    closesocket(other);
    WSACleanup();

    // A port that answers is taken for an engine already running there.
    CHeldPort held;
    WriteSettings(Tcpip(held.Port()), ItemXml("A"));
    CChildProcess second;
    ASSERT_TRUE(second.Start(BinDir() + "/zbengine", {WindowsPath(SettingsFile())}));
    EXPECT_EQ(second.WaitExit(kBoundMs), 3);
    EXPECT_NE(Log().find("ZBEngine already running on port " + std::to_string(held.Port()) + "."),
              std::string::npos)
        << Log();
}

TEST_F(IPServerTest, SettingsThatDoNotLoadEndWithFive) {
    WriteSettings(Tcpip(m_tcpPort), "<ITEM><DESCRIPTION>no profile</DESCRIPTION></ITEM>");
    CChildProcess engine;
    ASSERT_TRUE(engine.Start(BinDir() + "/zbengine", {WindowsPath(SettingsFile())}));
    EXPECT_EQ(engine.WaitExit(kBoundMs), 5);
}

TEST_F(IPServerTest, RestartServesAgainAndShutdownEndsWithZero) {
    WriteStandardSettings();
    CChildProcess engine;
    StartEngine(engine);
    {
        CWireClient client;
        ASSERT_TRUE(client.Login(m_tcpPort));
        EXPECT_EQ(Narrow(client.Command(u"RESTART")), "200-OK, restarting server (may take up to 30 secs)");
        EXPECT_TRUE(client.ClosedWithin(kBoundMs));
    }
    ASSERT_TRUE(zbtest::WaitForText(
        [this] { return std::to_string(zbtest::CountOf(Log(), "IPServer started in")); }, "2", kBoundMs));
    CWireClient again;
    ASSERT_TRUE(again.Login(m_tcpPort)) << Log();
    EXPECT_EQ(Narrow(again.Command(u"SHUTDOWN")), "200-OK, shutting down server");
    EXPECT_EQ(engine.WaitExit(kBoundMs), 0);
    EXPECT_NE(Log().find("ZBEngine shutdown command received"), std::string::npos);
}

}  // namespace
