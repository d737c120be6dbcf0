// CZBProjectRunItem on the real classes: the test thread is the engine's main thread (it pumps the
// items' windows), the stand-in zbsync is the synchronisation program (its [StandIn] section
// chooses exit code, duration, percentage and identification), the history goes to a real
// run-history database, and the wall clock is pinned in Berlin so the schedule and the texts are
// exact. A small owner list answers profile look-ups and chained starts. Every wait is bounded.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/RegUtils.h"
#include "dovrane/model/DBEngList.h"
#include "dovrane/model/EngineDB.h"
#include "dovrane/model/RegEntry.h"
#include "dovrane/model/SyncExitCode.h"
#include "dovrane/threads/ZBProjectRunItem.h"
#include "dovrane/threads/ZBProjectRunItemData.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/classlib/WinApp.h"
#include "platform/host/EmulationRoot.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Environment.h"
#include "platform/win32/WinUser.h"
#include "tests/dovrane/ScheduleTestEnv.h"

namespace {

const char16_t kSyncProgramKey[] = u"software\\Zebrodyne Pro 2\\Zebrodyne Pro";
const char16_t kLastRunsKey[] = u"software\\ZBEngine\\ZBEngine\\EngLastSchedRuns";
constexpr int kBoundMs = 20000;

// The run-item list as far as the items see it: names, look-ups and chained starts.
class CTestOwner : public CRunItemOwner {
   public:
    CSyncObject& GetStateLock() override { return m_lock; }
    bool ProfileExists(LPCWSTR name) override { return Find(name) != nullptr; }
    int RunProfile(LPCWSTR name, int reason, const CProfileRunList* runList) override {
        CZBProjectRunItem* item = Find(name);
        if (item == nullptr) return RUNPROFILE_NOT_FOUND;
        if (item->GetState() == RUNSTATE_RUNNING) return RUNPROFILE_RUNNING;
        if (!item->IsActive()) return RUNPROFILE_NOT_ACTIVE;
        m_started.push_back(name);
        item->Run(reason, runList);
        return RUNPROFILE_STARTED;
    }
    CZBProjectRunItem* Find(LPCWSTR name) {
        for (CZBProjectRunItem* item : m_items)
            if (item->GetName().CompareNoCase(name) == 0) return item;
        return nullptr;
    }

    CCriticalSection m_lock;
    std::vector<CZBProjectRunItem*> m_items;
    std::vector<CString> m_started;
};

struct STANDIN {
    int exitCode = 0;
    double seconds = 0.3;
    int percent = -1;
    const char* id = nullptr;  // null: the stand-in's own
    bool ignoreQuit = false;
};

// Berlin local time (CET in March before the 31st).
void PinLocal(int hour, int minute, int second) {
    zbw::PinWallClock(UtcMicros(2024, 3, 5, hour - 1, minute, second));
}

SCHEDULEINFO Every(int minutes, int hours) {
    SCHEDULEINFO schedule;
    schedule.nEveryMinute = minutes;
    schedule.nEveryHour = hours;
    schedule.dtStart = COleDateTime(2024, 3, 1, 8, 0, 0);
    return schedule;
}

class ZBProjectRunItemTest : public zbtest::CScheduleTest {
   protected:
    void SetUp() override {
        CScheduleTest::SetUp();
        PinLocal(10, 7, 30);
        m_app.SetRegistryKey(u"ZBEngine");
        ASSERT_TRUE(WriteRegStringLM(kSyncProgramKey, u"path", zbw::ToWindowsPath(BinDir() + "/zbsync")));
        g_EngineDB.SetDBFilePath(zbw::ToWindowsPath(m_root.Path("history.db")));
        ASSERT_TRUE(g_EngineDB.OpenDBFile());
        for (const char* dir : {"src", "tgt"}) ASSERT_TRUE(zbw::MakeHostDirs(m_root.Path(dir)));
    }
    void TearDown() override {
        m_items.clear();
        g_EngineDB.CloseDBFile();
        CRegEntry::SetWriteBack(true);
    }

    CString Win(const std::string& relative) const { return zbw::ToWindowsPath(m_root.Path(relative)); }

    // A profile of the synchronisation program with the stand-in's section; its Windows path.
    // settings: the [Settings] lines; by default the test's source and target and method 1.
    CString WriteProfile(const std::string& name, const STANDIN& standIn = {}, std::u16string settings = {}) {
        std::u16string text = u"[Zebrodyne Profile - File Version 4.0.0]\r\n[Settings]\r\n";
        if (settings.empty()) {
            settings = u"Source Folder=" + std::u16string(Win("src")) + u"\r\n";
            settings += u"Target Folder=" + std::u16string(Win("tgt")) + u"\r\n";
            settings += u"Execution Method=1\r\n";
        }
        text += settings;
        text += u"Log File=" + std::u16string(Win(name + ".log")) + u"\r\n";
        text += u"[StandIn]\r\nExitCode=" + Utf16(std::to_string(standIn.exitCode)) + u"\r\n";
        text += u"Seconds=" + Utf16(std::to_string(standIn.seconds)) + u"\r\n";
        text += u"IgnoreQuit=" + Utf16(standIn.ignoreQuit ? "1" : "0") + u"\r\n";
        if (standIn.percent >= 0) text += u"Percent=" + Utf16(std::to_string(standIn.percent)) + u"\r\n";
        if (standIn.id != nullptr) text += u"Id=" + Utf16(standIn.id) + u"\r\n";
        std::string bytes = "\xFF\xFE";
        for (char16_t ch : text) {
            bytes += static_cast<char>(ch & 0xFF);
            bytes += static_cast<char>(ch >> 8);
        }
        EXPECT_TRUE(WriteHostFile(m_root.Path(name), bytes));
        return Win(name);
    }
    static std::u16string Utf16(const std::string& text) { return std::u16string(zbw::FromUtf8(text)); }

    CLaunchItem Launch(const CString& profile, const SCHEDULEINFO& schedule = Every(0, 1)) {
        CLaunchItem item;
        item.m_strProfile = profile;
        item.m_schedule = schedule;
        item.m_nEnabled = 1;
        return item;
    }
    CZBProjectRunItem& Add(const CLaunchItem& launch) {
        m_items.push_back(std::make_unique<CZBProjectRunItem>());
        CZBProjectRunItem& item = *m_items.back();
        item.SetOwnerList(&m_owner);
        m_owner.m_items.push_back(&item);
        EXPECT_TRUE(item.SetInfo(launch));
        return item;
    }
    CZBProjectRunItem& Enabled(const CLaunchItem& launch) {
        CZBProjectRunItem& item = Add(launch);
        EXPECT_TRUE(item.Enable(launch));
        Pump([] { return false; }, 200);
        return item;
    }

    // Serves the test thread's queue until done holds or ms of real time pass; between rounds
    // the steered clock may be moved by advanceMs.
    bool Pump(const std::function<bool()>& done, int ms = kBoundMs, int64_t advanceMs = 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            if (done()) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            if (advanceMs != 0) zbw::AdvanceClock(advanceMs);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    bool RunEnds(CZBProjectRunItem& item, int records) {
        return Pump(
            [&] { return item.GetState() != RUNSTATE_RUNNING && History(item).GetCount() >= records; });
    }
    bool RunStarts(CZBProjectRunItem& item) {
        return Pump([&] { return item.GetState() == RUNSTATE_RUNNING; });
    }
    // The history as the database holds it.
    static CDBEngList History(CZBProjectRunItem& item) {
        CDBEngList list;
        list.SetKeyAndLoad(item.GetName());
        return list;
    }
    static void Tick(CZBProjectRunItem& item) { item.SendMessage(WM_TIMER, TIMER_SCHEDULE, 0); }

    CWinApp m_app{u"zbengine"};
    CTestOwner m_owner;
    std::vector<std::unique_ptr<CZBProjectRunItem>> m_items;
};

TEST_F(ZBProjectRunItemTest, DueEveryMinuteRunsTheProgramAndRecordsTheRun) {
    CZBProjectRunItem& item = Enabled(Launch(WriteProfile("docs.fsf"), Every(1, 0)));
    ASSERT_EQ(item.GetState(), RUNSTATE_ENABLED);
    EXPECT_EQ(item.GetNextRunTime(), COleDateTime(2024, 3, 5, 10, 8, 0));
    EXPECT_EQ(item.GetLaunchCommand().strArguments, u"\"" + item.GetName() + u"\" /hiddenautosync /zbeng");
    PinLocal(10, 8, 0);
    Tick(item);
    ASSERT_TRUE(RunEnds(item, 1));
    EXPECT_EQ(item.GetState(), RUNSTATE_SUCCEEDED);
    const CDBEngList history = History(item);
    ASSERT_EQ(history.GetCount(), 1);
    const CProjectRunTime& run = history.GetHead();
    EXPECT_EQ(run.m_nExitCode, 0);
    EXPECT_EQ(run.m_strResult, CString(u"(Scheduled Run) - Successful."));
    EXPECT_EQ(run.GetLogID(), CString(u"1")) << "the number that marks the run in the log";
    EXPECT_TRUE(run.HasRunPreviewData());
    EXPECT_TRUE(run.HasRunSummaryData());
    EXPECT_TRUE(run.HasFinalStatusData());
    EXPECT_EQ(item.GetNextRunTime(), COleDateTime(2024, 3, 5, 10, 9, 0));
}

struct EXITCASE {
    int exitCode;
    int state;
};

TEST_F(ZBProjectRunItemTest, ExitCodesChooseTheEndState) {
    const EXITCASE cases[] = {{0, RUNSTATE_SUCCEEDED}, {3, RUNSTATE_SUCCEEDED}, {1, RUNSTATE_FAILED}};
    for (const EXITCASE& c : cases) {
        SCOPED_TRACE(c.exitCode);
        STANDIN standIn;
        standIn.exitCode = c.exitCode;
        CZBProjectRunItem& item =
            Enabled(Launch(WriteProfile("exit" + std::to_string(c.exitCode) + ".fsf", standIn)));
        ASSERT_TRUE(item.Run(RUNREASON_MANUAL));
        ASSERT_TRUE(RunEnds(item, 1));
        EXPECT_EQ(item.GetState(), c.state);
        EXPECT_EQ(History(item).GetHead().m_nExitCode, c.exitCode);
    }
}

TEST_F(ZBProjectRunItemTest, FailedRunIsRerunAfterTheRerunMinutesUpToTheLimit) {
    STANDIN standIn;
    standIn.exitCode = 1;
    CLaunchItem launch = Launch(WriteProfile("fails.fsf", standIn));
    launch.m_nOnErrorRerun = 1;
    launch.m_nMaxRerun = 2;
    CZBProjectRunItem& item = Enabled(launch);
    ASSERT_TRUE(item.Run(RUNREASON_MANUAL));
    ASSERT_TRUE(RunEnds(item, 1));
    EXPECT_EQ(item.GetState(), RUNSTATE_FAILED);
    for (int minute = 8; minute <= 9; ++minute) {
        SCOPED_TRACE(minute);
        EXPECT_EQ(item.GetNextRunTime(), COleDateTime(2024, 3, 5, 10, minute, 0));
        PinLocal(10, minute, 0);
        Tick(item);
        ASSERT_TRUE(RunEnds(item, minute - 6));
    }
    // Two reruns made: the next run is the scheduled one.
    EXPECT_EQ(item.GetNextRunTime(), COleDateTime(2024, 3, 5, 11, 0, 0));
    const CDBEngList history = History(item);
    ASSERT_EQ(history.GetCount(), 3);
    EXPECT_EQ(history.GetHead().m_strResult, u"(After Error Rerun) - " + GetExitCodeText(1));
    EXPECT_EQ(history.GetTail().m_strResult, u"(Manual Run) - " + GetExitCodeText(1));
}

TEST_F(ZBProjectRunItemTest, ProfileAfterRunsWhenThePredecessorEnds) {
    for (const bool notOnError : {false, true}) {
        SCOPED_TRACE(notOnError);
        m_owner.m_started.clear();
        STANDIN failing;
        failing.exitCode = 1;
        const std::string suffix = notOnError ? "-strict.fsf" : ".fsf";
        CZBProjectRunItem& next = Enabled(Launch(WriteProfile("next" + suffix)));
        CLaunchItem firstLaunch = Launch(WriteProfile("first" + suffix, failing));
        firstLaunch.m_strProfileAfter = next.GetName();
        firstLaunch.m_bNotOnError = notOnError;
        CZBProjectRunItem& first = Enabled(firstLaunch);
        ASSERT_EQ(first.GetState(), RUNSTATE_ENABLED);
        ASSERT_TRUE(first.Run(RUNREASON_MANUAL));
        ASSERT_TRUE(RunEnds(first, 1));
        if (notOnError) {
            Pump([] { return false; }, 300);
            EXPECT_TRUE(m_owner.m_started.empty());
            EXPECT_EQ(History(next).GetCount(), 0);
            continue;
        }
        ASSERT_EQ(m_owner.m_started.size(), 1u);
        EXPECT_EQ(m_owner.m_started[0], next.GetName());
        ASSERT_TRUE(RunEnds(next, 1));
        EXPECT_EQ(History(next).GetHead().m_strResult.Left(6), CString(u"After "));
    }
}

TEST_F(ZBProjectRunItemTest, MissedRunIsCaughtUpOnlyWithRunMissed) {
    for (const bool runMissed : {true, false}) {
        SCOPED_TRACE(runMissed);
        CLaunchItem launch = Launch(WriteProfile(runMissed ? "missed.fsf" : "skipped.fsf"));
        launch.m_nRunMissed = runMissed ? 1 : 0;
        CZBProjectRunItem& item = Add(launch);
        // The engine last ran the 08:00 run; 09:00 and 10:00 went by while it was not running.
        CRunItem probe;
        probe.SetSchedule(launch.m_schedule);
        const CString value = u"2024-03-05 08:00===2024-03-05 08:00===" + probe.GetScheduleSignature();
        ASSERT_TRUE(WriteRegStringCU(kLastRunsKey, item.GetName(), value));
        ASSERT_TRUE(item.Enable(launch));
        if (runMissed) {
            ASSERT_TRUE(RunEnds(item, 1));
            EXPECT_EQ(History(item).GetHead().m_strResult, CString(u"(Missed Run) - Successful."));
        } else {
            Pump([] { return false; }, 500);
            EXPECT_EQ(History(item).GetCount(), 0);
        }
        EXPECT_EQ(item.GetNextRunTime(), COleDateTime(2024, 3, 5, 11, 0, 0));
    }
}

TEST_F(ZBProjectRunItemTest, ChangeInAMonitoredSourceStartsTheProfile) {
    CLaunchItem launch = Launch(WriteProfile("watch.fsf"), SCHEDULEINFO());
    launch.m_nAsSoonAsChanged = 1;
    launch.m_nMonitor = MONITOR_SOURCE;
    CZBProjectRunItem& item = Enabled(launch);
    ASSERT_EQ(item.GetState(), RUNSTATE_ENABLED);
    // The monitor needs a moment to watch; the item drops changes before that anyway.
    Pump([] { return false; }, 300);
    ASSERT_TRUE(WriteHostFile(m_root.Path("src/new.txt"), "x"));
    ASSERT_TRUE(RunEnds(item, 1));
    EXPECT_EQ(History(item).GetHead().m_strResult, CString(u"(Changes Detected) - Successful."));
}

TEST_F(ZBProjectRunItemTest, ProfileRewrittenOnDiskDisablesTheItem) {
    const CString profile = WriteProfile("edited.fsf");
    CZBProjectRunItem& item = Enabled(Launch(profile));
    ASSERT_EQ(item.GetState(), RUNSTATE_ENABLED);
    const CString message =
        u"Today at 10:07:30 AM, ZBEngine has detected changes in this Zebrodyne profile and has disabled the "
        u"scheduled run(s): manual reactivation required.";
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        // A later last-write time than before, as an editor saving the profile gives.
        WriteProfile("edited.fsf");
        utimbuf times{time(nullptr) + 10 * round, time(nullptr) + 10 * round};
        ASSERT_EQ(utime(m_root.Path("edited.fsf").c_str(), &times), 0);
        ASSERT_TRUE(Pump([&] { return item.GetDetailsText() == message; }));
        EXPECT_EQ(item.GetState(), RUNSTATE_DISABLED);
        EXPECT_EQ(item.GetStatusText(), CString(u"Disabled"));
        item.SetState(RUNSTATE_DISABLED, CString());
    }
}

const char16_t kOkIcon[] = u"<img src=\"img/tick.gif\" width=\"16\" height=\"16\" align=\"texttop\"> ";
const char16_t kErrorIcon[] = u"<img src=\"img/err.gif\" width=\"16\" height=\"16\" align=\"texttop\"> ";
const char16_t kHelpLink[] = u"&nbsp;<a href=\"/help/help.htm?sc9\" target=\"_blank\">Help</a>";

struct TEXTS {
    CString status, details, settings, lastRun, nextRun, progress;
};

TEXTS TextsOf(CZBProjectRunItem& item) {
    return {item.GetStatusText(),
            item.GetDetailsText(),
            item.GetSettingsText(),
            item.GetLastRunHtml(),
            item.GetNextRunDisplayText(0, g_DateNone),
            item.GetProgressHtml()};
}

void ExpectTexts(const TEXTS& got, const TEXTS& want) {
    EXPECT_EQ(got.status, want.status);
    EXPECT_EQ(got.details, want.details);
    EXPECT_EQ(got.settings, want.settings);
    EXPECT_EQ(got.lastRun, want.lastRun);
    EXPECT_EQ(got.nextRun, want.nextRun);
    EXPECT_EQ(got.progress, want.progress);
}

TEST_F(ZBProjectRunItemTest, TextsOfAnIdleARunningAFailedAndADisabledItem) {
    STANDIN standIn;
    standIn.seconds = 60;
    standIn.percent = 42;
    standIn.ignoreQuit = false;
    CLaunchItem launch = Launch(WriteProfile("a&b.fsf", standIn));
    launch.m_nOnErrorRerun = 5;
    CZBProjectRunItem& item = Enabled(launch);
    const CString settings =
        u"Run every hour, start on 3/1/2024 08:00 AM - If error occurs rerun after 5 minutes";
    ExpectTexts(TextsOf(item),
                {u"Enabled", u"", settings, u"None", u"Today at 11:00:00 AM (Scheduled Run)", u""});
    EXPECT_EQ(item.GetLastRunsHtml(), CString(u"None"));
    EXPECT_EQ(item.GetLastOkRunText(), CString(u"None"));
    EXPECT_EQ(item.GetProgressPercent(), -1);

    ASSERT_TRUE(item.Run(RUNREASON_MANUAL));
    ASSERT_TRUE(Pump([&] { return item.GetProgressPercent() == 42 && !item.GetProgressHtml().IsEmpty(); }));
    const TEXTS running = TextsOf(item);
    EXPECT_EQ(running.status, CString(u"Running... Start Time 10:07:30 AM (0 sec) (Manual Run)"));
    EXPECT_EQ(running.details, CString(u"Synchronizing: 42% (42%)"));
    EXPECT_EQ(item.GetStatusHtml(), CString(u"Running...<br>Start Time 10:07:30 AM (0 sec) (Manual Run)"));
    CString profile = item.GetName();
    profile.Replace(u"&", u"&amp;");
    const CString progress =
        u"<br><strong>Progress of \"Synchronizing: 42%\" :</strong><br><span "
        u"class='highlight'>file2.txt</span><br>" +
        profile + u"<br>Synchronizing<br>File 2 of 3";
    EXPECT_EQ(running.progress.Left(progress.GetLength()), progress);
    EXPECT_NE(running.progress.Find(u"Run Preview...</a><DIV style='width: 550px;'"), -1)
        << zbw::ToUtf8(running.progress);
    EXPECT_EQ(running.progress.Right(6), CString(u"</DIV>"));

    ASSERT_TRUE(item.Stop());
    ASSERT_TRUE(RunEnds(item, 1));
    const CString result = GetExitCodeText(4);
    const CString runText = u"Today at 10:07:30 AM until 10:07:30 AM (0 sec) - (Manual Run) - " + result;
    ExpectTexts(TextsOf(item), {u"Enabled", result, settings, kErrorIcon + runText + kHelpLink,
                                u"Today at 11:00:00 AM (Scheduled Run)", u""});
    EXPECT_EQ(item.GetLastOkRunText(), CString(u"None"));

    item.Disable();
    ExpectTexts(TextsOf(item), {u"Disabled", u"", settings, kErrorIcon + runText + kHelpLink, u"None", u""});
}

TEST_F(ZBProjectRunItemTest, SixteenRunsShowFifteenThenAnEllipsisThenTheLast) {
    const CString profile = WriteProfile("many.fsf");
    {
        CDBEngList stored(profile);
        for (int n = 1; n <= 16; ++n) {
            CProjectRunTime run;
            run.m_tStart = run.m_tEnd = 1709629650;  // 2024-03-05 10:07:30 in Berlin
            run.m_strResult.Format(u"run %d", n);
            run.m_nExitCode = n == 16 ? 0 : 1;
            if (n != 2) run.m_strLogID.Format(u"id%d", n);
            stored.AddTailEntry(run);
        }
        ASSERT_TRUE(stored.SaveToDB());
    }
    CZBProjectRunItem& item = Enabled(Launch(profile));
    const CString html = item.GetLastRunsHtml();
    std::vector<CString> parts;
    for (int start = 0;;) {
        const int at = html.Find(u"*?*", start);
        parts.push_back(html.Mid(start, at < 0 ? html.GetLength() - start : at - start));
        if (at < 0) break;
        start = at + 3;
    }
    ASSERT_EQ(parts.size(), 18u);
    EXPECT_EQ(parts[0], CString());
    EXPECT_EQ(parts[16], CString(u"..."));
    const CString runText = u"Today at 10:07:30 AM until 10:07:30 AM (0 sec) - ";
    EXPECT_EQ(parts[2], kErrorIcon + runText + u"run 2");
    EXPECT_EQ(parts[1].Left(CString(kErrorIcon).GetLength() + runText.GetLength() + 5),
              kErrorIcon + runText + u"run 1");
    EXPECT_NE(
        parts[1].Find(u"showPopup('1todo', event, 50, -9999); return false;\">More Info...</a><DIV  style="),
        -1);
    EXPECT_NE(parts[15].Find(u"id='15todo'"), -1);
    EXPECT_EQ(parts[17].Left(CString(kOkIcon).GetLength()), CString(kOkIcon));
    EXPECT_NE(parts[17].Find(u"Run ID: id16</span>"), -1);
    EXPECT_NE(parts[17].Find(u"#PROFILE_SHOWLOGFILE_COMMAND#&LID=id16\""), -1);
    EXPECT_EQ(item.GetLastOkRunText(), runText + u"run 16");
}

// The profile pages share one copy of a history's text while it stays as it is, and get a new one
// once a run has added to it.
TEST_F(ZBProjectRunItemTest, PagesShareTheLastRunsTextUntilARunChangesIt) {
    CZBProjectRunItem& item = Enabled(Launch(WriteProfile("shared.fsf")));
    const std::shared_ptr<const CString> before = item.GetSharedLastRunsHtml();
    EXPECT_EQ(*before, CString(u"None"));
    EXPECT_EQ(item.GetSharedLastRunsHtml(), before);
    ASSERT_TRUE(item.Run(RUNREASON_MANUAL));
    ASSERT_TRUE(RunEnds(item, 1));
    const std::shared_ptr<const CString> after = item.GetSharedLastRunsHtml();
    EXPECT_NE(after, before);
    EXPECT_EQ(*after, item.GetLastRunsHtml());
    EXPECT_EQ(item.GetSharedLastRunsHtml(), after) << "one copy for every page";
}

TEST_F(ZBProjectRunItemTest, ProgramTextsAreEscapedInHtml) {
    STANDIN standIn;
    standIn.id = "<b>\"7\"&x</b>";
    standIn.exitCode = 3;
    CZBProjectRunItem& item = Enabled(Launch(WriteProfile("escape.fsf", standIn)));
    ASSERT_TRUE(item.Run(RUNREASON_MANUAL));
    ASSERT_TRUE(RunEnds(item, 1));
    EXPECT_EQ(History(item).GetHead().GetLogID(), CString(u"<b>\"7\"&x</b>"));
    const CString html = item.GetLastRunsHtml();
    EXPECT_EQ(html.Find(u"<b>\"7"), -1) << zbw::ToUtf8(html);
    EXPECT_NE(html.Find(u"Run ID: &lt;b&gt;&quot;7&quot;&amp;x&lt;/b&gt;</span>"), -1) << zbw::ToUtf8(html);
    EXPECT_NE(html.Find(u"LID=%3cb%3e%227%22%26x%3c%2fb%3e\""), -1) << zbw::ToUtf8(html);
    EXPECT_NE(html.Find(u"<span class='tablehigh'>Synchronization ended with exit code 3.</span>"), -1);
}

long long ElapsedMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

TEST_F(ZBProjectRunItemTest, RunStartDoesNotWaitForTheProgramsIdentification) {
    STANDIN standIn;
    standIn.id = "";  // the program never fills "ID"
    CZBProjectRunItem& item = Enabled(Launch(WriteProfile("anonymous.fsf", standIn)));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(item.Run(RUNREASON_MANUAL));
    ASSERT_TRUE(RunEnds(item, 1));
    EXPECT_LT(ElapsedMs(start), 10000) << "the main thread waited for the identification";
    const CProjectRunTime run = History(item).GetHead();
    EXPECT_EQ(run.m_strResult, CString(u"(Manual Run) - Successful."));
    EXPECT_TRUE(run.GetLogID().IsEmpty());
    // No identification: icon and run text only.
    EXPECT_EQ(item.GetLastRunsHtml().Find(u"More Info..."), -1);
}

TEST_F(ZBProjectRunItemTest, EnablingARunningItemKeepsItsRun) {
    STANDIN standIn;
    standIn.seconds = 1.5;
    const CLaunchItem launch = Launch(WriteProfile("busy.fsf", standIn));
    CZBProjectRunItem& item = Enabled(launch);
    ASSERT_TRUE(item.Run(RUNREASON_MANUAL));
    ASSERT_TRUE(RunStarts(item));
    EXPECT_TRUE(item.Enable(launch));
    EXPECT_EQ(item.GetState(), RUNSTATE_RUNNING);
    ASSERT_TRUE(RunEnds(item, 1));
    EXPECT_EQ(History(item).GetHead().m_nExitCode, 0) << "the run was cut short";
    EXPECT_EQ(item.GetState(), RUNSTATE_SUCCEEDED);
}

TEST_F(ZBProjectRunItemTest, StopReturnsAtOnceAndTheRunEndsLater) {
    STANDIN standIn;
    standIn.seconds = 600;
    standIn.ignoreQuit = true;
    CZBProjectRunItem& item = Enabled(Launch(WriteProfile("stubborn.fsf", standIn)));
    ASSERT_TRUE(item.Run(RUNREASON_MANUAL));
    // Under way once it reports progress (so it takes the quit requests as messages).
    ASSERT_TRUE(Pump([&] { return item.GetProgressPercent() >= 0; }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(item.Stop());
    EXPECT_LT(ElapsedMs(start), 1000) << "Stop waited for a program that ignores the quit";
    EXPECT_TRUE(item.IsStopping());
    EXPECT_EQ(item.GetState(), RUNSTATE_RUNNING);
    // The item's window goes on serving its timers meanwhile.
    Tick(item);
    // The job asks 60 times a second apart, then ends the program by force.
    ASSERT_TRUE(Pump([&] { return item.GetState() != RUNSTATE_RUNNING; }, kBoundMs, 500));
    EXPECT_FALSE(item.IsStopping());
    EXPECT_EQ(History(item).GetHead().m_nExitCode, -1);
}

TEST_F(ZBProjectRunItemTest, LaunchSwitchFollowsTheZbrunSetting) {
    const struct {
        int zbrun;
        const char16_t* launchSwitch;
    } cases[] = {{0, u" /hiddenautosync /zbeng"},
                 {1, u" "},
                 {2, u" /autosync /zbeng"},
                 {3, u" /dialogautosync /zbeng"}};
    const CLaunchItem launch = Launch(WriteProfile("switch.fsf"));
    CZBProjectRunItem& item = Add(launch);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zbrun);
        ASSERT_TRUE(m_app.WriteProfileInt(u"Settings", u"zbrun", c.zbrun));
        ASSERT_TRUE(item.Enable(launch));
        EXPECT_EQ(item.GetLaunchCommand().strProgram, zbw::ToWindowsPath(BinDir() + "/zbsync"));
        EXPECT_EQ(item.GetLaunchCommand().strArguments, u"\"" + item.GetName() + u"\"" + c.launchSwitch);
    }
}

TEST_F(ZBProjectRunItemTest, ItemThatCannotBeEnabledShowsWhy) {
    const CString noMethod = WriteProfile(
        "nomethod.fsf", {}, u"Source Folder=" + std::u16string(Win("src")) + u"\r\nExecution Method=0\r\n");
    const struct {
        CString profile;
        bool installed;
        CString text;
    } cases[] = {
        {WriteProfile("ok.fsf"), false,
         u"Unable to locate Zebrodyne Pro on this computer. Please install Zebrodyne Pro."},
        {noMethod, true, u"No execution method specified in this Zebrodyne profile."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.text));
        if (!c.installed) {
            ASSERT_TRUE(WriteRegStringLM(kSyncProgramKey, u"path", u""));
        }
        CZBProjectRunItem& item = Add(Launch(c.profile));
        EXPECT_FALSE(item.Enable(Launch(c.profile)));
        EXPECT_EQ(item.GetState(), RUNSTATE_ERROR);
        ExpectTexts(TextsOf(item),
                    {u"Error", c.text, u"Run every hour, start on 3/1/2024 08:00 AM", u"None", u"None", u""});
        ASSERT_TRUE(WriteRegStringLM(kSyncProgramKey, u"path", zbw::ToWindowsPath(BinDir() + "/zbsync")));
    }
}

TEST_F(ZBProjectRunItemTest, FolderListsResolveTheFoldersAndFollowTheMonitorBits) {
    SetEnvironmentVariableW(u"ZBTEST_BASE", zbw::ToWindowsPath(m_root.Dir()));
    const std::u16string base = u"<zbtest_base>";
    const CString profile = WriteProfile("lists.fsf", {},
                                         u"Source Folder=" + base +
                                             u"/a|C:\\b\r\nTarget Folder=D:\\c|D:\\d\r\n"
                                             u"Include Subfolders Flags=1|0\r\nExecution Method=2\r\n");
    CLaunchItem launch = Launch(profile);
    launch.m_nMonitor = MONITOR_SOURCE;
    launch.m_nAsAvailable = MONITOR_TARGET;
    CZBProjectRunItem& item = Add(launch);
    item.Enable(launch);
    CString monitor;
    CString access;
    ASSERT_TRUE(item.GetFolderLists(monitor, access));
    SetEnvironmentVariableW(u"ZBTEST_BASE", nullptr);
    const CString sources = zbw::ToWindowsPath(m_root.Dir()) + u"/a|1|C:\\b|0|";
    EXPECT_EQ(zbw::ToUtf8(monitor), zbw::ToUtf8(sources));
    EXPECT_EQ(zbw::ToUtf8(access), zbw::ToUtf8(sources + u"D:\\c|1|D:\\d|0|"));
    EXPECT_EQ(item.GetExecutionMethodText(), CString(u"Backup (Mirror Source to Target)"));
}

TEST_F(ZBProjectRunItemTest, RepeatQueuedDuringARunRecordsBothAndSetsTheEndStateLast) {
    STANDIN standIn;
    standIn.seconds = 1;
    CZBProjectRunItem& item = Enabled(Launch(WriteProfile("repeat.fsf", standIn)));
    ASSERT_TRUE(item.Run(RUNREASON_MANUAL));
    ASSERT_TRUE(RunStarts(item));
    // Changes detected while it runs: the run is asked for again and queued behind this one.
    ASSERT_TRUE(item.Run(RUNREASON_CHANGES));
    ASSERT_TRUE(Pump([&] { return History(item).GetCount() == 1; }));
    EXPECT_EQ(item.GetState(), RUNSTATE_RUNNING);
    ASSERT_TRUE(RunEnds(item, 2));
    EXPECT_EQ(item.GetState(), RUNSTATE_SUCCEEDED);
    const CDBEngList history = History(item);
    EXPECT_EQ(history.GetHead().m_strResult, CString(u"(Changes Detected) - Successful."));
    EXPECT_EQ(history.GetTail().m_strResult, CString(u"(Manual Run) - Successful."));
}

TEST_F(ZBProjectRunItemTest, ItemTurnsTheProfileEntriesWriteBackOffForGood) {
    CRegEntry::SetWriteBack(true);
    { CZBProjectRunItem item; }
    EXPECT_FALSE(CRegEntry::IsWriteBackOn());
}

}  // namespace
