// CEvent: the class library's event over CreateEventW (SyncApi.h), manual or auto reset, named
// or not. Lock waits for it; Unlock does nothing. Any thread may use it.
#pragma once

#include "platform/classlib/SyncObject.h"

class CEvent : public CSyncObject {
   public:
    // initiallyOwn is the initial signalled state.
    explicit CEvent(BOOL initiallyOwn = FALSE, BOOL manualReset = FALSE, LPCTSTR name = nullptr,
                    LPSECURITY_ATTRIBUTES attributes = nullptr);

    BOOL SetEvent();
    BOOL ResetEvent();
    BOOL Unlock() override { return TRUE; }
    using CSyncObject::Unlock;
};
