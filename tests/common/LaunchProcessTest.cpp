// LaunchProcess with real child programs: which handles the caller gets; fakes a temporary emulation root.
#include <gtest/gtest.h>

#include "common/LaunchProcess.h"
#include "platform/base/WinError.h"
#include "platform/host/KernelObject.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Wait.h"
#include "tests/support/TestRoot.h"

namespace {

const DWORD kWaitMs = 10000;

DWORD ExitCodeOf(HANDLE process) {
    EXPECT_EQ(WaitForSingleObject(process, kWaitMs), WAIT_OBJECT_0);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    return code;
}

class LaunchProcessTest : public ::testing::Test {
   protected:
    CTestRoot m_root;
};

TEST_F(LaunchProcessTest, WithoutARecordOnlyTheProcessHandleIsHandedOut) {
    DWORD threadId = 0;
    HANDLE process = LaunchProcess(nullptr, u"/bin/sh -c \"exit 3\"", &threadId, nullptr);
    ASSERT_NE(process, nullptr);
    EXPECT_NE(threadId, 0u);
    EXPECT_EQ(ExitCodeOf(process), 3u);
    EXPECT_TRUE(CloseHandle(process));
}

TEST_F(LaunchProcessTest, WithARecordTheCallerOwnsBothHandles) {
    PROCESS_INFORMATION info{};
    DWORD threadId = 0;
    HANDLE process = LaunchProcess(u"/bin/sh", u"sh -c \"exit 4\"", &threadId, &info);
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(process, info.hProcess);
    EXPECT_EQ(threadId, info.dwThreadId);
    EXPECT_EQ(ExitCodeOf(process), 4u);
    EXPECT_EQ(WaitForSingleObject(info.hThread, kWaitMs), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(info.hThread));
    EXPECT_TRUE(CloseHandle(info.hProcess));
}

TEST_F(LaunchProcessTest, MissingProgramGivesNullAndNoThread) {
    DWORD threadId = 99;
    PROCESS_INFORMATION info{};
    CString line = u"\"" + zbw::ToWindowsPath(m_root.Path("missing.exe")) + u"\" x";
    EXPECT_EQ(LaunchProcess(nullptr, line, &threadId, &info), nullptr);
    EXPECT_EQ(threadId, 0u);
    EXPECT_EQ(info.hProcess, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
