#include "platform/host/EventObject.h"

#include <atomic>

namespace {

std::atomic_ref<uint32_t> Ref(uint32_t& field) {
    return std::atomic_ref<uint32_t>(field);
}

}  // namespace

CEventObject::CEventObject(bool manualReset, bool initialState)
    : m_state(&m_local), m_fd(std::make_unique<zbw::CSignalFd>()) {
    InitState(&m_local, manualReset, initialState);
    m_fd->Update(initialState);
}

CEventObject::CEventObject(std::unique_ptr<zbw::CNamedObject> named)
    : m_state(static_cast<STATE*>(named->State())), m_named(std::move(named)) {}

void CEventObject::InitState(void* state, bool manualReset, bool initialState) {
    STATE* s = static_cast<STATE*>(state);
    s->manualReset = manualReset ? 1 : 0;
    Ref(s->signalled).store(initialState ? 1 : 0);
}

CKernelObject::Acquire CEventObject::TryAcquire() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_state->manualReset) return Ref(m_state->signalled).load() ? Acquire::Yes : Acquire::No;
    uint32_t expected = 1;
    if (!Ref(m_state->signalled).compare_exchange_strong(expected, 0)) return Acquire::No;
    if (m_fd) m_fd->Update(false);
    return Acquire::Yes;
}

bool CEventObject::IsSignalled() {
    return Ref(m_state->signalled).load() != 0;
}

void CEventObject::Unacquire() {
    if (!m_state->manualReset) Set();
}

int CEventObject::WaitFd() const {
    return m_fd ? m_fd->Fd() : -1;
}

void CEventObject::Set() {
    Store(1);
}

void CEventObject::Reset() {
    Store(0);
}

void CEventObject::Store(uint32_t signalled) {
    std::lock_guard<std::mutex> guard(m_lock);
    Ref(m_state->signalled).store(signalled);
    if (m_fd) m_fd->Update(signalled != 0);
}
