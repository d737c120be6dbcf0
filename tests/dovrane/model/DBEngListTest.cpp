// Run histories saved to and loaded from the run-history database, and their HTML; fakes a temporary
// emulation root.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

#include "dovrane/model/DBEngList.h"
#include "dovrane/model/EngineDB.h"
#include "dovrane/model/ZB_EXEC_SUMMARY_HTML.h"
#include "dovrane/model/ZB_STATUS_SUMMARY_HTML.h"
#include "dovrane/model/ZB_TODO_HTML.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "tests/support/TestRoot.h"

namespace {

class DBEngListTest : public ::testing::Test {
   protected:
    void SetUp() override {
        root.UseTimeZone("UTC");
        hostPath = root.Path("ZBEngine.db");
        g_EngineDB.SetDBFilePath(zbw::ToWindowsPath(hostPath));
        ASSERT_TRUE(g_EngineDB.OpenDBFile());
    }
    void TearDown() override { g_EngineDB.CloseDBFile(); }

    // A run numbered n: distinct times, texts and count bytes.
    static CProjectRunTime Run(int n, int exitCode = 0) {
        CProjectRunTime run;
        run.m_tStart = 1700000000 + n * 3600;
        run.m_tEnd = run.m_tStart + 120;
        run.m_strResult.Format(u"Run %d - it's *?[done]", n);
        run.m_nExitCode = exitCode;
        run.m_strLogID.Format(u"%d", 1000 + n);
        run.m_strLastError = u"Gr\u00fc\u00dfe 'x'";
        std::memset(&run.m_done, n, sizeof(run.m_done));
        run.m_todo.nResult = n;
        run.m_coms.nAvailable = n;
        run.m_coms.nFiles = 7;
        return run;
    }
    static std::vector<CProjectRunTime> Records(CDBEngList& list) {
        std::vector<CProjectRunTime> records;
        for (POSITION pos = list.GetHeadPosition(); pos;) records.push_back(list.GetNext(pos));
        return records;
    }
    CString Stored(LPCWSTR key) {
        EXPECT_TRUE(g_EngineDB.BeginDBTransaction());
        CString value = g_EngineDB.ReadDBValue(key);
        EXPECT_TRUE(g_EngineDB.CommitDBTransaction());
        return value;
    }
    void Exec(const char* sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(hostPath.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }

    CTestRoot root;
    std::string hostPath;
};

TEST_F(DBEngListTest, NoHistoryLoadsEmpty) {
    CDBEngList list;
    list.AddTailEntry(Run(1));
    EXPECT_TRUE(list.SetKeyAndLoad(u"Never run"));
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetKey(), CString(u"Never run"));
}

TEST_F(DBEngListTest, SaveAndLoadKeepEveryField) {
    const CString key = u"My 'odd' [profile]*?";
    CDBEngList saved(key);
    for (int n = 0; n < 5; ++n) saved.AddTailEntry(Run(n, n % 2));
    CProjectRunTime fresh;
    saved.AddTailEntry(fresh);
    ASSERT_TRUE(saved.SaveToDB());
    EXPECT_EQ(Stored(key + u">Counter"), CString(u"6"));
    EXPECT_EQ(Stored(key + u">3>ID"), CString(u"1003"));

    CDBEngList loaded;
    ASSERT_TRUE(loaded.SetKeyAndLoad(key));
    std::vector<CProjectRunTime> a = Records(saved), b = Records(loaded);
    ASSERT_EQ(b.size(), 6u);
    for (size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(b[i].m_tStart, a[i].m_tStart);
        EXPECT_EQ(b[i].m_tEnd, a[i].m_tEnd);
        EXPECT_EQ(b[i].m_strResult, a[i].m_strResult);
        EXPECT_EQ(b[i].m_nExitCode, a[i].m_nExitCode);
        EXPECT_EQ(b[i].m_strLogID, a[i].m_strLogID);
        EXPECT_EQ(b[i].m_strLastError, a[i].m_strLastError);
        EXPECT_EQ(std::memcmp(&b[i].m_todo, &a[i].m_todo, sizeof(SYNCCOUNTS)), 0);
        EXPECT_EQ(std::memcmp(&b[i].m_done, &a[i].m_done, sizeof(SYNCCOUNTS)), 0);
        EXPECT_EQ(std::memcmp(&b[i].m_coms, &a[i].m_coms, sizeof(COMPARECOUNTS)), 0);
        EXPECT_EQ(std::memcmp(&b[i].m_comt, &a[i].m_comt, sizeof(COMPARECOUNTS)), 0);
    }
    EXPECT_EQ(b[5].m_todo.nResult, -1) << "the no-data markers survive";
    EXPECT_EQ(b[5].m_comt.nAvailable, -1);
}

TEST_F(DBEngListTest, ShorterSaveLeavesOldKeysButLoadsTheCount) {
    CDBEngList list(u"P");
    for (int n = 0; n < 5; ++n) list.AddTailEntry(Run(n));
    ASSERT_TRUE(list.SaveToDB());
    list.RemoveTail();
    list.RemoveTail();
    ASSERT_TRUE(list.SaveToDB());
    EXPECT_FALSE(Stored(u"P>4").IsEmpty());
    ASSERT_TRUE(list.LoadFromDB());
    EXPECT_EQ(list.GetCount(), 3);
}

TEST_F(DBEngListTest, FailedWriteKeepsTheStoredHistory) {
    CDBEngList list(u"P");
    list.AddTailEntry(Run(1));
    ASSERT_TRUE(list.SaveToDB());
    Exec(
        "CREATE TRIGGER refuse BEFORE INSERT ON main WHEN NEW.key = 'P>1>LERR' "
        "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    list.AddHeadEntry(Run(2));
    EXPECT_FALSE(list.SaveToDB()) << "a save with a failed write is not reported as saved";
    EXPECT_EQ(Stored(u"P>Counter"), CString(u"1")) << "the half-written save was undone";
    ASSERT_TRUE(list.LoadFromDB());
    ASSERT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.GetHead().m_strLogID, CString(u"1001"));
    EXPECT_TRUE(g_EngineDB.IsDBOpen()) << "a failed write does not close the database";
}

TEST_F(DBEngListTest, ClosedDatabaseSavesNothing) {
    CDBEngList list(u"P");
    list.AddTailEntry(Run(1));
    g_EngineDB.CloseDBFile();
    EXPECT_FALSE(list.SaveToDB());
    EXPECT_FALSE(list.LoadFromDB());
    EXPECT_EQ(list.GetCount(), 0);
}

TEST_F(DBEngListTest, EnteringBuildsHtmlOnlyFromPresentCounts) {
    CDBEngList list(u"P");
    CProjectRunTime full = Run(3);
    full.m_comt.nAvailable = 0;
    list.AddHeadEntry(full);
    list.AddTailEntry(Run(4));  // COMT keeps its marker
    list.AddTailEntry(CProjectRunTime());
    std::vector<CProjectRunTime> r = Records(list);
    EXPECT_EQ(r[0].GetRunPreview(), CZB_TODO_HTML().Build(full.m_todo));
    EXPECT_EQ(r[0].GetRunSummary(), CZB_EXEC_SUMMARY_HTML().Build(full.m_done));
    EXPECT_EQ(r[0].GetFinalStatus(), CZB_STATUS_SUMMARY_HTML().Build(full.m_comt, full.m_coms));
    EXPECT_FALSE(r[0].GetRunPreview().IsEmpty() || r[0].GetRunSummary().IsEmpty() ||
                 r[0].GetFinalStatus().IsEmpty());
    EXPECT_FALSE(r[1].GetRunPreview().IsEmpty());
    EXPECT_TRUE(r[1].GetFinalStatus().IsEmpty());
    EXPECT_TRUE(r[2].GetRunPreview().IsEmpty());
    EXPECT_TRUE(r[2].GetRunSummary().IsEmpty());
    EXPECT_TRUE(r[2].GetFinalStatus().IsEmpty());
}

// A history is read as the keys under "P>": those of profiles whose names go on after "P>", and
// runs beyond the saved count, are not its records; a name too long for that is read key by key.
TEST_F(DBEngListTest, HistoriesOfProfilesNamedAlikeStayApart) {
    const CString longName(u'n', 1005);
    const struct {
        CString key;
        int runs;
    } histories[] = {{u"P", 2}, {u"P>1", 3}, {u"P>x", 1}, {u"P1", 4}, {longName, 2}};
    for (const auto& h : histories) {
        CDBEngList list(h.key);
        for (int n = 0; n < h.runs; ++n) list.AddTailEntry(Run(10 * h.runs + n));
        ASSERT_TRUE(list.SaveToDB());
    }
    CDBEngList shorter(u"P1");
    shorter.AddTailEntry(Run(99));
    ASSERT_TRUE(shorter.SaveToDB());  // leaves P1>1 ... P1>3 behind
    for (const auto& h : histories) {
        SCOPED_TRACE(zbw::ToUtf8(h.key.Left(8)));
        CDBEngList loaded;
        ASSERT_TRUE(loaded.SetKeyAndLoad(h.key));
        std::vector<int> ids;
        for (const CProjectRunTime& r : Records(loaded)) ids.push_back(r.m_todo.nResult);
        std::vector<int> expected;
        if (h.key == u"P1") {
            expected = {99};
        } else {
            for (int n = 0; n < h.runs; ++n) expected.push_back(10 * h.runs + n);
        }
        EXPECT_EQ(ids, expected);
        EXPECT_EQ(Records(loaded).front().m_strLogID, Run(expected.front()).m_strLogID);
    }
}

// A loaded history holds the counts; each text is the one the counts give, built once.
TEST_F(DBEngListTest, LoadedRecordsBuildTheirHtmlOnceWhenAsked) {
    CDBEngList saved(u"P");
    CProjectRunTime full = Run(3);
    full.m_comt.nAvailable = 0;
    saved.AddTailEntry(full);
    saved.AddTailEntry(CProjectRunTime());
    ASSERT_TRUE(saved.SaveToDB());
    CDBEngList loaded;
    ASSERT_TRUE(loaded.SetKeyAndLoad(u"P"));
    ASSERT_EQ(loaded.GetCount(), 2);
    const CProjectRunTime& first = loaded.GetHead();
    const CString& preview = first.GetRunPreview();
    EXPECT_EQ(preview, CZB_TODO_HTML().Build(full.m_todo));
    EXPECT_EQ(first.GetRunSummary(), CZB_EXEC_SUMMARY_HTML().Build(full.m_done));
    EXPECT_EQ(first.GetFinalStatus(), CZB_STATUS_SUMMARY_HTML().Build(full.m_comt, full.m_coms));
    EXPECT_EQ(&first.GetRunPreview(), &preview) << "kept with the record";
    CProjectRunTime copy = first;
    EXPECT_EQ(copy.GetRunPreview(), preview);
    EXPECT_TRUE(loaded.GetTail().GetRunPreview().IsEmpty());
    EXPECT_TRUE(loaded.GetTail().GetFinalStatus().IsEmpty());
}

// Exit codes of the runs, oldest first, each added at the head and trimmed.
struct TrimCase {
    const char* name;
    std::vector<int> runs;
    std::vector<int> expectedIds;  // head to tail
};

std::vector<int> Range(int from, int to) {  // from down to to
    std::vector<int> ids;
    for (int i = from; i >= to; --i) ids.push_back(i);
    return ids;
}

TEST_F(DBEngListTest, HistoryKeepsFifteenRunsAndOneOlderSuccess) {
    std::vector<int> oneOkThenTwentyFailures(1, 0);
    oneOkThenTwentyFailures.resize(21, 2);
    std::vector<int> twentyOk(20, 0);
    std::vector<int> twentyFailures(20, 2);
    std::vector<int> okThenFifteenFailures(1, 0);
    okThenFifteenFailures.resize(16, 2);
    std::vector<int> failuresThenOk = okThenFifteenFailures;
    failuresThenOk.push_back(0);

    std::vector<int> tailKept = Range(20, 6);
    tailKept.push_back(0);
    std::vector<int> sixteen = Range(15, 0);
    std::vector<TrimCase> cases = {
        {"20 successes", twentyOk, Range(19, 5)},
        {"20 failures", twentyFailures, Range(19, 5)},
        {"1 success then 20 failures", oneOkThenTwentyFailures, tailKept},
        {"1 success then 15 failures", okThenFifteenFailures, sixteen},
        {"then a success", failuresThenOk, Range(16, 2)},
    };
    for (const TrimCase& c : cases) {
        SCOPED_TRACE(c.name);
        CDBEngList list(u"P");
        for (size_t id = 0; id < c.runs.size(); ++id) {
            CProjectRunTime run = Run(static_cast<int>(id), c.runs[id]);
            list.AddHeadEntry(run);
            list.TrimAfterRun(run.m_nExitCode);
        }
        std::vector<int> ids;
        for (const CProjectRunTime& r : Records(list)) ids.push_back(r.m_todo.nResult);
        EXPECT_EQ(ids, c.expectedIds);
    }
}

}  // namespace
