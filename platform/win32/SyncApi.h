// Events, mutexes, semaphores and critical sections with the Windows API names.
//
// Unnamed objects live in this process. Named ones ("Global\x", "Local\x" or "x") are shared
// with every process of the emulation root and keep the Windows lifetime: the name goes when the
// last handle to it is closed or its last holder process dies (NamedObject.h). Create* on a name
// that exists opens it, ignores the initial state, owner or counts given, and sets
// ERROR_ALREADY_EXISTS (else the last error is 0); a name held by another kind of object fails
// with ERROR_INVALID_HANDLE; Open* on an absent name fails with ERROR_FILE_NOT_FOUND. Access
// masks, inheritance and security attributes are accepted and ignored: every holder may do
// everything. Functions on a handle of the wrong kind fail with ERROR_INVALID_HANDLE.
// Any thread may call them; waits are in Wait.h. PulseEvent is left out.
#pragma once

#include <pthread.h>

#include "platform/base/WinTypes.h"

#define MUTEX_MODIFY_STATE 0x0001u
#define MUTEX_ALL_ACCESS 0x001F0001u
#define EVENT_MODIFY_STATE 0x0002u
#define EVENT_ALL_ACCESS 0x001F0003u
#define SEMAPHORE_MODIFY_STATE 0x0002u
#define SEMAPHORE_ALL_ACCESS 0x001F0003u

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
HANDLE OpenEventW(DWORD access, BOOL inherit, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Re-entrant for the owner thread; abandoned (WAIT_ABANDONED to the next waiter) when the owner
// thread ends holding it.
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCWSTR name);
HANDLE OpenMutexW(DWORD access, BOOL inherit, LPCWSTR name);
// FALSE with ERROR_NOT_OWNER when the calling thread does not own it.
BOOL ReleaseMutex(HANDLE mutex);

// 0 <= initialCount <= maximumCount and maximumCount > 0, else ERROR_INVALID_PARAMETER.
HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initialCount, LONG maximumCount, LPCWSTR name);
HANDLE OpenSemaphoreW(DWORD access, BOOL inherit, LPCWSTR name);
// FALSE with ERROR_TOO_MANY_POSTS (count unchanged) when the maximum would be passed;
// previousCount (optional) gets the count before the release.
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount);

// A re-entrant lock of one process, not a kernel object: it cannot be waited on with the
// handle waits. Initialise before use and delete after the last use.
struct CRITICAL_SECTION {
    pthread_mutex_t mutex;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
// TRUE when the calling thread now holds it (also when it already did); never waits.
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
