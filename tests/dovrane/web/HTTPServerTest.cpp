// The HTTP server over a real run-item list with a window of the test thread as the main
// window: the log never sees credentials, the client filter matches whole addresses, a request
// that waits for the lock gets the busy page, a stop while a request sends an engine command
// to the window does not lock up, and a request beyond a bound is answered with its status.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/DebugPrintf.h"
#include "dovrane/RunItemList.h"
#include "dovrane/model/DBEngList.h"
#include "dovrane/model/EngineDB.h"
#include "dovrane/web/EngineCall.h"
#include "dovrane/web/EngineCommandCodes.h"
#include "dovrane/web/HTTPServer.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinUser.h"
#include "tests/e2e/HttpClient.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/TestRoot.h"

namespace {

std::atomic<int> g_commands{0};

LRESULT CALLBACK CommandProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ENGINE_CALL) {
        std::shared_ptr<CEngineCall> call = CEngineCall::Take(lParam);
        ++g_commands;
        if (call) call->Answer(TRUE);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND MakeCommandWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = CommandProc;
    windowClass.lpszClassName = u"ZbwTestHttpMainWindow";
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, u"ZbwTestHttpMainWindow", u"main", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           nullptr, nullptr);
}

// Serves the messages waiting in this thread's queue.
void DispatchWaiting() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// Waits (bounded) until a request's call to the main window waits in this thread's queue.
bool AwaitCall() {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    MSG message;
    while (!PeekMessageW(&message, nullptr, WM_ENGINE_CALL, WM_ENGINE_CALL, PM_NOREMOVE)) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class HTTPServerTest : public ::testing::Test {
   protected:
    void SetUp() override {
        ASSERT_TRUE(m_log.Init(CString(m_root.Path("server.log").c_str())));
        m_log.m_bDebug = true;
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"software\\ZBEngine\\ZBEngine", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, u"noenc", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"1"), 4);
        RegCloseKey(key);
        m_window = MakeCommandWindow();
        ASSERT_NE(m_window, nullptr);
        m_server = std::make_unique<CHTTPServer>(m_log);
        m_server->SetActionPauses(0, 0, 0);
        m_port = FreeLoopbackPort();
    }
    void TearDown() override {
        m_server.reset();
        DestroyWindow(m_window);
    }

    bool Start(const CString& filter = u"127.0.0.1") {
        return m_server->StartServer(m_port, BinDir() + "/html", "/status.htm", &m_list, 10000, m_window,
                                     WM_ENGINE_COMMAND, filter, CString(), u"C:\\settings.xml");
    }

    CTestRoot m_root;
    CDebugPrintf m_log;
    CRunItemList m_list;
    HWND m_window = nullptr;
    std::unique_ptr<CHTTPServer> m_server;
    int m_port = 0;
};

TEST(HTTPServerLogTest, CredentialsNeverReachTheLog) {
    EXPECT_EQ(CHTTPServer::LoggedRequest("GET / HTTP/1.1\r\nAuthorization: Basic YTpi\r\nHost: x\r\n\r\n"),
              "GET / HTTP/1.1\\r\\nAuthorization: Basic *****\\r\\nHost: x\\r\\n\\r\\n");
    EXPECT_EQ(CHTTPServer::LoggedRequest("GET / HTTP/1.1\r\nAuthorization: YTpi\r\n\r\n"),
              "GET / HTTP/1.1\\r\\nAuthorization: *****\\r\\n\\r\\n");
}

TEST_F(HTTPServerTest, FilterMatchesWholeAddresses) {
    ASSERT_TRUE(Start(u"127.0.0.1"));
    EXPECT_TRUE(m_server->IsClientAllowed("127.0.0.1", 1));
    EXPECT_FALSE(m_server->IsClientAllowed("127.0.0.10", 1));
    EXPECT_FALSE(m_server->IsClientAllowed("127.0.0.100", 1));
    EXPECT_EQ(zbtest::HttpGet(m_port, "/").status, 200);
    CHTTPServer other(m_log);
    EXPECT_FALSE(other.StartServer(0, BinDir() + "/html", "/status.htm", &m_list, 10000, m_window,
                                   WM_ENGINE_COMMAND, u"192.168.1.*", CString(), CString()))
        << "port 0 does not listen";
    EXPECT_TRUE(other.IsClientAllowed("192.168.1.17", 1));
    EXPECT_FALSE(other.IsClientAllowed("10.192.168.1", 1));
    EXPECT_FALSE(other.IsClientAllowed("127.0.0.1", 1));
}

TEST_F(HTTPServerTest, ARequestWaitingForTheLockGetsTheBusyPage) {
    // The load holds the lock from its call to this thread's window until the pause after the
    // change, longer than a request waits for the lock.
    m_server->SetActionPauses(12000, 0, 0);
    ASSERT_TRUE(Start());
    std::thread holder([&] { zbtest::HttpGet(m_port, "/status.htm?LOAD=ALL"); });
    ASSERT_TRUE(AwaitCall());
    DispatchWaiting();
    ASSERT_EQ(g_commands, 1);
    zbtest::HTTPANSWER busy = zbtest::HttpGet(m_port, "/status.htm");
    EXPECT_EQ(busy.status, 200);
    EXPECT_NE(busy.body.find("ZBEngine is busy with a requested operation."), std::string::npos) << busy.body;
    EXPECT_EQ(busy.headers["Content-Type"], "text/html; charset=iso-8859-1");
    holder.join();
    EXPECT_EQ(g_commands, 1);
}

TEST_F(HTTPServerTest, StopWhileARequestSendsToTheWindowEnds) {
    ASSERT_TRUE(Start());
    int before = g_commands;
    std::thread client([&] { zbtest::HttpGet(m_port, "/status.htm?SAVE=ALL"); });
    ASSERT_TRUE(AwaitCall());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_server->Shutdown(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    client.join();
    EXPECT_EQ(g_commands, before + 1) << "the command was served during the stop";
    CString text;
    LRESULT result = 0;
    EXPECT_EQ(m_server->CallMainWindow(ENGINE_CMD_SAVE, text, result), CEngineCall::CALL_FAILED)
        << "no calls once stopping";
}

// Each refusal reaches the client before the connection closes, even while the request has not
// ended (an endless header, a body that would exceed the bound).
TEST_F(HTTPServerTest, OversizedOrUnreadableRequestIsAnsweredBeforeTheClose) {
    ASSERT_TRUE(Start());
    const std::string host = "Host: 127.0.0.1\r\n";
    const struct {
        std::string request;
        int status;
    } kCases[] = {
        {"GET /status.htm?x=" + std::string(10000, 'a') + " HTTP/1.1\r\n" + host + "\r\n", 414},
        {"GET /status.htm?x=" + std::string(10000, 'a'), 414},
        {"GET /status.htm HTTP/1.1\r\n" + host + "X-Fill: " + std::string(20000, 'b') + "\r\n\r\n", 431},
        {"GET /status.htm HTTP/1.1\r\n" + host + std::string(400, 'c') + ": d\r\n" + std::string(17000, 'e'),
         431},
        {"POST /add.htm HTTP/1.1\r\n" + host + "Content-Length: 5000000\r\n\r\nprofile=", 413},
        {"POST /add.htm HTTP/1.1\r\n" + host + "Content-Length: five\r\n\r\n", 400},
        {"GARBAGE\r\n\r\n", 400},
    };
    for (const auto& c : kCases) {
        zbtest::CHttpConnection connection(m_port);
        ASSERT_TRUE(connection.Send(c.request));
        zbtest::HTTPANSWER answer = connection.Receive(10000);
        EXPECT_EQ(answer.status, c.status) << c.request.substr(0, 40);
        EXPECT_EQ(answer.headers["Connection"], "close");
        EXPECT_NE(answer.body.find(std::to_string(c.status)), std::string::npos) << answer.body;
        EXPECT_TRUE(connection.ClosedByPeer(10000));
    }
    EXPECT_EQ(zbtest::HttpGet(m_port, "/status.htm").status, 200) << "the server serves on";
}

std::string StatusPage(int port) {
    return zbtest::Utf16Body(zbtest::HttpGet(port, "/status.htm").body);
}

// Served twice while nothing changed (the second time from the kept page), then again after each
// change, all within the same second, so only the change can tell the pages apart.
TEST_F(HTTPServerTest, APageWhoseStateChangedIsNeverServedStale) {
    g_EngineDB.SetDBFilePath(zbw::ToWindowsPath(m_root.Path("engine.db")));
    ASSERT_TRUE(g_EngineDB.OpenDBFile());
    ASSERT_TRUE(Start());
    const CString profile = zbw::ToWindowsPath(m_root.Path("a.fsf"));
    auto item = [&](const char16_t* description) {
        return u"<SETTINGS><ITEM><PROFILE>" + profile + u"</PROFILE><DESCRIPTION>" + description +
               u"</DESCRIPTION></ITEM></SETTINGS>";
    };
    EXPECT_EQ(StatusPage(m_port).find("<tr class=\"profile\""), std::string::npos);
    EXPECT_EQ(StatusPage(m_port).find("<tr class=\"profile\""), std::string::npos);
    ASSERT_TRUE(m_list.AddProfileFromXml(item(u"first words")));
    EXPECT_NE(StatusPage(m_port).find("first words"), std::string::npos) << "a profile added";
    EXPECT_NE(StatusPage(m_port).find("first words"), std::string::npos);
    ASSERT_TRUE(m_list.UpdateProfileFromXml(item(u"second words")));
    std::string changed = StatusPage(m_port);
    EXPECT_NE(changed.find("second words"), std::string::npos) << "a profile changed";
    EXPECT_EQ(changed.find("first words"), std::string::npos);
    ASSERT_TRUE(m_list.DisableProfile(profile));
    std::string disabled = StatusPage(m_port);
    ASSERT_TRUE(m_list.EnableProfile(profile));
    EXPECT_NE(StatusPage(m_port), disabled) << "a profile enabled again";
    m_list.RemoveAllRunItems();
    EXPECT_EQ(StatusPage(m_port).find("second words"), std::string::npos) << "every profile removed";
    g_EngineDB.CloseDBFile();
}

// The profile page's history is asked of the list for that page alone; a page kept from before the
// history changed is not served again.
TEST_F(HTTPServerTest, AProfilePageShowsItsHistoryAsItIsNow) {
    g_EngineDB.SetDBFilePath(zbw::ToWindowsPath(m_root.Path("engine.db")));
    ASSERT_TRUE(g_EngineDB.OpenDBFile());
    const CString profile = zbw::ToWindowsPath(m_root.Path("a.fsf"));
    {
        // The newest first: the page shows it as the last run, the older one only in the history.
        CDBEngList stored(profile);
        for (const char16_t* result : {u"the newest result", u"an older result"}) {
            CProjectRunTime run;
            run.m_tStart = run.m_tEnd = 1709629650;
            run.m_strResult = result;
            stored.AddTailEntry(run);
        }
        ASSERT_TRUE(stored.SaveToDB());
    }
    ASSERT_TRUE(Start());
    ASSERT_TRUE(
        m_list.AddProfileFromXml(u"<SETTINGS><ITEM><PROFILE>" + profile + u"</PROFILE></ITEM></SETTINGS>"));
    const std::string page = "/profile.htm?SHOWPROFILE=" + zbtest::UrlEncoded(zbw::ToUtf8(profile));
    auto profilePage = [&] { return zbtest::Utf16Body(zbtest::HttpGet(m_port, page).body); };
    EXPECT_NE(profilePage().find("an older result"), std::string::npos);
    EXPECT_NE(profilePage().find("an older result"), std::string::npos) << "the kept page";
    ASSERT_TRUE(m_list.ResetProfileLastRuns(profile));
    EXPECT_EQ(profilePage().find("an older result"), std::string::npos) << "the history reset";
    m_list.RemoveAllRunItems();
    g_EngineDB.CloseDBFile();
}

// The browser goes to the fragment only when it ends the address.
TEST_F(HTTPServerTest, TheUpdateLinkPutsItsQueryBeforeTheFragment) {
    ASSERT_TRUE(Start());
    std::string page = StatusPage(m_port);
    size_t text = page.find(">Check for Updates</a>");
    ASSERT_NE(text, std::string::npos);
    size_t href = page.rfind("href='", text);
    ASSERT_NE(href, std::string::npos);
    std::string link = page.substr(href + 6, page.find('\'', href + 6) - href - 6);
    EXPECT_EQ(link.rfind("/help/help.htm?zbengvern=", 0), 0u) << link;
    EXPECT_NE(link.find("&zbvern="), std::string::npos) << link;
    EXPECT_EQ(link.find('#'), link.size() - std::string("#updates").size()) << link;
}

}  // namespace
