#include "jorvell/Jorvell.h"

#include "platform/base/CString.h"
#include "platform/base/ErrorText.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/Accounts.h"
#include "platform/win32/TaskScheduler.h"
#include "platform/win32/Thread.h"
#include "platform/win32/Token.h"

namespace {

class CBstr {
   public:
    explicit CBstr(LPCWSTR text) : m_text(SysAllocString(text ? text : u"")) {}
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    ~CBstr() { SysFreeString(m_text); }
    operator BSTR() const { return m_text; }

   private:
    BSTR m_text;
};

// COM on this thread for one call; declared before the references so it ends after them.
class CApartment {
   public:
    CApartment() = default;
    CApartment(const CApartment&) = delete;
    CApartment& operator=(const CApartment&) = delete;
    ~CApartment() {
        if (m_initialised) CoUninitialize();
    }
    HRESULT Initialise() {
        HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        m_initialised = SUCCEEDED(hr);
        return hr;
    }

   private:
    bool m_initialised = false;
};

class CMessage {
   public:
    CMessage(LPWSTR buffer, int length) : m_buffer(buffer), m_length(length) {}
    // Cut to the buffer, always terminated.
    void Put(const CString& text) {
        if (!m_buffer || m_length <= 0) return;
        int count = text.GetLength() < m_length - 1 ? text.GetLength() : m_length - 1;
        LPCWSTR source = text;
        for (int i = 0; i < count; ++i) m_buffer[i] = source[i];
        m_buffer[count] = 0;
    }
    // "<step>: 0x<hr>, <system text>".
    void PutStep(LPCWSTR step, HRESULT hr) {
        CString text;
        text.Format(u"%s: 0x%x, %s", step, static_cast<unsigned>(hr), SystemText(hr));
        Put(text);
    }
    // "<step>: <hr>".
    void PutCode(LPCWSTR step, HRESULT hr) {
        CString text;
        text.Format(u"%s: %x", step, static_cast<unsigned>(hr));
        Put(text);
    }
    static CString SystemText(HRESULT hr) {
        char16_t text[1024] = {};
        DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text,
                                 1024, nullptr);
        return n ? CString(text) : CString(u"<Unknown error code>");
    }

   private:
    LPWSTR m_buffer;
    int m_length;
};

bool LowByte(BOOL flag) {
    return (flag & 0xFF) != 0;
}

VARIANT Empty() {
    VARIANT v;
    VariantInit(&v);
    return v;
}

// Records each step's result for the caller of DLL_CreateSchedulerTask.
struct CStepResult {
    HRESULT* out;
    HRESULT operator=(HRESULT hr) {
        if (out) *out = hr;
        return hr;
    }
};

HRESULT CreateService(ITaskService** service) {
    return CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                            reinterpret_cast<void**>(service));
}

// The service, connected, and its root folder; a return code other than 0 on failure.
int ConnectRoot(CMessage& message, CComRef<ITaskService>& service, CComRef<ITaskFolder>& root,
                CStepResult step = {nullptr}) {
    HRESULT hr = step = CreateService(&service);
    if (FAILED(hr)) {
        message.PutStep(u"Failed to create an instance of ITaskService", hr);
        return JORVELL_COM_FAILED;
    }
    hr = step = service->Connect(Empty(), Empty(), Empty(), Empty());
    if (FAILED(hr)) {
        message.PutStep(u"ITaskService::Connect to scheduler failed", hr);
        return JORVELL_CONNECT_FAILED;
    }
    hr = step = service->GetFolder(CBstr(u"\\"), &root);
    if (FAILED(hr)) {
        message.PutStep(u"Cannot get scheduler root folder", hr);
        return JORVELL_NO_ROOT_FOLDER;
    }
    return JORVELL_OK;
}

// COM, its security, the service and the root folder, as every task function but Stop starts.
int CommonStart(CMessage& message, CApartment& apartment, CComRef<ITaskService>& service,
                CComRef<ITaskFolder>& root, CStepResult step = {nullptr}) {
    HRESULT hr = step = apartment.Initialise();
    if (FAILED(hr)) {
        message.PutStep(u"CoInitializeEx failed", hr);
        return JORVELL_COM_FAILED;
    }
    hr = step = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                     RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (FAILED(hr)) {
        message.PutStep(u"CoInitializeSecurity failed", hr);
        return JORVELL_COM_FAILED;
    }
    return ConnectRoot(message, service, root, step);
}

int FillPrincipalAndSettings(CMessage& message, CStepResult& step, ITaskDefinition* task) {
    CComRef<IPrincipal> principal;
    if (FAILED(step = task->get_Principal(&principal))) {
        message.PutCode(u"Cannot get principal pointer", *step.out);
        return JORVELL_CREATE_FAILED;
    }
    if (FAILED(step = principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST))) {
        message.PutCode(u"Cannot put run level", *step.out);
        return JORVELL_CREATE_FAILED;
    }
    CComRef<ITaskSettings> settings;
    if (FAILED(step = task->get_Settings(&settings))) {
        message.PutCode(u"Cannot get settings pointer", *step.out);
        return JORVELL_CREATE_FAILED;
    }
    auto check = [&](HRESULT hr, LPCWSTR text) {
        if (SUCCEEDED(step = hr)) return true;
        message.PutCode(text, hr);
        return false;
    };
    if (!check(settings->put_StartWhenAvailable(VARIANT_TRUE), u"Cannot put setting info") ||
        !check(settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE), u"Cannot set battery setting info") ||
        !check(settings->put_ExecutionTimeLimit(CBstr(u"PT0S")),
               u"Cannot set execution time limit setting info") ||
        !check(settings->put_AllowHardTerminate(VARIANT_FALSE), u"Cannot set task info"))
        return JORVELL_CREATE_FAILED;
    return JORVELL_OK;
}

int AddLogonTrigger(CMessage& message, CStepResult& step, ITaskDefinition* task) {
    CComRef<ITriggerCollection> triggers;
    if (FAILED(step = task->get_Triggers(&triggers))) {
        message.PutCode(u"Cannot get trigger collection", *step.out);
        return JORVELL_CREATE_FAILED;
    }
    CComRef<ITrigger> trigger;
    if (FAILED(step = triggers->Create(TASK_TRIGGER_LOGON, &trigger))) {
        message.PutCode(u"Cannot create the trigger", *step.out);
        return JORVELL_CREATE_FAILED;
    }
    CComRef<ILogonTrigger> logon;
    if (FAILED(step = trigger->QueryInterface(IID_ILogonTrigger, reinterpret_cast<void**>(&logon)))) {
        message.PutCode(u"QueryInterface call failed for ILogonTrigger", *step.out);
        return JORVELL_CREATE_FAILED;
    }
    if (FAILED(step = logon->put_Id(CBstr(u"Trigger1"))))
        message.PutCode(u"Cannot put the trigger ID", *step.out);
    if (FAILED(step = logon->put_StartBoundary(CBstr(u"2004-01-01T12:05:00"))))
        message.PutCode(u"Cannot put the start boundary", *step.out);
    char16_t user[513] = {};
    DWORD size = 513;
    GetUserNameW(user, &size);
    if (FAILED(step = logon->put_UserId(CBstr(user)))) {
        message.PutCode(u"Cannot add user ID to logon trigger", *step.out);
        return JORVELL_CREATE_FAILED;
    }
    return JORVELL_OK;
}

int AddExecAction(CMessage& message, CStepResult& step, ITaskDefinition* task, LPCWSTR programPath) {
    CComRef<IActionCollection> actions;
    if (FAILED(step = task->get_Actions(&actions))) {
        message.PutCode(u"Cannot get task collection pointer", *step.out);
        return JORVELL_CREATE_FAILED;
    }
    CComRef<IAction> action;
    if (FAILED(step = actions->Create(TASK_ACTION_EXEC, &action))) {
        message.PutCode(u"Cannot create action", *step.out);
        return JORVELL_CREATE_FAILED;
    }
    CComRef<IExecAction> exec;
    if (FAILED(step = action->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(&exec)))) {
        message.PutCode(u"QueryInterface call failed for IExecAction", *step.out);
        return JORVELL_CREATE_FAILED;
    }
    if (FAILED(step = exec->put_Path(CBstr(programPath)))) {
        message.PutCode(u"Cannot set path of executable", *step.out);
        return JORVELL_CREATE_FAILED;
    }
    return JORVELL_OK;
}

int DefineTask(CMessage& message, CStepResult& step, ITaskDefinition* task, LPCWSTR programPath,
               LPCWSTR author) {
    CComRef<IRegistrationInfo> info;
    if (FAILED(step = task->get_RegistrationInfo(&info))) {
        message.PutCode(u"Cannot get identification pointer", *step.out);
        return JORVELL_CREATE_FAILED;
    }
    if (FAILED(step = info->put_Author(CBstr(author)))) {
        message.PutCode(u"Cannot put identification info", *step.out);
        return JORVELL_CREATE_FAILED;
    }
    int result = FillPrincipalAndSettings(message, step, task);
    if (result == JORVELL_OK) result = AddLogonTrigger(message, step, task);
    if (result == JORVELL_OK) result = AddExecAction(message, step, task, programPath);
    return result;
}

// Deletes the tasks of a folder by walking its collection, taken once, by index.
void DeleteTasksOf(ITaskFolder* root, LPCWSTR path) {
    CComRef<ITaskFolder> folder;
    if (FAILED(root->GetFolder(CBstr(path), &folder))) return;
    CComRef<IRegisteredTaskCollection> tasks;
    if (FAILED(folder->GetTasks(0, &tasks))) return;
    LONG count = 0;
    tasks->get_Count(&count);
    for (LONG i = 1; i <= count; ++i) {
        VARIANT index = Empty();
        index.vt = VT_I4;
        index.lVal = i;
        CComRef<IRegisteredTask> task;
        BSTR name = nullptr;
        if (SUCCEEDED(tasks->get_Item(index, &task)) && SUCCEEDED(task->get_Name(&name)))
            folder->DeleteTask(name, 0);
        SysFreeString(name);
    }
}

}  // namespace

extern "C" int DLL_CreateSchedulerTask(HRESULT* hr, LPCWSTR taskPath, LPCWSTR programPath, LPCWSTR author,
                                       LPWSTR messageBuffer, int messageLength) {
    HRESULT ignored = S_OK;
    CStepResult step{hr ? hr : &ignored};
    CMessage message(messageBuffer, messageLength);
    CApartment apartment;
    CComRef<ITaskService> service;
    CComRef<ITaskFolder> root;
    int result = CommonStart(message, apartment, service, root, step);
    if (result != JORVELL_OK) return result;
    step = root->DeleteTask(CBstr(taskPath), 0);
    CComRef<ITaskDefinition> task;
    if (FAILED(step = service->NewTask(0, &task))) {
        message.PutCode(u"Failed to create a task definition", *step.out);
        return JORVELL_CREATE_FAILED;
    }
    result = DefineTask(message, step, task.Get(), programPath, author);
    if (result != JORVELL_OK) return result;
    CComRef<IRegisteredTask> registered;
    VARIANT sddl = Empty();
    sddl.vt = VT_BSTR;
    sddl.bstrVal = SysAllocString(u"");
    step = root->RegisterTaskDefinition(CBstr(taskPath), task.Get(), TASK_CREATE_OR_UPDATE, Empty(), Empty(),
                                        TASK_LOGON_INTERACTIVE_TOKEN, sddl, &registered);
    VariantClear(&sddl);
    if (FAILED(*step.out)) {
        message.PutStep(u"Error adding task", *step.out);
        return JORVELL_CREATE_FAILED;
    }
    return JORVELL_OK;
}

extern "C" int DLL_SchedulerTaskExists(LPCWSTR taskPath, LPWSTR messageBuffer, int messageLength) {
    CMessage message(messageBuffer, messageLength);
    CApartment apartment;
    CComRef<ITaskService> service;
    CComRef<ITaskFolder> root;
    int result = CommonStart(message, apartment, service, root);
    if (result != JORVELL_OK) return result;
    CComRef<IRegisteredTask> task;
    HRESULT hr = root->GetTask(CBstr(taskPath), &task);
    if (FAILED(hr)) {
        message.PutStep(u"Task does not exist", hr);
        return JORVELL_NO_TASK;
    }
    return JORVELL_OK;
}

extern "C" int DLL_DeleteSchedulerTask(LPCWSTR path, BOOL isFolder, BOOL deleteTasksFirst,
                                       LPWSTR messageBuffer, int messageLength) {
    CMessage message(messageBuffer, messageLength);
    CApartment apartment;
    CComRef<ITaskService> service;
    CComRef<ITaskFolder> root;
    int result = CommonStart(message, apartment, service, root);
    if (result != JORVELL_OK) return result;
    if (!LowByte(isFolder)) {
        HRESULT hr = root->DeleteTask(CBstr(path), 0);
        if (FAILED(hr)) {
            message.PutStep(u"Cannot delete task", hr);
            return JORVELL_DELETE_FAILED;
        }
        return JORVELL_OK;
    }
    if (LowByte(deleteTasksFirst)) DeleteTasksOf(root.Get(), path);
    HRESULT hr = root->DeleteFolder(CBstr(path), 0);
    if (FAILED(hr)) {
        message.PutStep(u"Cannot delete task folder", hr);
        return JORVELL_DELETE_FAILED;
    }
    return JORVELL_OK;
}

extern "C" int DLL_StopSchedulerTask(LPCWSTR taskPath, LPWSTR messageBuffer, int messageLength) {
    CMessage message(messageBuffer, messageLength);
    CComRef<ITaskService> service;
    CComRef<ITaskFolder> root;
    int result = ConnectRoot(message, service, root);
    if (result != JORVELL_OK) return result;
    CComRef<IRegisteredTask> task;
    HRESULT hr = root->GetTask(CBstr(taskPath), &task);
    if (FAILED(hr)) {
        CString text;
        text.Format(u"Task %s does not exist: 0x%x, %s", taskPath ? taskPath : u"", static_cast<unsigned>(hr),
                    CMessage::SystemText(hr));
        message.Put(text);
        return JORVELL_NO_TASK;
    }
    hr = task->Stop(0);
    if (FAILED(hr)) {
        message.PutStep(u"Stop failed", hr);
        return JORVELL_STOP_FAILED;
    }
    return JORVELL_OK;
}

extern "C" int DLL_EnableSchedulerTask(LPCWSTR taskPath, int* enabled, BOOL set, LPWSTR messageBuffer,
                                       int messageLength) {
    CMessage message(messageBuffer, messageLength);
    CApartment apartment;
    CComRef<ITaskService> service;
    CComRef<ITaskFolder> root;
    int result = CommonStart(message, apartment, service, root);
    if (result != JORVELL_OK) return result;
    CComRef<IRegisteredTask> task;
    HRESULT hr = root->GetTask(CBstr(taskPath), &task);
    if (FAILED(hr)) {
        message.PutStep(u"Task does not exist", hr);
        return JORVELL_NO_TASK;
    }
    if (!enabled) {
        hr = E_POINTER;
    } else if (LowByte(set)) {
        hr = task->put_Enabled(*enabled ? VARIANT_TRUE : VARIANT_FALSE);
    } else {
        VARIANT_BOOL flag = VARIANT_FALSE;
        hr = task->get_Enabled(&flag);
        if (SUCCEEDED(hr)) *enabled = flag;
    }
    if (FAILED(hr)) {
        message.PutStep(u"Failed", hr);
        return JORVELL_ENABLE_FAILED;
    }
    return JORVELL_OK;
}

extern "C" int DLL_GetProcessIntegrityLevel() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
    int level = IntegrityLevelFromRid(zbw::CurrentIntegrityRid());
    CloseHandle(token);
    return level;
}
