// The Windows path model over the host file system.
//
// The system works on Windows paths; they become host paths only here, at the file boundary.
// "\" and "/" both separate; "\\?\" and "\\?\UNC\" prefixes are stripped; "." and ".." are
// resolved on the text, as Windows does, and never climb above a drive or share root. A path
// without a drive is taken relative to the current folder, one that starts with a single
// separator relative to the current folder's root.
//
// Drive letters name host folders through the drive map, $ZBW_ROOT/machine/drives, one mapping a
// line: "D:=/host/folder" (letters in either case; blank lines and lines starting with "#" or ";"
// are skipped). C: is "/" unless the map says otherwise. UNC paths "\\server\share\rest" go
// through the share map, $ZBW_ROOT/machine/shares, lines "\\server\share=/host/folder" (server and
// share names case-insensitive). Host names stay case-sensitive. A host path that no drive covers
// comes back rooted but without a drive ("\opt\x").
//
// The program's own path is shown in Windows form with ".exe" appended; a Windows path that ends
// in ".exe" reaches the host file without the suffix when only that one exists (ToHostProgramPath,
// used wherever an existing file is opened, examined or started).
//
// Thread-safe. The maps are read again whenever their files change. Failures set the last error:
// ERROR_PATH_NOT_FOUND for an empty path or a drive without a mapping, ERROR_BAD_NETPATH for an
// unknown server or share.
#pragma once

#include <string>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

namespace zbw {

// UTF-8 host path (absolute), or "" when the path cannot be mapped.
std::string ToHostPath(const CString& windowsPath);
// ToHostPath with the ".exe" rule.
std::string ToHostProgramPath(const CString& windowsPath);
// Windows form of a host path: an absolute one under the drive whose folder holds it most
// closely; a relative one with its separators turned into "\".
CString ToWindowsPath(const std::string& hostPath);
// The full Windows path (GetFullPathNameW's result); "" for an empty path.
CString FullWindowsPath(const CString& path);
// True when a full path names a drive root ("C:\") or a share root ("\\server\share\").
bool IsRootPath(const CString& fullPath);
// Host path of the running program (without any ".exe").
std::string ProgramHostPath();

// The map files, and edits of them for tests and tools: an empty host folder removes the entry.
std::string DriveMapPath();
std::string ShareMapPath();
bool MapDrive(char16_t letter, const std::string& hostFolder);
bool MapShare(const CString& server, const CString& share, const std::string& hostFolder);

}  // namespace zbw

// NULL is the program (so is every other module handle: the layer has one image per process).
// Windows form with ".exe"; a short buffer gets the truncated, terminated path, the result is
// size and the last error ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
// "C:\", then every mapped letter in order, each ended by a zero, and a final zero. The result
// is the length without the final zero, or the size needed when the buffer is too short.
DWORD GetLogicalDriveStringsW(DWORD size, LPWSTR buffer);
// The host's current folder in Windows form, without a trailing "\" except at a root.
DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer);
BOOL SetCurrentDirectoryW(LPCWSTR path);
// filePart (optional) points at the last component in buffer, or is NULL when the path ends
// in a separator.
DWORD GetFullPathNameW(LPCWSTR fileName, DWORD size, LPWSTR buffer, LPWSTR* filePart);
