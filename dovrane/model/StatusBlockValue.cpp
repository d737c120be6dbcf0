#include "dovrane/model/StatusBlockValue.h"

#include <algorithm>
#include <cstring>

bool ReadStatusValue(CSharedMemory& block, LPCWSTR name, std::vector<BYTE>& bytes) {
    if (!block.IsOpen()) return false;
    // One fetch into room for the whole block: asking for the size first and copying after
    // would read a size the writer may have changed in between.
    bytes.assign(block.GetTotalSize(), 0);
    DWORD got = static_cast<DWORD>(bytes.size());
    if (!block.GetValue(name, bytes.data(), &got) || got == 0 || got > bytes.size()) {
        bytes.clear();
        return false;
    }
    bytes.resize(got);
    return true;
}

bool ReadStatusRecord(CSharedMemory& block, LPCWSTR name, void* buffer, DWORD size) {
    std::vector<BYTE> bytes;
    if (!ReadStatusValue(block, name, bytes) || bytes.size() < size) return false;
    memcpy(buffer, bytes.data(), size);
    return true;
}

CString ReadStatusText(CSharedMemory& block, LPCWSTR name, int maxChars) {
    CString text;
    if (maxChars > 0 && block.IsOpen()) block.GetText(name, static_cast<DWORD>(maxChars), text);
    return text;
}

bool WriteStatusText(CSharedMemory& block, LPCWSTR name, const CString& text, int maxChars) {
    if (!block.IsOpen()) return false;
    DWORD valueSize = 0;
    if (!block.GetValue(name, nullptr, &valueSize) || valueSize == 0) return false;
    size_t units = std::min<size_t>(
        {static_cast<size_t>(text.GetLength()), static_cast<size_t>(std::max(maxChars, 0)), valueSize / 2});
    std::vector<BYTE> bytes(std::max<size_t>(2 * units, 1), 0);
    for (size_t i = 0; i < units; ++i) {
        bytes[2 * i] = static_cast<BYTE>(text[static_cast<int>(i)] & 0xFF);
        bytes[2 * i + 1] = static_cast<BYTE>(text[static_cast<int>(i)] >> 8);
    }
    return block.SetValue(name, bytes.data(), static_cast<DWORD>(bytes.size())) != FALSE;
}
