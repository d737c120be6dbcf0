#include "platform/host/HostIds.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace zbw {
namespace {

thread_local pid_t t_threadId = 0;
std::atomic<pid_t> g_processId{0};

// Runs on the one thread the child has, so only its own cached tid needs forgetting.
void ForgetIdsInChild() {
    t_threadId = 0;
    g_processId.store(0, std::memory_order_relaxed);
}

const bool kIdsForgottenAtFork = [] {
    pthread_atfork(nullptr, nullptr, ForgetIdsInChild);
    return true;
}();

}  // namespace

pid_t HostProcessId() {
    pid_t pid = g_processId.load(std::memory_order_relaxed);
    if (pid == 0) {
        pid = getpid();
        g_processId.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

pid_t HostThreadId() {
    if (t_threadId == 0) t_threadId = gettid();
    return t_threadId;
}

uid_t HostUserId() {
    // The programs never change their user.
    static const uid_t uid = getuid();
    return uid;
}

}  // namespace zbw
