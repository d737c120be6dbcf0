// CFileChangeEvent against real files. The watcher under test delivers its callback as the run
// item's watcher does: a message sent to a window of the test thread, which pumps in bounded
// real-time loops. File times are set explicitly, so no test waits for the clock to tick.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dovrane/threads/FileChangeEvent.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "tests/platform/MessageTestWindow.h"
#include "tests/support/TestRoot.h"

namespace {

constexpr UINT kChangedMessage = WM_USER + 104;
constexpr int kBoundMs = 8000;
// Longer than the 1000 ms settle time: an examination that was coming has come.
constexpr int kQuietMs = 1600;

bool PumpReal(const std::function<bool()>& done, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

struct REPORT {
    int code;
    std::string path;
};

// Sends each change to the owner window, as the run item's profile watcher does.
class CSendingWatcher : public CFileChangeEvent {
   public:
    explicit CSendingWatcher(HWND target) : m_target(target) {}
    ~CSendingWatcher() override {
        Stop();
        WaitForThreadEnd();
    }
    void OnFileChange(int code, const CString& path) override {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_reports.push_back(REPORT{code, zbw::ToUtf8(path)});
        }
        SendMessageW(m_target, kChangedMessage, static_cast<WPARAM>(code), 0);
    }
    std::vector<REPORT> Reports() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_reports;
    }

   private:
    HWND m_target;
    std::mutex m_lock;
    std::vector<REPORT> m_reports;
};

class FileChangeWatcherTest : public ::testing::Test {
   public:
    void SetUp() override {
        for (const char* dir : {"a", "b"}) ASSERT_EQ(mkdir(m_root.Path(dir).c_str(), 0755), 0);
        m_base = std::time(nullptr) - 1000;
        for (const char* file : {"a/x.txt", "a/z_marker.txt", "b/y.txt"}) SetTime(file, 0);
        m_hwnd = MakeRecordingWindow(&m_recorder);
        ASSERT_NE(m_hwnd, nullptr);
        m_watcher = std::make_unique<CSendingWatcher>(m_hwnd);
    }
    void TearDown() override {
        m_watcher.reset();
        DestroyWindow(m_hwnd);
        DiscardMessages();
    }

    std::string Host(const std::string& relative) const { return m_root.Path(relative); }
    CString Win(const std::string& relative) const { return zbw::ToWindowsPath(Host(relative)); }
    // Writes the file (made when missing) and sets its last-write time to the base plus offset.
    void SetTime(const std::string& relative, int offsetSeconds) const {
        int fd = open(Host(relative).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, "x", 1), 1);
        close(fd);
        timespec times[2] = {{m_base, 0}, {m_base + offsetSeconds, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, Host(relative).c_str(), times, 0), 0);
    }
    size_t Count() { return m_recorder.Count(kChangedMessage); }
    bool WaitForReports(size_t count, int ms = kBoundMs) {
        return PumpReal([&] { return Count() >= count; }, ms);
    }
    // Waits until the watch thread sees changes in the folder of each file.
    bool WatchInPlace(std::initializer_list<const char*> files) {
        return PumpReal(
            [&] {
                for (const char* file : files) {
                    if (!m_watcher->IsWatchInPlace(CFileInfo::FolderOf(Win(file)))) return false;
                }
                return true;
            },
            kBoundMs);
    }
    std::vector<REPORT> ReportsOf(const std::string& relative) {
        std::vector<REPORT> out;
        for (const REPORT& report : m_watcher->Reports()) {
            if (report.path == zbw::ToUtf8(Win(relative))) out.push_back(report);
        }
        return out;
    }
    void Watch(std::initializer_list<const char*> files) {
        for (const char* file : files) m_watcher->AddFile(Win(file));
        ASSERT_TRUE(m_watcher->Start());
        ASSERT_TRUE(WatchInPlace(files));
    }

    CTestRoot m_root;
    CRecorder m_recorder;
    HWND m_hwnd = nullptr;
    time_t m_base = 0;
    std::unique_ptr<CSendingWatcher> m_watcher;
};

TEST_F(FileChangeWatcherTest, ReportsWhatChangedOnce) {
    struct CASE {
        const char* name;
        std::function<void(FileChangeWatcherTest&)> change;
        std::vector<int> codes;
        int filesLeft;
    };
    const CASE cases[] = {
        {"later time", [](FileChangeWatcherTest& t) { t.SetTime("a/x.txt", 10); }, {FILECHANGE_CHANGED}, 2},
        {"older time", [](FileChangeWatcherTest& t) { t.SetTime("a/x.txt", -10); }, {}, 2},
        {"same time rewritten", [](FileChangeWatcherTest& t) { t.SetTime("a/x.txt", 0); }, {}, 2},
        {"deleted",
         [](FileChangeWatcherTest& t) { unlink(t.Host("a/x.txt").c_str()); },
         {FILECHANGE_GONE},
         1},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        // Each case starts from fresh files and a fresh watcher.
        TearDown();
        std::system(("rm -rf '" + Host("a") + "' '" + Host("b") + "'").c_str());
        SetUp();
        const size_t earlier = Count();  // the recorder outlives the cases
        Watch({"a/x.txt", "a/z_marker.txt"});
        c.change(*this);
        // The marker sorts last, so its report closes the examination of the folder.
        SetTime("a/z_marker.txt", 10);
        // A report is recorded before its message is sent: wait until every message has arrived.
        ASSERT_TRUE(PumpReal(
            [&] {
                return !ReportsOf("a/z_marker.txt").empty() &&
                       Count() - earlier == m_watcher->Reports().size();
            },
            kBoundMs));
        std::vector<REPORT> reports = ReportsOf("a/x.txt");
        ASSERT_EQ(reports.size(), c.codes.size());
        for (size_t i = 0; i < reports.size(); ++i) EXPECT_EQ(reports[i].code, c.codes[i]);
        EXPECT_EQ(m_watcher->GetFileCount(), c.filesLeft);
        const std::vector<SEEN_MESSAGE> seen = m_recorder.Seen(kChangedMessage, kChangedMessage);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back().wParam, static_cast<WPARAM>(FILECHANGE_CHANGED));
    }
}

TEST_F(FileChangeWatcherTest, MissingFileIsReportedWhenItAppears) {
    Watch({"a/later.txt"});
    EXPECT_EQ(m_watcher->GetFolderCount(), 1);
    SetTime("a/later.txt", 0);
    ASSERT_TRUE(WaitForReports(1));
    ASSERT_EQ(ReportsOf("a/later.txt").size(), 1u);
    EXPECT_EQ(ReportsOf("a/later.txt")[0].code, FILECHANGE_FIRST_SEEN);
    // Gone, no longer watched, then added again: seen for the first time once more.
    unlink(Host("a/later.txt").c_str());
    ASSERT_TRUE(WaitForReports(2));
    EXPECT_EQ(ReportsOf("a/later.txt")[1].code, FILECHANGE_GONE);
    EXPECT_EQ(m_watcher->GetFileCount(), 0);
    m_watcher->AddFile(Win("a/later.txt"));
    ASSERT_TRUE(WatchInPlace({"a/later.txt"}));
    SetTime("a/later.txt", 5);
    ASSERT_TRUE(WaitForReports(3));
    EXPECT_EQ(ReportsOf("a/later.txt")[2].code, FILECHANGE_FIRST_SEEN);
}

TEST_F(FileChangeWatcherTest, FilesShareTheirFolder) {
    m_watcher->AddFile(Win("a/x.txt"));
    m_watcher->AddFile(Win("a/z_marker.txt"));
    m_watcher->AddFile(Win("a/x.txt"));  // already watched
    m_watcher->AddFile(u"");
    EXPECT_EQ(m_watcher->GetFileCount(), 2);
    EXPECT_EQ(m_watcher->GetFolderCount(), 1);
    ASSERT_TRUE(m_watcher->Start());
    ASSERT_TRUE(WatchInPlace({"a/z_marker.txt"}));
    m_watcher->RemoveFile(Win("a/x.txt"));
    EXPECT_EQ(m_watcher->GetFolderCount(), 1);
    SetTime("a/x.txt", 10);
    SetTime("a/z_marker.txt", 10);
    ASSERT_TRUE(WaitForReports(1));
    EXPECT_TRUE(ReportsOf("a/x.txt").empty());
    m_watcher->RemoveFile(Win("a/z_marker.txt"));
    EXPECT_EQ(m_watcher->GetFolderCount(), 0);
}

TEST_F(FileChangeWatcherTest, BurstGivesOneExamination) {
    Watch({"a/x.txt"});
    for (int i = 1; i <= 4; ++i) {
        SetTime("a/x.txt", i * 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ASSERT_TRUE(WaitForReports(1));
    EXPECT_FALSE(WaitForReports(2, kQuietMs));
}

TEST_F(FileChangeWatcherTest, AddingToARunningWatcherWatchesTheNewFolder) {
    Watch({"a/x.txt"});
    m_watcher->AddFile(Win("b/y.txt"));
    EXPECT_TRUE(m_watcher->IsRunning());
    ASSERT_TRUE(WatchInPlace({"b/y.txt"}));
    SetTime("b/y.txt", 10);
    ASSERT_TRUE(WaitForReports(1));
    EXPECT_EQ(ReportsOf("b/y.txt").size(), 1u);
}

TEST_F(FileChangeWatcherTest, ChangesInTwoFoldersAtOnceAreBothReported) {
    Watch({"a/x.txt", "b/y.txt"});
    SetTime("a/x.txt", 10);
    SetTime("b/y.txt", 10);
    // The first folder of the wait is examined first; the second's change must outlast that.
    ASSERT_TRUE(WaitForReports(2));
    EXPECT_EQ(ReportsOf("a/x.txt").size(), 1u);
    EXPECT_EQ(ReportsOf("b/y.txt").size(), 1u);
}

TEST_F(FileChangeWatcherTest, StopFromTheHandlerOfTheSentCallback) {
    m_recorder.reply = [&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == kChangedMessage) m_watcher->Stop();
        return 0;
    };
    Watch({"a/x.txt", "a/z_marker.txt"});
    SetTime("a/x.txt", 10);
    SetTime("a/z_marker.txt", 10);
    ASSERT_TRUE(WaitForReports(1));
    EXPECT_FALSE(m_watcher->IsRunning());
    EXPECT_TRUE(PumpReal([&] { return !m_watcher->IsThreadActive(); }, kBoundMs));
    // The stopped thread went no further through the folder.
    EXPECT_EQ(m_watcher->Reports().size(), 1u);
}

TEST_F(FileChangeWatcherTest, StopWhileTheFolderKeepsChanging) {
    Watch({"a/x.txt"});
    std::atomic<bool> writing{true};
    std::atomic<int> writes{0};
    std::thread writer([&] {
        while (writing) {
            WriteHostFile(Host("a/busy.txt"), "x");
            ++writes;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    // The watch was in place before these writes, so they keep the thread settling.
    const int before = writes;
    EXPECT_TRUE(PumpReal([&] { return writes >= before + 2; }, kBoundMs));
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        m_watcher->Stop();
        stopped = true;
    });
    EXPECT_TRUE(PumpReal([&] { return stopped.load(); }, kBoundMs));
    writing = false;  // lets a watcher that ignored the stop settle and end
    stopper.join();
    writer.join();
    EXPECT_FALSE(m_watcher->IsThreadActive());
}

TEST(FileInfoTest, FolderOfAPath) {
    CTestRoot root;
    char16_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    const struct {
        CString path;
        CString folder;
    } cases[] = {
        {u"C:\\a\\b.fsf", u"C:\\a\\"},
        {u"C:\\b.fsf", u"C:\\"},
        {u"\\\\srv\\share\\p.fsf", u"\\\\srv\\share\\"},
        {u"/x/y/p.fsf", u"/x/y/"},
        {u"C:p.fsf", u"C:"},
        {u"p.fsf", CString(current) + u"\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.path));
        EXPECT_EQ(zbw::ToUtf8(CFileInfo::FolderOf(c.path)), zbw::ToUtf8(c.folder));
    }
}

TEST(FileInfoTest, LastWriteIsInvalidUntilTheFileExists) {
    CTestRoot root;
    CString path = zbw::ToWindowsPath(root.Path("f.txt"));
    EXPECT_NE(CFileInfo(path).GetLastWrite().GetStatus(), COleDateTime::valid);
    ASSERT_TRUE(WriteHostFile(root.Path("f.txt"), "x"));
    timespec times[2] = {{1000000000, 0}, {1000000000, 900000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, root.Path("f.txt").c_str(), times, 0), 0);
    CFileInfo info(path);
    ASSERT_EQ(info.GetLastWrite().GetStatus(), COleDateTime::valid);
    EXPECT_EQ(info.GetLastWrite(), COleDateTime(static_cast<time_t>(1000000000)));
}

}  // namespace
