// Conversions between UTF-16 and byte text: the ANSI code page and UTF-8.
// Any thread may call them; they keep no state. The ANSI code page is one fixed table
// (Windows-1252); its five undefined bytes 81, 8D, 8F, 90 and 9D map to U+0081 ... and back, so
// every byte value round-trips. There is no best-fit mapping: a character the table cannot hold
// becomes the default character ("?"). UTF-8 follows Windows: each ill-formed part of the input
// (and a lone surrogate on the way out) becomes U+FFFD unless the caller asks for an error.
// The two Windows functions fail with ERROR_INVALID_PARAMETER, ERROR_INVALID_FLAGS,
// ERROR_INSUFFICIENT_BUFFER or ERROR_NO_UNICODE_TRANSLATION, returning 0.
#pragma once

#include <string>
#include <string_view>

#include "platform/base/WinTypes.h"

class CString;

typedef BOOL* LPBOOL;

#define CP_ACP 0u
#define CP_OEMCP 1u
#define CP_THREAD_ACP 3u
#define CP_UTF8 65001u
#define CP_WINDOWS_1252 1252u

#define MB_PRECOMPOSED 0x00000001u
#define MB_ERR_INVALID_CHARS 0x00000008u

#define WC_DISCARDNS 0x00000010u
#define WC_SEPCHARS 0x00000020u
#define WC_DEFAULTCHAR 0x00000040u
#define WC_ERR_INVALID_CHARS 0x00000080u
#define WC_COMPOSITECHECK 0x00000200u
#define WC_NO_BEST_FIT_CHARS 0x00000400u

// CP_ACP (and CP_THREAD_ACP, 1252) or CP_UTF8. srcBytes -1 converts through the terminator and
// counts it. dstChars 0 asks for the size needed.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcBytes, LPWSTR dst, int dstChars);
// WC_COMPOSITECHECK composes a Latin letter and a following combining accent into the single
// character the code page holds; WC_SEPCHARS, WC_DISCARDNS, WC_DEFAULTCHAR and
// WC_NO_BEST_FIT_CHARS are accepted. CP_UTF8 takes no default character and only
// WC_ERR_INVALID_CHARS, as on Windows.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcChars, LPSTR dst, int dstBytes,
                        LPCSTR defaultChar, LPBOOL usedDefaultChar);

namespace zbw {

bool IsHighSurrogate(char16_t ch);
bool IsLowSurrogate(char16_t ch);
// Appends one code point in UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

// UTF-8 for the operating system boundary; a lone surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);
std::string ToUtf8(const std::u16string& text);
std::string ToUtf8(LPCWSTR text);
std::string ToUtf8(const CString& text);
// Ill-formed input becomes U+FFFD.
CString FromUtf8(std::string_view text);
CString FromUtf8(const std::string& text);
CString FromUtf8(const char* text);

// ANSI code page (Windows-1252); a character it cannot hold becomes "?".
std::string ToAnsi(std::u16string_view text);
CString FromAnsi(std::string_view text);
char16_t AnsiToWide(unsigned char byte);
// false when the table has no byte for the character.
bool WideToAnsi(char16_t ch, char* byte);

}  // namespace zbw
