#include "platform/win32/SyncApi.h"

#include <memory>

#include "platform/base/WinError.h"
#include "platform/host/EventObject.h"
#include "platform/host/KernelObject.h"
#include "platform/host/MutexObject.h"
#include "platform/host/NamedObject.h"
#include "platform/host/SemaphoreObject.h"

namespace {

bool IsNamed(LPCWSTR name) {
    return name && *name;
}

// Opens or creates a named object of kind T. init fills the shared state of a new one.
template <class T>
HANDLE OpenNamed(LPCWSTR name, zbw::NamedKind kind, bool create, const std::function<void(void*)>& init) {
    bool existed = false;
    std::unique_ptr<zbw::CNamedObject> named = zbw::CNamedObject::Open(name, kind, create, 0, init, &existed);
    if (!named) return nullptr;
    HANDLE handle = zbw::NewHandle(new T(std::move(named)));
    SetLastError(create && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

HANDLE NewUnnamed(CKernelObject* obj) {
    HANDLE handle = zbw::NewHandle(obj);
    SetLastError(ERROR_SUCCESS);
    return handle;
}

template <class T>
CKernelRef Lookup(HANDLE handle) {
    CKernelRef ref = zbw::LookupHandle(handle);
    if (ref && !ref.As<T>()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return CKernelRef();
    }
    return ref;
}

}  // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    if (!IsNamed(name)) return NewUnnamed(new CEventObject(manualReset != FALSE, initialState != FALSE));
    return OpenNamed<CEventObject>(name, zbw::NamedKind::Event, true, [&](void* state) {
        CEventObject::InitState(state, manualReset != FALSE, initialState != FALSE);
    });
}

HANDLE OpenEventW(DWORD, BOOL, LPCWSTR name) {
    if (!IsNamed(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return OpenNamed<CEventObject>(name, zbw::NamedKind::Event, false, nullptr);
}

BOOL SetEvent(HANDLE event) {
    CKernelRef ref = Lookup<CEventObject>(event);
    if (!ref) return FALSE;
    ref.As<CEventObject>()->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    CKernelRef ref = Lookup<CEventObject>(event);
    if (!ref) return FALSE;
    ref.As<CEventObject>()->Reset();
    return TRUE;
}

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name) {
    if (!IsNamed(name)) {
        auto* mutex = new CMutexObject();
        HANDLE handle = zbw::NewHandle(mutex);
        if (initialOwner) mutex->TryAcquire();
        SetLastError(ERROR_SUCCESS);
        return handle;
    }
    return OpenNamed<CMutexObject>(name, zbw::NamedKind::Mutex, true, [&](void* state) {
        CMutexObject::InitState(state, initialOwner != FALSE);
    });
}

HANDLE OpenMutexW(DWORD, BOOL, LPCWSTR name) {
    if (!IsNamed(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return OpenNamed<CMutexObject>(name, zbw::NamedKind::Mutex, false, nullptr);
}

BOOL ReleaseMutex(HANDLE mutex) {
    CKernelRef ref = Lookup<CMutexObject>(mutex);
    if (!ref) return FALSE;
    return ref.As<CMutexObject>()->ReleaseOwnership();
}

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES, LONG initialCount, LONG maximumCount, LPCWSTR name) {
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!IsNamed(name)) return NewUnnamed(new CSemaphoreObject(initialCount, maximumCount));
    return OpenNamed<CSemaphoreObject>(name, zbw::NamedKind::Semaphore, true, [&](void* state) {
        CSemaphoreObject::InitState(state, initialCount, maximumCount);
    });
}

HANDLE OpenSemaphoreW(DWORD, BOOL, LPCWSTR name) {
    if (!IsNamed(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return OpenNamed<CSemaphoreObject>(name, zbw::NamedKind::Semaphore, false, nullptr);
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount) {
    CKernelRef ref = Lookup<CSemaphoreObject>(semaphore);
    if (!ref) return FALSE;
    if (releaseCount <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return ref.As<CSemaphoreObject>()->Add(releaseCount, previousCount);
}

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&section->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    pthread_mutex_lock(&section->mutex);
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
    return pthread_mutex_trylock(&section->mutex) == 0 ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    pthread_mutex_unlock(&section->mutex);
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    pthread_mutex_destroy(&section->mutex);
}
