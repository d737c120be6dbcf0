// Binding functions by name at run time: LoadLibraryW, GetModuleHandleW, GetProcAddress and
// FreeLibrary.
//
// The system modules are an internal table of the optional functions the system binds by name:
//   KERNEL32  GetProductInfo (6.0), GetNativeSystemInfo (5.1), GetComputerNameExW, ReplaceFileW
//   secur32   GetUserNameExW
//   user32    none yet (ShutdownBlockReasonCreate/Destroy, from 6.0, join with the message layer)
//   shell32   SHGetSpecialFolderPathW (always), SHGetFolderPathW
//   SHFolder  SHGetFolderPathW (always)
//   NTDLL     RtlGetVersion
// A function newer than the emulated Windows version (WinVersion.h; in brackets, else 5.0) is
// missing, as it would be there.
// Module names match without case, with or without ".dll" and with or without a folder.
//
// Any other module is a real shared object opened with dlopen: "name.dll" is looked for as
// "name.dll", then "libname.so", first in the program's folder, then in each folder of PATH
// (the Windows search order, without the system folders); a name that is an absolute host path
// is opened as it is. Its functions are looked up with dlsym, so they must be extern "C".
//
// Tests hide entries so the fallbacks run: ZBW_HIDE_FUNCTIONS="KERNEL32!ReplaceFileW,user32"
// (read at every call) and HideLateBound() hide one function or a whole module, of the table or
// of a shared object alike. A hidden function makes GetProcAddress return null with
// ERROR_PROC_NOT_FOUND; a hidden module makes LoadLibraryW and GetModuleHandleW fail with
// ERROR_MOD_NOT_FOUND.
//
// Kept from Windows: results and last errors; handles are counted, FreeLibrary of the last one
// closes a shared object (table modules stay). Left out: ordinals (ERROR_PROC_NOT_FOUND),
// LoadLibraryEx flags, DllMain, Windows-form paths of a module. GetModuleHandleW(nullptr) gives
// a handle for the program itself that exports nothing.
//
// Any thread may call these functions.
#pragma once

#include "platform/base/WinTypes.h"

// void (*)() rather than Windows' INT_PTR (*)(): the one function pointer type that casts to the
// real signature without a -Wcast-function-type warning. Callers always cast it anyway.
typedef void (*FARPROC)();

HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
HMODULE GetModuleHandleW(LPCWSTR lpModuleName);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);

namespace zbw {

// Hides "MODULE!Function" or "MODULE"; several may be joined with commas.
void HideLateBound(const char* what);
// Forgets what HideLateBound hid (ZBW_HIDE_FUNCTIONS still applies).
void ResetLateBound();
// Adds a function to a table module (made when missing), for areas that provide one at start;
// it exists from Windows sinceMajor.sinceMinor on.
void AddLateBound(const char* module, const char* function, FARPROC address, DWORD sinceMajor = 0,
                  DWORD sinceMinor = 0);

}  // namespace zbw
