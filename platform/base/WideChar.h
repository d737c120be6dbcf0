// Wide-character helpers of the C runtime that the system calls, over UTF-16 (char16_t).
// Any thread may call them; they keep no state and never consult the C library locale.
// Case mapping is our own table: ASCII plus simple one-to-one folding for Latin-1, Latin
// Extended-A, Greek and Cyrillic; other characters map to themselves. Blanks are the ASCII
// ones (tab, line feed, vertical tab, form feed, carriage return, space). Null pointers read
// as empty text rather than crashing.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/base/WinTypes.h"

namespace zbw {

char16_t ToUpper(char16_t ch);
char16_t ToLower(char16_t ch);
bool IsDigit(char16_t ch);
bool IsXDigit(char16_t ch);
bool IsSpace(char16_t ch);

// Units before the terminator; 0 for a null pointer.
size_t StrLen(LPCWSTR text);
// Ordinal comparison after lower-casing each unit; order is by unsigned UTF-16 unit.
int CompareNoCase(std::u16string_view a, std::u16string_view b);

}  // namespace zbw

// Leading blanks, an optional sign, then decimal digits; 0 when there are none. Values out of
// range clamp to the type's limits, as the current C runtime does. LONG is 32-bit, as on Windows.
int _wtoi(LPCWSTR text);
LONG _wtol(LPCWSTR text);
LONGLONG _wtoi64(LPCWSTR text);

// Case-insensitive ordinal comparison (negative, 0, positive). lstrcmpiW is ordinal here too:
// Windows' linguistic order is not reproduced.
int _wcsicmp(LPCWSTR a, LPCWSTR b);
int _wcsnicmp(LPCWSTR a, LPCWSTR b, size_t count);
int lstrcmpiW(LPCWSTR a, LPCWSTR b);

int lstrlenW(LPCWSTR text);
// Copies at most max - 1 units and always terminates (when max > 0); returns dst.
LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int max);
