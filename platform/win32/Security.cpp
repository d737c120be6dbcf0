#include "platform/win32/Security.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/base/WinError.h"
#include "platform/host/KernelObject.h"

namespace {

// The Windows SID record; sub-authorities follow the fixed part.
struct SIDHEAD {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
};

constexpr DWORD kMaxAllocatedSubAuthorities = 8;
constexpr DWORD kAceHeadBytes = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);

struct PRIVILEGENAME {
    const char16_t* name;
    DWORD luid;
};

// The values Windows gives these privileges on every system.
constexpr PRIVILEGENAME kPrivileges[] = {
    {u"SeShutdownPrivilege", 19},
    {u"SeDebugPrivilege", 20},
    {u"SeCreateGlobalPrivilege", 30},
};

// A privilege named in ZBW_REFUSE_PRIVILEGES.
bool IsRefused(DWORD luid) {
    const char* env = std::getenv("ZBW_REFUSE_PRIVILEGES");
    if (!env) return false;
    const std::string refused = std::string(",") + env + ",";
    for (const PRIVILEGENAME& privilege : kPrivileges) {
        if (privilege.luid != luid) continue;
        std::string name;
        for (const char16_t* c = privilege.name; *c; ++c) name += static_cast<char>(*c);
        return refused.find("," + name + ",") != std::string::npos;
    }
    return false;
}

bool EnablesARefusedPrivilege(const TOKEN_PRIVILEGES* state) {
    if (!state) return false;
    for (DWORD i = 0; i < state->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = state->Privileges[i];
        if ((entry.Attributes & SE_PRIVILEGE_ENABLED) && IsRefused(entry.Luid.LowPart)) return true;
    }
    return false;
}

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

SECURITY_DESCRIPTOR* Descriptor(PSECURITY_DESCRIPTOR descriptor) {
    auto* sd = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
    if (!sd || sd->Revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return sd;
}

void SetFlag(SECURITY_DESCRIPTOR* sd, WORD flag, BOOL on) {
    sd->Control = static_cast<WORD>(on ? (sd->Control | flag) : (sd->Control & ~flag));
}

BOOL SetAcl(PSECURITY_DESCRIPTOR descriptor, PACL SECURITY_DESCRIPTOR::*field, WORD presentFlag,
            WORD defaultedFlag, BOOL present, PACL acl, BOOL defaulted) {
    SECURITY_DESCRIPTOR* sd = Descriptor(descriptor);
    if (!sd) return FALSE;
    sd->*field = present ? acl : nullptr;
    SetFlag(sd, presentFlag, present);
    SetFlag(sd, defaultedFlag, present && defaulted);
    return TRUE;
}

BOOL GetAcl(PSECURITY_DESCRIPTOR descriptor, PACL SECURITY_DESCRIPTOR::*field, WORD presentFlag,
            WORD defaultedFlag, LPBOOL present, PACL* acl, LPBOOL defaulted) {
    SECURITY_DESCRIPTOR* sd = Descriptor(descriptor);
    if (!sd) return FALSE;
    if (!present || !acl || !defaulted) return Fail(ERROR_INVALID_PARAMETER);
    *present = (sd->Control & presentFlag) != 0;
    *acl = sd->*field;
    *defaulted = (sd->Control & defaultedFlag) != 0;
    return TRUE;
}

BOOL SetSid(PSECURITY_DESCRIPTOR descriptor, PSID SECURITY_DESCRIPTOR::*field, WORD defaultedFlag, PSID sid,
            BOOL defaulted) {
    SECURITY_DESCRIPTOR* sd = Descriptor(descriptor);
    if (!sd) return FALSE;
    sd->*field = sid;
    SetFlag(sd, defaultedFlag, defaulted);
    return TRUE;
}

BOOL GetSid(PSECURITY_DESCRIPTOR descriptor, PSID SECURITY_DESCRIPTOR::*field, WORD defaultedFlag, PSID* sid,
            LPBOOL defaulted) {
    SECURITY_DESCRIPTOR* sd = Descriptor(descriptor);
    if (!sd) return FALSE;
    if (!sid || !defaulted) return Fail(ERROR_INVALID_PARAMETER);
    *sid = sd->*field;
    *defaulted = (sd->Control & defaultedFlag) != 0;
    return TRUE;
}

}  // namespace

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision) {
    if (!descriptor || revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_INVALID_PARAMETER);
    auto* sd = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
    *sd = SECURITY_DESCRIPTOR{};
    sd->Revision = SECURITY_DESCRIPTOR_REVISION;
    return TRUE;
}

BOOL IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor) {
    return Descriptor(descriptor) != nullptr;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl, BOOL defaulted) {
    return SetAcl(descriptor, &SECURITY_DESCRIPTOR::Dacl, SE_DACL_PRESENT, SE_DACL_DEFAULTED, present, dacl,
                  defaulted);
}

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL present, PACL* dacl,
                               LPBOOL defaulted) {
    return GetAcl(descriptor, &SECURITY_DESCRIPTOR::Dacl, SE_DACL_PRESENT, SE_DACL_DEFAULTED, present, dacl,
                  defaulted);
}

BOOL SetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL sacl, BOOL defaulted) {
    return SetAcl(descriptor, &SECURITY_DESCRIPTOR::Sacl, SE_SACL_PRESENT, SE_SACL_DEFAULTED, present, sacl,
                  defaulted);
}

BOOL GetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL present, PACL* sacl,
                               LPBOOL defaulted) {
    return GetAcl(descriptor, &SECURITY_DESCRIPTOR::Sacl, SE_SACL_PRESENT, SE_SACL_DEFAULTED, present, sacl,
                  defaulted);
}

BOOL SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID owner, BOOL defaulted) {
    return SetSid(descriptor, &SECURITY_DESCRIPTOR::Owner, SE_OWNER_DEFAULTED, owner, defaulted);
}

BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID* owner, LPBOOL defaulted) {
    return GetSid(descriptor, &SECURITY_DESCRIPTOR::Owner, SE_OWNER_DEFAULTED, owner, defaulted);
}

BOOL SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR descriptor, PSID group, BOOL defaulted) {
    return SetSid(descriptor, &SECURITY_DESCRIPTOR::Group, SE_GROUP_DEFAULTED, group, defaulted);
}

BOOL GetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR descriptor, PSID* group, LPBOOL defaulted) {
    return GetSid(descriptor, &SECURITY_DESCRIPTOR::Group, SE_GROUP_DEFAULTED, group, defaulted);
}

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE subAuthorityCount, DWORD sub0,
                              DWORD sub1, DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6,
                              DWORD sub7, PSID* sid) {
    if (!authority || !sid || subAuthorityCount == 0 || subAuthorityCount > kMaxAllocatedSubAuthorities)
        return Fail(ERROR_INVALID_PARAMETER);
    const DWORD subs[kMaxAllocatedSubAuthorities] = {sub0, sub1, sub2, sub3, sub4, sub5, sub6, sub7};
    auto* bytes = new (std::nothrow) BYTE[sizeof(SIDHEAD) + sizeof(DWORD) * subAuthorityCount];
    if (!bytes) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    SIDHEAD head{SID_REVISION, subAuthorityCount, *authority};
    std::memcpy(bytes, &head, sizeof head);
    std::memcpy(bytes + sizeof head, subs, sizeof(DWORD) * subAuthorityCount);
    *sid = bytes;
    return TRUE;
}

LPVOID FreeSid(PSID sid) {
    delete[] static_cast<BYTE*>(sid);
    return nullptr;
}

BOOL InitializeAcl(PACL acl, DWORD length, DWORD revision) {
    if (!acl || length < sizeof(ACL) || length > 0xFFFF || length % sizeof(DWORD) != 0 ||
        revision != ACL_REVISION)
        return Fail(ERROR_INVALID_PARAMETER);
    *acl = ACL{ACL_REVISION, 0, static_cast<WORD>(length), 0, 0};
    return TRUE;
}

BOOL AddAccessAllowedAce(PACL acl, DWORD revision, DWORD accessMask, PSID sid) {
    if (!acl || acl->AclRevision != ACL_REVISION || revision != ACL_REVISION || !IsValidSid(sid))
        return Fail(ERROR_INVALID_PARAMETER);
    auto* base = reinterpret_cast<BYTE*>(acl);
    DWORD used = sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; ++i) {
        ACE_HEADER head;
        std::memcpy(&head, base + used, sizeof head);
        used += head.AceSize;
    }
    DWORD sidBytes = GetLengthSid(sid);
    DWORD aceBytes = kAceHeadBytes + sidBytes;
    if (used + aceBytes > acl->AclSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
    ACE_HEADER head{ACCESS_ALLOWED_ACE_TYPE, 0, static_cast<WORD>(aceBytes)};
    std::memcpy(base + used, &head, sizeof head);
    std::memcpy(base + used + sizeof head, &accessMask, sizeof accessMask);
    std::memcpy(base + used + kAceHeadBytes, sid, sidBytes);
    ++acl->AceCount;
    return TRUE;
}

BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, PLUID luid) {
    if (!name || !luid || (systemName && *systemName)) return Fail(ERROR_INVALID_PARAMETER);
    for (const PRIVILEGENAME& privilege : kPrivileges) {
        if (std::u16string_view(privilege.name) == name) {
            *luid = LUID{privilege.luid, 0};
            return TRUE;
        }
    }
    return Fail(ERROR_INVALID_PARAMETER);
}

BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD bufferLength,
                           PTOKEN_PRIVILEGES previousState, LPDWORD returnLength) {
    if (!zbw::LookupHandle(token)) return FALSE;
    if (previousState) {
        if (bufferLength < sizeof(DWORD)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        previousState->PrivilegeCount = 0;
    }
    if (returnLength) *returnLength = sizeof(DWORD);
    SetLastError(!disableAll && EnablesARefusedPrivilege(newState) ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS);
    return TRUE;
}
