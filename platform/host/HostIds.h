// The ids of the calling process, thread and user. getpid, gettid and getuid are system calls,
// and the message, lock and registry paths ask for them on every call: the answers are kept, and
// forgotten in the child of a fork. Thread-safe.
#pragma once

#include <sys/types.h>

namespace zbw {

pid_t HostProcessId();
pid_t HostThreadId();
uid_t HostUserId();

}  // namespace zbw
