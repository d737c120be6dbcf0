// CDebugPrintf: the process-wide debug log, one line per Print, and g_DebugPrintf, the one
// instance each program has (defined in the common library, so every program that logs gets
// exactly one; it is constructed before every other global of the program and destroyed after
// them, so their constructors and destructors may log).
//
// The file is UTF-16LE without a byte-order mark. A line is
//   "MM/DD/YYYY hh:mm:ss [s.mmm-PID:pid-ttttt] message\r\n"
// (the year has four digits although its field is "%02d": the width is a minimum). The tick
// field s.mmm is the machine's tick count itself (GetTickCount, shared by every process), so a
// line can be set against the tick values other processes show and log, such as the engine's
// heartbeat in the command block, and the engine's and the service's logs line up by it. No base
// is subtracted: one read from the log's own first bytes (date text) would make the field noise.
// The message follows wvsprintfW: wide format, no floating point, at most 1023 characters.
//
// Size: after each line, a file larger than the limit (1000 KB) is cut to its newer half: the
// lines from the first whole line that starts at or after the middle (rounded up to an even byte)
// are copied, each with exactly one CR LF, to a temporary file ("~zb" in the temporary folder),
// which then replaces the log through SafeReplaceFile; the log is reopened. Any failure of a cut
// turns size checking off for the rest of the run (the log keeps growing rather than losing
// lines), and a half-made temporary file is removed.
//
// Console echo (off at start): with m_bConsoleEcho each line also goes to standard output, byte
// for byte what the file gets (UTF-16LE). With m_bEchoAnsi as well, the service's form is used
// instead: the message alone in the ANSI code page, then "\r\n".
//
// Threads: any thread may call Print, LimitSize and Init; one critical section makes each line
// (its write, the flush, a cut and the echo) whole against other lines of the process. Other
// processes may write the same file (each run of the service program writes the service's log):
// the file is opened for appending and each line is a single write, so lines of different
// processes never overwrite or split each other; a size cut by one process is not seen by the
// others' open handles, whose later lines are lost. The named mutex
// "RQTDebugMutex" is only opened (never created, never waited on); it is opened by the first
// Init rather than at construction, so a program's static start touches no emulation root.
//
// Failures are silent: a file that cannot be opened makes Init return false and later lines are
// lost; lines before Init are lost too; write failures are ignored.
#pragma once

#include "platform/base/CString.h"
#include "platform/base/StringFormat.h"
#include "platform/base/WinTypes.h"
#include "platform/win32/SyncApi.h"

class CStdioFile;

class CDebugPrintf {
   public:
    CDebugPrintf();
    CDebugPrintf(const CDebugPrintf&) = delete;
    CDebugPrintf& operator=(const CDebugPrintf&) = delete;
    virtual ~CDebugPrintf();

    // Opens (or makes) the log file; false, changing nothing, while a file is open, and false
    // when it cannot be opened.
    bool Init(LPCWSTR fileName);

    template <class... A>
    void Print(LPCWSTR format, const A&... args) {
        PrintArgs(format, zbw::CFormatArgs(args...));
    }
    void PrintArgs(LPCWSTR format, const zbw::CFormatArgs& args);
    // A detail line: printed only while m_bDebug is set.
    template <class... A>
    void PrintDebug(LPCWSTR format, const A&... args) {
        if (m_bDebug) Print(format, args...);
    }

    // Cuts the file when it is above the limit; true when the file was closed and reopened.
    bool LimitSize();
    // The limit in KB: 1000, or 0 once a cut failed.
    DWORD GetSizeLimitKB() const { return m_dwLimitKB; }

    bool m_bDebug = false;        // detail lines wanted (PrintDebug)
    bool m_bConsoleEcho = false;  // every line also to standard output
    bool m_bEchoAnsi = false;     // echo the message alone as ANSI text (the service's console)

   private:
    void WriteLine(HANDLE file, const CString& prefix, LPCWSTR message, int length);
    void Echo(const CString& prefix, LPCWSTR message, int length);
    // Copies the lines of the newer half of the log into temp and closes both files.
    bool CopyNewerHalf(CStdioFile& temp, ULONGLONG size);

    HANDLE m_hFile = nullptr;
    HANDLE m_hMutex = nullptr;
    CRITICAL_SECTION m_lock;
    DWORD m_dwProcessId;
    CString m_strFileName;
    DWORD m_dwLimitKB = 1000;
};

extern CDebugPrintf g_DebugPrintf;
