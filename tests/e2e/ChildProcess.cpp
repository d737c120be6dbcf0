// Support for end-to-end tests: starts a program of bin/ and waits for it, bounded; fakes nothing.
#include "tests/e2e/ChildProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "platform/base/Clock.h"

extern char** environ;

CChildProcess::~CChildProcess() {
    if (m_pid > 0 && !HasExited()) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

bool CChildProcess::Start(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    m_reaped = false;
    return posix_spawn(&m_pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0;
}

bool CChildProcess::Signal(int signal) const {
    return m_pid > 0 && kill(m_pid, signal) == 0;
}

bool CChildProcess::HasExited() {
    if (m_reaped) return true;
    if (m_pid <= 0 || waitpid(m_pid, &m_status, WNOHANG) != m_pid) return false;
    m_reaped = true;
    return true;
}

int CChildProcess::WaitExit(unsigned timeoutMs) {
    int64_t deadline = zbw::DeadlineAfter(timeoutMs);
    while (!HasExited() && zbw::RemainingUntil(deadline) > 0) Sleep(10);
    if (!HasExited()) return -1;
    return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
}
