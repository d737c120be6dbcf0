// Makes writes past a size fail (EFBIG instead of SIGXFSZ) for the lifetime of the object, so tests
// can provoke a write that fails part-way. Process-wide: use it on the test's own thread.
#pragma once

#include <sys/resource.h>

#include <csignal>

class CFileSizeLimit {
   public:
    explicit CFileSizeLimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = m_saved;
        lower.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~CFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    CFileSizeLimit(const CFileSizeLimit&) = delete;
    CFileSizeLimit& operator=(const CFileSizeLimit&) = delete;

   private:
    rlimit m_saved{};
    void (*m_oldHandler)(int);
};
