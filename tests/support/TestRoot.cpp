#include "tests/support/TestRoot.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

CTestRoot::CTestRoot() {
    std::string tmpl = std::filesystem::temp_directory_path().string() + "/zbtest-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    m_dir = tmpl;
    std::filesystem::create_directories(m_dir + "/home/.local/share");
    std::filesystem::create_directories(m_dir + "/home/.config");
    std::filesystem::create_directories(m_dir + "/tmp");
    SetVar("ZBW_ROOT", m_dir + "/zbw");
    SetVar("HOME", m_dir + "/home");
    SetVar("XDG_DATA_HOME", m_dir + "/home/.local/share");
    SetVar("XDG_CONFIG_HOME", m_dir + "/home/.config");
    SetVar("TMPDIR", m_dir + "/tmp");
}

CTestRoot::~CTestRoot() {
    for (const auto& [name, value] : m_saved) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

void CTestRoot::SetVar(const char* name, const std::string& value) {
    if (!m_saved.count(name)) {
        const char* old = getenv(name);
        m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    setenv(name, value.c_str(), 1);
}

std::string BinDir() { return ZB_BIN_DIR; }

bool WriteHostFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

std::string ReadHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
