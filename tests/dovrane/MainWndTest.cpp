// The engine's main window: its commands sent and posted from another thread, the session
// messages, WM_CLOSE, timer 1, and the start and stop of the engine around them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <thread>

#include "dovrane/EngineGlobals.h"
#include "dovrane/MainWnd.h"
#include "dovrane/dovraneApp.h"
#include "dovrane/threads/RunItem.h"
#include "dovrane/web/EngineCall.h"
#include "dovrane/web/HttpActions.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinUser.h"
#include "tests/support/TestRoot.h"

namespace {

const DWORD kBoundMs = 15000;

void AddServiceKey() {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\ZBEngine", 0,
                              nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

CLaunchItem DisabledItem(LPCWSTR profile);

class MainWndTest : public ::testing::Test {
   protected:
    void SetUp() override {
        Pump(0);  // a quit left by an earlier test of this process (a main window that went)
        m_quitCode = -1;
        ASSERT_TRUE(m_app.CreateMainWindow());
        m_app.DeriveFileNames();  // the database lies in the test's data folder
        m_hwnd = m_app.GetMainWnd().GetSafeHwnd();
    }

    // Runs body on another thread while this one serves its queue, as the engine's main thread
    // does. Should the body hang in a send, the window goes, which releases the sender.
    void OnOtherThread(const std::function<void()>& body) {
        std::atomic<bool> done{false};
        std::thread other([&] {
            body();
            done = true;
        });
        int64_t deadline = zbw::DeadlineAfter(kBoundMs);
        while (!done && zbw::RemainingUntil(deadline) > 0) Pump(20);
        if (!done) m_app.GetMainWnd().DestroyWindow();
        other.join();
        EXPECT_TRUE(done);
    }

    // Serves the queue for up to ms; a quit is recorded, not acted on.
    void Pump(DWORD ms) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                m_quitCode = static_cast<int>(msg.wParam);
                continue;
            }
            DispatchMessageW(&msg);
        }
    }

    // Pumps until the condition holds (bounded).
    bool PumpUntil(const std::function<bool()>& condition) {
        int64_t deadline = zbw::DeadlineAfter(kBoundMs);
        while (!condition() && zbw::RemainingUntil(deadline) > 0) Pump(20);
        return condition();
    }
    // The engine serving, with the disabled profiles C:\a.fsf and C:\b.fsf in that order.
    void StartWithTwoProfiles() {
        ASSERT_TRUE(m_app.StartEngine());
        ASSERT_TRUE(PumpUntil([&] { return m_app.GetIPServer().IsServing(); }));
        ASSERT_TRUE(m_app.GetRunItemList().AddRunItem(DisabledItem(u"C:\\a.fsf"), true));
        ASSERT_TRUE(m_app.GetRunItemList().AddRunItem(DisabledItem(u"C:\\b.fsf"), true));
    }

    CTestRoot m_root;
    CdovraneApp m_app;
    HWND m_hwnd = nullptr;
    int m_quitCode = -1;
};

TEST_F(MainWndTest, IsTheApplicationsHiddenWindowNamedZbengine) {
    EXPECT_EQ(AfxGetMainWnd(), &m_app.GetMainWnd());
    EXPECT_EQ(FindWindowW(nullptr, u"zbengine"), m_hwnd);
}

struct SENTCOMMAND {
    WPARAM code;
    const char16_t* argument;
    LRESULT result;
    const char16_t* answer;
};

void PrintTo(const SENTCOMMAND& command, std::ostream* os) {
    *os << "code " << command.code << " argument \"" << zbw::ToUtf8(command.argument) << "\"";
}

class MainWndSentCommandTest : public MainWndTest, public ::testing::WithParamInterface<SENTCOMMAND> {};

// Load and save answer with their error text, empty on success; remove, add and set with the
// list's answer. The engine's own settings file does not exist yet: loading it gives the empty
// list, as at a first start.
TEST_P(MainWndSentCommandTest, AnswersTheCaller) {
    const SENTCOMMAND& command = GetParam();
    ASSERT_TRUE(m_app.StartEngine());
    // The command server's own start-up load and save come first.
    ASSERT_TRUE(PumpUntil([&] { return m_app.GetIPServer().IsServing(); }));
    CString text = command.argument;
    LRESULT result = -1;
    OnOtherThread([&] {
        result = SendMessageW(m_hwnd, WM_ENGINE_COMMAND, command.code, reinterpret_cast<LPARAM>(&text));
    });
    EXPECT_EQ(result, command.result);
    EXPECT_EQ(zbw::ToUtf8(text), zbw::ToUtf8(command.answer));
    const bool settingsFile = command.code == ENGINE_CMD_LOAD || command.code == ENGINE_CMD_SAVE;
    EXPECT_EQ(m_app.GetMainWnd().GetMessageText(), CString(settingsFile ? command.answer : u""));
    Pump(0);
    EXPECT_EQ(m_quitCode, -1);  // nothing asked the engine to end
    EXPECT_TRUE(m_app.IsStarted());
    EXPECT_TRUE(IsWindow(m_hwnd));
}

const char16_t kItem[] = u"<ITEM><PROFILE>C:\\p.fsf</PROFILE></ITEM>";
const char16_t kSettingsItem[] = u"<SETTINGS><ITEM><PROFILE>C:\\p.fsf</PROFILE></ITEM></SETTINGS>";

INSTANTIATE_TEST_SUITE_P(
    Codes, MainWndSentCommandTest,
    ::testing::Values(SENTCOMMAND{ENGINE_CMD_LOAD, u"C:\\no-such-folder\\x.xml", FALSE,
                                  u"Failed loading C:\\no-such-folder\\x.xml. Unable to open "
                                  u"XML file for parsing."},
                      SENTCOMMAND{ENGINE_CMD_LOAD, u"", TRUE, u""},
                      SENTCOMMAND{ENGINE_CMD_SAVE, u"", TRUE, u""},
                      SENTCOMMAND{ENGINE_CMD_SAVE, u"C:\\no-such-folder\\y.xml", FALSE,
                                  u"Failed saving C:\\no-such-folder\\y.xml. Unable to open "
                                  u"XML file for saving settings."},
                      SENTCOMMAND{ENGINE_CMD_REMOVE, u"p", FALSE, u"p"},
                      SENTCOMMAND{ENGINE_CMD_ADD, kItem, FALSE, kItem},
                      SENTCOMMAND{ENGINE_CMD_ADD, kSettingsItem, TRUE, kSettingsItem},
                      SENTCOMMAND{ENGINE_CMD_SET, kSettingsItem, FALSE, kSettingsItem},
                      SENTCOMMAND{ENGINE_CMD_SET, kItem, FALSE, kItem}, SENTCOMMAND{0, u"x", 0, u"x"},
                      SENTCOMMAND{8, u"x", 0, u"x"}, SENTCOMMAND{1000, u"x", 0, u"x"}),
    [](const ::testing::TestParamInfo<SENTCOMMAND>& info) {
        return "Code" + std::to_string(info.param.code) + "Case" + std::to_string(info.index);
    });

// Without a text load and save take the current settings file; remove, add and set find nothing.
TEST_F(MainWndTest, ACommandWithoutTextIsAnsweredWithoutOne) {
    ASSERT_TRUE(m_app.StartEngine());
    for (WPARAM code :
         {ENGINE_CMD_LOAD, ENGINE_CMD_SAVE, ENGINE_CMD_REMOVE, ENGINE_CMD_ADD, ENGINE_CMD_SET}) {
        LRESULT result = -1;
        OnOtherThread([&] { result = SendMessageW(m_hwnd, WM_ENGINE_COMMAND, code, 0); });
        EXPECT_EQ(result, code == ENGINE_CMD_LOAD || code == ENGINE_CMD_SAVE ? TRUE : FALSE) << code;
    }
}

TEST_F(MainWndTest, APostedShutdownEndsTheLoopWithZero) {
    OnOtherThread([&] { EXPECT_TRUE(PostMessageW(m_hwnd, WM_ENGINE_COMMAND, ENGINE_CMD_SHUTDOWN, 0)); });
    EXPECT_TRUE(PumpUntil([&] { return m_quitCode != -1; }));
    EXPECT_EQ(m_quitCode, 0);
}

// Started outside the service the engine adds its logon task (Vista, the default); only the
// shutdown command takes it away again.
TEST_F(MainWndTest, TheShutdownCommandRemovesTheLogonTaskTheStartAdded) {
    unsetenv("ZBW_WINVER");
    unsetenv("ZBW_HIDE_FUNCTIONS");
    g_SchedulerTaskLib.Load();
    char16_t message[CSchedulerTaskLib::kMessageLength] = {};
    ASSERT_EQ(g_SchedulerTaskLib.EngineSchedulerTaskExists(message), JORVELL_NO_TASK);
    ASSERT_TRUE(m_app.StartEngine());
    EXPECT_EQ(g_SchedulerTaskLib.EngineSchedulerTaskExists(message), JORVELL_OK);
    OnOtherThread([&] { EXPECT_TRUE(PostMessageW(m_hwnd, WM_ENGINE_COMMAND, ENGINE_CMD_SHUTDOWN, 0)); });
    EXPECT_TRUE(PumpUntil([&] { return m_quitCode != -1; }));
    EXPECT_EQ(m_quitCode, 0);
    EXPECT_EQ(g_SchedulerTaskLib.EngineSchedulerTaskExists(message), JORVELL_NO_TASK);
}

// The shutdown's removal stands: a restart asked for right after it does not add the task again.
TEST_F(MainWndTest, ARestartAfterTheShutdownCommandLeavesTheLogonTaskRemoved) {
    unsetenv("ZBW_WINVER");
    unsetenv("ZBW_HIDE_FUNCTIONS");
    g_SchedulerTaskLib.Load();
    char16_t message[CSchedulerTaskLib::kMessageLength] = {};
    ASSERT_TRUE(m_app.StartEngine());
    ASSERT_EQ(g_SchedulerTaskLib.EngineSchedulerTaskExists(message), JORVELL_OK);
    OnOtherThread([&] {
        EXPECT_TRUE(PostMessageW(m_hwnd, WM_ENGINE_COMMAND, ENGINE_CMD_SHUTDOWN, 0));
        EXPECT_TRUE(PostMessageW(m_hwnd, WM_ENGINE_COMMAND, ENGINE_CMD_RESTART, 0));
    });
    EXPECT_TRUE(PumpUntil([&] { return m_quitCode != -1; }));
    Pump(100);
    EXPECT_EQ(m_quitCode, 0);
    EXPECT_EQ(g_SchedulerTaskLib.EngineSchedulerTaskExists(message), JORVELL_NO_TASK);
}

TEST_F(MainWndTest, CloseKeepsTheLogonTask) {
    unsetenv("ZBW_WINVER");
    unsetenv("ZBW_HIDE_FUNCTIONS");
    g_SchedulerTaskLib.Load();
    ASSERT_TRUE(m_app.StartEngine());
    SendMessageW(m_hwnd, WM_CLOSE, 0, 0);
    char16_t message[CSchedulerTaskLib::kMessageLength] = {};
    EXPECT_EQ(g_SchedulerTaskLib.EngineSchedulerTaskExists(message), JORVELL_OK);
}

TEST_F(MainWndTest, APostedRestartStopsAndStartsTheEngine) {
    ASSERT_TRUE(m_app.StartEngine());
    m_app.ClearStarted();
    OnOtherThread([&] { EXPECT_TRUE(PostMessageW(m_hwnd, WM_ENGINE_COMMAND, ENGINE_CMD_RESTART, 0)); });
    EXPECT_TRUE(PumpUntil([&] { return m_app.IsStarted(); }));
    EXPECT_EQ(m_quitCode, -1);
}

TEST_F(MainWndTest, ARestartWhoseSecondStartFailsLeavesAWindowThatStillEndsTheEngine) {
    ASSERT_TRUE(m_app.StartEngine());
    m_app.ClearStarted();
    AddServiceKey();  // the second start now refuses: installed as a service, not started by it
    LRESULT result = -1;
    OnOtherThread([&] { result = SendMessageW(m_hwnd, WM_ENGINE_COMMAND, ENGINE_CMD_RESTART, 0); });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(m_app.IsStarted());
    EXPECT_EQ(m_quitCode, -1);  // the process goes on
    ASSERT_TRUE(IsWindow(m_hwnd));
    OnOtherThread([&] { EXPECT_TRUE(PostMessageW(m_hwnd, WM_CLOSE, 0, 0)); });
    EXPECT_TRUE(PumpUntil([&] { return m_quitCode != -1; }));
    EXPECT_EQ(m_quitCode, 0);
}

TEST_F(MainWndTest, StartClearsTheErrorOfAnEarlierStart) {
    // Without a web interface, so no program on the default HTTP port can give the start an error.
    const std::string hostFile = zbw::ToHostPath(m_app.GetFileNames().m_strXMLPath);
    ASSERT_EQ(std::system(("mkdir -p \"$(dirname '" + hostFile + "')\"").c_str()), 0);
    std::string bytes = "\xFF\xFE";
    for (char c : std::string("<SETTINGS><HTTP><NOHTTP/></HTTP></SETTINGS>")) bytes += std::string{c, '\0'};
    ASSERT_TRUE(WriteHostFile(hostFile, bytes));
    m_app.GetRunItemList().SetEngineError(u"GetServerStatusCode() failed, timeout");
    EXPECT_TRUE(m_app.StartEngine());
    EXPECT_EQ(m_app.GetRunItemList().GetEngineError(), CString(u""));
}

TEST_F(MainWndTest, ADatabaseThatCannotBeOpenedIsTheEngineErrorAndEndsTheStart) {
    ASSERT_EQ(std::system(("mkdir -p '" + zbw::ToHostPath(m_app.GetFileNames().m_strDBPath) + "'").c_str()),
              0);
    EXPECT_FALSE(m_app.StartEngine());
    EXPECT_EQ(m_app.GetRunItemList().GetEngineError().Find(u"Failed creating/opening \""), 0);
    EXPECT_FALSE(m_app.IsStarted());
}

TEST_F(MainWndTest, StartStoresTheEngineFactsInTheSettings) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"software\\Zebrodyne Pro 2\\Zebrodyne Pro", 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const CString build = u"12";
    RegSetValueExW(key, u"ver", 0, REG_SZ, reinterpret_cast<const BYTE*>(LPCWSTR(build)),
                   static_cast<DWORD>((build.GetLength() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
    ASSERT_TRUE(m_app.StartEngine());
    const CEngineSettings s = m_app.GetRunItemList().GetSettings();
    EXPECT_EQ(s.m_strVersion, CString(u"ZBEngine 1.1 (Build 7)"));
    EXPECT_EQ(s.m_strSyncProgramPath,
              CString(u"Unable to locate Zebrodyne Pro on this computer. Please install Zebrodyne Pro."));
    EXPECT_EQ(s.m_nSyncProgramMissing, 1);
    EXPECT_EQ(s.m_nSyncProgramBuild, 12);
    EXPECT_EQ(s.m_nService, 0);
    EXPECT_EQ(s.m_strDBPath, m_app.GetFileNames().m_strDBPath);
    EXPECT_EQ(s.m_strSettingsPath, m_app.GetFileNames().m_strXMLPath);
    EXPECT_NE(s.m_dtEngineStart, COleDateTime(1980, 1, 1, 0, 0, 0));
}

// Until the profiles were loaded the list is empty: the stop must not write it over the file.
TEST_F(MainWndTest, StopSavesTheSettingsOnlyOnceTheProfilesWereLoaded) {
    const std::string hostFile = zbw::ToHostPath(m_app.GetFileNames().m_strXMLPath);
    const std::string bytes = std::string("\xFF\xFE<\0S\0E\0T\0T\0I\0N\0G\0S\0/\0>\0", 24);
    ASSERT_EQ(std::system(("mkdir -p \"$(dirname '" + hostFile + "')\"").c_str()), 0);
    ASSERT_TRUE(WriteHostFile(hostFile, bytes));
    ASSERT_TRUE(m_app.StartEngine());
    m_app.StopEngine();
    EXPECT_EQ(ReadHostFile(hostFile), bytes);
    EXPECT_EQ(ReadHostFile(hostFile + ".bak"), "");
    ASSERT_TRUE(m_app.StartEngine());
    ASSERT_TRUE(m_app.GetRunItemList().LoadSettings(u"", false));
    m_app.StopEngine();
    EXPECT_NE(ReadHostFile(hostFile + ".bak"), "");
}

TEST_F(MainWndTest, TheEndOfTheSessionSavesTheSettingsOnlyOnceTheProfilesWereLoaded) {
    const std::string hostFile = zbw::ToHostPath(m_app.GetFileNames().m_strXMLPath);
    // The session's end serves the queue, where the command server's start-up load would race
    // the stop of that server: a server that cannot listen never loads.
    std::string bytes = "\xFF\xFE";
    for (char c : std::string("<SETTINGS><TCPIP><IP>192.0.2.1</IP><PORT>1</PORT></TCPIP></SETTINGS>"))
        bytes += std::string{c, '\0'};
    ASSERT_EQ(std::system(("mkdir -p \"$(dirname '" + hostFile + "')\"").c_str()), 0);
    ASSERT_TRUE(WriteHostFile(hostFile, bytes));
    ASSERT_TRUE(m_app.StartEngine());
    ASSERT_TRUE(IsFinalServerStatus(m_app.GetIPServer().GetServerStatusCode()));
    EXPECT_EQ(SendMessageW(m_hwnd, WM_ENDSESSION, TRUE, 0), TRUE);
    EXPECT_EQ(ReadHostFile(hostFile), bytes);
    EXPECT_EQ(ReadHostFile(hostFile + ".bak"), "");
    ASSERT_TRUE(m_app.StartEngine());
    ASSERT_TRUE(m_app.GetRunItemList().LoadSettings(u"", false));
    EXPECT_EQ(SendMessageW(m_hwnd, WM_ENDSESSION, TRUE, 0), TRUE);
    EXPECT_NE(ReadHostFile(hostFile + ".bak"), "");
}

TEST_F(MainWndTest, StartRefusesWhenInstalledAsAServiceButNotStartedByIt) {
    EXPECT_FALSE(CdovraneApp::IsInstalledAsService());
    AddServiceKey();
    EXPECT_TRUE(CdovraneApp::IsInstalledAsService());
    EXPECT_FALSE(m_app.StartEngine());
    EXPECT_FALSE(m_app.IsStarted());
}

TEST_F(MainWndTest, CloseQuitsWithZeroAndDestroysTheWindow) {
    SendMessageW(m_hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(m_hwnd));
    Pump(0);
    EXPECT_EQ(m_quitCode, 0);
}

TEST_F(MainWndTest, StopEngineKeepsAQuitRequestForTheMessageLoop) {
    PostQuitMessage(7);
    m_app.StopEngine();
    Pump(0);
    EXPECT_EQ(m_quitCode, 7);
}

TEST_F(MainWndTest, StopEngineDispatchesWhatWaitsInTheQueue) {
    ASSERT_TRUE(m_app.StartEngine());
    m_app.ClearStarted();
    ASSERT_TRUE(PostMessageW(m_hwnd, WM_ENGINE_COMMAND, ENGINE_CMD_RESTART, 0));
    m_app.StopEngine();
    EXPECT_TRUE(m_app.IsStarted());  // the restart waiting in the queue ran
}

struct SESSIONMESSAGE {
    UINT message;
    WPARAM wParam;
    bool startedAfter;
};

void PrintTo(const SESSIONMESSAGE& session, std::ostream* os) {
    *os << "message " << session.message << " wParam " << session.wParam;
}

class MainWndSessionTest : public MainWndTest, public ::testing::WithParamInterface<SESSIONMESSAGE> {};

// Only the end of the session stops the engine (on the shutdown helper thread, which clears the
// started flag); the question and a cancel stop nothing.
TEST_P(MainWndSessionTest, AnswersTrue) {
    ASSERT_TRUE(m_app.StartEngine());
    EXPECT_EQ(SendMessageW(m_hwnd, GetParam().message, GetParam().wParam, 0), TRUE);
    EXPECT_EQ(m_app.IsStarted(), GetParam().startedAfter);
    EXPECT_TRUE(IsWindow(m_hwnd));
}

std::string SessionName(const ::testing::TestParamInfo<SESSIONMESSAGE>& info) {
    if (info.param.message == WM_QUERYENDSESSION) return "QueryEndSession";
    return info.param.wParam ? "EndSessionEnding" : "EndSessionCanceled";
}

INSTANTIATE_TEST_SUITE_P(Messages, MainWndSessionTest,
                         ::testing::Values(SESSIONMESSAGE{WM_QUERYENDSESSION, 0, true},
                                           SESSIONMESSAGE{WM_ENDSESSION, FALSE, true},
                                           SESSIONMESSAGE{WM_ENDSESSION, TRUE, false}),
                         SessionName);
TEST_F(MainWndTest, TheEndOfTheSessionAlsoArrivesFromAnotherThread) {
    ASSERT_TRUE(m_app.StartEngine());
    LRESULT result = -1;
    OnOtherThread([&] { result = SendMessageW(m_hwnd, WM_ENDSESSION, TRUE, 0); });
    EXPECT_EQ(result, TRUE);
    EXPECT_FALSE(m_app.IsStarted());
}

TEST_F(MainWndTest, TimerOneRunsEveryTwoSeconds) {
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, m_hwnd, WM_TIMER, WM_TIMER, PM_REMOVE));
    zbw::AdvanceClock(CMainWnd::kStatusTimerMs + 1);
    ASSERT_TRUE(PeekMessageW(&msg, m_hwnd, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_EQ(msg.wParam, CMainWnd::kStatusTimer);
}

CLaunchItem DisabledItem(LPCWSTR profile) {
    CLaunchItem item;
    item.m_strProfile = profile;
    item.m_nEnabled = 0;
    return item;
}

// A page's query carried out as the HTTP server's client threads do, with every engine command a
// call to window; calls records their codes.
struct CPageActions {
    CArray<CZBProjectRunItemData> snapshot;
    std::vector<CString> categories;
    PAGECONTEXT context;
    std::atomic<int> busy{0};
    std::vector<WPARAM> calls;

    CPageActions() {
        context.pSnapshot = &snapshot;
        context.pCategories = &categories;
        context.strPage = u"/status.htm";
    }
    void Run(CRunItemList& list, HWND window, const std::string& query) {
        CHttpActions::ENGINECOMMANDS commands{[](WPARAM) { return 0; },
                                              [&](WPARAM code, CString& text, LRESULT& result) {
                                                  calls.push_back(code);
                                                  return CEngineCall::Send(window, code, text,
                                                                           ENGINE_CALL_TIMEOUT_MS, result);
                                              }};
        CHttpActions actions(list, commands, context, busy);
        actions.SetPauses(0, 0, 0);
        actions.RunQuery(query, {});
    }
};

// The run-item commands of the command server's thread and of an HTTP client thread reach the
// list on the main thread: every list operation that changes an item asserts its thread, so one
// carried out on the caller's thread would end this test. The answers are the main thread's.
TEST_F(MainWndTest, RunItemCommandsOfTheServerThreadsAreCarriedOutOnTheMainThread) {
    ASSERT_NO_FATAL_FAILURE(StartWithTwoProfiles());
    CRunItemList& list = m_app.GetRunItemList();
    const struct {
        const char16_t* command;
        const char16_t* answer;
    } kCommands[] = {
        {u"RUN C:\\a.fsf", u"101-C:\\a.fsf is not enabled."},
        {u"RUN C:\\x.fsf", u"101-Error. C:\\x.fsf not found."},
        {u"STOP C:\\a.fsf", u"100-Stopping C:\\a.fsf..."},
        {u"DISABLE C:\\a.fsf", u"100-Disabling C:\\a.fsf..."},
        {u"ENABLE C:\\x.fsf", u"101-Error. C:\\x.fsf not found."},
        {u"STOP ALL", u"100-Stopping All..."},
        {u"DISABLE ALL", u"200-Disabling All..."},
        {u"RUN ALL", u"100-Running All..."},
    };
    for (const auto& command : kCommands) {
        CString answer;
        OnOtherThread([&] { m_app.GetIPServer().ExecuteCommand(command.command, answer); });
        EXPECT_EQ(zbw::ToUtf8(answer), zbw::ToUtf8(command.answer)) << zbw::ToUtf8(command.command);
    }

    CPageActions page;
    OnOtherThread([&] {
        page.Run(list, m_hwnd, "MOVEDOWN=C%3A%5Ca.fsf&STOP=C%3A%5Cb.fsf&DISABLE=ALL&RUN=C%3A%5Cb.fsf");
    });
    EXPECT_EQ(page.calls, (std::vector<WPARAM>{ENGINE_CMD_MOVE_DOWN, ENGINE_CMD_STOP,
                                               ENGINE_CMD_DISABLE_CATEGORY, ENGINE_CMD_RUN}));
    EXPECT_EQ(zbw::ToUtf8(list.GetProfileNameList()), "C:\\b.fsf|C:\\a.fsf");
    EXPECT_EQ(zbw::ToUtf8(page.context.strErrorText), "C:\\b.fsf is not enabled.");
}

// A run item whose job takes its time to stop: its stop pumps this thread's messages until the
// test lets the job go.
class CSlowStoppingItem : public CRunItem {
   public:
    std::atomic<bool> m_bPumping{false};
    std::atomic<bool> m_bRelease{false};

   protected:
    bool StopJob(DWORD) override {
        m_bPumping = true;
        if (!m_bRelease) Sleep(5);
        return m_bRelease.load();
    }
};

// Stops an item whose stop pumps this thread's messages until work, on a server thread, is done.
void StopWhile(const std::function<void()>& work) {
    CSlowStoppingItem item;
    ASSERT_TRUE(item.CreateItemWindow());
    std::thread server([&] {
        while (!item.m_bPumping) Sleep(5);
        work();
        item.m_bRelease = true;
    });
    item.StopSchedule();
    server.join();
    item.DestroyWindow();
}

// While the main thread pumps in a stop, a run-item command is held back, so the server thread
// answers it as accepted within its bounded wait; the command is carried out once the stop is over.
TEST_F(MainWndTest, ACommandThatComesDuringAStopsPumpIsAnsweredInBoundedTime) {
    ASSERT_NO_FATAL_FAILURE(StartWithTwoProfiles());
    CRunItemList& list = m_app.GetRunItemList();
    CString disableAnswer;
    CEngineCall::OUTCOME moved = CEngineCall::CALL_ANSWERED;
    StopWhile([&] {
        m_app.GetIPServer().ExecuteCommand(u"DISABLE C:\\a.fsf", disableAnswer);
        CString argument = CString(u"C:\\b.fsf") + ENGINE_ARGUMENT_SEPARATOR;
        LRESULT result = 0;
        moved = CEngineCall::Send(m_hwnd, ENGINE_CMD_MOVE_UP, argument, ENGINE_CALL_TIMEOUT_MS, result);
    });
    EXPECT_EQ(zbw::ToUtf8(disableAnswer), "200-Disabling C:\\a.fsf...");
    EXPECT_EQ(moved, CEngineCall::CALL_PENDING);
    EXPECT_EQ(zbw::ToUtf8(list.GetProfileNameList()), "C:\\a.fsf|C:\\b.fsf") << "nothing ran inside the pump";
    EXPECT_TRUE(PumpUntil([&] { return list.GetProfileNameList() == u"C:\\b.fsf|C:\\a.fsf"; }));
}

// A plain sent save that comes inside a stop's pump (the command server's start-up save while a
// load empties the list) fails and leaves the file as it was.
TEST_F(MainWndTest, APlainSaveInsideAStopsPumpWritesNothing) {
    const std::string hostFile = zbw::ToHostPath(m_app.GetFileNames().m_strXMLPath);
    ASSERT_NO_FATAL_FAILURE(StartWithTwoProfiles());
    const std::string before = ReadHostFile(hostFile);
    LRESULT saved = 1;
    StopWhile([&] {
        CString text;
        saved = SendMessageW(m_hwnd, WM_ENGINE_COMMAND, ENGINE_CMD_SAVE, reinterpret_cast<LPARAM>(&text));
    });
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(ReadHostFile(hostFile), before);
}

// A page's removal that comes while the main thread pumps in a stop is neither refused nor carried
// out inside the pump: the page takes it as under way, and the list changes once the stop is over.
TEST_F(MainWndTest, APagesRemovalDuringAStopsPumpIsCarriedOutAfterIt) {
    ASSERT_NO_FATAL_FAILURE(StartWithTwoProfiles());
    CRunItemList& list = m_app.GetRunItemList();
    CPageActions page;
    StopWhile([&] { page.Run(list, m_hwnd, "REMOVE=C%3A%5Cb.fsf"); });
    EXPECT_EQ(zbw::ToUtf8(page.context.strErrorText), "") << "not refused";
    EXPECT_EQ(zbw::ToUtf8(list.GetProfileNameList()), "C:\\a.fsf|C:\\b.fsf") << "nothing ran inside the pump";
    EXPECT_TRUE(PumpUntil([&] { return list.GetProfileNameList() == u"C:\\a.fsf"; }));
}

}  // namespace
