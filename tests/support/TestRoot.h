// A private world for one test: a temporary folder that holds the emulation root (ZBW_ROOT),
// HOME, TMPDIR and the XDG folders, made in the constructor and removed in the destructor, which
// also puts the environment back as it was. Tests never see each other's state or the
// developer's own. Not thread-safe: make it before threads start.
#pragma once

#include <map>
#include <optional>
#include <string>

class CTestRoot {
public:
    CTestRoot();
    ~CTestRoot();
    CTestRoot(const CTestRoot&) = delete;
    CTestRoot& operator=(const CTestRoot&) = delete;

    // The temporary folder (host path).
    const std::string& Dir() const { return m_dir; }
    // A host path inside it.
    std::string Path(const std::string& relative) const { return m_dir + "/" + relative; }

private:
    void SetVar(const char* name, const std::string& value);

    std::string m_dir;
    std::map<std::string, std::optional<std::string>> m_saved;
};

// Folder of the built programs (bin/ of the build).
std::string BinDir();
// Writes bytes to a host file; true on success.
bool WriteHostFile(const std::string& path, const std::string& bytes);
// Reads a host file whole; empty when missing.
std::string ReadHostFile(const std::string& path);
