// Windows of the layer: creation, classes, finding windows, publishing; fakes a temporary emulation root; a
// recording window plays the receiver.
#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>
#include <vector>

#include "platform/base/WinError.h"
#include "platform/win32/ControlEndpoint.h"
#include "platform/win32/LateBound.h"
#include "tests/platform/MessageTestWindow.h"
#include "tests/support/TestRoot.h"

namespace {

std::vector<UINT> g_creationMessages;
LRESULT g_createAnswer = 0;

LRESULT CALLBACK CreationProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE || message == WM_CREATE || message == WM_DESTROY || message == WM_NCDESTROY) {
        g_creationMessages.push_back(message);
    }
    if (message == WM_CREATE) {
        auto* create = reinterpret_cast<LPCREATESTRUCT>(lParam);
        EXPECT_EQ(std::u16string(create->lpszName), u"made");
        EXPECT_EQ(create->style, static_cast<LONG>(WS_POPUP));
        return g_createAnswer;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

class WindowTest : public ::testing::Test {
   protected:
    void SetUp() override {
        g_creationMessages.clear();
        g_createAnswer = 0;
    }
    void TearDown() override {
        for (HWND hwnd : m_windows) DestroyWindow(hwnd);
        DiscardMessages();
    }

    HWND Window(LPCWSTR title) {
        HWND hwnd = MakeRecordingWindow(&m_recorders.emplace_back(), title);
        m_windows.push_back(hwnd);
        return hwnd;
    }

    static ATOM RegisterCreationClass() {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = CreationProc;
        windowClass.lpszClassName = u"ZbwTestCreation";
        ATOM atom = RegisterClassExW(&windowClass);
        if (atom == 0 && GetLastError() == ERROR_CLASS_ALREADY_EXISTS) return 0xFFFF;  // earlier test
        return atom;
    }

    CTestRoot m_root;
    std::deque<CRecorder> m_recorders;
    std::vector<HWND> m_windows;
};

TEST_F(WindowTest, CreationAndDestructionSendTheirMessagesInOrder) {
    ASSERT_NE(RegisterCreationClass(), 0);
    HWND hwnd = CreateWindowExW(0, u"zbwtestcreation", u"made", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(g_creationMessages, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
}

TEST_F(WindowTest, MinusOneFromCreateFailsTheCreation) {
    ASSERT_NE(RegisterCreationClass(), 0);
    g_createAnswer = -1;
    HWND hwnd = CreateWindowExW(0, u"ZbwTestCreation", u"made", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                nullptr, nullptr);
    EXPECT_EQ(hwnd, nullptr);
    EXPECT_EQ(g_creationMessages, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_EQ(FindWindowW(u"ZbwTestCreation", nullptr), nullptr);
}

TEST_F(WindowTest, ClassesAreUniqueAndMustExist) {
    static int round = 0;  // classes outlive a repeated test
    std::u16string name = u"ZbwTestUnique" + std::u16string(1, static_cast<char16_t>(u'A' + round++));
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = name.c_str();
    ATOM atom = RegisterClassW(&windowClass);
    ASSERT_GE(atom, 0xC000);
    std::u16string upper = name;
    for (char16_t& ch : upper) ch = (ch >= u'a' && ch <= u'z') ? ch - 32 : ch;
    windowClass.lpszClassName = upper.c_str();
    EXPECT_EQ(RegisterClassW(&windowClass), 0);
    EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
    WNDCLASSEXW wrongSize{};
    wrongSize.lpszClassName = u"ZbwTestWrongSize";
    EXPECT_EQ(RegisterClassExW(&wrongSize), 0);
    EXPECT_EQ(CreateWindowExW(0, u"ZbwTestMissing", u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
    // A class given by its atom.
    auto byAtom = reinterpret_cast<LPCWSTR>(static_cast<uintptr_t>(atom));
    HWND hwnd = CreateWindowExW(0, byAtom, u"atom", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    m_windows.push_back(hwnd);
    EXPECT_EQ(FindWindowW(byAtom, nullptr), hwnd);
    EXPECT_EQ(FindWindowW(upper.c_str(), u"ATOM"), hwnd);
}

TEST_F(WindowTest, FindWindowByClassOrTitleIgnoringCase) {
    HWND first = Window(u"ZBEngineIconWindowTitle");
    HWND second = Window(u"Other");
    EXPECT_EQ(FindWindowW(nullptr, u"zbengineiconwindowtitle"), first);
    EXPECT_EQ(FindWindowW(u"ZbwTestRecordingWindow", u"other"), second);
    EXPECT_EQ(FindWindowW(u"ZbwTestRecordingWindow", nullptr), first);
    EXPECT_EQ(FindWindowW(u"NoSuchClass", nullptr), nullptr);
    EXPECT_EQ(FindWindowW(nullptr, u"No such title"), nullptr);
    DestroyWindow(first);
    EXPECT_EQ(FindWindowW(nullptr, u"ZBEngineIconWindowTitle"), nullptr);
}

TEST_F(WindowTest, ChildWindowsAreNotFoundButDesktopChildrenAre) {
    HWND top = Window(u"top");
    HWND child = CreateWindowExW(0, u"ZbwTestRecordingWindow", u"child", WS_CHILD, 0, 0, 10, 10, top, nullptr,
                                 nullptr, nullptr);
    HWND item = CreateWindowExW(0, u"ZbwTestRecordingWindow", u"ZBEngRunItemWindow", WS_CHILD, 0, 0, 10, 10,
                                GetDesktopWindow(), nullptr, nullptr, nullptr);
    ASSERT_NE(child, nullptr);
    ASSERT_NE(item, nullptr);
    m_windows.push_back(child);
    m_windows.push_back(item);
    EXPECT_EQ(FindWindowW(nullptr, u"child"), nullptr);
    EXPECT_EQ(FindWindowW(nullptr, u"ZBEngRunItemWindow"), item);
    HWND bogusParent = reinterpret_cast<HWND>((static_cast<uintptr_t>(getpid()) << 32) | 0x7FFFFFF0u);
    EXPECT_EQ(CreateWindowExW(0, u"ZbwTestRecordingWindow", u"", WS_CHILD, 0, 0, 1, 1, bogusParent, nullptr,
                              nullptr, nullptr),
              nullptr);
}

// Other processes find what is published: top-level windows, but no WS_CHILD window of the
// desktop (each published window holds a descriptor, and nobody looks for item windows).
TEST_F(WindowTest, OnlyTopLevelWindowsWithoutChildStyleArePublished) {
    HWND top = Window(u"published top");
    HWND item = CreateWindowExW(0, u"ZbwTestRecordingWindow", u"item of the desktop", WS_CHILD, 0, 0, 10, 10,
                                GetDesktopWindow(), nullptr, nullptr, nullptr);
    ASSERT_NE(item, nullptr);
    m_windows.push_back(item);
    EXPECT_EQ(zbw::FindPublishedWindow(nullptr, u"published top"), top);
    EXPECT_EQ(zbw::FindPublishedWindow(nullptr, u"item of the desktop"), nullptr);
    EXPECT_EQ(FindWindowW(nullptr, u"item of the desktop"), item) << "found in its own process";
    EXPECT_TRUE(SetWindowTextW(item, u"renamed item"));
    EXPECT_EQ(zbw::FindPublishedWindow(nullptr, u"renamed item"), nullptr);
}

TEST_F(WindowTest, TitlesCanBeReadAndChanged) {
    HWND hwnd = Window(u"zbengine");
    char16_t buffer[5];
    EXPECT_EQ(GetWindowTextW(hwnd, buffer, 5), 4);
    EXPECT_EQ(std::u16string(buffer), u"zben");
    EXPECT_TRUE(SetWindowTextW(hwnd, u"renamed"));
    char16_t whole[32];
    EXPECT_EQ(GetWindowTextW(hwnd, whole, 32), 7);
    EXPECT_EQ(FindWindowW(nullptr, u"renamed"), hwnd);
    EXPECT_EQ(FindWindowW(nullptr, u"zbengine"), nullptr);
}

TEST_F(WindowTest, DefaultProcedureClosesAndAnswers) {
    HWND hwnd = Window(u"closing");
    EXPECT_EQ(DefWindowProcW(hwnd, WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_EQ(DefWindowProcW(hwnd, WM_USER, 0, 0), 0);
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(WindowTest, DesktopIsAWindowOfNoProcess) {
    HWND desktop = GetDesktopWindow();
    EXPECT_TRUE(IsWindow(desktop));
    EXPECT_EQ(zbw::ProcessOfWindow(desktop), 0u);
    EXPECT_FALSE(PostMessageW(desktop, WM_USER, 0, 0));
}

TEST_F(WindowTest, ShutdownBlockReasonsAreBoundByNameAndAccepted) {
    HWND hwnd = Window(u"main");
    HMODULE user32 = LoadLibraryW(u"user32.dll");
    ASSERT_NE(user32, nullptr);
    auto create =
        reinterpret_cast<BOOL (*)(HWND, LPCWSTR)>(GetProcAddress(user32, "ShutdownBlockReasonCreate"));
    auto destroy = reinterpret_cast<BOOL (*)(HWND)>(GetProcAddress(user32, "ShutdownBlockReasonDestroy"));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(destroy, nullptr);
    EXPECT_TRUE(create(hwnd, u"ZBEngine is stopping running profiles"));
    EXPECT_TRUE(destroy(hwnd));
    FreeLibrary(user32);
}

TEST_F(WindowTest, RegisteredMessagesAreSharedByName) {
    UINT taskbar = RegisterWindowMessageW(u"TaskbarCreated");
    UINT other = RegisterWindowMessageW(u"ZbwTestOther");
    EXPECT_GE(taskbar, 0xC000u);
    EXPECT_LE(taskbar, 0xFFFFu);
    EXPECT_NE(taskbar, other);
    EXPECT_EQ(RegisterWindowMessageW(u"taskbarcreated"), taskbar);
    EXPECT_EQ(RegisterWindowMessageW(u""), 0u);
    EXPECT_EQ(RegisterWindowMessageW(u"two\nlines"), 0u);
    // Another process of the same root gets the same ids.
    testing::FLAGS_gtest_death_test_style = "fast";
    EXPECT_EXIT(_exit(RegisterWindowMessageW(u"ZbwTestOther") == other &&
                              RegisterWindowMessageW(u"ZbwTestThird") > other
                          ? 0
                          : 1),
                testing::ExitedWithCode(0), "");
    EXPECT_EQ(RegisterWindowMessageW(u"ZbwTestThird"), other + 1);
}

}  // namespace
