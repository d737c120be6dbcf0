// CZB_EXEC_SUMMARY_HTML: the "Run Summary" table of the operations a run carried out and its
// result, from a DONE SYNCCOUNTS. Callers skip records without data (HasData); one built anyway
// ends with "Not Executed.". One build per object; the record is read, not owned. One thread at
// a time; nothing fails.
#pragma once

#include "common/SyncCounts.h"
#include "platform/base/CString.h"
#include "platform/classlib/Object.h"

class CZB_EXEC_SUMMARY_HTML : public CObject {
   public:
    CString Build(const SYNCCOUNTS& done);
    // Label rows added by the last build (heads and footers not counted).
    int GetRowCount() const { return m_nRows; }

   private:
    struct ROWCOUNTS {
        LPCWSTR label;
        uint32_t sourceCount;
        uint64_t sourceBytes;
        uint32_t targetCount;
        uint64_t targetBytes;
    };

    void AddFileRows();
    void AddFolderRows();
    void AddArchiveRows();
    void AddResult();
    void AddRow(const ROWCOUNTS& row, bool highlighted, bool sizes = true);
    // Rows with any count, highlighted; one zero "Errors" row when none has any.
    void AddErrorRows(const ROWCOUNTS* rows, int count, bool sizes);
    void AddArchiveTotal();

    const SYNCCOUNTS* m_pCounts = nullptr;
    CString m_strHtml;
    int m_nRows = 0;
};
