#include "zbengschtask/SchedulerTaskLib.h"

#include "platform/WinVersion.h"

namespace {

bool RunsVistaOrLater() {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    return GetVersionExW(&version) && version.dwMajorVersion >= 6;
}

template <class F>
F Bind(HMODULE module, const char* name) {
    return reinterpret_cast<F>(GetProcAddress(module, name));
}

}  // namespace

CSchedulerTaskLib::CSchedulerTaskLib() {
    Unload();
    if (!m_vistaOrLater) return;
    m_module = LoadLibraryW(u"jorvell.dll");
    if (!m_module) return;
    m_create = Bind<PFN_DLL_CreateSchedulerTask>(m_module, "DLL_CreateSchedulerTask");
    m_exists = Bind<PFN_DLL_SchedulerTaskExists>(m_module, "DLL_SchedulerTaskExists");
    m_delete = Bind<PFN_DLL_DeleteSchedulerTask>(m_module, "DLL_DeleteSchedulerTask");
    m_integrity = Bind<PFN_DLL_GetProcessIntegrityLevel>(m_module, "DLL_GetProcessIntegrityLevel");
}

CSchedulerTaskLib::~CSchedulerTaskLib() {
    Unload();
}

void CSchedulerTaskLib::Unload() {
    if (m_module) FreeLibrary(m_module);
    m_module = nullptr;
    m_create = nullptr;
    m_exists = nullptr;
    m_delete = nullptr;
    m_integrity = nullptr;
    m_vistaOrLater = RunsVistaOrLater();
}

int CSchedulerTaskLib::DeleteSchedulerTask(LPCWSTR path, BOOL isFolder, BOOL deleteTasksFirst, LPWSTR message,
                                           int messageLength) {
    if (!m_delete) return -1;
    return m_delete(path, isFolder, deleteTasksFirst, message, messageLength);
}
