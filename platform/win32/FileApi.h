// Win32 files and folders over the host file system.
//
// Paths are Windows paths, mapped by PathMap.h; an existing file named "x.exe" may be the host
// file "x". File handles are kernel objects (KernelObject.h) and are closed with CloseHandle;
// find handles with FindClose. Every descriptor is opened O_CLOEXEC. Failures return the Windows
// failure value and set the last error with the Windows code. Any thread may call; one handle
// used from several threads at once shares its file position, as on Windows.
//
// Kept: the access rights (read, write, none: attribute and time queries only), the five
// dispositions with their last errors (ERROR_ALREADY_EXISTS after CREATE_ALWAYS or OPEN_ALWAYS on
// an existing file, ERROR_FILE_EXISTS for CREATE_NEW), folders opened only with
// FILE_FLAG_BACKUP_SEMANTICS, FILE_ATTRIBUTE_READONLY at creation. Attributes are made up from
// the host: DIRECTORY, READONLY (no write permission for us, files only), HIDDEN (a name that
// starts with "."), and NORMAL when none of these applies; setting them changes only READONLY.
// A read-only file cannot be deleted, moved over or opened for writing. FindFirstFileW follows
// the Windows wildcard rules ("*" and "?" case-insensitive, "*.*" and "x.*" also match names
// without a dot, a pattern ending in "." matches names without one) and lists "." and ".." in
// every folder but a root; entries come sorted by name, case-insensitively.
// Left out: share modes (accepted and ignored: the host has no mandatory locks), inheritable
// handles, overlapped I/O, security attributes, alternate streams, 8.3 names, creation-time
// setting where the host cannot store it.
// The header also brings the rest of the file layer's Win32 face: paths (PathMap.h), special
// folders (Shell.h), the environment (Environment.h) and error texts (ErrorText.h).
#pragma once

#include <string>

#include "platform/base/ErrorText.h"
#include "platform/base/WinError.h"
#include "platform/base/WinTypes.h"
#include "platform/host/KernelObject.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Environment.h"
#include "platform/win32/Shell.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define FILE_READ_DATA 0x0001u
#define FILE_WRITE_DATA 0x0002u
#define FILE_APPEND_DATA 0x0004u
#define FILE_READ_ATTRIBUTES 0x0080u
#define FILE_WRITE_ATTRIBUTES 0x0100u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u

#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_COPY_ALLOWED 0x00000002u
#define MOVEFILE_WRITE_THROUGH 0x00000008u

#define REPLACEFILE_WRITE_THROUGH 0x00000001u
#define REPLACEFILE_IGNORE_MERGE_ERRORS 0x00000002u

#define STD_INPUT_HANDLE (static_cast<DWORD>(-10))
#define STD_OUTPUT_HANDLE (static_cast<DWORD>(-11))
#define STD_ERROR_HANDLE (static_cast<DWORD>(-12))

struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATAW* LPWIN32_FIND_DATAW;

enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard };

struct WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};

// FILE_APPEND_DATA without GENERIC_WRITE or FILE_WRITE_DATA opens for appending: each WriteFile
// goes to the end of the file in one step, whatever the file pointer (O_APPEND).
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
// Reads up to toRead bytes (fewer only at the end of the file; 0 there with TRUE). overlapped
// must be NULL.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod);
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* newPosition, DWORD moveMethod);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size);
// Data reach the disk (fdatasync).
BOOL FlushFileBuffers(HANDLE file);
// The file ends at the current position.
BOOL SetEndOfFile(HANDLE file);
// The creation time is the host's birth time where it keeps one, else the last-change time.
BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME lastAccess, LPFILETIME lastWrite);
// Sets access and write times; the creation time is ignored.
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite);
// The standard handles of the process (their descriptors are not closed by CloseHandle).
HANDLE GetStdHandle(DWORD which);

DWORD GetFileAttributesW(LPCWSTR fileName);
BOOL GetFileAttributesExW(LPCWSTR fileName, GET_FILEEX_INFO_LEVELS level, LPVOID info);
BOOL SetFileAttributesW(LPCWSTR fileName, DWORD attributes);

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
BOOL RemoveDirectoryW(LPCWSTR path);
BOOL DeleteFileW(LPCWSTR fileName);
// MoveFileExW with MOVEFILE_COPY_ALLOWED: fails with ERROR_ALREADY_EXISTS when the target exists.
BOOL MoveFileW(LPCWSTR existing, LPCWSTR newName);
// Across file systems a file is copied (with MOVEFILE_COPY_ALLOWED) and then removed; a folder
// cannot be (ERROR_NOT_SAME_DEVICE).
BOOL MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags);
// Writes into the existing target (open handles on it see the new contents); keeps the source's
// last-write time. A file cannot be copied onto itself (ERROR_SHARING_VIOLATION).
BOOL CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists);
// Atomic: the replacement takes the replaced file's name (and permissions) in one rename, so the
// replaced file stays whole when anything fails (also across file systems, through a copy next
// to it). Both must exist (ERROR_FILE_NOT_FOUND). A backup name, when given, keeps the old file.
BOOL ReplaceFileW(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags, LPVOID exclude,
                  LPVOID reserved);

// $TMPDIR, else $TMP, else $TEMP, else /tmp, in Windows form with a trailing "\".
DWORD GetTempPathW(DWORD size, LPWSTR buffer);
// path + "\" + up to three characters of prefix + the number in hex + ".tmp". With unique 0 a
// free number is chosen and the file is created empty; otherwise the name is only formed.
// buffer holds MAX_PATH characters. The number used, or 0 on failure.
UINT GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR buffer);

// The whole listing is taken at the first call; later changes of the folder are not seen.
HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
BOOL FindClose(HANDLE find);

namespace zbw {
// The host descriptor behind a file handle, or -1 (the handle keeps it).
int FileDescriptorOf(HANDLE file);
// A handle over a descriptor the caller hands over (pipes, sockets made into files).
HANDLE NewFileHandle(int fd, bool canRead, bool canWrite);
// Whether a file name matches a pattern by the Windows wildcard rules.
bool MatchesWildcard(const CString& name, const CString& pattern);
}  // namespace zbw
