// The shell's special folders, from the XDG folders of the host user, in Windows form.
//
//   CSIDL_APPDATA          $XDG_DATA_HOME, default $HOME/.local/share
//   CSIDL_PERSONAL         XDG_DOCUMENTS_DIR (environment, else $XDG_CONFIG_HOME/user-dirs.dirs),
//                          default $HOME/Documents
//   CSIDL_DESKTOPDIRECTORY XDG_DESKTOP_DIR the same way, default $HOME/Desktop
//
// The folder is not required to exist (a Windows profile always has these; a Linux home may
// lack some); with the create flag (fCreate, CSIDL_FLAG_CREATE) it is made. Any other folder
// id fails: FALSE, or E_INVALIDARG. The environment is read at every call. Any thread.
// Both functions are also reachable by name through LoadLibraryW("shell32.dll") and, for
// SHGetFolderPathW, "SHFolder.dll".
#pragma once

#include "platform/base/WinTypes.h"

#define CSIDL_PERSONAL 0x0005
#define CSIDL_DESKTOPDIRECTORY 0x0010
#define CSIDL_APPDATA 0x001A
#define CSIDL_FLAG_CREATE 0x8000
#define SHGFP_TYPE_CURRENT 0
#define SHGFP_TYPE_DEFAULT 1

// path holds MAX_PATH characters.
BOOL SHGetSpecialFolderPathW(HWND owner, LPWSTR path, int csidl, BOOL create);
HRESULT SHGetFolderPathW(HWND owner, int csidl, HANDLE token, DWORD flags, LPWSTR path);
