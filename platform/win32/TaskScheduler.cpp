#include "platform/win32/TaskScheduler.h"

#include <filesystem>
#include <system_error>

#include "platform/base/TextConvert.h"
#include "platform/host/EmulationRoot.h"
#include "platform/host/KernelObject.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Process.h"

const CLSID CLSID_TaskScheduler = {
    0x0F87369F, 0xA4E5, 0x4CFC, {0xBD, 0x3E, 0x73, 0xE6, 0x15, 0x45, 0x72, 0xDD}};
const IID IID_ITaskService = {0x2FABA4C7, 0x4DA9, 0x4013, {0x96, 0x97, 0x20, 0xCC, 0x3F, 0xD4, 0x0F, 0x85}};
// Ours: nothing outside the process ever sees these two.
const IID IID_ILogonTrigger = {0x7A5B0001, 0x2B1C, 0x4E0A, {0x9D, 0x11, 0x5A, 0x3B, 0x00, 0x00, 0x00, 0x09}};
const IID IID_IExecAction = {0x7A5B0002, 0x2B1C, 0x4E0A, {0x9D, 0x11, 0x5A, 0x3B, 0x00, 0x00, 0x00, 0x00}};

namespace fs = std::filesystem;

namespace {

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
const HRESULT kExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
const HRESULT kNotEmpty = HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY);

HRESULT GetText(const CString& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocString(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT PutText(CString& field, BSTR text) {
    field = text ? text : u"";
    return S_OK;
}

HRESULT GetFlag(bool flag, VARIANT_BOOL* out) {
    if (!out) return E_POINTER;
    *out = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT PutFlag(bool& field, VARIANT_BOOL value) {
    field = value != VARIANT_FALSE;
    return S_OK;
}

template <class T>
HRESULT Hand(T* object, T** out) {
    *out = object;
    return S_OK;
}

bool IsFolder(const std::string& host) {
    std::error_code ec;
    return fs::is_directory(host, ec);
}

bool IsFile(const std::string& host) {
    std::error_code ec;
    return fs::is_regular_file(host, ec);
}

bool IsEmptyFolder(const std::string& host) {
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(host, ec))
        if (entry.path().extension() != ".run") return false;
    return !ec;
}

// A task path split into its folder's names and its own name.
bool SplitTask(std::vector<CString> names, std::vector<CString>& folder, CString& name) {
    if (names.empty()) return false;
    name = names.back();
    names.pop_back();
    folder = std::move(names);
    return true;
}

CString ProgramCommandLine(const zbw::TASKACTIONDATA& action) {
    CString line = u"\"" + action.path + u"\"";
    if (!action.arguments.IsEmpty()) line += u" " + action.arguments;
    return line;
}

}  // namespace

HRESULT IRegistrationInfo::get_Author(BSTR* author) {
    return GetText(m_data->author, author);
}
HRESULT IRegistrationInfo::put_Author(BSTR author) {
    return PutText(m_data->author, author);
}
HRESULT IRegistrationInfo::get_Description(BSTR* d) {
    return GetText(m_data->description, d);
}
HRESULT IRegistrationInfo::put_Description(BSTR d) {
    return PutText(m_data->description, d);
}

HRESULT IPrincipal::get_RunLevel(TASK_RUNLEVEL_TYPE* level) {
    if (!level) return E_POINTER;
    *level = static_cast<TASK_RUNLEVEL_TYPE>(m_data->runLevel);
    return S_OK;
}

HRESULT IPrincipal::put_RunLevel(TASK_RUNLEVEL_TYPE level) {
    if (level != TASK_RUNLEVEL_LUA && level != TASK_RUNLEVEL_HIGHEST) return E_INVALIDARG;
    m_data->runLevel = level;
    return S_OK;
}

HRESULT IPrincipal::get_UserId(BSTR* user) {
    return GetText(m_data->principalUser, user);
}
HRESULT IPrincipal::put_UserId(BSTR user) {
    return PutText(m_data->principalUser, user);
}

HRESULT ITaskSettings::get_StartWhenAvailable(VARIANT_BOOL* v) {
    return GetFlag(m_data->startWhenAvailable, v);
}
HRESULT ITaskSettings::put_StartWhenAvailable(VARIANT_BOOL v) {
    return PutFlag(m_data->startWhenAvailable, v);
}
HRESULT ITaskSettings::get_DisallowStartIfOnBatteries(VARIANT_BOOL* v) {
    return GetFlag(m_data->disallowStartIfOnBatteries, v);
}
HRESULT ITaskSettings::put_DisallowStartIfOnBatteries(VARIANT_BOOL v) {
    return PutFlag(m_data->disallowStartIfOnBatteries, v);
}
HRESULT ITaskSettings::get_AllowHardTerminate(VARIANT_BOOL* v) {
    return GetFlag(m_data->allowHardTerminate, v);
}
HRESULT ITaskSettings::put_AllowHardTerminate(VARIANT_BOOL v) {
    return PutFlag(m_data->allowHardTerminate, v);
}
HRESULT ITaskSettings::get_Enabled(VARIANT_BOOL* v) {
    return GetFlag(m_data->enabled, v);
}
HRESULT ITaskSettings::put_Enabled(VARIANT_BOOL v) {
    return PutFlag(m_data->enabled, v);
}
HRESULT ITaskSettings::get_ExecutionTimeLimit(BSTR* limit) {
    return GetText(m_data->executionTimeLimit, limit);
}
HRESULT ITaskSettings::put_ExecutionTimeLimit(BSTR limit) {
    return PutText(m_data->executionTimeLimit, limit);
}

HRESULT ITrigger::get_Type(TASK_TRIGGER_TYPE2* type) {
    if (!type) return E_POINTER;
    *type = static_cast<TASK_TRIGGER_TYPE2>(Data().type);
    return S_OK;
}

HRESULT ITrigger::get_Id(BSTR* id) {
    return GetText(Data().id, id);
}
HRESULT ITrigger::put_Id(BSTR id) {
    return PutText(Data().id, id);
}
HRESULT ITrigger::get_StartBoundary(BSTR* start) {
    return GetText(Data().startBoundary, start);
}
HRESULT ITrigger::put_StartBoundary(BSTR start) {
    return PutText(Data().startBoundary, start);
}
HRESULT ITrigger::get_Enabled(VARIANT_BOOL* v) {
    return GetFlag(Data().enabled, v);
}
HRESULT ITrigger::put_Enabled(VARIANT_BOOL v) {
    return PutFlag(Data().enabled, v);
}

HRESULT ILogonTrigger::QueryInterface(REFIID riid, void** ppv) {
    if (ppv && IsEqualGUID(riid, IID_ILogonTrigger)) return Give(ppv);
    return ITrigger::QueryInterface(riid, ppv);
}

HRESULT ILogonTrigger::get_UserId(BSTR* user) {
    return GetText(Data().userId, user);
}
HRESULT ILogonTrigger::put_UserId(BSTR user) {
    return PutText(Data().userId, user);
}

HRESULT ITriggerCollection::get_Count(LONG* count) {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(m_data->triggers.size());
    return S_OK;
}

HRESULT ITriggerCollection::get_Item(LONG index, ITrigger** trigger) {
    if (!trigger) return E_POINTER;
    *trigger = nullptr;
    if (index < 1 || static_cast<size_t>(index) > m_data->triggers.size()) return E_INVALIDARG;
    return Hand<ITrigger>(new ILogonTrigger(m_data, index - 1), trigger);
}

HRESULT ITriggerCollection::Create(TASK_TRIGGER_TYPE2 type, ITrigger** trigger) {
    if (!trigger) return E_POINTER;
    *trigger = nullptr;
    if (type != TASK_TRIGGER_LOGON) return E_NOTIMPL;
    zbw::TASKTRIGGERDATA data;
    data.type = type;
    m_data->triggers.push_back(data);
    return Hand<ITrigger>(new ILogonTrigger(m_data, m_data->triggers.size() - 1), trigger);
}

HRESULT IAction::get_Type(TASK_ACTION_TYPE* type) {
    if (!type) return E_POINTER;
    *type = static_cast<TASK_ACTION_TYPE>(Data().type);
    return S_OK;
}

HRESULT IExecAction::QueryInterface(REFIID riid, void** ppv) {
    if (ppv && IsEqualGUID(riid, IID_IExecAction)) return Give(ppv);
    return IAction::QueryInterface(riid, ppv);
}

HRESULT IExecAction::get_Path(BSTR* path) {
    return GetText(Data().path, path);
}
HRESULT IExecAction::put_Path(BSTR path) {
    return PutText(Data().path, path);
}
HRESULT IExecAction::get_Arguments(BSTR* a) {
    return GetText(Data().arguments, a);
}
HRESULT IExecAction::put_Arguments(BSTR a) {
    return PutText(Data().arguments, a);
}

HRESULT IActionCollection::get_Count(LONG* count) {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(m_data->actions.size());
    return S_OK;
}

HRESULT IActionCollection::get_Item(LONG index, IAction** action) {
    if (!action) return E_POINTER;
    *action = nullptr;
    if (index < 1 || static_cast<size_t>(index) > m_data->actions.size()) return E_INVALIDARG;
    return Hand<IAction>(new IExecAction(m_data, index - 1), action);
}

HRESULT IActionCollection::Create(TASK_ACTION_TYPE type, IAction** action) {
    if (!action) return E_POINTER;
    *action = nullptr;
    if (type != TASK_ACTION_EXEC) return E_NOTIMPL;
    m_data->actions.push_back(zbw::TASKACTIONDATA());
    return Hand<IAction>(new IExecAction(m_data, m_data->actions.size() - 1), action);
}

HRESULT ITaskDefinition::get_RegistrationInfo(IRegistrationInfo** info) {
    if (!info) return E_POINTER;
    return Hand(new IRegistrationInfo(m_data), info);
}

HRESULT ITaskDefinition::get_Principal(IPrincipal** principal) {
    if (!principal) return E_POINTER;
    return Hand(new IPrincipal(m_data), principal);
}

HRESULT ITaskDefinition::get_Settings(ITaskSettings** settings) {
    if (!settings) return E_POINTER;
    return Hand(new ITaskSettings(m_data), settings);
}

HRESULT ITaskDefinition::get_Triggers(ITriggerCollection** triggers) {
    if (!triggers) return E_POINTER;
    return Hand(new ITriggerCollection(m_data), triggers);
}

HRESULT ITaskDefinition::get_Actions(IActionCollection** actions) {
    if (!actions) return E_POINTER;
    return Hand(new IActionCollection(m_data), actions);
}

HRESULT IRunningTask::get_EnginePID(DWORD* pid) {
    if (!pid) return E_POINTER;
    *pid = m_pid;
    return S_OK;
}

IRegisteredTask::IRegisteredTask(std::vector<CString> folder, CString name)
    : m_folder(std::move(folder)),
      m_name(std::move(name)),
      m_file(zbw::TaskHostFile(zbw::TaskFolderHostPath(m_folder), m_name)) {}

HRESULT IRegisteredTask::Load(zbw::TASKDATA& data) const {
    return zbw::ReadTaskFile(m_file, data) ? S_OK : kNotFound;
}

HRESULT IRegisteredTask::get_Name(BSTR* name) {
    return GetText(m_name, name);
}

HRESULT IRegisteredTask::get_Path(BSTR* path) {
    std::vector<CString> names = m_folder;
    names.push_back(m_name);
    return GetText(zbw::JoinTaskPath(names), path);
}

HRESULT IRegisteredTask::get_Enabled(VARIANT_BOOL* enabled) {
    if (!enabled) return E_POINTER;
    zbw::TASKDATA data;
    HRESULT hr = Load(data);
    return FAILED(hr) ? hr : GetFlag(data.enabled, enabled);
}

HRESULT IRegisteredTask::put_Enabled(VARIANT_BOOL enabled) {
    zbw::TASKDATA data;
    HRESULT hr = Load(data);
    if (FAILED(hr)) return hr;
    data.enabled = enabled != VARIANT_FALSE;
    return zbw::WriteTaskFile(m_file, data) ? S_OK : E_ACCESSDENIED;
}

HRESULT IRegisteredTask::get_State(TASK_STATE* state) {
    if (!state) return E_POINTER;
    zbw::TASKDATA data;
    HRESULT hr = Load(data);
    if (FAILED(hr)) return hr;
    if (!zbw::LiveTaskProcesses(m_file).empty())
        *state = TASK_STATE_RUNNING;
    else
        *state = data.enabled ? TASK_STATE_READY : TASK_STATE_DISABLED;
    return S_OK;
}

HRESULT IRegisteredTask::get_Definition(ITaskDefinition** definition) {
    if (!definition) return E_POINTER;
    *definition = nullptr;
    auto data = std::make_shared<zbw::TASKDATA>();
    HRESULT hr = Load(*data);
    return FAILED(hr) ? hr : Hand(new ITaskDefinition(data), definition);
}

HRESULT IRegisteredTask::Run(VARIANT, IRunningTask** runningTask) {
    if (runningTask) *runningTask = nullptr;
    zbw::TASKDATA data;
    HRESULT hr = Load(data);
    if (FAILED(hr)) return hr;
    if (!data.enabled) return SCHED_E_TASK_DISABLED;
    DWORD firstPid = 0;
    for (const zbw::TASKACTIONDATA& action : data.actions) {
        CString commandLine = ProgramCommandLine(action);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        LPCWSTR folder =
            action.workingDirectory.IsEmpty() ? nullptr : static_cast<LPCWSTR>(action.workingDirectory);
        if (!CreateProcessW(nullptr, commandLine.GetBuffer(), nullptr, nullptr, FALSE, 0, nullptr, folder,
                            &startup, &info))
            return HRESULT_FROM_WIN32(GetLastError());
        commandLine.ReleaseBuffer();
        zbw::AddTaskProcess(m_file, static_cast<int>(info.dwProcessId));
        if (!firstPid) firstPid = info.dwProcessId;
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    if (runningTask) *runningTask = new IRunningTask(firstPid);
    return S_OK;
}

HRESULT IRegisteredTask::Stop(LONG) {
    zbw::TASKDATA data;
    HRESULT hr = Load(data);
    if (FAILED(hr)) return hr;
    zbw::StopTaskProcesses(m_file);
    return S_OK;
}

IRegisteredTaskCollection::~IRegisteredTaskCollection() {
    for (IRegisteredTask* task : m_tasks) task->Release();
}

HRESULT IRegisteredTaskCollection::get_Count(LONG* count) {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(m_tasks.size());
    return S_OK;
}

HRESULT IRegisteredTaskCollection::get_Item(VARIANT index, IRegisteredTask** task) {
    if (!task) return E_POINTER;
    *task = nullptr;
    for (size_t i = 0; i < m_tasks.size(); ++i) {
        bool match = false;
        if (index.vt == VT_I4) {
            match = static_cast<size_t>(index.lVal) == i + 1;
        } else if (index.vt == VT_BSTR) {
            BSTR name = nullptr;
            m_tasks[i]->get_Name(&name);
            match = CString(name) == CString(index.bstrVal ? index.bstrVal : u"");
            SysFreeString(name);
        }
        if (match) {
            m_tasks[i]->AddRef();
            return Hand(m_tasks[i], task);
        }
    }
    return E_INVALIDARG;
}

ITaskFolderCollection::~ITaskFolderCollection() {
    for (ITaskFolder* folder : m_folders) folder->Release();
}

HRESULT ITaskFolderCollection::get_Count(LONG* count) {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(m_folders.size());
    return S_OK;
}

HRESULT ITaskFolderCollection::get_Item(VARIANT index, ITaskFolder** folder) {
    if (!folder) return E_POINTER;
    *folder = nullptr;
    if (index.vt != VT_I4 || index.lVal < 1 || static_cast<size_t>(index.lVal) > m_folders.size())
        return E_INVALIDARG;
    m_folders[index.lVal - 1]->AddRef();
    return Hand(m_folders[index.lVal - 1], folder);
}

ITaskFolder::ITaskFolder(std::vector<CString> names)
    : m_names(std::move(names)), m_host(zbw::TaskFolderHostPath(m_names)) {}

bool ITaskFolder::Resolve(BSTR path, std::vector<CString>& names) const {
    names = m_names;
    return zbw::SplitTaskPath(path, names);
}

HRESULT ITaskFolder::get_Name(BSTR* name) {
    return GetText(m_names.empty() ? CString(u"\\") : m_names.back(), name);
}

HRESULT ITaskFolder::get_Path(BSTR* path) {
    return GetText(zbw::JoinTaskPath(m_names), path);
}

HRESULT ITaskFolder::GetFolder(BSTR path, ITaskFolder** folder) {
    if (!folder) return E_POINTER;
    *folder = nullptr;
    std::vector<CString> names;
    if (!Resolve(path, names)) return E_INVALIDARG;
    if (!IsFolder(zbw::TaskFolderHostPath(names))) return kNotFound;
    return Hand(new ITaskFolder(names), folder);
}

HRESULT ITaskFolder::CreateFolder(BSTR path, VARIANT, ITaskFolder** folder) {
    if (folder) *folder = nullptr;
    std::vector<CString> names;
    if (!Resolve(path, names) || names.size() == m_names.size()) return E_INVALIDARG;
    std::string host = zbw::TaskFolderHostPath(names);
    if (IsFolder(host)) return kExists;
    if (!zbw::MakeHostDirs(host)) return E_ACCESSDENIED;
    return folder ? Hand(new ITaskFolder(names), folder) : S_OK;
}

HRESULT ITaskFolder::DeleteFolder(BSTR path, LONG) {
    std::vector<CString> names;
    if (!Resolve(path, names) || names.empty()) return E_INVALIDARG;
    std::string host = zbw::TaskFolderHostPath(names);
    if (!IsFolder(host)) return kNotFound;
    if (!IsEmptyFolder(host)) return kNotEmpty;
    std::error_code ec;
    fs::remove_all(host, ec);
    return ec ? E_ACCESSDENIED : S_OK;
}

HRESULT ITaskFolder::GetTask(BSTR path, IRegisteredTask** task) {
    if (!task) return E_POINTER;
    *task = nullptr;
    std::vector<CString> names, folder;
    CString name;
    if (!Resolve(path, names) || !SplitTask(names, folder, name)) return E_INVALIDARG;
    if (!IsFile(zbw::TaskHostFile(zbw::TaskFolderHostPath(folder), name))) return kNotFound;
    return Hand(new IRegisteredTask(folder, name), task);
}

HRESULT ITaskFolder::GetTasks(LONG, IRegisteredTaskCollection** tasks) {
    if (!tasks) return E_POINTER;
    std::vector<IRegisteredTask*> found;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(m_host, ec))
        if (entry.is_regular_file() && entry.path().extension() == ".task")
            found.push_back(new IRegisteredTask(m_names, zbw::FromUtf8(entry.path().stem().string())));
    return Hand(new IRegisteredTaskCollection(std::move(found)), tasks);
}

HRESULT ITaskFolder::GetFolders(LONG, ITaskFolderCollection** folders) {
    if (!folders) return E_POINTER;
    std::vector<ITaskFolder*> found;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(m_host, ec)) {
        if (!entry.is_directory()) continue;
        std::vector<CString> names = m_names;
        names.push_back(zbw::FromUtf8(entry.path().filename().string()));
        found.push_back(new ITaskFolder(names));
    }
    return Hand(new ITaskFolderCollection(std::move(found)), folders);
}

HRESULT ITaskFolder::DeleteTask(BSTR path, LONG) {
    std::vector<CString> names, folder;
    CString name;
    if (!Resolve(path, names) || !SplitTask(names, folder, name)) return E_INVALIDARG;
    std::string file = zbw::TaskHostFile(zbw::TaskFolderHostPath(folder), name);
    if (!IsFile(file)) return kNotFound;
    std::remove((file + ".run").c_str());
    return std::remove(file.c_str()) == 0 ? S_OK : E_ACCESSDENIED;
}

HRESULT ITaskFolder::RegisterTaskDefinition(BSTR path, ITaskDefinition* definition, LONG flags, VARIANT,
                                            VARIANT, TASK_LOGON_TYPE, VARIANT, IRegisteredTask** task) {
    if (task) *task = nullptr;
    std::vector<CString> names, folder;
    CString name;
    if (!definition || !Resolve(path, names) || !SplitTask(names, folder, name)) return E_INVALIDARG;
    std::string host = zbw::TaskFolderHostPath(folder);
    std::string file = zbw::TaskHostFile(host, name);
    bool exists = IsFile(file);
    if (exists && !(flags & TASK_UPDATE)) return kExists;
    if (!exists && !(flags & TASK_CREATE)) return kNotFound;
    if (flags & TASK_VALIDATE_ONLY) return S_OK;
    if (!zbw::MakeHostDirs(host) || !zbw::WriteTaskFile(file, definition->Data())) return E_ACCESSDENIED;
    return task ? Hand(new IRegisteredTask(folder, name), task) : S_OK;
}

HRESULT ITaskService::QueryInterface(REFIID riid, void** ppv) {
    if (ppv && IsEqualGUID(riid, IID_ITaskService)) return Give(ppv);
    return IUnknown::QueryInterface(riid, ppv);
}

HRESULT ITaskService::Connect(VARIANT serverName, VARIANT, VARIANT, VARIANT) {
    if (serverName.vt == VT_BSTR && SysStringLen(serverName.bstrVal) > 0) return E_NOTIMPL;
    m_connected = true;
    return S_OK;
}

HRESULT ITaskService::get_Connected(VARIANT_BOOL* connected) {
    return GetFlag(m_connected, connected);
}

HRESULT ITaskService::GetFolder(BSTR path, ITaskFolder** folder) {
    if (!folder) return E_POINTER;
    *folder = nullptr;
    if (!m_connected) return SCHED_E_SERVICE_NOT_CONNECTED;
    ITaskFolder root({});
    return root.GetFolder(path, folder);
}

HRESULT ITaskService::NewTask(DWORD flags, ITaskDefinition** definition) {
    if (!definition) return E_POINTER;
    *definition = nullptr;
    if (flags != 0) return E_INVALIDARG;
    return Hand(new ITaskDefinition(std::make_shared<zbw::TASKDATA>()), definition);
}

namespace zbw {
IUnknown* NewTaskService() {
    return new ITaskService();
}
}  // namespace zbw
