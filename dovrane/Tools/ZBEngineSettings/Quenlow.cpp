// Quenlow: ends every running ZBEngineIcon by posting WM_QUIT to its window, one second apart.
// A window that is still there after kMaxRoundsPerWindow quits (a hung or stopped program) ends
// the loop with exit code 1 instead of repeating for ever.
#include <cstdio>

#include "platform/base/Clock.h"
#include "platform/classlib/WinApp.h"
#include "platform/win32/WinUser.h"

namespace {

const char16_t kWindowClass[] = u"ZBEngineIconWindowClass";
const char16_t kWindowTitle[] = u"ZBEngineIconWindowTitle";
const DWORD kWaitMs = 1000;
const int kMaxRoundsPerWindow = 10;

HWND FindTrayWindow() {
    HWND hwnd = FindWindowW(kWindowClass, nullptr);
    return hwnd ? hwnd : FindWindowW(nullptr, kWindowTitle);
}

int CloseTrayWindows() {
    HWND last = nullptr;
    int rounds = 0;
    for (HWND hwnd = FindTrayWindow(); hwnd; hwnd = FindTrayWindow()) {
        rounds = hwnd == last ? rounds + 1 : 1;
        if (rounds > kMaxRoundsPerWindow) {
            fputs("A ZBEngineIcon window does not close.\n", stderr);
            return 1;
        }
        last = hwnd;
        PostMessageW(hwnd, WM_QUIT, 0, 0);
        Sleep(kWaitMs);
    }
    return 0;
}

int QuenlowMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int show) {
    if (!AfxWinInit(instance, nullptr, commandLine, show)) {
        fputs("Fatal Error: MFC initialization failed\n", stdout);
        return 1;
    }
    return CloseTrayWindows();
}

}  // namespace

int main(int argc, char** argv) {
    return zbw::RunWinMain(argc, argv, QuenlowMain);
}
