// CCrashHandler: the crash reporter. While installed, a fatal signal (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL, SIGABRT) writes a text report and a dump next to the program, then goes on to the
// handler that was there before (or the default action, which ends the process by the signal).
// g_CrashHandler is the program's one instance (CrashHandlerGlobal.cpp, linked only into a program
// that names it); it installs at construction and puts the previous handlers back at destruction.
//
// File names: the program's Windows path with the text after the last "." of its file name
// replaced by "rpt" and "dmp" (".rpt"/".dmp" appended when the name has no "."). When a file
// cannot be made there, it is made under its file name alone in the root of drive C. Both host
// paths are resolved through the drive map at installation.
//
// The report is UTF-16LE without a byte-order mark, lines ended by CR LF: the banner, the product
// line, the system line, "Exception code: %08X %s" (the signal as the Windows exception it stands
// for: SIGSEGV near the stack pointer is STACK_OVERFLOW, SIGABRT is 40000015, a fatal application
// exit, named by the message table's text, empty when it has none), "Fault address:  %08X %02X:%08X %s"
// (instruction address, 1-based number of the loaded segment that holds it, offset in it, module path;
// 00:00000000 and no path outside every module known at installation), then the registers: EAX..EDI, EIP,
// ESP, EBP and Flags show RAX..RDI, RIP, RSP, RBP and RFLAGS in full; CS, SS, FS and GS come from the signal
// context; DS and ES are not kept by Linux and show 0000. Then the call stack (CrashStack.h) under
// "Call stack:" and its column line: per frame the address and frame pointer ("%08X  %08X  ") and the
// function as "name+displacement" from its module's symbol table, else "%04X:%08X path" (segment, offset,
// module) as in the fault address; then "========================", "Local Variables And Parameters" and
// the same frames again (there are no debugging symbols to show parameters and locals), and an empty line.
//
// The dump is our own format, all fields little-endian (CRASHDUMPHEADER below, then the raw
// bytes of the crashed thread's stack from its stack pointer upwards, at most 64 KiB, cut at the
// first unreadable page after a readable one; StackBytes says how many follow).
//
// The debugging functions are bound by name from "dbghelp" (LateBound.h), where installation
// registers this layer's stand-ins; they are bound at installation, not at the crash, since
// binding is not safe in a signal handler. A test that hides "dbghelp" gets the path of a system
// without it: no report, no dump, the signal goes on at once.
//
// Signal safety: everything is prepared at installation (paths, the first report lines, the
// module table, the stack walker, the alternate stack); the handler allocates nothing, takes no
// lock and writes with write(2). The debug log takes a lock, so the crash notice goes to standard error
// instead.
//
// Threads: construct and destroy on the main thread (the alternate stack is that thread's; a
// crash on another thread runs the handler on that thread's own stack). Only
// one instance is installed at a time; only the first crashing thread reports, a later crash goes
// on at once. Failures only shorten what is written.
#pragma once

#include <signal.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

// What the dump stand-in gets for the crashed thread.
struct CRASHEXCEPTIONINFO {
    DWORD ThreadId;
    int Signal;
    const void* SigInfo;  // siginfo_t
    const void* Context;  // ucontext_t
};

struct CRASHDUMPHEADER {
    char Magic[8];  // "ZBCRASH1"
    uint32_t HeaderSize;
    uint32_t Signal;
    int32_t SignalCode;  // si_code
    uint32_t ProcessId;
    uint32_t ThreadId;
    uint32_t RegisterCount;  // general registers in the kernel's order (23 on x86-64)
    uint64_t DataAddress;    // si_addr
    uint64_t InstructionPointer;
    uint64_t StackPointer;  // where the stack copy starts (above RSP when RSP is in the guard area)
    uint64_t StackBytes;    // directly after StackPointer
    uint64_t Registers[23];
};

class CCrashHandler {
   public:
    // InstallCrashHandler for the running program (GetModuleFileNameW; nothing when that fails).
    CCrashHandler();
    // Installs for a program at the given Windows path.
    explicit CCrashHandler(const CString& programPath);
    ~CCrashHandler();
    CCrashHandler(const CCrashHandler&) = delete;
    CCrashHandler& operator=(const CCrashHandler&) = delete;

    bool IsInstalled() const { return m_pState != nullptr; }
    // The crash file name for a program path and an extension ("rpt", "dmp").
    static CString CrashFileName(const CString& programPath, LPCWSTR extension);

   private:
    struct CState;

    bool InstallCrashHandler(const CString& programPath);
    void Uninstall();
    static void CrashHandlerFilter(int signal, siginfo_t* info, void* context);
    static void HandOn(const CState* state, int signal, const siginfo_t* info);
    static void Report(CState& state, int signal, const siginfo_t* info, const void* context);

    std::unique_ptr<CState> m_pState;
    std::atomic<bool> m_bOnce{false};
};

// The program's crash reporter; each program that wants one defines it among its globals.
extern CCrashHandler g_CrashHandler;
