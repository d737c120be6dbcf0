// The status blocks the synchronisation program fills, over forged contents: the engine's
// readers of the percent block (CZBStatus) and of the progress block's values (as CZBEngStatus
// reads them) take what the input puts there.
#include <cstring>

#include "common/SyncCounts.h"
#include "common/SyncStatusBlocks.h"
#include "dovrane/model/StatusBlockValue.h"
#include "dovrane/model/ZBEngStatus.h"
#include "dovrane/model/ZBStatus.h"
#include "platform/win32/FileMapping.h"
#include "tests/fuzz/FuzzTargets.h"

namespace {

const DWORD kProcessId = 4242;

struct BLOCK {
    CSharedMemory store;
    BYTE* view = nullptr;
    BLOCK(const CString& name, DWORD size) : store(name, size) {
        HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name);
        if (mapping) view = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    }
    void Forge(const uint8_t* data, size_t size) {
        std::memset(view, 0, store.GetTotalSize());
        std::memcpy(view, data, std::min<size_t>(size, store.GetTotalSize()));
    }
};

void ReadProgress(CSharedMemory& block) {
    const struct {
        LPCWSTR name;
        int chars;
    } texts[] = {{SYNCSTATUS_ID, 512},   {SYNCSTATUS_CAPTION, 512}, {SYNCSTATUS_LAST_ERROR, 512},
                 {SYNCSTATUS_FILE, 512}, {SYNCSTATUS_LINE1, 256},   {SYNCSTATUS_LINE2, 256},
                 {SYNCSTATUS_LINE3, 256}};
    for (const auto& text : texts)
        FUZZ_CHECK(ReadStatusText(block, text.name, text.chars).GetLength() <= text.chars);
    SYNCCOUNTS counts;
    for (LPCWSTR record : {SYNCSTATUS_TODO, SYNCSTATUS_DONE})
        ReadStatusRecord(block, record, &counts, sizeof counts);
    COMPARECOUNTS compare;
    for (LPCWSTR record : {SYNCSTATUS_COMPARE_SOURCE, SYNCSTATUS_COMPARE_TARGET})
        ReadStatusRecord(block, record, &compare, sizeof compare);
    WriteStatusText(block, SYNCSTATUS_CAPTION, u"1", 512);
}

}  // namespace

int FuzzStatusBlocks(const uint8_t* data, size_t size) {
    static BLOCK* percent = new BLOCK(CZBStatus::BlockName(kProcessId), CZBStatus::kBlockSize);
    static BLOCK* progress = new BLOCK(CZBEngStatus::BlockName(kProcessId), CZBEngStatus::kBlockSize);
    FUZZ_CHECK(percent->view && progress->view);
    percent->Forge(data, size);
    CZBStatus status;
    status.Open(kProcessId);
    FUZZ_CHECK(status.GetStatusText().GetLength() <= 100);
    status.GetPercent();
    progress->Forge(data, size);
    ReadProgress(progress->store);
    return 0;
}
