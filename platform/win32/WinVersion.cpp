#include "platform/win32/WinVersion.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/base/WinError.h"

namespace {

const char kDefaultVersion[] = "6.0.6000 workstation";

WORD HostArchitecture() {
    struct utsname u {};
    if (uname(&u) != 0) return PROCESSOR_ARCHITECTURE_UNKNOWN;
    std::string m = u.machine;
    if (m == "x86_64") return PROCESSOR_ARCHITECTURE_AMD64;
    if (m == "aarch64") return PROCESSOR_ARCHITECTURE_ARM64;
    if (m.size() == 4 && m[0] == 'i' && m.substr(2) == "86") return PROCESSOR_ARCHITECTURE_INTEL;
    if (m.rfind("arm", 0) == 0) return PROCESSOR_ARCHITECTURE_ARM;
    if (m == "ia64") return PROCESSOR_ARCHITECTURE_IA64;
    return PROCESSOR_ARCHITECTURE_UNKNOWN;
}

bool ParseNumber(const std::string& text, unsigned long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    *value = std::strtoul(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
    return end && *end == 0 && text[hex ? 2 : 0] != '-';
}

bool ParseDotted(const std::string& text, unsigned long* parts, int maxParts, int* count) {
    *count = 0;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, '.')) {
        if (*count == maxParts || !ParseNumber(part, &parts[*count])) return false;
        ++*count;
    }
    return *count > 0;
}

bool ParseArchitecture(const std::string& name, WORD* arch) {
    struct ARCHNAME {
        const char* name;
        WORD arch;
    };
    static const ARCHNAME kNames[] = {
        {"x86", PROCESSOR_ARCHITECTURE_INTEL},   {"x64", PROCESSOR_ARCHITECTURE_AMD64},
        {"amd64", PROCESSOR_ARCHITECTURE_AMD64}, {"ia64", PROCESSOR_ARCHITECTURE_IA64},
        {"arm", PROCESSOR_ARCHITECTURE_ARM},     {"arm64", PROCESSOR_ARCHITECTURE_ARM64}};
    for (const ARCHNAME& n : kNames) {
        if (name == n.name) {
            *arch = n.arch;
            return true;
        }
    }
    unsigned long v = 0;
    if (!ParseNumber(name, &v) || v > 0xFFFF) return false;
    *arch = static_cast<WORD>(v);
    return true;
}

bool ParseWord(const std::string& word, zbw::EMULATEDVERSION* v, bool* suiteSet, bool* kindSet) {
    static const char* const kMetrics[] = {"tabletpc", "mediacenter", "starter", "r2"};
    for (int i = 0; i < 4; ++i) {
        if (word == kMetrics[i]) return v->metrics[i] = true;
    }
    if (word == "nt") return (v->platformId = VER_PLATFORM_WIN32_NT), true;
    if (word == "9x") return (v->platformId = VER_PLATFORM_WIN32_WINDOWS), true;
    if (word == "win32s") return (v->platformId = VER_PLATFORM_WIN32s), true;
    if (word == "ce") return (v->platformId = VER_PLATFORM_WIN32_CE), true;
    if (word == "workstation") return (v->productType = VER_NT_WORKSTATION), true;
    if (word == "server") return (v->productType = VER_NT_SERVER), true;
    if (word == "dc") return (v->productType = VER_NT_DOMAIN_CONTROLLER), true;
    unsigned long n = 0;
    if (word.rfind("suite=", 0) == 0) {
        *suiteSet = true;
        return ParseNumber(word.substr(6), &n) && n <= 0xFFFF &&
               ((v->suiteMask = static_cast<WORD>(n)), true);
    }
    if (word.rfind("product=", 0) == 0) {
        *kindSet = true;
        return ParseNumber(word.substr(8), &n) && n <= 0xFFFFFFFFul &&
               ((v->productKind = static_cast<DWORD>(n)), true);
    }
    if (word.rfind("arch=", 0) == 0) return ParseArchitecture(word.substr(5), &v->architecture);
    if (word.size() > 2 && (word[0] == 'S' || word[0] == 's') && (word[1] == 'P' || word[1] == 'p')) {
        unsigned long sp[2] = {0, 0};
        int count = 0;
        if (!ParseDotted(word.substr(2), sp, 2, &count) || sp[0] > 0xFFFF || sp[1] > 0xFFFF) return false;
        v->servicePackMajor = static_cast<WORD>(sp[0]);
        v->servicePackMinor = static_cast<WORD>(sp[1]);
        return true;
    }
    return false;
}

bool ParseOrWarn(const char* variable, const char* text, zbw::EMULATEDVERSION* version) {
    if (zbw::ParseEmulatedVersion(text, version)) return true;
    static std::atomic<bool> warned{false};
    if (!warned.exchange(true)) {
        std::fprintf(stderr, "%s=\"%s\" does not parse; using \"%s\"\n", variable, text, kDefaultVersion);
    }
    zbw::ParseEmulatedVersion(kDefaultVersion, version);
    return false;
}

zbw::EMULATEDVERSION FromVariable(const char* variable) {
    zbw::EMULATEDVERSION version;
    const char* text = std::getenv(variable);
    ParseOrWarn(variable, text && *text ? text : kDefaultVersion, &version);
    return version;
}

void CopyCsd(const zbw::EMULATEDVERSION& v, WCHAR* csd) {
    std::memset(csd, 0, 128 * sizeof(WCHAR));
    if (v.servicePackMajor == 0) return;
    char text[32];
    std::snprintf(text, sizeof text, "Service Pack %u", static_cast<unsigned>(v.servicePackMajor));
    for (size_t i = 0; text[i]; ++i) csd[i] = static_cast<WCHAR>(text[i]);
}

// 9x keeps major and minor in the high word of the build number.
DWORD BuildField(const zbw::EMULATEDVERSION& v) {
    if (v.platformId == VER_PLATFORM_WIN32_WINDOWS)
        return (v.major << 24) | (v.minor << 16) | (v.build & 0xFFFF);
    return v.build;
}

// Fills the plain or extended record, chosen by its size field.
bool FillVersion(const zbw::EMULATEDVERSION& v, OSVERSIONINFOW* info) {
    const DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOEXW)) return false;
    info->dwMajorVersion = v.major;
    info->dwMinorVersion = v.minor;
    info->dwBuildNumber = BuildField(v);
    info->dwPlatformId = v.platformId;
    CopyCsd(v, info->szCSDVersion);
    if (size == sizeof(OSVERSIONINFOEXW)) {
        OSVERSIONINFOEXW* ex = reinterpret_cast<OSVERSIONINFOEXW*>(info);
        ex->wServicePackMajor = v.servicePackMajor;
        ex->wServicePackMinor = v.servicePackMinor;
        ex->wSuiteMask = v.suiteMask;
        ex->wProductType = v.productType;
        ex->wReserved = 0;
    }
    return true;
}

bool KnowsExtendedRecord(const zbw::EMULATEDVERSION& v) {
    if (v.platformId != VER_PLATFORM_WIN32_NT) return false;
    return v.major > 4 || (v.major == 4 && v.servicePackMajor >= 6);
}

DWORD ProcessorType(WORD arch) {
    switch (arch) {
        case PROCESSOR_ARCHITECTURE_INTEL: return 586;
        case PROCESSOR_ARCHITECTURE_IA64: return 2200;
        case PROCESSOR_ARCHITECTURE_AMD64: return 8664;
        default: return 0;
    }
}

}  // namespace

namespace zbw {

bool ParseEmulatedVersion(const std::string& text, EMULATEDVERSION* version) {
    EMULATEDVERSION v;
    v.architecture = HostArchitecture();
    std::stringstream in(text);
    std::string word;
    if (!(in >> word)) return false;
    unsigned long parts[3] = {0, 0, 0};
    int count = 0;
    if (!ParseDotted(word, parts, 3, &count) || count < 2) return false;
    v.major = static_cast<DWORD>(parts[0]);
    v.minor = static_cast<DWORD>(parts[1]);
    v.build = static_cast<DWORD>(parts[2]);
    bool suiteSet = false;
    bool kindSet = false;
    while (in >> word) {
        if (!ParseWord(word, &v, &suiteSet, &kindSet)) return false;
    }
    const bool workstation = v.productType == VER_NT_WORKSTATION;
    if (!suiteSet) v.suiteMask = workstation ? VER_SUITE_SINGLEUSERTS : 0;
    if (!kindSet) v.productKind = workstation ? PRODUCT_BUSINESS : PRODUCT_STANDARD_SERVER;
    *version = v;
    return true;
}

EMULATEDVERSION EmulatedVersion() {
    return FromVariable("ZBW_WINVER");
}

EMULATEDVERSION KernelVersion() {
    const char* text = std::getenv("ZBW_WINVER_KERNEL");
    return text && *text ? FromVariable("ZBW_WINVER_KERNEL") : EmulatedVersion();
}

bool EmulatedVersionAtLeast(DWORD major, DWORD minor) {
    EMULATEDVERSION v = EmulatedVersion();
    return v.major > major || (v.major == major && v.minor >= minor);
}

}  // namespace zbw

BOOL GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
    if (!lpVersionInformation) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    zbw::EMULATEDVERSION v = zbw::EmulatedVersion();
    const bool extended = lpVersionInformation->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXW);
    if ((extended && !KnowsExtendedRecord(v)) || !FillVersion(v, lpVersionInformation)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return TRUE;
}

DWORD GetVersion() {
    zbw::EMULATEDVERSION v = zbw::EmulatedVersion();
    DWORD high = v.build & 0x7FFF;
    if (v.platformId != VER_PLATFORM_WIN32_NT) high |= 0x8000;
    return (high << 16) | ((v.minor & 0xFF) << 8) | (v.major & 0xFF);
}

BOOL GetProductInfo(DWORD, DWORD, DWORD, DWORD, PDWORD pdwReturnedProductType) {
    if (!pdwReturnedProductType) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pdwReturnedProductType = zbw::EmulatedVersion().productKind;
    return TRUE;
}

void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
    if (!lpSystemInfo) return;
    std::memset(lpSystemInfo, 0, sizeof *lpSystemInfo);
    const WORD arch = zbw::EmulatedVersion().architecture;
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    if (cpus < 1) cpus = 1;
    if (cpus > 64) cpus = 64;
    lpSystemInfo->wProcessorArchitecture = arch;
    lpSystemInfo->dwPageSize = static_cast<DWORD>(sysconf(_SC_PAGESIZE));
    lpSystemInfo->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
    lpSystemInfo->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(
        arch == PROCESSOR_ARCHITECTURE_INTEL ? uintptr_t{0x7FFEFFFF} : uintptr_t{0x7FFFFFFEFFFF});
    lpSystemInfo->dwActiveProcessorMask = cpus == 64 ? ~DWORD_PTR{0} : (DWORD_PTR{1} << cpus) - 1;
    lpSystemInfo->dwNumberOfProcessors = static_cast<DWORD>(cpus);
    lpSystemInfo->dwProcessorType = ProcessorType(arch);
    lpSystemInfo->dwAllocationGranularity = 65536;
    lpSystemInfo->wProcessorLevel = 6;
}

void GetNativeSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
    GetSystemInfo(lpSystemInfo);
}

int GetSystemMetrics(int nIndex) {
    if (nIndex < SM_TABLETPC || nIndex > SM_SERVERR2) return 0;
    return zbw::EmulatedVersion().metrics[nIndex - SM_TABLETPC] ? 1 : 0;
}

LONG RtlGetVersion(PRTL_OSVERSIONINFOW lpVersionInformation) {
    if (!lpVersionInformation || !FillVersion(zbw::KernelVersion(), lpVersionInformation)) {
        return STATUS_INVALID_PARAMETER;
    }
    return STATUS_SUCCESS;
}
