// SIDs, ACLs, descriptors and privileges of the layer; fakes a temporary emulation root and refused
// privileges.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/Security.h"
#include "platform/win32/Thread.h"
#include "tests/support/TestRoot.h"

namespace {

class SecurityTest : public ::testing::Test {
   protected:
    CTestRoot m_root;
};

TEST_F(SecurityTest, SidsAndAclsHaveTheWindowsShape) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &sid));
    EXPECT_EQ(GetLengthSid(sid), 12u);
    EXPECT_EQ(zbw::SidToText(sid), CString(u"S-1-5-18"));
    EXPECT_FALSE(AllocateAndInitializeSid(&nt, 0, 0, 0, 0, 0, 0, 0, 0, 0, &sid));

    const DWORD oneEntry = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
    std::vector<BYTE> buffer(oneEntry);
    PACL acl = reinterpret_cast<PACL>(buffer.data());
    ASSERT_TRUE(InitializeAcl(acl, oneEntry, ACL_REVISION));
    EXPECT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, 0x1FFFFF, sid));
    EXPECT_FALSE(AddAccessAllowedAce(acl, ACL_REVISION, 0x1FFFFF, sid));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(acl->AceCount, 1);
    EXPECT_EQ(FreeSid(sid), nullptr);
}

TEST_F(SecurityTest, DescriptorKeepsWhatIsSet) {
    SECURITY_DESCRIPTOR sd;
    EXPECT_FALSE(IsValidSecurityDescriptor(nullptr));
    ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    BOOL present = TRUE;
    BOOL defaulted = TRUE;
    PACL dacl = reinterpret_cast<PACL>(&sd);
    ASSERT_TRUE(GetSecurityDescriptorDacl(&sd, &present, &dacl, &defaulted));
    EXPECT_FALSE(present);
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE));  // null DACL: everybody
    ASSERT_TRUE(GetSecurityDescriptorDacl(&sd, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(dacl, nullptr);
    EXPECT_FALSE(defaulted);
}

TEST_F(SecurityTest, PrivilegesAreAcceptedAndIgnored) {
    struct CASE {
        const char16_t* system;
        const char16_t* name;
        bool known;
    };
    for (const CASE& c :
         {CASE{nullptr, SE_CREATE_GLOBAL_NAME, true}, CASE{u"", u"SeShutdownPrivilege", true},
          CASE{nullptr, u"SeNoSuchPrivilege", false}, CASE{u"OTHERPC", SE_CREATE_GLOBAL_NAME, false}}) {
        LUID luid{};
        EXPECT_EQ(LookupPrivilegeValueW(c.system, c.name, &luid), c.known);
    }
    LUID luid{};
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_CREATE_GLOBAL_NAME, &luid));
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES privileges{1, {{luid, SE_PRIVILEGE_ENABLED}}};
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), 0u);  // callers read success from the last error
    CloseHandle(token);
    EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr));
}

TEST_F(SecurityTest, PrivilegesNamedToBeRefusedAreNotAssigned) {
    setenv("ZBW_REFUSE_PRIVILEGES", "SeShutdownPrivilege,SeCreateGlobalPrivilege", 1);
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    struct CASE {
        const char16_t* name;
        DWORD attributes;
        DWORD error;
    };
    for (const CASE& c : {CASE{SE_CREATE_GLOBAL_NAME, SE_PRIVILEGE_ENABLED, ERROR_NOT_ALL_ASSIGNED},
                          CASE{u"SeShutdownPrivilege", SE_PRIVILEGE_ENABLED, ERROR_NOT_ALL_ASSIGNED},
                          CASE{u"SeDebugPrivilege", SE_PRIVILEGE_ENABLED, ERROR_SUCCESS},
                          CASE{SE_CREATE_GLOBAL_NAME, 0, ERROR_SUCCESS}}) {
        LUID luid{};
        ASSERT_TRUE(LookupPrivilegeValueW(nullptr, c.name, &luid));
        TOKEN_PRIVILEGES privileges{1, {{luid, c.attributes}}};
        SetLastError(ERROR_ACCESS_DENIED);
        EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr));
        EXPECT_EQ(GetLastError(), c.error) << zbw::ToUtf8(c.name) << " " << c.attributes;
    }
    CloseHandle(token);
}

}  // namespace
