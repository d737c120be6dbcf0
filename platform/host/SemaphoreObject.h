// The kernel object behind a semaphore handle (CreateSemaphoreW / OpenSemaphoreW, SyncApi.h).
//
// A count between 0 and a maximum: a wait takes one when it is above 0, a release adds up to the
// maximum. Semaphores have no owner, so a holder that ends keeps its count taken (as on
// Windows). An unnamed semaphore offers a descriptor to poll; a named one keeps its count in the
// name's shared file and is polled in slices. Thread-safe.
#pragma once

#include <memory>
#include <mutex>

#include "platform/host/KernelObject.h"
#include "platform/host/NamedObject.h"
#include "platform/host/SignalFd.h"

class CSemaphoreObject : public CKernelObject {
   public:
    struct STATE {
        int32_t count;
        int32_t maximum;
    };

    CSemaphoreObject(LONG initialCount, LONG maximumCount);
    explicit CSemaphoreObject(std::unique_ptr<zbw::CNamedObject> named);
    static void InitState(void* state, LONG initialCount, LONG maximumCount);

    bool IsWaitable() const override { return true; }
    Acquire TryAcquire() override;
    bool IsSignalled() override;
    void Unacquire() override;
    int WaitFd() const override;
    zbw::CSignalFd* Signal() override { return m_fd.get(); }

    // Adds count; FALSE with ERROR_TOO_MANY_POSTS (count unchanged) past the maximum.
    BOOL Add(LONG count, LONG* previous);

   private:
    STATE m_local{};
    STATE* m_state;
    std::unique_ptr<zbw::CNamedObject> m_named;
    std::unique_ptr<zbw::CSignalFd> m_fd;
    std::mutex m_lock;
};
