// CCommStatusMem: the engine command block, a 33000-byte CSharedMemory through which programs
// on one machine hand the engine a command text and read its answer, and through which the
// engine shows that it runs (its heartbeat).
//
// Values, added in this order by the first opener (so their data lies at these offsets):
// "type" int32 at 92 (COMMSTATUS_TYPE), "count" int32 at 180 (raised by every command or answer
// written), "time" uint32 at 268 (the engine's GetTickCount, written on every pass of its
// serving loop; 0 = never written, 1 = the engine stopped), "command" 32000 bytes at 356
// (UTF-16LE text, zero-terminated, at most 31998 bytes of text).
//
// Locking: each single value operation runs under the block's "<name>_Sync"; a whole command
// write or read (type, count and command together) also runs under the second semaphore
// "<name>_Sync2" (initial and maximum count 1, the block's security attributes), waited on
// without limit. Nothing is written or read when that semaphore could not be made or taken.
//
// Alive test: "time" can be read, is not 0, and lies at most timeout ms before or after this
// process's tick count, as a signed 32-bit difference, so the test holds across the wrap of the
// tick count and a heartbeat written a moment after the reader took its tick counts as alive.
//
// Threads: one thread per object at a time (the counts it remembers are not guarded); other
// objects and processes are serialised by the semaphores.
#pragma once

#include <memory>

#include "common/SharedMemory.h"
#include "platform/base/CString.h"

#define COMMSTATUS_BLOCK_SIZE 33000
#define COMMSTATUS_COMMAND_BYTES 32000
#define COMMSTATUS_TEXT_BYTES 31998

enum COMMSTATUS_TYPE { COMMSTATUS_IDLE = 0, COMMSTATUS_ANSWER = 1, COMMSTATUS_COMMAND = 2 };

class CCommStatusMem : public CSharedMemory {
   public:
    CCommStatusMem(LPCWSTR name, LPSECURITY_ATTRIBUTES attributes);
    ~CCommStatusMem() override;

    // Adds each missing value ("type", "count", "time" holding 0, "command"); on a block this
    // object made, then writes type 0 with " " (count 1).
    void AddValues();
    // Under "_Sync2": type, count + 1, and the text's first 15999 characters (the rest of the
    // value zeroed). An empty or null text clears the command to the empty text.
    void WriteCommand(int type, LPCWSTR text);
    // Under "_Sync2": type (0 when unreadable), the count (0 when unreadable) and the text up to
    // its first zero. TRUE when the count differs from the one the previous read saw (or this is
    // the first read).
    BOOL ReadCommand(int& type, CString& text);
    // The engine's heartbeat.
    BOOL WriteTime(DWORD tick);
    BOOL IsAlive(DWORD timeoutMs);

   private:
    LONG ReadInt(LPCWSTR name);

    std::unique_ptr<CSemaphore> m_pSync2;
    LONG m_nCountRead = 0;
    LONG m_nCountSeen = -1;
};
