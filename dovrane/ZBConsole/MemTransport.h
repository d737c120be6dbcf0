// CMemTransport: the console client's way to the engine through the engine command block
// (common/CommStatus.h) when both run on one machine. The block is opened on demand and closed
// by the caller after each command or batch. One thread uses an object; it owns its block.
//
// Alive test: the heartbeat within 500 ms, else the block is opened again and tested once more.
// A command goes through the block's exchange (CCommStatus::ExchangeCommand) with 5000 ms for
// the answer; without one "MEM TimeOut." is printed.
#pragma once

#include "common/CommStatus.h"
#include "dovrane/ZBConsole/AnswerPrinter.h"

#define MEM_ALIVE_MS 500
#define MEM_ANSWER_TIMEOUT_MS 5000

class CMemTransport {
   public:
    CMemTransport(CConsoleOutput& out, CAnswerPrinter& printer);

    // TRUE when an engine's heartbeat is fresh (the block stays open for the command).
    BOOL IsEngineAlive();
    void Open() { m_block.Open(); }
    void Close() { m_block.Close(); }
    BOOL IsOpen() const { return m_block.IsOpen(); }
    // Prints "Sending  : ", sends and prints the answer or "MEM TimeOut.".
    void SendMemCommand(const CString& command);

   private:
    CConsoleOutput& m_out;
    CAnswerPrinter& m_printer;
    CCommStatus m_block{TRUE, TRUE};
};
