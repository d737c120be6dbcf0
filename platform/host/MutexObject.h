// The kernel object behind a mutex handle (CreateMutexW / OpenMutexW, SyncApi.h).
//
// Owned by one thread at a time and re-entrant for it: every wait that succeeds counts, and the
// owner releases as often as it waited. A release by another thread fails (ERROR_NOT_OWNER).
// When the owner thread ends while holding it, the mutex is abandoned: the next waiter gets it
// with WAIT_ABANDONED. An unnamed mutex learns of its owner's end from a thread-exit hook and
// offers a descriptor to poll; a named one records its owner (process and thread id) in the
// name's shared file, finds a dead owner by probing it, and is polled in slices.
// Thread-safe.
#pragma once

#include <memory>
#include <mutex>

#include "platform/host/KernelObject.h"
#include "platform/host/NamedObject.h"
#include "platform/host/SignalFd.h"

class CMutexObject : public CKernelObject {
   public:
    struct STATE {
        uint64_t owner;  // process id << 32 | thread id; 0 when free
        uint32_t recursion;
        uint32_t abandoned;
    };

    CMutexObject();
    explicit CMutexObject(std::unique_ptr<zbw::CNamedObject> named);
    // Fills a new named mutex's shared state; ownedByCaller makes the calling thread its owner.
    static void InitState(void* state, bool ownedByCaller);

    bool IsWaitable() const override { return true; }
    Acquire TryAcquire() override;
    bool IsSignalled() override;
    void Unacquire() override;
    int WaitFd() const override;
    zbw::CSignalFd* Signal() override { return m_fd.get(); }

    // FALSE with ERROR_NOT_OWNER when the calling thread does not own it.
    BOOL ReleaseOwnership();
    // Thread-exit hook: the ending thread still owns it.
    void AbandonByOwner();

   private:
    bool OwnerGone(uint64_t owner) const;
    bool ReleaseOnce(bool restoreAbandoned);

    STATE m_local{};
    STATE* m_state;
    std::unique_ptr<zbw::CNamedObject> m_named;
    std::unique_ptr<zbw::CSignalFd> m_fd;
    std::mutex m_lock;
    bool m_takenAbandoned = false;  // written only by the owner
};
