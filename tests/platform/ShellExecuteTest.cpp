// ShellExecute: programs with parameters, other files through the desktop opener; fakes a temporary emulation
// root and the opener.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>

#include "platform/base/WinError.h"
#include "platform/host/KernelObject.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Process.h"
#include "platform/win32/ShellExecute.h"
#include "platform/win32/Wait.h"
#include "tests/support/TestRoot.h"

namespace {

std::u16string WindowsPath(const std::string& host) {
    return static_cast<LPCWSTR>(zbw::ToWindowsPath(host));
}

// PATH points at a folder of the test's own, so no real desktop opener is ever run.
class ShellExecuteTest : public ::testing::Test {
   protected:
    void SetUp() override {
        const char* path = getenv("PATH");
        m_oldPath = path ? path : "";
        std::filesystem::create_directories(m_root.Path("path"));
        setenv("PATH", m_root.Path("path").c_str(), 1);
    }
    void TearDown() override { setenv("PATH", m_oldPath.c_str(), 1); }

    std::string Script(const std::string& relative, const std::string& body) {
        std::string path = m_root.Path(relative);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        EXPECT_TRUE(WriteHostFile(path, "#!/bin/sh\n" + body + "\n"));
        chmod(path.c_str(), 0755);
        return path;
    }

    // ShellExecuteExW "open" with the process handed out; the child's exit code, or -1.
    int64_t OpenAndWait(const std::u16string& file, LPCWSTR parameters = nullptr) {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpVerb = u"open";
        info.lpFile = file.c_str();
        info.lpParameters = parameters;
        info.nShow = 10;
        if (!ShellExecuteExW(&info)) return -1;
        EXPECT_GT(reinterpret_cast<uintptr_t>(info.hInstApp), 32u);
        EXPECT_NE(info.hProcess, nullptr);
        EXPECT_EQ(WaitForSingleObject(info.hProcess, 10000), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        CloseHandle(info.hProcess);
        return code;
    }

    CTestRoot m_root;
    std::string m_oldPath;
};

TEST_F(ShellExecuteTest, RunsAProgramWithItsParameters) {
    std::string host = Script("bin/prog", "printf '[%s]' \"$@\" > \"$0.out\"; exit 4");
    EXPECT_EQ(OpenAndWait(WindowsPath(host) + u".exe", u"\"a b\" c"), 4);
    EXPECT_EQ(ReadHostFile(host + ".out"), "[a b][c]");
}

TEST_F(ShellExecuteTest, ShellExecuteWReportsSuccessAboveThirtyTwo) {
    std::string host = Script("bin/prog", "exit 0");
    HINSTANCE result = ShellExecuteW(nullptr, u"open", WindowsPath(host).c_str(), nullptr, nullptr, 1);
    EXPECT_GT(reinterpret_cast<uintptr_t>(result), 32u);
}

TEST_F(ShellExecuteTest, OpensOtherFilesWithTheDesktopOpener) {
    Script("path/xdg-open", "printf '%s' \"$1\" > \"$0.out\"");
    std::string doc = m_root.Path("docs/readme.txt");
    std::filesystem::create_directories(m_root.Path("docs"));
    WriteHostFile(doc, "text");
    EXPECT_EQ(OpenAndWait(WindowsPath(doc)), 0);
    EXPECT_EQ(ReadHostFile(m_root.Path("path/xdg-open.out")), doc);
}

struct FailureCase {
    const char* name;
    const char* file;
    LPCWSTR verb;
    uintptr_t seCode;
    DWORD error;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class ShellExecuteFailureTest : public ShellExecuteTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ShellExecuteFailureTest, FailsWithTheShellCode) {
    std::filesystem::create_directories(m_root.Path("docs"));
    WriteHostFile(m_root.Path("docs/readme.txt"), "text");  // no opener on PATH
    std::u16string file = WindowsPath(m_root.Path(GetParam().file));

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = GetParam().verb;
    info.lpFile = file.c_str();
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(GetLastError(), GetParam().error);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(info.hInstApp), GetParam().seCode);
    EXPECT_EQ(info.hProcess, nullptr);

    HINSTANCE result = ShellExecuteW(nullptr, GetParam().verb, file.c_str(), nullptr, nullptr, 1);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(result), GetParam().seCode);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ShellExecuteFailureTest,
    ::testing::Values(
        FailureCase{"MissingFile", "docs/missing.exe", u"open", SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
        FailureCase{"MissingFolder", "no such folder/zbenginesettings.exe", nullptr, SE_ERR_PNF,
                    ERROR_PATH_NOT_FOUND},
        FailureCase{"NoOpener", "docs/readme.txt", u"open", SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION},
        FailureCase{"OtherVerb", "docs/readme.txt", u"print", SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

}  // namespace
