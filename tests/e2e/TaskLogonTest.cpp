// tasklogon: a user's logon runs that user's enabled logon tasks, and nobody else's.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/win32/TaskScheduler.h"
#include "tests/e2e/ChildProcess.h"
#include "tests/support/TestRoot.h"

namespace {

const unsigned kBoundMs = 20000;

class TaskLogonTest : public ::testing::Test {
   protected:
    // A logon task for user that makes the marker file named.
    void AddTask(LPCWSTR path, LPCWSTR user, const std::string& marker, bool enabled = true) {
        auto data = std::make_shared<zbw::TASKDATA>();
        data->enabled = enabled;
        data->triggers.push_back({TASK_TRIGGER_LOGON, u"Trigger1", u"", user, true});
        data->actions.push_back(
            {TASK_ACTION_EXEC, u"C:\\bin\\touch", zbw::FromUtf8(m_root.Path(marker)), u""});
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ITaskFolder root({});
        ITaskDefinition* definition = new ITaskDefinition(data);
        BSTR taskPath = SysAllocString(path);
        VARIANT empty;
        VariantInit(&empty);
        EXPECT_EQ(S_OK, root.RegisterTaskDefinition(taskPath, definition, TASK_CREATE, empty, empty,
                                                    TASK_LOGON_INTERACTIVE_TOKEN, empty, nullptr));
        SysFreeString(taskPath);
        definition->Release();
        CoUninitialize();
    }
    bool Appears(const std::string& marker) {
        auto deadline = zbw::DeadlineAfter(kBoundMs);
        while (access(m_root.Path(marker).c_str(), F_OK) != 0) {
            if (zbw::RemainingUntil(deadline) == 0) return false;
            Sleep(20);
        }
        return true;
    }

    CTestRoot m_root;
};

TEST_F(TaskLogonTest, RunsTheUsersLogonTasks) {
    AddTask(u"Q\\mine", u"tester", "mine");
    AddTask(u"Q\\R\\everybody", u"", "everybody");
    AddTask(u"Q\\theirs", u"other", "theirs");
    AddTask(u"Q\\off", u"tester", "off", false);
    CChildProcess child;
    ASSERT_TRUE(child.Start(BinDir() + "/tasklogon", {"tester"}));
    EXPECT_EQ(0, child.WaitExit(kBoundMs));
    EXPECT_TRUE(Appears("mine"));
    EXPECT_TRUE(Appears("everybody"));
    EXPECT_NE(0, access(m_root.Path("theirs").c_str(), F_OK));
    EXPECT_NE(0, access(m_root.Path("off").c_str(), F_OK));
}

}  // namespace
