#include "common/Secur32DLL.h"

#include <vector>

#include "platform/win32/LateBound.h"

CSecur32DLL g_Secur32DLL;

CSecur32DLL::CSecur32DLL() {
    // Makes the module table before this object, so it still exists when the destructor frees
    // the modules at exit.
    GetModuleHandleW(nullptr);
}

CSecur32DLL::~CSecur32DLL() {
    if (m_hSecur32) FreeLibrary(m_hSecur32);
    if (m_hKernel32) FreeLibrary(m_hKernel32);
    m_hSecur32 = m_hKernel32 = nullptr;
    m_pGetUserNameExW = nullptr;
    m_pGetComputerNameExW = nullptr;
    m_bLoaded = false;
}

void CSecur32DLL::Load() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bLoaded) return;
    m_bLoaded = true;
    m_hSecur32 = LoadLibraryW(u"secur32.dll");
    m_hKernel32 = LoadLibraryW(u"kernel32.dll");
    if (m_hSecur32)
        m_pGetUserNameExW = reinterpret_cast<GETUSERNAMEEXW>(GetProcAddress(m_hSecur32, "GetUserNameExW"));
    if (m_hKernel32)
        m_pGetComputerNameExW =
            reinterpret_cast<GETCOMPUTERNAMEEXW>(GetProcAddress(m_hKernel32, "GetComputerNameExW"));
}

CString CSecur32DLL::GetCurrentUserName() {
    Load();
    std::vector<char16_t> buffer(kBufferSize + 1, 0);
    ULONG size = kBufferSize;
    if (m_pGetUserNameExW && m_pGetUserNameExW(NameDnsDomain, buffer.data(), &size) && buffer[0])
        return CString(buffer.data());
    buffer[0] = 0;
    DWORD plainSize = kBufferSize;
    if (GetUserNameW(buffer.data(), &plainSize)) return CString(buffer.data());
    return CString();
}

CString CSecur32DLL::GetLocalComputerName() {
    Load();
    std::vector<char16_t> buffer(kBufferSize + 1, 0);
    DWORD size = kBufferSize;
    if (m_pGetComputerNameExW && m_pGetComputerNameExW(ComputerNameDnsFullyQualified, buffer.data(), &size) &&
        buffer[0])
        return CString(buffer.data());
    buffer[0] = 0;
    size = kBufferSize;
    if (GetComputerNameW(buffer.data(), &size)) return CString(buffer.data());
    return CString();
}
