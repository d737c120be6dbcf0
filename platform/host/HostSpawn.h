// Starting a host program with posix_spawn as the layer starts every child: no descriptor but
// standard input, output and error is inherited (the layer's own are O_CLOEXEC, others are
// closed), the signal mask is empty and every signal has its default disposition (our
// dispositions and masks are the layer's business, not the child's). Options add a working
// folder, standard descriptors on /dev/null, a session of its own and an environment.
// Layer-internal; any thread may call it. The caller owns the child and must reap it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zbw {

struct SPAWNOPTIONS {
    std::string folder;                                     // working folder of the child; empty: ours
    bool nullStdio = false;                                 // standard input, output and error on /dev/null
    bool newSession = false;                                // the child leads a session of its own (setsid)
    const std::vector<std::string>* environment = nullptr;  // "NAME=value" entries; null: ours
};

// Starts program with argv (argv[0] included); 0 with *pid set, else the errno value.
int SpawnHostProgram(const std::string& program, const std::vector<std::string>& argv,
                     const SPAWNOPTIONS& options, pid_t* pid);

}  // namespace zbw
