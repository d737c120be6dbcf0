// The task scheduler's client interfaces (the Task Scheduler 2.0 names) over the emulated task
// store (TaskStore.h). Create the service with CoCreateInstance(CLSID_TaskScheduler, nullptr,
// CLSCTX_INPROC_SERVER, IID_ITaskService, ...), Connect, then GetFolder(u"\\") for the root.
//
// Kept from Windows: the call shapes, reference counting (every object handed out carries one
// reference for the caller), the result codes: 0x80070002 for a missing task or folder,
// 0x80070091 for deleting a folder that still holds tasks or folders, 0x800700B7 for creating
// what exists, 0x800704E3 for a folder asked of an unconnected service, E_INVALIDARG for a bad
// name, E_POINTER for a missing out pointer. RegisterTaskDefinition makes missing folders on its
// way. Collections are snapshots taken when asked for: they keep listing a task deleted later.
// Run starts the task's exec actions as processes of the caller's account and remembers them;
// Stop ends (SIGTERM) the ones still running; State is running while one of them lives.
// Left out: remote machines, credentials, security descriptors (accepted and ignored), hidden
// tasks, task XML, every trigger and action kind but logon triggers and exec actions (others are
// E_NOTIMPL), trigger conditions, the scheduler acting on triggers by itself (tools/tasklogon runs
// a user's logon tasks), case-insensitive names.
//
// Any thread may make and use these objects, one thread at a time per object; the store is
// shared by every process of the emulation root (TaskStore.h for its consistency).
#pragma once

#include <memory>
#include <vector>

#include "platform/host/TaskStore.h"
#include "platform/win32/ComApi.h"

extern const CLSID CLSID_TaskScheduler;
extern const IID IID_ITaskService;
extern const IID IID_ILogonTrigger;
extern const IID IID_IExecAction;

#define SCHED_E_TASK_DISABLED (static_cast<HRESULT>(0x80041326u))
#define SCHED_E_SERVICE_NOT_CONNECTED (static_cast<HRESULT>(0x800704E3u))

enum TASK_TRIGGER_TYPE2 { TASK_TRIGGER_EVENT = 0, TASK_TRIGGER_TIME = 1, TASK_TRIGGER_LOGON = 9 };
enum TASK_ACTION_TYPE { TASK_ACTION_EXEC = 0 };
enum TASK_RUNLEVEL_TYPE { TASK_RUNLEVEL_LUA = 0, TASK_RUNLEVEL_HIGHEST = 1 };
enum TASK_LOGON_TYPE {
    TASK_LOGON_NONE = 0,
    TASK_LOGON_PASSWORD = 1,
    TASK_LOGON_S4U = 2,
    TASK_LOGON_INTERACTIVE_TOKEN = 3
};
enum TASK_CREATION { TASK_VALIDATE_ONLY = 1, TASK_CREATE = 2, TASK_UPDATE = 4, TASK_CREATE_OR_UPDATE = 6 };
enum TASK_ENUM_FLAGS { TASK_ENUM_HIDDEN = 1 };
enum TASK_STATE {
    TASK_STATE_UNKNOWN = 0,
    TASK_STATE_DISABLED = 1,
    TASK_STATE_READY = 3,
    TASK_STATE_RUNNING = 4
};

class ITaskFolder;
class IRegisteredTask;

// The definition parts share the definition's data, so each stays valid on its own.
typedef std::shared_ptr<zbw::TASKDATA> TaskDataRef;

class IRegistrationInfo : public IUnknown {
   public:
    explicit IRegistrationInfo(TaskDataRef data) : m_data(std::move(data)) {}
    HRESULT get_Author(BSTR* author);
    HRESULT put_Author(BSTR author);
    HRESULT get_Description(BSTR* description);
    HRESULT put_Description(BSTR description);

   private:
    TaskDataRef m_data;
};

class IPrincipal : public IUnknown {
   public:
    explicit IPrincipal(TaskDataRef data) : m_data(std::move(data)) {}
    HRESULT get_RunLevel(TASK_RUNLEVEL_TYPE* level);
    HRESULT put_RunLevel(TASK_RUNLEVEL_TYPE level);
    HRESULT get_UserId(BSTR* user);
    HRESULT put_UserId(BSTR user);

   private:
    TaskDataRef m_data;
};

class ITaskSettings : public IUnknown {
   public:
    explicit ITaskSettings(TaskDataRef data) : m_data(std::move(data)) {}
    HRESULT get_StartWhenAvailable(VARIANT_BOOL* value);
    HRESULT put_StartWhenAvailable(VARIANT_BOOL value);
    HRESULT get_DisallowStartIfOnBatteries(VARIANT_BOOL* value);
    HRESULT put_DisallowStartIfOnBatteries(VARIANT_BOOL value);
    HRESULT get_AllowHardTerminate(VARIANT_BOOL* value);
    HRESULT put_AllowHardTerminate(VARIANT_BOOL value);
    HRESULT get_Enabled(VARIANT_BOOL* value);
    HRESULT put_Enabled(VARIANT_BOOL value);
    // "PT0S" means no limit.
    HRESULT get_ExecutionTimeLimit(BSTR* limit);
    HRESULT put_ExecutionTimeLimit(BSTR limit);

   private:
    TaskDataRef m_data;
};

class ITrigger : public IUnknown {
   public:
    ITrigger(TaskDataRef data, size_t index) : m_data(std::move(data)), m_index(index) {}
    HRESULT get_Type(TASK_TRIGGER_TYPE2* type);
    HRESULT get_Id(BSTR* id);
    HRESULT put_Id(BSTR id);
    HRESULT get_StartBoundary(BSTR* start);
    HRESULT put_StartBoundary(BSTR start);
    HRESULT get_Enabled(VARIANT_BOOL* value);
    HRESULT put_Enabled(VARIANT_BOOL value);

   protected:
    zbw::TASKTRIGGERDATA& Data() { return m_data->triggers[m_index]; }

   private:
    TaskDataRef m_data;
    size_t m_index;
};

class ILogonTrigger : public ITrigger {
   public:
    using ITrigger::ITrigger;
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    HRESULT get_UserId(BSTR* user);
    HRESULT put_UserId(BSTR user);
};

class ITriggerCollection : public IUnknown {
   public:
    explicit ITriggerCollection(TaskDataRef data) : m_data(std::move(data)) {}
    HRESULT get_Count(LONG* count);
    // 1-based.
    HRESULT get_Item(LONG index, ITrigger** trigger);
    HRESULT Create(TASK_TRIGGER_TYPE2 type, ITrigger** trigger);

   private:
    TaskDataRef m_data;
};

class IAction : public IUnknown {
   public:
    IAction(TaskDataRef data, size_t index) : m_data(std::move(data)), m_index(index) {}
    HRESULT get_Type(TASK_ACTION_TYPE* type);

   protected:
    zbw::TASKACTIONDATA& Data() { return m_data->actions[m_index]; }

   private:
    TaskDataRef m_data;
    size_t m_index;
};

class IExecAction : public IAction {
   public:
    using IAction::IAction;
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    // A Windows path of the program.
    HRESULT get_Path(BSTR* path);
    HRESULT put_Path(BSTR path);
    HRESULT get_Arguments(BSTR* arguments);
    HRESULT put_Arguments(BSTR arguments);
};

class IActionCollection : public IUnknown {
   public:
    explicit IActionCollection(TaskDataRef data) : m_data(std::move(data)) {}
    HRESULT get_Count(LONG* count);
    // 1-based.
    HRESULT get_Item(LONG index, IAction** action);
    HRESULT Create(TASK_ACTION_TYPE type, IAction** action);

   private:
    TaskDataRef m_data;
};

class ITaskDefinition : public IUnknown {
   public:
    explicit ITaskDefinition(TaskDataRef data) : m_data(std::move(data)) {}
    HRESULT get_RegistrationInfo(IRegistrationInfo** info);
    HRESULT get_Principal(IPrincipal** principal);
    HRESULT get_Settings(ITaskSettings** settings);
    HRESULT get_Triggers(ITriggerCollection** triggers);
    HRESULT get_Actions(IActionCollection** actions);
    const zbw::TASKDATA& Data() const { return *m_data; }

   private:
    TaskDataRef m_data;
};

class IRunningTask : public IUnknown {
   public:
    explicit IRunningTask(DWORD pid) : m_pid(pid) {}
    HRESULT get_EnginePID(DWORD* pid);

   private:
    DWORD m_pid;
};

class IRegisteredTask : public IUnknown {
   public:
    IRegisteredTask(std::vector<CString> folder, CString name);
    HRESULT get_Name(BSTR* name);
    HRESULT get_Path(BSTR* path);
    HRESULT get_Enabled(VARIANT_BOOL* enabled);
    HRESULT put_Enabled(VARIANT_BOOL enabled);
    HRESULT get_State(TASK_STATE* state);
    // A copy of the stored definition.
    HRESULT get_Definition(ITaskDefinition** definition);
    // Starts every exec action; SCHED_E_TASK_DISABLED when disabled. runningTask may be null.
    HRESULT Run(VARIANT params, IRunningTask** runningTask);
    // Ends the running instances; S_OK also when none runs.
    HRESULT Stop(LONG flags);

   private:
    HRESULT Load(zbw::TASKDATA& data) const;

    std::vector<CString> m_folder;
    CString m_name;
    std::string m_file;
};

class IRegisteredTaskCollection : public IUnknown {
   public:
    explicit IRegisteredTaskCollection(std::vector<IRegisteredTask*> tasks) : m_tasks(std::move(tasks)) {}
    ~IRegisteredTaskCollection() override;
    HRESULT get_Count(LONG* count);
    // A VT_I4 index from 1, or a VT_BSTR name.
    HRESULT get_Item(VARIANT index, IRegisteredTask** task);

   private:
    std::vector<IRegisteredTask*> m_tasks;
};

class ITaskFolderCollection : public IUnknown {
   public:
    explicit ITaskFolderCollection(std::vector<ITaskFolder*> folders) : m_folders(std::move(folders)) {}
    ~ITaskFolderCollection() override;
    HRESULT get_Count(LONG* count);
    // A VT_I4 index from 1.
    HRESULT get_Item(VARIANT index, ITaskFolder** folder);

   private:
    std::vector<ITaskFolder*> m_folders;
};

// Paths given to a folder are relative to it; a leading "\" changes nothing.
class ITaskFolder : public IUnknown {
   public:
    explicit ITaskFolder(std::vector<CString> names);
    HRESULT get_Name(BSTR* name);
    HRESULT get_Path(BSTR* path);
    HRESULT GetFolder(BSTR path, ITaskFolder** folder);
    HRESULT CreateFolder(BSTR path, VARIANT sddl, ITaskFolder** folder);
    // Only an empty folder goes (0x80070091 otherwise).
    HRESULT DeleteFolder(BSTR path, LONG flags);
    HRESULT GetTask(BSTR path, IRegisteredTask** task);
    HRESULT GetTasks(LONG flags, IRegisteredTaskCollection** tasks);
    HRESULT GetFolders(LONG flags, ITaskFolderCollection** folders);
    HRESULT DeleteTask(BSTR path, LONG flags);
    HRESULT RegisterTaskDefinition(BSTR path, ITaskDefinition* definition, LONG flags, VARIANT userId,
                                   VARIANT password, TASK_LOGON_TYPE logonType, VARIANT sddl,
                                   IRegisteredTask** task);

   private:
    // This folder's names followed by those of path; false for a name not allowed.
    bool Resolve(BSTR path, std::vector<CString>& names) const;

    std::vector<CString> m_names;
    std::string m_host;
};

class ITaskService : public IUnknown {
   public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    // Only the local machine and the current user: a server name gives E_NOTIMPL.
    HRESULT Connect(VARIANT serverName, VARIANT user, VARIANT domain, VARIANT password);
    HRESULT get_Connected(VARIANT_BOOL* connected);
    HRESULT GetFolder(BSTR path, ITaskFolder** folder);
    HRESULT NewTask(DWORD flags, ITaskDefinition** definition);

   private:
    bool m_connected = false;
};

namespace zbw {
// The object behind CLSID_TaskScheduler, with one reference.
IUnknown* NewTaskService();
}  // namespace zbw
