// Security descriptors, SIDs, ACLs, access tokens and privileges: the few calls that the system
// makes to describe who may use its named objects and to enable the privilege for global names.
//
// Named objects here are guarded by file modes in the emulation root (NamedObject.h) and every
// object function accepts and ignores security attributes, so nothing built with these calls is
// enforced. They still keep the Windows shapes and checks a caller can see: a descriptor made by
// InitializeSecurityDescriptor carries its revision, owner, group, SACL and DACL (pointers into
// the caller's memory, as an absolute descriptor does); a SID is the Windows binary record
// (revision 1, authority, sub-authorities) allocated by AllocateAndInitializeSid and freed by
// FreeSid; an ACL is the Windows binary list of ACEs in the caller's buffer.
//
// Tokens come from OpenProcessToken (Token.h), which also has the other SID functions.
// Privileges are accepted and ignored: LookupPrivilegeValueW knows the names in its table and
// AdjustTokenPrivileges reports success with last error 0 (ERROR_SUCCESS), because every holder
// may create machine-wide names here. To reach a caller's branch for a refused privilege, the
// environment setting ZBW_REFUSE_PRIVILEGES (names separated by ",") makes AdjustTokenPrivileges
// return TRUE with ERROR_NOT_ALL_ASSIGNED when it is asked to enable one of them, as Windows does
// for a privilege the token does not hold. Bad arguments fail with ERROR_INVALID_PARAMETER; an ACL too
// small for a new entry with ERROR_INSUFFICIENT_BUFFER; an unknown privilege name with
// ERROR_INVALID_PARAMETER. Left out: self-relative descriptors, deny and audit entries, access
// checks. Any thread may call these; they touch only the caller's memory.
#pragma once

#include "platform/base/WinTypes.h"
#include "platform/win32/Token.h"

typedef void* PSECURITY_DESCRIPTOR;
typedef BOOL* LPBOOL;
typedef WORD SECURITY_DESCRIPTOR_CONTROL;

struct SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
};
typedef SID_IDENTIFIER_AUTHORITY* PSID_IDENTIFIER_AUTHORITY;

#define SECURITY_NT_AUTHORITY \
    {                         \
        { 0, 0, 0, 0, 0, 5 }  \
    }
#define SECURITY_INTERACTIVE_RID 0x00000004u
#define SECURITY_SERVICE_RID 0x00000006u
#define SECURITY_LOCAL_SYSTEM_RID 0x00000012u

struct ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
};
typedef ACL* PACL;

struct ACE_HEADER {
    BYTE AceType;
    BYTE AceFlags;
    WORD AceSize;
};

// The SID starts at SidStart and runs on past the end of the record.
struct ACCESS_ALLOWED_ACE {
    ACE_HEADER Header;
    ACCESS_MASK Mask;
    DWORD SidStart;
};

#define ACL_REVISION 2
#define ACCESS_ALLOWED_ACE_TYPE 0x00

struct SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    SECURITY_DESCRIPTOR_CONTROL Control;
    PSID Owner;
    PSID Group;
    PACL Sacl;
    PACL Dacl;
};

#define SECURITY_DESCRIPTOR_REVISION 1
#define SECURITY_DESCRIPTOR_MIN_LENGTH (sizeof(SECURITY_DESCRIPTOR))
#define SE_OWNER_DEFAULTED 0x0001
#define SE_GROUP_DEFAULTED 0x0002
#define SE_DACL_PRESENT 0x0004
#define SE_DACL_DEFAULTED 0x0008
#define SE_SACL_PRESENT 0x0010
#define SE_SACL_DEFAULTED 0x0020

struct LUID {
    DWORD LowPart;
    LONG HighPart;
};
typedef LUID* PLUID;

struct LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
};

struct TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];
};
typedef TOKEN_PRIVILEGES* PTOKEN_PRIVILEGES;

#define SE_PRIVILEGE_ENABLED 0x00000002u
#define SE_CREATE_GLOBAL_NAME u"SeCreateGlobalPrivilege"

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision);
// TRUE for a descriptor of revision 1 made by InitializeSecurityDescriptor.
BOOL IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor);
BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl, BOOL defaulted);
BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL present, PACL* dacl, LPBOOL defaulted);
BOOL SetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL sacl, BOOL defaulted);
BOOL GetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL present, PACL* sacl, LPBOOL defaulted);
BOOL SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID owner, BOOL defaulted);
BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID* owner, LPBOOL defaulted);
BOOL SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR descriptor, PSID group, BOOL defaulted);
BOOL GetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR descriptor, PSID* group, LPBOOL defaulted);

// 1 to 8 sub-authorities; the SID is freed with FreeSid.
BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE subAuthorityCount, DWORD sub0,
                              DWORD sub1, DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6,
                              DWORD sub7, PSID* sid);
// NULL (always).
LPVOID FreeSid(PSID sid);

// length >= sizeof(ACL), revision 2, length a multiple of 4.
BOOL InitializeAcl(PACL acl, DWORD length, DWORD revision);
// Appends an access-allowed entry for a copy of the SID.
BOOL AddAccessAllowedAce(PACL acl, DWORD revision, DWORD accessMask, PSID sid);

// Local system only (systemName null or empty).
BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, PLUID luid);
// Accepted and ignored for any live handle (a token from OpenProcessToken): TRUE, last error 0; previousState
// (when given) reports no privileges.
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD bufferLength,
                           PTOKEN_PRIVILEGES previousState, LPDWORD returnLength);
