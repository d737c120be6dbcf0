// The run-item list running profiles with the stand-in synchronisation program: a scheduled
// minute, a chained profile, the start-up runs, the records and texts of idle, running,
// erroneous and disabled items, and SET on items in every state. The wall clock is pinned in
// Berlin and moved on by hand; the item windows live on the test thread, which serves them.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "dovrane/EngineGlobals.h"
#include "dovrane/RunItemList.h"
#include "dovrane/model/DBEngList.h"
#include "dovrane/model/EngineDB.h"
#include "dovrane/threads/RunItemMessages.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/classlib/WinApp.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinUser.h"
#include "tests/dovrane/EngineLogLines.h"
#include "tests/dovrane/ScheduleTestEnv.h"

namespace {

const char16_t kDeclaration[] = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n";
const int kBoundMs = 20000;

std::string Utf16Le(const CString& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t ch : text.GetStdString()) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

// The eight fields of a record.
std::vector<std::string> Fields(const CString& record) {
    std::vector<std::string> fields;
    int pos = 0;
    for (;;) {
        int next = record.Find(CRunItemList::kRecordSeparator, pos);
        if (next < 0) {
            fields.push_back(zbw::ToUtf8(record.Mid(pos)));
            return fields;
        }
        fields.push_back(zbw::ToUtf8(record.Mid(pos, next - pos)));
        pos = next + 1;
    }
}

class RunItemListRunTest : public zbtest::CScheduleTest {
   protected:
    void SetUp() override {
        CScheduleTest::SetUp();
        m_app.SetRegistryKey(u"ZBEngine");
        g_EngineDB.SetDBFilePath(PathOf("engine.db"));
        ASSERT_TRUE(g_EngineDB.OpenDBFile());
        ASSERT_EQ(std::system(("mkdir -p '" + m_root.Path("src") + "' '" + m_root.Path("dst") + "'").c_str()),
                  0);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"software\\Zebrodyne Pro 2\\Zebrodyne Pro", 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const CString program = zbw::ToWindowsPath(BinDir() + "/zbsync");
        RegSetValueExW(key, u"path", 0, REG_SZ, reinterpret_cast<const BYTE*>(LPCWSTR(program)),
                       static_cast<DWORD>((program.GetLength() + 1) * sizeof(char16_t)));
        RegCloseKey(key);
    }
    void TearDown() override {
        m_list.StopCategory(u"");
        PumpFor(200);
        m_list.RemoveAllRunItems();
        PumpFor(100);
        g_EngineDB.CloseDBFile();
    }

    CString PathOf(const std::string& name) const { return zbw::ToWindowsPath(m_root.Path(name)); }
    std::string Name(const std::string& name) const { return zbw::ToUtf8(PathOf(name)); }
    // A profile of the stand-in over the test's two folders.
    void WriteProfile(const std::string& name, const CString& standIn = u"Seconds=0\r\n",
                      const CString& method = u"1") const {
        const CString text = u"[Zebrodyne Profile - File Version 4.0.0]\r\n[Settings]\r\nSource Folder=" +
                             PathOf("src") + u"\r\nTarget Folder=" + PathOf("dst") +
                             u"\r\nExecution Method=" + method + u"\r\nLog File=" + PathOf(name + ".log") +
                             u"\r\n[StandIn]\r\n" + standIn;
        ASSERT_TRUE(WriteHostFile(m_root.Path(name), Utf16Le(text)));
    }
    CString Item(const std::string& name, const CString& children = u"") const {
        return u"<ITEM><PROFILE>" + PathOf(name) + u"</PROFILE>" + children + u"</ITEM>";
    }
    void Load(const CString& items) {
        ASSERT_TRUE(WriteHostFile(m_root.Path("settings.xml"),
                                  Utf16Le(CString(kDeclaration) + u"<SETTINGS>" + items + u"</SETTINGS>")));
        ASSERT_TRUE(m_list.LoadSettings(PathOf("settings.xml"), true));
        CString result;
        ASSERT_TRUE(m_list.LoadSettings(u"", false, &result)) << zbw::ToUtf8(result);
    }
    int State(const std::string& name) {
        std::vector<std::string> fields = Fields(m_list.GetProfileInfo(PathOf(name)));
        return fields.size() == 8 ? std::stoi(fields[1]) : -1;
    }
    int HistoryCount(const std::string& name) {
        CDBEngList history;
        history.SetKeyAndLoad(PathOf(name));
        return static_cast<int>(history.GetCount());
    }
    CProjectRunTime NewestRun(const std::string& name) {
        CDBEngList history;
        history.SetKeyAndLoad(PathOf(name));
        return history.IsEmpty() ? CProjectRunTime() : history.GetHead();
    }
    void PumpFor(int ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        MSG msg;
        do {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            Sleep(5);
        } while (std::chrono::steady_clock::now() < deadline);
    }
    // Serves the queue, moving the clock on by stepMs each round, until done holds.
    bool PumpUntil(const std::function<bool()>& done, int stepMs = 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
        MSG msg;
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            if (stepMs) zbw::AdvanceClock(stepMs);
            Sleep(10);
        }
        return done();
    }

    std::string LogText() const {
        std::string text;
        for (const std::string& line : m_log.Lines()) text += line + "\n";
        return text;
    }

    zbtest::CEngineLogLines m_log;
    CWinApp m_app{u"zbengine"};  // the items read their launch switch through its profile
    CRunItemList m_list;
};

TEST_F(RunItemListRunTest, AProfileDueEveryMinuteRunsAtItsMinuteAndLandsInTheHistory) {
    WriteProfile("a.fsf");
    Load(Item("a.fsf", u"<EVERYMINUTE/><STARTTIME>2024-03-05 10:00</STARTTIME>"));
    ASSERT_TRUE(PumpUntil([&] { return State("a.fsf") == RUNSTATE_ENABLED; })) << LogText();
    EXPECT_EQ(HistoryCount("a.fsf"), 0);
    ASSERT_TRUE(
        PumpUntil([&] { return HistoryCount("a.fsf") == 1 && State("a.fsf") == RUNSTATE_SUCCEEDED; }, 500));
    const CProjectRunTime run = NewestRun("a.fsf");
    EXPECT_EQ(run.m_nExitCode, 0);
    const int64_t dueMinute = UtcMicros(2024, 3, 5, 9, 8, 0) / 1000000;  // 10:08 in Berlin
    EXPECT_GE(run.m_tStart, dueMinute);
    EXPECT_LT(run.m_tStart, dueMinute + 60);
}

TEST_F(RunItemListRunTest, AChainedProfileStartsAfterItsPredecessor) {
    WriteProfile("a.fsf");
    WriteProfile("b.fsf");
    Load(Item("a.fsf", u"<PROFILEAFTER>" + PathOf("b.fsf") + u"</PROFILEAFTER>") + Item("b.fsf"));
    ASSERT_TRUE(
        PumpUntil([&] { return State("a.fsf") == RUNSTATE_ENABLED && State("b.fsf") == RUNSTATE_ENABLED; }));
    EXPECT_EQ(m_list.RunProfile(PathOf("a.fsf"), RUNREASON_MANUAL, nullptr), RUNPROFILE_STARTED);
    ASSERT_TRUE(PumpUntil([&] { return HistoryCount("b.fsf") == 1; }, 200));
    ASSERT_EQ(HistoryCount("a.fsf"), 1);
    EXPECT_LE(NewestRun("a.fsf").m_tEnd, NewestRun("b.fsf").m_tStart);
    EXPECT_EQ(zbw::ToUtf8(NewestRun("b.fsf").m_strResult).rfind("After ", 0), 0u)
        << zbw::ToUtf8(NewestRun("b.fsf").m_strResult);
}

// One record each for an idle, a disabled, an erroneous and a running item, in list order,
// fields and records joined by U+0001.
TEST_F(RunItemListRunTest, RecordsOfIdleDisabledErroneousAndRunningItems) {
    WriteProfile("idle.fsf");
    WriteProfile("off.fsf");
    WriteProfile("bad.fsf", u"", u"9");  // the execution method must be 1 to 7
    WriteProfile("run.fsf", u"Seconds=100\r\n");
    Load(Item("idle.fsf") + Item("off.fsf", u"<DISABLEDATSTARTUP/>") + Item("bad.fsf") + Item("run.fsf"));
    ASSERT_TRUE(PumpUntil([&] { return State("run.fsf") == RUNSTATE_ENABLED; }));
    ASSERT_EQ(m_list.RunProfile(PathOf("run.fsf"), RUNREASON_MANUAL, nullptr), RUNPROFILE_STARTED);
    // The stand-in's percentage grows with its real running time.
    std::string percent;
    ASSERT_TRUE(PumpUntil([&] {
        std::vector<std::string> fields = Fields(m_list.GetProfileInfo(PathOf("run.fsf")));
        percent = fields.size() == 8 ? fields[5] : "";
        return !percent.empty();
    }));
    EXPECT_EQ(m_list.RunProfile(PathOf("run.fsf"), RUNREASON_MANUAL, nullptr), RUNPROFILE_RUNNING);
    // name, state, status, settings, details, percentage, last run, next run
    const std::vector<std::vector<std::string>> records = {
        {Name("idle.fsf"), "1", "Enabled", "Run manually", "", "", "None", "Manual"},
        {Name("off.fsf"), "0", "Disabled", "Run manually", "", "", "None", "None"},
        {Name("bad.fsf"), "5", "Error", "Run manually",
         "No execution method specified in this Zebrodyne profile.", "", "None", "None"},
        {Name("run.fsf"), "4", "Running... Start Time 10:07:30 AM (0 sec) (Manual Run)", "Run manually",
         "Synchronizing: " + percent + "% (" + percent + "%)", percent, "None", "Manual"}};
    std::vector<std::string> joinedRecords;
    std::string joined;
    for (const std::vector<std::string>& record : records) {
        std::string text;
        for (const std::string& field : record) text += (text.empty() ? "" : "\x01") + field;
        joinedRecords.push_back(text);
        joined += (joined.empty() ? "" : "\x01") + text;
    }
    EXPECT_EQ(zbw::ToUtf8(m_list.GetAllProfilesInfo()), joined);
    EXPECT_EQ(zbw::ToUtf8(m_list.GetProfileInfo(PathOf("OFF.FSF"))), joinedRecords[1]);
    EXPECT_EQ(zbw::ToUtf8(m_list.RUNITEM_RECORD(2)), joinedRecords[2]);
}

// SET gives an item new settings and leaves it as enabled or disabled as it was: an erroneous
// item is enabled again, a running one keeps its run, a disabled one stays disabled.
TEST_F(RunItemListRunTest, SetKeepsAnEnabledItemEnabledWhateverItIsDoing) {
    WriteProfile("run.fsf", u"Seconds=100\r\n");
    WriteProfile("bad.fsf", u"", u"9");
    WriteProfile("off.fsf");
    Load(Item("run.fsf") + Item("bad.fsf") + Item("off.fsf", u"<DISABLEDATSTARTUP/>"));
    ASSERT_TRUE(PumpUntil(
        [&] { return State("run.fsf") == RUNSTATE_ENABLED && State("bad.fsf") == RUNSTATE_ERROR; }));
    ASSERT_EQ(m_list.RunProfile(PathOf("run.fsf"), RUNREASON_MANUAL, nullptr), RUNPROFILE_STARTED);
    ASSERT_TRUE(PumpUntil([&] { return State("run.fsf") == RUNSTATE_RUNNING; }));
    for (const char* name : {"run.fsf", "bad.fsf", "off.fsf"})
        EXPECT_TRUE(m_list.UpdateProfileFromXml(
            u"<SETTINGS>" + Item(name, u"<DESCRIPTION>new</DESCRIPTION><DISABLEDATSTARTUP/>") +
            u"</SETTINGS>"))
            << name;
    PumpFor(300);
    EXPECT_EQ(State("run.fsf"), RUNSTATE_RUNNING);
    EXPECT_EQ(HistoryCount("run.fsf"), 0) << "the run was not ended";
    EXPECT_EQ(State("bad.fsf"), RUNSTATE_ERROR);
    EXPECT_EQ(State("off.fsf"), RUNSTATE_DISABLED);
    CString xml;
    ASSERT_TRUE(m_list.GetProfileItemXml(PathOf("run.fsf"), xml));
    EXPECT_NE(xml.Find(u"<DESCRIPTION>new</DESCRIPTION>"), -1) << zbw::ToUtf8(xml);
}

// A sequence passes over items that cannot start and hands the started one the whole list,
// which it runs through after itself.
TEST_F(RunItemListRunTest, ASequenceStartsAtTheFirstItemThatCanRunAndRunsTheRest) {
    for (const char* name : {"a.fsf", "b.fsf", "c.fsf", "d.fsf"}) WriteProfile(name);
    Load(Item("a.fsf", u"<CATEGORY>Docs</CATEGORY><DISABLEDATSTARTUP/>") +
         Item("b.fsf", u"<CATEGORY>Docs</CATEGORY>") + Item("c.fsf", u"<CATEGORY>Music</CATEGORY>") +
         Item("d.fsf", u"<CATEGORY>docs</CATEGORY>"));
    ASSERT_TRUE(PumpUntil([&] { return State("d.fsf") == RUNSTATE_ENABLED; }));
    m_list.RunCategoryInSequence(u"DOCS");
    ASSERT_TRUE(PumpUntil([&] { return HistoryCount("d.fsf") == 1; }, 200));
    EXPECT_EQ(HistoryCount("a.fsf"), 0);
    EXPECT_EQ(HistoryCount("b.fsf"), 1);
    EXPECT_EQ(HistoryCount("c.fsf"), 0);
    EXPECT_LE(NewestRun("b.fsf").m_tEnd, NewestRun("d.fsf").m_tStart);
}

TEST_F(RunItemListRunTest, TheStartUpRunsAreTheEnabledItemsMarkedForIt) {
    for (const char* name : {"a.fsf", "b.fsf", "c.fsf"}) WriteProfile(name);
    Load(Item("a.fsf", u"<STARTUP/>") + Item("b.fsf") + Item("c.fsf", u"<STARTUP/><DISABLEDATSTARTUP/>"));
    ASSERT_TRUE(PumpUntil([&] { return State("b.fsf") == RUNSTATE_ENABLED; }));
    m_list.RunProfilesAtStartup();
    ASSERT_TRUE(
        PumpUntil([&] { return HistoryCount("a.fsf") == 1 && State("a.fsf") == RUNSTATE_SUCCEEDED; }, 200));
    PumpFor(300);
    EXPECT_EQ(HistoryCount("b.fsf"), 0);
    EXPECT_EQ(HistoryCount("c.fsf"), 0);
    EXPECT_TRUE(m_log.Has("Run " + Name("a.fsf") + " at startup."));
    EXPECT_TRUE(m_log.Has("Run " + Name("c.fsf") + " at startup."));
    EXPECT_FALSE(m_log.Has("Run " + Name("b.fsf") + " at startup."));
}

TEST_F(RunItemListRunTest, TheHistoryShowsAndResetsByName) {
    WriteProfile("a.fsf");
    Load(Item("a.fsf"));
    ASSERT_TRUE(PumpUntil([&] { return State("a.fsf") == RUNSTATE_ENABLED; }));
    auto history = [&](const char* name) { return m_list.GetSharedLastRunsHtml(PathOf(name)); };
    EXPECT_EQ(*history("a.fsf"), CString(u"None"));
    EXPECT_EQ(history("x.fsf"), nullptr);
    ASSERT_EQ(m_list.RunProfile(PathOf("a.fsf"), RUNREASON_MANUAL, nullptr), RUNPROFILE_STARTED);
    ASSERT_TRUE(
        PumpUntil([&] { return HistoryCount("a.fsf") == 1 && State("a.fsf") == RUNSTATE_SUCCEEDED; }, 200));
    EXPECT_EQ(history("a.fsf")->Find(u"*?*"), 0);
    EXPECT_TRUE(m_list.ResetProfileLastRuns(PathOf("A.FSF")));
    EXPECT_EQ(HistoryCount("a.fsf"), 0);
    EXPECT_EQ(*history("a.fsf"), CString(u"None"));
}

// The engine stop disables the items but lets a synchronisation under way finish.
TEST_F(RunItemListRunTest, TheEngineStopLeavesARunningSynchronisationGoing) {
    WriteProfile("run.fsf", u"Seconds=1\r\n");
    WriteProfile("idle.fsf");
    Load(Item("run.fsf") + Item("idle.fsf"));
    ASSERT_TRUE(PumpUntil([&] { return State("idle.fsf") == RUNSTATE_ENABLED; }));
    ASSERT_EQ(m_list.RunProfile(PathOf("run.fsf"), RUNREASON_MANUAL, nullptr), RUNPROFILE_STARTED);
    ASSERT_TRUE(PumpUntil([&] { return State("run.fsf") == RUNSTATE_RUNNING; }));
    m_list.DisableIdleItems(u"");
    EXPECT_EQ(State("idle.fsf"), RUNSTATE_DISABLED);
    EXPECT_EQ(State("run.fsf"), RUNSTATE_RUNNING);
    ASSERT_TRUE(PumpUntil([&] { return HistoryCount("run.fsf") == 1; }));
    EXPECT_EQ(NewestRun("run.fsf").m_nExitCode, 0);
}

TEST_F(RunItemListRunTest, StopEndsTheRunOfThatProfile) {
    WriteProfile("run.fsf", u"Seconds=100\r\n");
    Load(Item("run.fsf"));
    ASSERT_TRUE(PumpUntil([&] { return State("run.fsf") == RUNSTATE_ENABLED; }));
    ASSERT_EQ(m_list.RunProfile(PathOf("run.fsf"), RUNREASON_MANUAL, nullptr), RUNPROFILE_STARTED);
    ASSERT_TRUE(PumpUntil([&] { return State("run.fsf") == RUNSTATE_RUNNING; }));
    EXPECT_TRUE(m_list.StopProfile(PathOf("RUN.FSF")));
    ASSERT_TRUE(
        PumpUntil([&] { return HistoryCount("run.fsf") == 1 && State("run.fsf") != RUNSTATE_RUNNING; }));
    EXPECT_NE(NewestRun("run.fsf").m_nExitCode, 0);
}

}  // namespace
