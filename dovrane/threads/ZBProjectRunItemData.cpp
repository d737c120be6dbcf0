#include "dovrane/threads/ZBProjectRunItemData.h"

#include "common/TextUtils.h"
#include "dovrane/model/EngineDB.h"
#include "dovrane/threads/ZBProjectRunItem.h"

void CZBProjectRunItemData::Update(CZBProjectRunItem& item) {
    m_launchItem = item.GetLaunchItem();
    m_strStatusHtml = item.GetStatusHtml();
    m_strLastOkRun = item.GetLastOkRunText();
    m_strLastRunHtml = item.GetLastRunHtml();
    m_strLogFilePath = item.GetHtmlText();
    m_strDetails = item.GetDetailsText();
    m_strProgressHtml = item.GetProgressHtml();
    for (int index = 0; index < kNextRuns; ++index)
        m_strNextRuns[index] = item.GetNextRunDisplayText(index, g_DateNone);
    m_strSettingsText = item.GetSettingsText();
    m_strSource = item.GetSourceText();
    m_strTarget = item.GetTargetText();
    m_strExecutionMethod = item.GetExecutionMethodText();
    m_strSettingsHtml = item.GetHtmlSummary();
    m_strProfileName = item.GetName();
    m_nRunState = item.GetState();
    item.GetLastRun(m_tLastRun, m_bLastRunFailed);
}

CString CZBProjectRunItemData::GetStartTimeText() const {
    COleDateTime start = m_launchItem.m_schedule.dtStart;
    if (start == g_DateNone) {
        start = COleDateTime::GetCurrentTime();
        TruncateToMinute(start);
    }
    return FormatDateTimeShort(start);
}

CString CZBProjectRunItemData::GetDBFilePath() {
    return g_EngineDB.GetDBFilePath();
}
