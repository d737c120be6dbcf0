#include "dovrane/model/ProjectRunTime.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "common/TextUtils.h"
#include "dovrane/model/ZB_EXEC_SUMMARY_HTML.h"
#include "dovrane/model/ZB_STATUS_SUMMARY_HTML.h"
#include "dovrane/model/ZB_TODO_HTML.h"
#include "platform/base/TextConvert.h"
#include "platform/classlib/Time.h"

namespace {

const char16_t kSeparator[] = u"*?*";
const int kSeparatorLength = 3;

CString TimeText(int64_t time) {
    return FormatTimeRelative(CTime(static_cast<time_t>(time)), FTR_DATE | FTR_TIME);
}

int64_t ParseTime(const CString& text) {
    return static_cast<int64_t>(MakeUtcBase(text).GetTime());
}

int ParseInt(const CString& text) {
    std::string utf8 = zbw::ToUtf8(text);
    return static_cast<int>(std::strtol(utf8.c_str(), nullptr, 10));
}

}  // namespace

CProjectRunTime::CProjectRunTime()
    : m_todo(NoSyncCounts()), m_done(NoSyncCounts()), m_coms(NoCompareCounts()), m_comt(NoCompareCounts()) {}

CString CProjectRunTime::GetRecordText() const {
    CString text;
    text.Format(u"%s*?*%s*?*%d*?*%s", TimeText(m_tStart), m_strResult, m_nExitCode, TimeText(m_tEnd));
    return text;
}

// The time and number fields never hold the separator, so the result text is whatever lies
// between the first one and the last two: a result that contains "*?*" survives. With fewer
// than three separators only as many fields as separators are read.
void CProjectRunTime::SetFromRecordText(const CString& text) {
    std::vector<int> at;
    for (int pos = text.Find(kSeparator); pos >= 0; pos = text.Find(kSeparator, pos + kSeparatorLength))
        at.push_back(pos);
    int count = static_cast<int>(at.size());
    if (count == 0) return;
    m_tStart = ParseTime(text.Left(at[0]));
    if (count == 1) return;
    int resultEnd = count >= 3 ? at[count - 2] : at[1];
    m_strResult = text.Mid(at[0] + kSeparatorLength, resultEnd - at[0] - kSeparatorLength);
    if (count == 2) return;
    int last = at[count - 1];
    m_nExitCode = ParseInt(text.Mid(resultEnd + kSeparatorLength, last - resultEnd - kSeparatorLength));
    m_tEnd = ParseTime(text.Mid(last + kSeparatorLength));
}

CString CProjectRunTime::GetRunText() const {
    const int64_t seconds = m_tEnd > m_tStart ? m_tEnd - m_tStart : 0;
    return FormatTimeRelative(CTime(static_cast<time_t>(m_tStart)), FTR_DATE | FTR_TIME | FTR_RELATIVE) +
           u" until " + FormatTimeRelative(CTime(static_cast<time_t>(m_tEnd)), FTR_TIME) + u" (" +
           FormatDuration(static_cast<UINT>(seconds)) + u") - " + m_strResult;
}

const CString& CProjectRunTime::GetRunPreview() const {
    if (!m_strRunPreview) m_strRunPreview = HasRunPreviewData() ? CZB_TODO_HTML().Build(m_todo) : CString();
    return *m_strRunPreview;
}

const CString& CProjectRunTime::GetRunSummary() const {
    if (!m_strRunSummary)
        m_strRunSummary = HasRunSummaryData() ? CZB_EXEC_SUMMARY_HTML().Build(m_done) : CString();
    return *m_strRunSummary;
}

const CString& CProjectRunTime::GetFinalStatus() const {
    if (!m_strFinalStatus)
        m_strFinalStatus = HasFinalStatusData() ? CZB_STATUS_SUMMARY_HTML().Build(m_comt, m_coms) : CString();
    return *m_strFinalStatus;
}
