// CSemaphore: the class library's semaphore over CreateSemaphoreW (SyncApi.h), named or not.
// Lock takes one count; Unlock gives one back, Unlock(count, previous) several.
#pragma once

#include "platform/classlib/SyncObject.h"

class CSemaphore : public CSyncObject {
   public:
    explicit CSemaphore(LONG initialCount = 1, LONG maximumCount = 1, LPCTSTR name = nullptr,
                        LPSECURITY_ATTRIBUTES attributes = nullptr);

    BOOL Unlock() override;
    BOOL Unlock(LONG count, LONG* previousCount = nullptr) override;
};
