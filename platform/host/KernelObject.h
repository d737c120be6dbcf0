// Kernel objects and their handles.
//
// Every HANDLE the layer hands out (events, mutexes, semaphores, threads, processes, files,
// file mappings, change notifications ...) points at a CKernelObject. Handles are counted
// references: CloseHandle drops one, and the object goes with its last reference. A handle that
// is not live is refused with ERROR_INVALID_HANDLE instead of being followed.
//
// Waiting: an object that can be waited on says whether it is signalled and, for the kinds a
// wait takes (auto-reset events, mutexes, semaphores), takes it atomically. It offers a
// descriptor that turns readable when its state may have changed; objects without one are
// polled in short slices; in-process objects make that descriptor only for waits that combine
// them with others, and a wait on one alone sleeps on its state (Signal). The waits themselves
// (WaitForSingleObject and friends) are in Wait.h.
#pragma once

#include <atomic>

#include "platform/base/WinTypes.h"

namespace zbw {
class CSignalFd;
}

class CKernelObject {
   public:
    enum class Acquire { No, Yes, Abandoned };

    CKernelObject() = default;
    CKernelObject(const CKernelObject&) = delete;
    CKernelObject& operator=(const CKernelObject&) = delete;
    virtual ~CKernelObject() = default;

    // False for objects that cannot be waited on (plain files, mappings).
    virtual bool IsWaitable() const { return false; }
    // Signalled? For the kinds a wait takes, also takes it (Abandoned for a mutex whose
    // owner ended without releasing it; the caller then owns it).
    virtual Acquire TryAcquire() { return Acquire::No; }
    // Signalled, without taking (for wait-all).
    virtual bool IsSignalled() { return false; }
    // Gives back what a TryAcquire took (wait-all backs out when another object is not ready).
    virtual void Unacquire() {}
    // Readable when the state may have changed; -1 when waiters must poll in slices.
    virtual int WaitFd() const { return -1; }
    // True when every change to signalled makes WaitFd readable, so a wait that slept out its
    // time on the descriptors needs no last look; false for a state that turns signalled with
    // time alone.
    virtual bool FdShowsEveryChange() const { return true; }
    // The in-process state of an object whose lone waiters sleep until it changes, without a
    // descriptor; null for the others (their waits use WaitFd).
    virtual zbw::CSignalFd* Signal() { return nullptr; }

    void AddRef() { m_refs.fetch_add(1); }
    // Deletes the object on its last reference.
    void Release() {
        if (m_refs.fetch_sub(1) == 1) delete this;
    }

   private:
    std::atomic<int> m_refs{0};
};

// A counted reference to a kernel object; empty when the handle was not live.
class CKernelRef {
   public:
    CKernelRef() = default;
    explicit CKernelRef(CKernelObject* obj) : m_obj(obj) {}  // takes one reference
    CKernelRef(const CKernelRef& other) : m_obj(other.m_obj) {
        if (m_obj) m_obj->AddRef();
    }
    CKernelRef& operator=(CKernelRef other) {
        CKernelObject* tmp = m_obj;
        m_obj = other.m_obj;
        other.m_obj = tmp;
        return *this;
    }
    ~CKernelRef() {
        if (m_obj) m_obj->Release();
    }
    CKernelObject* Get() const { return m_obj; }
    CKernelObject* operator->() const { return m_obj; }
    explicit operator bool() const { return m_obj != nullptr; }
    template <class T>
    T* As() const {
        return dynamic_cast<T*>(m_obj);
    }

   private:
    CKernelObject* m_obj = nullptr;
};

namespace zbw {

// Registers a new object and returns its first handle (the object must not be registered yet).
HANDLE NewHandle(CKernelObject* obj);
// Another handle to the same object (DuplicateHandle within the process).
HANDLE AddHandle(HANDLE handle);
// The object behind a live handle, with a reference; empty (and ERROR_INVALID_HANDLE) otherwise.
CKernelRef LookupHandle(HANDLE handle);

}  // namespace zbw

// Drops one handle; FALSE with ERROR_INVALID_HANDLE when it was not live.
BOOL CloseHandle(HANDLE handle);
