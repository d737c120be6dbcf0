// The current account and the computer's names, and the security facts derived from the uid.
//
// User name: ZBW_USER_NAME when set, else the account of the real uid (getpwuid); when neither
// gives one the calls fail with ERROR_NONE_MAPPED. Computer name: ZBW_COMPUTER_NAME when set,
// else gethostname(). The NetBIOS name (GetComputerNameW) is its first label in upper case; a
// Windows name has at most MAX_COMPUTERNAME_LENGTH (15) characters, so a longer host label does
// not fit the buffers that Windows programs size for it and those calls fail with
// ERROR_BUFFER_OVERFLOW (there is no truncation). The fully qualified DNS name is the host name
// when it has a dot, else the canonical name that the resolver gives (looked up once per
// process), else the host name.
//
// Kept from Windows: the size conventions of each function (GetUserNameW counts the zero on
// return; the computer-name functions do not) and their errors for a short buffer
// (ERROR_INSUFFICIENT_BUFFER, ERROR_BUFFER_OVERFLOW, ERROR_MORE_DATA) with the size needed.
// GetUserNameExW knows no domain: NameDnsDomain and every other format except
// NameSamCompatible ("COMPUTER\user") fail with ERROR_NONE_MAPPED, as for a local account.
//
// Any thread may call these; the environment is read at every call.
#pragma once

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

#define MAX_COMPUTERNAME_LENGTH 15
#define UNLEN 256

enum EXTENDED_NAME_FORMAT {
    NameUnknown = 0,
    NameFullyQualifiedDN = 1,
    NameSamCompatible = 2,
    NameDisplay = 3,
    NameUniqueId = 6,
    NameCanonical = 7,
    NameUserPrincipal = 8,
    NameCanonicalEx = 9,
    NameServicePrincipal = 10,
    NameDnsDomain = 12,
    NameGivenName = 13,
    NameSurname = 14
};

enum COMPUTER_NAME_FORMAT {
    ComputerNameNetBIOS,
    ComputerNameDnsHostname,
    ComputerNameDnsDomain,
    ComputerNameDnsFullyQualified,
    ComputerNamePhysicalNetBIOS,
    ComputerNamePhysicalDnsHostname,
    ComputerNamePhysicalDnsDomain,
    ComputerNamePhysicalDnsFullyQualified,
    ComputerNameMax
};

// Size in characters; on return the length with its zero.
BOOL GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer);
// Size in characters; on return the length without its zero.
BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize);
// The same in the ANSI code page; sizes in bytes.
BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize);
BOOL GetComputerNameExW(COMPUTER_NAME_FORMAT NameType, LPWSTR lpBuffer, LPDWORD nSize);
BOOLEAN GetUserNameExW(EXTENDED_NAME_FORMAT NameFormat, LPWSTR lpNameBuffer, PULONG nSize);

namespace zbw {

// The current user's security identifier in text form, "S-1-5-21-0-0-0-<uid>".
CString CurrentUserSidText();
// Mandatory integrity: high (0x3000) for root, medium (0x2000) for everybody else.
DWORD CurrentIntegrityRid();
// The same as a level: 3 high, 2 medium.
int CurrentIntegrityLevel();

}  // namespace zbw
