// The binding of the task-scheduler library "jorvell.dll", shared by the engine (its logon task)
// and the uninstall tool. On Windows Vista and later the library is loaded by file name (beside
// the program, then along PATH) and its six exports bound by name; before Vista nothing is
// loaded. Every wrapper returns -1 when the system is older, the library is missing or the
// export is; otherwise the library's result code, with its message in the caller's buffer.
//
// The engine's task is "Quarn Software\ZBEngine Tasks\Start ZBEngine for <user>" in the folder
// "\Quarn Software\ZBEngine Tasks" of "\Quarn Software".
//
// Threads: the main thread only (engine start, shutdown command, the tool's main). The library
// is freed by Unload and in the destructor. Nothing is logged here.
#pragma once

#include "jorvell/Jorvell.h"
#include "platform/base/CString.h"
#include "platform/win32/LateBound.h"

class CSchedulerTaskLib {
   public:
    // Characters of every message buffer handed to the library (the terminating zero included).
    static const int kMessageLength = 255;
    static const char16_t kTaskFolder[];
    static const char16_t kCompanyFolder[];

    CSchedulerTaskLib();
    ~CSchedulerTaskLib();
    CSchedulerTaskLib(const CSchedulerTaskLib&) = delete;
    CSchedulerTaskLib& operator=(const CSchedulerTaskLib&) = delete;

    // Unload, then load again for the Windows version of now.
    void Load();
    // Frees the library and clears every pointer; the Vista flag is read again.
    void Unload();

    bool IsVistaOrLater() const { return m_vistaOrLater; }
    bool IsLoaded() const { return m_module != nullptr; }
    // The engine's task path for the current user.
    static CString EngineTaskPath();

    // message: a buffer of at least kMessageLength characters.
    int CreateEngineSchedulerTask(LPWSTR message, HRESULT* hr, LPCWSTR programPath);
    int EngineSchedulerTaskExists(LPWSTR message);
    int DeleteEngineSchedulerTask(LPWSTR message);
    int DeleteSchedulerTaskFolder(LPWSTR message, BOOL isFolder, LPCWSTR folderPath);
    // The level (1 low ... 4 system, other values unknown) and its text; -1 without the export.
    int GetProcessIntegrityLevelText(CString& text);

   private:
    bool Usable(const void* function) const { return m_vistaOrLater && m_module && function; }

    bool m_vistaOrLater = false;
    HMODULE m_module = nullptr;
    PFN_DLL_CreateSchedulerTask m_create = nullptr;
    PFN_DLL_SchedulerTaskExists m_exists = nullptr;
    PFN_DLL_DeleteSchedulerTask m_delete = nullptr;
    PFN_DLL_StopSchedulerTask m_stop = nullptr;
    PFN_DLL_EnableSchedulerTask m_enable = nullptr;
    PFN_DLL_GetProcessIntegrityLevel m_integrity = nullptr;
};
