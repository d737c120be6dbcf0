// The engine command block over forged contents: the input becomes the block's bytes, then the
// engine's and a client's operations run on it (read the command, the heartbeat, write an
// answer and read it back).
#include <cstring>

#include "common/CommStatusMem.h"
#include "platform/win32/FileMapping.h"
#include "tests/fuzz/FuzzTargets.h"

namespace {

const LPCWSTR kName = u"Local\\FuzzCommandBlock";

struct BLOCK {
    CCommStatusMem store{kName, nullptr};
    BYTE* view = nullptr;
    BLOCK() {
        store.AddValues();
        HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kName);
        if (mapping) view = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    }
};

}  // namespace

int FuzzCommandBlock(const uint8_t* data, size_t size) {
    static BLOCK* block = new BLOCK;
    FUZZ_CHECK(block->store.IsOpen() && block->view);
    // The fixed layout up to the command text comes from the input; the text's tail stays zero
    // so every input costs the same.
    const size_t forged = std::min<size_t>(size, 2048);
    std::memset(block->view, 0, 2048);
    std::memcpy(block->view, data, forged);
    int type = 0;
    CString text;
    block->store.ReadCommand(type, text);
    FUZZ_CHECK(text.GetLength() <= COMMSTATUS_COMMAND_BYTES / 2);
    block->store.IsAlive(10000);
    block->store.WriteTime(12345);
    block->store.AddValues();
    const CString answer = text.Left(64) + u"-answer";
    block->store.WriteCommand(COMMSTATUS_ANSWER, answer);
    CString back;
    block->store.ReadCommand(type, back);
    return 0;
}
