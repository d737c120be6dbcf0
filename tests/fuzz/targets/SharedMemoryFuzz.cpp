// The shared-memory store over a block whose bytes another process forged: the input becomes
// the block's contents (the directory of named values), then every operation runs on it, and a
// second opener reads the forged header.
#include <cstring>

#include "common/SharedMemory.h"
#include "platform/win32/FileMapping.h"
#include "tests/fuzz/FuzzTargets.h"

namespace {

const DWORD kBlockBytes = 1024;
const LPCWSTR kName = u"Local\\FuzzSharedMemory";

// The block and a plain view of it, made once.
struct BLOCK {
    CSharedMemory store{kName, kBlockBytes};
    BYTE* view = nullptr;
    BLOCK() {
        HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kName);
        if (mapping) view = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    }
};

void Exercise(CSharedMemory& store) {
    const LPCWSTR names[] = {u"a", u"%", u"st", u"command", u"ID", u"\u00e9t\u00e9"};
    BYTE buffer[2 * kBlockBytes];
    for (LPCWSTR name : names) {
        store.ValueExists(name);
        DWORD size = 0;
        if (store.GetValue(name, nullptr, &size)) FUZZ_CHECK(size <= store.GetTotalSize());
        size = sizeof buffer;
        store.GetValue(name, buffer, &size);
        DWORD small = 2;
        store.GetValue(name, buffer, &small);
        store.SetValue(name, buffer, 4);
    }
    store.AddValue(u"new", 16, buffer);
    store.AddValue(u"big", kBlockBytes);
}

}  // namespace

int FuzzSharedMemory(const uint8_t* data, size_t size) {
    static BLOCK* block = new BLOCK;
    FUZZ_CHECK(block->store.IsOpen() && block->view);
    std::memset(block->view, 0, kBlockBytes);
    std::memcpy(block->view, data, std::min<size_t>(size, kBlockBytes));
    Exercise(block->store);
    if (size > 0 && (data[0] & 1)) {
        CSharedMemory second(kName, 8 + (size > 1 ? data[1] : 0) * 4);
        if (second.IsOpen()) {
            FUZZ_CHECK(second.GetTotalSize() <= kBlockBytes);
            Exercise(second);
        }
    }
    return 0;
}
