// The folder accessibility check on local folders and shares; fakes a temporary emulation root, an
// unprivileged identity and a steered clock.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "common/PathUtils.h"
#include "dovrane/threads/FolderCheck.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "platform/win32/WinUser.h"
#include "platform/win32/Winsock.h"
#include "tests/support/OtherIdentity.h"
#include "tests/support/TestRoot.h"

namespace {

constexpr UINT kCheckMessage = WM_USER + 144;
constexpr int kBoundMs = 10000;

std::vector<WPARAM>* g_notices = nullptr;

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kCheckMessage || !g_notices) return DefWindowProcW(hwnd, message, wParam, lParam);
    g_notices->push_back(wParam);
    return 0;
}

class FolderCheckTest : public ::testing::Test {
   protected:
    void SetUp() override {
        // Steered from here on, so the job's interval waits can be made due.
        zbw::AdvanceClock(0);
        g_notices = &m_notices;
        WNDCLASSW wc{};
        wc.lpfnWndProc = OwnerProc;
        wc.lpszClassName = u"FolderCheckTestOwner";
        RegisterClassW(&wc);
        m_hWnd = CreateWindowExW(0, wc.lpszClassName, u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(m_hWnd, nullptr);
        ASSERT_TRUE(zbw::MapShare(u"srv", u"share", m_root.Path("share")));
        ASSERT_EQ(mkdir(m_root.Path("share").c_str(), 0700), 0);
    }
    void TearDown() override {
        m_check.reset();
        DestroyWindow(m_hWnd);
        g_notices = nullptr;
    }

    CString Win(const std::string& relative) const { return zbw::ToWindowsPath(m_root.Path(relative)); }
    bool MakeDir(const std::string& relative) { return mkdir(m_root.Path(relative).c_str(), 0700) == 0; }

    // Serves the owner window and lets steered time pass until done, within a real-time bound.
    bool PumpUntil(const std::function<bool()>& done, int64_t advanceMs = 2500) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
        while (std::chrono::steady_clock::now() < end) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            if (done()) return true;
            zbw::AdvanceClock(advanceMs);
            usleep(5000);
        }
        return false;
    }
    // Until the job's answer shows interval (0 for all accessible).
    bool PumpUntilInterval(int interval, int64_t advanceMs = 2500) {
        return PumpUntil(
            [&] {
                int state = m_check->IsFolderMissing();
                return state != FOLDERCHECK_NOT_YET && m_check->GetLastInterval() == interval;
            },
            advanceMs);
    }

    // A missing share on a server that answers pings, with and without a missing local folder.
    // First passes only, in real time: a steered jump would time out the echo itself.
    void PingOnlyChecks() {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        const CString missingShare = u"\\\\127.0.0.1\\noshare|0|";
        m_check->SetFolders(missingShare + Win("absent") + u"|0|", true);
        ASSERT_TRUE(PumpUntilInterval(5000, 0));
        EXPECT_EQ(m_check->IsFolderMissing(), 1);
        EXPECT_EQ(m_check->GetFailingFolder(), Win("absent") + u"\\");
        m_check->SetFolders(missingShare, true);
        ASSERT_TRUE(PumpUntilInterval(0, 0));
        EXPECT_EQ(m_check->IsFolderMissing(), 0);
        m_check->SetFolders(missingShare, false);
        ASSERT_TRUE(PumpUntilInterval(5000, 0)) << "without ping only the missing share fails";
        m_check.reset();
        WSACleanup();
    }

    CTestRoot m_root;
    HWND m_hWnd = nullptr;
    std::vector<WPARAM> m_notices;
    std::unique_ptr<CFolderCheck> m_check = std::make_unique<CFolderCheck>();
};

struct UNCCASE {
    const char16_t* path;
    bool unc;
};

TEST(FolderCheckUncTest, IsUncPath) {
    const UNCCASE cases[] = {
        {u"\\\\srv\\share", true}, {u"\\\\?\\UNC\\srv\\s", true}, {u"\\\\?\\C:\\x", false},
        {u"\\\\?\\", false},       {u"\\\\.\\pipe\\x", true},     {u"C:\\x", false},
        {u"\\x", false},           {u"//srv/share", false},       {u"", false},
    };
    for (const UNCCASE& c : cases) EXPECT_EQ(IsUncPath(c.path), c.unc) << zbw::ToUtf8(c.path);
    EXPECT_FALSE(IsUncPath(nullptr));
}

TEST(FolderCheckUncTest, ServerOfSplitPath) {
    EXPECT_EQ(GetUncServer(PATHPARTS(u"\\\\srv\\share\\a")), u"srv");
    EXPECT_EQ(GetUncServer(PATHPARTS(u"\\\\?\\UNC\\host\\s\\")), u"host");
    EXPECT_EQ(GetUncServer(PATHPARTS(u"C:\\data\\")), u"");
}

struct FOLDERSEXPECTED {
    const char16_t* path;
    const char16_t* server;
    bool pingOnly;
};

struct LISTCASE {
    const char16_t* list;
    bool pingOnly;
    bool usesJob;
    std::vector<FOLDERSEXPECTED> folders;
};

TEST_F(FolderCheckTest, SplitsFolderLists) {
    const LISTCASE cases[] = {
        {u"C:\\data|1|\\\\srv\\share|0|",
         false,
         true,
         {{u"C:\\data\\", u"", false}, {u"\\\\srv\\share\\", u"srv", false}}},
        {u"  C:/data/ |0|", false, false, {{u"C:/data/", u"", false}}},
        // A last path without its flag is checked too (FolderList.h).
        {u"C:\\a|1|C:\\b", false, false, {{u"C:\\a\\", u"", false}, {u"C:\\b\\", u"", false}}},
        {u"\\\\?\\UNC\\srv\\s|0|", false, true, {{u"\\\\?\\UNC\\srv\\s\\", u"srv", false}}},
        {u"\\\\?\\C:\\x|0|", true, false, {{u"\\\\?\\C:\\x\\", u"", false}}},
        {u"C:\\a|0|\\\\srv\\share\\|0|",
         true,
         true,
         {{u"C:\\a\\", u"", false}, {u"\\\\srv\\share\\", u"srv", true}}},
        {u"", false, false, {}},
    };
    for (const LISTCASE& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.list));
        m_check->SetFolders(c.list, c.pingOnly);
        EXPECT_EQ(m_check->UsesJob(), c.usesJob);
        const CFolderCheckArray& folders = m_check->GetFolders();
        ASSERT_EQ(folders.GetSize(), static_cast<INT_PTR>(c.folders.size()));
        for (size_t i = 0; i < c.folders.size(); ++i) {
            EXPECT_EQ(folders[i].strPath, c.folders[i].path);
            EXPECT_EQ(folders[i].strServer, c.folders[i].server);
            EXPECT_EQ(folders[i].bPingOnly, c.folders[i].pingOnly);
        }
    }
}

TEST_F(FolderCheckTest, LocalFoldersAreTestedAtEachQuestion) {
    ASSERT_TRUE(MakeDir("a"));
    m_check->SetFolders(Win("a") + u"|0|" + Win("b") + u"|0|", false);
    EXPECT_EQ(m_check->IsFolderMissing(), 1);
    EXPECT_EQ(m_check->GetFailingFolder(), Win("b") + u"\\");
    EXPECT_EQ(m_check->GetLastInterval(), 0);
    ASSERT_TRUE(MakeDir("b"));
    EXPECT_EQ(m_check->IsFolderMissing(), 0);
    EXPECT_EQ(m_check->GetFailingFolder(), u"");
}

TEST_F(FolderCheckTest, CheckAllFoldersNamesTheFirstFailing) {
    ASSERT_TRUE(MakeDir("a"));
    CFolderCheckArray folders;
    for (const char* name : {"a", "x", "y"}) folders.Add({Win(name) + u"\\", u"", false});
    EXPECT_FALSE(m_check->CheckAllFolders(folders));
    EXPECT_EQ(m_check->GetFailingFolder(), Win("x") + u"\\");
    folders.SetSize(1);
    EXPECT_TRUE(m_check->CheckAllFolders(folders));
    EXPECT_EQ(m_check->GetFailingFolder(), u"");
}

TEST_F(FolderCheckTest, ShareFolderThatAppearsLaterIsReportedToTheOwner) {
    // Accessible local folders first: the job pauses 10 ms after each, so its first pass lasts.
    CString list;
    for (int i = 0; i < 30; ++i) {
        std::string name = "local" + std::to_string(i);
        ASSERT_TRUE(MakeDir(name));
        list += Win(name) + u"|0|";
    }
    list += u"\\\\srv\\share\\later|0|";
    m_check->SetOwner(m_hWnd, kCheckMessage);
    m_check->SetFolders(list, false);
    EXPECT_EQ(m_check->IsFolderMissing(), 2);

    ASSERT_TRUE(PumpUntil([&] { return !m_notices.empty(); }));
    EXPECT_EQ(m_notices, std::vector<WPARAM>{1});
    EXPECT_EQ(m_check->IsFolderMissing(), 1);
    EXPECT_EQ(m_check->GetFailingFolder(), u"\\\\srv\\share\\later\\");
    for (int interval = 5000; interval <= 60000; interval += 5000) {
        ASSERT_TRUE(PumpUntilInterval(interval)) << interval;
    }
    EXPECT_EQ(m_notices.size(), 1u) << "an unchanged result is not posted again";

    ASSERT_TRUE(MakeDir("share/later"));
    ASSERT_TRUE(PumpUntil([&] { return m_notices.size() == 2; }));
    EXPECT_EQ(m_notices.back(), 0u);
    EXPECT_EQ(m_check->IsFolderMissing(), 0);
    EXPECT_EQ(m_check->GetFailingFolder(), u"");
    EXPECT_EQ(m_check->GetLastInterval(), 0);

    // The interval never shrinks while the job runs.
    ASSERT_EQ(rmdir(m_root.Path("share/later").c_str()), 0);
    ASSERT_TRUE(PumpUntil([&] { return m_notices.size() == 3; }));
    EXPECT_EQ(m_check->IsFolderMissing(), 1);
    EXPECT_EQ(m_check->GetLastInterval(), 60000);
}

TEST_F(FolderCheckTest, NewFoldersRestartTheJob) {
    m_check->SetFolders(u"\\\\srv\\share\\gone|0|", false);
    ASSERT_TRUE(PumpUntilInterval(10000));
    ASSERT_TRUE(MakeDir("share/here"));
    m_check->SetFolders(u"\\\\srv\\share\\here|0|", false);
    ASSERT_TRUE(PumpUntilInterval(0));
    EXPECT_EQ(m_check->IsFolderMissing(), 0);
    m_check->SetFolders(u"\\\\srv\\share\\gone|0|", false);
    ASSERT_TRUE(PumpUntilInterval(5000)) << "a new job starts its intervals afresh";
    EXPECT_EQ(m_check->GetFailingFolder(), u"\\\\srv\\share\\gone\\");
}

TEST_F(FolderCheckTest, PingOnlyTestsTheServerAndStillTheLocalFolders) {
    // The ping needs ICMP: in a network of the child's own, as an ordinary user would send it.
    EXPECT_EQ(RunInPrivateNetwork(false, [this] { PingOnlyChecks(); }), 0);
}

}  // namespace
