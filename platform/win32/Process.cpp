#include "platform/win32/Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/HostSpawn.h"
#include "platform/host/PathMap.h"
#include "platform/win32/FileApi.h"

namespace {

// How long TerminateProcess waits for the killed child to be gone.
const int kTerminateWaitMs = 5000;

// Holds every child until it has ended and collects it, so that none stays a zombie and the
// main-thread handle is signalled even when nobody waits on the process.
class CChildWatcher {
   public:
    static CChildWatcher& Instance() {
        static CChildWatcher* watcher = new CChildWatcher;  // runs for the life of the process
        return *watcher;
    }

    void Watch(const CKernelRef& process) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_children.push_back(process);
        }
        uint64_t one = 1;
        (void)!write(m_wake, &one, sizeof one);
    }

   private:
    CChildWatcher() : m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        // The thread must not take process-directed signals meant for the program's own threads.
        sigset_t all, old;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &old);
        std::thread([this] { Run(); }).detach();
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }

    void Run() {
        for (;;) {
            std::vector<CKernelRef> children;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                children = m_children;
            }
            std::vector<pollfd> fds{{m_wake, POLLIN, 0}};
            for (const CKernelRef& child : children) fds.push_back({child->WaitFd(), POLLIN, 0});
            if (poll(fds.data(), fds.size(), -1) < 0) continue;
            uint64_t count;
            (void)!read(m_wake, &count, sizeof count);
            for (size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents && children[i - 1]->IsSignalled()) Forget(children[i - 1].Get());
            }
        }
    }

    void Forget(CKernelObject* child) {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = std::find_if(m_children.begin(), m_children.end(),
                               [child](const CKernelRef& ref) { return ref.Get() == child; });
        if (it != m_children.end()) m_children.erase(it);
    }

    std::mutex m_lock;
    std::vector<CKernelRef> m_children;
    const int m_wake;
};

// Called directly: the C library's declarations of these lack C linkage in C++ on this release.
int OpenPidfd(pid_t pid) {
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}
int SignalPidfd(int pidfd, int sig) {
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
}

std::atomic<DWORD> g_ownPriorityClass{NORMAL_PRIORITY_CLASS};

bool EndsWithExe(const std::string& path) {
    return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".exe") == 0;
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "x.exe" names the host file "x" when only that exists.
std::string ApplyExeRule(const std::string& path) {
    if (!EndsWithExe(path) || IsFile(path)) return path;
    std::string bare = path.substr(0, path.size() - 4);
    return IsFile(bare) ? bare : path;
}

std::string OwnFolder() {
    std::string path = zbw::ProgramHostPath();
    return path.substr(0, path.rfind('/'));
}

bool IsBareName(const char16_t* text) {
    for (const char16_t* p = text; *p; ++p) {
        if (*p == u'\\' || *p == u'/' || *p == u':') return false;
    }
    return *text != 0;
}

std::string MapProgram(const std::u16string& windowsPath) {
    if (IsBareName(windowsPath.c_str())) {
        std::string found = zbw::FindHostProgram(zbw::ToUtf8(windowsPath.c_str()));
        if (!found.empty()) return found;
    }
    return zbw::ToHostProgramPath(CString(windowsPath.c_str()));
}

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

// The program and its arguments from lpApplicationName and lpCommandLine.
struct CommandParts {
    std::u16string program;
    std::string hostProgram;
    std::vector<std::u16string> arguments;
};

size_t Length(const char16_t* text) {
    return std::char_traits<char16_t>::length(text);
}

CommandParts PartsFromCommandLine(const char16_t* line) {
    CommandParts parts;
    while (IsBlank(*line)) ++line;
    const char16_t* rest = line + Length(line);
    if (*line == u'"') {
        const char16_t* close = std::char_traits<char16_t>::find(line + 1, Length(line + 1), u'"');
        if (close) rest = close + 1;
        parts.program.assign(line + 1, close ? close : rest);
        parts.hostProgram = MapProgram(parts.program);
    } else {
        // Unquoted: the shortest run of words that names an existing file, else the first word.
        for (const char16_t* end = line;; ++end) {
            if (*end && !IsBlank(*end)) continue;
            if (end > line && !IsBlank(end[-1])) {
                std::u16string candidate(line, end);
                std::string host = MapProgram(candidate);
                bool exists = IsFile(host);
                if (exists || parts.program.empty()) {
                    parts.program = candidate;
                    parts.hostProgram = host;
                    rest = end;
                }
                if (exists) break;
            }
            if (!*end) break;
        }
    }
    parts.arguments = zbw::SplitArguments(rest);
    return parts;
}

CommandParts ResolveCommand(LPCWSTR application, LPCWSTR commandLine) {
    if (!application) return PartsFromCommandLine(commandLine);
    CommandParts parts;
    parts.program = application;
    parts.hostProgram = MapProgram(parts.program);
    if (commandLine) {
        parts.arguments = zbw::SplitCommandLine(commandLine);
        if (!parts.arguments.empty()) parts.arguments.erase(parts.arguments.begin());
    }
    return parts;
}

std::string ParentFolder(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The Windows code for a program that cannot be started, or ERROR_SUCCESS.
DWORD CheckProgram(const std::string& host) {
    if (host.empty()) return ERROR_PATH_NOT_FOUND;
    struct stat st {};
    if (stat(host.c_str(), &st) != 0) {
        if (errno == ENOTDIR) return ERROR_PATH_NOT_FOUND;
        if (errno == ENOENT)
            return IsFolder(ParentFolder(host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        return zbw::ErrorFromErrno(errno);
    }
    if (S_ISDIR(st.st_mode) || access(host.c_str(), X_OK) != 0) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

int NiceForClass(DWORD priorityClass) {
    switch (priorityClass) {
        case IDLE_PRIORITY_CLASS: return 19;
        case BELOW_NORMAL_PRIORITY_CLASS: return 10;
        case NORMAL_PRIORITY_CLASS: return 0;
        case ABOVE_NORMAL_PRIORITY_CLASS: return -5;
        case HIGH_PRIORITY_CLASS: return -10;
        case REALTIME_PRIORITY_CLASS: return -20;
        default: return 1000;
    }
}

// Every thread of the process; failures (a thread gone, no right to raise) are ignored.
void SetNiceOfAllThreads(const std::string& procDir, int nice) {
    DIR* dir = opendir((procDir + "/task").c_str());
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
        int tid = atoi(entry->d_name);
        if (tid > 0) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
    }
    closedir(dir);
}

const DWORD kPriorityClassMask = IDLE_PRIORITY_CLASS | BELOW_NORMAL_PRIORITY_CLASS | NORMAL_PRIORITY_CLASS |
                                 ABOVE_NORMAL_PRIORITY_CLASS | HIGH_PRIORITY_CLASS | REALTIME_PRIORITY_CLASS;

std::vector<std::string> ReadOwnArguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\0', start);
        if (end == std::string::npos) end = bytes.size();
        args.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

std::u16string OwnWindowsProgramPath() {
    char16_t path[4096] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
    return std::u16string(path, n < sizeof path / sizeof path[0] ? n : 0);
}

std::u16string BuildOwnCommandLine() {
    std::u16string line = u"\"" + OwnWindowsProgramPath() + u"\"";
    std::vector<std::string> args = ReadOwnArguments();
    for (size_t i = 1; i < args.size(); ++i) {
        line += u" ";
        line += zbw::QuoteArgument(static_cast<LPCWSTR>(zbw::FromUtf8(args[i])));
    }
    return line;
}

CKernelRef LookupProcess(HANDLE handle) {
    CKernelRef ref = zbw::LookupHandle(handle);
    if (ref && !ref.As<CProcess>()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return CKernelRef();
    }
    return ref;
}

// Reads 2n or 2n+1 backslashes before a quote, or plain backslashes; true when the quote that
// follows is literal (it has then been consumed).
bool ReadBackslashes(const char16_t*& p, std::u16string& out) {
    size_t count = 0;
    while (p[count] == u'\\') ++count;
    if (p[count] != u'"') {
        out.append(count, u'\\');
        p += count;
        return false;
    }
    out.append(count / 2, u'\\');
    p += count;
    if (count % 2 == 0) return false;
    out += u'"';
    ++p;
    return true;
}

// One argument from p by the argument rules; p ends after it.
std::u16string ReadArgument(const char16_t*& p) {
    std::u16string out;
    bool quoted = false;
    while (*p && (quoted || !IsBlank(*p))) {
        if (*p == u'\\') {
            ReadBackslashes(p, out);
        } else if (*p == u'"') {
            if (quoted && p[1] == u'"') {
                out += u'"';
                p += 2;
            } else {
                quoted = !quoted;
                ++p;
            }
        } else {
            out += *p++;
        }
    }
    return out;
}

// The program token: quotes group, nothing escapes.
std::u16string ReadProgram(const char16_t*& p) {
    std::u16string out;
    bool quoted = false;
    while (*p && (quoted || !IsBlank(*p))) {
        if (*p == u'"')
            quoted = !quoted;
        else
            out += *p;
        ++p;
    }
    return out;
}

}  // namespace

CProcess::CProcess(int pid, int pidfd) : m_pid(pid), m_pidfd(pidfd) {
    CThreadObject* thread = new CThreadObject(pid);
    thread->AddRef();
    m_thread = CKernelRef(thread);
}

// The watcher holds a reference until the child has been collected, so it has ended here.
CProcess::~CProcess() {
    close(m_pidfd);
}

bool CProcess::ReapLocked() {
    if (m_ended) return true;
    siginfo_t info{};
    if (waitid(static_cast<idtype_t>(P_PIDFD), m_pidfd, &info, WEXITED | WNOHANG) != 0) {
        if (errno != ECHILD) return false;
        // Reaped behind our back: the status is lost.
        m_ended = true;
        m_exitCode = m_killed ? m_killCode : 0xFFFFFFFFu;
        MainThread()->Finish(m_exitCode);
        return true;
    }
    if (info.si_pid == 0) return false;
    m_ended = true;
    if (info.si_code == CLD_EXITED)
        m_exitCode = static_cast<DWORD>(info.si_status & 0xFF);
    else if (m_killed && info.si_status == SIGKILL)
        m_exitCode = m_killCode;
    else
        m_exitCode = 128u + static_cast<DWORD>(info.si_status);
    MainThread()->Finish(m_exitCode);
    return true;
}

bool CProcess::HasEnded() {
    std::lock_guard<std::mutex> guard(m_lock);
    return ReapLocked();
}

DWORD CProcess::ExitCode() {
    std::lock_guard<std::mutex> guard(m_lock);
    ReapLocked();
    return m_exitCode;
}

bool CProcess::Terminate(UINT code) {
    std::unique_lock<std::mutex> guard(m_lock);
    if (ReapLocked()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (SignalPidfd(m_pidfd, SIGKILL) != 0) {
        zbw::SetLastErrorFromErrno();
        return false;
    }
    m_killed = true;
    m_killCode = code;
    guard.unlock();
    pollfd fd{m_pidfd, POLLIN, 0};
    while (poll(&fd, 1, kTerminateWaitMs) < 0 && errno == EINTR) {
    }
    guard.lock();
    ReapLocked();
    return true;
}

bool CProcess::SetPriorityClass(DWORD priorityClass) {
    int nice = NiceForClass(priorityClass);
    if (nice == 1000) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    // Once reaped, the pid may belong to someone else.
    if (!ReapLocked()) SetNiceOfAllThreads("/proc/" + std::to_string(m_pid), nice);
    m_priorityClass = priorityClass;
    return true;
}

namespace zbw {

std::vector<std::u16string> SplitCommandLine(const char16_t* commandLine) {
    std::vector<std::u16string> args;
    if (!commandLine) return args;
    const char16_t* p = commandLine;
    while (IsBlank(*p)) ++p;
    if (!*p) return args;
    args.push_back(ReadProgram(p));
    std::vector<std::u16string> rest = SplitArguments(p);
    args.insert(args.end(), rest.begin(), rest.end());
    return args;
}

std::vector<std::u16string> SplitArguments(const char16_t* arguments) {
    std::vector<std::u16string> args;
    if (!arguments) return args;
    const char16_t* p = arguments;
    for (;;) {
        while (IsBlank(*p)) ++p;
        if (!*p) return args;
        args.push_back(ReadArgument(p));
    }
}

std::u16string QuoteArgument(const std::u16string& argument) {
    if (!argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string::npos) return argument;
    std::u16string out = u"\"";
    size_t backslashes = 0;
    for (char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes only escape when a quote follows: double them there.
        out.append(c == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
        out += c;
        backslashes = 0;
    }
    out.append(2 * backslashes, u'\\');
    out += u'"';
    return out;
}

std::string FindHostProgram(const std::string& name) {
    if (name.empty()) return std::string();
    std::vector<std::string> folders{OwnFolder()};
    const char* path = getenv("PATH");
    std::string list = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= list.size();) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        if (end > start) folders.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    for (const std::string& folder : folders) {
        std::string candidate = ApplyExeRule(folder + "/" + name);
        if (IsFile(candidate) && access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::string();
}

CKernelRef StartHostProcess(const std::string& hostProgram, const std::vector<std::string>& argv,
                            const std::string& folder) {
    DWORD error = CheckProgram(hostProgram);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return CKernelRef();
    }
    // The child resolves its program after changing folder, so make it absolute first.
    std::string program = Absolute(hostProgram);
    SPAWNOPTIONS options;
    options.folder = folder;
    pid_t pid = 0;
    int rc = SpawnHostProgram(program, argv, options, &pid);
    if (rc != 0) {
        SetLastError(rc == ENOEXEC ? ERROR_BAD_EXE_FORMAT : ErrorFromErrno(rc));
        return CKernelRef();
    }
    int pidfd = OpenPidfd(pid);
    if (pidfd < 0) {
        DWORD code = SetLastErrorFromErrno();
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        SetLastError(code);
        return CKernelRef();
    }
    CProcess* process = new CProcess(pid, pidfd);
    process->AddRef();
    CKernelRef ref(process);
    CChildWatcher::Instance().Watch(ref);
    return ref;
}

bool RaiseHandleLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    if (limit.rlim_cur == limit.rlim_max) return true;
    limit.rlim_cur = limit.rlim_max;
    return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

}  // namespace zbw

BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL, DWORD dwCreationFlags, LPVOID lpEnvironment,
                    LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW, LPPROCESS_INFORMATION lpProcessInformation) {
    if (lpProcessInformation) *lpProcessInformation = PROCESS_INFORMATION{};
    if (!lpApplicationName && !lpCommandLine) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (lpEnvironment || (dwCreationFlags & CREATE_SUSPENDED)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    std::string folder;
    if (lpCurrentDirectory && *lpCurrentDirectory) {
        folder = zbw::ToHostPath(CString(lpCurrentDirectory));
        if (!IsFolder(folder)) {
            SetLastError(ERROR_DIRECTORY);
            return FALSE;
        }
    }
    CommandParts parts = ResolveCommand(lpApplicationName, lpCommandLine);
    std::vector<std::string> argv{parts.hostProgram};
    for (const std::u16string& arg : parts.arguments) argv.push_back(zbw::ToUtf8(arg.c_str()));
    CKernelRef ref = zbw::StartHostProcess(parts.hostProgram, argv, folder);
    if (!ref) return FALSE;
    CProcess* process = ref.As<CProcess>();
    DWORD priorityClass = dwCreationFlags & kPriorityClassMask;
    if (priorityClass) process->SetPriorityClass(priorityClass);
    if (lpProcessInformation) {
        lpProcessInformation->hProcess = zbw::NewHandle(process);
        lpProcessInformation->hThread = zbw::NewHandle(process->MainThread());
        lpProcessInformation->dwProcessId = process->Pid();
        lpProcessInformation->dwThreadId = process->Pid();
    }
    return TRUE;
}

BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    CKernelRef ref = LookupProcess(hProcess);
    if (!ref) return FALSE;
    if (!lpExitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpExitCode = ref.As<CProcess>()->ExitCode();
    return TRUE;
}

BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    CKernelRef ref = LookupProcess(hProcess);
    return ref && ref.As<CProcess>()->Terminate(uExitCode) ? TRUE : FALSE;
}

BOOL SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass) {
    if (hProcess != GetCurrentProcess()) {
        CKernelRef ref = LookupProcess(hProcess);
        return ref && ref.As<CProcess>()->SetPriorityClass(dwPriorityClass) ? TRUE : FALSE;
    }
    int nice = NiceForClass(dwPriorityClass);
    if (nice == 1000) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SetNiceOfAllThreads("/proc/self", nice);
    g_ownPriorityClass = dwPriorityClass;
    return TRUE;
}

DWORD GetPriorityClass(HANDLE hProcess) {
    if (hProcess == GetCurrentProcess()) return g_ownPriorityClass;
    CKernelRef ref = LookupProcess(hProcess);
    return ref ? ref.As<CProcess>()->PriorityClass() : 0;
}

void ExitProcess(UINT uExitCode) {
    fflush(nullptr);
    _exit(static_cast<int>(uExitCode & 0xFF));
}

LPWSTR GetCommandLineW() {
    // Never destroyed: callers keep the pointer, also threads that run on during exit.
    static auto& line = *new std::u16string(BuildOwnCommandLine());
    return line.data();
}
