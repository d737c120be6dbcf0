#include "common/CrashHandler.h"

#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "common/CrashStack.h"
#include "common/OSVersionText.h"
#include "platform/base/ErrorText.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "platform/win32/LateBound.h"
#include "platform/win32/Thread.h"

namespace {

const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
const int kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);
const size_t kMaxStackCopy = 64 * 1024;
const size_t kPage = 4096;
const DWORD kFatalAppExit = 0x40000015;

const char* const kDbgHelpFunctions[] = {
    "SymCleanup",       "SymInitialize",      "SymGetOptions",    "SymSetOptions", "SymSetContext",
    "SymEnumSymbols",   "SymGetLineFromAddr", "SymFromAddr",      "StackWalk",     "SymFunctionTableAccess",
    "SymGetModuleBase", "SymGetTypeInfo",     "MiniDumpWriteDump"};
const int kDbgHelpCount = sizeof(kDbgHelpFunctions) / sizeof(kDbgHelpFunctions[0]);
const int kMiniDumpWriteDump = kDbgHelpCount - 1;

// The dump stand-in takes the host descriptor of the dump file in place of a file handle: the
// layer's handles cannot be made in a signal handler.
typedef BOOL (*MINIDUMPWRITEDUMP)(HANDLE process, DWORD processId, int fd, DWORD type,
                                  const CRASHEXCEPTIONINFO* exception);

struct EXCEPTIONNAME {
    DWORD code;
    const char* name;
};

const EXCEPTIONNAME kExceptionNames[] = {
    {0x80000001, "GUARD_PAGE"},
    {0x80000002, "DATATYPE_MISALIGNMENT"},
    {0x80000003, "BREAKPOINT"},
    {0x80000004, "SINGLE_STEP"},
    {0xC0000005, "ACCESS_VIOLATION"},
    {0xC0000006, "IN_PAGE_ERROR"},
    {0xC0000008, "INVALID_HANDLE"},
    {0xC000001D, "ILLEGAL_INSTRUCTION"},
    {0xC0000025, "NONCONTINUABLE_EXCEPTION"},
    {0xC0000026, "INVALID_DISPOSITION"},
    {0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008D, "FLT_DENORMAL_OPERAND"},
    {0xC000008E, "FLT_DIVIDE_BY_ZERO"},
    {0xC000008F, "FLT_INEXACT_RESULT"},
    {0xC0000090, "FLT_INVALID_OPERATION"},
    {0xC0000091, "FLT_OVERFLOW"},
    {0xC0000092, "FLT_STACK_CHECK"},
    {0xC0000093, "FLT_UNDERFLOW"},
    {0xC0000094, "INT_DIVIDE_BY_ZERO"},
    {0xC0000095, "INT_OVERFLOW"},
    {0xC0000096, "PRIV_INSTRUCTION"},
    {0xC00000FD, "STACK_OVERFLOW"},
};

struct CRASHSEGMENT {
    uintptr_t start;
    uintptr_t end;
    int section;
    size_t module;
};

struct CPUSTATE {
    uint64_t rax = 0, rbx = 0, rcx = 0, rdx = 0, rsi = 0, rdi = 0;
    uint64_t rip = 0, rsp = 0, rbp = 0, flags = 0;
    uint16_t cs = 0, ss = 0, fs = 0, gs = 0;
    const uint64_t* registers = nullptr;
    uint32_t registerCount = 0;
};

CPUSTATE ReadCpuState(const void* context) {
    CPUSTATE cpu;
#if defined(__x86_64__)
    const auto* uc = static_cast<const ucontext_t*>(context);
    const greg_t* g = uc->uc_mcontext.gregs;
    cpu.rax = g[REG_RAX], cpu.rbx = g[REG_RBX], cpu.rcx = g[REG_RCX], cpu.rdx = g[REG_RDX];
    cpu.rsi = g[REG_RSI], cpu.rdi = g[REG_RDI], cpu.rip = g[REG_RIP], cpu.rsp = g[REG_RSP];
    cpu.rbp = g[REG_RBP], cpu.flags = g[REG_EFL];
    uint64_t segments = g[REG_CSGSFS];
    cpu.cs = segments & 0xFFFF, cpu.gs = (segments >> 16) & 0xFFFF;
    cpu.fs = (segments >> 32) & 0xFFFF, cpu.ss = (segments >> 48) & 0xFFFF;
    cpu.registers = reinterpret_cast<const uint64_t*>(g);
    cpu.registerCount = NGREG;
#else
    (void)context;
#endif
    return cpu;
}

DWORD ExceptionCode(int signal, const siginfo_t* info, uint64_t sp) {
    int code = info ? info->si_code : 0;
    switch (signal) {
        case SIGSEGV: {
            uint64_t address = info ? reinterpret_cast<uintptr_t>(info->si_addr) : 0;
            bool nearStack = address + kMaxStackCopy >= sp && address < sp + kPage;
            return nearStack ? 0xC00000FD : 0xC0000005;
        }
        case SIGBUS: return code == BUS_ADRALN ? 0x80000002 : 0xC0000006;
        case SIGILL: return code == ILL_PRVOPC || code == ILL_PRVREG ? 0xC0000096 : 0xC000001D;
        case SIGFPE:
            switch (code) {
                case FPE_INTOVF: return 0xC0000095;
                case FPE_FLTDIV: return 0xC000008E;
                case FPE_FLTOVF: return 0xC0000091;
                case FPE_FLTUND: return 0xC0000093;
                case FPE_FLTRES: return 0xC000008F;
                case FPE_FLTINV: return 0xC0000090;
                case FPE_FLTSUB: return 0xC000008C;
                default: return 0xC0000094;
            }
        default: return kFatalAppExit;
    }
}

const char* ExceptionName(DWORD code) {
    for (const EXCEPTIONNAME& entry : kExceptionNames) {
        if (entry.code == code) return entry.name;
    }
    return nullptr;
}

// Bypasses the sanitizers' write interceptor: the stack copy reads poisoned red zones on purpose.
ssize_t RawWrite(int fd, const void* data, size_t size) {
    return syscall(SYS_write, fd, data, size);
}

void WriteAll(int fd, const void* data, size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t done = RawWrite(fd, at, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return;
        at += done, size -= static_cast<size_t>(done);
    }
}

void SleepMs(long ms) {
    timespec wait{ms / 1000, (ms % 1000) * 1000000};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

int CreateNew(const std::string& hostPath) {
    if (hostPath.empty()) return -1;
    return open(hostPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

// Buffered UTF-16LE text into a descriptor, with hex numbers formatted by hand.
class CReportWriter {
   public:
    explicit CReportWriter(int fd) : m_fd(fd) {}
    ~CReportWriter() { Flush(); }
    CReportWriter(const CReportWriter&) = delete;
    CReportWriter& operator=(const CReportWriter&) = delete;

    void Text(const std::u16string& text) {
        for (char16_t ch : text) Put(ch);
    }
    void Ascii(const char* text) {
        while (*text) Put(static_cast<unsigned char>(*text++));
    }
    // Upper-case hex, at least width digits.
    void Hex(uint64_t value, int width) {
        char16_t digits[16];
        int count = 0;
        do {
            digits[count++] = u"0123456789ABCDEF"[value & 0xF];
            value >>= 4;
        } while (value != 0);
        for (int i = count; i < width; ++i) Put(u'0');
        while (count > 0) Put(digits[--count]);
    }

   private:
    void Put(char16_t ch) {
        if (m_length == sizeof(m_buffer) / 2) Flush();
        m_buffer[m_length * 2] = static_cast<unsigned char>(ch & 0xFF);
        m_buffer[m_length * 2 + 1] = static_cast<unsigned char>(ch >> 8);
        ++m_length;
    }
    void Flush() {
        WriteAll(m_fd, m_buffer, m_length * 2);
        m_length = 0;
    }

    int m_fd;
    unsigned char m_buffer[1024];
    size_t m_length = 0;
};

// Copies readable stack pages; write(2) refuses an unmapped page with EFAULT rather than faulting.
// Unreadable pages at the start (a stack pointer in the guard area) are skipped; *start is set
// to where the copy begins.
uint64_t CopyStack(int fd, uint64_t sp, uint64_t* start) {
    uint64_t copied = 0;
    uintptr_t at = static_cast<uintptr_t>(sp);
    *start = sp;
    while (copied < kMaxStackCopy && at - sp < kMaxStackCopy) {
        size_t piece = std::min<size_t>(kPage - at % kPage, kMaxStackCopy - copied);
        ssize_t done = RawWrite(fd, reinterpret_cast<const void*>(at), piece);
        if (done <= 0 && copied > 0) break;
        if (done <= 0) {
            at += piece;
            *start = at;
            continue;
        }
        copied += static_cast<uint64_t>(done), at += static_cast<uintptr_t>(done);
    }
    return copied;
}

BOOL WINAPI MiniDumpWriteDumpStandIn(HANDLE, DWORD processId, int fd, DWORD,
                                     const CRASHEXCEPTIONINFO* exception) {
    if (fd < 0 || !exception) return FALSE;
    const auto* info = static_cast<const siginfo_t*>(exception->SigInfo);
    CPUSTATE cpu = ReadCpuState(exception->Context);
    CRASHDUMPHEADER header;
    std::memset(&header, 0, sizeof(header));
    std::memcpy(header.Magic, "ZBCRASH1", 8);
    header.HeaderSize = sizeof(header);
    header.Signal = static_cast<uint32_t>(exception->Signal);
    header.SignalCode = info ? info->si_code : 0;
    header.ProcessId = processId;
    header.ThreadId = exception->ThreadId;
    header.RegisterCount = std::min<uint32_t>(cpu.registerCount, 23);
    header.DataAddress = info ? reinterpret_cast<uintptr_t>(info->si_addr) : 0;
    header.InstructionPointer = cpu.rip;
    header.StackPointer = cpu.rsp;
    for (uint32_t i = 0; i < header.RegisterCount; ++i) header.Registers[i] = cpu.registers[i];
    WriteAll(fd, &header, sizeof(header));
    if (cpu.rsp) header.StackBytes = CopyStack(fd, cpu.rsp, &header.StackPointer);
    // The two fields are adjacent: patch them in one write.
    if (lseek(fd, offsetof(CRASHDUMPHEADER, StackPointer), SEEK_SET) >= 0) {
        WriteAll(fd, &header.StackPointer, 2 * sizeof(uint64_t));
    }
    return TRUE;
}

// The symbol and stack-walk functions exist so that binding succeeds; there is no symbol handler
// behind them and the reporter never calls them.
BOOL WINAPI NoSymbolHandler() {
    return FALSE;
}

void RegisterDbgHelp() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int i = 0; i < kDbgHelpCount; ++i) {
            FARPROC address = i == kMiniDumpWriteDump ? reinterpret_cast<FARPROC>(&MiniDumpWriteDumpStandIn)
                                                      : reinterpret_cast<FARPROC>(&NoSymbolHandler);
            zbw::AddLateBound("dbghelp", kDbgHelpFunctions[i], address);
        }
    });
}

std::atomic<CCrashHandler*> s_pActive{nullptr};

}  // namespace

struct CCrashHandler::CState {
    // [0] beside the program, [1] in the root of drive C.
    std::string reportHost[2], dumpHost[2];
    std::string reportName[2], dumpName[2];  // Windows form, UTF-8, for the notice
    std::u16string head;                     // the lines up to the system details
    std::u16string abortName;
    std::vector<CRASHSEGMENT> segments;
    std::vector<std::u16string> modules;
    struct sigaction previous[kSignalCount];
    std::unique_ptr<char[]> altStack;
    stack_t previousStack{};
    pid_t installThread = 0;
    HANDLE process = nullptr;
    HMODULE dbgHelp = nullptr;
    MINIDUMPWRITEDUMP miniDumpWriteDump = nullptr;
    CCrashStack stack;
    CCrashStack::FRAME frames[CCrashStack::kMaxFrames];
};

namespace {

struct MODULESCAN {
    std::vector<CRASHSEGMENT>* segments;
    std::vector<std::u16string>* modules;
    const CString* programPath;
};

int AddModule(dl_phdr_info* info, size_t, void* data) {
    auto* scan = static_cast<MODULESCAN*>(data);
    bool program = info->dlpi_name == nullptr || info->dlpi_name[0] == '\0';
    CString path = program ? *scan->programPath : zbw::ToWindowsPath(info->dlpi_name);
    scan->modules->push_back(path.GetStdString());
    int section = 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type != PT_LOAD) continue;
        uintptr_t start = info->dlpi_addr + header.p_vaddr;
        scan->segments->push_back({start, start + header.p_memsz, ++section, scan->modules->size() - 1});
    }
    return 0;
}

const CRASHSEGMENT* FindSegment(const std::vector<CRASHSEGMENT>& segments, uint64_t address) {
    for (const CRASHSEGMENT& segment : segments) {
        if (address >= segment.start && address < segment.end) return &segment;
    }
    return nullptr;
}

// The host file of the running program, whose symbols the call stack names.
std::string ProgramFile() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

void WriteNotice(const std::string& report, const std::string& dump) {
    const char* parts[] = {
        "An unhandled exception has occurred in ZBEngine. ZBEngine has to close.\r\n"
        "A crash report has been saved to \"",
        report.c_str(), "\" and \"", dump.c_str(),
        "\".\r\nPlease send the report, with a note on what the engine was doing when it "
        "crashed, to your support contact. Please also attach ZBEngine.log file.\r\n"};
    for (const char* part : parts) WriteAll(STDERR_FILENO, part, std::strlen(part));
}

// The frames from pc and fp, each named by its function or else by its place in its module.
void WriteCallStack(CReportWriter& out, const CCrashStack& stack, CCrashStack::FRAME* frames,
                    const std::vector<CRASHSEGMENT>& segments, const std::vector<std::u16string>& modules,
                    uint64_t pc, uint64_t fp) {
    out.Ascii("\r\nCall stack:\r\nAddress   Frame     Function            SourceFile\r\n");
    const int count = stack.Walk(pc, fp, frames, CCrashStack::kMaxFrames);
    for (int i = 0; i < count; ++i) {
        const CCrashStack::FRAME& frame = frames[i];
        out.Hex(frame.pc, 8);
        out.Ascii("  ");
        out.Hex(frame.fp, 8);
        out.Ascii("  ");
        // A return address may lie just past its function when the call ends it.
        const uint64_t inside = i == 0 ? frame.pc : frame.pc - 1;
        char name[512];
        uint64_t displacement = 0;
        if (stack.FindSymbol(inside, name, sizeof name, &displacement)) {
            out.Ascii(name);
            out.Ascii("+");
            out.Hex(displacement + (frame.pc - inside), 1);
        } else {
            const CRASHSEGMENT* segment = FindSegment(segments, frame.pc);
            out.Hex(segment ? segment->section : 0, 4);
            out.Ascii(":");
            out.Hex(segment ? frame.pc - segment->start : 0, 8);
            out.Ascii(" ");
            if (segment) out.Text(modules[segment->module]);
        }
        out.Ascii("\r\n");
    }
}

}  // namespace

CCrashHandler::CCrashHandler() {
    char16_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) InstallCrashHandler(CString(path, static_cast<int>(length)));
}

CCrashHandler::CCrashHandler(const CString& programPath) {
    InstallCrashHandler(programPath);
}

CCrashHandler::~CCrashHandler() {
    Uninstall();
}

CString CCrashHandler::CrashFileName(const CString& programPath, LPCWSTR extension) {
    int nameStart = std::max(programPath.ReverseFind(u'\\'), programPath.ReverseFind(u'/')) + 1;
    int dot = programPath.ReverseFind(u'.');
    CString stem = dot >= nameStart ? programPath.Left(dot) : programPath;
    return stem + u"." + extension;
}

bool CCrashHandler::InstallCrashHandler(const CString& programPath) {
    CCrashHandler* none = nullptr;
    if (programPath.IsEmpty() || !s_pActive.compare_exchange_strong(none, this)) return false;
    auto state = std::make_unique<CState>();
    const LPCWSTR extensions[] = {u"rpt", u"dmp"};
    std::string* hosts[] = {state->reportHost, state->dumpHost};
    std::string* names[] = {state->reportName, state->dumpName};
    for (int kind = 0; kind < 2; ++kind) {
        CString beside = CrashFileName(programPath, extensions[kind]);
        int nameStart = std::max(beside.ReverseFind(u'\\'), beside.ReverseFind(u'/')) + 1;
        CString root = CString(u"c:\\") + beside.Mid(nameStart);
        hosts[kind][0] = zbw::ToHostPath(beside), hosts[kind][1] = zbw::ToHostPath(root);
        names[kind][0] = zbw::ToUtf8(beside), names[kind][1] = zbw::ToUtf8(root);
    }
    CString head = u"//=====================================================\r\n";
    head.AppendFormat(u"Exception report created by %s - %d \r\n\r\n", u"ZBEngine 1.1", 11000007);
    head += u"System details:\r\n";
    head.AppendFormat(u"%s\r\n", GetOSVersionText());
    state->head = head.GetStdString();
    LPCWSTR abortText = zbw::FindErrorText(kFatalAppExit);
    if (abortText) state->abortName = abortText;
    MODULESCAN scan{&state->segments, &state->modules, &programPath};
    dl_iterate_phdr(&AddModule, &scan);
    state->stack.Prepare(ProgramFile());
    state->process = GetCurrentProcess();
    state->installThread = static_cast<pid_t>(syscall(SYS_gettid));

    RegisterDbgHelp();
    state->dbgHelp = LoadLibraryW(u"dbghelp.dll");
    bool bound = state->dbgHelp != nullptr;
    for (int i = 0; bound && i < kDbgHelpCount; ++i)
        bound = GetProcAddress(state->dbgHelp, kDbgHelpFunctions[i]);
    if (bound) {
        state->miniDumpWriteDump =
            reinterpret_cast<MINIDUMPWRITEDUMP>(GetProcAddress(state->dbgHelp, "MiniDumpWriteDump"));
    }

    size_t stackSize = std::max<size_t>(64 * 1024, static_cast<size_t>(sysconf(_SC_SIGSTKSZ)));
    state->altStack = std::make_unique<char[]>(stackSize);
    stack_t ours{};
    ours.ss_sp = state->altStack.get();
    ours.ss_size = stackSize;
    sigaltstack(&ours, &state->previousStack);

    m_pState = std::move(state);
    m_bOnce = true;
    struct sigaction action {};
    action.sa_sigaction = &CrashHandlerFilter;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &action, &m_pState->previous[i]);
    return true;
}

void CCrashHandler::Uninstall() {
    if (!m_pState) return;
    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction current {};
        sigaction(kSignals[i], nullptr, &current);
        // A handler installed after ours stays.
        if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == &CrashHandlerFilter) {
            sigaction(kSignals[i], &m_pState->previous[i], nullptr);
        }
    }
    stack_t current{};
    bool ownThread = syscall(SYS_gettid) == m_pState->installThread;
    if (ownThread && sigaltstack(nullptr, &current) == 0 && current.ss_sp == m_pState->altStack.get()) {
        sigaltstack(&m_pState->previousStack, nullptr);
    } else {
        // Another thread may still run on it: leave it allocated.
        m_pState->altStack.release();
    }
    if (m_pState->dbgHelp) FreeLibrary(m_pState->dbgHelp);
    m_bOnce = false;
    s_pActive = nullptr;
    m_pState.reset();
}

void CCrashHandler::CrashHandlerFilter(int signal, siginfo_t* info, void* context) {
    int savedErrno = errno;
    CCrashHandler* self = s_pActive.load();
    CState* state = self ? self->m_pState.get() : nullptr;
    if (state && self->m_bOnce.exchange(false)) Report(*state, signal, info, context);
    HandOn(state, signal, info);
    errno = savedErrno;
}

// Puts the previous action back: a fault the hardware raised happens again on return and reaches
// it with its own details; a signal that was sent is sent again.
void CCrashHandler::HandOn(const CState* state, int signal, const siginfo_t* info) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    const struct sigaction* previous = &fallback;
    for (int i = 0; state && i < kSignalCount; ++i) {
        if (kSignals[i] == signal) previous = &state->previous[i];
    }
    sigaction(signal, previous, nullptr);
    if (!info || info->si_code <= 0) raise(signal);
}

void CCrashHandler::Report(CState& state, int signal, const siginfo_t* info, const void* context) {
    if (!state.miniDumpWriteDump) return;  // no dbghelp
    int which[2] = {0, 0};
    int report = CreateNew(state.reportHost[0]);
    if (report < 0) report = CreateNew(state.reportHost[which[0] = 1]);
    int dump = CreateNew(state.dumpHost[0]);
    if (dump < 0) dump = CreateNew(state.dumpHost[which[1] = 1]);
    if (report < 0 || dump < 0) {
        if (report >= 0) close(report);
        if (dump >= 0) close(dump);
        SleepMs(1000);
        return;
    }
    WriteNotice(state.reportName[which[0]], state.dumpName[which[1]]);
    SleepMs(1000);

    CRASHEXCEPTIONINFO exception{static_cast<DWORD>(syscall(SYS_gettid)), signal, info, context};
    state.miniDumpWriteDump(state.process, static_cast<DWORD>(getpid()), dump, 0, &exception);
    close(dump);

    CPUSTATE cpu = ReadCpuState(context);
    DWORD code = ExceptionCode(signal, info, cpu.rsp);
    const CRASHSEGMENT* segment = FindSegment(state.segments, cpu.rip);
    {
        CReportWriter out(report);
        out.Text(state.head);
        out.Ascii("Exception code: ");
        out.Hex(code, 8);
        out.Ascii(" ");
        const char* name = ExceptionName(code);
        if (name)
            out.Ascii(name);
        else
            out.Text(state.abortName);
        out.Ascii("\r\nFault address:  ");
        out.Hex(cpu.rip, 8);
        out.Ascii(" ");
        out.Hex(segment ? segment->section : 0, 2);
        out.Ascii(":");
        out.Hex(segment ? cpu.rip - segment->start : 0, 8);
        out.Ascii(" ");
        if (segment) out.Text(state.modules[segment->module]);
        out.Ascii("\r\n\r\nRegisters:\r\n");
        const struct {
            const char* label;
            uint64_t value;
        } general[] = {{"EAX:", cpu.rax}, {"EBX:", cpu.rbx}, {"ECX:", cpu.rcx},
                       {"EDX:", cpu.rdx}, {"ESI:", cpu.rsi}, {"EDI:", cpu.rdi}};
        for (const auto& entry : general) {
            out.Ascii(entry.label);
            out.Hex(entry.value, 8);
            out.Ascii("\r\n");
        }
        out.Ascii("CS:EIP:");
        out.Hex(cpu.cs, 4);
        out.Ascii(":");
        out.Hex(cpu.rip, 8);
        out.Ascii("\r\nSS:ESP:");
        out.Hex(cpu.ss, 4);
        out.Ascii(":");
        out.Hex(cpu.rsp, 8);
        out.Ascii("  EBP:");
        out.Hex(cpu.rbp, 8);
        out.Ascii("\r\nDS:0000  ES:0000  FS:");
        out.Hex(cpu.fs, 4);
        out.Ascii("  GS:");
        out.Hex(cpu.gs, 4);
        out.Ascii("\r\nFlags:");
        out.Hex(cpu.flags, 8);
        out.Ascii("\r\n");
        WriteCallStack(out, state.stack, state.frames, state.segments, state.modules, cpu.rip, cpu.rbp);
        // No symbol handler tells parameters and locals: the second walk shows the frames alone.
        out.Ascii("========================\r\nLocal Variables And Parameters\r\n");
        WriteCallStack(out, state.stack, state.frames, state.segments, state.modules, cpu.rip, cpu.rbp);
        out.Ascii("\r\n");
    }
    close(report);
}
