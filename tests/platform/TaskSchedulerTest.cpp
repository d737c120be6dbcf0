// The emulated task scheduler's interfaces: apartments, tasks, folders; fakes a temporary emulation root.
#include <gtest/gtest.h>

#include "platform/base/Clock.h"
#include "platform/win32/TaskScheduler.h"
#include "tests/support/TestRoot.h"

namespace {

// Holds a BSTR for one assertion.
struct CText {
    BSTR text = nullptr;
    ~CText() { SysFreeString(text); }
    CString Get() const { return CString(text ? text : u""); }
};

VARIANT Empty() {
    VARIANT v;
    VariantInit(&v);
    return v;
}

TEST(ComApiTest, ApartmentsAndSecurityFollowWindows) {
    EXPECT_EQ(CO_E_NOTINITIALIZED,
              CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 6, 3, nullptr, 0, nullptr));
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    EXPECT_EQ(RPC_E_CHANGED_MODE, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    EXPECT_EQ(S_OK, CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 6, 3, nullptr, 0, nullptr));
    EXPECT_EQ(RPC_E_TOO_LATE, CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 6, 3, nullptr, 0, nullptr));
    CoUninitialize();
    EXPECT_EQ(RPC_E_TOO_LATE, CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 6, 3, nullptr, 0, nullptr))
        << "one apartment is still open";
    CoUninitialize();
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    EXPECT_EQ(S_OK, CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 6, 3, nullptr, 0, nullptr))
        << "a full shutdown forgets the security";
    CoUninitialize();
}

TEST(ComApiTest, CreatesOnlyTheTaskServiceInAnApartment) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CO_E_NOTINITIALIZED, CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                                    IID_ITaskService, &object));
    EXPECT_EQ(nullptr, object);
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(IID_IExecAction, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService, &object));
    EXPECT_EQ(E_NOINTERFACE,
              CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_IExecAction, &object));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                     &object));
    static_cast<ITaskService*>(object)->Release();
    CoUninitialize();
}

TEST(ComApiTest, StringsKeepTheirLength) {
    BSTR text = SysAllocString(u"Trigger1");
    EXPECT_EQ(8u, SysStringLen(text));
    EXPECT_EQ(CString(u"Trigger1"), CString(text));
    SysFreeString(text);
    EXPECT_EQ(nullptr, SysAllocString(nullptr));
    EXPECT_EQ(0u, SysStringLen(nullptr));
}

TEST(TaskStoreTest, KeepsEveryCharacterOfItsTexts) {
    CTestRoot root;
    const CString texts[] = {u"",
                             u"plain",
                             u"tab\there",
                             u"line\nbreak",
                             u"back\\slash\\t",
                             u"equals=in\\\tall",
                             u"\u00e9t\u00e9 \u20ac"};
    for (const CString& text : texts) {
        zbw::TASKDATA data;
        data.author = text;
        data.triggers.push_back({TASK_TRIGGER_LOGON, text, text, text, false});
        data.actions.push_back({TASK_ACTION_EXEC, text, u"-x", text});
        std::string file = root.Path("t.task");
        ASSERT_TRUE(zbw::WriteTaskFile(file, data));
        zbw::TASKDATA back;
        ASSERT_TRUE(zbw::ReadTaskFile(file, back));
        EXPECT_EQ(text, back.author);
        ASSERT_EQ(1u, back.triggers.size());
        EXPECT_EQ(text, back.triggers[0].id);
        EXPECT_EQ(text, back.triggers[0].userId);
        EXPECT_FALSE(back.triggers[0].enabled);
        ASSERT_EQ(1u, back.actions.size());
        EXPECT_EQ(text, back.actions[0].path);
        EXPECT_EQ(CString(u"-x"), back.actions[0].arguments);
        EXPECT_EQ(text, back.actions[0].workingDirectory);
    }
}

class TaskSchedulerTest : public ::testing::Test {
   protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                         reinterpret_cast<void**>(&m_service)));
        EXPECT_EQ(SCHED_E_SERVICE_NOT_CONNECTED, m_service->GetFolder(Bstr(u"\\"), &m_root));
        ASSERT_EQ(S_OK, m_service->Connect(Empty(), Empty(), Empty(), Empty()));
        ASSERT_EQ(S_OK, m_service->GetFolder(Bstr(u"\\"), &m_root));
    }
    void TearDown() override {
        for (BSTR text : m_texts) SysFreeString(text);
        if (m_root) m_root->Release();
        if (m_service) m_service->Release();
        CoUninitialize();
    }
    BSTR Bstr(LPCWSTR text) {
        m_texts.push_back(SysAllocString(text));
        return m_texts.back();
    }
    // A logon task for "someone" running program with arguments.
    HRESULT Register(LPCWSTR path, LPCWSTR program, LPCWSTR arguments, LONG flags = TASK_CREATE_OR_UPDATE) {
        ITaskDefinition* task = nullptr;
        EXPECT_EQ(S_OK, m_service->NewTask(0, &task));
        IRegistrationInfo* info = nullptr;
        task->get_RegistrationInfo(&info);
        info->put_Author(Bstr(u"ZBEngine"));
        info->Release();
        ITriggerCollection* triggers = nullptr;
        task->get_Triggers(&triggers);
        ITrigger* trigger = nullptr;
        EXPECT_EQ(E_NOTIMPL, triggers->Create(TASK_TRIGGER_TIME, &trigger));
        EXPECT_EQ(S_OK, triggers->Create(TASK_TRIGGER_LOGON, &trigger));
        ILogonTrigger* logon = nullptr;
        EXPECT_EQ(S_OK, trigger->QueryInterface(IID_ILogonTrigger, reinterpret_cast<void**>(&logon)));
        logon->put_Id(Bstr(u"Trigger1"));
        logon->put_UserId(Bstr(u"someone"));
        logon->Release();
        trigger->Release();
        triggers->Release();
        IActionCollection* actions = nullptr;
        task->get_Actions(&actions);
        IAction* action = nullptr;
        actions->Create(TASK_ACTION_EXEC, &action);
        IExecAction* exec = nullptr;
        EXPECT_EQ(S_OK, action->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(&exec)));
        exec->put_Path(Bstr(program));
        exec->put_Arguments(Bstr(arguments));
        exec->Release();
        action->Release();
        actions->Release();
        HRESULT hr = m_root->RegisterTaskDefinition(Bstr(path), task, flags, Empty(), Empty(),
                                                    TASK_LOGON_INTERACTIVE_TOKEN, Empty(), nullptr);
        task->Release();
        return hr;
    }
    IRegisteredTask* Task(LPCWSTR path) {
        IRegisteredTask* task = nullptr;
        EXPECT_EQ(S_OK, m_root->GetTask(Bstr(path), &task));
        return task;
    }
    TASK_STATE State(IRegisteredTask* task) {
        TASK_STATE state = TASK_STATE_UNKNOWN;
        EXPECT_EQ(S_OK, task->get_State(&state));
        return state;
    }
    // Polls the state until it is the one wanted or 5 s have passed.
    bool ReachesState(IRegisteredTask* task, TASK_STATE wanted) {
        auto deadline = zbw::DeadlineAfter(5000);
        while (State(task) != wanted) {
            if (zbw::RemainingUntil(deadline) == 0) return false;
            Sleep(20);
        }
        return true;
    }

    CTestRoot m_root_dir;
    ITaskService* m_service = nullptr;
    ITaskFolder* m_root = nullptr;
    std::vector<BSTR> m_texts;
};

TEST_F(TaskSchedulerTest, RegistersALogonTaskInFoldersItMakes) {
    ASSERT_EQ(S_OK, Register(u"Quarn Software\\ZBEngine Tasks\\Start ZBEngine for someone",
                             u"C:\\zb\\zbengine.exe", u""));
    IRegisteredTask* task = Task(u"\\Quarn Software\\ZBEngine Tasks\\Start ZBEngine for someone");
    ASSERT_NE(nullptr, task);
    CText path, author, id, user, program, limit;
    task->get_Path(&path.text);
    EXPECT_EQ(CString(u"\\Quarn Software\\ZBEngine Tasks\\Start ZBEngine for someone"), path.Get());
    ITaskDefinition* definition = nullptr;
    ASSERT_EQ(S_OK, task->get_Definition(&definition));
    IRegistrationInfo* info = nullptr;
    definition->get_RegistrationInfo(&info);
    info->get_Author(&author.text);
    info->Release();
    ITriggerCollection* triggers = nullptr;
    definition->get_Triggers(&triggers);
    ITrigger* trigger = nullptr;
    ASSERT_EQ(S_OK, triggers->get_Item(1, &trigger));
    ILogonTrigger* logon = nullptr;
    trigger->QueryInterface(IID_ILogonTrigger, reinterpret_cast<void**>(&logon));
    logon->get_Id(&id.text);
    logon->get_UserId(&user.text);
    logon->Release();
    trigger->Release();
    triggers->Release();
    IActionCollection* actions = nullptr;
    definition->get_Actions(&actions);
    IAction* action = nullptr;
    ASSERT_EQ(S_OK, actions->get_Item(1, &action));
    IExecAction* exec = nullptr;
    action->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(&exec));
    exec->get_Path(&program.text);
    exec->Release();
    action->Release();
    actions->Release();
    ITaskSettings* settings = nullptr;
    definition->get_Settings(&settings);
    settings->get_ExecutionTimeLimit(&limit.text);
    settings->Release();
    definition->Release();
    EXPECT_EQ(CString(u"ZBEngine"), author.Get());
    EXPECT_EQ(CString(u"Trigger1"), id.Get());
    EXPECT_EQ(CString(u"someone"), user.Get());
    EXPECT_EQ(CString(u"C:\\zb\\zbengine.exe"), program.Get());
    EXPECT_EQ(CString(u"PT72H"), limit.Get()) << "a new definition's default";
    EXPECT_EQ(TASK_STATE_READY, State(task));
    task->Release();
}

TEST_F(TaskSchedulerTest, EnablesAndDisables) {
    ASSERT_EQ(S_OK, Register(u"A\\t", u"C:\\bin\\true", u""));
    IRegisteredTask* task = Task(u"A\\t");
    VARIANT_BOOL enabled = VARIANT_FALSE;
    EXPECT_EQ(S_OK, task->get_Enabled(&enabled));
    EXPECT_EQ(VARIANT_TRUE, enabled);
    EXPECT_EQ(S_OK, task->put_Enabled(VARIANT_FALSE));
    EXPECT_EQ(TASK_STATE_DISABLED, State(task));
    EXPECT_EQ(SCHED_E_TASK_DISABLED, task->Run(Empty(), nullptr));
    IRegisteredTask* again = Task(u"A\\t");
    EXPECT_EQ(S_OK, again->get_Enabled(&enabled));
    EXPECT_EQ(VARIANT_FALSE, enabled) << "the flag is stored, not kept in the object";
    again->Release();
    task->Release();
}

TEST_F(TaskSchedulerTest, RunsAndStopsTheProgram) {
    ASSERT_EQ(S_OK, Register(u"A\\sleeper", u"C:\\bin\\sleep", u"30"));
    IRegisteredTask* task = Task(u"A\\sleeper");
    IRunningTask* running = nullptr;
    ASSERT_EQ(S_OK, task->Run(Empty(), &running));
    DWORD pid = 0;
    running->get_EnginePID(&pid);
    running->Release();
    EXPECT_NE(0u, pid);
    EXPECT_EQ(TASK_STATE_RUNNING, State(task));
    EXPECT_EQ(S_OK, task->Stop(0));
    EXPECT_TRUE(ReachesState(task, TASK_STATE_READY));
    EXPECT_EQ(S_OK, task->Stop(0)) << "stopping a task that does not run succeeds";
    task->Release();
}

TEST_F(TaskSchedulerTest, ResultCodesOfTheStore) {
    ASSERT_EQ(S_OK, Register(u"A\\B\\t", u"C:\\bin\\true", u""));
    ITaskFolder* folder = nullptr;
    IRegisteredTask* task = nullptr;
    struct {
        const char* what;
        HRESULT got;
        HRESULT expected;
    } const cases[] = {
        {"missing task", m_root->GetTask(Bstr(u"A\\B\\none"), &task), static_cast<HRESULT>(0x80070002u)},
        {"missing folder", m_root->GetFolder(Bstr(u"\\Z"), &folder), static_cast<HRESULT>(0x80070002u)},
        {"delete missing task", m_root->DeleteTask(Bstr(u"A\\none"), 0), static_cast<HRESULT>(0x80070002u)},
        {"delete missing folder", m_root->DeleteFolder(Bstr(u"\\Z"), 0), static_cast<HRESULT>(0x80070002u)},
        {"delete folder with a folder", m_root->DeleteFolder(Bstr(u"\\A"), 0),
         static_cast<HRESULT>(0x80070091u)},
        {"delete folder with a task", m_root->DeleteFolder(Bstr(u"A\\B"), 0),
         static_cast<HRESULT>(0x80070091u)},
        {"create existing folder", m_root->CreateFolder(Bstr(u"A"), Empty(), nullptr),
         static_cast<HRESULT>(0x800700B7u)},
        {"create existing task", Register(u"A\\B\\t", u"x", u"", TASK_CREATE),
         static_cast<HRESULT>(0x800700B7u)},
        {"update missing task", Register(u"A\\B\\u", u"x", u"", TASK_UPDATE),
         static_cast<HRESULT>(0x80070002u)},
        {"path leaving the store", m_root->GetTask(Bstr(u"A\\..\\..\\t"), &task), E_INVALIDARG},
        {"host separator", m_root->GetFolder(Bstr(u"A/B"), &folder), E_INVALIDARG},
        {"root folder", m_root->DeleteFolder(Bstr(u"\\"), 0), E_INVALIDARG},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, c.got) << c.what;
    EXPECT_EQ(nullptr, task);
    EXPECT_EQ(nullptr, folder);
}

TEST_F(TaskSchedulerTest, DeletesTasksThenFolders) {
    ASSERT_EQ(S_OK, Register(u"A\\t1", u"x", u""));
    ASSERT_EQ(S_OK, Register(u"A\\t2", u"x", u""));
    ITaskFolder* folder = nullptr;
    ASSERT_EQ(S_OK, m_root->GetFolder(Bstr(u"A"), &folder));
    IRegisteredTaskCollection* tasks = nullptr;
    ASSERT_EQ(S_OK, folder->GetTasks(0, &tasks));
    LONG count = 0;
    tasks->get_Count(&count);
    ASSERT_EQ(2, count);
    for (LONG i = 1; i <= count; ++i) {
        IRegisteredTask* task = nullptr;
        ASSERT_EQ(S_OK, tasks->get_Item(zbw::IndexVariant(i), &task)) << "the collection is a snapshot";
        CText name;
        task->get_Name(&name.text);
        EXPECT_EQ(S_OK, folder->DeleteTask(name.text, 0));
        task->Release();
    }
    tasks->Release();
    EXPECT_EQ(S_OK, folder->GetTasks(0, &tasks));
    tasks->get_Count(&count);
    EXPECT_EQ(0, count);
    tasks->Release();
    folder->Release();
    EXPECT_EQ(S_OK, m_root->DeleteFolder(Bstr(u"\\A"), 0));
    EXPECT_EQ(static_cast<HRESULT>(0x80070002u), m_root->GetFolder(Bstr(u"A"), &folder));
}

TEST_F(TaskSchedulerTest, ListsSubfolders) {
    ASSERT_EQ(S_OK, m_root->CreateFolder(Bstr(u"\\P\\Q"), Empty(), nullptr));
    ITaskFolder* p = nullptr;
    ASSERT_EQ(S_OK, m_root->GetFolder(Bstr(u"P"), &p));
    ITaskFolderCollection* folders = nullptr;
    ASSERT_EQ(S_OK, p->GetFolders(0, &folders));
    ITaskFolder* q = nullptr;
    ASSERT_EQ(S_OK, folders->get_Item(zbw::IndexVariant(1), &q));
    CText path;
    q->get_Path(&path.text);
    EXPECT_EQ(CString(u"\\P\\Q"), path.Get());
    q->Release();
    folders->Release();
    p->Release();
}

}  // namespace
