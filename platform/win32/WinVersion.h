// The emulated Windows version and the system facts that go with it.
//
// The version the program is told comes from ZBW_WINVER, read at every call, default
// "6.0.6000 workstation" (Windows Vista, no service pack, product kind Business, so the
// Vista-or-later branches are taken). The kernel's own view (RtlGetVersion) comes from
// ZBW_WINVER_KERNEL and is the same record unless that is set, so a test can make the two
// differ as under a compatibility shim. Format: blank-separated words, the first one required:
//   MAJOR.MINOR[.BUILD]       version and build (default build 0)
//   SP<n>[.<m>]               service pack n.m; CSDVersion becomes "Service Pack n"
//   nt | 9x | win32s | ce     platform (default nt)
//   workstation | server | dc product type (default workstation)
//   suite=<n>                 suite mask, decimal or 0x hex (default 0x100 single-user terminal
//                             services on a workstation, else 0)
//   product=<n>               the kind GetProductInfo reports (default Business (6) on a
//                             workstation, Standard Server (7) otherwise)
//   arch=x86|x64|ia64|arm|arm64|<n>  processor architecture (default: the host's)
//   tabletpc mediacenter starter r2  system metrics 86 ... 89 answer 1 (default 0)
// Example: ZBW_WINVER="5.1.2600 SP3 workstation arch=x86". A word that does not parse makes the
// whole setting fall back to the default, with one warning on standard error.
//
// Kept from Windows: GetVersionExW takes the plain and the extended record by their size and
// refuses the extended one on 9x and on NT before 4.0 SP6 (ERROR_INSUFFICIENT_BUFFER), as those
// systems did; 9x builds carry major and minor in the high word of dwBuildNumber; GetVersion
// sets the high bit for non-NT platforms. The optional functions (GetProductInfo from 6.0,
// GetNativeSystemInfo from 5.1, ...) are declared here but reached by the system through
// LateBound.h, which hides those that the emulated version does not have.
//
// Registry facts: none are seeded. The version probe's registry reads (ProductOptions,
// Windows NT\CurrentVersion, WPA, Terminal Server) find nothing unless a test writes them
// under HKEY_LOCAL_MACHINE (RegSetValueExW or the reg tool), which is how their branches are
// reached.
//
// Any thread may call these; nothing is cached.
#pragma once

#include <string>

#include "platform/base/WinTypes.h"

struct OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
};
typedef OSVERSIONINFOW* LPOSVERSIONINFOW;
typedef OSVERSIONINFOW RTL_OSVERSIONINFOW;
typedef OSVERSIONINFOW* PRTL_OSVERSIONINFOW;

struct OSVERSIONINFOEXW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};
typedef OSVERSIONINFOEXW* LPOSVERSIONINFOEXW;
typedef OSVERSIONINFOEXW RTL_OSVERSIONINFOEXW;

struct SYSTEM_INFO {
    union {
        DWORD dwOemId;
        struct {
            WORD wProcessorArchitecture;
            WORD wReserved;
        };
    };
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    DWORD_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
};
typedef SYSTEM_INFO* LPSYSTEM_INFO;
typedef DWORD* PDWORD;

#define VER_PLATFORM_WIN32s 0u
#define VER_PLATFORM_WIN32_WINDOWS 1u
#define VER_PLATFORM_WIN32_NT 2u
#define VER_PLATFORM_WIN32_CE 3u

#define VER_NT_WORKSTATION 1u
#define VER_NT_DOMAIN_CONTROLLER 2u
#define VER_NT_SERVER 3u

#define VER_SUITE_SMALLBUSINESS 0x0001u
#define VER_SUITE_ENTERPRISE 0x0002u
#define VER_SUITE_BACKOFFICE 0x0004u
#define VER_SUITE_COMMUNICATIONS 0x0008u
#define VER_SUITE_TERMINAL 0x0010u
#define VER_SUITE_SMALLBUSINESS_RESTRICTED 0x0020u
#define VER_SUITE_EMBEDDEDNT 0x0040u
#define VER_SUITE_DATACENTER 0x0080u
#define VER_SUITE_SINGLEUSERTS 0x0100u
#define VER_SUITE_PERSONAL 0x0200u
#define VER_SUITE_BLADE 0x0400u
#define VER_SUITE_EMBEDDED_RESTRICTED 0x0800u
#define VER_SUITE_SECURITY_APPLIANCE 0x1000u
#define VER_SUITE_STORAGE_SERVER 0x2000u
#define VER_SUITE_COMPUTE_SERVER 0x4000u
#define VER_SUITE_WH_SERVER 0x8000u

// Product kinds of GetProductInfo.
#define PRODUCT_UNDEFINED 0x00u
#define PRODUCT_ULTIMATE 0x01u
#define PRODUCT_HOME_BASIC 0x02u
#define PRODUCT_HOME_PREMIUM 0x03u
#define PRODUCT_ENTERPRISE 0x04u
#define PRODUCT_HOME_BASIC_N 0x05u
#define PRODUCT_BUSINESS 0x06u
#define PRODUCT_STANDARD_SERVER 0x07u
#define PRODUCT_DATACENTER_SERVER 0x08u
#define PRODUCT_SMALLBUSINESS_SERVER 0x09u
#define PRODUCT_ENTERPRISE_SERVER 0x0Au
#define PRODUCT_STARTER 0x0Bu
#define PRODUCT_DATACENTER_SERVER_CORE 0x0Cu
#define PRODUCT_STANDARD_SERVER_CORE 0x0Du
#define PRODUCT_ENTERPRISE_SERVER_CORE 0x0Eu
#define PRODUCT_ENTERPRISE_SERVER_IA64 0x0Fu
#define PRODUCT_BUSINESS_N 0x10u
#define PRODUCT_WEB_SERVER 0x11u
#define PRODUCT_CLUSTER_SERVER 0x12u
#define PRODUCT_HOME_SERVER 0x13u
#define PRODUCT_STORAGE_EXPRESS_SERVER 0x14u
#define PRODUCT_STORAGE_STANDARD_SERVER 0x15u
#define PRODUCT_STORAGE_WORKGROUP_SERVER 0x16u
#define PRODUCT_STORAGE_ENTERPRISE_SERVER 0x17u
#define PRODUCT_SERVER_FOR_SMALLBUSINESS 0x18u
#define PRODUCT_SMALLBUSINESS_SERVER_PREMIUM 0x19u
#define PRODUCT_HOME_PREMIUM_N 0x1Au
#define PRODUCT_ENTERPRISE_N 0x1Bu
#define PRODUCT_ULTIMATE_N 0x1Cu
#define PRODUCT_WEB_SERVER_CORE 0x1Du
#define PRODUCT_MEDIUMBUSINESS_SERVER_MANAGEMENT 0x1Eu
#define PRODUCT_MEDIUMBUSINESS_SERVER_SECURITY 0x1Fu
#define PRODUCT_MEDIUMBUSINESS_SERVER_MESSAGING 0x20u
#define PRODUCT_SERVER_FOUNDATION 0x21u
#define PRODUCT_HOME_PREMIUM_SERVER 0x22u
#define PRODUCT_SERVER_FOR_SMALLBUSINESS_V 0x23u
#define PRODUCT_STANDARD_SERVER_V 0x24u
#define PRODUCT_DATACENTER_SERVER_V 0x25u
#define PRODUCT_ENTERPRISE_SERVER_V 0x26u
#define PRODUCT_DATACENTER_SERVER_CORE_V 0x27u
#define PRODUCT_STANDARD_SERVER_CORE_V 0x28u
#define PRODUCT_ENTERPRISE_SERVER_CORE_V 0x29u
#define PRODUCT_HYPERV 0x2Au
#define PRODUCT_UNLICENSED 0xABCDABCDu

#define PROCESSOR_ARCHITECTURE_INTEL 0
#define PROCESSOR_ARCHITECTURE_MIPS 1
#define PROCESSOR_ARCHITECTURE_ALPHA 2
#define PROCESSOR_ARCHITECTURE_PPC 3
#define PROCESSOR_ARCHITECTURE_SHX 4
#define PROCESSOR_ARCHITECTURE_ARM 5
#define PROCESSOR_ARCHITECTURE_IA64 6
#define PROCESSOR_ARCHITECTURE_ALPHA64 7
#define PROCESSOR_ARCHITECTURE_MSIL 8
#define PROCESSOR_ARCHITECTURE_AMD64 9
#define PROCESSOR_ARCHITECTURE_IA32_ON_WIN64 10
#define PROCESSOR_ARCHITECTURE_ARM64 12
#define PROCESSOR_ARCHITECTURE_UNKNOWN 0xFFFF

#define SM_TABLETPC 86
#define SM_MEDIACENTER 87
#define SM_STARTER 88
#define SM_SERVERR2 89

#define STATUS_SUCCESS 0
#define STATUS_INVALID_PARAMETER (static_cast<LONG>(0xC000000Du))

BOOL GetVersionExW(LPOSVERSIONINFOW lpVersionInformation);
// Low byte major, next byte minor, high word build; high bit set off NT.
DWORD GetVersion();
// The configured product kind; the version arguments are not checked.
BOOL GetProductInfo(DWORD dwOSMajorVersion, DWORD dwOSMinorVersion, DWORD dwSpMajorVersion,
                    DWORD dwSpMinorVersion, PDWORD pdwReturnedProductType);
void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);
// The same as GetSystemInfo: programs run natively, never under emulation of another processor.
void GetNativeSystemInfo(LPSYSTEM_INFO lpSystemInfo);
// SM_TABLETPC ... SM_SERVERR2 from the configuration; any other index answers 0.
int GetSystemMetrics(int nIndex);
// The kernel's view (ZBW_WINVER_KERNEL); takes either record size; returns an NTSTATUS.
LONG RtlGetVersion(PRTL_OSVERSIONINFOW lpVersionInformation);

namespace zbw {

struct EMULATEDVERSION {
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    DWORD major = 6;
    DWORD minor = 0;
    DWORD build = 6000;
    WORD servicePackMajor = 0;
    WORD servicePackMinor = 0;
    WORD suiteMask = VER_SUITE_SINGLEUSERTS;
    BYTE productType = VER_NT_WORKSTATION;
    DWORD productKind = PRODUCT_BUSINESS;
    WORD architecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
    bool metrics[4] = {false, false, false, false};  // SM_TABLETPC ... SM_SERVERR2
};

// Parses the setting's format (above); false when a word does not parse.
bool ParseEmulatedVersion(const std::string& text, EMULATEDVERSION* version);
// What the program is told (ZBW_WINVER).
EMULATEDVERSION EmulatedVersion();
// What the kernel shows (ZBW_WINVER_KERNEL, else the same as EmulatedVersion).
EMULATEDVERSION KernelVersion();
// The emulated version is at least major.minor.
bool EmulatedVersionAtLeast(DWORD major, DWORD minor);

}  // namespace zbw
