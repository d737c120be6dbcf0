// CWindowTable: the process's window classes and windows, and the making of window handles.
//
// One instance per process, safe for every thread. A handle is the pid in the upper 32 bits
// and a serial number below, so it names its process and is never reused within it. The table
// only keeps records: window procedures are called by the caller, outside its lock.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/WinUser.h"

class CWindowTable {
   public:
    struct WNDCLASS_RECORD {
        std::u16string name;
        ATOM atom;
        WNDPROC proc;
        UINT style;
    };

    struct WINDOW_RECORD {
        HWND hwnd;
        DWORD threadId;
        std::u16string className;
        std::u16string title;
        DWORD style;
        HWND parent;
        WNDPROC proc;
        LONG_PTR userData;
        bool destroying;
    };

    static CWindowTable& Instance();

    // 0 with ERROR_CLASS_ALREADY_EXISTS when the name is taken.
    ATOM AddClass(LPCWSTR name, WNDPROC proc, UINT style);
    // By name or by atom (a pointer value below 0x10000).
    bool FindClass(LPCWSTR nameOrAtom, WNDCLASS_RECORD* found);

    HWND AddWindow(const WINDOW_RECORD& record);
    void RemoveWindow(HWND hwnd);
    // A copy of a live window's record.
    bool Lookup(HWND hwnd, WINDOW_RECORD* found);
    // A live window's thread and procedure, without copying the record (for every message).
    bool Owner(HWND hwnd, DWORD* threadId, WNDPROC* proc);
    bool SetProc(HWND hwnd, WNDPROC proc, WNDPROC* old);
    bool SetUserData(HWND hwnd, LONG_PTR value, LONG_PTR* old);
    bool SetTitle(HWND hwnd, const std::u16string& title);
    // False when the window is gone or already being destroyed; marks it otherwise.
    bool BeginDestroy(HWND hwnd);
    // The first top-level window (no parent, or the desktop) with that class and title
    // (null matches any), without regard to case.
    HWND FindTopLevel(LPCWSTR className, LPCWSTR title);
    // Drops the windows of an ended thread and unpublishes them.
    void ForgetThread(DWORD threadId);

   private:
    std::mutex m_lock;
    std::vector<WNDCLASS_RECORD> m_classes;
    std::map<uintptr_t, WINDOW_RECORD> m_windows;
    uint32_t m_nextSerial = 0x00010002;
};
