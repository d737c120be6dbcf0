// CHttpEngineTest: the fixture of the web interface's end-to-end tests: a test root with the
// stand-in registered as the synchronisation program, profiles in the test folder, an engine
// settings file with the HTTP port, the real engine started on it, and the requests the tests
// make of its pages. Every wait is bounded; the engine is stopped when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/ChildProcess.h"
#include "tests/e2e/HttpClient.h"
#include "tests/support/TestRoot.h"

struct TESTPROFILE {
    std::string file;  // name of the profile file in the test folder
    std::string category;
    std::string description;
    double seconds;  // how long the stand-in runs
};

class CHttpEngineTest : public ::testing::Test {
   protected:
    static constexpr unsigned kBoundMs = 20000;
    // A sanitizer-built engine's start on a crowded machine can take longer than any one step.
    static constexpr unsigned kStartBoundMs = 90000;

    void SetUp() override;
    void TearDown() override;

    static bool SetMachineValue(const char16_t* keyPath, const char16_t* name, const char16_t* text);
    static std::string WindowsPath(const std::string& hostPath);
    static std::string Utf16File(const std::string& utf8);
    static std::string Encode(const std::string& text);

    std::string ProfilePath(const std::string& file) const { return m_root.Path("profiles/" + file); }
    std::string ProfileName(const std::string& file) const { return WindowsPath(ProfilePath(file)); }
    std::string SettingsPath() const { return m_root.Path("settings.xml"); }
    std::string EngineLog() const { return m_root.Path("home/.local/share/ZBEngine/ZBEngine.log"); }

    // A profile of the stand-in over the test's two folders, with its log beside it.
    void WriteProfile(const std::string& file, double seconds);
    void WriteSettings(const std::vector<TESTPROFILE>& profiles, const std::string& httpExtra = "");
    std::vector<TESTPROFILE> FourProfiles() const;
    // Starts the engine (program: a copy with its own html folder) and waits until the status
    // page lists count profiles.
    void StartEngine(size_t count, const std::string& program = "");
    // A copy of the engine with its own page folder in the test folder; its path.
    std::string CopyOfEngine();

    int ProfileRows(const std::string& page) const;
    std::string StatusText(const std::string& query = "");
    // A link of the engine's own pages: GET with a Referer of the page.
    zbtest::HTTPANSWER Action(const std::string& query, const std::string& page = "/status.htm");
    std::string FormToken();
    bool WaitForStandIn(const std::string& file);

    CTestRoot m_root;
    int m_nPort = 0;
    CChildProcess m_engine;
};
