#include "common/ShutdownBlockLoader.h"

CShutdownBlockLoader g_ShutdownBlockLoader;

CShutdownBlockLoader::CShutdownBlockLoader() {
    // Makes the module table before this object, so it still exists when the destructor frees
    // user32 at exit.
    GetModuleHandleW(nullptr);
}

CShutdownBlockLoader::~CShutdownBlockLoader() {
    if (m_hUser32) FreeLibrary(m_hUser32);
    m_hUser32 = nullptr;
    m_pCreate = m_pDestroy = nullptr;
}

FARPROC CShutdownBlockLoader::Bind(const char* name, FARPROC* slot) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (*slot) return *slot;
    if (!m_hUser32) m_hUser32 = LoadLibraryW(u"user32.dll");
    if (m_hUser32) *slot = GetProcAddress(m_hUser32, name);
    return *slot;
}

int CShutdownBlockLoader::Create(HWND hWnd) {
    FARPROC create = Bind("ShutdownBlockReasonCreate", &m_pCreate);
    if (!create) return 0;
    return reinterpret_cast<CREATEREASON>(create)(hWnd, u"ZBEngine is stopping running profiles");
}

int CShutdownBlockLoader::Destroy(HWND hWnd) {
    FARPROC destroy = Bind("ShutdownBlockReasonDestroy", &m_pDestroy);
    if (!destroy) return 0;
    return reinterpret_cast<DESTROYREASON>(destroy)(hWnd);
}

int DynShutdownBlockReasonCreate(HWND hWnd) {
    return g_ShutdownBlockLoader.Create(hWnd);
}

int DynShutdownBlockReasonDestroy(HWND hWnd) {
    return g_ShutdownBlockLoader.Destroy(hWnd);
}
