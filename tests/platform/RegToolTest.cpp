// The reg tool, run as a separate process on the test's own emulation root.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/base/WinError.h"
#include "platform/win32/Registry.h"
#include "tests/support/TestRoot.h"

namespace {

struct RUN {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class RegToolTest : public ::testing::Test {
   protected:
    void TearDown() override { unsetenv("ZBW_HKLM_READONLY"); }

    // Runs bin/reg with no input (a prompt reads end of file), bounded by timeout(1).
    RUN Reg(const std::vector<std::string>& args) {
        std::string command = "timeout 60 " + Quote(BinDir() + "/reg");
        for (const std::string& a : args) command += " " + Quote(a);
        const std::string errFile = m_root.Path("reg.err");
        command += " </dev/null 2>" + Quote(errFile);
        RUN run;
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return run;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) run.out.append(buf, n);
        int status = pclose(pipe);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.err = ReadHostFile(errFile);
        return run;
    }

    CTestRoot m_root;
};

const char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.\n";

TEST_F(RegToolTest, AddThenQueryInAnotherProcess) {
    RUN add = Reg({"add", "HKCU\\Software\\ZBEngine\\ZBEngine\\Settings", "/v", "lfbrowse", "/t", "REG_SZ",
                   "/d", "C:\\Users\\me\\Documents", "/f"});
    ASSERT_EQ(add.exitCode, 0) << add.err;
    ASSERT_EQ(Reg({"add", "HKEY_CURRENT_USER\\Software\\ZBEngine\\ZBEngine\\Settings", "/v", "zbrun", "/t",
                   "REG_DWORD", "/d", "2", "/f"})
                  .exitCode,
              0);

    RUN query = Reg({"query", "HKCU\\Software\\ZBEngine\\ZBEngine\\Settings"});
    EXPECT_EQ(query.exitCode, 0);
    EXPECT_EQ(query.out,
              "\nHKEY_CURRENT_USER\\Software\\ZBEngine\\ZBEngine\\Settings\n"
              "    lfbrowse    REG_SZ    C:\\Users\\me\\Documents\n"
              "    zbrun    REG_DWORD    0x2\n\n");

    RUN one = Reg({"query", "hkcu\\software\\zbengine\\zbengine\\settings", "/v", "ZBRUN"});
    EXPECT_EQ(one.exitCode, 0);
    EXPECT_NE(one.out.find("    REG_DWORD    0x2\n"), std::string::npos);

    // And this process reads what the tool wrote: the string with its zero, as reg stores it.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\ZBEngine\\ZBEngine\\Settings", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    char16_t text[64] = {};
    DWORD size = sizeof text;
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExW(key, u"lfbrowse", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(std::u16string(text), u"C:\\Users\\me\\Documents");
    EXPECT_EQ(size, (std::u16string(text).size() + 1) * 2);
    RegCloseKey(key);
}

TEST_F(RegToolTest, DeleteValueThenKey) {
    const std::string run = "HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    ASSERT_EQ(Reg({"add", run, "/v", "ZBEngine", "/d", "\"C:\\zb\\zbengine.exe\"", "/f"}).exitCode, 0);
    ASSERT_EQ(Reg({"add", run, "/v", "ZBEngineIcon", "/d", "x", "/f"}).exitCode, 0);

    RUN del = Reg({"delete", run, "/v", "zbengine", "/f"});
    EXPECT_EQ(del.exitCode, 0) << del.err;
    RUN gone = Reg({"query", run, "/v", "ZBEngine"});
    EXPECT_NE(gone.exitCode, 0);
    EXPECT_EQ(gone.err, kNotFound);
    EXPECT_EQ(Reg({"query", run, "/v", "ZBEngineIcon"}).exitCode, 0);

    EXPECT_EQ(Reg({"delete", "HKCU\\SOFTWARE\\Microsoft", "/f"}).exitCode, 0);
    RUN key = Reg({"query", run});
    EXPECT_NE(key.exitCode, 0);
    EXPECT_EQ(key.err, kNotFound);
    EXPECT_EQ(Reg({"query", "HKCU\\SOFTWARE"}).out, "\nHKEY_CURRENT_USER\\SOFTWARE\n\n");
}

TEST_F(RegToolTest, RecursiveQueryAndDeleteWalkDeepTrees) {
    for (const char* key : {"HKCU\\T\\a\\x", "HKCU\\T\\a\\y", "HKCU\\T\\b"})
        ASSERT_EQ(Reg({"add", key, "/v", "n", "/t", "REG_DWORD", "/d", "1", "/f"}).exitCode, 0);
    RUN tree = Reg({"query", "HKCU\\T", "/s"});
    EXPECT_EQ(tree.exitCode, 0) << tree.err;
    EXPECT_EQ(tree.out,
              "\nHKEY_CURRENT_USER\\T\n"
              "\nHKEY_CURRENT_USER\\T\\a\n"
              "\nHKEY_CURRENT_USER\\T\\a\\x\n    n    REG_DWORD    0x1\n"
              "\nHKEY_CURRENT_USER\\T\\a\\y\n    n    REG_DWORD    0x1\n"
              "\nHKEY_CURRENT_USER\\T\\b\n    n    REG_DWORD    0x1\n\n");

    // A chain as deep as the registry allows goes in one delete.
    std::u16string chain = u"Deep";
    for (int i = 1; i < 512; ++i) chain += u"\\k";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, chain.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    RUN del = Reg({"delete", "HKCU\\Deep", "/f"});
    EXPECT_EQ(del.exitCode, 0) << del.err;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Deep", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegToolTest, DeleteWithoutForceAsksAndKeepsTheValueOnNo) {
    ASSERT_EQ(Reg({"add", "HKLM\\software\\ZBEngine\\ZBEngine", "/v", "dbg", "/t", "REG_DWORD", "/d", "1"})
                  .exitCode,
              0);
    RUN ask = Reg({"delete", "HKLM\\software\\ZBEngine\\ZBEngine", "/v", "dbg"});
    EXPECT_EQ(ask.exitCode, 0);
    EXPECT_NE(ask.out.find("Delete the registry value dbg (Yes/No)?"), std::string::npos);
    EXPECT_EQ(Reg({"query", "HKLM\\software\\ZBEngine\\ZBEngine", "/v", "dbg"}).exitCode, 0);
    RUN overwrite =
        Reg({"add", "HKLM\\software\\ZBEngine\\ZBEngine", "/v", "dbg", "/t", "REG_DWORD", "/d", "7"});
    EXPECT_NE(overwrite.out.find("exists, overwrite"), std::string::npos);
    EXPECT_NE(Reg({"query", "HKLM\\software\\ZBEngine\\ZBEngine", "/v", "dbg"}).out.find("0x1\n"),
              std::string::npos);
}

TEST_F(RegToolTest, TypesDefaultValueAndUtf8) {
    const std::string key = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\ZBEngine";
    ASSERT_EQ(Reg({"add", key, "/ve", "/d",
                   "d\xC3\xA9"
                   "faut",
                   "/f"})
                  .exitCode,
              0);
    ASSERT_EQ(Reg({"add", key, "/v", "Description", "/d",
                   "Gr\xC3\xBC\xC3\x9F"
                   "e \xE2\x82\xAC",
                   "/f"})
                  .exitCode,
              0);
    ASSERT_EQ(Reg({"add", key, "/v", "Start", "/t", "REG_DWORD", "/d", "0x1F", "/f"}).exitCode, 0);
    ASSERT_EQ(Reg({"add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", "00ff10", "/f"}).exitCode, 0);
    ASSERT_EQ(Reg({"add", key, "/v", "Deps", "/t", "REG_MULTI_SZ", "/d", "a\\0b", "/f"}).exitCode, 0);
    RUN query = Reg({"query", key});
    EXPECT_NE(query.out.find("    (Default)    REG_SZ    d\xC3\xA9"
                             "faut\n"),
              std::string::npos);
    EXPECT_NE(query.out.find("    Description    REG_SZ    Gr\xC3\xBC\xC3\x9F"
                             "e \xE2\x82\xAC\n"),
              std::string::npos);
    EXPECT_NE(query.out.find("    Start    REG_DWORD    0x1f\n"), std::string::npos);
    EXPECT_NE(query.out.find("    Blob    REG_BINARY    00FF10\n"), std::string::npos);
    EXPECT_NE(query.out.find("    Deps    REG_MULTI_SZ    a\\0b\n"), std::string::npos);
}

TEST_F(RegToolTest, FailuresGoToStandardErrorWithNonZeroExit) {
    struct CASE {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<CASE> cases = {
        {{"query", "HKCU\\Software\\Nothing"}, kNotFound},
        {{"query", "HKXX\\Software"}, "ERROR: Invalid key name.\n"},
        {{"delete", "HKCU\\Software\\Nothing", "/f"}, kNotFound},
        {{"add", "HKCU\\Software\\X", "/v", "n", "/t", "REG_DWORD", "/d", "twelve", "/f"},
         "ERROR: Invalid syntax. Specify valid data for '/d'.\n"},
        {{"add", "HKCU\\Software\\X", "/v"}, "ERROR: Invalid syntax.\nType \"REG ADD /?\" for usage.\n"},
        {{"frobnicate", "HKCU\\Software"}, "ERROR: Invalid syntax.\nType \"REG /?\" for usage.\n"},
    };
    for (const CASE& c : cases) {
        RUN run = Reg(c.args);
        EXPECT_EQ(run.exitCode, 1) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(run.err, c.err) << c.args[0] << " " << c.args[1];
    }
}

TEST_F(RegToolTest, ReadOnlyMachineHiveIsAccessDenied) {
    setenv("ZBW_HKLM_READONLY", "1", 1);
    RUN run =
        Reg({"add", "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\ZBEngine", "/f"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "ERROR: Access is denied.\n");
    EXPECT_EQ(Reg({"add", "HKCU\\Software\\ZBEngine", "/f"}).exitCode, 0);
}

}  // namespace
