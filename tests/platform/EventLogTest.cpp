// The emulated event log: records, file format, rights, concurrent writers; fakes a temporary emulation root.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/Accounts.h"
#include "platform/win32/EventLogApi.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Token.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestRoot.h"

namespace {

std::vector<BYTE> UserSid() {
    std::vector<BYTE> sid;
    zbw::SidFromText(zbw::CurrentUserSidText(), &sid);
    return sid;
}

class EventLogTest : public ::testing::Test {
   protected:
    void SetUp() override {
        m_source = RegisterEventSourceW(nullptr, u"ZBEngine");
        ASSERT_NE(m_source, nullptr);
    }
    void TearDown() override {
        if (m_source) DeregisterEventSource(m_source);
    }

    BOOL Report(WORD type, std::vector<LPCWSTR> strings, PSID sid = nullptr, DWORD id = 1) {
        return ReportEventW(m_source, type, 0, id, sid, static_cast<WORD>(strings.size()), 0,
                            strings.empty() ? nullptr : strings.data(), nullptr);
    }

    std::vector<zbw::EVENTRECORD> Read() {
        std::vector<zbw::EVENTRECORD> records;
        int bad = -1;
        EXPECT_TRUE(zbw::ReadEventLog(&records, &bad));
        EXPECT_EQ(bad, 0);
        return records;
    }

    CTestRoot m_root;
    HANDLE m_source = nullptr;
};

TEST_F(EventLogTest, EventsReadBackAsWritten) {
    struct CASE {
        WORD type;
        std::vector<LPCWSTR> strings;
        DWORD id;
    };
    const std::vector<CASE> cases = {
        {EVENTLOG_INFORMATION_TYPE, {u"Engine started."}, 1},
        {EVENTLOG_ERROR_TYPE, {u"two\r\nlines\tand a tab"}, 1},
        {EVENTLOG_WARNING_TYPE, {u"back\\slash \\n not a break", u"second"}, 7},
        {EVENTLOG_AUDIT_SUCCESS, {u"\u00FCml\u00E4ut \u20AC \U0001F600", u"\x01\x1F"}, 0xC0000001u},
        {EVENTLOG_AUDIT_FAILURE, {u""}, 2},
        {EVENTLOG_SUCCESS, {}, 3},
    };
    std::vector<BYTE> sid = UserSid();
    for (const CASE& c : cases) ASSERT_TRUE(Report(c.type, c.strings, sid.data(), c.id));

    const std::vector<zbw::EVENTRECORD> records = Read();
    ASSERT_EQ(records.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i].source, CString(u"ZBEngine"));
        EXPECT_EQ(records[i].type, cases[i].type);
        EXPECT_EQ(records[i].eventId, cases[i].id);
        EXPECT_EQ(records[i].user, zbw::CurrentUserSidText());
        ASSERT_EQ(records[i].strings.size(), cases[i].strings.size());
        for (size_t s = 0; s < cases[i].strings.size(); ++s)
            EXPECT_EQ(records[i].strings[s], CString(cases[i].strings[s]));
        EXPECT_EQ(records[i].time.size(), 24u) << records[i].time;
    }
    // One line per event, whatever the texts hold.
    const std::string file = ReadHostFile(zbw::EventLogPath());
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), static_cast<long>(cases.size()));
}

TEST_F(EventLogTest, FileFormatIsTabSeparatedUtf8) {
    ASSERT_TRUE(Report(EVENTLOG_WARNING_TYPE, {u"a\tb"}));
    const std::string line = ReadHostFile(zbw::EventLogPath());
    const size_t first = line.find('\t');
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(line.substr(first), "\tZBEngine\tWarning\t1\t-\ta\\tb\n");
    EXPECT_EQ(line[first - 1], 'Z');
}

TEST_F(EventLogTest, RefusedCallsWriteNothing) {
    std::vector<BYTE> badSid = {2, 1, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0};
    LPCWSTR withNull[2] = {u"x", nullptr};
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    struct CASE {
        const char* what;
        HANDLE handle;
        WORD type;
        PSID sid;
        WORD count;
        LPCWSTR* strings;
        DWORD error;
    };
    const CASE cases[] = {
        {"null handle", nullptr, EVENTLOG_ERROR_TYPE, nullptr, 0, nullptr, ERROR_INVALID_HANDLE},
        {"not an event source", event, EVENTLOG_ERROR_TYPE, nullptr, 0, nullptr, ERROR_INVALID_HANDLE},
        {"unknown type", m_source, 3, nullptr, 0, nullptr, ERROR_INVALID_PARAMETER},
        {"invalid SID", m_source, EVENTLOG_ERROR_TYPE, badSid.data(), 0, nullptr, ERROR_INVALID_PARAMETER},
        {"null string", m_source, EVENTLOG_ERROR_TYPE, nullptr, 2, withNull, ERROR_INVALID_PARAMETER},
        {"strings missing", m_source, EVENTLOG_ERROR_TYPE, nullptr, 1, nullptr, ERROR_INVALID_PARAMETER},
    };
    for (const CASE& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(ReportEventW(c.handle, c.type, 0, 1, c.sid, c.count, 0, c.strings, nullptr)) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
    }
    CloseHandle(event);
    EXPECT_TRUE(Read().empty());
}

TEST_F(EventLogTest, SourceHandleLifeCycle) {
    EXPECT_EQ(RegisterEventSourceW(nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegisterEventSourceW(nullptr, u""), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegisterEventSourceW(u"\\\\otherhost", u"ZBEngine"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);

    // An empty server name is the local computer, and an unregistered source still writes.
    HANDLE other = RegisterEventSourceW(u"", u"Never Installed");
    ASSERT_NE(other, nullptr);
    LPCWSTR text[1] = {u"hello"};
    EXPECT_TRUE(ReportEventW(other, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 1, 0, text, nullptr));
    EXPECT_TRUE(DeregisterEventSource(other));
    EXPECT_FALSE(DeregisterEventSource(other));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReportEventW(other, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 1, 0, text, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(DeregisterEventSource(event));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(event));

    const std::vector<zbw::EVENTRECORD> records = Read();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].source, CString(u"Never Installed"));
    EXPECT_TRUE(records[0].user.IsEmpty());
}

TEST_F(EventLogTest, ConcurrentWritersNeverMixLines) {
    const int kThreads = 4;
    const int kEvents = 50;
    const std::u16string text(300, u'x');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            HANDLE source = RegisterEventSourceW(nullptr, u"Writer");
            LPCWSTR strings[1] = {text.c_str()};
            for (int i = 0; i < kEvents; ++i)
                ReportEventW(source, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
            DeregisterEventSource(source);
        });
    }
    for (std::thread& t : threads) t.join();
    const std::vector<zbw::EVENTRECORD> records = Read();
    ASSERT_EQ(records.size(), static_cast<size_t>(kThreads * kEvents));
    for (const zbw::EVENTRECORD& r : records) EXPECT_EQ(r.strings.at(0), CString(text.c_str()));
}

TEST_F(EventLogTest, FailedWriteLeavesNoPartOfTheLine) {
    ASSERT_TRUE(Report(EVENTLOG_INFORMATION_TYPE, {u"first"}));
    const std::string before = ReadHostFile(zbw::EventLogPath());
    const std::u16string longText(500, u'y');
    BOOL written = FALSE;
    DWORD error = ERROR_SUCCESS;
    {
        // A file-size limit just past the current end makes the next line fail part-way.
        CFileSizeLimit limit(before.size() + 40);
        written = Report(EVENTLOG_INFORMATION_TYPE, {longText.c_str()});
        error = GetLastError();
    }

    EXPECT_FALSE(written);
    EXPECT_NE(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadHostFile(zbw::EventLogPath()), before);
    ASSERT_TRUE(Report(EVENTLOG_INFORMATION_TYPE, {u"after"}));
    EXPECT_EQ(Read().size(), 2u);
}

TEST(EventLogLineTest, LinesThatAreNotEventsAreRefused) {
    zbw::EVENTRECORD record;
    const char* const bad[] = {
        "",
        "2024-01-01T00:00:00.000Z\tZBEngine\tError\t1",              // no user field
        "2024-01-01T00:00:00.000Z\tZBEngine\tFatal\t1\t-\tx",        // unknown type
        "2024-01-01T00:00:00.000Z\tZBEngine\tError\t-1\t-\tx",       // bad event id
        "2024-01-01T00:00:00.000Z\tZBEngine\tError\t4294967296\t-",  // id out of range
        "2024-01-01T00:00:00.000Z\t\tError\t1\t-\tx",                // no source
        "2024-01-01T00:00:00.000Z\tZBEngine\tError\t1\t-\tend\\",    // escape cut off
        "2024-01-01T00:00:00.000Z\tZBEngine\tError\t1\t-\t\\q",      // unknown escape
        "2024-01-01T00:00:00.000Z\tZBEngine\tError\t1\t-\t\\x4",     // short hex escape
    };
    for (const char* line : bad) EXPECT_FALSE(zbw::ParseEventLine(line, &record)) << line;
    ASSERT_TRUE(zbw::ParseEventLine("T\tA\\x41\tAudit Failure\t4294967295\tS-1-5-18\t\\x7F", &record));
    EXPECT_EQ(record.source, CString(u"AA"));
    EXPECT_EQ(record.type, EVENTLOG_AUDIT_FAILURE);
    EXPECT_EQ(record.eventId, 4294967295u);
    EXPECT_EQ(record.user, CString(u"S-1-5-18"));
    ASSERT_EQ(record.strings.size(), 1u);
    EXPECT_EQ(record.strings[0], CString(u"\x7F"));
}

TEST(EventLogFileTest, MissingFileIsAnEmptyLogAndBadLinesAreCounted) {
    CTestRoot root;
    std::vector<zbw::EVENTRECORD> records(1);
    int bad = -1;
    EXPECT_TRUE(zbw::ReadEventLog(&records, &bad));
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(bad, 0);
    ASSERT_TRUE(WriteHostFile(zbw::EventLogPath(),
                              "garbage\nT\tS\tError\t1\t-\tkept\n\nT\tS\tWarning\t2\t-\tlast without break"));
    EXPECT_TRUE(zbw::ReadEventLog(&records, &bad));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].strings.at(0), CString(u"last without break"));
    EXPECT_EQ(bad, 2);
}

// The reader tool, run as a separate process on the test's emulation root.
class EventLogToolTest : public EventLogTest {
   protected:
    int Run(const std::string& args, std::string* out) {
        const std::string command = "timeout 60 " + BinDir() + "/eventlog " + args + " 2>/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return -1;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out->append(buf, n);
        const int status = pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(EventLogToolTest, PrintsEntriesFilteredBySource) {
    std::string out;
    EXPECT_EQ(Run("", &out), 0);
    EXPECT_EQ(out, "");

    std::vector<BYTE> sid = UserSid();
    ASSERT_TRUE(Report(EVENTLOG_ERROR_TYPE, {u"Profile finished.\r\nExit Code: 2."}, sid.data()));
    HANDLE other = RegisterEventSourceW(nullptr, u"Other");
    LPCWSTR text[2] = {u"from", u"elsewhere"};
    ASSERT_TRUE(ReportEventW(other, EVENTLOG_WARNING_TYPE, 0, 9, nullptr, 2, 0, text, nullptr));
    DeregisterEventSource(other);

    out.clear();
    ASSERT_EQ(Run("/source zbengine", &out), 0);
    const std::string user = zbw::ToUtf8(zbw::CurrentUserSidText());
    const size_t blank = out.find(' ');
    ASSERT_NE(blank, std::string::npos);
    EXPECT_EQ(out.substr(blank), " Error ZBEngine 1 " + user + ": Profile finished.\\r\\nExit Code: 2.\n");

    out.clear();
    ASSERT_EQ(Run("", &out), 0);
    EXPECT_NE(out.find(" Warning Other 9 -: from elsewhere\n"), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2);

    out.clear();
    EXPECT_EQ(Run("/bogus", &out), 1);
    EXPECT_EQ(Run("/source", &out), 1);
}

}  // namespace
