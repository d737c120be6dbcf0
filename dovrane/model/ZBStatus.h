// CZBStatus: the engine's side of the synchronisation program's percent block
// "ZebrodynePro_<pid>" (1024 bytes): the percentage done ("%") and a status text ("st").
//
// Open makes (or opens) the block and adds the two values when missing. The block is written by
// another process: the status text is cut at its first zero and at 100 characters.
// Threads: the run item's thread. The object owns its block object and deletes it in its
// destructor or at the next Open. Failures: without a usable block the text is empty and the
// percentage -1; nothing is logged.
#pragma once

#include <memory>

#include "common/SharedMemory.h"
#include "common/SyncStatusBlocks.h"
#include "platform/base/CString.h"

class CZBStatus {
   public:
    static constexpr DWORD kBlockSize = kPercentBlockSize;

    CZBStatus() = default;
    virtual ~CZBStatus() = default;
    CZBStatus(const CZBStatus&) = delete;
    CZBStatus& operator=(const CZBStatus&) = delete;

    static CString BlockName(DWORD processId);

    // True when a block object exists afterwards (usable or not).
    bool Open(DWORD processId);

    CString GetStatusText();
    // The "%" value; -1 without a block or when it cannot be read.
    LONG GetPercent();

   private:
    std::unique_ptr<CSharedMemory> m_pBlock;
};
