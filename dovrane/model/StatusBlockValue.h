// Reading and writing single values of a status block (CSharedMemory) whose contents another
// process writes. Nothing read is trusted: a value is copied whole into a buffer of its own
// size (bounded by the block), texts end at their first zero or at the caller's limit, and a
// write is cut to the value's size. Any thread may call these; the block's own lock orders them.
#pragma once

#include <vector>

#include "common/SharedMemory.h"
#include "platform/base/CString.h"

// The whole value, or false when it is missing or cannot be read.
bool ReadStatusValue(CSharedMemory& block, LPCWSTR name, std::vector<BYTE>& bytes);

// The value's first size bytes into buffer; false (buffer untouched) when the value is missing,
// unreadable or shorter than size.
bool ReadStatusRecord(CSharedMemory& block, LPCWSTR name, void* buffer, DWORD size);

// The value as UTF-16 text, cut at its first zero and at maxChars; empty when unreadable.
CString ReadStatusText(CSharedMemory& block, LPCWSTR name, int maxChars);

// Clears the value and writes the first maxChars characters of text, no more than the value
// holds; an empty text just clears it. False when the value is missing or cannot be written.
bool WriteStatusText(CSharedMemory& block, LPCWSTR name, const CString& text, int maxChars);
