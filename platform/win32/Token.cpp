#include "platform/win32/Token.h"

#include <cstring>
#include <string>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/Accounts.h"
#include "platform/win32/Thread.h"

namespace {

const size_t kSidHeader = 8;  // revision, count, 6-byte authority

class CTokenObject : public CKernelObject {
   public:
    CTokenObject(DWORD access, std::vector<BYTE> user) : m_access(access), m_user(std::move(user)) {}
    DWORD Access() const { return m_access; }
    const std::vector<BYTE>& User() const { return m_user; }

   private:
    DWORD m_access;
    std::vector<BYTE> m_user;
};

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

const BYTE* Bytes(PSID sid) {
    return static_cast<const BYTE*>(sid);
}

DWORD SubAuthority(const BYTE* sid, int i) {
    DWORD value = 0;
    std::memcpy(&value, sid + kSidHeader + 4 * i, 4);
    return value;
}

bool ParseNumber(const std::u16string& text, size_t* pos, uint64_t limit, uint64_t* value) {
    const size_t begin = *pos;
    uint64_t n = 0;
    while (*pos < text.size() && text[*pos] >= u'0' && text[*pos] <= u'9') {
        n = n * 10 + static_cast<uint64_t>(text[*pos] - u'0');
        if (n > limit) return false;
        ++*pos;
    }
    *value = n;
    return *pos > begin;
}

}  // namespace

BOOL OpenThreadToken(HANDLE ThreadHandle, DWORD, BOOL, PHANDLE TokenHandle) {
    if (!TokenHandle) return Fail(ERROR_INVALID_PARAMETER);
    *TokenHandle = nullptr;
    if (ThreadHandle != GetCurrentThread() && !zbw::LookupHandle(ThreadHandle)) return FALSE;
    return Fail(ERROR_NO_TOKEN);
}

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    if (!TokenHandle) return Fail(ERROR_INVALID_PARAMETER);
    *TokenHandle = nullptr;
    if (ProcessHandle != GetCurrentProcess()) return Fail(ERROR_ACCESS_DENIED);
    std::vector<BYTE> user;
    if (!zbw::SidFromText(zbw::CurrentUserSidText(), &user)) return Fail(ERROR_NONE_MAPPED);
    const DWORD access = (DesiredAccess & MAXIMUM_ALLOWED) ? TOKEN_ALL_ACCESS : DesiredAccess;
    *TokenHandle = zbw::NewHandle(new CTokenObject(access, std::move(user)));
    return TRUE;
}

BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                         LPVOID TokenInformation, DWORD TokenInformationLength, PDWORD ReturnLength) {
    CKernelRef ref = zbw::LookupHandle(TokenHandle);
    CTokenObject* token = ref.As<CTokenObject>();
    if (!token) return Fail(ERROR_INVALID_HANDLE);
    if (!(token->Access() & TOKEN_QUERY)) return Fail(ERROR_ACCESS_DENIED);
    if (TokenInformationClass != TokenUser || !ReturnLength) return Fail(ERROR_INVALID_PARAMETER);
    const std::vector<BYTE>& sid = token->User();
    const DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    *ReturnLength = needed;
    if (!TokenInformation || TokenInformationLength < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    BYTE* out = static_cast<BYTE*>(TokenInformation);
    TOKEN_USER user{{out + sizeof(TOKEN_USER), 0}};
    std::memcpy(out, &user, sizeof user);
    std::memcpy(out + sizeof(TOKEN_USER), sid.data(), sid.size());
    return TRUE;
}

BOOL IsValidSid(PSID pSid) {
    const BYTE* sid = Bytes(pSid);
    return sid && sid[0] == SID_REVISION && sid[1] <= SID_MAX_SUB_AUTHORITIES;
}

DWORD GetLengthSid(PSID pSid) {
    return IsValidSid(pSid) ? static_cast<DWORD>(kSidHeader + 4 * Bytes(pSid)[1]) : 0;
}

BOOL CopySid(DWORD nDestinationSidLength, PSID pDestinationSid, PSID pSourceSid) {
    const DWORD length = GetLengthSid(pSourceSid);
    if (length == 0 || !pDestinationSid) return Fail(ERROR_INVALID_PARAMETER);
    if (nDestinationSidLength < length) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memmove(pDestinationSid, pSourceSid, length);
    return TRUE;
}

namespace zbw {

CString SidToText(PSID sid) {
    if (!IsValidSid(sid)) return CString();
    const BYTE* b = Bytes(sid);
    uint64_t authority = 0;
    for (int i = 2; i < 8; ++i) authority = (authority << 8) | b[i];
    std::string text = "S-1-" + std::to_string(authority);
    for (int i = 0; i < b[1]; ++i) text += "-" + std::to_string(SubAuthority(b, i));
    return FromUtf8(text);
}

bool SidFromText(const CString& text, std::vector<BYTE>* sid) {
    const std::u16string s = text.GetString();
    if (s.rfind(u"S-1-", 0) != 0) return false;
    size_t pos = 4;
    uint64_t authority = 0;
    if (!ParseNumber(s, &pos, 0xFFFFFFFFFFFFull, &authority)) return false;
    std::vector<BYTE> out(kSidHeader);
    out[0] = SID_REVISION;
    for (int i = 7; i >= 2; --i, authority >>= 8) out[i] = static_cast<BYTE>(authority & 0xFF);
    while (pos < s.size()) {
        uint64_t sub = 0;
        if (s[pos++] != u'-' || !ParseNumber(s, &pos, 0xFFFFFFFFull, &sub)) return false;
        if (++out[1] > SID_MAX_SUB_AUTHORITIES) return false;
        const DWORD value = static_cast<DWORD>(sub);
        const BYTE* p = reinterpret_cast<const BYTE*>(&value);
        out.insert(out.end(), p, p + 4);
    }
    *sid = std::move(out);
    return true;
}

}  // namespace zbw
