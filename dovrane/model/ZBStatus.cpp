#include "dovrane/model/ZBStatus.h"

#include <cstring>

#include "dovrane/model/StatusBlockValue.h"

namespace {

const int kStatusTextChars = 100;

}  // namespace

CString CZBStatus::BlockName(DWORD processId) {
    return PercentBlockName(processId);
}

bool CZBStatus::Open(DWORD processId) {
    m_pBlock.reset();
    m_pBlock = std::make_unique<CSharedMemory>(BlockName(processId), kPercentBlockSize);
    if (m_pBlock->IsOpen()) {
        const LONG zero = 0;
        const BYTE zeros[kPercentTextBytes] = {};
        if (!m_pBlock->ValueExists(SYNCSTATUS_PERCENT))
            m_pBlock->AddValue(SYNCSTATUS_PERCENT, sizeof zero, &zero);
        if (!m_pBlock->ValueExists(SYNCSTATUS_STATUS_TEXT))
            m_pBlock->AddValue(SYNCSTATUS_STATUS_TEXT, sizeof zeros, zeros);
    }
    return m_pBlock != nullptr;
}

CString CZBStatus::GetStatusText() {
    return m_pBlock ? ReadStatusText(*m_pBlock, SYNCSTATUS_STATUS_TEXT, kStatusTextChars) : CString();
}

LONG CZBStatus::GetPercent() {
    LONG percent = -1;
    if (!m_pBlock || !ReadStatusRecord(*m_pBlock, SYNCSTATUS_PERCENT, &percent, sizeof percent)) return -1;
    return percent;
}
