// CCmdTarget and message maps: the class library's way of routing a message to a handler.
//
// A class that handles messages declares DECLARE_MESSAGE_MAP() and lists its handlers in its
// source file, as the class library writes them:
//
//     BEGIN_MESSAGE_MAP(CMainWnd, CWnd)
//         ON_WM_CREATE()                                   // int OnCreate(LPCREATESTRUCT)
//         ON_WM_TIMER()                                    // void OnTimer(UINT_PTR)
//         ON_MESSAGE(WM_USER + 100, &CMainWnd::OnEngineCommand)  // LRESULT Fn(WPARAM, LPARAM)
//     END_MESSAGE_MAP()
//
// The ON_WM_* lines call the handler of that name as the class sees it (its own, or its base
// class's). Handlers: OnCreate, OnDestroy, OnTimer, OnClose, OnQueryEndSession (BOOL),
// OnEndSession(BOOL), OnDeviceChange(UINT, DWORD_PTR) (BOOL); ON_COMMAND(id, &C::Fn) for
// void Fn() on WM_COMMAND with that id. Look-up goes from the most derived class's map to its
// bases; the first line for the message wins. Registered messages, notifications, update
// handlers and command routing between objects are left out. Maps are read-only once built,
// so any thread may look up.
#pragma once

#include "platform/classlib/Object.h"
#include "platform/win32/WinUser.h"

class CCmdTarget;

struct MSGMAP_ENTRY {
    UINT message;
    UINT id;  // command id for WM_COMMAND, else 0
    LRESULT (*handler)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);
};

struct MESSAGE_MAP {
    const MESSAGE_MAP* (*base)();
    const MSGMAP_ENTRY* entries;  // ends with a null handler
};

class CCmdTarget : public CObject {
   public:
    // The first handler for message (and, for WM_COMMAND, the command id), or null.
    const MSGMAP_ENTRY* FindMessageEntry(UINT message, UINT id) const;

   protected:
    static const MESSAGE_MAP* GetThisMessageMap();
    virtual const MESSAGE_MAP* GetMessageMap() const;
};

#define DECLARE_MESSAGE_MAP()                      \
   protected:                                      \
    static const MESSAGE_MAP* GetThisMessageMap(); \
    const MESSAGE_MAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)           \
    const MESSAGE_MAP* theClass::GetMessageMap() const { \
        return GetThisMessageMap();                      \
    }                                                    \
    const MESSAGE_MAP* theClass::GetThisMessageMap() {   \
        using ThisClass [[maybe_unused]] = theClass;     \
        using TheBaseClass = baseClass;                  \
        static const MSGMAP_ENTRY entries[] = {
#define END_MESSAGE_MAP()                                                       \
    { 0, 0, nullptr }                                                           \
    }                                                                           \
    ;                                                                           \
    static const MESSAGE_MAP map = {&TheBaseClass::GetThisMessageMap, entries}; \
    return &map;                                                                \
    }

#define ZBW_MSG_THUNK(body)                                              \
    [](CCmdTarget* zbwTarget, WPARAM wParam, LPARAM lParam) -> LRESULT { \
        auto* self = static_cast<ThisClass*>(zbwTarget);                 \
        (void)self;                                                      \
        (void)wParam;                                                    \
        (void)lParam;                                                    \
        body                                                             \
    }

#define ON_WM_CREATE()                                                                                \
    { WM_CREATE, 0, ZBW_MSG_THUNK(return self->OnCreate(reinterpret_cast<LPCREATESTRUCT>(lParam));) } \
    ,
#define ON_WM_DESTROY()                                            \
    { WM_DESTROY, 0, ZBW_MSG_THUNK(self->OnDestroy(); return 0;) } \
    ,
#define ON_WM_TIMER()                                                                       \
    { WM_TIMER, 0, ZBW_MSG_THUNK(self->OnTimer(static_cast<UINT_PTR>(wParam)); return 0;) } \
    ,
#define ON_WM_CLOSE()                                          \
    { WM_CLOSE, 0, ZBW_MSG_THUNK(self->OnClose(); return 0;) } \
    ,
#define ON_WM_QUERYENDSESSION()                                                 \
    { WM_QUERYENDSESSION, 0, ZBW_MSG_THUNK(return self->OnQueryEndSession();) } \
    ,
#define ON_WM_ENDSESSION()                                                                        \
    { WM_ENDSESSION, 0, ZBW_MSG_THUNK(self->OnEndSession(static_cast<BOOL>(wParam)); return 0;) } \
    ,
#define ON_WM_DEVICECHANGE()                                                                             \
    {                                                                                                    \
        WM_DEVICECHANGE, 0,                                                                              \
            ZBW_MSG_THUNK(                                                                               \
                return self->OnDeviceChange(static_cast<UINT>(wParam), static_cast<DWORD_PTR>(lParam));) \
    }                                                                                                    \
    ,
#define ON_MESSAGE(message, memberFxn)                                            \
    { (message), 0, ZBW_MSG_THUNK(return (self->*(memberFxn))(wParam, lParam);) } \
    ,
#define ON_COMMAND(id, memberFxn)                                          \
    { WM_COMMAND, (id), ZBW_MSG_THUNK((self->*(memberFxn))(); return 0;) } \
    ,
