// URL text of form fields and query strings: decoding to UTF-16 and encoding from it.
// Stateless; any thread. Results are values: the caller frees nothing.
#pragma once

#include <string>
#include <string_view>

#include "platform/base/CString.h"

// "+" becomes a blank, then "%hh" (either case) the byte it names; a "%" without two hex digits
// after it is dropped. The bytes are read as UTF-8; the text ends before the first byte sequence
// that is not UTF-8 and before a decoded NUL.
CString UrlDecode(std::string_view text);

// The UTF-8 bytes of text with every byte but an ASCII digit or letter written as "%hh" in
// lower-case hex ("-", "_", ".", "~" and the blank included).
std::string UrlEncode(const CString& text);
