// The engine's autostart: the Run value before Vista, the per-user logon task through the
// task-scheduler library on Vista and later, the library's absence, and the binding itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/DebugPrintf.h"
#include "dovrane/AutoStart.h"
#include "dovrane/EngineGlobals.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/host/TaskStore.h"
#include "platform/win32/Registry.h"
#include "platform/win32/TaskScheduler.h"
#include "tests/support/TestRoot.h"

namespace {

const char16_t kRunKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kXP[] = "5.1.2600 SP3";
const char16_t kFolder[] = u"\\Quarn Software\\ZBEngine Tasks";
const char16_t kCompany[] = u"\\Quarn Software";

CString QuotedProgramPath() {
    WCHAR path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return u"\"" + CString(path) + u"\"";
}

bool WriteRunValue(LPCWSTR name, const CString& text) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    DWORD bytes = static_cast<DWORD>((text.GetLength() + 1) * sizeof(WCHAR));
    bool ok = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(LPCWSTR(text)), bytes) ==
              ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

// The value's text, or nothing when it is missing; type and size are checked on the way.
std::optional<CString> ReadRunValue(LPCWSTR name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::nullopt;
    WCHAR data[1024] = {};
    DWORD type = 0;
    DWORD size = sizeof(data) - sizeof(WCHAR);
    LONG result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(data), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return std::nullopt;
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, (CString(data).GetLength() + 1) * sizeof(WCHAR)) << "the terminating zero is stored";
    return CString(data);
}

std::string TaskFile(const std::vector<CString>& folder, LPCWSTR name) {
    return zbw::TaskHostFile(zbw::TaskFolderHostPath(folder), name);
}

std::string EngineTaskFile() {
    return TaskFile({u"Quarn Software", u"ZBEngine Tasks"}, u"Start ZBEngine for tester");
}

bool HostPathExists(const std::string& path) {
    return std::filesystem::exists(path);
}

class AutoStartTest : public ::testing::Test {
   protected:
    void SetUp() override { setenv("ZBW_USER_NAME", "tester", 1); }

    // The binding follows the environment of now, as at a fresh start of the engine.
    void TearDown() override {
        unsetenv("ZBW_HIDE_FUNCTIONS");
        unsetenv("ZBW_WINVER");
        g_SchedulerTaskLib.Load();
    }

    void UseWindows(const char* version) {
        if (version) {
            setenv("ZBW_WINVER", version, 1);
        } else {
            unsetenv("ZBW_WINVER");  // the default: Vista
        }
        g_SchedulerTaskLib.Load();
    }

    // The messages the autostart logs while body runs, one per line.
    std::vector<std::string> Logged(const std::function<void()>& body) {
        g_DebugPrintf.m_bConsoleEcho = true;
        g_DebugPrintf.m_bEchoAnsi = true;
        ::testing::internal::CaptureStdout();
        body();
        std::string out = ::testing::internal::GetCapturedStdout();
        g_DebugPrintf.m_bConsoleEcho = false;
        g_DebugPrintf.m_bEchoAnsi = false;
        std::vector<std::string> lines;
        // The library's messages end with the system text's own CR LF: no empty lines kept.
        for (size_t start = 0, end; (end = out.find("\r\n", start)) != std::string::npos; start = end + 2) {
            if (end > start) lines.push_back(out.substr(start, end - start));
        }
        return lines;
    }

    // A task of another user in the engine's folder, so the folders cannot go.
    void AddForeignTask() {
        zbw::TASKDATA data;
        data.author = u"other";
        std::string folder = zbw::TaskFolderHostPath({u"Quarn Software", u"ZBEngine Tasks"});
        std::filesystem::create_directories(folder);
        ASSERT_TRUE(zbw::WriteTaskFile(zbw::TaskHostFile(folder, u"Start ZBEngine for someone"), data));
    }

    CTestRoot m_root;
};

TEST_F(AutoStartTest, BeforeVistaTheStartWritesTheQuotedProgramPathAndTheShutdownRemovesIt) {
    UseWindows(kXP);
    ASSERT_TRUE(WriteRunValue(u"Other", u"\"C:\\other.exe\""));
    std::vector<std::string> lines = Logged([] { EXPECT_TRUE(SetAutoStart(false)); });
    EXPECT_TRUE(lines.empty()) << lines.front();
    EXPECT_EQ(ReadRunValue(u"ZBEngine"), QuotedProgramPath());

    lines = Logged([] { EXPECT_TRUE(SetAutoStart(true)); });
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(ReadRunValue(u"ZBEngine"));
    EXPECT_EQ(ReadRunValue(u"Other"), CString(u"\"C:\\other.exe\"")) << "only the engine's value goes";
    EXPECT_FALSE(HostPathExists(EngineTaskFile())) << "no task before Vista";
}

TEST_F(AutoStartTest, BeforeVistaAValueDifferingOnlyInCaseIsLeftAndAnotherPathIsReplaced) {
    UseWindows(kXP);
    CString upper = QuotedProgramPath();
    upper.MakeUpper();
    ASSERT_TRUE(WriteRunValue(u"ZBEngine", upper));
    EXPECT_TRUE(SetAutoStart(false));
    EXPECT_EQ(ReadRunValue(u"ZBEngine"), upper);

    ASSERT_TRUE(WriteRunValue(u"ZBEngine", u"\"C:\\old\\zbengine.exe\""));
    EXPECT_TRUE(SetAutoStart(false));
    EXPECT_EQ(ReadRunValue(u"ZBEngine"), QuotedProgramPath());
}

TEST_F(AutoStartTest, BeforeVistaRemovingWithoutTheValueLogsNothing) {
    UseWindows(kXP);
    std::vector<std::string> lines = Logged([] { EXPECT_TRUE(SetAutoStart(true)); });
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(ReadRunValue(u"ZBEngine"));
}

TEST_F(AutoStartTest, OnVistaTheStartAddsTheLogonTaskOnce) {
    UseWindows(nullptr);
    ASSERT_TRUE(g_SchedulerTaskLib.IsLoaded());
    std::vector<std::string> lines = Logged([] { EXPECT_TRUE(SetAutoStart(false)); });
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find(" Process Integrity Level"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], "ZBEngine Scheduler Task does not exist.");
    EXPECT_EQ(lines[2], "ZBEngine Scheduler Task added.");

    zbw::TASKDATA task;
    ASSERT_TRUE(zbw::ReadTaskFile(EngineTaskFile(), task));
    EXPECT_EQ(task.author, CString(u"ZBEngine"));
    EXPECT_EQ(task.runLevel, TASK_RUNLEVEL_HIGHEST);
    ASSERT_EQ(task.triggers.size(), 1u);
    EXPECT_EQ(task.triggers[0].type, TASK_TRIGGER_LOGON);
    EXPECT_EQ(task.triggers[0].userId, CString(u"tester"));
    ASSERT_EQ(task.actions.size(), 1u);
    CString program = QuotedProgramPath().Mid(1);
    EXPECT_EQ(task.actions[0].path, program.Left(program.GetLength() - 1));
    EXPECT_FALSE(ReadRunValue(u"ZBEngine")) << "no Run value on Vista";

    lines = Logged([] { EXPECT_TRUE(SetAutoStart(false)); });
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "ZBEngine Scheduler Task exists.");
}

TEST_F(AutoStartTest, OnVistaTheShutdownRemovesTheTaskAndBothFolders) {
    UseWindows(nullptr);
    ASSERT_TRUE(SetAutoStart(false));
    ASSERT_TRUE(HostPathExists(EngineTaskFile()));
    std::vector<std::string> lines = Logged([] { EXPECT_TRUE(SetAutoStart(true)); });
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "ZBEngine Scheduler Task exists.");
    EXPECT_EQ(lines[2], "Task deleted.");
    EXPECT_EQ(lines[3], "Task folder deleted.");
    EXPECT_EQ(lines[4], "Task folder deleted.");
    EXPECT_FALSE(HostPathExists(zbw::TaskFolderHostPath({u"Quarn Software"})));

    lines = Logged([] { EXPECT_TRUE(SetAutoStart(true)); });
    EXPECT_EQ(lines.size(), 1u) << "only the integrity level: there was nothing to remove";
}

TEST_F(AutoStartTest, OnVistaAFolderHoldingAnotherTaskStaysAndItsMessageIsLogged) {
    UseWindows(nullptr);
    ASSERT_TRUE(SetAutoStart(false));
    AddForeignTask();
    std::vector<std::string> lines = Logged([] { EXPECT_TRUE(SetAutoStart(true)); });
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "Task deleted.");
    EXPECT_EQ(lines[3], "Cannot delete task folder: 0x80070091, The directory is not empty.");
    EXPECT_EQ(lines[4], "Cannot delete task folder: 0x80070091, The directory is not empty.");
    EXPECT_FALSE(HostPathExists(EngineTaskFile()));
    EXPECT_TRUE(
        HostPathExists(TaskFile({u"Quarn Software", u"ZBEngine Tasks"}, u"Start ZBEngine for someone")));
}

// A task that cannot be deleted is a failed removal, whatever the folders give.
TEST_F(AutoStartTest, OnVistaATaskThatCannotBeDeletedFailsTheRemoval) {
    UseWindows(nullptr);
    ASSERT_TRUE(SetAutoStart(false));
    setenv("ZBW_HIDE_FUNCTIONS", "jorvell!DLL_DeleteSchedulerTask", 1);
    g_SchedulerTaskLib.Load();
    bool removed = true;
    std::vector<std::string> lines = Logged([&] { removed = SetAutoStart(true); });
    EXPECT_FALSE(removed);
    for (const std::string& line : lines) EXPECT_NE(line, "Task deleted.") << line;
    EXPECT_TRUE(HostPathExists(EngineTaskFile()));
}

TEST_F(AutoStartTest, WithoutTheLibraryBothWaysWarnAndTouchNothing) {
    setenv("ZBW_HIDE_FUNCTIONS", "jorvell", 1);
    UseWindows(nullptr);
    EXPECT_TRUE(g_SchedulerTaskLib.IsVistaOrLater());
    EXPECT_FALSE(g_SchedulerTaskLib.IsLoaded());
    for (bool remove : {false, true}) {
        std::vector<std::string> lines = Logged([remove] { EXPECT_FALSE(SetAutoStart(remove)); });
        EXPECT_EQ(lines, std::vector<std::string>{"Warning: jorvell.dll not found"}) << remove;
    }
    EXPECT_FALSE(HostPathExists(EngineTaskFile()));
    EXPECT_FALSE(ReadRunValue(u"ZBEngine"));
}

TEST_F(AutoStartTest, EveryWrapperAnswersMinusOneWhenNothingIsBound) {
    for (const char* version : {kXP, static_cast<const char*>(nullptr)}) {
        if (!version)
            setenv("ZBW_HIDE_FUNCTIONS",
                   "jorvell!DLL_SchedulerTaskExists,jorvell!DLL_DeleteSchedulerTask,"
                   "jorvell!DLL_CreateSchedulerTask,"
                   "jorvell!DLL_GetProcessIntegrityLevel",
                   1);
        UseWindows(version);
        EXPECT_EQ(g_SchedulerTaskLib.IsLoaded(), version == nullptr);
        char16_t message[CSchedulerTaskLib::kMessageLength] = {};
        HRESULT hr = S_OK;
        CString text;
        EXPECT_EQ(g_SchedulerTaskLib.CreateEngineSchedulerTask(message, &hr, u"C:\\zbengine.exe"), -1);
        EXPECT_EQ(g_SchedulerTaskLib.EngineSchedulerTaskExists(message), -1);
        EXPECT_EQ(g_SchedulerTaskLib.DeleteEngineSchedulerTask(message), -1);
        EXPECT_EQ(g_SchedulerTaskLib.DeleteSchedulerTaskFolder(message, TRUE, kFolder), -1);
        EXPECT_EQ(g_SchedulerTaskLib.DeleteSchedulerTaskFolder(message, TRUE, kCompany), -1);
        EXPECT_EQ(g_SchedulerTaskLib.GetProcessIntegrityLevelText(text), -1);
        EXPECT_EQ(message[0], 0);
        EXPECT_TRUE(text.IsEmpty());
    }
}

TEST_F(AutoStartTest, TheTaskPathNamesTheCurrentUser) {
    EXPECT_EQ(CSchedulerTaskLib::EngineTaskPath(),
              CString(u"Quarn Software\\ZBEngine Tasks\\Start ZBEngine for tester"));
    EXPECT_EQ(CString(CSchedulerTaskLib::kTaskFolder), CString(kFolder));
    EXPECT_EQ(CString(CSchedulerTaskLib::kCompanyFolder), CString(kCompany));
}

}  // namespace
