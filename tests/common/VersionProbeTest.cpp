// The Windows version probe and its text; fakes a temporary emulation root, the emulated Windows version and
// hidden bound functions.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "common/OSVersionText.h"
#include "common/RegUtils.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/win32/LateBound.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinVersion.h"
#include "tests/support/TestRoot.h"

namespace {

const char16_t kCurrentVersion[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char16_t kProductOptions[] = u"System\\CurrentControlSet\\Control\\ProductOptions";

class VersionProbeTest : public ::testing::Test {
   protected:
    void TearDown() override { zbw::ResetLateBound(); }

    // The line for the emulated version given in ZBW_WINVER's form.
    std::string TextFor(const char* winver) {
        setenv("ZBW_WINVER", winver, 1);
        OSVERSIONDATA version;
        EXPECT_TRUE(GetOSVersion(version)) << winver;
        return zbw::ToUtf8(BuildOSVersionText(version));
    }

    void SetDword(LPCWSTR keyPath, LPCWSTR name, DWORD value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        RegCloseKey(key);
    }

    CTestRoot m_root;
};

struct VERSIONCASE {
    const char* winver;
    const char* text;
};

TEST_F(VersionProbeTest, EmulatedSystemsGiveTheirNames) {
    const VERSIONCASE cases[] = {
        // Windows NT family
        {"5.1.2600 SP3 arch=x86",
         "Windows XP (Professional), (x86-32 Processor) v5.1 Build:2600 Service Pack:3"},
        {"5.1.2600 SP2 suite=0x300 arch=x86",
         "Windows XP (Personal), (x86-32 Processor) v5.1 Build:2600 Service Pack:2"},
        {"5.1.2600 SP2 starter arch=x86",
         "Windows XP (Starter Edition), (x86-32 Processor) v5.1 Build:2600 Service Pack:2"},
        {"5.1.2600 SP2 mediacenter tabletpc arch=x86",
         "Windows XP (Professional), (Media Center Edition), (Tablet PC Edition), (x86-32 Processor) v5.1 "
         "Build:2600 "
         "Service Pack:2"},
        {"5.1.2600 SP1.1 arch=x86",
         "Windows XP (Professional), (x86-32 Processor) v5.1 Build:2600 Service Pack: 1a"},
        {"5.2.3790 SP2 arch=x64",
         "Windows XP (Professional), (x86-64 Processor) v5.2 Build:3790 Service Pack:2"},
        {"5.2.3790 SP2 server suite=0x2 r2 arch=x64",
         "Windows Server 2003 R2, (Enterprise Edition), (x86-64 Processor) v5.2 Build:3790 Service Pack:2"},
        {"5.2.3790 SP1.2 server suite=0x400 arch=x86",
         "Windows Server 2003, (Web Edition), (x86-32 Processor) v5.2 Build:3790 Service Pack:1.2"},
        {"5.2.3790 dc suite=0x80 arch=ia64",
         "Windows Server 2003 (Domain Controller), (Datacenter Edition), (IA64 Itanium[2] Processor) v5.2 "
         "Build:3790"},
        {"5.2.3790 server suite=0x4000 arch=x64",
         "Windows Server 2003, (Standard Edition), (Compute Cluster Edition), (x86-64 Processor) v5.2 "
         "Build:3790"},
        {"5.0.2195 SP4 arch=x86",
         "Windows 2000 (Professional), (x86-32 Processor) v5.0 Build:2195 Service Pack:4"},
        {"5.0.2195 server suite=0x2 arch=x86",
         "Windows 2000 (Server), (Advanced Server), (x86-32 Processor) v5.0 Build:2195"},
        {"5.0.2195 dc suite=0x80 arch=x86",
         "Windows 2000 (Domain Controller), (Datacenter), (x86-32 Processor) v5.0 Build:2195"},
        {"5.0.2195 server suite=0x44 arch=x86",
         "Windows 2000 (Server), (Embedded), (BackOffice), (x86-32 Processor) v5.0 Build:2195"},
        {"4.0.1381 SP6 arch=x86",
         "Windows NT (Workstation), (x86-32 Processor) v4.0 Build:1381 Service Pack:6"},
        {"4.0.1381 SP6.1 server suite=0x2 arch=x86",
         "Windows NT (Server), (Enterprise), (x86-32 Processor) v4.0 Build:1381 Service Pack: 6a"},
        {"3.51.1057 SP5 arch=x86",
         "Windows NT (Workstation), (x86-32 Processor) v3.51 Build:1057 Service Pack:5"},
        // A later version than any named one: our choice, the family name alone.
        {"6.1.7601 SP1 arch=x64", "Windows NT, (x86-64 Processor) v6.1 Build:7601 Service Pack:1"},
        // Vista, by the product kind
        {"6.0.6000 product=11 arch=x86",
         "Windows Vista (Starter Edition), (x86-32 Processor) v6.0 Build:6000"},
        {"6.0.6000 product=2 arch=x86", "Windows Vista (Home Basic), (x86-32 Processor) v6.0 Build:6000"},
        {"6.0.6000 product=5 arch=x86",
         "Windows Vista (Home Basic), (N), (x86-32 Processor) v6.0 Build:6000"},
        {"6.0.6000 product=3 arch=x64", "Windows Vista (Home Premium), (x86-64 Processor) v6.0 Build:6000"},
        {"6.0.6000 product=26 arch=x64",
         "Windows Vista (Home Premium), (N), (x86-64 Processor) v6.0 Build:6000"},
        {"6.0.6001 SP1 arch=x64",
         "Windows Vista (Business), (x86-64 Processor) v6.0 Build:6001 Service Pack:1"},
        {"6.0.6000 product=16 arch=x64", "Windows Vista (Business), (N), (x86-64 Processor) v6.0 Build:6000"},
        {"6.0.6000 product=1 arch=x64", "Windows Vista (Ultimate), (x86-64 Processor) v6.0 Build:6000"},
        {"6.0.6000 product=28 arch=x64", "Windows Vista (Ultimate), (N), (x86-64 Processor) v6.0 Build:6000"},
        {"6.0.6000 product=4 arch=x64", "Windows Vista (Enterprise), (x86-64 Processor) v6.0 Build:6000"},
        {"6.0.6000 product=27 arch=x64",
         "Windows Vista (Enterprise), (N), (x86-64 Processor) v6.0 Build:6000"},
        {"6.0.6000 product=1 suite=0x102 arch=x64",
         "Windows Vista (Enterprise), (x86-64 Processor) v6.0 Build:6000"},
        {"6.0.6000 product=6 suite=0x102 arch=x64",
         "Windows Vista (Business), (x86-64 Processor) v6.0 Build:6000"},
        {"6.0.6000 product=0 arch=x64", "Windows Vista (\?\?), (x86-64 Processor) v6.0 Build:6000"},
        // Server 2008, by the product kind
        {"6.0.6001 SP1 server arch=x64",
         "Windows Server 2008, (Standard Edition), (x86-64 Processor) v6.0 Build:6001 Service Pack:1"},
        {"6.0.6001 server product=14 arch=x64",
         "Windows Server 2008, (Enterprise Edition), (Server Core), (x86-64 Processor) v6.0 Build:6001"},
        {"6.0.6001 dc product=8 arch=x64",
         "Windows Server 2008 (Domain Controller), (Datacenter Edition), (x86-64 Processor) v6.0 Build:6001"},
        {"6.0.6001 server product=17 arch=x86",
         "Windows Server 2008, (Web Edition), (x86-32 Processor) v6.0 Build:6001"},
        {"6.0.6001 server product=23 arch=x64",
         "Windows Server 2008, (Standard Edition), (Storage Server Enterprise), (x86-64 Processor) v6.0 "
         "Build:6001"},
        {"6.0.6001 server product=25 arch=x64",
         "Windows Server 2008, (Standard Edition), (Small Business Server Premium), (x86-64 Processor) v6.0 "
         "Build:6001"},
        {"6.0.6001 server product=30 arch=x64",
         "Windows Server 2008, (Standard Edition), (Windows Essential Business Server Manangement Server), "
         "(x86-64 "
         "Processor) v6.0 Build:6001"},
        {"6.0.6001 server product=42 arch=x64",
         "Windows Server 2008, (Standard Edition), (HyperV), (x86-64 Processor) v6.0 Build:6001"},
        {"6.0.6001 server product=9 arch=x64",
         "Windows Server 2008, (Standard Edition), (Small Business Server), (x86-64 Processor) v6.0 "
         "Build:6001"},
        // Windows 9x, by the build
        {"4.0.950 9x arch=x86", "Windows 95, (x86-32 Processor) v4.0 Build:950"},
        {"4.0.1000 9x arch=x86", "Windows 95 SP1, (x86-32 Processor) v4.0 Build:1000"},
        {"4.0.1111 9x arch=x86", "Windows 95 B [aka OSR2], (x86-32 Processor) v4.0 Build:1111"},
        {"4.0.1214 9x arch=x86", "Windows 95 C [aka OSR2.5], (x86-32 Processor) v4.0 Build:1214"},
        {"4.0.900 9x arch=x86", "Windows, (x86-32 Processor) v4.0 Build:900"},
        {"4.10.1998 9x arch=x86", "Windows 98, (x86-32 Processor) v4.1 Build:1998"},
        {"4.10.2000 9x arch=x86", "Windows 98 SP1, (x86-32 Processor) v4.1 Build:2000"},
        {"4.10.2222 9x SP1 arch=x86",
         "Windows 98 Second Edition, (x86-32 Processor) v4.1 Build:2222 Service Pack:1"},
        {"4.90.3000 9x arch=x86", "Windows Millenium Edition, (x86-32 Processor) v4.9 Build:3000"},
        // Other platforms and processors
        {"3.10 win32s arch=x86", "Windows (Win32s), (x86-32 Processor) v3.1"},
        {"5.0.1 ce arch=arm", "Windows CE, (ARM Processor) v5.0 Build:1"},
        {"6.0.6000 arch=12", "Windows Vista (Business), (Unknown Processor) v6.0 Build:6000"},
    };
    for (const VERSIONCASE& c : cases) EXPECT_EQ(TextFor(c.winver), c.text) << c.winver;
}

TEST_F(VersionProbeTest, RegistryFactsRefineTheRecord) {
    // Service pack 1a of XP and 6a of NT 4 show only in the registry.
    ASSERT_TRUE(WriteRegStringLM(kCurrentVersion, u"SubVersionNumber", u"A"));
    EXPECT_EQ(TextFor("5.1.2600 SP1 arch=x86"),
              "Windows XP (Professional), (x86-32 Processor) v5.1 Build:2600 Service Pack: 1a");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                              u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009", 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(TextFor("4.0.1381 SP6 arch=x86"),
              "Windows NT (Workstation), (x86-32 Processor) v4.0 Build:1381 Service Pack: 6a");

    SetDword(u"System\\WPA\\MediaCenter", u"Installed", 1);
    SetDword(u"System\\WPA\\TabletPC", u"Installed", 0);
    EXPECT_EQ(TextFor("5.1.2600 SP2 arch=x86"),
              "Windows XP (Professional), (Media Center Edition), (x86-32 Processor) v5.1 Build:2600 Service "
              "Pack:2");

    SetDword(u"System\\CurrentControlSet\\Control\\Terminal Server", u"TSAppCompat", 1);
    ASSERT_TRUE(WriteRegStringLM(kCurrentVersion, u"CurrentType", u"Multiprocessor Free"));
    OSVERSIONDATA version;
    ASSERT_TRUE(GetOSVersion(version));
    EXPECT_TRUE(version.flags & OSV_TS_APP_COMPAT);
    EXPECT_EQ(version.kernelType, CString(u"Multiprocessor Free"));
}

TEST_F(VersionProbeTest, ProductOptionsStandInForTheExtendedRecord) {
    // NT 4 before service pack 6 has only the plain record: type and suite come from the registry.
    const struct {
        const char16_t* type;
        const char* text;
    } cases[] = {
        {nullptr, "Windows NT (Workstation), (x86-32 Processor) v4.0 Build:1381 Service Pack:5"},
        {u"WinNT", "Windows NT (Workstation), (x86-32 Processor) v4.0 Build:1381 Service Pack:5"},
        {u"ServerNT", "Windows NT (Server), (x86-32 Processor) v4.0 Build:1381 Service Pack:5"},
        {u"LanmanNT",
         "Windows NT (Primary Domain Controller), (x86-32 Processor) v4.0 Build:1381 Service Pack:5"},
        {u"LANSECNT",
         "Windows NT (Backup Domain Controller), (x86-32 Processor) v4.0 Build:1381 Service Pack:5"},
    };
    for (const auto& c : cases) {
        if (c.type) {
            ASSERT_TRUE(WriteRegStringLM(kProductOptions, u"ProductType", c.type));
        }
        EXPECT_EQ(TextFor("4.0.1381 SP5 server arch=x86"), c.text);
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductOptions, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const char16_t suites[] = u"Enterprise\0Terminal Server\0";
    RegSetValueExW(key, u"ProductSuite", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(suites),
                   sizeof suites);
    RegCloseKey(key);
    ASSERT_TRUE(WriteRegStringLM(kProductOptions, u"ProductType", u"ServerNT"));
    EXPECT_EQ(TextFor("4.0.1381 SP5 server arch=x86"),
              "Windows NT (Server), (Enterprise), (x86-32 Processor) v4.0 Build:1381 Service Pack:5");
    // With the extended record its own product type wins over the registry's.
    EXPECT_EQ(TextFor("4.0.1381 SP6 arch=x86"),
              "Windows NT (Workstation), (x86-32 Processor) v4.0 Build:1381 Service Pack:6");
}

TEST_F(VersionProbeTest, MissingFunctionsFallBack) {
    zbw::HideLateBound("KERNEL32!GetProductInfo");
    EXPECT_EQ(TextFor("6.0.6000 product=1 arch=x64"),
              "Windows Vista (\?\?), (x86-64 Processor) v6.0 Build:6000");
    zbw::HideLateBound("KERNEL32!GetNativeSystemInfo");
    EXPECT_EQ(TextFor("5.1.2600 SP3 arch=x86"),
              "Windows XP (Professional), (x86-32 Processor) v5.1 Build:2600 Service Pack:3");
    zbw::HideLateBound("KERNEL32");
    OSVERSIONDATA version;
    EXPECT_FALSE(GetOSVersion(version));
    EXPECT_EQ(ProbeOSVersionText(), CString(u"Failed in call to GetOSVersion\n"));
}

TEST_F(VersionProbeTest, KernelAndReportedVersionsDifferUnderEmulation) {
    setenv("ZBW_WINVER", "6.0.6002 SP2 arch=x64", 1);
    EXPECT_EQ(zbw::ToUtf8(ProbeOSVersionText()),
              "Windows Vista (Business), (x86-64 Processor) v6.0 Build:6002 Service Pack:2");
    setenv("ZBW_WINVER_KERNEL", "6.1.7601 SP1 arch=x64", 1);
    EXPECT_EQ(zbw::ToUtf8(ProbeOSVersionText()),
              "Windows NT, (x86-64 Processor) v6.1 Build:7601 Service Pack:1 - Emulated OS: Windows Vista "
              "(Business), "
              "(x86-64 Processor) v6.0 Build:6002 Service Pack:2");

    // Without RtlGetVersion the registry tells the kernel's version.
    zbw::HideLateBound("NTDLL!RtlGetVersion");
    EXPECT_EQ(zbw::ToUtf8(ProbeOSVersionText()),
              "Windows Vista (Business), (x86-64 Processor) v6.0 Build:6002 Service Pack:2");
    ASSERT_TRUE(WriteRegStringLM(kCurrentVersion, u"CurrentVersion", u"6.1"));
    ASSERT_TRUE(WriteRegStringLM(kCurrentVersion, u"CurrentBuildNumber", u"7600"));
    EXPECT_EQ(
        zbw::ToUtf8(ProbeOSVersionText()),
        "Windows NT, (x86-64 Processor) v6.1 Build:7600 - Emulated OS: Windows Vista (Business), (x86-64 "
        "Processor) v6.0 Build:6002 Service Pack:2");
}

TEST_F(VersionProbeTest, TextIsBuiltOnce) {
    const CString first = GetOSVersionText();
    EXPECT_FALSE(first.IsEmpty());
    setenv("ZBW_WINVER", first.Find(u"v4.0") >= 0 ? "5.1.2600 arch=x86" : "4.0.950 9x arch=x86", 1);
    EXPECT_EQ(GetOSVersionText(), first);
}

TEST(VersionTextTest, VersionAndServicePackForms) {
    struct CASE {
        DWORD major, minor, build;
        WORD spMajor, spMinor;
        const char* tail;
    } cases[] = {
        {5, 2, 3790, 2, 1, " v5.2 Build:3790 Service Pack:2.1"},
        {5, 2, 3790, 0, 3, " v5.2 Build:3790 Service Pack:0.3"},
        {5, 1, 0, 0, 0, " v5.1"},
        {4, 10, 0, 1, 1, " v4.1 Service Pack:1.1"},
        {3, 51, 0, 0, 0, " v3.51"},
        {4, 90, 0, 0, 0, " v4.9"},
        {10, 5, 1, 0, 0, " v10.5 Build:1"},
        {6, 20, 9200, 0, 0, " v6.2 Build:9200"},
    };
    for (const CASE& c : cases) {
        OSVERSIONDATA v;
        v.platform = VER_PLATFORM_WIN32_CE;
        v.major = c.major;
        v.minor = c.minor;
        v.build = c.build;
        v.servicePackMajor = c.spMajor;
        v.servicePackMinor = c.spMinor;
        v.architecture = PROCESSOR_ARCHITECTURE_MIPS;
        EXPECT_EQ(zbw::ToUtf8(BuildOSVersionText(v)), std::string("Windows CE, (MIPS Processor)") + c.tail);
    }
    OSVERSIONDATA unknown;
    unknown.platform = 7;
    EXPECT_EQ(zbw::ToUtf8(BuildOSVersionText(unknown)), "Unknown OS, (Unknown Processor) v0.0");
}

}  // namespace
