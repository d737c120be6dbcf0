// The layer's account and computer names, SIDs and integrity; fakes a temporary emulation root and names set
// by environment.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/win32/Accounts.h"
#include "tests/support/TestRoot.h"

namespace {

class AccountsTest : public ::testing::Test {
   protected:
    void SetUp() override {
        setenv("ZBW_USER_NAME", "tester", 1);
        setenv("ZBW_COMPUTER_NAME", "buildhost.example.org", 1);
    }
    void TearDown() override {
        unsetenv("ZBW_USER_NAME");
        unsetenv("ZBW_COMPUTER_NAME");
    }

    CTestRoot m_root;
};

TEST_F(AccountsTest, UserNameCountsItsZero) {
    char16_t name[257];
    DWORD size = 3;
    EXPECT_FALSE(GetUserNameW(name, &size));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 7u);
    size = 257;
    ASSERT_TRUE(GetUserNameW(name, &size));
    EXPECT_EQ(std::u16string(name), u"tester");
    EXPECT_EQ(size, 7u);

    setenv("ZBW_USER_NAME", "j\xC3\xBCrgen", 1);
    size = 257;
    ASSERT_TRUE(GetUserNameW(name, &size));
    EXPECT_EQ(std::u16string(name), u"j\u00FCrgen");
}

TEST_F(AccountsTest, UserNameComesFromThePasswordFileByDefault) {
    unsetenv("ZBW_USER_NAME");
    struct passwd* pw = getpwuid(getuid());
    if (!pw) GTEST_SKIP() << "no account for this uid";
    char16_t name[1024];
    DWORD size = 1024;
    ASSERT_TRUE(GetUserNameW(name, &size));
    EXPECT_EQ(zbw::ToUtf8(name), pw->pw_name);
}

TEST_F(AccountsTest, ComputerNamesInEachForm) {
    char16_t name[16];
    DWORD size = 16;
    ASSERT_TRUE(GetComputerNameW(name, &size));
    EXPECT_EQ(std::u16string(name), u"BUILDHOST");
    EXPECT_EQ(size, 9u);

    struct CASE {
        COMPUTER_NAME_FORMAT format;
        std::u16string expected;
    };
    const CASE cases[] = {
        {ComputerNameNetBIOS, u"BUILDHOST"},
        {ComputerNameDnsHostname, u"buildhost"},
        {ComputerNameDnsDomain, u"example.org"},
        {ComputerNameDnsFullyQualified, u"buildhost.example.org"},
        {ComputerNamePhysicalDnsFullyQualified, u"buildhost.example.org"},
    };
    for (const CASE& c : cases) {
        char16_t buf[4096];
        DWORD len = 4096;
        ASSERT_TRUE(GetComputerNameExW(c.format, buf, &len)) << c.format;
        EXPECT_EQ(std::u16string(buf), c.expected);
        EXPECT_EQ(len, c.expected.size());
    }
    DWORD len = 5;
    EXPECT_FALSE(GetComputerNameExW(ComputerNameDnsFullyQualified, name, &len));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(len, 22u);
    EXPECT_FALSE(GetComputerNameExW(ComputerNameMax, name, &len));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    char ansi[16];
    DWORD bytes = 16;
    ASSERT_TRUE(GetComputerNameA(ansi, &bytes));
    EXPECT_EQ(std::string(ansi), "BUILDHOST");
}

TEST_F(AccountsTest, HostLabelLongerThanAWindowsNameDoesNotFitItsBuffer) {
    setenv("ZBW_COMPUTER_NAME", "averyveryverylonghostname", 1);
    char16_t name[16];
    DWORD size = 16;
    EXPECT_FALSE(GetComputerNameW(name, &size));
    EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(size, 26u);
    char ansi[16];
    DWORD bytes = 16;
    EXPECT_FALSE(GetComputerNameA(ansi, &bytes));
    char16_t full[4096];
    DWORD len = 4096;
    ASSERT_TRUE(GetComputerNameExW(ComputerNameDnsFullyQualified, full, &len));
    EXPECT_EQ(std::u16string(full), u"averyveryverylonghostname");
}

TEST_F(AccountsTest, ExtendedUserNameKnowsNoDomain) {
    char16_t name[4096];
    ULONG size = 4096;
    EXPECT_FALSE(GetUserNameExW(NameDnsDomain, name, &size));
    EXPECT_EQ(GetLastError(), ERROR_NONE_MAPPED);
    size = 4096;
    ASSERT_TRUE(GetUserNameExW(NameSamCompatible, name, &size));
    EXPECT_EQ(std::u16string(name), u"BUILDHOST\\tester");
    EXPECT_EQ(size, 16u);
    size = 4;
    EXPECT_FALSE(GetUserNameExW(NameSamCompatible, name, &size));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(size, 17u);
}

TEST_F(AccountsTest, SidAndIntegrityFollowTheUid) {
    EXPECT_EQ(zbw::ToUtf8(zbw::CurrentUserSidText()), "S-1-5-21-0-0-0-" + std::to_string(getuid()));
    const bool root = geteuid() == 0;
    EXPECT_EQ(zbw::CurrentIntegrityLevel(), root ? 3 : 2);
    EXPECT_EQ(zbw::CurrentIntegrityRid(), root ? 0x3000u : 0x2000u);
}

}  // namespace
