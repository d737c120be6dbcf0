// The uninstall tool's binding of the task-scheduler library: "jorvell.dll" loaded by file name
// (beside the program, then along PATH) on Windows Vista and later, four exports bound by name.
// A missing library or export makes every wrapper return -1 with an empty message.
// Owned by the main thread; the library is freed in the destructor.
#pragma once

#include "jorvell/Jorvell.h"
#include "platform/LateBound.h"

class CSchedulerTaskLib {
   public:
    CSchedulerTaskLib();
    ~CSchedulerTaskLib();
    CSchedulerTaskLib(const CSchedulerTaskLib&) = delete;
    CSchedulerTaskLib& operator=(const CSchedulerTaskLib&) = delete;

    bool IsVistaOrLater() const { return m_vistaOrLater; }
    // DLL_DeleteSchedulerTask with a message buffer of messageLength characters.
    int DeleteSchedulerTask(LPCWSTR path, BOOL isFolder, BOOL deleteTasksFirst, LPWSTR message,
                            int messageLength);

   private:
    void Unload();

    bool m_vistaOrLater = false;
    HMODULE m_module = nullptr;
    PFN_DLL_CreateSchedulerTask m_create = nullptr;
    PFN_DLL_SchedulerTaskExists m_exists = nullptr;
    PFN_DLL_DeleteSchedulerTask m_delete = nullptr;
    PFN_DLL_GetProcessIntegrityLevel m_integrity = nullptr;
};
