#include "platform/host/SemaphoreObject.h"

#include <atomic>

#include "platform/base/WinError.h"

namespace {

std::atomic_ref<int32_t> Count(CSemaphoreObject::STATE* s) {
    return std::atomic_ref<int32_t>(s->count);
}

}  // namespace

CSemaphoreObject::CSemaphoreObject(LONG initialCount, LONG maximumCount)
    : m_state(&m_local), m_fd(std::make_unique<zbw::CSignalFd>()) {
    InitState(&m_local, initialCount, maximumCount);
    m_fd->Update(initialCount > 0);
}

CSemaphoreObject::CSemaphoreObject(std::unique_ptr<zbw::CNamedObject> named)
    : m_state(static_cast<STATE*>(named->State())), m_named(std::move(named)) {}

void CSemaphoreObject::InitState(void* state, LONG initialCount, LONG maximumCount) {
    STATE* s = static_cast<STATE*>(state);
    s->maximum = maximumCount;
    Count(s).store(initialCount);
}

CKernelObject::Acquire CSemaphoreObject::TryAcquire() {
    std::lock_guard<std::mutex> guard(m_lock);
    int32_t count = Count(m_state).load();
    do {
        if (count <= 0) return Acquire::No;
    } while (!Count(m_state).compare_exchange_weak(count, count - 1));
    if (m_fd) m_fd->Update(count - 1 > 0);
    return Acquire::Yes;
}

bool CSemaphoreObject::IsSignalled() {
    return Count(m_state).load() > 0;
}

void CSemaphoreObject::Unacquire() {
    Add(1, nullptr);
}

int CSemaphoreObject::WaitFd() const {
    return m_fd ? m_fd->Fd() : -1;
}

BOOL CSemaphoreObject::Add(LONG count, LONG* previous) {
    std::lock_guard<std::mutex> guard(m_lock);
    int32_t current = Count(m_state).load();
    do {
        if (count > m_state->maximum - current) {
            SetLastError(ERROR_TOO_MANY_POSTS);
            return FALSE;
        }
    } while (!Count(m_state).compare_exchange_weak(current, current + count));
    if (previous) *previous = current;
    if (m_fd) m_fd->Update(true);
    return TRUE;
}
