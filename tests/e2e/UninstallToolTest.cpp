// zbengschtask, the uninstall tool: its command line, texts and exit codes, and the removal of
// the engine's logon task and task folders through the task-scheduler library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/TaskScheduler.h"
#include "tests/e2e/ChildProcess.h"
#include "tests/support/TestRoot.h"

namespace {

const unsigned kBoundMs = 20000;
const char* const kNotFound = "0x80070002, The system cannot find the file specified.\r\n";
const char* const kNotEmpty = "0x80070091, The directory is not empty.\r\n";

struct RESULT {
    std::string output;
    int exitCode;
};

class UninstallToolTest : public ::testing::Test {
   protected:
    void SetUp() override { setenv("ZBW_USER_NAME", "tester", 1); }

    RESULT Run(const std::vector<std::string>& args) {
        std::string out = m_root.Path("out.txt");
        std::vector<std::string> shellArgs = {"-c", "exec \"$0\" \"$@\" > '" + out + "'",
                                              BinDir() + "/zbengschtask"};
        shellArgs.insert(shellArgs.end(), args.begin(), args.end());
        CChildProcess child;
        EXPECT_TRUE(child.Start("/bin/sh", shellArgs));
        int exitCode = child.WaitExit(kBoundMs);
        return {ReadHostFile(out), exitCode};
    }

    // A task of the store, registered as the engine would.
    void AddTask(LPCWSTR path) {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ITaskService* service = nullptr;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                         reinterpret_cast<void**>(&service)));
        VARIANT empty;
        VariantInit(&empty);
        service->Connect(empty, empty, empty, empty);
        ITaskFolder* root = nullptr;
        BSTR rootPath = SysAllocString(u"\\");
        BSTR taskPath = SysAllocString(path);
        ASSERT_EQ(S_OK, service->GetFolder(rootPath, &root));
        ITaskDefinition* task = nullptr;
        service->NewTask(0, &task);
        EXPECT_EQ(S_OK, root->RegisterTaskDefinition(taskPath, task, TASK_CREATE_OR_UPDATE, empty, empty,
                                                     TASK_LOGON_INTERACTIVE_TOKEN, empty, nullptr));
        task->Release();
        root->Release();
        service->Release();
        SysFreeString(taskPath);
        SysFreeString(rootPath);
        CoUninitialize();
    }

    CTestRoot m_root;
};

TEST_F(UninstallToolTest, CommandLine) {
    const std::string onlyUninstaller = "This program can only be started by the ZBEngine uninstaller.";
    struct {
        std::vector<std::string> args;
        std::string output;
    } const cases[] = {
        {{}, onlyUninstaller},
        {{"-d", "-d"}, onlyUninstaller},
        {{"d"}, "Invalid argument."},
        {{"-x"}, "Invalid argument."},
        {{"-"}, "Invalid argument."},
        {{"-a"}, ""},
        {{"/A"}, ""},
    };
    for (const auto& c : cases) {
        RESULT result = Run(c.args);
        EXPECT_EQ(c.output, result.output) << testing::PrintToString(c.args);
        EXPECT_EQ(255, result.exitCode) << testing::PrintToString(c.args);
    }
}

TEST_F(UninstallToolTest, RefusesWindowsBeforeVista) {
    setenv("ZBW_WINVER", "5.1.2600 SP3", 1);
    RESULT result = Run({"-d"});
    EXPECT_EQ("Not running on Windows Vista.", result.output);
    EXPECT_EQ(255, result.exitCode);
}

TEST_F(UninstallToolTest, DeletesTheTaskAndItsFolders) {
    AddTask(u"Quarn Software\\ZBEngine Tasks\\Start ZBEngine for tester");
    RESULT result = Run({"-D"});
    EXPECT_EQ("Task deleted.\nTask folder deleted.\nTask folder deleted.\n", result.output);
    EXPECT_EQ(0, result.exitCode);
}

TEST_F(UninstallToolTest, GoesOnWhenTheTaskIsGone) {
    RESULT result = Run({"/d"});
    EXPECT_EQ(std::string("Cannot delete task: ") + kNotFound + "\nCannot delete task folder: " + kNotFound +
                  "\nCannot delete task folder: " + kNotFound + "\n",
              result.output);
    EXPECT_EQ(255, result.exitCode);
}

TEST_F(UninstallToolTest, KeepsAFolderWithAnotherUsersTask) {
    AddTask(u"Quarn Software\\ZBEngine Tasks\\Start ZBEngine for tester");
    AddTask(u"Quarn Software\\ZBEngine Tasks\\Start ZBEngine for other");
    RESULT result = Run({"-d"});
    EXPECT_EQ(std::string("Task deleted.\nCannot delete task folder: ") + kNotEmpty +
                  "\nCannot delete task folder: " + kNotEmpty + "\n",
              result.output);
    EXPECT_EQ(255, result.exitCode);
}

TEST_F(UninstallToolTest, WithoutTheLibraryEveryStepFails) {
    AddTask(u"Quarn Software\\ZBEngine Tasks\\Start ZBEngine for tester");
    setenv("ZBW_HIDE_FUNCTIONS", "jorvell", 1);
    RESULT result = Run({"-d"});
    EXPECT_EQ("\n\n\n", result.output) << "each call gives -1 with an empty message";
    EXPECT_EQ(255, result.exitCode);
}

}  // namespace
