// Test support: a private emulation root in a temporary folder, environment restored afterwards.
#include "tests/support/TestRoot.h"

#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/base/Clock.h"
#include "platform/classlib/Time.h"

namespace {

// Settings the layer reads that a test may change; the root puts them back.
const char* const kRestoredVars[] = {"TZ",
                                     "ZBW_LOCALE",
                                     "ZBW_WINVER",
                                     "ZBW_WINVER_KERNEL",
                                     "ZBW_USER_NAME",
                                     "ZBW_COMPUTER_NAME",
                                     "ZBW_HIDE_FUNCTIONS",
                                     "ZBW_HKLM_READONLY",
                                     "ZBW_REFUSE_PRIVILEGES",
                                     "ZBW_CLOCK_SHIFT_MS",
                                     "ZBW_TICK_SHIFT_MS"};

}  // namespace

CTestRoot::CTestRoot() {
    for (const char* name : kRestoredVars) Remember(name);
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
    tzset();
    zbw::ResetClockForTest();
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

void CTestRoot::Remember(const char* name) {
    if (m_saved.count(name)) return;
    const char* old = getenv(name);
    m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
}

void CTestRoot::SetVar(const char* name, const std::string& value) {
    Remember(name);
    setenv(name, value.c_str(), 1);
}

void CTestRoot::UseTimeZone(const char* tz) {
    SetVar("TZ", tz);
    tzset();
}

void CTestRoot::UseLocale(const char* name) {
    SetVar("ZBW_LOCALE", name);
}

int64_t UtcMicros(int year, int month, int day, int hour, int minute, int second) {
    return (zbw::DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second) *
           int64_t{1000000};
}

std::string BinDir() {
    return ZB_BIN_DIR;
}

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
