// The command server in this process, where the clock can be steered: a client that sends
// nothing after its login is closed after the idle time, a partial frame is dropped after its
// time, a reply that is not a frame fails the login as a wrong password, a socket library
// that cannot be attached ends the server with its own status, and commands that arrive while
// the server sleeps out its passes wake it.
#include <gtest/gtest.h>

#include <optional>
#include <string>

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
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
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
    void StartServer() {
        ASSERT_TRUE(m_server.Start(nullptr, u"127.0.0.1", m_port, u"", kPassword, u"", m_owner, 0,
                                   WM_ENGINE_COMMAND));
        ASSERT_TRUE(PumpUntil([this] { return m_server.IsServing(); }));
    }

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
    std::optional<CString> Connect() {
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<u_short>(m_port));
        addr.sin_addr.s_addr = inet_addr("127.0.0.1");
        if (connect(m_socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return std::nullopt;
        return Read();
    }
    bool Login() {
        const std::optional<CString> challenge = Connect();
        if (!challenge) return false;
        char response[CSC_CHALLENGE_LEN + 1] = {};
        cscResponse(zbw::ToUtf8(*challenge).c_str(), response);
        SendBytes(Frame(zbw::FromUtf8(response) + SHA1HashText(kPassword)));
        return Read() == CString(u"Welcome, ZBEngine 1.1");
    }
    bool ClosedWithin(DWORD timeoutMs) {
        const int64_t deadline = zbw::DeadlineAfter(timeoutMs);
        while (!m_bClosed && zbw::RemainingUntil(deadline) > 0)
            Read(static_cast<DWORD>(zbw::RemainingUntil(deadline)));
        return m_bClosed;
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
    SOCKET m_socket = INVALID_SOCKET;
    CIPFrameBuffer m_frames;
    bool m_bClosed = false;
};

TEST_F(IPServerLoopTest, AClientSilentForTenMinutesIsClosed) {
    StartServer();
    ASSERT_TRUE(Login());
    SendBytes(Frame(u"ECHO").substr(0, 5));  // a frame begun, never finished
    Sleep(300);
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
    const DWORD kPassesMs = 350;  // several of the loop's 100 ms passes
    auto answered = [this] {
        const std::optional<CString> answer = Read();
        return answer && answer->Left(4) == ANSWER_OK;
    };
    Sleep(kPassesMs);
    SendBytes(echo);
    EXPECT_TRUE(answered());
    SendBytes(echo.substr(0, 5));
    Sleep(kPassesMs);
    SendBytes(echo.substr(5));
    EXPECT_TRUE(answered());
    Sleep(kPassesMs);
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
