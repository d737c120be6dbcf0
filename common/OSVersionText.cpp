#include "common/OSVersionText.h"

#include <mutex>
#include <string>
#include <vector>

#include "common/RegUtils.h"
#include "platform/base/WinError.h"
#include "platform/win32/LateBound.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinVersion.h"

namespace {

const char16_t kCurrentVersionKey[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char16_t kProductOptionsKey[] = u"System\\CurrentControlSet\\Control\\ProductOptions";

typedef BOOL (*GETPRODUCTINFO)(DWORD, DWORD, DWORD, DWORD, PDWORD);
typedef void (*GETNATIVESYSTEMINFO)(LPSYSTEM_INFO);
typedef LONG (*RTLGETVERSION)(PRTL_OSVERSIONINFOW);

// What each GetProductInfo kind adds to the suite mask and the flags.
struct PRODUCTKIND {
    DWORD kind;
    DWORD suite;
    DWORD flags;
};
const PRODUCTKIND kProductKinds[] = {
    {PRODUCT_ENTERPRISE, VER_SUITE_ENTERPRISE, 0},
    {PRODUCT_ENTERPRISE_N, VER_SUITE_ENTERPRISE, OSV_N},
    {PRODUCT_HOME_BASIC_N, 0, OSV_N},
    {PRODUCT_BUSINESS_N, 0, OSV_N},
    {PRODUCT_HOME_PREMIUM_N, 0, OSV_N},
    {PRODUCT_ULTIMATE_N, 0, OSV_N},
    {PRODUCT_DATACENTER_SERVER, VER_SUITE_DATACENTER, 0},
    {PRODUCT_DATACENTER_SERVER_V, VER_SUITE_DATACENTER, 0},
    {PRODUCT_DATACENTER_SERVER_CORE, VER_SUITE_DATACENTER, OSV_SERVER_CORE},
    {PRODUCT_DATACENTER_SERVER_CORE_V, VER_SUITE_DATACENTER, OSV_SERVER_CORE},
    {PRODUCT_ENTERPRISE_SERVER, VER_SUITE_ENTERPRISE, 0},
    {PRODUCT_ENTERPRISE_SERVER_IA64, VER_SUITE_ENTERPRISE, 0},
    {PRODUCT_ENTERPRISE_SERVER_V, VER_SUITE_ENTERPRISE, 0},
    {PRODUCT_ENTERPRISE_SERVER_CORE, VER_SUITE_ENTERPRISE, OSV_SERVER_CORE},
    {PRODUCT_ENTERPRISE_SERVER_CORE_V, VER_SUITE_ENTERPRISE, OSV_SERVER_CORE},
    {PRODUCT_STANDARD_SERVER_CORE, 0, OSV_SERVER_CORE},
    {PRODUCT_STANDARD_SERVER_CORE_V, 0, OSV_SERVER_CORE},
    {PRODUCT_WEB_SERVER, VER_SUITE_BLADE, 0},
    {PRODUCT_WEB_SERVER_CORE, VER_SUITE_BLADE, OSV_SERVER_CORE},
    {PRODUCT_SMALLBUSINESS_SERVER, VER_SUITE_SMALLBUSINESS, 0},
    {PRODUCT_SERVER_FOR_SMALLBUSINESS, VER_SUITE_SMALLBUSINESS, 0},
    {PRODUCT_SERVER_FOR_SMALLBUSINESS_V, VER_SUITE_SMALLBUSINESS, 0},
    {PRODUCT_SMALLBUSINESS_SERVER_PREMIUM, 0, OSV_SBS_PREMIUM},
    {PRODUCT_CLUSTER_SERVER, 0, OSV_CLUSTER_SERVER},
    {PRODUCT_HOME_SERVER, VER_SUITE_WH_SERVER, 0},
    {PRODUCT_HOME_PREMIUM_SERVER, VER_SUITE_WH_SERVER, 0},
    {PRODUCT_STORAGE_ENTERPRISE_SERVER, 0, OSV_STORAGE_ENTERPRISE},
    {PRODUCT_STORAGE_EXPRESS_SERVER, 0, OSV_STORAGE_EXPRESS},
    {PRODUCT_STORAGE_STANDARD_SERVER, 0, OSV_STORAGE_STANDARD},
    {PRODUCT_STORAGE_WORKGROUP_SERVER, 0, OSV_STORAGE_WORKGROUP},
    {PRODUCT_MEDIUMBUSINESS_SERVER_MANAGEMENT, 0, OSV_EBS_MANAGEMENT},
    {PRODUCT_MEDIUMBUSINESS_SERVER_MESSAGING, 0, OSV_EBS_MESSAGING},
    {PRODUCT_MEDIUMBUSINESS_SERVER_SECURITY, 0, OSV_EBS_SECURITY},
    {PRODUCT_HYPERV, 0, OSV_HYPERV},
};

// The names of ProductSuite, for systems without the extended version record.
struct SUITENAME {
    const char16_t* name;
    DWORD suite;
};
const SUITENAME kSuiteNames[] = {{u"Small Business", VER_SUITE_SMALLBUSINESS},
                                 {u"Enterprise", VER_SUITE_ENTERPRISE},
                                 {u"BackOffice", VER_SUITE_BACKOFFICE},
                                 {u"CommunicationServer", VER_SUITE_COMMUNICATIONS},
                                 {u"Terminal Server", VER_SUITE_TERMINAL},
                                 {u"Small Business(Restricted)", VER_SUITE_SMALLBUSINESS_RESTRICTED},
                                 {u"EmbeddedNT", VER_SUITE_EMBEDDEDNT},
                                 {u"DataCenter", VER_SUITE_DATACENTER},
                                 {u"Personal", VER_SUITE_PERSONAL},
                                 {u"Blade", VER_SUITE_BLADE}};

// Edition suffixes in their order, each shown when its suite bit or flag is set.
struct SUFFIX {
    DWORD suite;
    DWORD flags;
    const char16_t* text;
};
const SUFFIX kSuffixes[] = {
    {0, OSV_STORAGE_ENTERPRISE, u", (Storage Server Enterprise)"},
    {0, OSV_STORAGE_EXPRESS, u", (Storage Server Express)"},
    {0, OSV_STORAGE_STANDARD, u", (Storage Server Standard)"},
    {0, OSV_STORAGE_WORKGROUP, u", (Storage Server Workgroup)"},
    {VER_SUITE_SMALLBUSINESS | VER_SUITE_SMALLBUSINESS_RESTRICTED, 0, u", (Small Business Server)"},
    {VER_SUITE_EMBEDDEDNT, 0, u", (Embedded)"},
    {0, OSV_MEDIA_CENTER, u", (Media Center Edition)"},
    {0, OSV_TABLET_PC, u", (Tablet PC Edition)"},
    {VER_SUITE_COMPUTE_SERVER, 0, u", (Compute Cluster Edition)"},
    {VER_SUITE_WH_SERVER, 0, u", (Home Server Edition)"},
    {VER_SUITE_SECURITY_APPLIANCE, 0, u", (Security Appliance)"},
    {VER_SUITE_BACKOFFICE, 0, u", (BackOffice)"},
    {0, OSV_N, u", (N)"},
    {0, OSV_HYPERV, u", (HyperV)"},
    {0, OSV_SERVER_CORE, u", (Server Core)"},
    {0, OSV_EBS_MANAGEMENT, u", (Windows Essential Business Server Manangement Server)"},
    {0, OSV_EBS_MESSAGING, u", (Windows Essential Business Server Messaging Server)"},
    {0, OSV_EBS_SECURITY, u", (Windows Essential Business Server Security Server)"},
    {0, OSV_CLUSTER_SERVER, u", (Cluster Server)"},
    {0, OSV_SBS_PREMIUM, u", (Small Business Server Premium)"},
};

struct PROCESSORNAME {
    WORD architecture;
    const char16_t* text;
};
const PROCESSORNAME kProcessors[] = {
    {PROCESSOR_ARCHITECTURE_INTEL, u", (x86-32 Processor)"},
    {PROCESSOR_ARCHITECTURE_MIPS, u", (MIPS Processor)"},
    {PROCESSOR_ARCHITECTURE_ALPHA, u", (Alpha Processor)"},
    {PROCESSOR_ARCHITECTURE_PPC, u", (PPC Processor)"},
    {PROCESSOR_ARCHITECTURE_IA64, u", (IA64 Itanium[2] Processor)"},
    {PROCESSOR_ARCHITECTURE_AMD64, u", (x86-64 Processor)"},
    {PROCESSOR_ARCHITECTURE_ALPHA64, u", (Alpha64 Processor)"},
    {PROCESSOR_ARCHITECTURE_MSIL, u", (MSIL Processor)"},
    {PROCESSOR_ARCHITECTURE_ARM, u", (ARM Processor)"},
    {PROCESSOR_ARCHITECTURE_SHX, u", (SHX Processor)"},
};

// ---- gathering the facts ----

bool ReadRegDwordLM(LPCWSTR keyPath, LPCWSTR valueName, DWORD* value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    DWORD size = sizeof *value;
    const LONG rc = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof *value;
}

bool RegKeyExistsLM(LPCWSTR keyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool RegFlagLM(LPCWSTR keyPath, LPCWSTR valueName) {
    DWORD value = 0;
    return ReadRegDwordLM(keyPath, valueName, &value) && value != 0;
}

// The values of a REG_MULTI_SZ under HKEY_LOCAL_MACHINE; empty when missing.
std::vector<CString> ReadRegMultiLM(LPCWSTR keyPath, LPCWSTR valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    char16_t data[1024] = {};
    DWORD type = 0;
    DWORD size = sizeof data - 2 * sizeof(char16_t);  // keeps two zeros at the end
    const LONG rc = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(data), &size);
    RegCloseKey(key);
    std::vector<CString> values;
    if (rc != ERROR_SUCCESS || type != REG_MULTI_SZ) return values;
    for (const char16_t* p = data; *p; p += std::char_traits<char16_t>::length(p) + 1) values.emplace_back(p);
    return values;
}

// The number written in decimal digits at position at (at most 9 of them); -1 when none.
long DigitsAt(const CString& text, int at, int* end = nullptr) {
    long number = -1;
    int i = at;
    for (; i >= 0 && i < text.GetLength() && i - at < 9 && text[i] >= u'0' && text[i] <= u'9'; ++i)
        number = (number < 0 ? 0 : number * 10) + (text[i] - u'0');
    if (end) *end = i;
    return number;
}

// "Service Pack 5" gives 5; 0 when the text names none.
WORD ServicePackNumber(const CString& text) {
    const int at = text.Find(u"Service Pack ");
    const long number = at < 0 ? -1 : DigitsAt(text, at + 13);
    return number < 0 || number > 0xFFFF ? 0 : static_cast<WORD>(number);
}

int ProductTypeOf(BYTE type) {
    if (type == VER_NT_SERVER) return OSP_SERVER;
    if (type == VER_NT_DOMAIN_CONTROLLER) return OSP_DOMAIN_CONTROLLER;
    return OSP_WORKSTATION;
}

void TakeVersionRecord(const OSVERSIONINFOEXW& ex, bool extended, OSVERSIONDATA& v) {
    v.platform = ex.dwPlatformId;
    v.major = ex.dwMajorVersion;
    v.minor = ex.dwMinorVersion;
    v.build = v.platform == VER_PLATFORM_WIN32_WINDOWS ? ex.dwBuildNumber & 0xFFFF : ex.dwBuildNumber;
    v.servicePack = CString(ex.szCSDVersion);
    if (extended) {
        v.servicePackMajor = ex.wServicePackMajor;
        v.servicePackMinor = ex.wServicePackMinor;
        v.suite = ex.wSuiteMask;
        v.productType = ProductTypeOf(ex.wProductType);
    } else {
        v.servicePackMajor = ServicePackNumber(v.servicePack);
    }
}

// The product options of the registry; the type and suite only where the record lacks them.
void ReadProductOptions(bool extended, OSVERSIONDATA& v) {
    CString type;
    if (ReadRegStringLM(kProductOptionsKey, u"ProductType", type)) {
        const bool lanman = type.CompareNoCase(u"LANMANNT") == 0;
        const bool lansec = type.CompareNoCase(u"LANSECNT") == 0;
        if (lanman) v.flags |= OSV_LANMANNT;
        if (lansec) v.flags |= OSV_LANSECNT;
        if (!extended && (lanman || lansec)) v.productType = OSP_DOMAIN_CONTROLLER;
        if (!extended && type.CompareNoCase(u"SERVERNT") == 0) v.productType = OSP_SERVER;
    }
    if (extended) return;
    for (const CString& name : ReadRegMultiLM(kProductOptionsKey, u"ProductSuite")) {
        for (const SUITENAME& s : kSuiteNames) {
            if (name.CompareNoCase(s.name) == 0) v.suite |= s.suite;
        }
    }
}

void ReadEditionFacts(OSVERSIONDATA& v) {
    if (RegFlagLM(u"System\\WPA\\MediaCenter", u"Installed") || GetSystemMetrics(SM_MEDIACENTER))
        v.flags |= OSV_MEDIA_CENTER;
    if (RegFlagLM(u"System\\WPA\\TabletPC", u"Installed") || GetSystemMetrics(SM_TABLETPC))
        v.flags |= OSV_TABLET_PC;
    if (GetSystemMetrics(SM_STARTER)) v.flags |= OSV_STARTER;
    if (GetSystemMetrics(SM_SERVERR2)) v.flags |= OSV_SERVER_R2;
    if (RegFlagLM(u"System\\CurrentControlSet\\Control\\Terminal Server", u"TSAppCompat"))
        v.flags |= OSV_TS_APP_COMPAT;
    ReadRegStringLM(kCurrentVersionKey, u"CurrentType", v.kernelType);
}

void ReadProductKind(HMODULE kernel32, OSVERSIONDATA& v) {
    if (v.platform != VER_PLATFORM_WIN32_NT || v.major < 6) return;
    auto getProductInfo = reinterpret_cast<GETPRODUCTINFO>(GetProcAddress(kernel32, "GetProductInfo"));
    DWORD kind = 0;
    if (!getProductInfo || !getProductInfo(v.major, v.minor, v.servicePackMajor, v.servicePackMinor, &kind))
        return;
    v.productKind = kind;
    for (const PRODUCTKIND& k : kProductKinds) {
        if (k.kind != kind) continue;
        v.suite |= k.suite;
        v.flags |= k.flags;
    }
}

void ReadArchitecture(HMODULE kernel32, OSVERSIONDATA& v) {
    SYSTEM_INFO info{};
    auto native = reinterpret_cast<GETNATIVESYSTEMINFO>(GetProcAddress(kernel32, "GetNativeSystemInfo"));
    if (native)
        native(&info);
    else
        GetSystemInfo(&info);
    v.architecture = info.wProcessorArchitecture;
}

// Service packs 1a and 6a only show in the registry.
void FixServicePackMinor(OSVERSIONDATA& v) {
    if (v.major == 5 && v.minor != 0 && v.servicePackMajor == 1) {
        CString sub;
        if (ReadRegStringLM(kCurrentVersionKey, u"SubVersionNumber", sub) && sub.CompareNoCase(u"a") == 0)
            v.servicePackMinor = 1;
    }
    if (v.major == 4 && v.servicePackMajor == 6 &&
        RegKeyExistsLM(u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009"))
        v.servicePackMinor = 1;
}

// What the kernel shows, where a compatibility layer may tell the program another version.
OSVERSIONDATA KernelView(const OSVERSIONDATA& reported) {
    OSVERSIONDATA v = reported;
    auto rtlGetVersion =
        reinterpret_cast<RTLGETVERSION>(GetProcAddress(GetModuleHandleW(u"ntdll.dll"), "RtlGetVersion"));
    OSVERSIONINFOEXW ex{};
    ex.dwOSVersionInfoSize = sizeof ex;
    if (rtlGetVersion && rtlGetVersion(reinterpret_cast<PRTL_OSVERSIONINFOW>(&ex)) == STATUS_SUCCESS) {
        v.platform = ex.dwPlatformId;
        v.major = ex.dwMajorVersion;
        v.minor = ex.dwMinorVersion;
        v.build = ex.dwBuildNumber;
        v.servicePack = CString(ex.szCSDVersion);
        v.servicePackMajor = ex.wServicePackMajor;
        v.servicePackMinor = ex.wServicePackMinor;
        return v;
    }
    // Without RtlGetVersion, the version the registry keeps: CurrentVersion "6.0" and so on.
    CString version, build;
    int dot = -1;
    const long major =
        ReadRegStringLM(kCurrentVersionKey, u"CurrentVersion", version) ? DigitsAt(version, 0, &dot) : -1;
    const long minor =
        major >= 0 && dot < version.GetLength() && version[dot] == u'.' ? DigitsAt(version, dot + 1) : -1;
    if (minor < 0) return v;
    v.major = static_cast<DWORD>(major);
    v.minor = static_cast<DWORD>(minor);
    const long number =
        ReadRegStringLM(kCurrentVersionKey, u"CurrentBuildNumber", build) ? DigitsAt(build, 0) : -1;
    v.build = number < 0 ? 0 : static_cast<DWORD>(number);
    v.servicePack.Empty();
    ReadRegStringLM(kCurrentVersionKey, u"CSDVersion", v.servicePack);
    v.servicePackMajor = ServicePackNumber(v.servicePack);
    v.servicePackMinor = 0;
    return v;
}

// ---- building the text ----

bool Has(const OSVERSIONDATA& v, DWORD suite) {
    return (v.suite & suite) != 0;
}

CString Windows9xName(const OSVERSIONDATA& v) {
    const DWORD b = v.build;
    if (v.major == 4 && v.minor == 0) {
        if (b == 950) return u"Windows 95";
        if (b >= 951 && b <= 1080) return u"Windows 95 SP1";
        if (b >= 1081 && b <= 1213) return u"Windows 95 B [aka OSR2]";
        if (b > 1213) return u"Windows 95 C [aka OSR2.5]";
    }
    if (v.major == 4 && v.minor == 10) {
        if (b == 1998) return u"Windows 98";
        if (b >= 1999 && b <= 2182) return u"Windows 98 SP1";
        if (b > 2182) return u"Windows 98 Second Edition";
    }
    if (v.major == 4 && v.minor == 90) return u"Windows Millenium Edition";
    return u"Windows";
}

CString NT4Name(const OSVERSIONDATA& v) {
    CString name = u"Windows NT";
    if (v.productType == OSP_WORKSTATION) name += u" (Workstation)";
    if (v.productType == OSP_SERVER) name += u" (Server)";
    if (v.productType == OSP_DOMAIN_CONTROLLER)
        name += (v.flags & OSV_LANSECNT) ? u" (Backup Domain Controller)" : u" (Primary Domain Controller)";
    if (Has(v, VER_SUITE_DATACENTER))
        name += u", (Datacenter)";
    else if (Has(v, VER_SUITE_ENTERPRISE))
        name += u", (Enterprise)";
    return name;
}

CString Windows2000Name(const OSVERSIONDATA& v) {
    CString name = u"Windows 2000";
    if (v.productType == OSP_WORKSTATION) name += u" (Professional)";
    if (v.productType == OSP_SERVER) name += u" (Server)";
    if (v.productType == OSP_DOMAIN_CONTROLLER) name += u" (Domain Controller)";
    if (Has(v, VER_SUITE_DATACENTER))
        name += u", (Datacenter)";
    else if (Has(v, VER_SUITE_ENTERPRISE))
        name += u", (Advanced Server)";
    return name;
}

CString WindowsXPName(const OSVERSIONDATA& v) {
    if (v.flags & OSV_STARTER) return u"Windows XP (Starter Edition)";
    if (Has(v, VER_SUITE_PERSONAL)) return u"Windows XP (Personal)";
    return u"Windows XP (Professional)";
}

// Server 2003 and 2008: the domain-controller mark, then the edition.
CString ServerName(const OSVERSIONDATA& v, LPCWSTR base) {
    CString name = base;
    if (v.productType == OSP_DOMAIN_CONTROLLER) name += u" (Domain Controller)";
    if (Has(v, VER_SUITE_DATACENTER))
        name += u", (Datacenter Edition)";
    else if (Has(v, VER_SUITE_ENTERPRISE))
        name += u", (Enterprise Edition)";
    else if (Has(v, VER_SUITE_BLADE))
        name += u", (Web Edition)";
    else
        name += u", (Standard Edition)";
    return name;
}

bool KindIs(const OSVERSIONDATA& v, DWORD a, DWORD b) {
    return v.productKind == a || v.productKind == b;
}

CString VistaName(const OSVERSIONDATA& v) {
    if (v.productKind == PRODUCT_STARTER) return u"Windows Vista (Starter Edition)";
    if (KindIs(v, PRODUCT_HOME_BASIC, PRODUCT_HOME_BASIC_N)) return u"Windows Vista (Home Basic)";
    if (KindIs(v, PRODUCT_HOME_PREMIUM, PRODUCT_HOME_PREMIUM_N)) return u"Windows Vista (Home Premium)";
    if (KindIs(v, PRODUCT_BUSINESS, PRODUCT_BUSINESS_N)) return u"Windows Vista (Business)";
    if (Has(v, VER_SUITE_ENTERPRISE)) return u"Windows Vista (Enterprise)";
    if (KindIs(v, PRODUCT_ULTIMATE, PRODUCT_ULTIMATE_N)) return u"Windows Vista (Ultimate)";
    return u"Windows Vista (\?\?)";
}

CString WindowsNTName(const OSVERSIONDATA& v) {
    const bool workstation = v.productType == OSP_WORKSTATION;
    if (v.major <= 4) return NT4Name(v);
    if (v.major == 5 && v.minor == 0) return Windows2000Name(v);
    if (v.major == 5 && v.minor == 1) return WindowsXPName(v);
    // 5.2 on a workstation is the x64 edition of XP Professional, not a server.
    if (v.major == 5 && v.minor == 2 && workstation) return u"Windows XP (Professional)";
    if (v.major == 5 && v.minor == 2)
        return ServerName(v, (v.flags & OSV_SERVER_R2) ? u"Windows Server 2003 R2" : u"Windows Server 2003");
    if (v.major == 6 && v.minor == 0)
        return workstation ? VistaName(v) : ServerName(v, u"Windows Server 2008");
    return u"Windows NT";
}

CString SystemName(const OSVERSIONDATA& v) {
    switch (v.platform) {
        case VER_PLATFORM_WIN32s: return u"Windows (Win32s)";
        case VER_PLATFORM_WIN32_WINDOWS: return Windows9xName(v);
        case VER_PLATFORM_WIN32_NT: return WindowsNTName(v);
        case VER_PLATFORM_WIN32_CE: return u"Windows CE";
        default: return u"Unknown OS";
    }
}

CString ProcessorSuffix(WORD architecture) {
    for (const PROCESSORNAME& p : kProcessors) {
        if (p.architecture == architecture) return p.text;
    }
    return u", (Unknown Processor)";
}

CString VersionPart(const OSVERSIONDATA& v) {
    CString text;
    text.Format(u" v%d.", static_cast<int>(v.major));
    const int minor = static_cast<int>(v.minor);
    if (minor % 10 == 0)
        text.AppendFormat(u"%01d", minor / 10);
    else
        text.AppendFormat(minor < 10 ? u"%01d" : u"%02d", minor);
    if (v.build != 0) text.AppendFormat(u" Build:%d", static_cast<int>(v.build));
    return text;
}

CString ServicePackPart(const OSVERSIONDATA& v) {
    const int major = v.servicePackMajor;
    const int minor = v.servicePackMinor;
    const bool nt = v.platform == VER_PLATFORM_WIN32_NT;
    CString text;
    if (major && minor) {
        if (nt && v.major == 4 && major == 6 && minor == 1) return u" Service Pack: 6a";
        if (nt && v.major == 5 && v.minor == 1 && major == 1 && minor == 1) return u" Service Pack: 1a";
        text.Format(u" Service Pack:%d.%d", major, minor);
    } else if (major) {
        text.Format(u" Service Pack:%d", major);
    } else if (minor) {
        text.Format(u" Service Pack:0.%d", minor);
    }
    return text;
}

}  // namespace

bool GetOSVersion(OSVERSIONDATA& version) {
    version = OSVERSIONDATA();
    HMODULE kernel32 = GetModuleHandleW(u"KERNEL32.DLL");
    if (!kernel32) return false;
    OSVERSIONINFOEXW ex{};
    ex.dwOSVersionInfoSize = sizeof ex;
    const bool extended = GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&ex)) != FALSE;
    if (!extended) {
        ex = OSVERSIONINFOEXW{};
        ex.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        if (!GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&ex))) return false;
    }
    TakeVersionRecord(ex, extended, version);
    if (version.platform == VER_PLATFORM_WIN32_NT) ReadProductOptions(extended, version);
    ReadEditionFacts(version);
    ReadProductKind(kernel32, version);
    ReadArchitecture(kernel32, version);
    FixServicePackMinor(version);
    return true;
}

CString BuildOSVersionText(const OSVERSIONDATA& version) {
    CString text = SystemName(version);
    for (const SUFFIX& s : kSuffixes) {
        if ((version.suite & s.suite) || (version.flags & s.flags)) text += s.text;
    }
    return text + ProcessorSuffix(version.architecture) + VersionPart(version) + ServicePackPart(version);
}

CString ProbeOSVersionText() {
    OSVERSIONDATA reported;
    if (!GetOSVersion(reported)) return u"Failed in call to GetOSVersion\n";
    const CString told = BuildOSVersionText(reported);
    const CString real = BuildOSVersionText(KernelView(reported));
    return real == told ? told : real + u" - Emulated OS: " + told;
}

CString GetOSVersionText() {
    static std::once_flag once;
    static CString text;
    std::call_once(once, [] { text = ProbeOSVersionText(); });
    return text;
}
