// Runs a test again in a child process that has another identity than the test program, for
// behaviour that depends on who runs it, so that the same checks run for root (the CI machine)
// and for an ordinary developer:
//   - RunWithoutCapabilities: the child holds no capability, so root loses the overrides that
//     let it write any file; for an ordinary user nothing changes.
//   - RunInPrivateNetwork: the child gets a user and network namespace of its own with loopback
//     up and ICMP datagram sockets allowed for its group; privileged, it is root there and may
//     open raw sockets too; unprivileged, it keeps its own ids and holds no capability.
// The child is the test program itself, run with a filter for the calling test and started fresh
// (no thread or lock of the caller is inherited); there the call just runs body. So the test
// runs its fixture again in the child and must reach the call the same way.
// In the caller the result is the child's exit status: 0 when the test passed there, 125 when
// the identity could not be set up, -1 when the child did not end within a minute or was killed.
// Call it from the test's own thread.
#pragma once

#include <functional>

int RunWithoutCapabilities(const std::function<void()>& body);
int RunInPrivateNetwork(bool privileged, const std::function<void()>& body);
