// Test support: runs a function in a forked child as another user or without root's capabilities.
#include "tests/support/OtherIdentity.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr int kSetUpFailed = 125;
constexpr auto kChildBound = std::chrono::seconds(60);
constexpr char kIdentityVariable[] = "ZBTEST_IDENTITY";

// Everything the child needs, made before the fork: between fork and exec the child only makes
// system calls (the caller may have threads holding locks).
struct CHILDPLAN {
    bool privateNetwork = false;
    bool keepCapabilities = false;
    std::string uidMap;
    std::string gidMap;
    std::string pingGroups;
    std::vector<std::string> argStrings;
    std::vector<std::string> envStrings;
};

bool WriteFile(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return written;
}

bool LoopbackUp() {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(s, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP | IFF_RUNNING;
    up = up && ioctl(s, SIOCSIFFLAGS, &request) == 0;
    close(s);
    return up;
}

// Takes every capability out of the bounding set, so that not even root gains one at the exec.
// Without the right to do so the process holds no capability to lose.
void DropCapabilitiesForGood() {
    for (int cap = 0; cap <= 63; ++cap) prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
}

bool EnterPrivateNetwork(const CHILDPLAN& plan) {
    return unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0 && WriteFile("/proc/self/setgroups", "deny") &&
           WriteFile("/proc/self/uid_map", plan.uidMap) && WriteFile("/proc/self/gid_map", plan.gidMap) &&
           LoopbackUp() && WriteFile("/proc/sys/net/ipv4/ping_group_range", plan.pingGroups);
}

[[noreturn]] void BecomeChild(const CHILDPLAN& plan, char* const* argv, char* const* envp) {
    if (plan.privateNetwork && !EnterPrivateNetwork(plan)) _exit(kSetUpFailed);
    if (!plan.keepCapabilities) DropCapabilitiesForGood();
    execve("/proc/self/exe", argv, envp);
    _exit(kSetUpFailed);
}

int WaitBounded(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + kChildBound;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Run(const char* identity, CHILDPLAN plan, const std::function<void()>& body) {
    const char* current = std::getenv(kIdentityVariable);
    if (current && std::strcmp(current, identity) == 0) {
        body();
        return 0;
    }
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    plan.argStrings = {"self", std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name()};
    for (char** entry = environ; *entry; ++entry) {
        if (std::strncmp(*entry, kIdentityVariable, sizeof kIdentityVariable - 1) != 0)
            plan.envStrings.push_back(*entry);
    }
    plan.envStrings.push_back(std::string(kIdentityVariable) + "=" + identity);
    std::vector<char*> argv, envp;
    for (std::string& arg : plan.argStrings) argv.push_back(arg.data());
    argv.push_back(nullptr);
    for (std::string& entry : plan.envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return kSetUpFailed;
    if (pid == 0) BecomeChild(plan, argv.data(), envp.data());
    return WaitBounded(pid);
}

}  // namespace

int RunWithoutCapabilities(const std::function<void()>& body) {
    return Run("no-capabilities", CHILDPLAN{}, body);
}

int RunInPrivateNetwork(bool privileged, const std::function<void()>& body) {
    CHILDPLAN plan;
    plan.privateNetwork = true;
    plan.keepCapabilities = privileged;
    const std::string uid = std::to_string(getuid());
    const std::string gid = std::to_string(getgid());
    // Privileged: root of the namespace, which keeps its capabilities there across the exec.
    const std::string inside = privileged ? "0" : uid;
    const std::string insideGroup = privileged ? "0" : gid;
    plan.uidMap = inside + " " + uid + " 1";
    plan.gidMap = insideGroup + " " + gid + " 1";
    plan.pingGroups = insideGroup + " " + insideGroup;
    return Run(privileged ? "private-network-root" : "private-network-user", plan, body);
}
