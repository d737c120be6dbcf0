#include "dovrane/model/ZBEngStatus.h"

#include "common/DebugPrintf.h"
#include "dovrane/model/StatusBlockValue.h"
#include "platform/base/Clock.h"

namespace {

const int kIdChars = 512;
const DWORD kIdPauseMs = 1000;

}  // namespace

CString CZBEngStatus::BlockName(DWORD processId) {
    return ProgressBlockName(processId);
}

bool CZBEngStatus::Open(DWORD processId) {
    Attach(processId);
    while (!PollID()) Sleep(kIdPauseMs);
    return m_pBlock != nullptr;
}

bool CZBEngStatus::Attach(DWORD processId) {
    m_pBlock.reset();
    m_strID.Empty();
    m_nIdReads = 0;
    const CString name = BlockName(processId);
    m_pBlock = std::make_unique<CSharedMemory>(name, kProgressBlockSize);
    if (!m_pBlock->IsOpen())
        g_DebugPrintf.Print(u"SharedMem %s creation failed.", name);
    else
        AddMissingValues();
    return m_pBlock != nullptr;
}

bool CZBEngStatus::PollID() {
    if (m_nIdReads >= kIdReads) return true;
    m_strID = GetString(SYNCSTATUS_ID, kIdChars);
    m_nIdReads = m_strID.IsEmpty() ? m_nIdReads + 1 : kIdReads;
    if (m_nIdReads < kIdReads) return false;
    SetString(SYNCSTATUS_CAPTION, u"1", kIdChars);
    return true;
}

void CZBEngStatus::AddMissingValues() {
    const BYTE zeros[kStatusTextBytes] = {};
    const SYNCCOUNTS noSync = NoSyncCounts();
    const COMPARECOUNTS noCompare = NoCompareCounts();
    const struct {
        LPCWSTR name;
        DWORD size;
        const void* initial;
    } values[] = {
        {SYNCSTATUS_ID, kStatusTextBytes, zeros},
        {SYNCSTATUS_CAPTION, kStatusTextBytes, zeros},
        {SYNCSTATUS_LAST_ERROR, kStatusTextBytes, zeros},
        {SYNCSTATUS_FILE, kStatusTextBytes, zeros},
        {SYNCSTATUS_LINE1, kStatusLineBytes, zeros},
        {SYNCSTATUS_LINE2, kStatusLineBytes, zeros},
        {SYNCSTATUS_LINE3, kStatusLineBytes, zeros},
        {SYNCSTATUS_TODO, sizeof noSync, &noSync},
        {SYNCSTATUS_DONE, sizeof noSync, &noSync},
        {SYNCSTATUS_COMPARE_SOURCE, sizeof noCompare, &noCompare},
        {SYNCSTATUS_COMPARE_TARGET, sizeof noCompare, &noCompare},
    };
    for (const auto& value : values) {
        if (!m_pBlock->ValueExists(value.name)) m_pBlock->AddValue(value.name, value.size, value.initial);
    }
}

bool CZBEngStatus::GetRecord(LPCWSTR name, void* buffer, DWORD size) {
    return m_pBlock && ReadStatusRecord(*m_pBlock, name, buffer, size);
}

CString CZBEngStatus::GetString(LPCWSTR name, int maxChars) {
    return m_pBlock ? ReadStatusText(*m_pBlock, name, maxChars) : CString();
}

void CZBEngStatus::SetString(LPCWSTR name, const CString& text, int maxChars) {
    if (m_pBlock) WriteStatusText(*m_pBlock, name, text, maxChars);
}
