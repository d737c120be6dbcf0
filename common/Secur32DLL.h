// CSecur32DLL: the current account's name and the computer's name, through the name functions
// that newer systems have (GetUserNameExW of secur32, GetComputerNameExW of KERNEL32), bound
// by name on first use, with the plain GetUserNameW and GetComputerNameW as fallbacks. The
// engine logs both at start ("Account: ", "Computer Name: "). g_Secur32DLL is the program's
// one instance; it keeps both modules until it is destroyed.
//
// GetCurrentUserName: the DNS-domain form ("NameDnsDomain"), else the plain user name.
// GetLocalComputerName: the fully qualified DNS name, else the NetBIOS name. A late-bound
// function that is missing, fails or gives an empty name falls back; when the fallback fails
// too the result is the empty text.
//
// Threads: any thread; the one-time binding is locked.
#pragma once

#include <mutex>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"
#include "platform/classlib/Object.h"
#include "platform/win32/Accounts.h"

class CSecur32DLL : public CObject {
   public:
    CSecur32DLL();
    ~CSecur32DLL() override;
    CSecur32DLL(const CSecur32DLL&) = delete;
    CSecur32DLL& operator=(const CSecur32DLL&) = delete;

    CString GetCurrentUserName();
    CString GetLocalComputerName();

   private:
    typedef BOOLEAN (*GETUSERNAMEEXW)(EXTENDED_NAME_FORMAT, LPWSTR, PULONG);
    typedef BOOL (*GETCOMPUTERNAMEEXW)(COMPUTER_NAME_FORMAT, LPWSTR, LPDWORD);
    static const DWORD kBufferSize = 4096;

    // Binds both functions once.
    void Load();

    std::mutex m_lock;
    HMODULE m_hSecur32 = nullptr;
    HMODULE m_hKernel32 = nullptr;
    GETUSERNAMEEXW m_pGetUserNameExW = nullptr;
    GETCOMPUTERNAMEEXW m_pGetComputerNameExW = nullptr;
    bool m_bLoaded = false;
};

extern CSecur32DLL g_Secur32DLL;
