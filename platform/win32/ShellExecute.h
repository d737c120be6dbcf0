// The shell's "open": ShellExecuteW and ShellExecuteExW.
//
// "open" (or no verb) of a program starts it, with lpParameters split by the CommandLineToArgvW
// rules and lpDirectory as its folder. A program is a file we may execute that begins as an ELF
// image or a "#!" script; the ".exe" rule of CreateProcessW applies. Any other file, a folder or
// a URL ("scheme://..." or "mailto:") goes to xdg-open when it is on PATH (parameters are then
// dropped); without it the call fails with SE_ERR_NOASSOC / ERROR_NO_ASSOCIATION, as for a
// file type without an association. Other verbs fail the same way.
//
// Errors: a missing file gives SE_ERR_FNF with ERROR_FILE_NOT_FOUND, a missing folder on the way
// SE_ERR_PNF with ERROR_PATH_NOT_FOUND, a file we may not run SE_ERR_ACCESSDENIED. ShellExecuteW
// returns a value above 32 on success. SEE_MASK_NOCLOSEPROCESS hands out the started process
// (closed by the caller); without it the child is reaped unseen. Window, show mode, class keys
// and other mask bits are accepted and ignored. Thread-safe.
#pragma once

#include "platform/base/WinTypes.h"

#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_OOM 8
#define SE_ERR_NOASSOC 31

#define SEE_MASK_DEFAULT 0x00000000u
#define SEE_MASK_NOCLOSEPROCESS 0x00000040u
#define SEE_MASK_FLAG_NO_UI 0x00000400u

struct SHELLEXECUTEINFOW {
    DWORD cbSize;
    ULONG fMask;
    HWND hwnd;
    LPCWSTR lpVerb;
    LPCWSTR lpFile;
    LPCWSTR lpParameters;
    LPCWSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    void* lpIDList;
    LPCWSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    union {
        HANDLE hIcon;
        HANDLE hMonitor;
    };
    HANDLE hProcess;
};
typedef SHELLEXECUTEINFOW* LPSHELLEXECUTEINFOW;

HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters,
                        LPCWSTR lpDirectory, INT nShowCmd);
// FALSE with the last error set and hInstApp holding the SE_ERR_ code on failure.
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo);
