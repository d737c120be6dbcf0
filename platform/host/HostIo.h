// Whole reads and writes on host descriptors, retrying short transfers and EINTR.
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

}  // namespace zbw
