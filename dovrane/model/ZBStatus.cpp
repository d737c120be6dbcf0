#include "dovrane/model/ZBStatus.h"

#include <cstring>

#include "dovrane/model/StatusBlockValue.h"

namespace {

const DWORD kStatusTextBytes = 200;
const int kStatusTextChars = 100;

}  // namespace

CString CZBStatus::BlockName(DWORD processId) {
    CString name;
    name.Format(u"ZebrodynePro_%u", processId);
    return name;
}

bool CZBStatus::Open(DWORD processId) {
    m_pBlock.reset();
    m_pBlock = std::make_unique<CSharedMemory>(BlockName(processId), kBlockSize);
    if (m_pBlock->IsOpen()) {
        const LONG zero = 0;
        const BYTE zeros[kStatusTextBytes] = {};
        if (!m_pBlock->ValueExists(u"%")) m_pBlock->AddValue(u"%", sizeof zero, &zero);
        if (!m_pBlock->ValueExists(u"st")) m_pBlock->AddValue(u"st", sizeof zeros, zeros);
    }
    return m_pBlock != nullptr;
}

CString CZBStatus::GetStatusText() {
    return m_pBlock ? ReadStatusText(*m_pBlock, u"st", kStatusTextChars) : CString();
}

LONG CZBStatus::GetPercent() {
    LONG percent = -1;
    if (!m_pBlock || !ReadStatusRecord(*m_pBlock, u"%", &percent, sizeof percent)) return -1;
    return percent;
}
