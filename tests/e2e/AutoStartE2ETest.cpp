// zbengine's autostart as a whole program: the Run value before Vista and the logon task on Vista
// and later, added at the start outside the service, removed by the shutdown command or by the
// uninstall tool, kept by other endings, and a start without the task-scheduler library.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/host/TaskStore.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinUser.h"
#include "tests/e2e/ChildProcess.h"
#include "tests/e2e/LogFiles.h"
#include "tests/support/TestRoot.h"

namespace {

const unsigned kBoundMs = 20000;
const UINT kEngineCommand = WM_USER + 100;
const WPARAM kShutdownCommand = 1;
const char kXP[] = "5.1.2600 SP3";

std::optional<std::string> RunValue() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    WCHAR data[1024] = {};
    DWORD size = sizeof(data) - sizeof(WCHAR);
    LONG result = RegQueryValueExW(key, u"ZBEngine", nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return std::nullopt;
    return zbw::ToUtf8(data);
}

class AutoStartE2ETest : public ::testing::Test {
   protected:
    void SetUp() override { setenv("ZBW_USER_NAME", "tester", 1); }

    std::string TaskFile() const {
        return zbw::TaskHostFile(zbw::TaskFolderHostPath({u"Quarn Software", u"ZBEngine Tasks"}),
                                 u"Start ZBEngine for tester");
    }
    bool CompanyFolderExists() const {
        return std::filesystem::exists(zbw::TaskFolderHostPath({u"Quarn Software"}));
    }

    // Starts the engine and waits until its start-up has been logged (one more "DB File: ").
    void StartEngine(const std::vector<std::string>& args = {}) {
        int starts = zbtest::CountOf(Text(), "DB File: ");
        ASSERT_TRUE(m_engine.Start(BinDir() + "/zbengine", args));
        ASSERT_TRUE(zbtest::WaitForText([&] { return std::to_string(zbtest::CountOf(Text(), "DB File: ")); },
                                        std::to_string(starts + 1), kBoundMs))
            << Text();
    }

    HWND EngineWindow() {
        int64_t deadline = zbw::DeadlineAfter(kBoundMs);
        while (zbw::RemainingUntil(deadline) > 0) {
            HWND hwnd = FindWindowW(nullptr, u"zbengine");
            if (hwnd && zbw::ProcessOfWindow(hwnd) == static_cast<DWORD>(m_engine.Pid())) return hwnd;
            Sleep(20);
        }
        return nullptr;
    }

    void ShutDownByCommand() {
        HWND hwnd = EngineWindow();
        ASSERT_NE(hwnd, nullptr);
        ASSERT_TRUE(PostMessageW(hwnd, kEngineCommand, kShutdownCommand, 0));
        ASSERT_EQ(m_engine.WaitExit(kBoundMs), 0);
    }

    void Interrupt() {
        ASSERT_TRUE(m_engine.Signal(SIGINT));
        ASSERT_EQ(m_engine.WaitExit(kBoundMs), 0);
    }

    std::vector<std::string> Messages() const { return zbtest::EngineMessages(m_log); }
    std::string LogLine() const { return "Log File: " + zbw::ToUtf8(zbw::ToWindowsPath(m_log)); }
    std::string Text() const { return zbtest::ReadUtf16Log(m_log); }

    CTestRoot m_root;
    std::string m_log = m_root.Path("home/.local/share/ZBEngine/ZBEngine.log");
    CChildProcess m_engine;
};

TEST_F(AutoStartE2ETest, BeforeVistaTheRunValueComesWithTheStartAndGoesWithTheShutdownCommand) {
    setenv("ZBW_WINVER", kXP, 1);
    StartEngine();
    std::optional<std::string> value = RunValue();
    ASSERT_TRUE(value);
    EXPECT_EQ(value->front(), '"');
    EXPECT_EQ(value->substr(value->size() - 13), "zbengine.exe\"") << *value;
    EXPECT_FALSE(std::filesystem::exists(TaskFile()));
    Interrupt();
    EXPECT_EQ(RunValue(), value) << "only the shutdown command removes it";

    StartEngine();
    ShutDownByCommand();
    EXPECT_FALSE(RunValue());
    EXPECT_EQ(Text().find("local registry startup list"), std::string::npos) << Text();
}

TEST_F(AutoStartE2ETest, OnVistaTheLogonTaskComesWithTheStartAndGoesWithTheShutdownCommand) {
    StartEngine();
    EXPECT_TRUE(zbtest::InOrder(
        Messages(), {"Not running as a Windows Service", "ZBEngine Scheduler Task does not exist.",
                     "ZBEngine Scheduler Task added.", LogLine()}))
        << Text();
    zbw::TASKDATA task;
    ASSERT_TRUE(zbw::ReadTaskFile(TaskFile(), task));
    EXPECT_EQ(task.author, CString(u"ZBEngine"));
    ASSERT_EQ(task.actions.size(), 1u);
    EXPECT_EQ(zbw::ToUtf8(task.actions[0].path).substr(task.actions[0].path.GetLength() - 12),
              "zbengine.exe");
    EXPECT_FALSE(RunValue());
    Interrupt();
    EXPECT_TRUE(std::filesystem::exists(TaskFile())) << "an interrupt keeps the task";

    StartEngine();
    ShutDownByCommand();
    EXPECT_TRUE(zbtest::InOrder(
        Messages(),
        {"ZBEngine Scheduler Task added.", "ZBEngine Scheduler Task exists.", LogLine(),
         "ZBEngine Scheduler Task exists.", "Task deleted.", "Task folder deleted.", "Task folder deleted.",
         "ZBEngine shutdown command received", "**** Exiting ZBEngine ****"}))
        << Text();
    EXPECT_FALSE(std::filesystem::exists(TaskFile()));
    EXPECT_FALSE(CompanyFolderExists());
}

TEST_F(AutoStartE2ETest, TheUninstallToolRemovesTheTaskTheEngineMade) {
    StartEngine();
    Interrupt();
    ASSERT_TRUE(std::filesystem::exists(TaskFile()));
    const std::string out = m_root.Path("uninstall.txt");
    CChildProcess tool;
    ASSERT_TRUE(tool.Start("/bin/sh", {"-c", "exec \"$0\" -d > \"$1\"", BinDir() + "/zbengschtask", out}));
    EXPECT_EQ(tool.WaitExit(kBoundMs), 0);
    EXPECT_EQ(ReadHostFile(out), "Task deleted.\nTask folder deleted.\nTask folder deleted.\n");
    EXPECT_FALSE(std::filesystem::exists(TaskFile()));
    EXPECT_FALSE(CompanyFolderExists());
}

TEST_F(AutoStartE2ETest, WithoutTheLibraryTheStartWarnsAndGoesOn) {
    setenv("ZBW_HIDE_FUNCTIONS", "jorvell", 1);
    StartEngine();
    ShutDownByCommand();
    EXPECT_TRUE(zbtest::InOrder(
        Messages(), {"Not running as a Windows Service", "Warning: jorvell.dll not found", LogLine(),
                     "Warning: jorvell.dll not found", "ZBEngine shutdown command received"}))
        << Text();
    EXPECT_FALSE(CompanyFolderExists());
    EXPECT_FALSE(RunValue());
}

class AutoStartServiceE2ETest : public AutoStartE2ETest, public ::testing::WithParamInterface<const char*> {};

TEST_P(AutoStartServiceE2ETest, StartedAsAServiceNothingIsRegisteredOrRemoved) {
    if (GetParam()) setenv("ZBW_WINVER", GetParam(), 1);
    StartEngine({"/serv"});
    ShutDownByCommand();
    EXPECT_FALSE(RunValue());
    EXPECT_FALSE(CompanyFolderExists());
    EXPECT_EQ(Text().find("Scheduler Task"), std::string::npos) << Text();
}

INSTANTIATE_TEST_SUITE_P(Versions, AutoStartServiceE2ETest, ::testing::Values(kXP, nullptr),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param ? "XP" : "Vista");
                         });

}  // namespace
