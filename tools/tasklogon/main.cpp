// tasklogon [user]: what a logon does to the emulated task scheduler. Runs every enabled task of
// the store with an enabled logon trigger for the user (default: the current one; a trigger
// without a user fires for everybody) and prints one line per task started.
// Exit code 0, or 1 when a task could not be started (its line says why).
#include <cstdio>

#include "platform/base/TextConvert.h"
#include "platform/win32/Accounts.h"
#include "platform/win32/TaskScheduler.h"

namespace {

bool FiresFor(const zbw::TASKDATA& task, const CString& user) {
    if (!task.enabled) return false;
    for (const zbw::TASKTRIGGERDATA& trigger : task.triggers)
        if (trigger.enabled && trigger.type == TASK_TRIGGER_LOGON &&
            (trigger.userId.IsEmpty() || trigger.userId.CompareNoCase(user) == 0))
            return true;
    return false;
}

// Starts the folder's tasks for user, then those of its subfolders; false when one failed.
bool LogOnIn(ITaskFolder* folder, const CString& user) {
    bool ok = true;
    CComRef<IRegisteredTaskCollection> tasks;
    LONG count = 0;
    if (SUCCEEDED(folder->GetTasks(0, &tasks))) tasks->get_Count(&count);
    for (LONG i = 1; i <= count; ++i) {
        CComRef<IRegisteredTask> task;
        CComRef<ITaskDefinition> definition;
        if (FAILED(tasks->get_Item(zbw::IndexVariant(i), &task)) || FAILED(task->get_Definition(&definition)))
            continue;
        if (!FiresFor(definition->Data(), user)) continue;
        BSTR path = nullptr;
        task->get_Path(&path);
        VARIANT none;
        VariantInit(&none);
        HRESULT hr = task->Run(none, nullptr);
        std::printf("%s %s (0x%x)\n", SUCCEEDED(hr) ? "started" : "failed", zbw::ToUtf8(path).c_str(),
                    static_cast<unsigned>(hr));
        SysFreeString(path);
        ok = ok && SUCCEEDED(hr);
    }
    CComRef<ITaskFolderCollection> folders;
    count = 0;
    if (SUCCEEDED(folder->GetFolders(0, &folders))) folders->get_Count(&count);
    for (LONG i = 1; i <= count; ++i) {
        CComRef<ITaskFolder> sub;
        if (SUCCEEDED(folders->get_Item(zbw::IndexVariant(i), &sub))) ok = LogOnIn(sub.Get(), user) && ok;
    }
    return ok;
}

CString CurrentUser() {
    char16_t user[UNLEN + 1] = {};
    DWORD size = UNLEN + 1;
    return GetUserNameW(user, &size) ? CString(user) : CString();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fputs("usage: tasklogon [user]\n", stderr);
        return 2;
    }
    CString user = argc == 2 ? zbw::FromUtf8(argv[1]) : CurrentUser();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    bool ok = false;
    {
        CComRef<ITaskService> service;
        CComRef<ITaskFolder> root;
        VARIANT empty;
        VariantInit(&empty);
        BSTR rootPath = SysAllocString(u"\\");
        if (SUCCEEDED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                       reinterpret_cast<void**>(&service))) &&
            SUCCEEDED(service->Connect(empty, empty, empty, empty)) &&
            SUCCEEDED(service->GetFolder(rootPath, &root)))
            ok = LogOnIn(root.Get(), user);
        SysFreeString(rootPath);
    }
    CoUninitialize();
    return ok ? 0 : 1;
}
