// How layer processes reach each other: the control endpoint and the window directory.
//
// Control endpoint: once StartControlEndpoint has run, the process listens on a Unix datagram
// socket named by its pid in its user part of the emulation root (ctl/<pid>), served by a
// background thread that hands each record to the message layer (zbw::PostLocal). A record is
// one posted message: window or thread, message, wParam, lParam (numbers only; pointers mean
// nothing in another process). The socket is mode 0600, so a process reaches the processes of
// its own user; root reaches everybody's, since the poster looks in every user part of the
// root (a pid is unique on the machine).
//
// Window directory: a published window is a small entry file (class, title, pid, hwnd) in the
// user part (windows/), which its process holds under an exclusive flock for as long as the
// window lives. The lock goes with the process, so an entry whose owner died is never returned
// and is removed by the next look-up; a reused pid cannot revive it, since entry names are
// unique to each publication.
//
// All functions are thread-safe.
#pragma once

#include <functional>

#include "platform/base/WinTypes.h"

namespace zbw {

// Starts this process's endpoint; later calls do nothing. False (with the last error) when the
// socket cannot be made; a later call tries again.
bool StartControlEndpoint();
// Removes the endpoint's socket name (normal exit does this; names left by processes that ended
// otherwise are swept by the next endpoint that starts).
void StopControlEndpoint();

// Posts one message into process pid: to hwnd when it is set, else to thread tid. A process of a
// program outside the layer (no endpoint, and no endpoint mark in its program file) gets SIGTERM
// for WM_QUIT and WM_CLOSE; other messages to it fail with ERROR_INVALID_WINDOW_HANDLE or
// ERROR_INVALID_THREAD_ID, as for a pid that does not exist. A layer program whose endpoint is
// not up yet (its first moments) fails the same way for every message, as a Windows thread
// without a message queue does, so the poster tries again. A full endpoint queue fails with
// ERROR_NOT_ENOUGH_QUOTA. Never blocks. Unlike Windows, success
// means the record reached the endpoint: a window or thread that is gone there drops it.
bool PostToOtherProcess(DWORD pid, HWND hwnd, DWORD tid, UINT msg, WPARAM wParam, LPARAM lParam);

// Publishes (or, called again, updates) a window of this process. False when the entry cannot be
// written.
bool PublishWindow(HWND hwnd, LPCWSTR cls, LPCWSTR title);
void UnpublishWindow(HWND hwnd);
// The first live published window, of any process of this user, whose class and title match
// (each compared case-insensitively, as FindWindowW does; null matches any); null when none.
HWND FindPublishedWindow(LPCWSTR cls, LPCWSTR title);

// Tests: receives what the endpoint serves instead of the message layer; empty restores it.
typedef std::function<void(HWND hwnd, DWORD tid, UINT msg, WPARAM wParam, LPARAM lParam)> ControlSink;
void SetControlSinkForTest(ControlSink sink);

}  // namespace zbw
