// Support for the web end-to-end tests: a real engine in its own emulation root on a free port.
#include "tests/e2e/HttpEngineFixture.h"

#include <signal.h>

#include <cctype>
#include <filesystem>
#include <regex>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Registry.h"
#include "tests/e2e/LogFiles.h"
#include "tests/support/LoopbackPort.h"

void CHttpEngineTest::SetUp() {
    m_nPort = FreeLoopbackPort();
    std::filesystem::create_directories(m_root.Path("profiles"));
    std::filesystem::create_directories(m_root.Path("src"));
    std::filesystem::create_directories(m_root.Path("dst"));
    std::string sync = WindowsPath(BinDir() + "/zbsync") + ".exe";
    ASSERT_TRUE(SetMachineValue(u"software\\Zebrodyne Pro 2\\Zebrodyne Pro", u"path",
                                zbw::FromUtf8(sync).GetString()));
}

void CHttpEngineTest::TearDown() {
    if (m_engine.Pid() && !m_engine.HasExited()) {
        m_engine.Signal(SIGINT);
        m_engine.WaitExit(kBoundMs);
    }
}

bool CHttpEngineTest::SetMachineValue(const char16_t* keyPath, const char16_t* name, const char16_t* text) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             static_cast<DWORD>((CString(text).GetLength() + 1) * 2)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

std::string CHttpEngineTest::WindowsPath(const std::string& hostPath) {
    return zbw::ToUtf8(zbw::ToWindowsPath(hostPath));
}

std::string CHttpEngineTest::Utf16File(const std::string& utf8) {
    std::u16string units = zbw::FromUtf8(utf8).GetStdString();
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : units) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::string CHttpEngineTest::Encode(const std::string& text) {
    return zbtest::UrlEncoded(text);
}

void CHttpEngineTest::WriteSettings(const std::vector<TESTPROFILE>& profiles, const std::string& httpExtra) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<SETTINGS>\r\n<HTTP><PORT>" +
                      std::to_string(m_nPort) + "</PORT>" + httpExtra + "</HTTP>\r\n";
    for (const TESTPROFILE& profile : profiles) {
        WriteProfile(profile.file, profile.seconds);
        xml += "<ITEM><PROFILE>" + ProfileName(profile.file) + "</PROFILE><CATEGORY>" + profile.category +
               "</CATEGORY><DESCRIPTION>" + profile.description + "</DESCRIPTION></ITEM>\r\n";
    }
    xml += "</SETTINGS>\r\n";
    ASSERT_TRUE(WriteHostFile(SettingsPath(), Utf16File(xml)));
}

void CHttpEngineTest::WriteProfile(const std::string& file, double seconds) {
    std::string log = file.substr(0, file.rfind('.')) + ".log";
    std::string text = "[Zebrodyne Profile - File Version 4.0.0]\r\n[Settings]\r\nSource Folder=" +
                       WindowsPath(m_root.Path("src")) +
                       "\r\nTarget Folder=" + WindowsPath(m_root.Path("dst")) +
                       "\r\nExecution Method=1\r\nLog File=" + ProfileName(log) +
                       "\r\n[StandIn]\r\nExitCode=0\r\nSeconds=" + std::to_string(seconds) + "\r\n";
    ASSERT_TRUE(WriteHostFile(ProfilePath(file), Utf16File(text)));
}

std::vector<TESTPROFILE> CHttpEngineTest::FourProfiles() const {
    return {{"alpha.fsf", "Work", "Mine &amp; &lt;b&gt;", 30},
            {"beta.fsf", "Work", "Second", 30},
            {"gamma.fsf", "Home", "Photos", 30},
            {"delta.fsf", "Home", "Music", 30}};
}

std::string CHttpEngineTest::CopyOfEngine() {
    std::filesystem::create_directories(m_root.Path("prog"));
    std::filesystem::copy_file(BinDir() + "/zbengine", m_root.Path("prog/zbengine"));
    std::filesystem::copy(BinDir() + "/html", m_root.Path("prog/html"),
                          std::filesystem::copy_options::recursive);
    return m_root.Path("prog/zbengine");
}

int CHttpEngineTest::ProfileRows(const std::string& page) const {
    return zbtest::CountOf(page, "<tr class=\"profile\"");
}

void CHttpEngineTest::StartEngine(size_t count, const std::string& program) {
    ASSERT_TRUE(
        m_engine.Start(program.empty() ? BinDir() + "/zbengine" : program, {WindowsPath(SettingsPath())}));
    ASSERT_TRUE(zbtest::WaitForText([&] { return StatusText().empty() ? std::string() : std::string("up"); },
                                    "up", kStartBoundMs))
        << zbtest::ReadUtf16Log(EngineLog());
    // The command server loads the profiles once it listens; a load from the page does the same.
    if (ProfileRows(StatusText()) != static_cast<int>(count)) Action("LOAD=ALL");
    std::string wanted = std::to_string(count);
    ASSERT_TRUE(
        zbtest::WaitForText([&] { return std::to_string(ProfileRows(StatusText())); }, wanted, kStartBoundMs))
        << zbtest::ReadUtf16Log(EngineLog());
}

std::string CHttpEngineTest::StatusText(const std::string& query) {
    zbtest::HTTPANSWER answer = zbtest::HttpGet(m_nPort, "/status.htm" + query);
    return answer.status == 200 ? zbtest::Utf16Body(answer.body) : std::string();
}

zbtest::HTTPANSWER CHttpEngineTest::Action(const std::string& query, const std::string& page) {
    return zbtest::HttpGet(m_nPort, page + "?" + query,
                           "Referer: http://127.0.0.1:" + std::to_string(m_nPort) + page + "\r\n");
}

std::string CHttpEngineTest::FormToken() {
    std::string form = zbtest::Utf16Body(zbtest::HttpGet(m_nPort, "/profileform.htm").body);
    std::smatch match;
    std::regex token("name=\"token\" value=\"([0-9a-f]+)\"");
    return std::regex_search(form, match, token) ? match[1].str() : std::string();
}

bool CHttpEngineTest::WaitForStandIn(const std::string& file) {
    std::string log = ProfilePath(file.substr(0, file.rfind('.')) + ".log");
    return zbtest::WaitForText([&] { return ReadHostFile(log); }, "START ID: 1", kBoundMs);
}
