// String values of the registry under the local machine and the current user: the settings
// the engine reads from fixed keys (the synchronisation program's path, "noenc", last runs ...).
//
// Key paths are relative to the root the name gives. Values are read into a buffer of 2047 bytes:
// a longer value counts as unreadable. The text read ends at the first zero or at the end of the
// data, whichever comes first, so data stored without its terminating zero reads correctly.
// A failed read leaves the out text unchanged. Writes store REG_SZ with the terminating zero.
// Stateless; any thread may call them. Failures are the false result only (the registry's code
// is not kept).
#pragma once

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

bool ReadRegStringLM(LPCWSTR keyPath, LPCWSTR valueName, CString& text);
bool ReadRegStringCU(LPCWSTR keyPath, LPCWSTR valueName, CString& text);

// Creates the key when missing.
bool WriteRegStringLM(LPCWSTR keyPath, LPCWSTR valueName, LPCWSTR text);
bool WriteRegStringCU(LPCWSTR keyPath, LPCWSTR valueName, LPCWSTR text);
