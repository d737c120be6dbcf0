// The cross-process side of a named kernel object (mutex, semaphore, event, file mapping).
//
// A name lives as a file in the emulation root: "Global\x" under MachineDir()/objects, "Local\x"
// and plain "x" under UserDir()/objects. All kinds share one namespace, as on Windows. The file
// starts with a header page that holds the kind and a small shared state area (counts, owner)
// which every holder of a mutex, semaphore or event maps MAP_SHARED; a file mapping's data follows
// the header page.
//
// Lifetime as on Windows: every holder keeps a shared flock on its own descriptor; the holder
// that closes last (its exclusive try succeeds) removes the file. A file nobody holds (its last
// holder died) counts as absent. Creating, opening and removing run under a folder-wide guard
// lock, taken on a fresh descriptor each time so that it also excludes threads of this process;
// mapping happens after the guard, once the holder's lock keeps the file.
// Files are mode 0666 whatever the umask; every descriptor is close-on-exec.
//
// Thread-safe: each object is used by the kernel object that owns it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/base/WinTypes.h"

namespace zbw {

enum class NamedKind : uint32_t { Mutex = 1, Semaphore = 2, Event = 3, Mapping = 4 };

class CNamedObject {
   public:
    // Bytes of shared state each object kind may use.
    static constexpr size_t kStateBytes = 256;
    // Offset of a file mapping's data in the file.
    static constexpr size_t kDataOffset = 4096;

    // Opens the name, or creates it when create is set and the name is absent (init then fills
    // the zeroed state area before anyone else can see it). dataSize is the size of a new
    // mapping's data; an existing object keeps its own. Null with the last error set on failure:
    // ERROR_FILE_NOT_FOUND (absent, open only), ERROR_INVALID_HANDLE (another kind holds the
    // name), name and host errors.
    static std::unique_ptr<CNamedObject> Open(LPCWSTR name, NamedKind kind, bool create, uint64_t dataSize,
                                              const std::function<void(void* state)>& init, bool* existed);
    ~CNamedObject();
    CNamedObject(const CNamedObject&) = delete;
    CNamedObject& operator=(const CNamedObject&) = delete;

    // The shared state area (kStateBytes, zero at creation, 8-byte aligned); null for a file mapping.
    void* State() const;
    // Size of a file mapping's data.
    uint64_t DataSize() const { return m_dataSize; }
    // Descriptor of the file, for mapping views at kDataOffset.
    int Fd() const { return m_fd; }

   private:
    CNamedObject(std::string dir, std::string path, int fd);

    std::string m_dir;
    std::string m_path;
    int m_fd;
    void* m_page = nullptr;
    uint64_t m_dataSize = 0;
};

// Host folder and file for a Windows object name; 0 or a Windows error code.
DWORD NamedObjectPath(LPCWSTR name, std::string* dir, std::string* path);

}  // namespace zbw
