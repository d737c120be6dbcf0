#include "platform/host/EmulationRoot.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/host/HostIds.h"

namespace zbw {
namespace {

std::string Ensure(const std::string& path) {
    MakeHostDirs(path);
    return path;
}

std::string RootPath() {
    const char* root = std::getenv("ZBW_ROOT");
    if (root && *root) return root;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.zbwin";
}

}  // namespace

bool MakeHostDirs(const std::string& path) {
    if (path.empty()) return false;
    struct stat st {};
    // The folders are there nearly always: one look instead of a mkdir per level.
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            std::string prefix = path.substr(0, pos);
            if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
        }
    }
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string RootDir() {
    return Ensure(RootPath());
}

std::string MachineDir() {
    return Ensure(MachinePath());
}

std::string UserDir() {
    return Ensure(UserPath());
}

std::string MachinePath() {
    return RootPath() + "/machine";
}

std::string UserPath() {
    return RootPath() + "/user-" + std::to_string(HostUserId());
}

std::string MachineSubdir(const std::string& name) {
    return Ensure(MachineDir() + "/" + name);
}

std::string UserSubdir(const std::string& name) {
    return Ensure(UserDir() + "/" + name);
}

}  // namespace zbw
