// CShutdownBlockLoader: ShutdownBlockReasonCreate and ShutdownBlockReasonDestroy of user32,
// bound by name, so the main window can tell the system during logoff or shutdown why the
// engine still runs, and does nothing on systems before Vista that lack them.
// g_ShutdownBlockLoader is the program's one instance; it loads user32 on first use and frees
// it when destroyed. DynShutdownBlockReasonCreate and DynShutdownBlockReasonDestroy call it.
//
// A function that is missing makes the call return 0 and is looked up again on the next call;
// otherwise the result is the function's. The reason text is fixed: "ZBEngine is stopping
// running profiles".
//
// Threads: any thread (the main window's, in practice); the binding is locked.
#pragma once

#include <mutex>

#include "platform/base/WinTypes.h"
#include "platform/win32/LateBound.h"

class CShutdownBlockLoader {
   public:
    CShutdownBlockLoader();
    ~CShutdownBlockLoader();
    CShutdownBlockLoader(const CShutdownBlockLoader&) = delete;
    CShutdownBlockLoader& operator=(const CShutdownBlockLoader&) = delete;

    int Create(HWND hWnd);
    int Destroy(HWND hWnd);

   private:
    typedef BOOL (*CREATEREASON)(HWND, LPCWSTR);
    typedef BOOL (*DESTROYREASON)(HWND);

    // The function's address, looked up now when not yet known; null when missing.
    FARPROC Bind(const char* name, FARPROC* slot);

    std::mutex m_lock;
    HMODULE m_hUser32 = nullptr;
    FARPROC m_pCreate = nullptr;
    FARPROC m_pDestroy = nullptr;
};

extern CShutdownBlockLoader g_ShutdownBlockLoader;

int DynShutdownBlockReasonCreate(HWND hWnd);
int DynShutdownBlockReasonDestroy(HWND hWnd);
