// Run records and profiles to run after: fields, record texts, lists; fakes a temporary emulation root.
#include <gtest/gtest.h>

#include <cstring>

#include "common/TextUtils.h"
#include "dovrane/model/ProfileToRunInfo.h"
#include "dovrane/model/ProjectRunTime.h"
#include "platform/base/TextConvert.h"
#include "platform/classlib/InvalidArgException.h"
#include "platform/classlib/Time.h"
#include "tests/support/TestRoot.h"

namespace {

class RunRecordTest : public ::testing::Test {
   protected:
    void SetUp() override { root.UseTimeZone("UTC"); }
    CTestRoot root;
};

TEST_F(RunRecordTest, NewRecordHasNoDataMarkers) {
    CProjectRunTime run;
    EXPECT_EQ(run.m_tStart, 0);
    EXPECT_EQ(run.m_tEnd, 0);
    EXPECT_EQ(run.m_nExitCode, 0);
    EXPECT_TRUE(run.m_strResult.IsEmpty());
    EXPECT_EQ(run.m_todo.nResult, -1);
    EXPECT_EQ(run.m_done.nResult, -1);
    EXPECT_EQ(run.m_coms.nAvailable, -1);
    EXPECT_EQ(run.m_comt.nAvailable, -1);
    EXPECT_FALSE(run.HasRunPreviewData() || run.HasRunSummaryData() || run.HasFinalStatusData());
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&run.m_done);
    for (size_t i = 4; i < sizeof(run.m_done); ++i) ASSERT_EQ(bytes[i], 0) << i;
}

TEST_F(RunRecordTest, CopiesTakeEveryField) {
    CProjectRunTime run;
    run.m_strLogID = u"42";
    std::memset(&run.m_coms, 0x7E, sizeof(run.m_coms));
    CProjectRunTime copy(run);
    CProjectRunTime assigned;
    assigned = run;
    for (const CProjectRunTime* c : {&copy, &assigned}) {
        EXPECT_EQ(c->m_strLogID, CString(u"42"));
        EXPECT_EQ(std::memcmp(&c->m_coms, &run.m_coms, sizeof(run.m_coms)), 0);
    }
}

TEST_F(RunRecordTest, RecordTextRoundTrips) {
    CProjectRunTime run;
    run.m_tStart = CTime(2026, 3, 4, 5, 6, 0).GetTime();
    run.m_tEnd = CTime(2026, 3, 4, 6, 7, 0).GetTime();
    run.m_strResult = u"After a*?*b - Successful.";
    run.m_nExitCode = -15;
    CString text = run.GetRecordText();
    CString expected = FormatTimeRelative(CTime(run.m_tStart), FTR_DATE | FTR_TIME) +
                       u"*?*After a*?*b - Successful.*?*-15*?*" +
                       FormatTimeRelative(CTime(run.m_tEnd), FTR_DATE | FTR_TIME);
    EXPECT_EQ(text, expected);

    CProjectRunTime back;
    back.SetFromRecordText(text);
    EXPECT_EQ(back.m_tStart, run.m_tStart);
    EXPECT_EQ(back.m_tEnd, run.m_tEnd);
    EXPECT_EQ(back.m_strResult, run.m_strResult) << "a separator inside the result text survives";
    EXPECT_EQ(back.m_nExitCode, -15);
}

TEST_F(RunRecordTest, ShortOrBadRecordTextsKeepDefaults) {
    const int64_t fallback = CTime(1971, 1, 1, 1, 1, 1).GetTime();
    struct {
        const char16_t* text;
        int64_t start;
        const char16_t* result;
        int exitCode;
        int64_t end;
    } cases[] = {
        {u"no separators", 0, u"", 0, 0},
        {u"bad*?*result", fallback, u"", 0, 0},
        {u"bad*?*result*?*3", fallback, u"result", 0, 0},
        {u"bad*?*result*?*x3*?*bad", fallback, u"result", 0, fallback},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.text));
        CProjectRunTime run;
        run.SetFromRecordText(c.text);
        EXPECT_EQ(run.m_tStart, c.start);
        EXPECT_EQ(run.m_strResult, CString(c.result));
        EXPECT_EQ(run.m_nExitCode, c.exitCode);
        EXPECT_EQ(run.m_tEnd, c.end);
    }
}

TEST(RunListTest, EntriesKeepListOrder) {
    CProfileRunList list;
    for (const char16_t* name : {u"zeta", u"Alpha", u"mid"}) AddProfileToRunList(list, name);
    ASSERT_EQ(list.GetSize(), 3);
    EXPECT_EQ(list[0].m_strName, CString(u"zeta"));
    EXPECT_EQ(list[2].m_strName, CString(u"mid"));
    EXPECT_EQ(list[1].m_nAddedAsProfileAfter, 0);
    EXPECT_EQ(list[1].m_nExitCode, -1);
    EXPECT_EQ(list.GetCurrentIndex(), -1);

    InsertProfileAt(list, 1, u"after");
    EXPECT_EQ(list[1].m_strName, CString(u"after"));
    EXPECT_EQ(list[2].m_strName, CString(u"Alpha"));
    InsertProfileAt(list, 6, u"far");
    ASSERT_EQ(list.GetSize(), 7);
    EXPECT_TRUE(list[4].m_strName.IsEmpty());
    EXPECT_EQ(list[4].m_nExitCode, -1);
    EXPECT_EQ(list[6].m_strName, CString(u"far"));
}

TEST(RunListTest, FindAndNeighbours) {
    CProfileRunList list;
    for (const char16_t* name : {u"A", u"B", u"a", u"C"}) AddProfileToRunList(list, name);
    EXPECT_EQ(FindProfileAfter(list, 0, u"a"), 2) << "behind the position, without regard to case";
    EXPECT_EQ(FindProfileAfter(list, -1, u"a"), 0);
    EXPECT_EQ(FindProfileAfter(list, 2, u"A"), -1);

    struct {
        int current;
        const char16_t* previous;
    } cases[] = {{-1, u""}, {0, u""}, {1, u"A"}, {3, u"a"}, {4, u""}};
    for (const auto& c : cases) {
        list.SetCurrentIndex(c.current);
        EXPECT_EQ(GetPreviousName(list), CString(c.previous)) << c.current;
    }
    list.SetCurrentIndex(3);
    EXPECT_EQ(GetCurrentEntry(list).m_strName, CString(u"C"));
    EXPECT_EQ(GetPreviousEntry(list).m_strName, CString(u"a"));
    list.SetCurrentIndex(9);
    EXPECT_THROW(GetCurrentEntry(list), CInvalidArgException);

    CProfileRunList copy(list);
    EXPECT_EQ(copy.GetCurrentIndex(), 9);
    EXPECT_EQ(copy.GetSize(), 4);
}

TEST(RunListTest, EqualityNeedsNameAndNumbers) {
    CPROFILETORUNINFO a(u"X"), b(u"X");
    EXPECT_TRUE(a == b);
    b.m_nAddedAsProfileAfter = 1;
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(CPROFILETORUNINFO(u"B") < CPROFILETORUNINFO(u"a")) << "ordinal order";
}

}  // namespace
