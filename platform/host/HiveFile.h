// The file of one registry hive, shared by every process of the emulation root.
//
// Readers load the whole file under a shared flock of "<file>.lock"; a change
// loads it under an exclusive lock, edits the tree, writes "<file>.new"
// (flushed to disk) and renames it over the file, so readers never see half a
// file and two writers never lose each other's changes. The lock file is never
// replaced, so every process locks the same inode.
//
// A missing hive file is an empty hive. A file that does not parse fails every
// call with ERROR_BADDB and is never overwritten. A hive is writable unless it
// was made read-only or its file (or, before the file exists, its folder) is
// not writable; a change to a read-only hive fails with ERROR_ACCESS_DENIED.
//
// Thread-safe (each call opens its own descriptors); the object only names the
// file.
#pragma once

#include <functional>
#include <string>

#include "platform/base/WinTypes.h"
#include "platform/host/RegistryHive.h"

class CHiveFile {
   public:
    CHiveFile(std::string path, bool readOnly) : m_path(std::move(path)), m_readOnly(readOnly) {}

    // Loads the latest hive; ERROR_SUCCESS or a Windows error code.
    LONG Read(CRegistryHive& hive) const;
    // Read-modify-write. `change` edits the hive and returns ERROR_SUCCESS with
    // `changed` set when the hive must be written; any other result is passed on
    // and nothing is written.
    LONG Update(const std::function<LONG(CRegistryHive& hive, bool& changed)>& change) const;
    bool IsWritable() const;
    // Time of the last change (zero when the hive was never written).
    FILETIME LastWriteTime() const;

   private:
    LONG Load(CRegistryHive& hive) const;
    LONG Store(const CRegistryHive& hive) const;

    std::string m_path;
    bool m_readOnly;
};
