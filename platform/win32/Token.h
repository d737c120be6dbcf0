// Access tokens and security identifiers, as far as a program asks who it runs as.
//
// There is one user per process: the account of the real uid, whose identifier is
// zbw::CurrentUserSidText() ("S-1-5-21-0-0-0-<uid>"). Threads never impersonate, so
// OpenThreadToken always fails with ERROR_NO_TOKEN and callers fall back to the process token,
// as they do on Windows for a thread without a token of its own.
//
// Kept from Windows: the binary SID form (revision 1, sub-authority count, 48-bit big-endian
// authority, 32-bit sub-authorities) so SIDs can be copied and compared as bytes; the access
// check of a token handle (TOKEN_QUERY for GetTokenInformation, else ERROR_ACCESS_DENIED); the
// size-then-data convention of GetTokenInformation (ERROR_INSUFFICIENT_BUFFER with the size
// needed); token handles closed with CloseHandle.
// Left out: tokens of other processes (ERROR_ACCESS_DENIED), impersonation, groups, privileges
// and every information class except TokenUser (ERROR_INVALID_PARAMETER). Invalid SIDs are
// refused with ERROR_INVALID_PARAMETER.
//
// Any thread may call these; a token belongs to the process and lives until its last handle
// is closed.
#pragma once

#include <vector>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

#define TOKEN_ASSIGN_PRIMARY 0x0001u
#define TOKEN_DUPLICATE 0x0002u
#define TOKEN_IMPERSONATE 0x0004u
#define TOKEN_QUERY 0x0008u
#define TOKEN_QUERY_SOURCE 0x0010u
#define TOKEN_ADJUST_PRIVILEGES 0x0020u
#define TOKEN_ADJUST_GROUPS 0x0040u
#define TOKEN_ADJUST_DEFAULT 0x0080u
#define TOKEN_ALL_ACCESS 0x000F01FFu

#define SID_REVISION 1
#define SID_MAX_SUB_AUTHORITIES 15

typedef HANDLE* PHANDLE;
typedef DWORD* PDWORD;

enum TOKEN_INFORMATION_CLASS { TokenUser = 1 };

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};

// The SID that Sid points at follows the record in the same buffer.
struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};

BOOL OpenThreadToken(HANDLE ThreadHandle, DWORD DesiredAccess, BOOL OpenAsSelf, PHANDLE TokenHandle);
// Only the calling process's own token (GetCurrentProcess()); any other handle: ERROR_ACCESS_DENIED.
BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle);
BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                         LPVOID TokenInformation, DWORD TokenInformationLength, PDWORD ReturnLength);

BOOL IsValidSid(PSID pSid);
// 0 for an invalid SID.
DWORD GetLengthSid(PSID pSid);
BOOL CopySid(DWORD nDestinationSidLength, PSID pDestinationSid, PSID pSourceSid);

namespace zbw {

// "S-1-<authority>-<sub>-..."; the empty text for an invalid SID.
CString SidToText(PSID sid);
// The binary form of such a text; false (and *sid untouched) when it does not parse.
bool SidFromText(const CString& text, std::vector<BYTE>* sid);

}  // namespace zbw
