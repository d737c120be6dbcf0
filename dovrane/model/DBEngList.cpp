#include "dovrane/model/DBEngList.h"

#include "dovrane/model/EngineDB.h"
#include "dovrane/model/ZB_EXEC_SUMMARY_HTML.h"
#include "dovrane/model/ZB_STATUS_SUMMARY_HTML.h"
#include "dovrane/model/ZB_TODO_HTML.h"

CDBEngList::CDBEngList(LPCWSTR key) : m_strKey(key) {}

bool CDBEngList::SetKeyAndLoad(LPCWSTR key) {
    m_strKey = key;
    return LoadFromDB();
}

// "P>Counter" for index -1, else "P>i" followed by suffix.
CString CDBEngList::Key(int index, LPCWSTR suffix) const {
    CString key;
    if (index < 0) {
        key.Format(u"%s>Counter", m_strKey);
    } else {
        key.Format(u"%s>%d%s", m_strKey, index, suffix);
    }
    return key;
}

CProjectRunTime CDBEngList::LoadRecord(int index) {
    CProjectRunTime record;
    record.SetFromRecordText(g_EngineDB.ReadDBValue(Key(index, u"")));
    record.m_strLogID = g_EngineDB.ReadDBValue(Key(index, u">ID"));
    record.m_strLastError = g_EngineDB.ReadDBValue(Key(index, u">LERR"));
    g_EngineDB.ReadDBBinary(Key(index, u">TODO"), &record.m_todo, sizeof(record.m_todo));
    g_EngineDB.ReadDBBinary(Key(index, u">DONE"), &record.m_done, sizeof(record.m_done));
    g_EngineDB.ReadDBBinary(Key(index, u">COMS"), &record.m_coms, sizeof(record.m_coms));
    g_EngineDB.ReadDBBinary(Key(index, u">COMT"), &record.m_comt, sizeof(record.m_comt));
    return record;
}

bool CDBEngList::LoadFromDB() {
    RemoveAll();
    bool begun = g_EngineDB.BeginDBTransaction();
    int count = g_EngineDB.ReadDBValueInt(Key(-1, u""));
    for (int i = 0; i < count; ++i) AddTailEntry(LoadRecord(i));
    return g_EngineDB.CommitDBTransaction() && begun;
}

bool CDBEngList::SaveRecord(int index, const CProjectRunTime& record) {
    return g_EngineDB.WriteDBValue(Key(index, u""), record.GetRecordText()) &&
           g_EngineDB.WriteDBValue(Key(index, u">ID"), record.m_strLogID) &&
           g_EngineDB.WriteDBValue(Key(index, u">LERR"), record.m_strLastError) &&
           g_EngineDB.WriteDBBinary(Key(index, u">TODO"), &record.m_todo, sizeof(record.m_todo)) &&
           g_EngineDB.WriteDBBinary(Key(index, u">DONE"), &record.m_done, sizeof(record.m_done)) &&
           g_EngineDB.WriteDBBinary(Key(index, u">COMS"), &record.m_coms, sizeof(record.m_coms)) &&
           g_EngineDB.WriteDBBinary(Key(index, u">COMT"), &record.m_comt, sizeof(record.m_comt));
}

bool CDBEngList::SaveToDB() {
    if (!g_EngineDB.BeginDBTransaction()) return false;
    bool written = g_EngineDB.WriteDBValueInt(Key(-1, u""), static_cast<int>(GetCount()));
    int index = 0;
    for (POSITION pos = GetHeadPosition(); pos && written; ++index) written = SaveRecord(index, GetNext(pos));
    if (!written) {
        g_EngineDB.RollbackDBTransaction();
        return false;
    }
    return g_EngineDB.CommitDBTransaction();
}

void CDBEngList::BuildHtml(CProjectRunTime& record) {
    record.m_strRunPreview = record.HasRunPreviewData() ? CZB_TODO_HTML().Build(record.m_todo) : CString();
    record.m_strRunSummary =
        record.HasRunSummaryData() ? CZB_EXEC_SUMMARY_HTML().Build(record.m_done) : CString();
    record.m_strFinalStatus = record.HasFinalStatusData()
                                  ? CZB_STATUS_SUMMARY_HTML().Build(record.m_comt, record.m_coms)
                                  : CString();
}

void CDBEngList::AddHeadEntry(CProjectRunTime record) {
    BuildHtml(record);
    AddHead(record);
}

void CDBEngList::AddTailEntry(CProjectRunTime record) {
    BuildHtml(record);
    AddTail(record);
}

void CDBEngList::TrimAfterRun(int exitCode) {
    if (exitCode != 0 && GetCount() == kKeptRuns + 1) {
        if (GetTail().m_nExitCode != 0) RemoveTail();
    } else if (exitCode != 0 && GetCount() == kKeptRuns + 2) {
        CProjectRunTime last = RemoveTail();
        CProjectRunTime secondLast = RemoveTail();
        AddTail(secondLast.m_nExitCode == 0 ? secondLast : last);
    } else {
        while (GetCount() > kKeptRuns) RemoveTail();
    }
}
