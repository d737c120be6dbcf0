// The digest text of a UTF-16 text: SHA-1 over its UTF-16LE units (two bytes each, low byte
// first, no terminator), written "%08X %08X %08X %08X %08X" (always 44 characters). The system
// uses it for stored password hashes, login responses, the framing of TCP/IP messages and page
// ids. Stateless; any thread.
#pragma once

#include "platform/base/CString.h"

// Digest text of text; all five groups print as zeros if the digest state became corrupted.
CString SHA1HashText(const CString& text);
// Appends the digest text of text to it.
void AppendSHA1Digest(CString& text);
// When text ends with the exact (upper-case) digest text of what precedes it, strips it and
// returns true; otherwise leaves text unchanged and returns false.
bool VerifySHA1Digest(CString& text);
