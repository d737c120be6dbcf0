// CWaitCursor: the class library's hourglass while an object lives. There is no cursor here,
// so making and destroying one does nothing; any thread may use it.
#pragma once

class CWaitCursor {
   public:
    CWaitCursor() = default;
    ~CWaitCursor() = default;
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

    void Restore() {}
};
