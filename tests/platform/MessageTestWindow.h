// Test helpers for the message library: a window whose procedure records what reached it, and
// a bounded pump.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/win32/WinUser.h"

struct SEEN_MESSAGE {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD threadId;
};

// What reached a window; reply gives the procedure's result (DefWindowProcW when empty).
class CRecorder {
   public:
    std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> reply;

    void Add(const SEEN_MESSAGE& seen) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_seen.push_back(seen);
    }
    // The messages in [first, last] in the order they came.
    std::vector<SEEN_MESSAGE> Seen(UINT first = WM_USER, UINT last = 0xFFFF) {
        std::lock_guard<std::mutex> guard(m_lock);
        std::vector<SEEN_MESSAGE> out;
        for (const SEEN_MESSAGE& seen : m_seen) {
            if (seen.message >= first && seen.message <= last) out.push_back(seen);
        }
        return out;
    }
    size_t Count(UINT message) { return Seen(message, message).size(); }

   private:
    std::mutex m_lock;
    std::vector<SEEN_MESSAGE> m_seen;
};

inline LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* recorder = reinterpret_cast<CRecorder*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!recorder) return DefWindowProcW(hwnd, message, wParam, lParam);
    recorder->Add(SEEN_MESSAGE{hwnd, message, wParam, lParam, static_cast<DWORD>(gettid())});
    if (recorder->reply) return recorder->reply(hwnd, message, wParam, lParam);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Real time for the waits below, which must not end early or late when a test steers the clock.
constexpr std::chrono::milliseconds kRealWaitBound{10000};

// The future's value once it is ready within the bound. A result that never comes fails the test
// and ends the process: the thread that owes it holds the test's objects and cannot be joined.
template <class T>
T GetWithinBound(std::future<T> future) {
    if (future.wait_for(kRealWaitBound) != std::future_status::ready) {
        ADD_FAILURE() << "no result within " << kRealWaitBound.count() << " ms";
        std::abort();
    }
    return future.get();
}

// Polls flag until it is set or the bound passes; returns the flag.
inline bool WaitForFlag(const std::atomic<bool>& flag) {
    const auto deadline = std::chrono::steady_clock::now() + kRealWaitBound;
    while (!flag && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return flag;
}

// A top-level window of the calling thread that records into recorder.
inline HWND MakeRecordingWindow(CRecorder* recorder, LPCWSTR title = u"recording") {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = RecordingProc;
    windowClass.lpszClassName = u"ZbwTestRecordingWindow";
    RegisterClassW(&windowClass);  // fails harmlessly once the class exists
    HWND hwnd = CreateWindowExW(0, u"ZbwTestRecordingWindow", title, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                nullptr, nullptr);
    if (hwnd) SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(recorder));
    return hwnd;
}

// Pumps the calling thread's queue until done() holds or timeoutMs pass; returns done().
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000) {
    int64_t deadline = zbw::DeadlineAfter(timeoutMs);
    while (!done()) {
        int64_t left = zbw::RemainingUntil(deadline);
        if (left == 0) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<int64_t>(left, 50)),
                                  QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message != WM_QUIT) DispatchMessageW(&msg);
        }
    }
    return true;
}

// Empties the calling thread's queue without dispatching (quit state included).
inline void DiscardMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}
