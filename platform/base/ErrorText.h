// Message texts for error codes: FormatMessageW over our own US-English table, and the local
// memory functions that free the buffers it allocates.
//
// The table holds the Windows wording of every Win32 code in WinError.h, the Winsock codes and
// the HRESULTs the layer produces; HRESULTs of the Win32 facility (0x8007xxxx) read the text of
// their Win32 code, as on Windows. A system text ends in "\r\n" as Windows' do. Any thread may
// call these functions.
//
// Kept: FORMAT_MESSAGE_FROM_SYSTEM, FROM_STRING, ALLOCATE_BUFFER (free with LocalFree),
// IGNORE_INSERTS, ARGUMENT_ARRAY, and inserts %1..%99 with the printf forms !s! !d! !u! !x! !X!
// (from an argument array, or strings only from a va_list), %0 %n %r %t %% and escapes; a
// width in FORMAT_MESSAGE_MAX_WIDTH_MASK drops the definition's line breaks (no re-wrapping).
// Left out: module message tables (FROM_HMODULE alone finds nothing) and other languages (every
// language id reads the English text). An unknown code fails with ERROR_MR_MID_NOT_FOUND so
// callers print their own fallback text.
#pragma once

#include <cstdarg>

#include "platform/base/WinError.h"

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu

#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_ENGLISH_US 0x01
#define MAKELANGID(p, s) ((static_cast<WORD>(s) << 10) | static_cast<WORD>(p))

typedef HANDLE HLOCAL;
#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

// Fixed blocks only; the handle is the pointer. NULL with ERROR_NOT_ENOUGH_MEMORY on failure.
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
// NULL on success (and for NULL).
HLOCAL LocalFree(HLOCAL mem);

// Characters written without the terminator, or 0 with the last error set
// (ERROR_MR_MID_NOT_FOUND, ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER).
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                     DWORD size, va_list* arguments);

namespace zbw {
// The table's text for a code (without the closing "\r\n"), or nullptr when it has none.
LPCWSTR FindErrorText(DWORD code);
}  // namespace zbw
