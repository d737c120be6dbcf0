// Child processes: CreateProcessW, exit codes, termination and priority classes, the process's own
// command line, and the Windows rules for splitting and quoting command lines.
//
// A process handle points at a CProcess: the child's pid, a pidfd and its 32-bit exit code. It is
// waitable (signalled once the child has ended), so WaitForSingleObject and the wait-for-any
// functions take it. The thread handle of PROCESS_INFORMATION is the child's main thread as a
// CThreadObject (Thread.h) with the pid as its id (the main thread's id on Linux): it is
// signalled with the process's exit code when the child ends, and SetThreadPriority acts on it.
//
// Exit codes: a child ends with an 8-bit Linux status, so a layer program that ends with -1 reads
// as 255. A child killed by TerminateProcess reports exactly the code it was given; a child killed
// by any other signal reports 128 + the signal number, as shells do.
//
// Every child is reaped: a background watcher holds each child until it ends, collects it and
// then signals its thread handle, so no zombie remains even when every handle was closed first;
// handles still open keep the exit code. The rest of the program must therefore never call
// wait(-1)/waitpid(-1) nor ignore SIGCHLD.
//
// Descriptors: only standard input, output and error reach a child; every other descriptor is
// closed in the child whatever bInheritHandles says (the layer's descriptors are O_CLOEXEC
// anyway), so no listening socket or lock leaks into a program we start.
//
// Left out: environment blocks (refused with ERROR_NOT_SUPPORTED), CREATE_SUSPENDED (refused),
// STARTUPINFOW standard handles, desktops and show modes (accepted and ignored), OpenProcess.
// All functions are thread-safe.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/WinTypes.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/Thread.h"

#define CREATE_SUSPENDED 0x00000004u
#define DETACHED_PROCESS 0x00000008u
#define CREATE_NEW_CONSOLE 0x00000010u
#define NORMAL_PRIORITY_CLASS 0x00000020u
#define IDLE_PRIORITY_CLASS 0x00000040u
#define HIGH_PRIORITY_CLASS 0x00000080u
#define REALTIME_PRIORITY_CLASS 0x00000100u
#define CREATE_NEW_PROCESS_GROUP 0x00000200u
#define CREATE_UNICODE_ENVIRONMENT 0x00000400u
#define BELOW_NORMAL_PRIORITY_CLASS 0x00004000u
#define ABOVE_NORMAL_PRIORITY_CLASS 0x00008000u
#define CREATE_NO_WINDOW 0x08000000u

#define STARTF_USESHOWWINDOW 0x00000001u
#define STARTF_FORCEONFEEDBACK 0x00000040u
#define STARTF_FORCEOFFFEEDBACK 0x00000080u
#define STARTF_USESTDHANDLES 0x00000100u

struct STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
typedef STARTUPINFOW* LPSTARTUPINFOW;

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
typedef PROCESS_INFORMATION* LPPROCESS_INFORMATION;

// One started child. Made by CreateProcessW (and ShellExecuteExW); others reach it through
// LookupHandle(...).As<CProcess>().
class CProcess : public CKernelObject {
   public:
    CProcess(int pid, int pidfd);
    ~CProcess() override;

    DWORD Pid() const { return static_cast<DWORD>(m_pid); }
    // The child's main thread (id = pid), signalled with the exit code when the child ends.
    CThreadObject* MainThread() const { return m_thread.As<CThreadObject>(); }
    // STILL_ACTIVE while the child runs, else its exit code.
    DWORD ExitCode();
    // SIGKILL with code recorded as the exit code; false (ERROR_ACCESS_DENIED) once it has ended.
    bool Terminate(UINT code);
    bool SetPriorityClass(DWORD priorityClass);
    DWORD PriorityClass() const { return m_priorityClass; }

    bool IsWaitable() const override { return true; }
    Acquire TryAcquire() override { return HasEnded() ? Acquire::Yes : Acquire::No; }
    bool IsSignalled() override { return HasEnded(); }
    int WaitFd() const override { return m_pidfd; }

   private:
    bool HasEnded();
    bool ReapLocked();

    std::mutex m_lock;
    const int m_pid;
    const int m_pidfd;
    CKernelRef m_thread;
    bool m_ended = false;
    DWORD m_exitCode = STILL_ACTIVE;
    bool m_killed = false;
    DWORD m_killCode = 0;
    std::atomic<DWORD> m_priorityClass{NORMAL_PRIORITY_CLASS};
};

// lpApplicationName names the program (no search), or, when it is null, the program is the first
// token of lpCommandLine: a quoted path, or, unquoted, the shortest run of words up to a blank
// that names an existing file ("C:\Program Files\x.exe a" finds "C:\Program Files\x.exe"); a
// bare name is looked for beside our own program, then along PATH. The rest of the command line
// becomes the child's arguments by the CommandLineToArgvW rules. Windows paths go through the
// path map; a path ending in ".exe" starts the host file without the suffix when only that exists.
// Errors: ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED (not executable, a
// folder), ERROR_BAD_EXE_FORMAT, ERROR_DIRECTORY (bad lpCurrentDirectory). A null
// lpProcessInformation starts the child without handing out handles.
BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                    LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
                    BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                    LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation);
BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
// Kills at once and waits (bounded) until the child is gone, so the exit code reads uExitCode
// straight after. FALSE with ERROR_ACCESS_DENIED when the process had already ended.
BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode);
// GetCurrentProcess() (Thread.h) is accepted. Maps the class to a nice value (idle 19, below normal 10,
// normal 0, above normal -5, high -10, realtime -20) for every thread of the process. Refusals (raising
// without privilege) are ignored as Windows quietly degrades realtime; an unknown class fails
// ERROR_INVALID_PARAMETER.
BOOL SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass);
// The class last set (NORMAL_PRIORITY_CLASS at first); 0 with ERROR_INVALID_HANDLE on a bad handle.
DWORD GetPriorityClass(HANDLE hProcess);
// Ends the process at once with the low 8 bits of uExitCode; C++ static destructors do not run,
// as with Windows' ExitProcess, but stdio buffers are flushed.
[[noreturn]] void ExitProcess(UINT uExitCode);
// The process's own command line in Windows form: its program as a quoted Windows path with
// ".exe", then its arguments quoted as needed. Built once; the pointer stays valid.
LPWSTR GetCommandLineW();

namespace zbw {

// Splits a whole command line as CommandLineToArgvW does: the first token is the program
// (quotes group, backslashes are plain); then arguments, separated by blanks and tabs, where
// 2n backslashes before a quote give n backslashes and the quote opens or closes a quoted part,
// 2n+1 backslashes before a quote give n backslashes and a literal quote, other backslashes are
// plain, and "" inside a quoted part is a literal quote.
std::vector<std::u16string> SplitCommandLine(const char16_t* commandLine);
// The argument rules alone, for text that holds no program (ShellExecute parameters).
std::vector<std::u16string> SplitArguments(const char16_t* arguments);
// One argument quoted so that SplitArguments gives it back unchanged.
std::u16string QuoteArgument(const std::u16string& argument);
// A bare program name looked for beside our own program, then along PATH (the ".exe" rule
// applies); empty when not found.
std::string FindHostProgram(const std::string& name);
// Starts hostProgram (absolute or relative to our folder) with argv in folder (empty: ours). A
// reference to the new CProcess, or empty with the last error set (see CreateProcessW).
CKernelRef StartHostProcess(const std::string& hostProgram, const std::vector<std::string>& argv,
                            const std::string& folder);
// Lets the process hold as many handles as the host allows (Windows has no such limit): raises
// its soft limit of open descriptors to the hard limit. False when the host refused.
bool RaiseHandleLimit();

}  // namespace zbw
