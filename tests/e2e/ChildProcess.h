// CChildProcess: one program of bin/ started by an end-to-end test with the test's environment
// (so inside its CTestRoot). Every wait is bounded; a child still running when the object goes is
// killed and reaped. One thread uses an object.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class CChildProcess {
   public:
    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // program is a host path; args do not include it.
    bool Start(const std::string& program, const std::vector<std::string>& args);
    pid_t Pid() const { return m_pid; }
    bool Signal(int signal) const;
    // The exit status once the child has ended within timeoutMs; -1 when it has not, or when a
    // signal killed it.
    int WaitExit(unsigned timeoutMs);
    bool HasExited();

   private:
    pid_t m_pid = 0;
    bool m_reaped = false;
    int m_status = 0;
};
