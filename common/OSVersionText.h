// The one-line description of the Windows system the program runs on, for the start-up log
// ("System: ") and the crash report.
//
// GetOSVersion gathers the facts: the version functions (GetVersionExW with the extended record,
// else the plain one), the product options, WPA, Terminal Server and CurrentVersion keys under
// HKEY_LOCAL_MACHINE, the system metrics 86 to 89, GetProductInfo (Vista and later) and
// GetNativeSystemInfo, both bound by name from KERNEL32 with GetSystemInfo as the fallback.
// BuildOSVersionText turns one record into the line: system name, edition suffixes, processor,
// version, build and service pack. GetOSVersionText builds the line twice, from what the
// kernel (RtlGetVersion, else the registry's CurrentVersion values) and what the version
// functions report; when a compatibility layer makes them differ the result is
// "<kernel line> - Emulated OS: <reported line>".
//
// Threads: any thread; GetOSVersionText probes once per process and keeps the text.
// Failures: GetOSVersion returns false when KERNEL32 is not loaded or no version record is
// given; the text is then "Failed in call to GetOSVersion\n".
#pragma once

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

// Flags of the record beyond the suite mask of the version record.
enum OSVERSIONFLAG : DWORD {
    OSV_LANMANNT = 0x00000001,  // ProductType "LANMANNT": a domain controller
    OSV_LANSECNT = 0x00000002,  // ProductType "LANSECNT": a backup domain controller
    OSV_MEDIA_CENTER = 0x00000004,
    OSV_TABLET_PC = 0x00000008,
    OSV_STARTER = 0x00000010,
    OSV_SERVER_R2 = 0x00000020,
    OSV_TS_APP_COMPAT = 0x00000040,
    // Editions that only GetProductInfo tells.
    OSV_STORAGE_ENTERPRISE = 0x00000100,
    OSV_STORAGE_EXPRESS = 0x00000200,
    OSV_STORAGE_STANDARD = 0x00000400,
    OSV_STORAGE_WORKGROUP = 0x00000800,
    OSV_N = 0x00001000,
    OSV_HYPERV = 0x00002000,
    OSV_SERVER_CORE = 0x00004000,
    OSV_EBS_MANAGEMENT = 0x00008000,
    OSV_EBS_MESSAGING = 0x00010000,
    OSV_EBS_SECURITY = 0x00020000,
    OSV_CLUSTER_SERVER = 0x00040000,
    OSV_SBS_PREMIUM = 0x00080000
};

enum OSPRODUCTTYPE { OSP_WORKSTATION = 0, OSP_SERVER = 1, OSP_DOMAIN_CONTROLLER = 2 };

struct OSVERSIONDATA {
    DWORD platform = 0;  // VER_PLATFORM_*
    DWORD major = 0;
    DWORD minor = 0;
    DWORD build = 0;      // low 16 bits on the 9x family
    CString servicePack;  // CSDVersion
    WORD servicePackMajor = 0;
    WORD servicePackMinor = 0;
    DWORD suite = 0;  // VER_SUITE_* bits, with those GetProductInfo implies
    DWORD flags = 0;  // OSV_*
    int productType = OSP_WORKSTATION;
    DWORD productKind = 0;       // PRODUCT_*, 0 before Vista or when unknown
    WORD architecture = 0xFFFF;  // PROCESSOR_ARCHITECTURE_*
    CString kernelType;          // "Uniprocessor Free" ...; empty when unknown
};

bool GetOSVersion(OSVERSIONDATA& version);
// Pure: the line for one record.
CString BuildOSVersionText(const OSVERSIONDATA& version);
// Probes now and returns the full text (both lines when they differ).
CString ProbeOSVersionText();
// The text of the first call's probe.
CString GetOSVersionText();
