#include "dovrane/model/DBEngList.h"

#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "dovrane/model/EngineDB.h"
#include "platform/base/TextConvert.h"

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

namespace {

enum class FIELD { Text, LogId, LastError, Todo, Done, Coms, Comt };

const struct {
    std::string_view suffix;
    FIELD field;
} kFields[] = {{"", FIELD::Text},      {">ID", FIELD::LogId},  {">LERR", FIELD::LastError},
               {">TODO", FIELD::Todo}, {">DONE", FIELD::Done}, {">COMS", FIELD::Coms},
               {">COMT", FIELD::Comt}};

// A record key after the history's "P>": the index as the saving wrote it (decimal, no leading
// zero) and a known suffix. Other keys (of a profile whose name goes on after ours) are no match.
bool ParseRecordKey(std::string_view rest, int& index, FIELD& field) {
    size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == 0 || digits > 9 || (digits > 1 && rest[0] == '0')) return false;
    index = 0;
    for (size_t i = 0; i < digits; ++i) index = index * 10 + (rest[i] - '0');
    for (const auto& known : kFields) {
        if (rest.substr(digits) == known.suffix) {
            field = known.field;
            return true;
        }
    }
    return false;
}

// value as stored (UTF-8).
void SetField(CProjectRunTime& record, FIELD field, const std::string& value) {
    switch (field) {
        case FIELD::Text: record.SetFromRecordText(zbw::FromUtf8(value)); break;
        case FIELD::LogId: record.m_strLogID = zbw::FromUtf8(value); break;
        case FIELD::LastError: record.m_strLastError = zbw::FromUtf8(value); break;
        case FIELD::Todo: CEngineDB::DecodeDBBinary(value, &record.m_todo, sizeof(record.m_todo)); break;
        case FIELD::Done: CEngineDB::DecodeDBBinary(value, &record.m_done, sizeof(record.m_done)); break;
        case FIELD::Coms: CEngineDB::DecodeDBBinary(value, &record.m_coms, sizeof(record.m_coms)); break;
        case FIELD::Comt: CEngineDB::DecodeDBBinary(value, &record.m_comt, sizeof(record.m_comt)); break;
    }
}

int ParseCount(const std::string& utf8) {
    return static_cast<int>(std::strtol(utf8.c_str(), nullptr, 10));
}

}  // namespace

CProjectRunTime CDBEngList::LoadRecord(int index) {
    CProjectRunTime record;
    for (const auto& known : kFields) {
        const CString key = Key(index, zbw::FromUtf8(std::string(known.suffix)));
        SetField(record, known.field, zbw::ToUtf8(g_EngineDB.ReadDBValue(key)));
    }
    return record;
}

// The whole history in one read of the keys under "P>".
void CDBEngList::LoadAllRecords() {
    std::map<int, CProjectRunTime> stored;
    int count = 0;
    for (const auto& [rest, value] : g_EngineDB.ReadDBValuesUnder(m_strKey + u">")) {
        int index = 0;
        FIELD field = FIELD::Text;
        if (rest == "Counter")
            count = ParseCount(value);
        else if (ParseRecordKey(rest, index, field))
            SetField(stored[index], field, value);
    }
    for (int i = 0; i < count; ++i) {
        auto found = stored.find(i);
        AddTailEntry(found != stored.end() ? found->second : CProjectRunTime());
    }
}

bool CDBEngList::LoadFromDB() {
    RemoveAll();
    if (!g_EngineDB.BeginDBTransaction()) return false;
    // Keys cut by the table would no longer tell the records apart: read them one by one.
    const int kLongestSuffixUnits = 16;  // ">" + index + ">LERR", or ">Counter"
    if (m_strKey.GetLength() + kLongestSuffixUnits <= CEngineDB::kMaxKeyUnits) {
        LoadAllRecords();
    } else {
        int count = g_EngineDB.ReadDBValueInt(Key(-1, u""));
        for (int i = 0; i < count; ++i) AddTailEntry(LoadRecord(i));
    }
    return g_EngineDB.CommitDBTransaction();
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

void CDBEngList::AddHeadEntry(CProjectRunTime record) {
    AddHead(record);
}

void CDBEngList::AddTailEntry(CProjectRunTime record) {
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
