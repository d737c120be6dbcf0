// The task-scheduler library's exports over the emulated task scheduler; fakes a temporary emulation root.
#include <gtest/gtest.h>

#include "jorvell/Jorvell.h"
#include "platform/base/TextConvert.h"
#include "platform/win32/Accounts.h"
#include "platform/win32/LateBound.h"
#include "platform/win32/TaskScheduler.h"
#include "tests/support/TestRoot.h"

// The library links its own copy of the platform layer and binds to this program's exported
// copy (so it shares the COM apartment); the sanitizer would take the twin globals for an ODR
// violation.
extern "C" const char* __asan_default_options() {
    return "detect_odr_violation=0";
}

namespace {

const CString kNotFoundText = u"0x80070002, The system cannot find the file specified.\r\n";

// The library as a program binds it: loaded from bin/ by file, exports by name.
class JorvellTest : public ::testing::Test {
   protected:
    void SetUp() override {
        m_module = LoadLibraryW(zbw::FromUtf8(BinDir() + "/libjorvell.so"));
        ASSERT_NE(nullptr, m_module);
        Create = Bind<PFN_DLL_CreateSchedulerTask>("DLL_CreateSchedulerTask");
        Exists = Bind<PFN_DLL_SchedulerTaskExists>("DLL_SchedulerTaskExists");
        Delete = Bind<PFN_DLL_DeleteSchedulerTask>("DLL_DeleteSchedulerTask");
        Stop = Bind<PFN_DLL_StopSchedulerTask>("DLL_StopSchedulerTask");
        Enable = Bind<PFN_DLL_EnableSchedulerTask>("DLL_EnableSchedulerTask");
        Integrity = Bind<PFN_DLL_GetProcessIntegrityLevel>("DLL_GetProcessIntegrityLevel");
        ASSERT_TRUE(Create && Exists && Delete && Stop && Enable && Integrity);
    }
    void TearDown() override {
        if (m_module) FreeLibrary(m_module);
    }
    template <class F>
    F Bind(const char* name) {
        return reinterpret_cast<F>(GetProcAddress(m_module, name));
    }
    int CreateTask(LPCWSTR path) {
        HRESULT hr = E_FAIL;
        int result = Create(&hr, path, u"C:\\zb\\zbengine.exe", u"ZBEngine", m_message, 255);
        // hr is the last step's result: S_OK on success, the failing step's code otherwise.
        if (result == 0) {
            EXPECT_EQ(hr, S_OK);
        } else {
            EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
        }
        return result;
    }
    CString Message() const { return CString(m_message); }

    CTestRoot m_root;
    HMODULE m_module = nullptr;
    char16_t m_message[256] = {};
    PFN_DLL_CreateSchedulerTask Create = nullptr;
    PFN_DLL_SchedulerTaskExists Exists = nullptr;
    PFN_DLL_DeleteSchedulerTask Delete = nullptr;
    PFN_DLL_StopSchedulerTask Stop = nullptr;
    PFN_DLL_EnableSchedulerTask Enable = nullptr;
    PFN_DLL_GetProcessIntegrityLevel Integrity = nullptr;
};

// The stored definition, read the way the store keeps it.
zbw::TASKDATA Stored(LPCWSTR path) {
    std::vector<CString> names;
    zbw::SplitTaskPath(path, names);
    CString name = names.back();
    names.pop_back();
    zbw::TASKDATA data;
    EXPECT_TRUE(zbw::ReadTaskFile(zbw::TaskHostFile(zbw::TaskFolderHostPath(names), name), data));
    return data;
}

TEST_F(JorvellTest, CreatesTheLogonTaskOnce) {
    const char16_t* path = u"Quarn Software\\ZBEngine Tasks\\Start ZBEngine for me";
    ASSERT_EQ(5, Exists(path, m_message, 255));
    EXPECT_EQ(u"Task does not exist: " + kNotFoundText, Message());
    ASSERT_EQ(0, CreateTask(path));
    ASSERT_EQ(0, CreateTask(path)) << "the old task is deleted first";
    EXPECT_EQ(0, Exists(path, m_message, 255));
    zbw::TASKDATA task = Stored(path);
    char16_t user[513] = {};
    DWORD size = 513;
    ASSERT_TRUE(GetUserNameW(user, &size));
    ASSERT_EQ(1u, task.triggers.size());
    ASSERT_EQ(1u, task.actions.size());
    EXPECT_EQ(TASK_TRIGGER_LOGON, task.triggers[0].type);
    EXPECT_EQ(CString(u"Trigger1"), task.triggers[0].id);
    EXPECT_EQ(CString(u"2004-01-01T12:05:00"), task.triggers[0].startBoundary);
    EXPECT_EQ(CString(user), task.triggers[0].userId);
    EXPECT_EQ(CString(u"C:\\zb\\zbengine.exe"), task.actions[0].path);
    EXPECT_EQ(CString(u"ZBEngine"), task.author);
    EXPECT_EQ(TASK_RUNLEVEL_HIGHEST, task.runLevel);
    EXPECT_TRUE(task.startWhenAvailable);
    EXPECT_FALSE(task.disallowStartIfOnBatteries);
    EXPECT_FALSE(task.allowHardTerminate);
    EXPECT_EQ(CString(u"PT0S"), task.executionTimeLimit);
}

TEST_F(JorvellTest, DeletesTasksAndFolders) {
    ASSERT_EQ(0, CreateTask(u"Q\\T\\one"));
    ASSERT_EQ(0, CreateTask(u"Q\\T\\two"));
    struct {
        const char16_t* path;
        BOOL isFolder;
        BOOL tasksFirst;
        int result;
        const char16_t* message;
    } const steps[] = {
        {u"Q\\T\\one", 0x100, FALSE, 0, u""},  // only the low byte of a flag counts
        {u"Q\\T\\one", FALSE, FALSE, 6,
         u"Cannot delete task: 0x80070002, The system cannot find the file specified.\r\n"},
        {u"\\Q\\T", TRUE, FALSE, 6,
         u"Cannot delete task folder: 0x80070091, The directory is not empty.\r\n"},
        {u"\\Q", TRUE, FALSE, 6, u"Cannot delete task folder: 0x80070091, The directory is not empty.\r\n"},
        {u"\\Q\\T", TRUE, TRUE, 0, u""},
        {u"\\Q", TRUE, FALSE, 0, u""},
        {u"\\Q", TRUE, FALSE, 6,
         u"Cannot delete task folder: 0x80070002, The system cannot find the file specified.\r\n"},
    };
    for (const auto& s : steps) {
        m_message[0] = 0;
        EXPECT_EQ(s.result, Delete(s.path, s.isFolder, s.tasksFirst, m_message, 255)) << zbw::ToUtf8(s.path);
        EXPECT_EQ(CString(s.message), Message()) << zbw::ToUtf8(s.path);
    }
}

TEST_F(JorvellTest, CutsTheMessageToTheBuffer) {
    char16_t small[12];
    std::fill(std::begin(small), std::end(small), u'#');
    EXPECT_EQ(5, Exists(u"none", small, 10));
    EXPECT_EQ(CString(u"Task does"), CString(small));
    EXPECT_EQ(u'#', small[10]) << "nothing beyond the buffer's length";
    EXPECT_EQ(5, Exists(u"none", nullptr, 0));
}

TEST_F(JorvellTest, ReadsAndSetsTheEnabledFlag) {
    ASSERT_EQ(0, CreateTask(u"E\\t"));
    int enabled = 0;
    EXPECT_EQ(0, Enable(u"E\\t", &enabled, FALSE, m_message, 255));
    EXPECT_NE(0, enabled);
    enabled = 0;
    EXPECT_EQ(0, Enable(u"E\\t", &enabled, TRUE, m_message, 255));
    enabled = 1;
    EXPECT_EQ(0, Enable(u"E\\t", &enabled, FALSE, m_message, 255));
    EXPECT_EQ(0, enabled);
    EXPECT_FALSE(Stored(u"E\\t").enabled);
    EXPECT_EQ(5, Enable(u"E\\none", &enabled, FALSE, m_message, 255));
    EXPECT_EQ(u"Task does not exist: " + kNotFoundText, Message());
}

TEST_F(JorvellTest, StopNeedsTheCallersApartment) {
    ASSERT_EQ(0, CreateTask(u"S\\t"));
    EXPECT_EQ(1, Stop(u"S\\t", m_message, 255));
    EXPECT_EQ(CString(u"Failed to create an instance of ITaskService: 0x800401f0, CoInitialize has not been "
                      u"called.\r\n"),
              Message());
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    EXPECT_EQ(0, Stop(u"S\\t", m_message, 255));
    EXPECT_EQ(5, Stop(u"S\\none", m_message, 255));
    EXPECT_EQ(u"Task S\\none does not exist: " + kNotFoundText, Message());
    CoUninitialize();
}

TEST_F(JorvellTest, RefusesAnApartmentWithItsSecuritySet) {
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    ASSERT_EQ(S_OK, CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                         RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr));
    EXPECT_EQ(1, Exists(u"any", m_message, 255));
    EXPECT_EQ(0, Message().Find(u"CoInitializeSecurity failed: 0x80010119, ")) << zbw::ToUtf8(Message());
    HRESULT hr = S_OK;
    EXPECT_EQ(1, Create(&hr, u"any", u"C:\\p.exe", u"ZBEngine", m_message, 255));
    EXPECT_EQ(RPC_E_TOO_LATE, hr) << "the step's result reaches the caller";
    CoUninitialize();
    EXPECT_EQ(5, Exists(u"any", m_message, 255)) << "a call of its own starts afresh";
}

TEST_F(JorvellTest, ReportsTheIntegrityLevel) {
    EXPECT_EQ(zbw::CurrentIntegrityLevel(), Integrity());
    struct {
        DWORD rid;
        int level;
    } const cases[] = {{0x0000, 1}, {0x1000, 1}, {0x1FFF, 1}, {0x2000, 2}, {0x2FFF, 2},
                       {0x3000, 3}, {0x3FFF, 3}, {0x4000, 4}, {0x5000, 4}};
    for (const auto& c : cases) EXPECT_EQ(c.level, IntegrityLevelFromRid(c.rid)) << c.rid;
}

}  // namespace
