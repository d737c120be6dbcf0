// The event-log writer over the emulated event log: source registration, texts, rights, races; fakes a
// temporary emulation root and a read-only machine hive.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/EventLog.h"
#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Accounts.h"
#include "platform/win32/EventLogApi.h"
#include "platform/win32/Registry.h"
#include "tests/support/TestRoot.h"

namespace {

const char16_t kSourceKey[] = u"SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\ZBEngine";

class EventLogWriterTest : public ::testing::Test {
   protected:
    std::vector<zbw::EVENTRECORD> Events() {
        std::vector<zbw::EVENTRECORD> records;
        int bad = -1;
        EXPECT_TRUE(zbw::ReadEventLog(&records, &bad));
        EXPECT_EQ(bad, 0);
        return records;
    }

    CTestRoot m_root;
    CEventLog m_log;
};

TEST_F(EventLogWriterTest, OpenRegistersTheSourceAndEventsCarryTheText) {
    ASSERT_TRUE(m_log.OpenEventSource(u"ZBEngine"));

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    char16_t file[600] = {};
    DWORD size = sizeof file - sizeof(char16_t);
    DWORD type = 0;
    EXPECT_EQ(
        RegQueryValueExW(key, u"EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(file), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    DWORD types = 0;
    size = sizeof types;
    EXPECT_EQ(
        RegQueryValueExW(key, u"TypesSupported", nullptr, &type, reinterpret_cast<BYTE*>(&types), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(types, 31u);
    RegCloseKey(key);
    char16_t program[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    CString folder(program);
    folder = folder.Left(folder.ReverseFind(u'\\'));
    EXPECT_EQ(CString(file), folder + u"\\zbengine.exe");

    const struct {
        WORD type;
        LPCWSTR text;
    } cases[] = {{EVENTLOG_ERROR_TYPE, u"Failed creating/opening \"C:\\db\": disk full"},
                 {EVENTLOG_WARNING_TYPE, u"Load failed."},
                 {EVENTLOG_INFORMATION_TYPE, u"[Profile] Profile finished. Result \"OK\". Exit Code: 0."}};
    for (const auto& c : cases) EXPECT_TRUE(m_log.WriteEventLog(c.type, c.text));
    const std::vector<zbw::EVENTRECORD> events = Events();
    ASSERT_EQ(events.size(), 3u);
    for (size_t i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].source, CString(u"ZBEngine"));
        EXPECT_EQ(events[i].type, cases[i].type);
        EXPECT_EQ(events[i].eventId, 1u);
        EXPECT_EQ(events[i].user, zbw::CurrentUserSidText());
        ASSERT_EQ(events[i].strings.size(), 1u);
        EXPECT_EQ(events[i].strings[0], CString(cases[i].text));
    }
}

TEST_F(EventLogWriterTest, WithoutMachineRightsNoEventIsWritten) {
    setenv("ZBW_HKLM_READONLY", "1", 1);
    EXPECT_FALSE(m_log.InstallEventSource(u"ZBEngine"));
    EXPECT_FALSE(m_log.OpenEventSource(u"ZBEngine"));
    EXPECT_FALSE(m_log.WriteEventLog(EVENTLOG_ERROR_TYPE, u"lost"));
    EXPECT_TRUE(Events().empty());

    // A source opened while the key could be written closes on a failed reopen.
    unsetenv("ZBW_HKLM_READONLY");
    ASSERT_TRUE(m_log.OpenEventSource(u"ZBEngine"));
    setenv("ZBW_HKLM_READONLY", "1", 1);
    EXPECT_FALSE(m_log.OpenEventSource(u"Other"));
    EXPECT_FALSE(m_log.WriteEventLog(EVENTLOG_ERROR_TYPE, u"lost"));
    EXPECT_TRUE(Events().empty());
}

TEST_F(EventLogWriterTest, RefusedArgumentsChangeNothing) {
    EXPECT_FALSE(m_log.WriteEventLog(EVENTLOG_ERROR_TYPE, u"before open"));
    EXPECT_FALSE(m_log.OpenEventSource(nullptr));
    EXPECT_FALSE(m_log.OpenEventSource(u""));
    EXPECT_FALSE(m_log.InstallEventSource(nullptr));
    EXPECT_FALSE(m_log.InstallEventSource(u""));
    ASSERT_TRUE(m_log.OpenEventSource(u"ZBEngine"));
    // An empty name keeps the source that is open.
    EXPECT_FALSE(m_log.OpenEventSource(u""));
    EXPECT_FALSE(m_log.WriteEventLog(EVENTLOG_ERROR_TYPE, nullptr));
    EXPECT_TRUE(m_log.WriteEventLog(EVENTLOG_WARNING_TYPE, u"still open"));
    const std::vector<zbw::EVENTRECORD> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].strings.at(0), CString(u"still open"));
}

TEST_F(EventLogWriterTest, SecondOpenReplacesTheSource) {
    ASSERT_TRUE(m_log.OpenEventSource(u"First"));
    EXPECT_TRUE(m_log.WriteEventLog(EVENTLOG_INFORMATION_TYPE, u"one"));
    ASSERT_TRUE(m_log.OpenEventSource(u"Second"));
    EXPECT_TRUE(m_log.WriteEventLog(EVENTLOG_INFORMATION_TYPE, u"two"));
    const std::vector<zbw::EVENTRECORD> events = Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].source, CString(u"First"));
    EXPECT_EQ(events[1].source, CString(u"Second"));
}

// The source's key is named after it, and the registry takes key names of up to 255 characters:
// a longer name opens no source and writes nothing, as on Windows.
TEST_F(EventLogWriterTest, NamesLongerThanAKeyNameOpenNoSource) {
    const std::u16string longest(255, u'n');
    ASSERT_TRUE(m_log.OpenEventSource(longest.c_str()));
    EXPECT_TRUE(m_log.WriteEventLog(EVENTLOG_INFORMATION_TYPE, u"x"));
    for (size_t length : {256, 600}) {
        const std::u16string name(length, u'n');
        EXPECT_FALSE(m_log.OpenEventSource(name.c_str())) << length;
        EXPECT_FALSE(m_log.WriteEventLog(EVENTLOG_INFORMATION_TYPE, u"y")) << length;
    }
    const std::vector<zbw::EVENTRECORD> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].source, CString(longest.c_str()));
}

TEST_F(EventLogWriterTest, WritesRaceSafelyWithReopening) {
    ASSERT_TRUE(m_log.OpenEventSource(u"ZBEngine"));
    std::atomic<bool> stop{false};
    std::atomic<int> written{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t) {
        writers.emplace_back([&] {
            for (int i = 0; i < 40; ++i)
                written += m_log.WriteEventLog(EVENTLOG_INFORMATION_TYPE, u"w") ? 1 : 0;
        });
    }
    std::thread reopener([&] {
        for (int i = 0; i < 20 && !stop; ++i) m_log.OpenEventSource(i % 2 ? u"ZBEngine" : u"Other");
    });
    for (std::thread& w : writers) w.join();
    stop = true;
    reopener.join();
    // Every write that reported success is in the log, and only those.
    EXPECT_EQ(Events().size(), static_cast<size_t>(written.load()));
    EXPECT_EQ(written.load(), 120);
}

}  // namespace
