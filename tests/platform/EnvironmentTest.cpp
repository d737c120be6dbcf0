// Environment variables, their expansion and the special folders; fakes a temporary emulation root and the
// XDG folders.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Environment.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/LateBound.h"
#include "platform/win32/Shell.h"
#include "tests/support/TestRoot.h"

namespace {

CString Get(LPCWSTR name) {
    char16_t buffer[512];
    DWORD n = GetEnvironmentVariableW(name, buffer, 512);
    return n && n < 512 ? CString(buffer) : CString();
}

CString Expand(LPCWSTR text) {
    char16_t buffer[512];
    DWORD n = ExpandEnvironmentStringsW(text, buffer, 512);
    EXPECT_GT(n, 0u);
    return CString(buffer);
}

CString Folder(int csidl, BOOL create = FALSE) {
    char16_t path[MAX_PATH];
    return SHGetSpecialFolderPathW(nullptr, path, csidl, create) ? CString(path) : CString(u"(failed)");
}

class EnvironmentTest : public ::testing::Test {
   protected:
    void TearDown() override {
        unsetenv("ZbTestVar");
        unsetenv("ZBB");
    }

    CTestRoot m_root;
};

TEST_F(EnvironmentTest, NamesAreCaseInsensitive) {
    ASSERT_TRUE(SetEnvironmentVariableW(u"ZbTestVar", u"caf\u00E9"));
    EXPECT_STREQ(std::getenv("ZbTestVar"), "caf\xC3\xA9");
    EXPECT_EQ(Get(u"ZBTESTVAR"), u"caf\u00E9");
    ASSERT_TRUE(SetEnvironmentVariableW(u"ZBTESTVAR", u"two"));
    EXPECT_STREQ(std::getenv("ZbTestVar"), "two");
    EXPECT_EQ(std::getenv("ZBTESTVAR"), nullptr);

    char16_t room[5];
    EXPECT_EQ(GetEnvironmentVariableW(u"zbtestvar", room, 3), 4u);
    EXPECT_EQ(GetEnvironmentVariableW(u"zbtestvar", room, 4), 3u);
    EXPECT_EQ(CString(room), u"two");

    ASSERT_TRUE(SetEnvironmentVariableW(u"zbtestvar", nullptr));
    EXPECT_EQ(GetEnvironmentVariableW(u"ZbTestVar", room, 5), 0u);
    EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
    EXPECT_FALSE(SetEnvironmentVariableW(u"a=b", u"x"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(EnvironmentTest, WindowsVariablesHaveDefaults) {
    unsetenv("SystemRoot");
    unsetenv("windir");
    unsetenv("TEMP");
    unsetenv("TMP");
    EXPECT_EQ(Get(u"SystemRoot"), u"C:\\Windows");
    EXPECT_EQ(Get(u"WINDIR"), u"C:\\Windows");
    EXPECT_EQ(Get(u"TEMP"), zbw::ToWindowsPath(m_root.Path("tmp")));
    EXPECT_EQ(Get(u"USERPROFILE"), zbw::ToWindowsPath(m_root.Path("home")));
    setenv("SystemRoot", "D:\\Win", 1);
    EXPECT_EQ(Get(u"SYSTEMROOT"), u"D:\\Win");
    unsetenv("SystemRoot");
}

TEST_F(EnvironmentTest, ExpansionReplacesSetVariablesOnly) {
    unsetenv("SystemRoot");
    setenv("ZBB", "bee", 1);
    const struct {
        const char16_t* in;
        const char16_t* out;
    } cases[] = {
        {u"%SystemRoot%\\system32\\services.msc", u"C:\\Windows\\system32\\services.msc"},
        {u"%zbb%%ZBB%", u"beebee"},
        {u"%ZBUNSET%", u"%ZBUNSET%"},
        {u"%ZBUNSET%ZBB%", u"%ZBUNSETbee"},
        {u"100%", u"100%"},
        {u"%%", u"%%"},
        {u"plain", u"plain"},
    };
    for (const auto& c : cases) EXPECT_EQ(Expand(c.in), c.out) << zbw::ToUtf8(c.in);
    char16_t small[4];
    EXPECT_EQ(ExpandEnvironmentStringsW(u"%ZBB%!", small, 4), 5u);
}

TEST_F(EnvironmentTest, SpecialFoldersComeFromXdg) {
    EXPECT_EQ(Folder(CSIDL_APPDATA), zbw::ToWindowsPath(m_root.Path("home/.local/share")));
    EXPECT_EQ(Folder(CSIDL_PERSONAL), zbw::ToWindowsPath(m_root.Path("home/Documents")));
    EXPECT_EQ(Folder(CSIDL_DESKTOPDIRECTORY), zbw::ToWindowsPath(m_root.Path("home/Desktop")));
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(Folder(CSIDL_APPDATA), zbw::ToWindowsPath(m_root.Path("home/.local/share")));
    setenv("XDG_DATA_HOME", m_root.Path("data").c_str(), 1);
    EXPECT_EQ(Folder(CSIDL_APPDATA), zbw::ToWindowsPath(m_root.Path("data")));

    ASSERT_TRUE(WriteHostFile(m_root.Path("home/.config/user-dirs.dirs"),
                              "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n"
                              "XDG_DESKTOP_DIR=\"" +
                                  m_root.Path("desk") + "\"\n"));
    EXPECT_EQ(Folder(CSIDL_PERSONAL), zbw::ToWindowsPath(m_root.Path("home/Docs")));
    EXPECT_EQ(Folder(CSIDL_DESKTOPDIRECTORY, TRUE), zbw::ToWindowsPath(m_root.Path("desk")));
    EXPECT_EQ(GetFileAttributesW(Folder(CSIDL_DESKTOPDIRECTORY)), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(Folder(0x0024), u"(failed)");
}

TEST_F(EnvironmentTest, FolderPathGivesHresults) {
    char16_t path[MAX_PATH];
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    EXPECT_EQ(CString(path), zbw::ToWindowsPath(m_root.Path("home/Documents")));
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, 0, path), S_OK);
    EXPECT_EQ(GetFileAttributesW(path), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(SHGetFolderPathW(nullptr, 0x0024, nullptr, 0, path), E_INVALIDARG);
}

TEST_F(EnvironmentTest, TheShellFunctionsCanBeBoundByName) {
    typedef HRESULT(WINAPI_FOLDER)(HWND, int, HANDLE, DWORD, LPWSTR);
    for (const char16_t* module : {u"shell32.dll", u"SHFolder.dll"}) {
        HMODULE m = LoadLibraryW(module);
        ASSERT_NE(m, nullptr);
        auto folder = reinterpret_cast<WINAPI_FOLDER*>(GetProcAddress(m, "SHGetFolderPathW"));
        ASSERT_NE(folder, nullptr);
        char16_t path[MAX_PATH];
        EXPECT_EQ(folder(nullptr, CSIDL_APPDATA, nullptr, 0, path), S_OK);
        FreeLibrary(m);
    }
    HMODULE kernel = LoadLibraryW(u"KERNEL32");
    EXPECT_NE(GetProcAddress(kernel, "ReplaceFileW"), nullptr);
    FreeLibrary(kernel);
}

}  // namespace
