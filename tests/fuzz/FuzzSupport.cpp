// Support for the fuzz targets: one emulation root for the whole run; fakes nothing else.
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

#include "tests/fuzz/FuzzTargets.h"

namespace {

std::string& RootDir() {
    static auto* dir = new std::string;
    return *dir;
}

void RemoveRoot() {
    std::error_code ec;
    std::filesystem::remove_all(RootDir(), ec);
}

}  // namespace

void FuzzSetUp() {
    if (!RootDir().empty()) return;
    std::string tmpl = std::filesystem::temp_directory_path().string() + "/zbfuzz-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    RootDir() = tmpl;
    std::filesystem::create_directories(tmpl + "/home");
    std::filesystem::create_directories(tmpl + "/tmp");
    std::filesystem::create_directories(tmpl + "/files");
    setenv("ZBW_ROOT", (tmpl + "/zbw").c_str(), 1);
    setenv("HOME", (tmpl + "/home").c_str(), 1);
    setenv("TMPDIR", (tmpl + "/tmp").c_str(), 1);
    atexit(&RemoveRoot);
}

std::string FuzzPath(const std::string& name) {
    return RootDir() + "/files/" + name;
}

std::u16string FuzzUnits(const uint8_t* data, size_t size) {
    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    return units;
}
