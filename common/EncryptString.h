// Texts kept encrypted under the program's fixed passphrase (the HTTP server's page files).
//
// The cipher and its MAC are Crypto++'s passphrase scheme (DefaultEncryptorWithMAC /
// DefaultDecryptorWithMAC); the stored form is the upper-case hexadecimal text of its bytes.
// A text the ANSI code page (Windows-1252) cannot hold, and any text with a "?" in it, is
// stored as the marker "EFE0E000OO" followed by the encrypted list of its UTF-16 code units
// (lower-case hex numbers joined by ","; at most the first 50000 units are kept).
//
// Any thread may call these functions; they keep no state. Failures are empty results: the
// library's exceptions (wrong passphrase, failed MAC, damaged text) are caught here.
#pragma once

#include <string>

#include "platform/base/CString.h"

// The passphrase the program holds.
extern const char* const g_szStringPassphrase;
// The marker of the code-unit form.
extern const char16_t* const g_szEncryptionMarker;

// Hex text of the encrypted bytes; "" when the library fails.
CString EncryptString(const char* passphrase, const std::string& text);
// The decrypted bytes (under the program's passphrase) read as ANSI text; "" on any failure.
// Only the hexadecimal digits of the text count.
CString DecryptString(const CString& text);
CString EncryptStringWithMarker(const CString& text);
// A text without the marker goes through DecryptString as it is.
CString DecryptStringWithMarker(const CString& text);
