// CProjectRunTime: the record of one finished run of a profile: start and end (seconds since
// 1970), the result text and exit code, the synchronisation program's log identifier and
// last-error text, the four count records exactly as that program wrote them, and the three HTML
// texts of the counts. A plain value: copies take every field, the records byte for byte. No
// locks; the owner of the history list serialises access (the HTML getters fill the record's
// cache, so they count as writes).
//
// The HTML texts are built when first asked for, from the counts as they are then, and kept
// with the record (empty for counts that carry the no-data marker): a loaded history holds only
// the counts until a page or an answer shows it.
//
// The record text is what the history database keeps under the record key: start time, result
// text, exit code and end time joined by "*?*", the times in the locale's date-and-time form.
#pragma once

#include <cstdint>
#include <optional>

#include "common/SyncCounts.h"
#include "platform/base/CString.h"

class CProjectRunTime {
   public:
    CProjectRunTime();

    // "<start>*?*<result>*?*<exit code>*?*<end>".
    CString GetRecordText() const;
    // What the run-item texts show of the run: "<start, with the day> until <end time>
    // (<duration>) - <result>", in the user's locale.
    CString GetRunText() const;
    // Reads the fields a record text holds (as many as it has separators, all four from three on);
    // fields it lacks keep their values. A time that does
    // not parse becomes local 1971-01-01 01:01:01, an exit code that is not a number 0.
    void SetFromRecordText(const CString& text);

    bool HasRunPreviewData() const { return m_todo.nResult != -1; }
    bool HasRunSummaryData() const { return m_done.nResult != -1; }
    bool HasFinalStatusData() const { return m_coms.nAvailable != -1 && m_comt.nAvailable != -1; }

    const CString& GetRunPreview() const;
    const CString& GetRunSummary() const;
    const CString& GetFinalStatus() const;
    const CString& GetLogID() const { return m_strLogID; }
    const CString& GetLastError() const { return m_strLastError; }

    int64_t m_tStart = 0;
    int64_t m_tEnd = 0;
    CString m_strResult;
    int m_nExitCode = 0;
    CString m_strLogID;
    CString m_strLastError;
    SYNCCOUNTS m_todo;
    SYNCCOUNTS m_done;
    COMPARECOUNTS m_coms;
    COMPARECOUNTS m_comt;

   private:
    mutable std::optional<CString> m_strRunPreview;
    mutable std::optional<CString> m_strRunSummary;
    mutable std::optional<CString> m_strFinalStatus;
};
