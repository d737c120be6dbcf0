// A private world for one test: a temporary folder that holds the emulation root (ZBW_ROOT),
// HOME, TMPDIR and the XDG folders, made in the constructor and removed in the destructor.
// The destructor also puts back every environment setting the layer reads (time zone, locale,
// emulated version, names, hidden functions ...) and the in-process clock steering, so a test may
// change them freely. Tests never see each other's state or the developer's own.
// Not thread-safe: make it before threads start.
#pragma once

#include <cstdint>
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
    // Sets TZ and applies it at once.
    void UseTimeZone(const char* tz);
    // Selects the user default locale ("en-US", "de-DE").
    void UseLocale(const char* name);

   private:
    void Remember(const char* name);
    void SetVar(const char* name, const std::string& value);

    std::string m_dir;
    std::map<std::string, std::optional<std::string>> m_saved;
};

// UTC microseconds of a calendar time, for pinning the wall clock.
int64_t UtcMicros(int year, int month, int day, int hour, int minute, int second);
// Folder of the built programs (bin/ of the build).
std::string BinDir();
// Writes bytes to a host file; true on success.
bool WriteHostFile(const std::string& path, const std::string& bytes);
// Reads a host file whole; empty when missing.
std::string ReadHostFile(const std::string& path);
