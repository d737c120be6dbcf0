// A descriptor that is readable exactly while an in-process object is signalled, so that waits
// can poll() it together with other descriptors. The owner keeps it in step with the object's
// state under the object's own lock; Update is cheap when the state did not change.
// Fails quietly: without an eventfd the descriptor is -1 and waiters poll in slices.
#pragma once

namespace zbw {

class CSignalFd {
   public:
    CSignalFd();
    ~CSignalFd();
    CSignalFd(const CSignalFd&) = delete;
    CSignalFd& operator=(const CSignalFd&) = delete;

    // Makes the descriptor readable (true) or not (false). Call under the owner's lock.
    void Update(bool signalled);
    int Fd() const { return m_fd; }

   private:
    int m_fd = -1;
    bool m_readable = false;
};

}  // namespace zbw
