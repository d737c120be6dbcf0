// The emulated notification area: the icon's state file through add, modify and
// delete, icon and menu handles, menu resources and default items.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "platform/base/WinError.h"
#include "platform/win32/NotifyIcon.h"
#include "tests/support/TestRoot.h"

namespace {

const HWND kOwner = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x1234));

NOTIFYICONDATAW Record(UINT id, UINT flags) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = kOwner;
    data.uID = id;
    data.uFlags = flags;
    return data;
}

void SetTip(NOTIFYICONDATAW& data, const std::u16string& tip) {
    size_t length = std::min(tip.size(), std::size(data.szTip) - 1);
    std::copy(tip.begin(), tip.begin() + length, data.szTip);
    data.szTip[length] = 0;
}

std::string State(UINT id) {
    return ReadHostFile(zbw::NotifyIconStatePath(static_cast<DWORD>(getpid()), id));
}

bool Has(const std::string& state, const std::string& line) {
    return state.find(line + "\n") != std::string::npos;
}

TEST(NotifyIconTest, StateFileFollowsAddModifyDelete) {
    CTestRoot root;
    HICON running = LoadIconW(nullptr, MAKEINTRESOURCEW(130));
    HICON stopped = LoadIconW(nullptr, MAKEINTRESOURCEW(131));
    ASSERT_NE(running, nullptr);
    NOTIFYICONDATAW data = Record(109, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    data.uCallbackMessage = 32778;
    data.hIcon = running;
    SetTip(data, u"ZBEngine");
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
    std::string state = State(109);
    EXPECT_TRUE(Has(state, "id=109"));
    EXPECT_TRUE(Has(state, "callback=32778"));
    EXPECT_TRUE(Has(state, "icon=130"));
    EXPECT_TRUE(Has(state, "tip=ZBEngine"));
    EXPECT_TRUE(Has(state, "owner=" + std::to_string(0x1234)));

    SetLastError(0);
    EXPECT_FALSE(Shell_NotifyIconW(NIM_ADD, &data));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

    // Only the fields the flags name change.
    NOTIFYICONDATAW icon = Record(109, NIF_ICON);
    icon.hIcon = stopped;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &icon));
    NOTIFYICONDATAW tip = Record(109, NIF_TIP);
    SetTip(tip, u"ZBEngine not running\nsecond line");
    ASSERT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &tip));
    state = State(109);
    EXPECT_TRUE(Has(state, "icon=131"));
    EXPECT_TRUE(Has(state, "callback=32778"));
    EXPECT_TRUE(Has(state, "tip=ZBEngine not running second line"));

    NOTIFYICONDATAW balloon = Record(109, NIF_INFO);
    std::u16string text = u"Hello";
    std::copy(text.begin(), text.end(), balloon.szInfo);
    balloon.uTimeout = 10000;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &balloon));
    EXPECT_TRUE(Has(State(109), "info=Hello"));
    EXPECT_TRUE(Has(State(109), "timeout=10000"));

    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
    EXPECT_EQ(State(109), "");
    EXPECT_TRUE(DestroyIcon(running));
    EXPECT_TRUE(DestroyIcon(stopped));
}

TEST(NotifyIconTest, RefusedRequests) {
    CTestRoot root;
    struct CASE {
        DWORD message;
        HWND owner;
        DWORD error;
    };
    const CASE cases[] = {
        {NIM_MODIFY, kOwner, ERROR_FILE_NOT_FOUND},
        {NIM_DELETE, kOwner, ERROR_FILE_NOT_FOUND},
        {NIM_ADD, nullptr, ERROR_INVALID_PARAMETER},
        {7, kOwner, ERROR_INVALID_PARAMETER},
    };
    for (const CASE& item : cases) {
        SCOPED_TRACE(item.message);
        NOTIFYICONDATAW data = Record(5, NIF_TIP);
        data.hWnd = item.owner;
        SetLastError(0);
        EXPECT_FALSE(Shell_NotifyIconW(item.message, &data));
        EXPECT_EQ(GetLastError(), item.error);
    }
    EXPECT_EQ(LoadImageW(nullptr, MAKEINTRESOURCEW(130), 0, 16, 16, 0), nullptr);
    HMENU menu = CreateMenu();
    EXPECT_FALSE(DestroyIcon(reinterpret_cast<HICON>(menu)));
    EXPECT_TRUE(DestroyMenu(menu));
}

HMENU BuildMenu() {
    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, 32773, u"Home");
    AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(popup, MF_STRING, 105, u"Hide");
    HMENU menu = CreateMenu();
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), u"Tray");
    return menu;
}

TEST(NotifyIconTest, MenuResourcesAndDefaultItems) {
    EXPECT_EQ(LoadMenuW(nullptr, MAKEINTRESOURCEW(4242)), nullptr);
    zbw::SetMenuResource(4242, BuildMenu);
    HMENU menu = LoadMenuW(nullptr, MAKEINTRESOURCEW(4242));
    ASSERT_NE(menu, nullptr);
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(GetSubMenu(menu, 1), nullptr);
    EXPECT_EQ(GetMenuItemCount(popup), 3);
    EXPECT_EQ(GetMenuItemID(popup, 0), 32773u);
    EXPECT_EQ(GetMenuItemID(popup, 1), static_cast<UINT>(-1));
    EXPECT_EQ(GetMenuItemID(menu, 0), static_cast<UINT>(-1));

    EXPECT_EQ(GetMenuDefaultItem(popup, 0, 0), static_cast<UINT>(-1));
    EXPECT_TRUE(SetMenuDefaultItem(popup, 2, TRUE));
    EXPECT_EQ(GetMenuDefaultItem(popup, 0, 0), 105u);
    EXPECT_TRUE(SetMenuDefaultItem(popup, 32773, FALSE));
    EXPECT_EQ(GetMenuDefaultItem(popup, MF_BYPOSITION, 0), 0u);
    EXPECT_FALSE(SetMenuDefaultItem(popup, 999, FALSE));

    EXPECT_EQ(TrackPopupMenu(popup, TPM_LEFTBUTTON, 0, 0, 0, kOwner, nullptr), 0);
    // The bar owns its popup: both go together.
    EXPECT_TRUE(DestroyMenu(menu));
    EXPECT_FALSE(DestroyMenu(popup));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    // A popup destroyed first leaves the bar's destruction harmless.
    menu = LoadMenuW(nullptr, MAKEINTRESOURCEW(4242));
    EXPECT_TRUE(DestroyMenu(GetSubMenu(menu, 0)));
    EXPECT_TRUE(DestroyMenu(menu));
}

}  // namespace
