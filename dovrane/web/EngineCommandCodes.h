// The engine commands that the servers send or post to the engine's main window, which carries
// them out on the main thread (dovrane/MainWnd.h says what each does and answers). They are this
// library's because the HTTP server sends them too, through the sink its owner gives it.
#pragma once

#include "platform/base/WinTypes.h"
#include "platform/win32/WinUser.h"

#define WM_ENGINE_COMMAND (WM_USER + 100)

// Codes of WM_ENGINE_COMMAND.
enum : WPARAM {
    ENGINE_CMD_SHUTDOWN = 1,
    ENGINE_CMD_LOAD = 2,
    ENGINE_CMD_SAVE = 3,
    ENGINE_CMD_REMOVE = 4,
    ENGINE_CMD_ADD = 5,
    ENGINE_CMD_SET = 6,
    ENGINE_CMD_RESTART = 7,
};
