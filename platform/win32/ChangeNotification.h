// Folder change notifications: FindFirstChangeNotificationW, FindNextChangeNotification and
// FindCloseChangeNotification over inotify.
//
// A notification handle watches one folder, or the folder and every folder below it. Watching a
// subtree adds a watch for each subfolder at the start and for each subfolder that appears later
// (created or moved in), when the events that announce it are read. The handle is signalled while
// a change that the filter selects is pending; waits do not take it (it stays signalled, as on
// Windows). FindNextChangeNotification re-arms: it reads and drops every pending change, so the
// handle signals again only for changes after it. Once the watched folder itself has been deleted
// or moved away the handle signals that once and never again, and re-arming fails with
// ERROR_FILE_NOT_FOUND, so its owner knows to watch the folder anew when it is back. Any thread may use a
// handle.
//
// All handles of the process share one inotify instance and one watch per folder (InotifyHub.h),
// since the host allows each user only a few instances. The hub's reader thread hands each event
// to the handles watching its folder, and a look at a handle or a re-arm first reads what the
// kernel has queued, so it sees every change made before it. A handle's state wakes its waiters
// like an event's does: a lone wait sleeps on it, a wait with other objects polls a descriptor
// made for that (SignalFd.h). The reader is a thread rather than the waiters by turns because a
// waiter sleeps on its own handle's state: while it sleeps, another's look may take its events
// off the shared descriptor, and someone must still hand them to it.
//
// Filters: FILE_NOTIFY_CHANGE_FILE_NAME and _DIR_NAME (create, delete, rename of files or of
// folders), _ATTRIBUTES and _SECURITY (attribute changes), _SIZE and _LAST_WRITE (writes; a
// changed modification time counts as a write), _LAST_ACCESS (reads), _CREATION (attribute
// changes). The watched folder going away, or a lost event queue, signals as a change.
//
// Failures return INVALID_HANDLE_VALUE (FALSE for the others) with the last error: a filter
// without known bits is ERROR_INVALID_PARAMETER, a path that is not a folder ERROR_DIRECTORY,
// a missing one ERROR_PATH_NOT_FOUND / ERROR_FILE_NOT_FOUND, a handle of another kind
// ERROR_INVALID_HANDLE. Left out: ReadDirectoryChangesW (nothing calls it), watches on shares
// that the host does not report changes for, and the per-user inotify watch limit shows as a
// failure of the start or, for later subfolders, as those subfolders not being watched; when the
// process's one inotify instance cannot be made, the start fails likewise.
#pragma once

#include "platform/base/WinTypes.h"

#define FILE_NOTIFY_CHANGE_FILE_NAME 0x00000001u
#define FILE_NOTIFY_CHANGE_DIR_NAME 0x00000002u
#define FILE_NOTIFY_CHANGE_ATTRIBUTES 0x00000004u
#define FILE_NOTIFY_CHANGE_SIZE 0x00000008u
#define FILE_NOTIFY_CHANGE_LAST_WRITE 0x00000010u
#define FILE_NOTIFY_CHANGE_LAST_ACCESS 0x00000020u
#define FILE_NOTIFY_CHANGE_CREATION 0x00000040u
#define FILE_NOTIFY_CHANGE_SECURITY 0x00000100u

HANDLE FindFirstChangeNotificationW(LPCWSTR path, BOOL watchSubtree, DWORD filter);
BOOL FindNextChangeNotification(HANDLE handle);
BOOL FindCloseChangeNotification(HANDLE handle);
