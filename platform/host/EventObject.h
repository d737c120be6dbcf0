// The kernel object behind an event handle (CreateEventW / OpenEventW, SyncApi.h).
//
// Manual-reset events stay signalled until reset and release every waiter; auto-reset events
// release one waiter and reset themselves. An unnamed event lives in this process and offers a
// descriptor to poll; a named one keeps its state in the name's shared file (NamedObject.h) and
// is polled in slices. Thread-safe. PulseEvent is left out.
#pragma once

#include <memory>
#include <mutex>

#include "platform/host/KernelObject.h"
#include "platform/host/NamedObject.h"
#include "platform/host/SignalFd.h"

class CEventObject : public CKernelObject {
   public:
    struct STATE {
        uint32_t signalled;
        uint32_t manualReset;
    };

    CEventObject(bool manualReset, bool initialState);
    explicit CEventObject(std::unique_ptr<zbw::CNamedObject> named);
    // Fills a new named event's shared state.
    static void InitState(void* state, bool manualReset, bool initialState);

    bool IsWaitable() const override { return true; }
    Acquire TryAcquire() override;
    bool IsSignalled() override;
    void Unacquire() override;
    int WaitFd() const override;
    zbw::CSignalFd* Signal() override { return m_fd.get(); }

    void Set();
    void Reset();

   private:
    void Store(uint32_t signalled);

    STATE m_local{};
    STATE* m_state;
    std::unique_ptr<zbw::CNamedObject> m_named;
    std::unique_ptr<zbw::CSignalFd> m_fd;
    std::mutex m_lock;
};
