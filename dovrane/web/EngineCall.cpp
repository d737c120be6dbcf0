#include "dovrane/web/EngineCall.h"

#include "dovrane/web/EngineCommandCodes.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Wait.h"
#include "platform/win32/WinUser.h"

namespace {

// The message carries one heap-held reference to the call; Take adopts it.
using CALLREF = std::shared_ptr<CEngineCall>;

}  // namespace

CEngineCall::CEngineCall(WPARAM code, const CString& text)
    : m_code(code), m_text(text), m_hAnswered(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CEngineCall::~CEngineCall() {
    if (m_hAnswered) CloseHandle(m_hAnswered);
}

CEngineCall::OUTCOME CEngineCall::Send(HWND window, WPARAM code, CString& text, DWORD timeoutMs,
                                       LRESULT& result) {
    CALLREF call(new CEngineCall(code, text));
    if (!window || !call->m_hAnswered) return CALL_FAILED;
    CALLREF* carried = new CALLREF(call);
    if (!PostMessageW(window, WM_ENGINE_CALL, code, reinterpret_cast<LPARAM>(carried))) {
        delete carried;
        return CALL_FAILED;
    }
    if (WaitForSingleObject(call->m_hAnswered, timeoutMs) != WAIT_OBJECT_0) return CALL_PENDING;
    result = call->m_result;
    text = call->m_text;
    return CALL_ANSWERED;
}

bool CEngineCall::Post(HWND window, WPARAM code, const CString& text) {
    CString argument = text;
    LRESULT result = 0;
    return Send(window, code, argument, 0, result) != CALL_FAILED;
}

std::shared_ptr<CEngineCall> CEngineCall::Take(LPARAM message) {
    CALLREF* carried = reinterpret_cast<CALLREF*>(message);
    if (!carried) return nullptr;
    CALLREF call = *carried;
    delete carried;
    return call;
}

void CEngineCall::Answer(LRESULT result) {
    m_result = result;
    SetEvent(m_hAnswered);
}
