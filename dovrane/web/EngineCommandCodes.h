// The engine commands that the servers hand to the engine's main window, which carries them out
// on the main thread (dovrane/MainWnd.h says what each does and answers). They are this
// library's because the HTTP server sends them too, through the sink its owner gives it.
//
// WM_ENGINE_COMMAND carries a CString* argument and is sent (or, for shutdown and restart,
// posted). WM_ENGINE_CALL carries a CEngineCall (EngineCall.h), posted with a bounded wait for
// its answer: the servers' way to every run-item command, so that only the main thread touches
// the run items.
#pragma once

#include "platform/base/WinTypes.h"
#include "platform/win32/WinUser.h"

#define WM_ENGINE_COMMAND (WM_USER + 100)
#define WM_ENGINE_CALL (WM_USER + 101)

// Codes of WM_ENGINE_COMMAND and WM_ENGINE_CALL.
enum : WPARAM {
    ENGINE_CMD_SHUTDOWN = 1,
    ENGINE_CMD_LOAD = 2,
    ENGINE_CMD_SAVE = 3,
    ENGINE_CMD_REMOVE = 4,
    ENGINE_CMD_ADD = 5,
    ENGINE_CMD_SET = 6,
    ENGINE_CMD_RESTART = 7,
    // The run-item commands; the text is the profile name or the category (empty: all). Each
    // answers the run-item list's result.
    ENGINE_CMD_RUN = 100,  // RUNPROFILE_STARTED, _RUNNING, _NOT_ACTIVE or _NOT_FOUND
    ENGINE_CMD_RUN_CATEGORY = 101,
    ENGINE_CMD_RUN_IN_SEQUENCE = 102,
    ENGINE_CMD_STOP = 103,
    ENGINE_CMD_STOP_CATEGORY = 104,
    ENGINE_CMD_ENABLE = 105,
    ENGINE_CMD_ENABLE_CATEGORY = 106,
    ENGINE_CMD_DISABLE = 107,
    ENGINE_CMD_DISABLE_CATEGORY = 108,
    // The text is the name, ENGINE_ARGUMENT_SEPARATOR and the category.
    ENGINE_CMD_MOVE_UP = 109,
    ENGINE_CMD_MOVE_DOWN = 110,
    ENGINE_CMD_RESET_LAST_RUNS = 111,
    // The runs of the profiles that run at the engine start; no text.
    ENGINE_CMD_RUN_AT_STARTUP = 112,
};

#define ENGINE_ARGUMENT_SEPARATOR u'\x0001'

// How long a server thread waits for the main window's answer to a WM_ENGINE_CALL. The main
// thread answers within a message round trip unless it is in a stop's bounded pump, which lets
// no command in; past this time the command is answered as accepted and is carried out after.
constexpr DWORD ENGINE_CALL_TIMEOUT_MS = 5000;
