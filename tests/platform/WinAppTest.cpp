// CWinApp: start, run loop, quit code, command line; fakes a temporary emulation root.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/base/WinError.h"
#include "platform/classlib/WinApp.h"
#include "platform/win32/Registry.h"
#include "tests/platform/MessageTestWindow.h"
#include "tests/support/TestRoot.h"

namespace {

class CTestApp : public CWinApp {
   public:
    explicit CTestApp(LPCWSTR name = nullptr) : CWinApp(name) {}
    std::function<BOOL(CTestApp&)> init;
    BOOL InitInstance() override { return init ? init(*this) : TRUE; }
};

// Runs an application through the layer's entry, as a program's main does.
int RunTestApp(std::vector<std::string> args, std::function<BOOL(CTestApp&)> init) {
    CTestApp app;
    app.init = std::move(init);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return zbw::RunApplication(static_cast<int>(args.size()), argv.data());
}

// The main window of the session tests; writes what it gets to standard error, and ends the
// program with 99 after 10 s so a lost signal cannot hang the test.
class CSessionWnd : public CWnd {
   public:
    BOOL answerQuery = TRUE;
    int quitOnClose = 6;

    BOOL Make() {
        if (!CreateEx(0, AfxRegisterWndClass(0), u"zbengine", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr))
            return FALSE;
        SetTimer(1, 10000);
        return TRUE;
    }

   protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_CLOSE) {
            fprintf(stderr, "WM_CLOSE received\n");
            PostQuitMessage(quitOnClose);
            return 0;
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }
    BOOL OnQueryEndSession() {
        fprintf(stderr, "QUERYENDSESSION\n");
        return answerQuery;
    }
    void OnEndSession(BOOL ending) {
        fprintf(stderr, "ENDSESSION %d\n", ending);
        if (!ending) PostQuitMessage(8);
    }
    void OnTimer(UINT_PTR) { PostQuitMessage(99); }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CSessionWnd, CWnd)
ON_WM_QUERYENDSESSION()
ON_WM_ENDSESSION()
ON_WM_TIMER()
END_MESSAGE_MAP()

// An application whose main window gets sig once the loop runs.
int RunSessionApp(int sig, BOOL answerQuery, bool withWindow = true) {
    CSessionWnd wnd;
    wnd.answerQuery = answerQuery;
    return RunTestApp({"zbengine"}, [&](CTestApp& app) {
        if (withWindow) {
            if (!wnd.Make()) return FALSE;
            app.m_pMainWnd = &wnd;
        }
        raise(sig);  // only recorded: it is served when the loop pumps
        return TRUE;
    });
}

class WinAppTest : public ::testing::Test {
   protected:
    void SetUp() override { testing::FLAGS_gtest_death_test_style = "threadsafe"; }
    void TearDown() override { DiscardMessages(); }

    CTestRoot m_root;
};

TEST_F(WinAppTest, QuitCodeBecomesTheExitCode) {
    struct {
        int quit;
        int status;
    } cases[] = {{0, 0}, {5, 5}, {3, 3}, {260, 4}, {-1, 255}};
    for (const auto& c : cases) {
        int quit = c.quit;
        EXPECT_EXIT(exit(RunTestApp({"zbengine"},
                                    [quit](CTestApp&) {
                                        PostQuitMessage(quit);  // before the loop starts
                                        return TRUE;
                                    })),
                    testing::ExitedWithCode(c.status), "")
            << c.quit;
    }
}

TEST_F(WinAppTest, FailedInitInstanceDestroysTheMainWindow) {
    EXPECT_EXIT(exit(RunTestApp({"zbengine"},
                                [](CTestApp& app) {
                                    static CWnd wnd;
                                    wnd.CreateEx(0, nullptr, u"zbengine", WS_POPUP, 0, 0, 0, 0, nullptr,
                                                 nullptr);
                                    app.m_pMainWnd = &wnd;
                                    return FALSE;
                                }) == 0 &&
                             FindWindowW(nullptr, u"zbengine") == nullptr
                         ? 0
                         : 1),
                testing::ExitedWithCode(0), "");
}

TEST_F(WinAppTest, RunLoopEndsWithThePendingQuitCode) {
    CTestApp app;
    PostQuitMessage(5);
    EXPECT_EQ(app.Run(), 5);
    EXPECT_EQ(app.ExitInstance(), 5);
    EXPECT_EQ(AfxGetApp(), &app);
}

TEST_F(WinAppTest, DestroyingTheMainWindowEndsTheLoop) {
    CTestApp app;
    CWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, nullptr, u"main", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr));
    app.m_pMainWnd = &wnd;
    EXPECT_EQ(AfxGetMainWnd(), &wnd);
    wnd.PostMessage(WM_CLOSE);
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(app.m_pMainWnd, nullptr);
    EXPECT_EQ(wnd.m_hWnd, nullptr);
}

TEST_F(WinAppTest, NamesAndCommandLineComeFromTheArguments) {
    auto check = [](CTestApp& app) {
        bool ok = std::u16string(app.m_pszExeName) == u"ZBEngine" &&
                  std::u16string(app.m_pszAppName) == u"ZBEngine" &&
                  std::u16string(app.m_lpCmdLine) == u"/serv \"C:\\a b\\s.xml\" \"say \\\"hi\\\"\"";
        if (!ok) fprintf(stderr, "names or command line differ\n");
        PostQuitMessage(ok ? 0 : 1);
        return TRUE;
    };
    EXPECT_EXIT(exit(RunTestApp({"/opt/zb/ZBEngine.exe", "/serv", "C:\\a b\\s.xml", "say \"hi\""}, check)),
                testing::ExitedWithCode(0), "");
}

// Records every ParseParam call.
class CRecordingCommandLine : public CCommandLineInfo {
   public:
    std::vector<std::string> calls;
    void ParseParam(LPCWSTR param, BOOL flag, BOOL last) override {
        CCommandLineInfo::ParseParam(param, flag, last);
        std::string text;
        for (LPCWSTR p = param; *p; ++p) text += static_cast<char>(*p);
        calls.push_back(text + (flag ? " flag" : "") + (last ? " last" : ""));
    }
};

TEST_F(WinAppTest, ParseCommandLineStripsFlagMarks) {
    auto check = [](CTestApp& app) {
        CRecordingCommandLine info;
        app.ParseCommandLine(info);
        std::vector<std::string> expected = {"serv flag", "Serv flag", "serv",
                                             "C:\\x.xml", " flag",     "end last"};
        bool ok = info.calls == expected && info.m_strFileName == CString(u"serv") &&
                  info.m_nShellCommand == CCommandLineInfo::FileOpen;
        for (const std::string& call : info.calls) fprintf(stderr, "[%s]\n", call.c_str());
        PostQuitMessage(ok ? 0 : 1);
        return TRUE;
    };
    EXPECT_EXIT(exit(RunTestApp({"zbengine", "/serv", "-Serv", "serv", "C:\\x.xml", "/", "end"}, check)),
                testing::ExitedWithCode(0), "");
}

TEST_F(WinAppTest, BaseCommandLineTakesTheFirstPlainArgumentAsFileName) {
    struct {
        std::vector<std::pair<std::u16string, bool>> params;
        std::u16string fileName;
        int shellCommand;
    } cases[] = {
        {{}, u"", CCommandLineInfo::FileNew},
        {{{u"serv", true}}, u"", CCommandLineInfo::FileNew},
        {{{u"serv", true}, {u"C:\\p.xml", false}}, u"C:\\p.xml", CCommandLineInfo::FileOpen},
        {{{u"a.xml", false}, {u"b.xml", false}}, u"a.xml", CCommandLineInfo::FileOpen},
    };
    for (const auto& c : cases) {
        CCommandLineInfo info;
        for (size_t i = 0; i < c.params.size(); ++i) {
            info.ParseParam(c.params[i].first.c_str(), c.params[i].second, i + 1 == c.params.size());
        }
        EXPECT_EQ(info.m_strFileName, CString(c.fileName.c_str()));
        EXPECT_EQ(info.m_nShellCommand, c.shellCommand);
    }
}

TEST_F(WinAppTest, ProfileLivesUnderTheRegistryKeyAndAppName) {
    CTestApp app(u"ZBEngine");
    EXPECT_EQ(app.GetProfileString(u"Settings", u"lfbrowse", u"none"), CString(u"none"));
    EXPECT_FALSE(app.WriteProfileString(u"Settings", u"lfbrowse", u"x"));  // no registry key yet
    app.SetRegistryKey(u"ZBEngine");
    EXPECT_TRUE(app.WriteProfileString(u"Settings", u"lfbrowse", u"C:\\data"));
    EXPECT_TRUE(app.WriteProfileInt(u"Filters", u"Filtern", 3));
    EXPECT_EQ(app.GetProfileString(u"Settings", u"lfbrowse"), CString(u"C:\\data"));
    EXPECT_EQ(app.GetProfileInt(u"Filters", u"Filtern", 0), 3u);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"software\\ZBEngine\\ZBEngine\\Settings", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"lfbrowse", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 8u * sizeof(char16_t));  // with its terminating zero
    RegCloseKey(key);

    // Wrong types and missing entries give the default.
    EXPECT_EQ(app.GetProfileInt(u"Settings", u"lfbrowse", 7), 7u);
    EXPECT_EQ(app.GetProfileString(u"Filters", u"Filtern", u"d"), CString(u"d"));
    EXPECT_EQ(app.GetProfileInt(u"Nowhere", u"x", -2), static_cast<UINT>(-2));
    EXPECT_TRUE(app.WriteProfileString(u"Settings", u"lfbrowse", nullptr));
    EXPECT_EQ(app.GetProfileString(u"Settings", u"lfbrowse", u"gone"), CString(u"gone"));
    EXPECT_TRUE(app.WriteProfileString(u"Settings", nullptr, nullptr));
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\ZBEngine\\ZBEngine\\Settings", 0, KEY_READ, &key),
              ERROR_SUCCESS);
}

TEST_F(WinAppTest, SigtermGivesQueryThenEndSessionAndEndsTheProgram) {
    EXPECT_EXIT(exit(RunSessionApp(SIGTERM, TRUE)), testing::ExitedWithCode(0),
                "QUERYENDSESSION\nENDSESSION 1\n$");
}

TEST_F(WinAppTest, RefusedQueryGivesEndSessionFalseAndTheProgramGoesOn) {
    EXPECT_EXIT(exit(RunSessionApp(SIGTERM, FALSE)), testing::ExitedWithCode(8),
                "QUERYENDSESSION\nENDSESSION 0\n$");
}

TEST_F(WinAppTest, SigintAndSighupGiveWmClose) {
    for (int sig : {SIGINT, SIGHUP}) {
        EXPECT_EXIT(exit(RunSessionApp(sig, TRUE)), testing::ExitedWithCode(6), "WM_CLOSE received") << sig;
    }
}

TEST_F(WinAppTest, SignalWithoutMainWindowTakesItsDefaultAction) {
    EXPECT_EXIT(exit(RunSessionApp(SIGTERM, TRUE, false)), testing::KilledBySignal(SIGTERM), "");
}

LRESULT CALLBACK PlainMainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(12);
    if (message == WM_TIMER) PostQuitMessage(99);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// A wWinMain program: its first window gets the session signals.
int PlainWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
    if (std::u16string(commandLine) != u"-a") return 1;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = PlainMainProc;
    windowClass.lpszClassName = u"ZBEngineIconWindowClass";
    RegisterClassW(&windowClass);
    HWND hwnd =
        CreateWindowExW(0, u"ZBEngineIconWindowClass", u"ZBEngineIconWindowTitle", WS_OVERLAPPEDWINDOW,
                        CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr, nullptr, nullptr);
    SetTimer(hwnd, 1, 10000, nullptr);
    raise(SIGINT);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0)) DispatchMessageW(&msg);
    return static_cast<int>(msg.wParam);
}

TEST_F(WinAppTest, WinMainProgramsGetTheSameEntry) {
    std::string program = "zbengineicon";
    std::string arg = "-a";
    char* argv[] = {program.data(), arg.data(), nullptr};
    EXPECT_EXIT(exit(zbw::RunWinMain(2, argv, PlainWinMain)), testing::ExitedWithCode(12), "");
}

}  // namespace
