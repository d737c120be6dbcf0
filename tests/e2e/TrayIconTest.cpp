// ZBEngineIcon and Quenlow: the icon's state file follows the command block's heartbeat, one
// instance per session, the menu commands, the autostart value, and Quenlow ending the trays.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "platform/base/CString.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/win32/NotifyIcon.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinUser.h"
#include "tests/e2e/ChildProcess.h"
#include "tests/e2e/EngineAlive.h"
#include "tests/e2e/LogFiles.h"
#include "tests/support/TestRoot.h"

namespace {

const unsigned kBoundMs = 20000;
const UINT kIconId = 109;
const char16_t kRunKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string Program(const char* name) {
    return BinDir() + "/" + name;
}

// The program's path as the layer shows it to itself: Windows form with ".exe".
std::u16string WindowsPath(const std::string& hostPath) {
    std::string path = "C:" + hostPath + ".exe";
    for (char& ch : path)
        if (ch == '/') ch = '\\';
    return zbw::FromUtf8(path).GetStdString();
}

std::u16string ReadRunValue(bool& found) {
    HKEY key = nullptr;
    found = false;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return u"";
    char16_t value[600] = {};
    DWORD size = sizeof value - sizeof(char16_t);
    found = RegQueryValueExW(key, u"ZBEngineIcon", nullptr, nullptr, reinterpret_cast<LPBYTE>(value),
                             &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return value;
}

void WriteRunValue(const std::u16string& text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, u"ZBEngineIcon", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() * sizeof(char16_t)));
    RegCloseKey(key);
}

// The kernel's state letter of a process ("T" once a SIGSTOP has taken effect), empty when gone.
std::string ProcessState(pid_t pid) {
    const std::string stat = ReadHostFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t name = stat.rfind(')');
    return name == std::string::npos || name + 2 >= stat.size() ? "" : stat.substr(name + 2, 1);
}

// The real engine, whose server writes the heartbeat while it runs; Ctrl-C ends it.
class CRunningEngine {
   public:
    explicit CRunningEngine(const std::string& log) {
        EXPECT_TRUE(m_engine.Start(BinDir() + "/zbengine", {}));
        EXPECT_TRUE(zbtest::WaitForEngineLog(log, "IPServer started in", kBoundMs));
        EXPECT_TRUE(zbtest::WaitForEngineServing(kBoundMs));
    }
    ~CRunningEngine() {
        m_engine.Signal(SIGINT);
        EXPECT_EQ(m_engine.WaitExit(kBoundMs), 0);
    }

   private:
    CChildProcess m_engine;
};

class TrayIconTest : public ::testing::Test {
   protected:
    // Starts ZBEngineIcon with standard error into a file, and waits for its icon.
    void StartTray() {
        ASSERT_TRUE(m_tray.Start("/bin/sh", {"-c", "exec \"$0\" 2>\"$1\"", Program("ZBEngineIcon"),
                                             m_root.Path("tray-stderr.txt")}));
        ASSERT_TRUE(WaitForState("icon=130"));
    }
    std::string State() {
        return ReadHostFile(zbw::NotifyIconStatePath(static_cast<DWORD>(m_tray.Pid()), kIconId));
    }
    bool WaitForState(const std::string& needle) {
        return zbtest::WaitForText([this] { return State(); }, needle, kBoundMs);
    }
    std::string Stderr() { return ReadHostFile(m_root.Path("tray-stderr.txt")); }
    int Run(const char* program, const std::vector<std::string>& args, unsigned timeoutMs = kBoundMs) {
        CChildProcess child;
        if (!child.Start(Program(program), args)) return -2;
        return child.WaitExit(timeoutMs);
    }
    int PostToTray(const std::vector<std::string>& message) {
        std::vector<std::string> args = {"postwin", "ZBEngineIconWindowClass", "-"};
        args.insert(args.end(), message.begin(), message.end());
        return Run("zbwctl", args);
    }

    // Posts the menu command of ZBEngine Home (its program is missing, so each one served adds a
    // " not found" line) and waits until it has been served.
    bool ServeMarker() {
        const int lines = zbtest::CountOf(Stderr(), " not found\n");
        if (PostToTray({"WM_COMMAND", "32773"}) != 0) return false;
        return zbtest::WaitForText(
            [&] { return zbtest::CountOf(Stderr(), " not found\n") > lines ? "served" : ""; }, "served",
            kBoundMs);
    }

    CTestRoot m_root;
    CChildProcess m_tray;
};

TEST_F(TrayIconTest, IconFollowsTheHeartbeat) {
    StartTray();
    EXPECT_NE(State().find("tip=ZBEngine\n"), std::string::npos);
    EXPECT_NE(State().find("callback=32778\n"), std::string::npos);
    // No engine: the first poll, two seconds after start, turns the icon.
    ASSERT_TRUE(WaitForState("tip=ZBEngine not running\n"));
    EXPECT_NE(State().find("icon=131\n"), std::string::npos);
    {
        CRunningEngine engine(m_root.Path("home/.local/share/ZBEngine/ZBEngine.log"));
        ASSERT_TRUE(WaitForState("tip=ZBEngine\n"));
        EXPECT_NE(State().find("icon=130\n"), std::string::npos);
    }
    // A stopped server writes 1 into the heartbeat: not running again.
    EXPECT_TRUE(WaitForState("tip=ZBEngine not running\n"));
}

TEST_F(TrayIconTest, SecondInstanceEndsWithMinusOne) {
    StartTray();
    EXPECT_EQ(Run("ZBEngineIcon", {}), 255);
    EXPECT_FALSE(m_tray.HasExited());
}

struct MENUCASE {
    std::vector<std::string> message;
    const char* text;
};

TEST_F(TrayIconTest, MissingSiblingProgramsGiveTheNotFoundMessage) {
    const MENUCASE cases[] = {
        {{"WM_COMMAND", "32773"}, "\\zbenginehome.exe not found"},
        {{"WM_COMMAND", "32774"}, "\\zbenginesettings.exe not found"},
        // A left click runs the default item, ZBEngine Home.
        {{"32778", "109", "0x201"}, "\\zbenginehome.exe not found"},
    };
    StartTray();
    int expected = 0;
    for (const MENUCASE& item : cases) {
        SCOPED_TRACE(item.text);
        ++expected;
        ASSERT_EQ(PostToTray(item.message), 0);
        // Each command adds one line; the same text may come twice, so count the lines.
        EXPECT_TRUE(zbtest::WaitForText(
            [&] { return zbtest::CountOf(Stderr(), " not found\n") >= expected ? "done" : ""; }, "done",
            kBoundMs));
        EXPECT_NE(Stderr().find(item.text), std::string::npos);
    }
    EXPECT_EQ(zbtest::CountOf(Stderr(), " not found\n"), expected);
    // A right click shows the menu (no one chooses) and the program stays: a command posted after
    // it is still served.
    ASSERT_EQ(PostToTray({"32778", "109", "0x205"}), 0);
    ASSERT_TRUE(ServeMarker());
    EXPECT_EQ(zbtest::CountOf(Stderr(), " not found\n"), expected + 1);
    EXPECT_FALSE(m_tray.HasExited());
}

TEST_F(TrayIconTest, ShellRestartKeepsTheIcon) {
    StartTray();
    UINT taskbarCreated = RegisterWindowMessageW(u"TaskbarCreated");
    ASSERT_NE(taskbarCreated, 0u);
    const std::string before = State();
    ASSERT_EQ(Run("zbwctl", {"postwin", "TrayIconClass", "-", std::to_string(taskbarCreated)}), 0);
    // The tray's windows share one thread: once a command posted after the shell's message has
    // been served, that message has been too.
    ASSERT_TRUE(ServeMarker());
    EXPECT_EQ(State(), before);
    EXPECT_NE(State().find("icon=130\n"), std::string::npos);
    EXPECT_FALSE(m_tray.HasExited());
}

TEST_F(TrayIconTest, AutostartValueIsAddedAndHideIconRemovesIt) {
    StartTray();
    bool found = false;
    EXPECT_EQ(ReadRunValue(found), u"\"" + WindowsPath(Program("ZBEngineIcon")) + u"\"");
    EXPECT_TRUE(found);
    ASSERT_EQ(PostToTray({"WM_COMMAND", "105"}), 0);
    EXPECT_EQ(m_tray.WaitExit(kBoundMs), 0);
    ReadRunValue(found);
    EXPECT_FALSE(found);
    EXPECT_EQ(State(), "");
}

TEST_F(TrayIconTest, AutostartValueInAnotherCaseIsKept) {
    std::u16string lower = u"\"" + WindowsPath(Program("ZBEngineIcon")) + u"\"";
    for (char16_t& ch : lower)
        if (ch >= u'A' && ch <= u'Z') ch = static_cast<char16_t>(ch - u'A' + u'a');
    WriteRunValue(lower);
    StartTray();
    bool found = false;
    EXPECT_EQ(ReadRunValue(found), lower);
}

TEST_F(TrayIconTest, QuenlowEndsTheTrayAndOneFoundByTitle) {
    StartTray();
    CChildProcess byTitle;
    ASSERT_TRUE(byTitle.Start(Program("zbwctl"), {"serve", "OtherClass", "ZBEngineIconWindowTitle"}));
    ASSERT_EQ(Run("zbwctl", {"find", "-", "ZBEngineIconWindowTitle"}), 0);
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(Run("Quenlow", {}), 0);
    // About a second per window: two windows, with room for a slow machine.
    EXPECT_LT(GetTickCount64() - start, 10000u);
    EXPECT_EQ(m_tray.WaitExit(kBoundMs), 0);
    EXPECT_EQ(byTitle.WaitExit(kBoundMs), 0);
    EXPECT_EQ(State(), "");
}

TEST_F(TrayIconTest, QuenlowWithoutTrayEndsAtOnce) {
    EXPECT_EQ(Run("Quenlow", {}), 0);
}

TEST_F(TrayIconTest, QuenlowGivesUpOnAWindowThatNeverCloses) {
    CChildProcess stuck;
    ASSERT_TRUE(stuck.Start(Program("zbwctl"), {"serve", "ZBEngineIconWindowClass", "-"}));
    ASSERT_TRUE(zbtest::WaitForText(
        [this] {
            return Run("zbwctl", {"find", "ZBEngineIconWindowClass", "-"}) == 0 ? "found" : "";
        },
        "found", kBoundMs));
    ASSERT_TRUE(stuck.Signal(SIGSTOP));
    // The stop is delivered after kill returns; Quenlow must meet a window whose owner has stopped.
    ASSERT_TRUE(zbtest::WaitForText([&] { return ProcessState(stuck.Pid()); }, "T", kBoundMs));
    EXPECT_EQ(Run("Quenlow", {}, 30000), 1)
        << "window owner's state afterwards: '" << ProcessState(stuck.Pid()) << "'";
    stuck.Signal(SIGCONT);
}

}  // namespace
