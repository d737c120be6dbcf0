// Named kernel objects and mappings, also across forked processes; fakes a temporary emulation root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/WinError.h"
#include "platform/host/KernelObject.h"
#include "platform/host/NamedObject.h"
#include "platform/win32/FileMapping.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Wait.h"
#include "tests/support/TestRoot.h"

namespace {

class NamedObjectTest : public ::testing::Test {
   protected:
    void TearDown() override {
        for (pid_t pid : m_children) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

    // Runs body in a forked child that ends with its result; the child runs no test code.
    pid_t Fork(const std::function<int()>& body) {
        pid_t pid = fork();
        if (pid == 0) _exit(body());
        if (pid > 0) m_children.push_back(pid);
        return pid;
    }
    // The child's exit status, or -1 when it did not end within timeoutMs (it is then killed).
    int Reap(pid_t pid, int timeoutMs = 10000) {
        int status = 0;
        for (int waited = 0; waited <= timeoutMs; waited += 5) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                std::erase(m_children, pid);
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(5000);
        }
        return -1;
    }
    void Kill(pid_t pid) {
        kill(pid, SIGKILL);
        Reap(pid);
    }

    CTestRoot m_root;
    std::vector<pid_t> m_children;
};

// A pipe on which a child tells the parent it is ready.
class CReadyPipe {
   public:
    CReadyPipe() { EXPECT_EQ(pipe2(m_fds, O_CLOEXEC), 0); }
    ~CReadyPipe() {
        close(m_fds[0]);
        close(m_fds[1]);
    }
    void Tell() { (void)!write(m_fds[1], "r", 1); }
    bool Await() {
        pollfd fd{m_fds[0], POLLIN, 0};
        char c;
        return poll(&fd, 1, 10000) == 1 && read(m_fds[0], &c, 1) == 1;
    }

   private:
    int m_fds[2] = {-1, -1};
};

int SleepForever() {
    for (;;) pause();
}

std::string HostFileOf(LPCWSTR name) {
    std::string dir, path;
    zbw::NamedObjectPath(name, &dir, &path);
    return path;
}

struct KIND {
    const char* what;
    std::function<HANDLE(LPCWSTR)> create;
    std::function<HANDLE(LPCWSTR)> open;
};

const KIND kKinds[] = {
    {"mutex", [](LPCWSTR n) { return CreateMutexW(nullptr, FALSE, n); },
     [](LPCWSTR n) { return OpenMutexW(MUTEX_ALL_ACCESS, FALSE, n); }},
    {"semaphore", [](LPCWSTR n) { return CreateSemaphoreW(nullptr, 1, 1, n); },
     [](LPCWSTR n) { return OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, n); }},
    {"event", [](LPCWSTR n) { return CreateEventW(nullptr, TRUE, FALSE, n); },
     [](LPCWSTR n) { return OpenEventW(EVENT_ALL_ACCESS, FALSE, n); }},
    {"mapping",
     [](LPCWSTR n) { return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, n); },
     [](LPCWSTR n) { return OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, n); }},
};

TEST_F(NamedObjectTest, NameLivesFromCreateToLastClose) {
    for (const KIND& kind : kKinds) {
        SCOPED_TRACE(kind.what);
        SetLastError(0);
        EXPECT_EQ(kind.open(u"Local\\Lifetime"), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
        SetLastError(ERROR_ACCESS_DENIED);
        HANDLE first = kind.create(u"Local\\Lifetime");
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        HANDLE second = kind.create(u"Local\\Lifetime");
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
        HANDLE opened = kind.open(u"Lifetime");
        EXPECT_NE(opened, nullptr) << "Local\\ and plain names are one namespace";
        CloseHandle(first);
        CloseHandle(second);
        EXPECT_NE(access(HostFileOf(u"Lifetime").c_str(), F_OK), -1) << "still held";
        CloseHandle(opened);
        EXPECT_EQ(access(HostFileOf(u"Lifetime").c_str(), F_OK), -1);
        EXPECT_EQ(kind.open(u"Lifetime"), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    }
}

TEST_F(NamedObjectTest, NameOfAnotherKindIsRefused) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, u"Taken");
    ASSERT_NE(event, nullptr);
    for (const KIND& kind : kKinds) {
        if (std::string(kind.what) == "event") continue;
        SCOPED_TRACE(kind.what);
        SetLastError(0);
        EXPECT_EQ(kind.create(u"Taken"), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(0);
        EXPECT_EQ(kind.open(u"Taken"), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    CloseHandle(event);
}

TEST_F(NamedObjectTest, GlobalNamesLiveInTheMachinePart) {
    HANDLE global = CreateEventW(nullptr, TRUE, FALSE, u"Global\\Where");
    HANDLE local = CreateEventW(nullptr, TRUE, FALSE, u"Local\\Where");
    ASSERT_NE(global, nullptr);
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "a different object";
    EXPECT_EQ(HostFileOf(u"Global\\Where").rfind(m_root.Path("zbw/machine/objects/"), 0), 0u);
    EXPECT_EQ(
        HostFileOf(u"Where").rfind(m_root.Path("zbw/user-" + std::to_string(getuid()) + "/objects/"), 0), 0u);
    SetEvent(global);
    EXPECT_EQ(WaitForSingleObject(local, 0), WAIT_TIMEOUT);
    CloseHandle(global);
    CloseHandle(local);
}

TEST_F(NamedObjectTest, NamesAreCaseSensitiveAndSafeOnTheHost) {
    HANDLE a = CreateEventW(nullptr, TRUE, FALSE, u"Odd/Name ..%");
    HANDLE b = CreateEventW(nullptr, TRUE, FALSE, u"odd/name ..%");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    SetLastError(0);
    EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, u"Local\\a\\b"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    CloseHandle(a);
    CloseHandle(b);
}

TEST_F(NamedObjectTest, ExistingObjectKeepsItsStateAndSize) {
    HANDLE s1 = CreateSemaphoreW(nullptr, 0, 1, u"Counts");
    HANDLE s2 = CreateSemaphoreW(nullptr, 1, 5, u"Counts");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(WaitForSingleObject(s2, 0), WAIT_TIMEOUT) << "the creator's count of 0 holds";
    EXPECT_TRUE(ReleaseSemaphore(s1, 1, nullptr));
    EXPECT_FALSE(ReleaseSemaphore(s2, 1, nullptr)) << "and its maximum of 1";
    CloseHandle(s1);
    CloseHandle(s2);

    HANDLE m1 = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, u"Block");
    HANDLE m2 = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 9104, u"Block");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(MapViewOfFile(m2, FILE_MAP_ALL_ACCESS, 0, 0, 9104), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    auto* view = static_cast<unsigned char*>(MapViewOfFile(m2, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view[4095], 0);
    EXPECT_TRUE(UnmapViewOfFile(view));
    CloseHandle(m1);
    CloseHandle(m2);
}

TEST_F(NamedObjectTest, MappingIsZeroFilledSharedAndHeldByItsViews) {
    HANDLE m = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 9104, u"Views");
    ASSERT_NE(m, nullptr);
    auto* a = static_cast<unsigned char*>(MapViewOfFile(m, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(a, nullptr);
    for (int i = 0; i < 9104; ++i) ASSERT_EQ(a[i], 0) << i;
    HANDLE reader = OpenFileMappingW(FILE_MAP_READ, FALSE, u"Views");
    auto* b = static_cast<const unsigned char*>(MapViewOfFile(reader, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(b, nullptr);
    a[92] = 0x5A;
    EXPECT_EQ(b[92], 0x5A);
    EXPECT_EQ(MapViewOfFile(reader, FILE_MAP_WRITE, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(MapViewOfFile(m, FILE_MAP_ALL_ACCESS, 0, 4096, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
    CloseHandle(m);
    CloseHandle(reader);
    HANDLE again = OpenFileMappingW(FILE_MAP_WRITE, FALSE, u"Views");
    EXPECT_NE(again, nullptr) << "the views keep the block";
    CloseHandle(again);
    EXPECT_TRUE(UnmapViewOfFile(a));
    EXPECT_TRUE(UnmapViewOfFile(b));
    EXPECT_EQ(OpenFileMappingW(FILE_MAP_WRITE, FALSE, u"Views"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(UnmapViewOfFile(b));
}

TEST_F(NamedObjectTest, UnnamedMappingAndBadArguments) {
    HANDLE m =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0, 100, nullptr);
    ASSERT_NE(m, nullptr);
    auto* view = static_cast<char*>(MapViewOfFile(m, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    view[99] = 1;
    EXPECT_TRUE(UnmapViewOfFile(view));
    CloseHandle(m);
    SetLastError(0);
    EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, u"Empty"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(NamedObjectTest, FilesAreOpenToEveryoneWhateverTheUmask) {
    mode_t old = umask(077);
    HANDLE m = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, u"Global\\Open");
    umask(old);
    ASSERT_NE(m, nullptr);
    struct stat st {};
    ASSERT_EQ(stat(HostFileOf(u"Global\\Open").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
    CloseHandle(m);
}

TEST_F(NamedObjectTest, NamedMutexIsOneObjectAcrossHandles) {
    HANDLE a = CreateMutexW(nullptr, TRUE, u"Shared");
    HANDLE b = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, u"Shared");
    EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0) << "re-entrant through another handle";
    EXPECT_TRUE(ReleaseMutex(a));
    EXPECT_TRUE(ReleaseMutex(b));
    EXPECT_FALSE(ReleaseMutex(a));
    CloseHandle(a);
    CloseHandle(b);
}

// Half the threads open the name when it is there and make it only when it is not, so opens
// race with the last holder's removal as well as with creation.
TEST_F(NamedObjectTest, RacingOpenersCreatorsAndClosersShareOneObject) {
    std::atomic<int> inside{0}, overlaps{0}, failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, opener = t % 2 == 1] {
            for (int i = 0; i < 100; ++i) {
                HANDLE s = opener ? OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, u"Race") : nullptr;
                if (!s) s = CreateSemaphoreW(nullptr, 1, 1, u"Race");
                if (!s || WaitForSingleObject(s, 5000) != WAIT_OBJECT_0) {
                    ++failures;
                    if (s) CloseHandle(s);
                    continue;
                }
                if (++inside != 1) ++overlaps;
                --inside;
                ReleaseSemaphore(s, 1, nullptr);
                CloseHandle(s);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(overlaps.load(), 0) << "two creators made two objects of one name";
    EXPECT_EQ(OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, u"Race"), nullptr);
}

// While an object is held its name leads to its file: an open that raced with the last close
// must not keep the file that close removed.
TEST_F(NamedObjectTest, OpenersRacingTheLastCloseHoldTheNamedFile) {
    const std::string path = HostFileOf(u"Churn");
    std::atomic<int> strays{0}, failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, create = t % 2 == 0] {
            for (int i = 0; i < 2000; ++i) {
                bool existed = false;
                auto object = zbw::CNamedObject::Open(
                    u"Churn", zbw::NamedKind::Event, create, 0, [](void*) {}, &existed);
                if (!object) {
                    if (create) ++failures;
                    continue;
                }
                struct stat held {
                }, named{};
                if (fstat(object->Fd(), &held) != 0 || stat(path.c_str(), &named) != 0 ||
                    held.st_ino != named.st_ino)
                    ++strays;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(strays.load(), 0) << "an opener kept a removed file";
}

TEST_F(NamedObjectTest, TwoProcessesShareASemaphoreAndAMapping) {
    HANDLE sem = CreateSemaphoreW(nullptr, 1, 1, u"N_Sync");
    HANDLE map =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1024, u"ZebrodynePro_1");
    ASSERT_NE(sem, nullptr);
    ASSERT_NE(map, nullptr);
    auto* view = static_cast<volatile unsigned char*>(MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(WaitForSingleObject(sem, 0), WAIT_OBJECT_0);
    view[180] = 7;
    CReadyPipe ready;
    pid_t child = Fork([&] {
        HANDLE s = OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, u"N_Sync");
        HANDLE m = OpenFileMappingW(FILE_MAP_WRITE, FALSE, u"ZebrodynePro_1");
        if (!s || !m) return 10;
        auto* v = static_cast<volatile unsigned char*>(MapViewOfFile(m, FILE_MAP_WRITE, 0, 0, 0));
        if (!v || v[180] != 7) return 11;
        ready.Tell();
        if (WaitForSingleObject(s, 10000) != WAIT_OBJECT_0) return 12;
        v[268] = 9;
        ReleaseSemaphore(s, 1, nullptr);
        return 0;
    });
    ASSERT_GT(child, 0);
    ASSERT_TRUE(ready.Await());
    Sleep(100);
    EXPECT_EQ(view[268], 0) << "the child waits for the semaphore";
    ReleaseSemaphore(sem, 1, nullptr);
    EXPECT_EQ(Reap(child), 0);
    EXPECT_EQ(view[268], 9);
    EXPECT_EQ(WaitForSingleObject(sem, 1000), WAIT_OBJECT_0) << "the child gave it back";
    UnmapViewOfFile(const_cast<unsigned char*>(view));
    CloseHandle(sem);
    CloseHandle(map);
    EXPECT_EQ(OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, u"N_Sync"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenFileMappingW(FILE_MAP_WRITE, FALSE, u"ZebrodynePro_1"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(NamedObjectTest, NameGoesWhenItsLastHolderIsKilled) {
    CReadyPipe ready;
    pid_t child = Fork([&] {
        HANDLE s = CreateSemaphoreW(nullptr, 0, 1, u"Global\\N_Sync2");
        HANDLE m = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, u"Global\\Block");
        if (!s || !m) return 10;
        static_cast<unsigned char*>(MapViewOfFile(m, FILE_MAP_WRITE, 0, 0, 0))[0] = 1;
        ready.Tell();
        return SleepForever();
    });
    ASSERT_GT(child, 0);
    ASSERT_TRUE(ready.Await());
    HANDLE held = OpenFileMappingW(FILE_MAP_READ, FALSE, u"Global\\Block");
    ASSERT_NE(held, nullptr);
    HANDLE peek = OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, u"Global\\N_Sync2");
    ASSERT_NE(peek, nullptr);
    CloseHandle(peek);
    Kill(child);
    EXPECT_EQ(OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, u"Global\\N_Sync2"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    HANDLE fresh = CreateSemaphoreW(nullptr, 1, 1, u"Global\\N_Sync2");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "made anew";
    EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_OBJECT_0) << "with the new count, not the dead one's";
    CloseHandle(fresh);
    HANDLE still = OpenFileMappingW(FILE_MAP_READ, FALSE, u"Global\\Block");
    EXPECT_NE(still, nullptr) << "this process still holds the block";
    auto* view = static_cast<const unsigned char*>(MapViewOfFile(still, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view[0], 1);
    UnmapViewOfFile(view);
    CloseHandle(still);
    CloseHandle(held);
    EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, u"Global\\Block"), nullptr);
}

TEST_F(NamedObjectTest, MutexOfAKilledProcessIsAbandoned) {
    CReadyPipe ready;
    pid_t child = Fork([&] {
        if (!CreateMutexW(nullptr, TRUE, u"Local\\zbengineicon12128401")) return 10;
        ready.Tell();
        return SleepForever();
    });
    ASSERT_GT(child, 0);
    ASSERT_TRUE(ready.Await());
    HANDLE m = CreateMutexW(nullptr, FALSE, u"Local\\zbengineicon12128401");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(WaitForSingleObject(m, 20), WAIT_TIMEOUT);
    Kill(child);
    EXPECT_EQ(WaitForSingleObject(m, 1000), WAIT_ABANDONED_0);
    EXPECT_TRUE(ReleaseMutex(m));
    CloseHandle(m);
}

}  // namespace
