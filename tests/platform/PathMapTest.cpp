// Windows paths mapped onto host paths and back; fakes a temporary emulation root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/EmulationRoot.h"
#include "platform/host/PathMap.h"
#include "platform/win32/FileApi.h"
#include "tests/support/TestRoot.h"

namespace {

// A test root with D: and the share \\srv\pub mapped into it; the current folder comes back.
class PathMapTest : public ::testing::Test {
   protected:
    void SetUp() override {
        char* cwd = getcwd(nullptr, 0);
        m_cwd = cwd;
        free(cwd);
        ASSERT_TRUE(zbw::MakeHostDirs(m_root.Path("d/sub")));
        ASSERT_TRUE(zbw::MakeHostDirs(m_root.Path("share")));
        ASSERT_TRUE(zbw::MapDrive(u'D', m_root.Path("d")));
        ASSERT_TRUE(zbw::MapShare(u"srv", u"pub", m_root.Path("share")));
    }
    void TearDown() override { ASSERT_EQ(chdir(m_cwd.c_str()), 0); }

    std::string D(const std::string& rest) const { return m_root.Path("d") + rest; }
    std::string Share(const std::string& rest) const { return m_root.Path("share") + rest; }

    CTestRoot m_root;
    std::string m_cwd;
};

struct SMapCase {
    const char16_t* windows;
    std::string host;  // "@d" and "@share" stand for the mapped folders
};

TEST_F(PathMapTest, WindowsPathsMapToHostPaths) {
    const SMapCase cases[] = {
        {u"C:\\a\\b.txt", "/a/b.txt"},
        {u"c:/a/b.txt", "/a/b.txt"},
        {u"C:\\a/.\\x\\..\\b.txt", "/a/b.txt"},
        {u"C:\\..\\..\\a", "/a"},
        {u"C:\\a\\\\b", "/a/b"},
        {u"C:\\a\\b. ", "/a/b"},
        {u"C:\\dir\\", "/dir/"},
        {u"C:\\", "/"},
        {u"D:\\x\\y", "@d/x/y"},
        {u"d:\\", "@d"},
        {u"d:", "@d"},
        {u"\\\\srv\\pub\\f.txt", "@share/f.txt"},
        {u"\\\\SRV\\Pub\\f.txt", "@share/f.txt"},
        {u"//srv/pub/f.txt", "@share/f.txt"},
        {u"\\\\srv\\pub", "@share"},
        {u"\\\\?\\D:\\x", "@d/x"},
        {u"\\\\?\\UNC\\srv\\pub\\dir\\f", "@share/dir/f"},
    };
    for (const SMapCase& c : cases) {
        std::string want = c.host;
        if (want.rfind("@d", 0) == 0) want = D(want.substr(2));
        if (want.rfind("@share", 0) == 0) want = Share(want.substr(6));
        EXPECT_EQ(zbw::ToHostPath(c.windows), want) << zbw::ToUtf8(c.windows);
    }
}

TEST_F(PathMapTest, UnmappablePathsFailWithTheWindowsCode) {
    const struct {
        const char16_t* windows;
        DWORD error;
    } cases[] = {
        {u"", ERROR_PATH_NOT_FOUND},
        {u"E:\\x", ERROR_PATH_NOT_FOUND},
        {u"\\\\nosrv\\pub\\x", ERROR_BAD_NETPATH},
        {u"\\\\srv\\nope\\x", ERROR_BAD_NET_NAME},
        {u"\\\\srv", ERROR_BAD_NETPATH},
        {u"C:\\a<b", ERROR_INVALID_NAME},
        {u"C:\\a\\b:stream", ERROR_INVALID_NAME},
        {u"C:\\what?", ERROR_INVALID_NAME},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_EQ(zbw::ToHostPath(c.windows), "") << zbw::ToUtf8(c.windows);
        EXPECT_EQ(GetLastError(), c.error) << zbw::ToUtf8(c.windows);
    }
}

TEST_F(PathMapTest, HostPathsComeBackUnderTheirDrive) {
    EXPECT_EQ(zbw::ToWindowsPath("/home/x"), u"C:\\home\\x");
    EXPECT_EQ(zbw::ToWindowsPath("/"), u"C:\\");
    EXPECT_EQ(zbw::ToWindowsPath("/a//b/./c/../d/"), u"C:\\a\\b\\d");
    EXPECT_EQ(zbw::ToWindowsPath(D("/x/y")), u"D:\\x\\y");
    EXPECT_EQ(zbw::ToWindowsPath(D("")), u"D:\\");
    EXPECT_EQ(zbw::ToWindowsPath("a/b"), u"a\\b");
    EXPECT_EQ(zbw::ToWindowsPath(""), u"");
    // A drive folder is matched by whole components only.
    EXPECT_EQ(zbw::ToWindowsPath(m_root.Path("dx")).Left(2), u"C:");
}

TEST_F(PathMapTest, PathsRoundTrip) {
    const char16_t* paths[] = {u"C:\\tmp\\x y\\f.txt", u"D:\\x\\y", u"D:\\",
                               u"C:\\caf\u00E9\\\U0001D11E.txt"};
    for (const char16_t* p : paths) EXPECT_EQ(zbw::ToWindowsPath(zbw::ToHostPath(p)), p) << zbw::ToUtf8(p);
}

TEST_F(PathMapTest, PathsWithoutADriveFollowTheCurrentFolder) {
    ASSERT_TRUE(SetCurrentDirectoryW(u"D:\\sub"));
    char16_t cwd[MAX_PATH];
    ASSERT_EQ(GetCurrentDirectoryW(MAX_PATH, cwd), 6u);
    EXPECT_EQ(CString(cwd), u"D:\\sub");
    EXPECT_EQ(zbw::ToHostPath(u"f.txt"), D("/sub/f.txt"));
    EXPECT_EQ(zbw::ToHostPath(u"..\\g"), D("/g"));
    EXPECT_EQ(zbw::ToHostPath(u"\\top"), D("/top"));
    EXPECT_EQ(zbw::ToHostPath(u"D:rel"), D("/sub/rel"));
    EXPECT_EQ(zbw::ToHostPath(u"C:rel"), "/rel");
    EXPECT_EQ(zbw::FullWindowsPath(u"."), u"D:\\sub");
    EXPECT_FALSE(SetCurrentDirectoryW(u"D:\\missing"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(PathMapTest, FullPathNamePointsAtTheLastComponent) {
    char16_t buffer[MAX_PATH];
    LPWSTR part = nullptr;
    DWORD n = GetFullPathNameW(u"D:/a\\..\\b\\c.txt", MAX_PATH, buffer, &part);
    EXPECT_EQ(CString(buffer), u"D:\\b\\c.txt");
    EXPECT_EQ(n, 10u);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(CString(part), u"c.txt");
    GetFullPathNameW(u"D:\\b\\", MAX_PATH, buffer, &part);
    EXPECT_EQ(part, nullptr);
    EXPECT_EQ(GetFullPathNameW(u"D:\\b\\c.txt", 5, buffer, nullptr), 11u);
}

TEST_F(PathMapTest, RootsAreDrivesAndShares) {
    EXPECT_TRUE(zbw::IsRootPath(u"C:\\"));
    EXPECT_TRUE(zbw::IsRootPath(u"d:/"));
    EXPECT_TRUE(zbw::IsRootPath(u"\\\\srv\\pub\\"));
    EXPECT_FALSE(zbw::IsRootPath(u"C:\\x"));
    EXPECT_FALSE(zbw::IsRootPath(u"\\\\srv"));
}

TEST_F(PathMapTest, TheDriveMapFileIsPlainText) {
    ASSERT_TRUE(WriteHostFile(zbw::DriveMapPath(), "# test drives\n\n; another comment\n  x: = " +
                                                       m_root.Path("d") + "/ \nbad line\nQ:=relative\n"));
    EXPECT_EQ(zbw::ToHostPath(u"X:\\f"), D("/f"));
    EXPECT_EQ(zbw::ToHostPath(u"Q:\\f"), "");
    // Mapping C: elsewhere moves the default too.
    ASSERT_TRUE(zbw::MapDrive(u'c', m_root.Path("share")));
    EXPECT_EQ(zbw::ToHostPath(u"C:\\f"), Share("/f"));
    EXPECT_EQ(zbw::ToWindowsPath("/usr/lib"), u"\\usr\\lib");
    ASSERT_TRUE(zbw::MapDrive(u'C', ""));
    EXPECT_EQ(zbw::ToHostPath(u"C:\\f"), "/f");
}

TEST_F(PathMapTest, LogicalDrivesListCAndTheMappedLetters) {
    ASSERT_TRUE(zbw::MapDrive(u'b', m_root.Path("share")));
    char16_t buffer[64];
    DWORD n = GetLogicalDriveStringsW(64, buffer);
    ASSERT_EQ(n, 12u);
    EXPECT_EQ(std::u16string(buffer, n + 1), std::u16string(u"B:\\\0C:\\\0D:\\\0", 13));
    EXPECT_EQ(GetLogicalDriveStringsW(12, buffer), 13u);
}

TEST_F(PathMapTest, ModuleFileNameIsTheProgramInWindowsFormWithExe) {
    char16_t buffer[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    ASSERT_GT(n, 4u);
    CString path(buffer);
    EXPECT_EQ(path.Right(4), u".exe");
    EXPECT_EQ(path.Mid(1, 2), u":\\");
    EXPECT_EQ(path.Find(u'/'), -1);
    EXPECT_EQ(zbw::ToHostProgramPath(path), zbw::ProgramHostPath());

    char16_t small[8];
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 8), 8u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(CString(small), path.Left(7));
}

TEST_F(PathMapTest, ExeProgramPathsReachTheHostFileWithoutTheSuffix) {
    ASSERT_TRUE(WriteHostFile(D("/tool"), "bare"));
    ASSERT_TRUE(WriteHostFile(D("/both"), "bare"));
    ASSERT_TRUE(WriteHostFile(D("/both.exe"), "exe"));
    EXPECT_EQ(zbw::ToHostProgramPath(u"D:\\tool.exe"), D("/tool"));
    EXPECT_EQ(zbw::ToHostProgramPath(u"D:\\tool.EXE"), D("/tool"));
    EXPECT_EQ(zbw::ToHostProgramPath(u"D:\\TOOL.exe"), D("/TOOL.exe"));
    EXPECT_EQ(zbw::ToHostProgramPath(u"D:\\both.exe"), D("/both.exe"));
    EXPECT_EQ(zbw::ToHostProgramPath(u"D:\\none.exe"), D("/none.exe"));
    EXPECT_EQ(zbw::ToHostPath(u"D:\\tool.exe"), D("/tool.exe"));

    HANDLE h =
        CreateFileW(u"D:\\tool.exe", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char data[8] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(h, data, sizeof data, &read, nullptr));
    EXPECT_EQ(std::string(data, read), "bare");
    CloseHandle(h);
    EXPECT_NE(GetFileAttributesW(u"D:\\tool.exe"), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
