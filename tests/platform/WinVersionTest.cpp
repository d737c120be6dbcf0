// The emulated Windows version records; fakes a temporary emulation root and the version by environment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/base/WinError.h"
#include "platform/win32/WinVersion.h"
#include "tests/support/TestRoot.h"

namespace {

class WinVersionTest : public ::testing::Test {
   protected:
    void TearDown() override {
        unsetenv("ZBW_WINVER");
        unsetenv("ZBW_WINVER_KERNEL");
    }

    static bool Extended(OSVERSIONINFOEXW* info) {
        *info = OSVERSIONINFOEXW{};
        info->dwOSVersionInfoSize = sizeof *info;
        return GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(info)) == TRUE;
    }

    static bool Plain(OSVERSIONINFOW* info) {
        *info = OSVERSIONINFOW{};
        info->dwOSVersionInfoSize = sizeof *info;
        return GetVersionExW(info) == TRUE;
    }

    CTestRoot m_root;
};

TEST_F(WinVersionTest, RecordsHaveTheWindowsSizes) {
    EXPECT_EQ(sizeof(OSVERSIONINFOW), 276u);
    EXPECT_EQ(sizeof(OSVERSIONINFOEXW), 284u);
}

TEST_F(WinVersionTest, DefaultIsVistaWorkstation) {
    OSVERSIONINFOEXW info;
    ASSERT_TRUE(Extended(&info));
    EXPECT_EQ(info.dwMajorVersion, 6u);
    EXPECT_EQ(info.dwMinorVersion, 0u);
    EXPECT_EQ(info.dwBuildNumber, 6000u);
    EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
    EXPECT_EQ(info.wProductType, VER_NT_WORKSTATION);
    EXPECT_EQ(info.wServicePackMajor, 0);
    EXPECT_EQ(info.szCSDVersion[0], 0);
    EXPECT_EQ(GetVersion(), 0x17700006u);  // build 6000 in the high word, high bit clear on NT
    DWORD kind = 0;
    ASSERT_TRUE(GetProductInfo(6, 0, 0, 0, &kind));
    EXPECT_EQ(kind, PRODUCT_BUSINESS);
}

TEST_F(WinVersionTest, WindowsXpProfessionalSp3OnX86) {
    setenv("ZBW_WINVER", "5.1.2600 SP3 workstation arch=x86", 1);
    OSVERSIONINFOEXW info;
    ASSERT_TRUE(Extended(&info));
    EXPECT_EQ(info.dwMajorVersion, 5u);
    EXPECT_EQ(info.dwMinorVersion, 1u);
    EXPECT_EQ(info.dwBuildNumber, 2600u);
    EXPECT_EQ(info.wServicePackMajor, 3);
    EXPECT_EQ(info.wServicePackMinor, 0);
    EXPECT_EQ(std::u16string(info.szCSDVersion), u"Service Pack 3");
    SYSTEM_INFO si;
    GetNativeSystemInfo(&si);
    EXPECT_EQ(si.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_GE(si.dwNumberOfProcessors, 1u);
    EXPECT_GT(si.dwPageSize, 0u);
}

TEST_F(WinVersionTest, OldSystemsRefuseTheExtendedRecord) {
    struct CASE {
        const char* setting;
        bool extended;
        DWORD build;
        DWORD version;
    };
    const CASE cases[] = {
        {"4.10.2222 9x", false, 0x040A08AEu, 0x88AE0A04u},
        {"4.0.1381 SP5 server", false, 1381, 0x05650004u},
        {"4.0.1381 SP6 server", true, 1381, 0x05650004u},
        {"5.0.2195 SP4", true, 2195, 0x08930005u},
    };
    for (const CASE& c : cases) {
        setenv("ZBW_WINVER", c.setting, 1);
        OSVERSIONINFOEXW ex;
        EXPECT_EQ(Extended(&ex), c.extended) << c.setting;
        if (!c.extended) {
            EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        }
        OSVERSIONINFOW plain;
        ASSERT_TRUE(Plain(&plain)) << c.setting;
        EXPECT_EQ(plain.dwBuildNumber, c.build) << c.setting;
        EXPECT_EQ(GetVersion(), c.version) << c.setting;
    }
}

TEST_F(WinVersionTest, WrongRecordSizeFails) {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = 100;
    EXPECT_FALSE(GetVersionExW(&info));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(GetVersionExW(nullptr));
}

TEST_F(WinVersionTest, ServerFlagsSuiteProductAndMetrics) {
    setenv("ZBW_WINVER", "5.2.3790 SP2 dc suite=0x82 product=0x0A r2 tabletpc arch=x64", 1);
    OSVERSIONINFOEXW info;
    ASSERT_TRUE(Extended(&info));
    EXPECT_EQ(info.wProductType, VER_NT_DOMAIN_CONTROLLER);
    EXPECT_EQ(info.wSuiteMask, VER_SUITE_DATACENTER | VER_SUITE_ENTERPRISE);
    EXPECT_EQ(GetSystemMetrics(SM_SERVERR2), 1);
    EXPECT_EQ(GetSystemMetrics(SM_TABLETPC), 1);
    EXPECT_EQ(GetSystemMetrics(SM_MEDIACENTER), 0);
    EXPECT_EQ(GetSystemMetrics(SM_STARTER), 0);
    EXPECT_EQ(GetSystemMetrics(0x1000), 0);
    DWORD kind = 0;
    ASSERT_TRUE(GetProductInfo(5, 2, 2, 0, &kind));
    EXPECT_EQ(kind, PRODUCT_ENTERPRISE_SERVER);
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    EXPECT_EQ(si.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);

    setenv("ZBW_WINVER", "6.0.6001 server", 1);
    ASSERT_TRUE(Extended(&info));
    EXPECT_EQ(info.wSuiteMask, 0);
    ASSERT_TRUE(GetProductInfo(6, 0, 0, 0, &kind));
    EXPECT_EQ(kind, PRODUCT_STANDARD_SERVER);
}

TEST_F(WinVersionTest, SettingsThatDoNotParse) {
    const char* bad[] = {"",       "6", "six.zero", "6.0 SP", "6.0 bogus", "6.0 suite=zz", "6.0 arch=sparc",
                         "6.0.1.2"};
    for (const char* text : bad) {
        zbw::EMULATEDVERSION v;
        EXPECT_FALSE(zbw::ParseEmulatedVersion(text, &v)) << text;
    }
    setenv("ZBW_WINVER", "6.0 bogus", 1);
    OSVERSIONINFOEXW info;
    ASSERT_TRUE(Extended(&info));
    EXPECT_EQ(info.dwBuildNumber, 6000u);  // the default
}

TEST_F(WinVersionTest, KernelViewCanDifferFromWhatTheProgramIsTold) {
    RTL_OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_EQ(RtlGetVersion(reinterpret_cast<PRTL_OSVERSIONINFOW>(&info)), STATUS_SUCCESS);
    EXPECT_EQ(info.dwBuildNumber, 6000u);

    setenv("ZBW_WINVER", "5.1.2600 SP2", 1);
    setenv("ZBW_WINVER_KERNEL", "6.1.7601 SP1", 1);
    ASSERT_EQ(RtlGetVersion(reinterpret_cast<PRTL_OSVERSIONINFOW>(&info)), STATUS_SUCCESS);
    EXPECT_EQ(info.dwMinorVersion, 1u);
    EXPECT_EQ(info.dwBuildNumber, 7601u);
    EXPECT_EQ(info.wServicePackMajor, 1);
    OSVERSIONINFOEXW told;
    ASSERT_TRUE(Extended(&told));
    EXPECT_EQ(told.dwBuildNumber, 2600u);
    EXPECT_TRUE(zbw::EmulatedVersionAtLeast(5, 1));
    EXPECT_FALSE(zbw::EmulatedVersionAtLeast(5, 2));
}

}  // namespace
