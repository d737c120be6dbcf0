#include "platform/host/MutexObject.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

#include "platform/base/WinError.h"
#include "platform/host/HostIds.h"

namespace {

uint64_t SelfId() {
    return (static_cast<uint64_t>(zbw::HostProcessId()) << 32) | static_cast<uint32_t>(zbw::HostThreadId());
}

std::atomic_ref<uint64_t> Owner(CMutexObject::STATE* s) {
    return std::atomic_ref<uint64_t>(s->owner);
}

// The unnamed mutexes a thread owns; whatever it still owns when it ends is abandoned.
class COwnedMutexes {
   public:
    ~COwnedMutexes() {
        for (CMutexObject* mutex : m_items) {
            mutex->AbandonByOwner();
            mutex->Release();
        }
    }
    void Add(CMutexObject* mutex) {
        mutex->AddRef();
        m_items.push_back(mutex);
    }
    // The caller drops the reference once it has let go of the mutex's lock.
    bool Remove(CMutexObject* mutex) {
        auto it = std::find(m_items.begin(), m_items.end(), mutex);
        if (it == m_items.end()) return false;
        m_items.erase(it);
        return true;
    }

   private:
    std::vector<CMutexObject*> m_items;
};

thread_local COwnedMutexes t_owned;

}  // namespace

CMutexObject::CMutexObject() : m_state(&m_local), m_fd(std::make_unique<zbw::CSignalFd>()) {
    m_fd->Update(true);
}

CMutexObject::CMutexObject(std::unique_ptr<zbw::CNamedObject> named)
    : m_state(static_cast<STATE*>(named->State())), m_named(std::move(named)) {}

void CMutexObject::InitState(void* state, bool ownedByCaller) {
    STATE* s = static_cast<STATE*>(state);
    s->recursion = ownedByCaller ? 1 : 0;
    s->abandoned = 0;
    Owner(s).store(ownedByCaller ? SelfId() : 0);
}

bool CMutexObject::OwnerGone(uint64_t owner) const {
    if (!m_named) return false;
    pid_t pid = static_cast<pid_t>(owner >> 32);
    pid_t tid = static_cast<pid_t>(owner & 0xFFFFFFFFu);
    return syscall(SYS_tgkill, pid, tid, 0) != 0 && errno == ESRCH;
}

CKernelObject::Acquire CMutexObject::TryAcquire() {
    uint64_t self = SelfId();
    std::lock_guard<std::mutex> guard(m_lock);
    uint64_t owner = Owner(m_state).load();
    if (owner == self) {
        ++m_state->recursion;
        return Acquire::Yes;
    }
    if (owner != 0 && !OwnerGone(owner)) return Acquire::No;
    if (!Owner(m_state).compare_exchange_strong(owner, self)) return Acquire::No;
    m_state->recursion = 1;
    uint32_t flagged = std::atomic_ref<uint32_t>(m_state->abandoned).exchange(0);
    m_takenAbandoned = owner != 0 || flagged != 0;
    if (m_fd) {
        m_fd->Update(false);
        t_owned.Add(this);
    }
    return m_takenAbandoned ? Acquire::Abandoned : Acquire::Yes;
}

bool CMutexObject::IsSignalled() {
    uint64_t owner = Owner(m_state).load();
    return owner == 0 || owner == SelfId() || OwnerGone(owner);
}

void CMutexObject::Unacquire() {
    if (ReleaseOnce(true)) CKernelObject::Release();
}

int CMutexObject::WaitFd() const {
    return m_fd ? m_fd->Fd() : -1;
}

BOOL CMutexObject::ReleaseOwnership() {
    if (Owner(m_state).load() != SelfId()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (ReleaseOnce(false)) CKernelObject::Release();
    return TRUE;
}

// True when the thread's owned list let go of its reference, which the caller then drops.
bool CMutexObject::ReleaseOnce(bool restoreAbandoned) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (--m_state->recursion > 0) return false;
    if (restoreAbandoned && m_takenAbandoned) std::atomic_ref<uint32_t>(m_state->abandoned).store(1);
    Owner(m_state).store(0);
    if (!m_fd) return false;
    m_fd->Update(true);
    return t_owned.Remove(this);
}

void CMutexObject::AbandonByOwner() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (Owner(m_state).load() != SelfId()) return;
    m_state->recursion = 0;
    std::atomic_ref<uint32_t>(m_state->abandoned).store(1);
    Owner(m_state).store(0);
    if (m_fd) m_fd->Update(true);
}
