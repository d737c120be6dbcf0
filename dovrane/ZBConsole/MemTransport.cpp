#include "dovrane/ZBConsole/MemTransport.h"

CMemTransport::CMemTransport(CConsoleOutput& out, CAnswerPrinter& printer) : m_out(out), m_printer(printer) {}

BOOL CMemTransport::IsEngineAlive() {
    if (m_block.IsAlive(MEM_ALIVE_MS)) return TRUE;
    m_block.Open();
    return m_block.IsAlive(MEM_ALIVE_MS);
}

void CMemTransport::SendMemCommand(const CString& command) {
    m_out.Printf(u"Sending  : %s\n", command);
    CString answer;
    if (m_block.ExchangeCommand(command, MEM_ANSWER_TIMEOUT_MS, answer)) {
        m_printer.PrintAnswer(command, answer);
        return;
    }
    m_out.Write(u"MEM TimeOut.\n");
}
