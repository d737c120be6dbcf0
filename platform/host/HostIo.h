// Whole reads and writes on host descriptors, retrying short transfers and EINTR, and files that
// every user's processes share.
// Layer-internal; thread-safe as far as the descriptor is.
#pragma once

#include <cstddef>
#include <string>

namespace zbw {

// False on the first write error (errno is left set).
bool WriteAll(int fd, const void* data, size_t size);
inline bool WriteAll(int fd, const std::string& bytes) {
    return WriteAll(fd, bytes.data(), bytes.size());
}
// Reads to the end of the file; false on a read error (errno is left set), with what was read.
bool ReadAll(int fd, std::string& bytes);
// Opens path with flags (close-on-exec added), making it when missing, readable and writable by
// everyone whatever the umask. The mode is set only on a new file: a change costs an inode write.
int OpenSharedFile(const std::string& path, int flags);

}  // namespace zbw
