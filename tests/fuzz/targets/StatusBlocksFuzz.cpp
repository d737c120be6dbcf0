// The status blocks the synchronisation program fills, over forged contents: the engine's
// readers of the percent block (CZBStatus) and of the progress block's values (as CZBEngStatus
// reads them) take what the input puts there.
#include <cstring>

#include "common/SyncCounts.h"
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
    } texts[] = {{u"ID", 512},    {u"CAPT", 512},  {u"LERR", 512}, {u"FILE", 512},
                 {u"LINE1", 256}, {u"LINE2", 256}, {u"LINE3", 256}};
    for (const auto& text : texts)
        FUZZ_CHECK(ReadStatusText(block, text.name, text.chars).GetLength() <= text.chars);
    SYNCCOUNTS counts;
    for (LPCWSTR record : {u"TODO", u"DONE"}) ReadStatusRecord(block, record, &counts, sizeof counts);
    COMPARECOUNTS compare;
    for (LPCWSTR record : {u"COMS", u"COMT"}) ReadStatusRecord(block, record, &compare, sizeof compare);
    WriteStatusText(block, u"CAPT", u"1", 512);
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
