// CWnd: binding, message maps, creation and destruction; fakes a temporary emulation root and a steered
// clock.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/WinError.h"
#include "platform/classlib/Wnd.h"
#include "tests/platform/MessageTestWindow.h"
#include "tests/support/TestRoot.h"

namespace {

const UINT kChanges = WM_USER + 101;
const UINT kProjectChanged = WM_USER + 104;

// A run-item-like window: its own map, and a subclass that overrides part of it.
class CBaseItem : public CWnd {
   public:
    std::vector<std::string> log;
    bool failCreate = false;

   protected:
    int OnCreate(LPCREATESTRUCT create) {
        log.push_back("create");
        if (CWnd::OnCreate(create) == -1 || failCreate) return -1;
        return 0;
    }
    void OnDestroy() {
        log.push_back("destroy");
        CWnd::OnDestroy();
    }
    void OnTimer(UINT_PTR id) {
        log.push_back("base timer " + std::to_string(id));
        CWnd::OnTimer(id);
    }
    BOOL OnDeviceChange(UINT eventType, DWORD_PTR) {
        log.push_back("device " + std::to_string(eventType));
        return TRUE;
    }
    LRESULT OnChanges(WPARAM wParam, LPARAM) {
        log.push_back("changes");
        return static_cast<LRESULT>(wParam + 1);
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseItem, CWnd)
ON_WM_CREATE()
ON_WM_DESTROY()
ON_WM_TIMER()
ON_WM_DEVICECHANGE()
ON_MESSAGE(kChanges, &CBaseItem::OnChanges)
END_MESSAGE_MAP()

class CDerivedItem : public CBaseItem {
   protected:
    void OnTimer(UINT_PTR id) {
        CBaseItem::OnTimer(id);
        log.push_back("derived timer " + std::to_string(id));
    }
    LRESULT OnProjectChanged(WPARAM wParam, LPARAM) {
        log.push_back("project " + std::to_string(wParam));
        return 0;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedItem, CBaseItem)
ON_WM_TIMER()
ON_MESSAGE(kProjectChanged, &CDerivedItem::OnProjectChanged)
END_MESSAGE_MAP()

// A main-window-like object: WindowProc takes some messages itself, commands come by map.
class CCommandWnd : public CWnd {
   public:
    std::vector<std::string> log;

   protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_CLOSE) log.push_back("close");
        if (message == WM_QUERYENDSESSION) log.push_back("query");
        return CWnd::WindowProc(message, wParam, lParam);
    }
    void OnHide() { log.push_back("hide"); }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CCommandWnd, CWnd)
ON_COMMAND(105, &CCommandWnd::OnHide)
END_MESSAGE_MAP()

class WndTest : public ::testing::Test {
   protected:
    void SetUp() override { zbw::AdvanceClock(0); }
    void TearDown() override {
        DiscardMessages();
        zbw::ResetClockForTest();
    }

    // As the run items make theirs: default class, a child of the desktop.
    static BOOL CreateItem(CWnd& wnd) {
        return wnd.Create(nullptr, u"ZBEngRunItemWindow", 0, RECT{0, 0, 10, 10}, CWnd::GetDesktopWindow(), 0);
    }

    CTestRoot m_root;
};

TEST_F(WndTest, ItemWindowBindsBeforeCreateAndIsFoundByTitle) {
    CDerivedItem item;
    ASSERT_TRUE(CreateItem(item));
    ASSERT_NE(item.GetSafeHwnd(), nullptr);
    EXPECT_EQ(item.log, std::vector<std::string>{"create"});
    EXPECT_EQ(CWnd::FromHandlePermanent(item.m_hWnd), &item);
    EXPECT_EQ(FindWindowW(nullptr, u"ZBEngRunItemWindow"), item.m_hWnd);
    EXPECT_EQ(static_cast<HWND>(item), item.m_hWnd);
}

TEST_F(WndTest, MessageMapsRouteFromTheDerivedClassToItsBases) {
    CDerivedItem item;
    ASSERT_TRUE(CreateItem(item));
    ASSERT_EQ(item.SetTimer(1127, 1000), 1127u);
    zbw::AdvanceClock(1000);
    ASSERT_TRUE(PumpUntil([&] { return item.log.size() >= 3; }));
    EXPECT_EQ(item.log[1], "base timer 1127");
    EXPECT_EQ(item.log[2], "derived timer 1127");
    EXPECT_TRUE(item.KillTimer(1127));

    item.log.clear();
    HWND hwnd = item.m_hWnd;
    std::promise<LRESULT> answer;
    std::thread watcher([&] { answer.set_value(::SendMessageW(hwnd, kChanges, 41, 0)); });
    auto result = answer.get_future();
    ASSERT_TRUE(
        PumpUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    watcher.join();
    EXPECT_EQ(result.get(), 42);
    EXPECT_TRUE(item.PostMessage(kProjectChanged, 2));
    EXPECT_TRUE(item.PostMessage(WM_DEVICECHANGE, 7));
    EXPECT_TRUE(PumpUntil([&] { return item.log.size() == 3; }));
    EXPECT_EQ(item.log, (std::vector<std::string>{"changes", "project 2", "device 7"}));
    EXPECT_EQ(item.SendMessage(WM_USER + 999), 0);  // not in any map: the default procedure
}

TEST_F(WndTest, FailedCreateLeavesNoWindow) {
    CBaseItem item;
    item.failCreate = true;
    EXPECT_FALSE(CreateItem(item));
    EXPECT_EQ(item.m_hWnd, nullptr);
    EXPECT_EQ(FindWindowW(nullptr, u"ZBEngRunItemWindow"), nullptr);
    EXPECT_EQ(item.log, (std::vector<std::string>{"create", "destroy"}));
}

TEST_F(WndTest, DestroyWindowLetsGoOfTheHandle) {
    CBaseItem item;
    ASSERT_TRUE(CreateItem(item));
    HWND hwnd = item.m_hWnd;
    item.SetTimer(3, 1000);
    EXPECT_TRUE(item.DestroyWindow());
    EXPECT_EQ(item.log.back(), "destroy");
    EXPECT_EQ(item.m_hWnd, nullptr);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(CWnd::FromHandlePermanent(hwnd), nullptr);
    // Without a window nothing reaches the thread's own queue by mistake.
    EXPECT_FALSE(item.PostMessage(WM_USER));
    EXPECT_EQ(item.SetTimer(3, 1000), 0u);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(item.DestroyWindow());
}

TEST_F(WndTest, DestructorDestroysTheWindow) {
    HWND hwnd;
    {
        CDerivedItem item;
        ASSERT_TRUE(CreateItem(item));
        hwnd = item.m_hWnd;
    }
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(WndTest, HiddenPopupWithARegisteredClassAndCommands) {
    LPCWSTR className = AfxRegisterWndClass(0);
    EXPECT_EQ(AfxRegisterWndClass(0), className);
    EXPECT_NE(AfxRegisterWndClass(CS_HREDRAW), className);
    CCommandWnd main;
    ASSERT_TRUE(main.CreateEx(0, className, u"zbengine", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr));
    EXPECT_EQ(FindWindowW(className, u"zbengine"), main.m_hWnd);
    main.PostMessage(WM_COMMAND, 105);
    main.PostMessage(WM_COMMAND, 106);  // no handler: nothing happens
    EXPECT_TRUE(PumpUntil([&] { return !main.log.empty(); }));
    EXPECT_EQ(main.SendMessage(WM_QUERYENDSESSION), TRUE);
    main.SendMessage(WM_CLOSE);  // the default handling destroys it
    EXPECT_EQ(main.log, (std::vector<std::string>{"hide", "query", "close"}));
    EXPECT_EQ(main.m_hWnd, nullptr);
}

TEST_F(WndTest, ObjectOnAnotherThreadLetsGoWithoutDestroying) {
    auto* item = new CBaseItem;
    ASSERT_TRUE(CreateItem(*item));
    HWND hwnd = item->m_hWnd;
    std::thread([item] { delete item; }).join();
    EXPECT_TRUE(IsWindow(hwnd));  // only its thread may destroy it
    EXPECT_EQ(CWnd::FromHandlePermanent(hwnd), nullptr);
    EXPECT_EQ(SendMessageW(hwnd, kChanges, 1, 0), 0);  // reaches the default procedure now
    EXPECT_TRUE(DestroyWindow(hwnd));
}

}  // namespace
