// Folder change notifications on real folders: filters, subtrees, re-arming, removal; fakes a temporary
// emulation root.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/win32/ChangeNotification.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Wait.h"
#include "tests/support/TestRoot.h"

namespace {

constexpr DWORD kSignalWaitMs = 2000;

// The process's inotify descriptors, as the kernel lists them.
std::vector<int> InotifyFds() {
    std::vector<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    while (const dirent* entry = readdir(dir)) {
        char target[64] = {};
        std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) > 0 &&
            std::string(target) == "anon_inode:inotify")
            fds.push_back(std::atoi(entry->d_name));
    }
    closedir(dir);
    return fds;
}

// The watches the kernel holds for the process, over all its inotify descriptors.
int InotifyWatches() {
    int watches = 0;
    for (int fd : InotifyFds()) {
        std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
        for (std::string line; std::getline(info, line);) {
            if (line.rfind("inotify wd:", 0) == 0) ++watches;
        }
    }
    return watches;
}

void Append(const std::string& path) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND);
    (void)!write(fd, "more", 4);
    close(fd);
}

// Creates an empty file: a new name, and no write.
void Touch(const std::string& path) {
    close(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644));
}

bool IsSignalled(HANDLE handle, DWORD timeoutMs = 0) {
    return WaitForSingleObject(handle, timeoutMs) == WAIT_OBJECT_0;
}

class ChangeNotificationTest : public ::testing::Test {
   public:
    void SetUp() override {
        ASSERT_EQ(mkdir(Host("w").c_str(), 0755), 0);
        ASSERT_TRUE(WriteHostFile(Host("w/old.txt"), "old"));
        ASSERT_EQ(mkdir(Host("w/sub").c_str(), 0755), 0);
    }
    void TearDown() override {
        if (m_handle != INVALID_HANDLE_VALUE) FindCloseChangeNotification(m_handle);
    }
    std::string Host(const std::string& relative) const { return m_root.Path(relative); }
    CString Win(const std::string& relative) const { return zbw::ToWindowsPath(Host(relative)); }
    HANDLE Watch(BOOL subtree, DWORD filter) {
        m_handle = FindFirstChangeNotificationW(Win("w"), subtree, filter);
        EXPECT_NE(m_handle, INVALID_HANDLE_VALUE);
        return m_handle;
    }
    // Kernel events are queued by the call that causes them, so no wait is needed to see none.
    bool Signalled(DWORD timeoutMs = kSignalWaitMs) {
        return WaitForSingleObject(m_handle, timeoutMs) == WAIT_OBJECT_0;
    }

    CTestRoot m_root;
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

TEST_F(ChangeNotificationTest, FilterAndSubtreeSelectWhatSignals) {
    struct CASE {
        const char* name;
        BOOL subtree;
        DWORD filter;
        std::function<void(const ChangeNotificationTest&)> change;
        bool signals;
    };
    auto create = [](const ChangeNotificationTest& t) { WriteHostFile(t.Host("w/new.txt"), "x"); };
    auto makeDir = [](const ChangeNotificationTest& t) { mkdir(t.Host("w/newdir").c_str(), 0755); };
    auto write = [](const ChangeNotificationTest& t) { Append(t.Host("w/old.txt")); };
    auto touch = [](const ChangeNotificationTest& t) {
        utimensat(AT_FDCWD, t.Host("w/old.txt").c_str(), nullptr, 0);
    };
    auto remove = [](const ChangeNotificationTest& t) { unlink(t.Host("w/old.txt").c_str()); };
    auto inSub = [](const ChangeNotificationTest& t) { WriteHostFile(t.Host("w/sub/deep.txt"), "x"); };
    const CASE cases[] = {
        {"file created, file names", FALSE, FILE_NOTIFY_CHANGE_FILE_NAME, create, true},
        {"file created, folder names only", FALSE, FILE_NOTIFY_CHANGE_DIR_NAME, create, false},
        {"folder created, folder names", FALSE, FILE_NOTIFY_CHANGE_DIR_NAME, makeDir, true},
        {"folder created, 0x1D", FALSE, 0x1D, makeDir, false},
        {"file written, last write", FALSE, FILE_NOTIFY_CHANGE_LAST_WRITE, write, true},
        {"file written, size", FALSE, FILE_NOTIFY_CHANGE_SIZE, write, true},
        {"file written, file names only", FALSE, FILE_NOTIFY_CHANGE_FILE_NAME, write, false},
        {"time set, last write", FALSE, FILE_NOTIFY_CHANGE_LAST_WRITE, touch, true},
        {"file deleted, file names", FALSE, FILE_NOTIFY_CHANGE_FILE_NAME, remove, true},
        {"file in subfolder, subtree", TRUE, 0x1F, inSub, true},
        {"file in subfolder, folder only", FALSE, 0x1D, inSub, false},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        std::system(("rm -rf '" + Host("w") + "'").c_str());
        SetUp();  // each case starts from the same folder
        Watch(c.subtree, c.filter);
        EXPECT_FALSE(Signalled(0));
        c.change(*this);
        EXPECT_EQ(Signalled(c.signals ? kSignalWaitMs : 0), c.signals);
        FindCloseChangeNotification(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }
}

TEST_F(ChangeNotificationTest, SubfoldersMadeAfterTheStartAreWatched) {
    Watch(TRUE, 0x1F);
    ASSERT_EQ(mkdir(Host("w/later").c_str(), 0755), 0);
    // A tree made at once: the inner folders exist before their parent's watch does.
    ASSERT_EQ(std::system(("mkdir -p '" + Host("w/sub/a/b/c") + "'").c_str()), 0);
    ASSERT_TRUE(Signalled());
    ASSERT_TRUE(FindNextChangeNotification(m_handle));
    for (const char* file : {"w/later/f.txt", "w/sub/a/b/c/f.txt"}) {
        SCOPED_TRACE(file);
        EXPECT_FALSE(Signalled(0));
        ASSERT_TRUE(WriteHostFile(Host(file), "x"));
        EXPECT_TRUE(Signalled());
        FindNextChangeNotification(m_handle);
    }
}

TEST_F(ChangeNotificationTest, WaitsLeaveItSignalledAndRearmingDrains) {
    Watch(FALSE, 0x19);
    for (int i = 0; i < 5; ++i) WriteHostFile(Host("w/f" + std::to_string(i)), "x");
    EXPECT_TRUE(Signalled());
    EXPECT_TRUE(Signalled(0));  // not taken by the first wait
    ASSERT_TRUE(FindNextChangeNotification(m_handle));
    EXPECT_FALSE(Signalled(0));
    WriteHostFile(Host("w/after"), "x");
    EXPECT_TRUE(Signalled());
}

TEST_F(ChangeNotificationTest, WaitForAnyNamesTheNotification) {
    Watch(FALSE, 0x19);
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE handles[2] = {stop, m_handle};
    EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 0), WAIT_TIMEOUT);
    WriteHostFile(Host("w/new.txt"), "x");
    EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, kSignalWaitMs), WAIT_OBJECT_0 + 1);
    CloseHandle(stop);
}

TEST_F(ChangeNotificationTest, RemovedFolderSignals) {
    Watch(FALSE, FILE_NOTIFY_CHANGE_LAST_WRITE);
    ASSERT_EQ(std::system(("rm -rf '" + Host("w") + "'").c_str()), 0);
    EXPECT_TRUE(Signalled());
    // Made anew at once, the folder is another one: this handle will not signal for it.
    ASSERT_EQ(mkdir(Host("w").c_str(), 0755), 0);
    SetLastError(0);
    EXPECT_FALSE(FindNextChangeNotification(m_handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ChangeNotificationTest, Failures) {
    struct CASE {
        const char* name;
        CString path;
        DWORD filter;
        DWORD error;
    };
    const CASE cases[] = {
        {"missing folder", Win("nothere"), 0x1F, ERROR_FILE_NOT_FOUND},
        {"a file", Win("w/old.txt"), 0x1F, ERROR_DIRECTORY},
        {"no filter", Win("w"), 0, ERROR_INVALID_PARAMETER},
        {"unknown filter bit", Win("w"), 0x80, ERROR_INVALID_PARAMETER},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        EXPECT_EQ(FindFirstChangeNotificationW(c.path, TRUE, c.filter), INVALID_HANDLE_VALUE);
        if (c.error == ERROR_FILE_NOT_FOUND)
            EXPECT_TRUE(GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND);
        else
            EXPECT_EQ(GetLastError(), c.error);
    }
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(FindNextChangeNotification(event));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FindCloseChangeNotification(event));
    CloseHandle(event);
    HANDLE handle = Watch(FALSE, 0x19);
    EXPECT_TRUE(FindCloseChangeNotification(handle));
    EXPECT_FALSE(FindCloseChangeNotification(handle));
    m_handle = INVALID_HANDLE_VALUE;
}

TEST_F(ChangeNotificationTest, ManyHandlesShareOneInstanceAndSignalForTheirOwnFolder) {
    // More than the host's default per-user budget of inotify instances.
    constexpr int kCount = 300;
    ASSERT_EQ(mkdir(Host("many").c_str(), 0755), 0);
    std::vector<HANDLE> handles;
    for (int i = 0; i < kCount; ++i) {
        std::string folder = "many/" + std::to_string(i);
        ASSERT_EQ(mkdir(Host(folder).c_str(), 0755), 0);
        handles.push_back(FindFirstChangeNotificationW(Win(folder), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME));
        ASSERT_NE(handles.back(), INVALID_HANDLE_VALUE) << i;
    }
    EXPECT_EQ(InotifyFds().size(), 1u);
    EXPECT_EQ(InotifyWatches(), kCount);
    for (int i = 0; i < kCount; ++i) {
        WriteHostFile(Host("many/" + std::to_string(i) + "/f"), "x");
        ASSERT_TRUE(IsSignalled(handles[i], kSignalWaitMs)) << i;
        std::vector<int> signalled;
        for (int j = 0; j < kCount; ++j) {
            if (IsSignalled(handles[j])) signalled.push_back(j);
        }
        EXPECT_EQ(signalled, std::vector<int>{i});
        ASSERT_TRUE(FindNextChangeNotification(handles[i]));
    }
    for (HANDLE handle : handles) FindCloseChangeNotification(handle);
    EXPECT_EQ(InotifyWatches(), 0);
}

TEST_F(ChangeNotificationTest, HandlesOnOneFolderShareItsWatchAndKeepTheirFilters) {
    HANDLE names = FindFirstChangeNotificationW(Win("w"), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    HANDLE writes = FindFirstChangeNotificationW(Win("w"), FALSE, FILE_NOTIFY_CHANGE_LAST_WRITE);
    ASSERT_NE(names, INVALID_HANDLE_VALUE);
    ASSERT_NE(writes, INVALID_HANDLE_VALUE);
    EXPECT_EQ(InotifyWatches(), 1);

    Touch(Host("w/empty.txt"));
    EXPECT_TRUE(IsSignalled(names, kSignalWaitMs));
    EXPECT_FALSE(IsSignalled(writes));
    ASSERT_TRUE(FindNextChangeNotification(names));

    Append(Host("w/old.txt"));
    EXPECT_TRUE(IsSignalled(writes, kSignalWaitMs));
    EXPECT_FALSE(IsSignalled(names));

    // The folder stays watched for the handle that is left.
    ASSERT_TRUE(FindCloseChangeNotification(names));
    ASSERT_TRUE(FindNextChangeNotification(writes));
    EXPECT_EQ(InotifyWatches(), 1);
    Append(Host("w/old.txt"));
    EXPECT_TRUE(IsSignalled(writes, kSignalWaitMs));
    ASSERT_TRUE(FindCloseChangeNotification(writes));
    EXPECT_EQ(InotifyWatches(), 0);
}

TEST_F(ChangeNotificationTest, ClosedHandlesLeaveNoWatches) {
    Watch(TRUE, 0x1F);
    ASSERT_EQ(mkdir(Host("w/sub/later").c_str(), 0755), 0);
    ASSERT_TRUE(Signalled());
    HANDLE inner = FindFirstChangeNotificationW(Win("w/sub"), FALSE, 0x1F);
    ASSERT_NE(inner, INVALID_HANDLE_VALUE);
    EXPECT_EQ(InotifyWatches(), 3);  // w, w/sub (shared) and w/sub/later

    // A watched subfolder removed takes its watch along.
    ASSERT_EQ(rmdir(Host("w/sub/later").c_str()), 0);
    ASSERT_TRUE(IsSignalled(inner, kSignalWaitMs));
    ASSERT_TRUE(FindNextChangeNotification(m_handle));
    EXPECT_EQ(InotifyWatches(), 2);

    ASSERT_TRUE(FindCloseChangeNotification(m_handle));
    m_handle = INVALID_HANDLE_VALUE;
    EXPECT_EQ(InotifyWatches(), 1);
    ASSERT_TRUE(FindNextChangeNotification(inner));
    WriteHostFile(Host("w/sub/f.txt"), "x");
    EXPECT_TRUE(IsSignalled(inner, kSignalWaitMs));
    ASSERT_TRUE(FindCloseChangeNotification(inner));
    EXPECT_EQ(InotifyWatches(), 0);
}

TEST_F(ChangeNotificationTest, SleepingWaitersWakeForChangesOfTheirFolder) {
    HANDLE other = FindFirstChangeNotificationW(Win("w/sub"), FALSE, 0x1F);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    Watch(FALSE, 0x1F);
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // One waits on its handle alone, the other with an event: both sleep until a change comes.
    DWORD alone = WAIT_FAILED;
    DWORD combined = WAIT_FAILED;
    std::thread aloneWaiter([&] { alone = WaitForSingleObject(m_handle, kSignalWaitMs); });
    std::thread combinedWaiter([&] {
        HANDLE handles[2] = {stop, other};
        combined = WaitForMultipleObjects(2, handles, FALSE, kSignalWaitMs);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    WriteHostFile(Host("w/new.txt"), "x");
    aloneWaiter.join();
    EXPECT_EQ(alone, WAIT_OBJECT_0);
    EXPECT_FALSE(IsSignalled(other));
    WriteHostFile(Host("w/sub/new.txt"), "x");
    combinedWaiter.join();
    EXPECT_EQ(combined, WAIT_OBJECT_0 + 1);
    FindCloseChangeNotification(other);
    CloseHandle(stop);
}

}  // namespace
