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
    setenv("ZBW_ROOT", (m_dir + "/zbw").c_str(), 1);
    setenv("HOME", (m_dir + "/home").c_str(), 1);
    setenv("XDG_DATA_HOME", (m_dir + "/home/.local/share").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (m_dir + "/home/.config").c_str(), 1);
    setenv("TMPDIR", (m_dir + "/tmp").c_str(), 1);
}

CTestRoot::~CTestRoot() {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
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
