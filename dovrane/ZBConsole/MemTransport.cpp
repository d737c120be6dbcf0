#include "dovrane/ZBConsole/MemTransport.h"

#include "platform/base/Clock.h"

namespace {

constexpr DWORD kPollMs = 1;

}  // namespace

CMemTransport::CMemTransport(CConsoleOutput& out, CAnswerPrinter& printer) : m_out(out), m_printer(printer) {}

BOOL CMemTransport::IsEngineAlive() {
    if (m_block.IsAlive(MEM_ALIVE_MS)) return TRUE;
    m_block.Open();
    return m_block.IsAlive(MEM_ALIVE_MS);
}

void CMemTransport::SendMemCommand(const CString& command) {
    m_out.Printf(u"Sending  : %s\n", command);
    m_block.SendCommand(COMMSTATUS_COMMAND, command);
    const int64_t deadline = zbw::DeadlineAfter(MEM_ANSWER_TIMEOUT_MS);
    for (;;) {
        int type = COMMSTATUS_IDLE;
        CString answer;
        if (m_block.ReadCommand(type, answer) && type == COMMSTATUS_ANSWER) {
            m_printer.PrintAnswer(command, answer);
            return;
        }
        if (zbw::RemainingUntil(deadline) == 0) break;
        Sleep(kPollMs);
    }
    m_out.Write(u"MEM TimeOut.\n");
}
