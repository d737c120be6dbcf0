// CRunItem with the wall clock pinned in Berlin: a test item records the states, runs and job
// acknowledgements that the item asks for instead of starting programs; a fake owner list
// answers profile look-ups and chained starts. Ticks are driven by hand or by the item's timers
// with the clock advanced; every pump is bounded.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "common/RegUtils.h"
#include "dovrane/threads/NextRunTime.h"
#include "dovrane/threads/RunItem.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/classlib/SingleLock.h"
#include "platform/host/EmulationRoot.h"
#include "platform/host/PathMap.h"
#include "platform/win32/WinUser.h"
#include "tests/dovrane/ScheduleTestEnv.h"

namespace {

const char16_t kLastRunsKey[] = u"software\\ZBEngine\\ZBEngine\\EngLastSchedRuns";
const char16_t kProfile[] = u"C:\\profiles\\docs.zbp";

struct STATECHANGE {
    int state;
    CString text;
};

class CTestRunItem : public CRunItem {
   public:
    void SetState(int state, const CString& text) override {
        m_states.push_back({state, text});
        CSingleLock lock(&StateLock(), TRUE);
        m_nRunState = state;
    }
    LRESULT OnExecuteEvent(WPARAM code, LPARAM) override {
        m_executeEvents.push_back(static_cast<int>(code));
        return 1;
    }
    bool LaunchRun(const LAUNCHCOMMAND& command, int reason) override {
        m_launches.push_back(reason);
        m_commands.push_back(command);
        return true;
    }
    bool StopJob(DWORD) override { return true; }
    bool IsExecuting() const override { return false; }
    DWORD GetJobExitCode() const override { return m_jobExitCode; }
    int GetJobReason() const override { return m_launches.empty() ? 0 : m_launches.back(); }
    void AcknowledgeJob() override { ++m_acknowledged; }

    void Tick() { ScheduleTick(); }
    void FireAccessTimer(UINT_PTR id) { AccessTimer(id); }
    void EndRun(DWORD exitCode) {
        m_jobExitCode = exitCode;
        OnExecuteJobNotify(EXECNOTIFY_ENDED, 0);
    }
    void Changes() { OnChangesDetected(0, 0); }
    void SetDates(const COleDateTime& lastScheduled, const COleDateTime& lastStart) {
        m_dtLastScheduledRun = lastScheduled;
        m_dtLastRunStart = lastStart;
    }
    void SetNextRunTime(const COleDateTime& next) { m_dtNextRunTime = next; }
    UINT ScheduleInterval() const { return m_nScheduleInterval; }
    UINT AccessRetry() const { return m_nAccessRetryMs; }
    void SetRunListForTest(const CProfileRunList& list) { m_runList = list; }

    std::vector<STATECHANGE> m_states;
    std::vector<int> m_launches;
    std::vector<LAUNCHCOMMAND> m_commands;
    std::vector<int> m_executeEvents;
    int m_acknowledged = 0;
    DWORD m_jobExitCode = 0;
};

class CFakeOwner : public CRunItemOwner {
   public:
    CSyncObject& GetStateLock() override { return m_lock; }
    bool ProfileExists(LPCWSTR name) override {
        for (const CString& known : m_names)
            if (known.CompareNoCase(name) == 0) return true;
        return false;
    }
    int RunProfile(LPCWSTR name, int reason, const CProfileRunList*) override {
        m_started.push_back(name);
        m_reasons.push_back(reason);
        return m_answer;
    }

    CCriticalSection m_lock;
    std::vector<CString> m_names;
    std::vector<CString> m_started;
    std::vector<int> m_reasons;
    int m_answer = RUNPROFILE_STARTED;
};

// Berlin local time of the pinned clock (CET in March before the 31st).
void PinLocal(int year, int month, int day, int hour, int minute, int second, int millis = 0,
              int utcOffsetH = 1) {
    zbw::PinWallClock(UtcMicros(year, month, day, hour - utcOffsetH, minute, second) + millis * 1000LL);
}

SCHEDULEINFO Hourly() {
    SCHEDULEINFO schedule;
    schedule.nEveryHour = 1;
    schedule.dtStart = COleDateTime(2024, 3, 1, 8, 0, 0);
    return schedule;
}

class RunItemTest : public zbtest::CScheduleTest {
   protected:
    void SetUp() override {
        CScheduleTest::SetUp();
        PinLocal(2024, 3, 5, 10, 7, 30);
        m_item.SetProfileName(kProfile);
        m_item.SetSchedule(Hourly());
        m_item.SetLaunchCommand(LAUNCHCOMMAND{u"/bin/true", CString()});
        m_item.SetOwnerList(&m_owner);
        ASSERT_TRUE(m_item.CreateItemWindow());
    }

    // Serves the test thread's queue until it is empty or done holds, in at most ms of real time.
    void Pump(int ms, const std::function<bool()>& done = {}) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        MSG msg;
        while (std::chrono::steady_clock::now() < deadline) {
            if (done && done()) return;
            if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&msg);
            } else if (!done) {
                return;
            } else {
                Sleep(5);
            }
        }
    }

    // Serves what is queued now, until the queue is empty (a bounded number of messages).
    void Drain() {
        MSG msg;
        for (int served = 0; served < 1000 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++served)
            DispatchMessageW(&msg);
    }

    CString StoredValue() {
        CString value;
        ReadRegStringCU(kLastRunsKey, kProfile, value);
        return value;
    }

    CFakeOwner m_owner;
    CTestRunItem m_item;
};

TEST_F(RunItemTest, ActivationArmsTheItemAndTicksAtOnce) {
    ASSERT_TRUE(m_item.Activate());
    ASSERT_EQ(m_item.m_states.size(), 1u);
    EXPECT_EQ(m_item.m_states[0].state, RUNSTATE_ENABLED);
    EXPECT_TRUE(m_item.IsActive());
    Pump(1000);
    EXPECT_EQ(m_item.GetNextRunTime(), COleDateTime(2024, 3, 5, 11, 0, 0));
    EXPECT_EQ(m_item.ScheduleInterval(), 30000u);
    EXPECT_TRUE(m_item.m_launches.empty());
    EXPECT_EQ(m_item.GetLastRunsHive(), 1);
}

TEST_F(RunItemTest, DueMinuteStartsOneScheduledRun) {
    ASSERT_TRUE(m_item.Activate());
    Pump(1000);
    PinLocal(2024, 3, 5, 10, 59, 59, 600);
    m_item.Tick();
    EXPECT_TRUE(m_item.m_launches.empty());
    EXPECT_EQ(m_item.ScheduleInterval(), 400u);
    PinLocal(2024, 3, 5, 11, 0, 0, 20);
    m_item.Tick();
    PinLocal(2024, 3, 5, 11, 0, 30);
    m_item.Tick();
    PinLocal(2024, 3, 5, 11, 1, 0);
    m_item.Tick();
    ASSERT_EQ(m_item.m_launches.size(), 1u);
    EXPECT_EQ(m_item.m_launches[0], RUNREASON_SCHEDULED);
    EXPECT_EQ(m_item.m_commands[0].strProgram, CString(u"/bin/true"));
    EXPECT_EQ(m_item.GetLastScheduledRun(), COleDateTime(2024, 3, 5, 11, 0, 0));
    EXPECT_EQ(m_item.GetNextRunTime(), COleDateTime(2024, 3, 5, 12, 0, 0));
    EXPECT_EQ(StoredValue().Left(35), CString(u"2024-03-05 11:00===2024-03-05 11:00"));
}

TEST_F(RunItemTest, TimersDriveTheTickOnWholeMinutes) {
    ASSERT_TRUE(m_item.Activate());
    Pump(1000);
    // 10:07:30 -> re-armed for 30 s; advancing to 11:00 fires it each minute.
    for (int minute = 0; minute < 53; ++minute) {
        zbw::AdvanceClock(m_item.ScheduleInterval());
        Pump(2000, [&] { return m_item.ScheduleInterval() == 60000u; });
        Drain();
    }
    Pump(2000, [&] { return !m_item.m_launches.empty(); });
    ASSERT_EQ(m_item.m_launches.size(), 1u);
    EXPECT_EQ(m_item.m_launches[0], RUNREASON_SCHEDULED);
}

struct DUECASE {
    int offsetMs;  // next run time relative to the current whole minute
    int launches;
    int reason;
};

TEST_F(RunItemTest, DueWindowAroundTheCurrentMinute) {
    const DUECASE cases[] = {
        {0, 1, RUNREASON_SCHEDULED},
        {-500, 1, RUNREASON_SCHEDULED},
        {-19000, 1, RUNREASON_SCHEDULED},
        {-20000, 1, RUNREASON_MISSED},
        {-120000, 1, RUNREASON_MISSED},
        {1000, 0, 0},
        {60000, 0, 0},
    };
    m_item.m_bRunMissed = true;
    ASSERT_TRUE(m_item.Activate());
    Pump(1000);
    for (const DUECASE& c : cases) {
        SCOPED_TRACE(c.offsetMs);
        m_item.m_launches.clear();
        PinLocal(2024, 3, 5, 10, 7, 10);
        const COleDateTime minute(2024, 3, 5, 10, 7, 0);
        m_item.SetNextRunTime(minute + COleDateTimeSpan(c.offsetMs / 86400000.0));
        m_item.Tick();
        ASSERT_EQ(static_cast<int>(m_item.m_launches.size()), c.launches);
        if (c.launches > 0) {
            EXPECT_EQ(m_item.m_launches[0], c.reason);
        }
    }
}

TEST_F(RunItemTest, MissedRunIsCaughtUpOnlyWhenAsked) {
    for (const bool runMissed : {true, false}) {
        SCOPED_TRACE(runMissed);
        CTestRunItem item;
        item.SetProfileName(kProfile);
        item.SetSchedule(Hourly());
        item.m_bRunMissed = runMissed;
        ASSERT_TRUE(item.CreateItemWindow());
        // The engine last ran the 08:00 run; 09:00 and 10:00 went by while it was not running.
        const CString value = u"2024-03-05 08:00===2024-03-05 08:00===" + item.GetScheduleSignature();
        ASSERT_TRUE(WriteRegStringCU(kLastRunsKey, kProfile, value));
        ASSERT_TRUE(item.Activate());
        EXPECT_EQ(item.GetLastScheduledRun(), COleDateTime(2024, 3, 5, 8, 0, 0));
        Pump(1000);
        if (runMissed) {
            ASSERT_EQ(item.m_launches.size(), 1u);
            EXPECT_EQ(item.m_launches[0], RUNREASON_MISSED);
        } else {
            EXPECT_TRUE(item.m_launches.empty());
        }
        EXPECT_EQ(item.GetLastScheduledRun(), COleDateTime(2024, 3, 5, 9, 0, 0));
        EXPECT_EQ(item.GetNextRunTime(), COleDateTime(2024, 3, 5, 11, 0, 0));
        item.Tick();
        EXPECT_LE(item.m_launches.size(), 1u);
    }
}

TEST_F(RunItemTest, LastRunRecordRoundTrip) {
    ASSERT_TRUE(m_item.Activate());
    Pump(1000);
    m_item.SetDates(COleDateTime(2024, 3, 5, 9, 0, 0), COleDateTime(2024, 3, 5, 9, 1, 0));
    m_item.m_nRerunMinutes = 5;
    m_item.m_nAsAvailableFolders = 3;
    m_item.m_nAsAvailableFrequency = 2;
    m_item.SaveLastRun();
    const CString signature = GetScheduleText(Hourly()) + u"*5*32";
    EXPECT_EQ(m_item.GetScheduleSignature(), signature);
    EXPECT_EQ(StoredValue(), u"2024-03-05 09:00===2024-03-05 09:01===" + signature);

    CTestRunItem same;
    same.SetProfileName(kProfile);
    same.SetSchedule(Hourly());
    same.m_nRerunMinutes = 5;
    same.m_nAsAvailableFolders = 3;
    same.m_nAsAvailableFrequency = 2;
    ASSERT_TRUE(same.CreateItemWindow());
    same.Activate();
    EXPECT_EQ(same.GetLastScheduledRun(), COleDateTime(2024, 3, 5, 9, 0, 0));
    EXPECT_EQ(same.GetLastRunStart(), COleDateTime(2024, 3, 5, 9, 1, 0));
}

struct STOREDCASE {
    const char16_t* value;
    bool remembered;
};

TEST_F(RunItemTest, StoredValuesThatAreIgnored) {
    const CString signature = m_item.GetScheduleSignature();
    const STOREDCASE cases[] = {
        {u"2024-03-05 09:00===2024-03-05 09:01===", true},  // signature appended below
        {u"2024-03-05 09:00===2024-03-05 09:01===other*0*01", false},
        {u"=== 2024-03-05 09:01===", false},
        {u"2024-03-05 09:00======", false},
        {u"garbage===2024-03-05 09:01===", false},
        {u"no separators", false},
    };
    for (const STOREDCASE& c : cases) {
        SCOPED_TRACE(CString(c.value).GetLength());
        CString value = c.value;
        if (value.Right(3) == u"===") value += signature;
        ASSERT_TRUE(WriteRegStringCU(kLastRunsKey, kProfile, value));
        m_item.Activate();
        EXPECT_EQ(m_item.GetLastScheduledRun() == COleDateTime(2024, 3, 5, 9, 0, 0), c.remembered);
    }
}

TEST_F(RunItemTest, MachineHiveIsUsedWhenTheUserHasNoValue) {
    const CString value = u"2024-03-05 09:00===2024-03-05 09:00===" + m_item.GetScheduleSignature();
    ASSERT_TRUE(WriteRegStringLM(kLastRunsKey, kProfile, value));
    m_item.Activate();
    EXPECT_EQ(m_item.GetLastRunsHive(), 2);
    EXPECT_EQ(m_item.GetLastScheduledRun(), COleDateTime(2024, 3, 5, 9, 0, 0));
    CString machine;
    ASSERT_TRUE(ReadRegStringLM(kLastRunsKey, kProfile, machine));
    EXPECT_EQ(machine, value);
}

TEST_F(RunItemTest, SpringForwardRunIsDueOnceAfterTheSkippedHour) {
    // Daily at 02:30; on 2024-03-31 Berlin's clocks go from 02:00 CET to 03:00 CEST.
    SCHEDULEINFO daily;
    daily.nEveryDay = 1;
    daily.dtStart = COleDateTime(2024, 3, 1, 2, 30, 0);
    m_item.SetSchedule(daily);
    PinLocal(2024, 3, 31, 1, 58, 30);
    ASSERT_TRUE(m_item.Activate());
    Pump(1000);
    EXPECT_EQ(m_item.GetNextRunTime(), COleDateTime(2024, 3, 31, 2, 30, 0));
    PinLocal(2024, 3, 31, 1, 59, 0);
    m_item.Tick();
    PinLocal(2024, 3, 31, 3, 0, 0, 0, 2);
    m_item.Tick();
    PinLocal(2024, 3, 31, 3, 1, 0, 0, 2);
    m_item.Tick();
    PinLocal(2024, 3, 31, 3, 30, 0, 0, 2);
    m_item.Tick();
    ASSERT_EQ(m_item.m_launches.size(), 1u);
    EXPECT_EQ(m_item.m_launches[0], RUNREASON_SCHEDULED);
    EXPECT_EQ(m_item.GetNextRunTime(), COleDateTime(2024, 4, 1, 2, 30, 0));
}

TEST_F(RunItemTest, AccessRetryIntervalDoublesUpToAMinute) {
    ASSERT_TRUE(zbw::MakeHostDirs(m_root.Path("data")));
    m_item.SetAccessFolders(zbw::ToWindowsPath(m_root.Path("data")) + u"|1|");
    m_item.m_nAsAvailableFolders = 3;
    ASSERT_TRUE(m_item.Activate());
    EXPECT_EQ(m_item.AccessRetry(), 1000u);
    const UINT expected[] = {2000, 4000, 8000, 16000, 32000, 60000, 60000};
    for (UINT ms : expected) {
        m_item.FireAccessTimer(TIMER_ACCESS_RETRY);
        EXPECT_EQ(m_item.AccessRetry(), ms);
    }
}

TEST_F(RunItemTest, FoldersThatBecomeAccessibleStartAnImmediateRun) {
    const CString folder = zbw::ToWindowsPath(m_root.Path("data"));
    m_item.SetAccessFolders(folder + u"|1|");
    m_item.m_nAsAvailableFolders = 3;
    m_item.m_nAsAvailableFrequency = 1;
    EXPECT_FALSE(m_item.Activate());
    ASSERT_FALSE(m_item.m_states.empty());
    EXPECT_EQ(m_item.m_states.back().state, RUNSTATE_NOT_ACCESSIBLE);
    // A local folder is tested on the spot: no next check of the folder check to show.
    EXPECT_EQ(m_item.m_states.back().text, u"Folder not accessible: " + folder + u"\\");
    m_item.FireAccessTimer(TIMER_DEVICE_CHANGE);
    EXPECT_EQ(m_item.m_states.back().text,
              u"Folder not accessible: " + folder + u"\\  (next check in 1 seconds)");
    ASSERT_TRUE(zbw::MakeHostDirs(m_root.Path("data")));
    m_item.FireAccessTimer(TIMER_ACCESS_RETRY);
    EXPECT_EQ(m_item.GetState(), RUNSTATE_ENABLED);
    ASSERT_EQ(m_item.m_launches.size(), 1u);
    EXPECT_EQ(m_item.m_launches[0], RUNREASON_ACCESSIBLE);
}

TEST_F(RunItemTest, NetworkFoldersAreCheckedByTheJobNotOnTheMainThread) {
    // Local folders first: the job pauses 10 ms after each, so its first pass lasts.
    CString list;
    for (int i = 0; i < 30; ++i) {
        const std::string name = "local" + std::to_string(i);
        ASSERT_TRUE(zbw::MakeHostDirs(m_root.Path(name)));
        list += zbw::ToWindowsPath(m_root.Path(name)) + u"|0|";
    }
    ASSERT_TRUE(zbw::MapShare(u"srv", u"share", m_root.Path("share")));
    m_item.SetAccessFolders(list + u"\\\\srv\\share\\data|1|");
    m_item.m_nAsAvailableFolders = 3;
    EXPECT_FALSE(m_item.Activate());
    ASSERT_FALSE(m_item.m_states.empty());
    EXPECT_EQ(m_item.m_states.back().state, RUNSTATE_NOT_ACCESSIBLE);
    EXPECT_EQ(m_item.m_states.back().text, CString(u"Checking folders accessibility..."));
    // The job's first pass fails; the access timer shows its result with the job's next check.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (m_item.m_states.back().text.Find(u"Folder not accessible") < 0 &&
           std::chrono::steady_clock::now() < deadline) {
        Sleep(20);
        m_item.FireAccessTimer(TIMER_DEVICE_CHANGE);
    }
    EXPECT_EQ(m_item.m_states.back().text,
              CString(u"Folder not accessible: \\\\srv\\share\\data\\  (next check in 5 seconds)"));
}

TEST_F(RunItemTest, DeviceChangeArmsAOneShotCheck) {
    ASSERT_TRUE(zbw::MakeHostDirs(m_root.Path("data")));
    m_item.SetAccessFolders(zbw::ToWindowsPath(m_root.Path("data")) + u"|1|");
    m_item.m_nAsAvailableFolders = 3;
    ASSERT_TRUE(m_item.Activate());
    Pump(1000);
    ASSERT_EQ(rmdir(m_root.Path("data").c_str()), 0);
    m_item.SendMessage(WM_DEVICECHANGE, 0, 0);
    zbw::AdvanceClock(3000);
    Pump(2000, [&] { return m_item.GetState() == RUNSTATE_NOT_ACCESSIBLE; });
    EXPECT_EQ(m_item.GetState(), RUNSTATE_NOT_ACCESSIBLE);
}

struct PROFILEAFTERCASE {
    const char16_t* after;
    bool known;
    const char16_t* text;
};

TEST_F(RunItemTest, ProfileAfterMustExistAndDiffer) {
    const PROFILEAFTERCASE cases[] = {
        {u"C:\\profiles\\next.zbp", true, nullptr},
        {u"C:\\profiles\\gone.zbp", false,
         u"Profile C:\\profiles\\gone.zbp, to run after this one, not found in ZBEngine list"},
        {u"c:\\PROFILES\\docs.zbp", true,
         u"Cannot run c:\\PROFILES\\docs.zbp after this one: same profile error."},
    };
    for (const PROFILEAFTERCASE& c : cases) {
        SCOPED_TRACE(CString(c.after).GetLength());
        m_owner.m_names = {kProfile};
        if (c.known) m_owner.m_names.push_back(c.after);
        m_item.SetProfileAfter(c.after);
        m_item.m_states.clear();
        EXPECT_EQ(m_item.Activate(), c.text == nullptr);
        ASSERT_FALSE(m_item.m_states.empty());
        if (c.text != nullptr) {
            EXPECT_EQ(m_item.m_states[0].state, RUNSTATE_ERROR);
            EXPECT_EQ(m_item.m_states[0].text, CString(c.text));
        } else {
            EXPECT_EQ(m_item.m_states[0].state, RUNSTATE_ENABLED);
        }
    }
}

TEST_F(RunItemTest, InactiveItemDoesNotRun) {
    EXPECT_TRUE(m_item.Run(RUNREASON_MANUAL));
    EXPECT_TRUE(m_item.m_launches.empty());
    ASSERT_TRUE(m_item.Activate());
    EXPECT_TRUE(m_item.Run(RUNREASON_MANUAL));
    EXPECT_EQ(m_item.m_launches.size(), 1u);
    EXPECT_EQ(m_item.GetLastRunStart(), COleDateTime(2024, 3, 5, 10, 7, 0));
}

TEST_F(RunItemTest, ChangesRunAtOnceOrGateTheScheduledRun) {
    m_item.m_bAsSoonAsChanged = true;
    ASSERT_TRUE(m_item.Activate());
    Pump(1000);
    m_item.Changes();
    ASSERT_EQ(m_item.m_launches.size(), 1u);
    EXPECT_EQ(m_item.m_launches[0], RUNREASON_CHANGES);

    m_item.m_bAsSoonAsChanged = false;
    m_item.m_bOnlyIfChanged = true;
    m_item.m_launches.clear();
    m_item.Activate();
    Pump(1000);
    PinLocal(2024, 3, 5, 11, 0, 0);
    m_item.Tick();
    EXPECT_TRUE(m_item.m_launches.empty());
    m_item.Changes();
    PinLocal(2024, 3, 5, 12, 0, 0);
    m_item.Tick();
    ASSERT_EQ(m_item.m_launches.size(), 1u);
    EXPECT_EQ(m_item.m_launches[0], RUNREASON_CHANGES);
}

TEST_F(RunItemTest, FailedRunsRerunUpToTheLimit) {
    m_item.m_nRerunMinutes = 1;
    m_item.m_nMaxReruns = 2;
    ASSERT_TRUE(m_item.Activate());
    Pump(1000);
    ASSERT_TRUE(m_item.Run(RUNREASON_SCHEDULED));
    for (int minute = 8; minute <= 11; ++minute) {
        PinLocal(2024, 3, 5, 10, minute - 1, 30);
        m_item.EndRun(1);
        PinLocal(2024, 3, 5, 10, minute, 0);
        m_item.Tick();
    }
    // Scheduled run, then two reruns; the third failure waits for 11:00.
    ASSERT_EQ(m_item.m_launches.size(), 3u);
    EXPECT_EQ(m_item.m_launches[1], RUNREASON_RERUN);
    EXPECT_EQ(m_item.m_launches[2], RUNREASON_RERUN);
    EXPECT_EQ(m_item.GetNextRunTime(), COleDateTime(2024, 3, 5, 11, 0, 0));
    EXPECT_EQ(m_item.m_acknowledged, 4);
}

TEST_F(RunItemTest, StoppedRunIsNeverRerun) {
    m_item.m_nRerunMinutes = 1;
    ASSERT_TRUE(m_item.Activate());
    Pump(1000);
    m_item.Run(RUNREASON_MANUAL);
    m_item.EndRun(4);
    EXPECT_EQ(m_item.GetNextRunTime(), COleDateTime(2024, 3, 5, 11, 0, 0));
}

TEST_F(RunItemTest, EndOfRunStartsTheProfileAfter) {
    m_owner.m_names = {kProfile, u"C:\\profiles\\next.zbp"};
    m_item.SetProfileAfter(u"C:\\profiles\\next.zbp");
    ASSERT_TRUE(m_item.Activate());
    m_item.Run(RUNREASON_MANUAL);
    m_item.EndRun(0);
    ASSERT_EQ(m_owner.m_started.size(), 1u);
    EXPECT_EQ(m_owner.m_started[0], CString(u"C:\\profiles\\next.zbp"));
    EXPECT_EQ(m_item.m_executeEvents, std::vector<int>{EXECNOTIFY_ENDED});
    CProfileRunList list;
    m_item.GetRunList(list);
    EXPECT_EQ(list.GetSize(), 0);

    m_owner.m_answer = RUNPROFILE_NOT_FOUND;
    m_item.Run(RUNREASON_MANUAL);
    m_item.EndRun(0);
    EXPECT_EQ(m_item.GetState(), RUNSTATE_DISABLED);
    EXPECT_EQ(
        m_item.m_states.back().text,
        CString(u"Profile C:\\profiles\\next.zbp, to run after this one, not found in ZBEngine list: manual "
                u"reactivation required"));
}

TEST_F(RunItemTest, ChainStopsAfterAStoppedRunAndSkipsOnError) {
    m_owner.m_names = {kProfile, u"C:\\profiles\\next.zbp"};
    m_item.SetProfileAfter(u"C:\\profiles\\next.zbp");
    m_item.m_bNotOnError = true;
    ASSERT_TRUE(m_item.Activate());
    m_item.Run(RUNREASON_MANUAL);
    m_item.EndRun(1);
    m_item.Run(RUNREASON_MANUAL);
    m_item.EndRun(4);
    EXPECT_TRUE(m_owner.m_started.empty());
}

TEST(RunItemTextTest, RunReasonTexts) {
    const struct {
        int reason;
        const char16_t* text;
    } cases[] = {{0, u"(Manual Run)"},
                 {1, u"(Scheduled Run)"},
                 {2, u"(Missed Run)"},
                 {3, u"(Changes Detected)"},
                 {4, u"(After Error Rerun)"},
                 {5, u"(Source/Target Accessible)"},
                 {6, u"(At Startup)"},
                 {7, u"Other"},
                 {-1, u"Other"}};
    for (const auto& c : cases) EXPECT_EQ(CRunItem::GetRunReasonText(c.reason), CString(c.text));
}

}  // namespace

namespace {

TEST_F(RunItemTest, StopDropsPendingChangeReportsForThreeSeconds) {
    m_item.m_bAsSoonAsChanged = true;
    ASSERT_TRUE(m_item.Activate());
    Pump(1000);
    ASSERT_TRUE(m_item.PostMessage(WM_RUNITEM_CHANGES, 0, 0));
    EXPECT_TRUE(m_item.Stop());
    Pump(1000);
    m_item.Changes();
    EXPECT_TRUE(m_item.m_launches.empty());
    zbw::AdvanceClock(3001);
    m_item.Changes();
    ASSERT_EQ(m_item.m_launches.size(), 1u);
    EXPECT_EQ(m_item.m_launches[0], RUNREASON_CHANGES);
}

TEST_F(RunItemTest, ChainTextNamesThePreviousProfile) {
    CProfileRunList list;
    AddProfileToRunList(list, u"C:\\a.zbp");
    AddProfileToRunList(list, kProfile);
    list[1].m_nAddedAsProfileAfter = 1;
    list.SetCurrentIndex(1);
    m_item.SetRunListForTest(list);
    EXPECT_EQ(m_item.GetChainText(), CString(u"- After C:\\a.zbp "));
    list.SetCurrentIndex(0);
    m_item.SetRunListForTest(list);
    EXPECT_EQ(m_item.GetChainText(), CString());
}

}  // namespace

namespace {

TEST_F(RunItemTest, DueMinuteThatPassedWhileTheMainThreadWasHeldUpStillRuns) {
    ASSERT_TRUE(m_item.Activate());
    Pump(1000);
    PinLocal(2024, 3, 5, 10, 59, 0);
    m_item.Tick();
    // The next tick comes only at 11:02: the 11:00 minute passed while the item was ticking, so it
    // is run as scheduled, not taken for a missed run.
    PinLocal(2024, 3, 5, 11, 2, 10);
    m_item.Tick();
    ASSERT_EQ(m_item.m_launches.size(), 1u);
    EXPECT_EQ(m_item.m_launches[0], RUNREASON_SCHEDULED);
    EXPECT_EQ(m_item.GetNextRunTime(), COleDateTime(2024, 3, 5, 12, 0, 0));
}

TEST_F(RunItemTest, DueMinuteThatPassedBeforeTheFirstTickIsAMissedRun) {
    // Last run at 10:00; the item is armed at 11:02, after the 11:00 run was due.
    const CString value = u"2024-03-05 10:00===2024-03-05 10:00===" + m_item.GetScheduleSignature();
    ASSERT_TRUE(WriteRegStringCU(kLastRunsKey, kProfile, value));
    PinLocal(2024, 3, 5, 11, 2, 10);
    ASSERT_TRUE(m_item.Activate());
    Pump(1000);
    EXPECT_TRUE(m_item.m_launches.empty());
    EXPECT_EQ(m_item.GetNextRunTime(), COleDateTime(2024, 3, 5, 12, 0, 0));
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
    }
    return count;
}

// An engine schedules hundreds of profiles: an item that waits for its time holds no descriptor.
TEST_F(RunItemTest, IdleItemsHoldNoDescriptors) {
    ASSERT_TRUE(m_item.Activate());
    Pump(100);
    const int before = OpenDescriptors();
    std::vector<std::unique_ptr<CRunItem>> items;
    for (int n = 0; n < 3; ++n) {
        auto item = std::make_unique<CRunItem>();
        item->SetProfileName(kProfile + CString(u'0' + n, 1));
        item->SetSchedule(Hourly());
        item->SetLaunchCommand(LAUNCHCOMMAND{u"/bin/true", CString()});
        ASSERT_TRUE(item->CreateItemWindow());
        ASSERT_TRUE(item->Activate());
        items.push_back(std::move(item));
    }
    Pump(100);
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
