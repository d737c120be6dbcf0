// CZB_TODO_HTML: the "Run Preview" table of the operations a run plans, from a TODO SYNCCOUNTS.
// Callers skip records without data (HasData). One build per object; the record is read, not
// owned, and must outlive Build. One thread at a time; nothing fails.
#pragma once

#include "common/SyncCounts.h"
#include "platform/base/CString.h"
#include "platform/classlib/Object.h"

class CZB_TODO_HTML : public CObject {
   public:
    CString Build(const SYNCCOUNTS& todo);
    // Label rows added by the last build (heads and footers not counted).
    int GetRowCount() const { return m_nRows; }

   private:
    void AddFileRow(LPCWSTR label, uint32_t sourceCount, uint64_t sourceBytes, uint32_t targetCount,
                    uint64_t targetBytes, bool starred);
    void AddFolderRow(LPCWSTR label, uint32_t sourceCount, uint32_t targetCount);
    bool AnyPacked() const;

    const SYNCCOUNTS* m_pCounts = nullptr;
    CString m_strHtml;
    int m_nRows = 0;
};
