// Functions bound by name, hidden by environment or in process, and by Windows version; fakes a temporary
// emulation root.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/win32/Accounts.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/LateBound.h"
#include "platform/win32/Shell.h"
#include "platform/win32/WinVersion.h"
#include "tests/support/TestRoot.h"

namespace {

int Sample() {
    return 42;
}

class LateBoundTest : public ::testing::Test {
   protected:
    void TearDown() override {
        zbw::ResetLateBound();
        unsetenv("ZBW_HIDE_FUNCTIONS");
        unsetenv("ZBW_WINVER");
        unsetenv("ZBW_USER_NAME");
        if (!m_path.empty()) setenv("PATH", m_path.c_str(), 1);
    }

    static FARPROC Bind(LPCWSTR module, LPCSTR function) {
        HMODULE h = LoadLibraryW(module);
        return h ? GetProcAddress(h, function) : nullptr;
    }

    // Puts a link to the math library into the test folder under `file` and that folder first
    // on PATH, so LoadLibraryW finds a real shared object there.
    bool OfferSharedObject(const std::string& file) {
        Dl_info info{};
        double (*cosine)(double) = &std::cos;
        if (!dladdr(reinterpret_cast<void*>(cosine), &info) || !info.dli_fname) return false;
        if (symlink(info.dli_fname, m_root.Path(file).c_str()) != 0) return false;
        if (m_path.empty()) m_path = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("PATH", (m_root.Dir() + ":" + m_path).c_str(), 1);
        return true;
    }

    CTestRoot m_root;
    std::string m_path;
};

TEST_F(LateBoundTest, ModuleNamesMatchInAnySpelling) {
    HMODULE kernel = LoadLibraryW(u"KERNEL32.DLL");
    ASSERT_NE(kernel, nullptr);
    for (LPCWSTR name : {u"kernel32", u"Kernel32.dll", u"C:\\Windows\\System32\\KERNEL32.dll"}) {
        EXPECT_EQ(LoadLibraryW(name), kernel);
    }
    EXPECT_EQ(GetModuleHandleW(u"kernel32.dll"), kernel);
    EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
    EXPECT_EQ(GetProcAddress(kernel, "GetProductInfo"), reinterpret_cast<FARPROC>(&GetProductInfo));
    EXPECT_EQ(GetProcAddress(kernel, "getproductinfo"), nullptr);  // function names keep their case
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(kernel, reinterpret_cast<LPCSTR>(1)), nullptr);
    EXPECT_TRUE(FreeLibrary(kernel));
}

TEST_F(LateBoundTest, BoundFunctionsWork) {
    setenv("ZBW_USER_NAME", "tester", 1);
    typedef BOOLEAN (*USERNAMEEX)(EXTENDED_NAME_FORMAT, LPWSTR, PULONG);
    auto userNameEx = reinterpret_cast<USERNAMEEX>(Bind(u"secur32.dll", "GetUserNameExW"));
    ASSERT_NE(userNameEx, nullptr);
    char16_t name[64];
    ULONG size = 64;
    EXPECT_FALSE(userNameEx(NameDnsDomain, name, &size));
    typedef BOOL (*PRODUCTINFO)(DWORD, DWORD, DWORD, DWORD, PDWORD);
    auto productInfo = reinterpret_cast<PRODUCTINFO>(Bind(u"KERNEL32.DLL", "GetProductInfo"));
    ASSERT_NE(productInfo, nullptr);
    DWORD kind = 0;
    EXPECT_TRUE(productInfo(6, 0, 0, 0, &kind));
    EXPECT_NE(Bind(u"NTDLL.DLL", "RtlGetVersion"), nullptr);
}

TEST_F(LateBoundTest, HiddenByTheEnvironment) {
    setenv("ZBW_HIDE_FUNCTIONS", "KERNEL32!ReplaceFileW, user32,shell32!SHGetFolderPathW", 1);
    EXPECT_EQ(Bind(u"KERNEL32", "ReplaceFileW"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_NE(Bind(u"kernel32.dll", "GetProductInfo"), nullptr);
    EXPECT_EQ(LoadLibraryW(u"user32.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(GetModuleHandleW(u"USER32"), nullptr);
    EXPECT_EQ(Bind(u"shell32.dll", "SHGetFolderPathW"), nullptr);
    EXPECT_EQ(Bind(u"SHFolder.dll", "SHGetFolderPathW"), reinterpret_cast<FARPROC>(&SHGetFolderPathW));
    EXPECT_NE(Bind(u"shell32.dll", "SHGetSpecialFolderPathW"), nullptr);
    unsetenv("ZBW_HIDE_FUNCTIONS");
    EXPECT_EQ(Bind(u"KERNEL32", "ReplaceFileW"), reinterpret_cast<FARPROC>(&ReplaceFileW));
    EXPECT_NE(LoadLibraryW(u"user32.dll"), nullptr);
}

TEST_F(LateBoundTest, HiddenInProcessUntilReset) {
    HMODULE secur = LoadLibraryW(u"secur32.dll");
    ASSERT_NE(secur, nullptr);
    zbw::HideLateBound("secur32.dll!GetUserNameExW");
    EXPECT_EQ(GetProcAddress(secur, "GetUserNameExW"), nullptr);
    zbw::HideLateBound("SECUR32");
    EXPECT_EQ(LoadLibraryW(u"secur32.dll"), nullptr);
    zbw::ResetLateBound();
    EXPECT_NE(GetProcAddress(secur, "GetUserNameExW"), nullptr);
}

TEST_F(LateBoundTest, FunctionsNewerThanTheEmulatedVersionAreMissing) {
    setenv("ZBW_WINVER", "5.0.2195 SP4", 1);
    EXPECT_EQ(Bind(u"KERNEL32.DLL", "GetProductInfo"), nullptr);
    EXPECT_EQ(Bind(u"KERNEL32.DLL", "GetNativeSystemInfo"), nullptr);
    EXPECT_NE(Bind(u"KERNEL32.DLL", "GetComputerNameExW"), nullptr);
    setenv("ZBW_WINVER", "5.1.2600 SP3", 1);
    EXPECT_EQ(Bind(u"KERNEL32.DLL", "GetProductInfo"), nullptr);
    EXPECT_NE(Bind(u"KERNEL32.DLL", "GetNativeSystemInfo"), nullptr);
}

TEST_F(LateBoundTest, UnknownModulesAndHandles) {
    EXPECT_EQ(LoadLibraryW(u"nosuchmodule.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryW(u""), nullptr);
    EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(0x4321), "x"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(0x4321)));
}

TEST_F(LateBoundTest, SharedObjectFoundOnThePathUnderEitherName) {
    ASSERT_TRUE(OfferSharedObject("zbwprobe.dll"));
    ASSERT_TRUE(OfferSharedObject("libzbwprobe2.so"));
    HMODULE probe = LoadLibraryW(u"zbwprobe.dll");
    ASSERT_NE(probe, nullptr);
    typedef double (*COSINE)(double);
    auto cosine = reinterpret_cast<COSINE>(GetProcAddress(probe, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(GetProcAddress(probe, "no_such_export"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetModuleHandleW(u"ZBWPROBE.DLL"), probe);

    zbw::HideLateBound("zbwprobe!cos");
    EXPECT_EQ(GetProcAddress(probe, "cos"), nullptr);
    zbw::HideLateBound("zbwprobe2");
    EXPECT_EQ(LoadLibraryW(u"zbwprobe2.dll"), nullptr);
    zbw::ResetLateBound();

    HMODULE second = LoadLibraryW(u"zbwprobe2.dll");
    EXPECT_NE(second, nullptr);
    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_TRUE(FreeLibrary(probe));
    EXPECT_FALSE(FreeLibrary(probe));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(LateBoundTest, AreasCanAddTableEntries) {
    zbw::AddLateBound("zbwtestmod.dll", "Sample", reinterpret_cast<FARPROC>(&Sample), 6, 1);
    EXPECT_EQ(Bind(u"ZBWTESTMOD", "Sample"), nullptr);  // the default version is 6.0
    setenv("ZBW_WINVER", "6.1.7601", 1);
    auto sample = reinterpret_cast<int (*)()>(Bind(u"zbwtestmod.dll", "Sample"));
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(sample(), 42);
}

}  // namespace
