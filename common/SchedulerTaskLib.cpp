#include "common/SchedulerTaskLib.h"

#include "platform/win32/Accounts.h"
#include "platform/win32/WinVersion.h"

namespace {

const char16_t kTaskPathPrefix[] = u"Quarn Software\\ZBEngine Tasks\\Start ZBEngine for ";
const char16_t kAuthor[] = u"ZBEngine";
const DWORD kUserNameLength = 1024;

bool RunsVistaOrLater() {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    return GetVersionExW(&version) && version.dwMajorVersion > 5;
}

template <class F>
F Bind(HMODULE module, const char* name) {
    return reinterpret_cast<F>(GetProcAddress(module, name));
}

}  // namespace

const char16_t CSchedulerTaskLib::kTaskFolder[] = u"\\Quarn Software\\ZBEngine Tasks";
const char16_t CSchedulerTaskLib::kCompanyFolder[] = u"\\Quarn Software";

CSchedulerTaskLib::CSchedulerTaskLib() {
    Load();
}

CSchedulerTaskLib::~CSchedulerTaskLib() {
    Unload();
}

void CSchedulerTaskLib::Load() {
    Unload();
    if (!m_vistaOrLater) return;
    m_module = LoadLibraryW(u"jorvell.dll");
    if (!m_module) return;
    m_create = Bind<PFN_DLL_CreateSchedulerTask>(m_module, "DLL_CreateSchedulerTask");
    m_exists = Bind<PFN_DLL_SchedulerTaskExists>(m_module, "DLL_SchedulerTaskExists");
    m_delete = Bind<PFN_DLL_DeleteSchedulerTask>(m_module, "DLL_DeleteSchedulerTask");
    m_stop = Bind<PFN_DLL_StopSchedulerTask>(m_module, "DLL_StopSchedulerTask");
    m_enable = Bind<PFN_DLL_EnableSchedulerTask>(m_module, "DLL_EnableSchedulerTask");
    m_integrity = Bind<PFN_DLL_GetProcessIntegrityLevel>(m_module, "DLL_GetProcessIntegrityLevel");
}

void CSchedulerTaskLib::Unload() {
    if (m_module) FreeLibrary(m_module);
    m_module = nullptr;
    m_create = nullptr;
    m_exists = nullptr;
    m_delete = nullptr;
    m_stop = nullptr;
    m_enable = nullptr;
    m_integrity = nullptr;
    m_vistaOrLater = RunsVistaOrLater();
}

CString CSchedulerTaskLib::EngineTaskPath() {
    char16_t user[kUserNameLength + 1] = {};
    DWORD size = kUserNameLength;
    if (!GetUserNameW(user, &size)) user[0] = 0;
    return CString(kTaskPathPrefix) + user;
}

int CSchedulerTaskLib::CreateEngineSchedulerTask(LPWSTR message, HRESULT* hr, LPCWSTR programPath) {
    if (!Usable(reinterpret_cast<const void*>(m_create))) return -1;
    return m_create(hr, EngineTaskPath(), programPath, kAuthor, message, kMessageLength);
}

int CSchedulerTaskLib::EngineSchedulerTaskExists(LPWSTR message) {
    if (!Usable(reinterpret_cast<const void*>(m_exists))) return -1;
    return m_exists(EngineTaskPath(), message, kMessageLength);
}

int CSchedulerTaskLib::DeleteEngineSchedulerTask(LPWSTR message) {
    if (!Usable(reinterpret_cast<const void*>(m_delete))) return -1;
    return m_delete(EngineTaskPath(), FALSE, FALSE, message, kMessageLength);
}

int CSchedulerTaskLib::DeleteSchedulerTaskFolder(LPWSTR message, BOOL isFolder, LPCWSTR folderPath) {
    if (!Usable(reinterpret_cast<const void*>(m_delete))) return -1;
    return m_delete(folderPath, isFolder, FALSE, message, kMessageLength);
}

int CSchedulerTaskLib::GetProcessIntegrityLevelText(CString& text) {
    if (!Usable(reinterpret_cast<const void*>(m_integrity))) return -1;
    int level = m_integrity();
    switch (level) {
        case 1: text = u"Low Process Integrity Level"; break;
        case 2: text = u"Medium Process Integrity Level"; break;
        case 3: text = u"High Process Integrity Level"; break;
        case 4: text = u"System Process Integrity Level"; break;
        default: text = u"Unknown Process Integrity Level"; break;
    }
    return level;
}
