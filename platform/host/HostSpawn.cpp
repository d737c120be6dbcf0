#include "platform/host/HostSpawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>

extern char** environ;

namespace zbw {
namespace {

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (const std::string& text : strings) pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

int SpawnHostProgram(const std::string& program, const std::vector<std::string>& argv,
                     const SPAWNOPTIONS& options, pid_t* pid) {
    std::vector<char*> args = Pointers(argv);
    std::vector<char*> env;
    if (options.environment) env = Pointers(*options.environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.nullStdio) {
        for (int fd = 0; fd < 3; ++fd) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    }
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!options.folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.folder.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.newSession) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr, flags);
    int rc = posix_spawn(pid, program.c_str(), &actions, &attr, args.data(),
                         options.environment ? env.data() : environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

}  // namespace zbw
