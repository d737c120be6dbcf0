// CEngineCall: one engine command handed to the main window with a bounded wait. The server
// threads (command server, HTTP client threads) carry out nothing that touches the run items
// themselves: they post the command as WM_ENGINE_CALL and wait, for at most the time given, for
// the main thread's answer.
//
// Threads: Send on any thread but the window's; Take and Answer on the window's thread, in its
// WM_ENGINE_CALL handler. Sender and window share the call, so either may be gone first: a call
// not answered in time is still carried out when the main thread comes to it, and its answer is
// dropped. A call that cannot be posted (no window, or it went) is never carried out.
#pragma once

#include <memory>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

class CEngineCall {
   public:
    enum OUTCOME {
        CALL_ANSWERED,  // carried out; result and text hold the answer
        CALL_PENDING,   // posted but not answered in time: it is carried out later
        CALL_FAILED,    // not posted: it is never carried out
    };

    ~CEngineCall();
    CEngineCall(const CEngineCall&) = delete;
    CEngineCall& operator=(const CEngineCall&) = delete;

    // Posts code with text as its argument to window and waits up to timeoutMs. When answered,
    // result and text hold the main window's answer; else both stay as they were.
    static OUTCOME Send(HWND window, WPARAM code, CString& text, DWORD timeoutMs, LRESULT& result);

    // Posts code with text and does not wait for the answer; false when it could not be posted.
    static bool Post(HWND window, WPARAM code, const CString& text);

    // The call a WM_ENGINE_CALL carries (lParam), taken over from the message; null for none.
    static std::shared_ptr<CEngineCall> Take(LPARAM message);

    WPARAM GetCode() const { return m_code; }
    // The argument; the handler may write its answer text into it.
    CString& GetText() { return m_text; }
    // Hands the result (and the text as it is now) back to the sender, if it still waits.
    void Answer(LRESULT result);

   private:
    CEngineCall(WPARAM code, const CString& text);

    const WPARAM m_code;
    CString m_text;
    LRESULT m_result = 0;
    HANDLE m_hAnswered;
};
