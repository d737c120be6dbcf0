// The command server in this process, where the clock can be steered: a client that sends
// nothing after its login is closed after the idle time, a partial frame is dropped after its
// time, the login's reply is judged (response and password, a reply that is not a frame fails as
// a wrong password), connections that close without answering do not slow the next login,
// silent connections cannot keep a client that answers out, a socket library that cannot be
// attached ends the server with its own status, and commands that arrive while the server
// sleeps out its passes wake it. Fakes: the main window is a window of the test thread.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/DebugPrintf.h"
#include "common/SHA1Text.h"
#include "common/csc.h"
#include "dovrane/CommandInterpreter.h"
#include "dovrane/IPFrameBuffer.h"
#include "dovrane/IPServer.h"
#include "dovrane/MainWnd.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/win32/WinUser.h"
#include "platform/win32/Winsock.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/TestRoot.h"

namespace {

const DWORD kBoundMs = 15000;
const char16_t kPassword[] = u"pw";

std::string Frame(const CString& text) {
    CString framed = text + u"|";
    AppendSHA1Digest(framed);
    std::string bytes;
    for (int i = 0; i < framed.GetLength(); ++i) {
        bytes += static_cast<char>(framed[i] & 0xFF);
        bytes += static_cast<char>(framed[i] >> 8);
    }
    return bytes;
}

// The login's reply to a challenge: its response followed by the password's digest text.
CString Reply(const CString& challenge, const CString& password) {
    char response[CSC_CHALLENGE_LEN + 1] = {};
    cscResponse(zbw::ToUtf8(challenge).c_str(), response);
    return zbw::FromUtf8(response) + SHA1HashText(password);
}

// One TCP/IP connection to the server, frames by hand.
class CLoopClient {
   public:
    CLoopClient() = default;
    CLoopClient(const CLoopClient&) = delete;
    CLoopClient& operator=(const CLoopClient&) = delete;
    ~CLoopClient() { Close(); }

    void Close() {
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
    void SendBytes(const std::string& bytes) {
        send(m_socket, bytes.data(), static_cast<int>(bytes.size()), 0);
    }
    // The next frame; none once the server closed or nothing came in time.
    std::optional<CString> Read(DWORD timeoutMs = kBoundMs) {
        const int64_t deadline = zbw::DeadlineAfter(timeoutMs);
        for (;;) {
            CString text;
            if (m_frames.TakeFrame(text) == CIPFrameBuffer::FRAME_OK) return text;
            fd_set set;
            FD_ZERO(&set);
            FD_SET(m_socket, &set);
            const int64_t left = zbw::RemainingUntil(deadline);
            timeval wait = {static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
            if (select(0, &set, nullptr, nullptr, &wait) != 1) return std::nullopt;
            char piece[1024];
            const int got = recv(m_socket, piece, sizeof piece, 0);
            if (got <= 0) {
                m_bClosed = true;
                return std::nullopt;
            }
            m_frames.Append(piece, got, GetTickCount());
        }
    }
    // From source, a loopback address of this machine.
    bool Connect(int port, const char* source = "127.0.0.1") {
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in from = {};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = inet_addr(source);
        if (bind(m_socket, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) return false;
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<u_short>(port));
        addr.sin_addr.s_addr = inet_addr("127.0.0.1");
        return connect(m_socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    // The challenge; none when the server sends none.
    std::optional<CString> Challenge(int port, const char* source = "127.0.0.1") {
        if (!Connect(port, source)) return std::nullopt;
        return Read();
    }
    bool Login(int port) {
        const std::optional<CString> challenge = Challenge(port);
        if (!challenge) return false;
        SendBytes(Frame(Reply(*challenge, kPassword)));
        return Read() == CString(u"Welcome, ZBEngine 1.1");
    }
    bool ClosedWithin(DWORD timeoutMs) {
        const int64_t deadline = zbw::DeadlineAfter(timeoutMs);
        while (!m_bClosed && zbw::RemainingUntil(deadline) > 0)
            Read(static_cast<DWORD>(zbw::RemainingUntil(deadline)));
        return m_bClosed;
    }

   private:
    SOCKET m_socket = INVALID_SOCKET;
    CIPFrameBuffer m_frames;
    bool m_bClosed = false;
};

// The main window's part: load and save succeed.
LRESULT CALLBACK OwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ENGINE_COMMAND) return TRUE;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

class IPServerLoopTest : public ::testing::Test {
   protected:
    void SetUp() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        ASSERT_TRUE(g_DebugPrintf.Init(zbw::FromUtf8(m_root.Path("engine.log"))));
        WNDCLASSW wc = {};
        wc.lpfnWndProc = OwnerProc;
        wc.lpszClassName = u"IPServerLoopTestOwner";
        RegisterClassW(&wc);
        m_owner =
            CreateWindowExW(0, wc.lpszClassName, u"owner", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(m_owner);
        m_port = FreeLoopbackPort();
    }
    void TearDown() override {
        while (!m_server.Stop(1000)) {
        }
        m_client.Close();
        DestroyWindow(m_owner);
        WSACleanup();
    }

    // Serves the owner window until the condition holds (bounded).
    bool PumpUntil(const std::function<bool()>& condition) {
        const int64_t deadline = zbw::DeadlineAfter(kBoundMs);
        while (!condition() && zbw::RemainingUntil(deadline) > 0) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            Sleep(5);
        }
        return condition();
    }
    void StartServer(LPCWSTR clients = u"") {
        ASSERT_TRUE(m_server.Start(nullptr, u"127.0.0.1", m_port, clients, kPassword, u"", m_owner, 0,
                                   WM_ENGINE_COMMAND));
        ASSERT_TRUE(PumpUntil([this] { return m_server.IsServing(); }));
    }

    // Waits for the server to make passes that begin after this call; the first may be under way.
    bool WaitForPasses(unsigned passes) {
        const unsigned until = m_server.GetPassCount() + 1 + passes;
        return PumpUntil([&] { return m_server.GetPassCount() >= until; });
    }
    void SendBytes(const std::string& bytes) { m_client.SendBytes(bytes); }
    std::optional<CString> Read(DWORD timeoutMs = kBoundMs) { return m_client.Read(timeoutMs); }
    std::optional<CString> Connect() { return m_client.Challenge(m_port); }
    bool Login() { return m_client.Login(m_port); }
    bool ClosedWithin(DWORD timeoutMs) { return m_client.ClosedWithin(timeoutMs); }
    // Pumps the owner window until the log holds the text count times.
    bool LogShows(const std::string& text, size_t count = 1) {
        return PumpUntil([&] {
            const std::string log = Log();
            size_t found = 0;
            for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++found;
            return found >= count;
        });
    }
    std::string Log() const {
        std::string bytes = ReadHostFile(m_root.Path("engine.log"));
        std::string text;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) text += bytes[i + 1] ? '?' : bytes[i];
        return text;
    }

    CTestRoot m_root;
    HWND m_owner = nullptr;
    int m_port = 0;
    CIPServer m_server;
    CLoopClient m_client;
};

TEST_F(IPServerLoopTest, AClientSilentForTenMinutesIsClosed) {
    StartServer();
    ASSERT_TRUE(Login());
    SendBytes(Frame(u"ECHO").substr(0, 5));  // a frame begun, never finished
    ASSERT_TRUE(WaitForPasses(1));           // it has been read
    zbw::AdvanceClock(CLIENT_PARTIAL_FRAME_MS + 1000);
    ASSERT_TRUE(PumpUntil([this] {
        return Log().find("Incomplete message from 127.0.0.1 dropped") != std::string::npos;
    })) << Log();
    EXPECT_FALSE(ClosedWithin(300));
    zbw::AdvanceClock(CLIENT_IDLE_TIMEOUT_MS);
    EXPECT_TRUE(ClosedWithin(kBoundMs));
    EXPECT_NE(Log().find("Nothing received from 127.0.0.1 for 10 minutes"), std::string::npos) << Log();
}

// The server sleeps without looking at a socket it has read dry: what comes next must wake it,
// whole, in pieces across its sleeps, or several commands at once.
TEST_F(IPServerLoopTest, CommandsThatComeWhileTheServerSleepsAreAnswered) {
    StartServer();
    ASSERT_TRUE(Login());
    const std::string echo = Frame(u"ECHO");
    const unsigned kPasses = 3;  // the server has read the socket dry and slept since
    auto answered = [this] {
        const std::optional<CString> answer = Read();
        return answer && answer->Left(4) == ANSWER_OK;
    };
    ASSERT_TRUE(WaitForPasses(kPasses));
    SendBytes(echo);
    EXPECT_TRUE(answered());
    SendBytes(echo.substr(0, 5));
    ASSERT_TRUE(WaitForPasses(kPasses));
    SendBytes(echo.substr(5));
    EXPECT_TRUE(answered());
    ASSERT_TRUE(WaitForPasses(kPasses));
    SendBytes(echo + echo);
    EXPECT_TRUE(answered());
    EXPECT_TRUE(answered());
}

TEST_F(IPServerLoopTest, AReplyThatIsNoFrameFailsAsAWrongPassword) {
    StartServer();
    ASSERT_TRUE(Connect());
    std::string bad = Frame(u"whatever");
    bad[0] = 'x';
    SendBytes(bad);
    EXPECT_EQ(Read(), CString(u"Client not validated, incorrect password"));
    EXPECT_TRUE(ClosedWithin(kBoundMs));
}

// The reply is judged where it arrives: the response to the challenge and the password's digest
// text must both be right, and nothing may follow them.
TEST_F(IPServerLoopTest, TheLoginNeedsTheRightResponseAndTheRightPassword) {
    StartServer();
    struct LOGINCASE {
        const char* what;
        bool rightResponse;
        const char16_t* password;
        const char16_t* after;
        const char16_t* answer;
    };
    const LOGINCASE cases[] = {
        {"both right", true, kPassword, u"", u"Welcome, ZBEngine 1.1"},
        {"wrong password", true, u"guess", u"", u"Client not validated, incorrect password"},
        {"empty password", true, u"", u"", u"Client not validated, incorrect password"},
        {"more after the password", true, kPassword, u"x", u"Client not validated, incorrect password"},
        {"wrong response", false, kPassword, u"", u"Client not validated, incorrect response"},
        {"both wrong", false, u"guess", u"", u"Client not validated, incorrect password"},
    };
    for (const LOGINCASE& c : cases) {
        SCOPED_TRACE(c.what);
        CLoopClient client;
        const std::optional<CString> challenge = client.Challenge(m_port);
        ASSERT_TRUE(challenge);
        CString reply = Reply(*challenge, c.password);
        if (!c.rightResponse) {
            for (int i = 0; i < reply.GetLength() - SHA1HashText(c.password).GetLength(); ++i)
                reply.SetAt(i, reply[i] == u'0' ? u'1' : u'0');
        }
        client.SendBytes(Frame(reply + c.after));
        EXPECT_EQ(client.Read(), CString(c.answer));
        // A right login forgets the failure, so the next case is not slowed.
        if (CString(c.answer) != ENGINE_GREETING) {
            EXPECT_TRUE(CLoopClient().Login(m_port));
        }
    }
}

// The engine's own port test, a second engine's check and a port monitor connect and close
// without a word: were they counted as failures, six would hold the next challenge for 32 s.
TEST_F(IPServerLoopTest, ConnectionsThatCloseWithoutAnsweringDoNotSlowTheNextLogin) {
    StartServer();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(CIPServer::IsPortInUse(m_port));
    for (int i = 0; i < 3; ++i) {
        CLoopClient client;
        ASSERT_TRUE(client.Connect(m_port));
    }
    ASSERT_TRUE(LogShows("Closing connection with 127.0.0.1", 6)) << Log();
    EXPECT_TRUE(Login()) << Log();
    EXPECT_EQ(Log().find("Login failure"), std::string::npos) << Log();
}

// Five connections that never answer hold every slot; each new client takes the slot of the one
// that has waited longest, which goes as its time-out would end it.
TEST_F(IPServerLoopTest, SilentConnectionsGiveWayToClientsThatAnswer) {
    StartServer();
    std::vector<std::unique_ptr<CLoopClient>> silent;
    for (int i = 0; i < MAX_TCP_CLIENTS; ++i) {
        silent.push_back(std::make_unique<CLoopClient>());
        ASSERT_TRUE(silent.back()->Challenge(m_port)) << i;
    }
    ASSERT_TRUE(Login()) << Log();
    EXPECT_TRUE(silent[0]->ClosedWithin(kBoundMs));
    CLoopClient second;
    ASSERT_TRUE(second.Login(m_port)) << Log();
    EXPECT_TRUE(silent[1]->ClosedWithin(kBoundMs));
    EXPECT_TRUE(LogShows("Client not validated, timeout 30 secs", 2)) << Log();
    SendBytes(Frame(u"CONNECTIONS"));
    const std::optional<CString> connections = Read();
    ASSERT_TRUE(connections);
    EXPECT_EQ(connections->Left(5), CString(u"100-5"));  // the three others wait on
}

// A crowd of silent connections from one address gives way to itself: the client of another
// address that holds one slot at the login keeps it however many more come, and logs in.
TEST_F(IPServerLoopTest, ACrowdFromOneAddressDisplacesItsOwnLogins) {
    StartServer();
    std::vector<std::unique_ptr<CLoopClient>> crowd;
    auto join = [&] {
        crowd.push_back(std::make_unique<CLoopClient>());
        return crowd.back()->Challenge(m_port, "127.0.0.2").has_value();
    };
    for (int i = 0; i < MAX_TCP_CLIENTS - 1; ++i) ASSERT_TRUE(join()) << i;
    const std::optional<CString> challenge = Connect();
    ASSERT_TRUE(challenge);
    for (int i = 0; i < MAX_TCP_CLIENTS + 1; ++i) ASSERT_TRUE(join()) << i;
    SendBytes(Frame(Reply(*challenge, kPassword)));
    EXPECT_EQ(Read(), CString(u"Welcome, ZBEngine 1.1")) << Log();
    EXPECT_TRUE(LogShows("Client not validated, timeout 30 secs", MAX_TCP_CLIENTS + 1)) << Log();
}

// Refused connections hold their slots until their close is due (the steered clock stands still
// here): a new client takes the place of one of them.
TEST_F(IPServerLoopTest, RefusedConnectionsThatFillTheSlotsGiveWayToAClient) {
    StartServer(u"127.0.0.1");
    std::vector<std::unique_ptr<CLoopClient>> refused;
    for (int i = 0; i < MAX_TCP_CLIENTS; ++i) {
        refused.push_back(std::make_unique<CLoopClient>());
        ASSERT_TRUE(refused.back()->Connect(m_port, "127.0.0.2")) << i;
    }
    ASSERT_TRUE(LogShows("Connection from client 127.0.0.2 not allowed", MAX_TCP_CLIENTS)) << Log();
    EXPECT_TRUE(Login()) << Log();
}

TEST_F(IPServerLoopTest, ASocketLibraryAttachedAlreadyEndsTheServerWithSix) {
    ASSERT_EQ(cscAttach(1), CSC_OK);
    ASSERT_TRUE(m_server.Start(nullptr, u"", 0, u"", u"", u"", m_owner, 0, WM_ENGINE_COMMAND));
    EXPECT_TRUE(PumpUntil([this] { return m_server.GetServerStatusCode() != SERVERSTATUS_STARTING; }));
    EXPECT_EQ(m_server.GetServerStatusCode(), SERVERSTATUS_ATTACH_FAILED);
    EXPECT_TRUE(IsFinalServerStatus(m_server.GetServerStatusCode()));
    EXPECT_NE(Log().find("ERROR -4: server cannot attach"), std::string::npos) << Log();
    cscRelease();
}

}  // namespace
