// The signalled state of an in-process object as waits need it: a wait on the object alone
// sleeps on a condition variable until the state changes, and a wait that combines it with other
// objects polls a descriptor that is readable exactly while the object is signalled. The
// descriptor (an eventfd) is made only when such a wait first asks for it, so an object that is
// never waited on with others holds none.
//
// The owner keeps the state in step under the object's own lock (Update, cheap when nothing
// changed); any thread may ask for the descriptor or wait. Fails quietly: when no eventfd can be
// made the descriptor is -1 and waiters poll in slices.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zbw {

class CSignalFd {
   public:
    CSignalFd() = default;
    ~CSignalFd();
    CSignalFd(const CSignalFd&) = delete;
    CSignalFd& operator=(const CSignalFd&) = delete;

    // Records the state (true = signalled); a change to signalled wakes the single waiters.
    void Update(bool signalled);
    // The descriptor, made in the current state on first use.
    int Fd() const;
    // Counts the changes to signalled, for WaitForChange.
    uint64_t Changes() const;
    // Sleeps until Changes() differs from seen, or timeoutMs passed (negative: no limit).
    void WaitForChange(uint64_t seen, int timeoutMs) const;
    // Tests: whether the descriptor has been made.
    bool HasFd() const;

   private:
    void SetReadable(bool readable) const;

    // The descriptor is made by a waiter, so it and the lock are mutable.
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    bool m_signalled = false;
    uint64_t m_changes = 0;
    mutable int m_fd = -1;
    mutable bool m_fdFailed = false;
    mutable bool m_readable = false;
};

}  // namespace zbw
