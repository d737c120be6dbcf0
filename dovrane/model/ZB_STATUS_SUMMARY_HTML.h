// CZB_STATUS_SUMMARY_HTML: the "Final Status" comparison table of both sides after a run, from
// the source (COMS) and target (COMT) COMPARECOUNTS, nine columns: label, then per side count,
// count percentage, size, size percentage. Callers skip it when either record has no data. One
// build per object; the records are read, not owned. One thread at a time; nothing fails.
#pragma once

#include "common/SyncCounts.h"
#include "platform/base/CString.h"
#include "platform/classlib/Object.h"

class CZB_STATUS_SUMMARY_HTML : public CObject {
   public:
    // The source columns show coms, the target columns comt.
    CString Build(const COMPARECOUNTS& comt, const COMPARECOUNTS& coms);
    // Label rows added by the last build (heads and footers not counted).
    int GetRowCount() const { return m_nRows; }

   private:
    using COUNTFIELD = uint32_t COMPARECOUNTS::*;
    using SIZEFIELD = uint64_t COMPARECOUNTS::*;

    CString Verdict() const;
    void AddHead();
    void AddFileRow(LPCWSTR label, COUNTFIELD count, SIZEFIELD size, bool title = false);
    void AddFolderRow(LPCWSTR label, COUNTFIELD count, bool title = false);
    void AddRow(bool title, LPCWSTR label, const CString (&cells)[8]);

    const COMPARECOUNTS* m_pSource = nullptr;
    const COMPARECOUNTS* m_pTarget = nullptr;
    CString m_strHtml;
    int m_nRows = 0;
};
