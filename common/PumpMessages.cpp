#include "common/PumpMessages.h"

#include "platform/win32/WinUser.h"

void PumpMessages() {
    MSG msg;
    bool quit = false;
    int quitCode = 0;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            quit = true;
            quitCode = static_cast<int>(msg.wParam);
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // Posted only now: a quit state pending inside the loop would be seen again at once.
    if (quit) PostQuitMessage(quitCode);
}
