// Account and computer names and the late-bound shutdown-block calls; fakes names and version by environment,
// hides or replaces bound functions, a temporary emulation root.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>

#include "common/Secur32DLL.h"
#include "common/ShutdownBlockLoader.h"
#include "platform/win32/Accounts.h"
#include "platform/win32/LateBound.h"
#include "platform/win32/WinUser.h"
#include "tests/support/TestRoot.h"

namespace {

const char16_t* g_fakeName = nullptr;
HWND g_reasonWindow = nullptr;
std::u16string g_reasonText;

// Stands in for GetUserNameExW on a domain account: answers g_fakeName for NameDnsDomain.
BOOLEAN FakeGetUserNameExW(EXTENDED_NAME_FORMAT format, LPWSTR buffer, PULONG size) {
    if (format != NameDnsDomain || !g_fakeName) return FALSE;
    const size_t length = std::char_traits<char16_t>::length(g_fakeName);
    if (*size <= length) return FALSE;
    std::memcpy(buffer, g_fakeName, (length + 1) * sizeof(char16_t));
    *size = static_cast<ULONG>(length);
    return TRUE;
}

BOOL FakeShutdownBlockReasonCreate(HWND hWnd, LPCWSTR reason) {
    g_reasonWindow = hWnd;
    g_reasonText = reason;
    return 7;
}

class AccountNamesTest : public ::testing::Test {
   protected:
    void SetUp() override {
        setenv("ZBW_USER_NAME", "tester", 1);
        setenv("ZBW_COMPUTER_NAME", "buildhost.example.org", 1);
    }
    void TearDown() override {
        zbw::ResetLateBound();
        zbw::AddLateBound("secur32", "GetUserNameExW", reinterpret_cast<FARPROC>(&GetUserNameExW), 5, 0);
        zbw::AddLateBound("user32", "ShutdownBlockReasonCreate",
                          reinterpret_cast<FARPROC>(&ShutdownBlockReasonCreate), 6, 0);
        g_fakeName = nullptr;
    }

    CTestRoot m_root;
};

TEST_F(AccountNamesTest, NamesWithAndWithoutTheNewerFunctions) {
    struct CASE {
        const char* hidden;
        const char16_t* user;
        const char16_t* computer;
    } cases[] = {
        // A local account has no DNS-domain name, so the plain user name is used.
        {nullptr, u"tester", u"buildhost.example.org"},
        {"KERNEL32!GetComputerNameExW", u"tester", u"BUILDHOST"},
        {"secur32", u"tester", u"buildhost.example.org"},
    };
    for (const CASE& c : cases) {
        zbw::ResetLateBound();
        zbw::HideLateBound(c.hidden);
        CSecur32DLL names;
        EXPECT_EQ(names.GetCurrentUserName(), CString(c.user)) << (c.hidden ? c.hidden : "none");
        EXPECT_EQ(names.GetLocalComputerName(), CString(c.computer)) << (c.hidden ? c.hidden : "none");
    }
}

TEST_F(AccountNamesTest, DomainNameWinsWhenItIsNotEmpty) {
    zbw::AddLateBound("secur32", "GetUserNameExW", reinterpret_cast<FARPROC>(&FakeGetUserNameExW), 5, 0);
    g_fakeName = u"example.org\\tester";
    CSecur32DLL names;
    EXPECT_EQ(names.GetCurrentUserName(), CString(u"example.org\\tester"));
    g_fakeName = u"";
    EXPECT_EQ(names.GetCurrentUserName(), CString(u"tester"));
}

TEST_F(AccountNamesTest, FunctionsAreBoundOnce) {
    CSecur32DLL names;
    EXPECT_EQ(names.GetLocalComputerName(), CString(u"buildhost.example.org"));
    zbw::HideLateBound("KERNEL32!GetComputerNameExW");
    EXPECT_EQ(names.GetLocalComputerName(), CString(u"buildhost.example.org"));
    CSecur32DLL later;
    EXPECT_EQ(later.GetLocalComputerName(), CString(u"BUILDHOST"));
    EXPECT_EQ(g_Secur32DLL.GetCurrentUserName(), CString(u"tester"));
}

TEST_F(AccountNamesTest, ShutdownBlockIsNothingBeforeVistaAndBoundLater) {
    setenv("ZBW_WINVER", "5.1.2600 SP3", 1);
    CShutdownBlockLoader loader;
    HWND window = reinterpret_cast<HWND>(0x1234);
    EXPECT_EQ(loader.Create(window), 0);
    EXPECT_EQ(loader.Destroy(window), 0);
    // A missing function is looked up again on the next call.
    setenv("ZBW_WINVER", "6.0.6000", 1);
    zbw::AddLateBound("user32", "ShutdownBlockReasonCreate",
                      reinterpret_cast<FARPROC>(&FakeShutdownBlockReasonCreate), 6, 0);
    EXPECT_EQ(loader.Create(window), 7);
    EXPECT_EQ(g_reasonWindow, window);
    EXPECT_EQ(g_reasonText, u"ZBEngine is stopping running profiles");
    EXPECT_EQ(loader.Destroy(window), TRUE);
}

TEST_F(AccountNamesTest, ShutdownBlockWithoutUser32) {
    zbw::HideLateBound("user32");
    CShutdownBlockLoader loader;
    EXPECT_EQ(loader.Create(nullptr), 0);
    EXPECT_EQ(loader.Destroy(nullptr), 0);
    zbw::ResetLateBound();
    EXPECT_EQ(loader.Create(nullptr), TRUE);
    EXPECT_EQ(DynShutdownBlockReasonCreate(nullptr), TRUE);
    EXPECT_EQ(DynShutdownBlockReasonDestroy(nullptr), TRUE);
}

}  // namespace
