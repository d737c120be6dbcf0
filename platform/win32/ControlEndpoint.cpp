#include "platform/win32/ControlEndpoint.h"

#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/CString.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/EmulationRoot.h"
#include "platform/host/HostIo.h"
#include "platform/win32/WinUser.h"

namespace {

const uint32_t kRecordMagic = 0x5A425743u;

// Every program that links the endpoint carries this section, so that a poster can tell a layer
// program whose endpoint is not up yet from a program that understands only signals.
const char kMarkSection[] = ".zbw_endpoint";
[[gnu::used, gnu::retain, gnu::section(".zbw_endpoint")]] const char kMark[] = "zbw";
// A section-name table larger than this is no program of ours.
const size_t kMaxSectionNames = 1 << 20;

// One posted message on the wire; both ends are the same build, so the layout is fixed.
struct ControlRecord {
    uint32_t magic;
    uint32_t size;
    uint64_t hwnd;
    uint64_t wParam;
    int64_t lParam;
    uint32_t tid;
    uint32_t msg;
};

// The address of folder/name; a folder too long for sun_path is reached through a descriptor
// of it (/proc/self/fd/N/name).
class CSocketAddress {
   public:
    CSocketAddress(const std::string& folder, const std::string& name) {
        m_addr.sun_family = AF_UNIX;
        std::string path = folder + "/" + name;
        if (path.size() >= sizeof m_addr.sun_path) {
            m_dirfd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            path = "/proc/self/fd/" + std::to_string(m_dirfd) + "/" + name;
        }
        m_valid = path.size() < sizeof m_addr.sun_path && (m_dirfd >= 0 || path[0] == '/');
        if (m_valid) path.copy(m_addr.sun_path, path.size());
    }
    ~CSocketAddress() {
        if (m_dirfd >= 0) close(m_dirfd);
    }
    CSocketAddress(const CSocketAddress&) = delete;
    CSocketAddress& operator=(const CSocketAddress&) = delete;

    bool Valid() const { return m_valid; }
    const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&m_addr); }
    socklen_t Length() const { return sizeof m_addr; }

   private:
    sockaddr_un m_addr{};
    int m_dirfd = -1;
    bool m_valid = false;
};

struct EndpointState {
    std::mutex lock;
    bool running = false;
    std::string path;
    int fd = -1;
    std::shared_ptr<std::atomic<bool>> stop;
    zbw::ControlSink sink;
};

EndpointState& Endpoint() {
    static EndpointState* state = new EndpointState;  // the serving thread outlives static destructors
    return *state;
}

void Deliver(const ControlRecord& record) {
    zbw::ControlSink sink;
    {
        std::lock_guard<std::mutex> guard(Endpoint().lock);
        sink = Endpoint().sink;
    }
    HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(record.hwnd));
    WPARAM wParam = static_cast<WPARAM>(record.wParam);
    LPARAM lParam = static_cast<LPARAM>(record.lParam);
    if (sink)
        sink(hwnd, record.tid, record.msg, wParam, lParam);
    else if (hwnd)
        zbw::PostLocal(hwnd, record.msg, wParam, lParam);
    else
        zbw::PostLocal(record.tid, record.msg, wParam, lParam);
}

// Ends once the socket is shut down with stop set; only then is the descriptor closed here.
void Serve(int fd, std::shared_ptr<std::atomic<bool>> stop) {
    for (;;) {
        ControlRecord record{};
        ssize_t n = recv(fd, &record, sizeof record, 0);
        if (n <= 0 && *stop) {
            close(fd);
            return;
        }
        if (n < 0 && errno != EINTR) return;
        if (n == sizeof record && record.magic == kRecordMagic && record.size == sizeof record)
            Deliver(record);
    }
}

void StartThread(int fd, std::shared_ptr<std::atomic<bool>> stop) {
    // Process-directed signals belong to the program's own threads.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    std::thread([fd, stop] { Serve(fd, stop); }).detach();
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void StopAtExit() {
    zbw::StopControlEndpoint();
}

// True while a socket is bound to folder/name.
bool IsListenedOn(const std::string& folder, const std::string& name) {
    CSocketAddress addr(folder, name);
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool bound =
        fd >= 0 && addr.Valid() && (connect(fd, addr.Get(), addr.Length()) == 0 || errno != ECONNREFUSED);
    if (fd >= 0) close(fd);
    return bound;
}

// Removes names that processes which ended without StopControlEndpoint left behind.
void SweepStaleNames(const std::string& folder) {
    std::vector<std::string> stale;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name[0] != '.' && !IsListenedOn(folder, name)) stale.push_back(name);
        }
        closedir(dir);
    }
    for (const std::string& name : stale) unlink((folder + "/" + name).c_str());
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// The ctl folders in which an endpoint may live: ours first, then every other user part.
std::vector<std::string> EndpointFolders() {
    std::string own = zbw::UserDir() + "/ctl";
    std::vector<std::string> folders{own};
    std::string root = zbw::RootDir();
    if (DIR* dir = opendir(root.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            std::string folder = root + "/" + name + "/ctl";
            if (name.rfind("user-", 0) == 0 && folder != own) folders.push_back(folder);
        }
        closedir(dir);
    }
    return folders;
}

enum class SendResult { Sent, NoEndpoint, Failed };

SendResult SendRecord(DWORD pid, const ControlRecord& record) {
    std::string name = std::to_string(pid);
    for (const std::string& folder : EndpointFolders()) {
        if (!Exists(folder + "/" + name)) continue;
        CSocketAddress addr(folder, name);
        int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || !addr.Valid()) {
            if (fd >= 0) close(fd);
            zbw::SetLastErrorFromErrno();
            return SendResult::Failed;
        }
        ssize_t n =
            sendto(fd, &record, sizeof record, MSG_DONTWAIT | MSG_NOSIGNAL, addr.Get(), addr.Length());
        int err = errno;
        close(fd);
        if (n == static_cast<ssize_t>(sizeof record)) return SendResult::Sent;
        // A name left behind by a process that ended: nobody is bound to it.
        if (err == ECONNREFUSED || err == ENOENT) return SendResult::NoEndpoint;
        SetLastError(err == EAGAIN ? ERROR_NOT_ENOUGH_QUOTA : zbw::ErrorFromErrno(err));
        return SendResult::Failed;
    }
    return SendResult::NoEndpoint;
}

bool ReadAt(int fd, void* out, size_t size, uint64_t offset) {
    return pread(fd, out, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

// True when the ELF file open on fd has a section of that name.
bool HasSection(int fd, const char* wanted) {
    Elf64_Ehdr elf;
    if (!ReadAt(fd, &elf, sizeof elf, 0) || std::memcmp(elf.e_ident, ELFMAG, SELFMAG) != 0 ||
        elf.e_ident[EI_CLASS] != ELFCLASS64 || elf.e_shentsize != sizeof(Elf64_Shdr) ||
        elf.e_shstrndx >= elf.e_shnum)
        return false;
    std::vector<Elf64_Shdr> sections(elf.e_shnum);
    if (!ReadAt(fd, sections.data(), sections.size() * sizeof(Elf64_Shdr), elf.e_shoff)) return false;
    const Elf64_Shdr& names = sections[elf.e_shstrndx];
    if (names.sh_size > kMaxSectionNames) return false;
    std::string table(names.sh_size, '\0');
    if (!ReadAt(fd, table.data(), table.size(), names.sh_offset)) return false;
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_name < table.size() && std::strcmp(table.c_str() + section.sh_name, wanted) == 0)
            return true;
    }
    return false;
}

// True when pid runs a program of the layer. Until its exec is done a child still shows the
// program of its parent, which is one too: its quit is then tried again like any other.
bool RunsLayerProgram(DWORD pid) {
    int fd = open(("/proc/" + std::to_string(pid) + "/exe").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool marked = HasSection(fd, kMarkSection);
    close(fd);
    return marked;
}

// Processes outside the layer understand only signals. A layer program that has no endpoint yet
// is as a Windows thread without a message queue: the post fails and the poster tries again.
bool PostBySignal(DWORD pid, bool toWindow, UINT msg) {
    DWORD noTarget = toWindow ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_THREAD_ID;
    if ((msg != WM_QUIT && msg != WM_CLOSE) || RunsLayerProgram(pid)) {
        SetLastError(noTarget);
        return false;
    }
    if (pid == 0 || kill(static_cast<pid_t>(pid), SIGTERM) != 0) {
        SetLastError(pid != 0 && errno == EPERM ? ERROR_ACCESS_DENIED : noTarget);
        return false;
    }
    return true;
}

// --- window directory ---

struct OwnWindow {
    int fd;
    std::string path;
};

struct DirectoryState {
    std::mutex lock;
    std::map<uintptr_t, OwnWindow> own;
    uint64_t counter = 0;
    uint32_t nonce = std::random_device()();
};

DirectoryState& Directory() {
    static DirectoryState* state = new DirectoryState;
    return *state;
}

std::string WindowFolder() {
    return zbw::UserSubdir("windows");
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

struct WindowEntry {
    uint64_t hwnd = 0;
    std::string cls;
    std::string title;
};

WindowEntry ParseEntry(const std::string& text) {
    WindowEntry entry;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq);
        std::string value = Unescape(line.substr(eq + 1));
        if (key == "hwnd")
            entry.hwnd = strtoull(value.c_str(), nullptr, 16);
        else if (key == "class")
            entry.cls = value;
        else if (key == "title")
            entry.title = value;
    }
    return entry;
}

std::string ReadAll(int fd) {
    std::string bytes;
    zbw::ReadAll(fd, bytes);
    return bytes;
}

std::string Hex(uint64_t value) {
    char buf[32];
    snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(value));
    return buf;
}

// Removes path when it still names the (dead) entry open on fd.
void RemoveStale(const std::string& path, int fd) {
    struct stat open {
    }, named{};
    if (fstat(fd, &open) == 0 && stat(path.c_str(), &named) == 0 && open.st_ino == named.st_ino &&
        open.st_dev == named.st_dev)
        unlink(path.c_str());
}

// The entry at path when its owner still holds it; false for dead or unreadable entries.
bool ReadLiveEntry(const std::string& path, WindowEntry& entry) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool live = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (live)
        entry = ParseEntry(ReadAll(fd));
    else
        RemoveStale(path, fd);
    close(fd);
    return live;
}

bool Matches(LPCWSTR wanted, const std::string& actual) {
    return !wanted || CString(wanted).CompareNoCase(zbw::FromUtf8(actual)) == 0;
}

}  // namespace

namespace zbw {

bool StartControlEndpoint() {
    EndpointState& state = Endpoint();
    std::lock_guard<std::mutex> guard(state.lock);
    std::string folder = UserSubdir("ctl");
    std::string name = std::to_string(getpid());
    std::string path = folder + "/" + name;
    // Bound again only when the emulation root moved (tests) or our name was removed.
    if (state.running && state.path == path && Exists(path)) return true;
    // A name of ours can only be left over from an ended process that had our pid.
    unlink(path.c_str());
    CSocketAddress addr(folder, name);
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || !addr.Valid() || bind(fd, addr.Get(), addr.Length()) != 0) {
        SetLastErrorFromErrno();
        if (fd >= 0) close(fd);
        return false;
    }
    chmod(path.c_str(), 0600);
    SweepStaleNames(folder);
    if (state.running) {
        // Shut down first: the old thread closes its descriptor only once it sees both.
        shutdown(state.fd, SHUT_RDWR);
        *state.stop = true;
    }
    state.stop = std::make_shared<std::atomic<bool>>(false);
    StartThread(fd, state.stop);
    state.running = true;
    state.path = path;
    state.fd = fd;
    static bool atExitSet = atexit(StopAtExit) == 0;
    (void)atExitSet;
    return true;
}

void StopControlEndpoint() {
    EndpointState& state = Endpoint();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.path.empty()) unlink(state.path.c_str());
    state.path.clear();
}

bool PostToOtherProcess(DWORD pid, HWND hwnd, DWORD tid, UINT msg, WPARAM wParam, LPARAM lParam) {
    ControlRecord record{};
    record.magic = kRecordMagic;
    record.size = sizeof record;
    record.hwnd = reinterpret_cast<uintptr_t>(hwnd);
    record.wParam = wParam;
    record.lParam = lParam;
    record.tid = tid;
    record.msg = msg;
    switch (SendRecord(pid, record)) {
        case SendResult::Sent: return true;
        case SendResult::Failed: return false;
        case SendResult::NoEndpoint: break;
    }
    return PostBySignal(pid, hwnd != nullptr, msg);
}

bool PublishWindow(HWND hwnd, LPCWSTR cls, LPCWSTR title) {
    DirectoryState& state = Directory();
    std::lock_guard<std::mutex> guard(state.lock);
    uint64_t value = reinterpret_cast<uintptr_t>(hwnd);
    std::string unique = Hex(value) + "-" + std::to_string(getpid()) + "-" + std::to_string(state.counter++) +
                         "-" + std::to_string(state.nonce);
    std::string folder = WindowFolder();
    std::string temp = folder + "/.tmp-" + unique;
    std::string path = folder + "/" + unique;
    std::string text = "pid=" + std::to_string(getpid()) + "\nhwnd=" + Hex(value) +
                       "\nclass=" + Escape(ToUtf8(cls ? cls : u"")) +
                       "\ntitle=" + Escape(ToUtf8(title ? title : u"")) + "\n";
    // Made under a temporary name and locked before it appears, so no reader sees it unlocked.
    int fd = open(temp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetLastErrorFromErrno();
        return false;
    }
    if (flock(fd, LOCK_EX) != 0 || !zbw::WriteAll(fd, text) || rename(temp.c_str(), path.c_str()) != 0) {
        SetLastErrorFromErrno();
        unlink(temp.c_str());
        close(fd);
        return false;
    }
    auto old = state.own.find(value);
    if (old != state.own.end()) {
        unlink(old->second.path.c_str());
        close(old->second.fd);
        state.own.erase(old);
    }
    state.own.emplace(value, OwnWindow{fd, path});
    return true;
}

void UnpublishWindow(HWND hwnd) {
    DirectoryState& state = Directory();
    std::lock_guard<std::mutex> guard(state.lock);
    auto it = state.own.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == state.own.end()) return;
    unlink(it->second.path.c_str());
    close(it->second.fd);
    state.own.erase(it);
}

HWND FindPublishedWindow(LPCWSTR cls, LPCWSTR title) {
    std::string folder = WindowFolder();
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        WindowEntry entry;
        if (ReadLiveEntry(folder + "/" + name, entry) && Matches(cls, entry.cls) &&
            Matches(title, entry.title))
            return reinterpret_cast<HWND>(static_cast<uintptr_t>(entry.hwnd));
    }
    return nullptr;
}

void SetControlSinkForTest(ControlSink sink) {
    std::lock_guard<std::mutex> guard(Endpoint().lock);
    Endpoint().sink = std::move(sink);
}

}  // namespace zbw
