// The service program's console texts and error texts. Any thread may call these.
#pragma once

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

namespace service {

// The US-English system message for codes up to 12000, cut at its first carriage return and at
// 254 characters; empty for larger codes and unknown ones.
CString ErrorText(DWORD code);
// Prints text to standard output at once (UTF-8).
void Print(LPCWSTR text);
// Waits for one key (a byte of standard input; end of input counts as a key).
void WaitForKey();

}  // namespace service
