#include "platform/win32/ServiceManager.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/EmulationRoot.h"
#include "platform/host/HostSpawn.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Process.h"
#include "platform/win32/Registry.h"

extern char** environ;

struct SC_HANDLE__ {
    bool manager;
    CString name;
    DWORD access;
};

namespace {

const DWORD kControlTimeoutMs = 30000;
const DWORD kStartTimeoutMs = 30000;
const DWORD kQueryTimeoutMs = 2000;
// A request of this code asks for the status without calling the handler.
const DWORD kQueryControl = 0;

struct CReply {
    DWORD error;
    SERVICE_STATUS status;
};

CString ServiceKey(const CString& name) {
    return CString(u"SYSTEM\\CurrentControlSet\\Services\\") + name;
}

bool ServiceKeyExists(const CString& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ServiceKey(name), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

SC_HANDLE NewScHandle(bool manager, const CString& name, DWORD access) {
    return new SC_HANDLE__{manager, name, access};
}

bool CheckService(SC_HANDLE handle, DWORD access) {
    if (handle == nullptr || handle->manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if ((handle->access & access) != access) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return true;
}

// Waits (bounded) until fd is readable; false on time-out.
bool WaitReadable(int fd, DWORD timeoutMs) {
    int64_t deadline = zbw::DeadlineAfter(timeoutMs);
    for (;;) {
        int64_t remaining = zbw::RemainingUntil(deadline);
        if (remaining <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        int rc = poll(&p, 1, zbw::PollSliceMs(remaining));
        if (rc > 0) return true;
        if (rc < 0 && errno != EINTR) return false;
    }
}

bool ReadAll(int fd, void* data, size_t size) {
    return recv(fd, data, size, MSG_WAITALL) == static_cast<ssize_t>(size);
}

// One request to the running service; ERROR_SERVICE_NOT_ACTIVE when nothing listens.
DWORD ServiceRequest(const CString& name, DWORD control, SERVICE_STATUS& status, DWORD timeoutMs) {
    sockaddr_un address;
    if (!FillAddress(zbw::ServiceChannelPath(name), address)) return ERROR_FILENAME_EXCED_RANGE;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return zbw::ErrorFromErrno(errno);
    DWORD error = ERROR_SERVICE_NOT_ACTIVE;
    CReply reply{};
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        error = ERROR_SERVICE_REQUEST_TIMEOUT;
        if (send(fd, &control, sizeof control, MSG_NOSIGNAL) == sizeof control &&
            WaitReadable(fd, timeoutMs) && ReadAll(fd, &reply, sizeof reply)) {
            error = reply.error;
            status = reply.status;
        }
    }
    close(fd);
    return error;
}

bool ReadImagePath(const CString& name, CString& imagePath) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, ServiceKey(name), 0, KEY_QUERY_VALUE, &key);
    if (rc != ERROR_SUCCESS) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return false;
    }
    DWORD size = 0;
    rc = RegQueryValueExW(key, u"ImagePath", nullptr, nullptr, nullptr, &size);
    std::vector<char16_t> text(size / sizeof(char16_t) + 1, 0);
    if (rc == ERROR_SUCCESS)
        rc = RegQueryValueExW(key, u"ImagePath", nullptr, nullptr, reinterpret_cast<LPBYTE>(text.data()),
                              &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    imagePath = CString(text.data());
    return true;
}

// The image path as host program and arguments: quoted, or unquoted naming a file as a whole
// (Windows' own reading of an unquoted path with blanks), or split at blanks.
std::vector<std::string> ImageArguments(const CString& imagePath) {
    std::vector<std::string> argv;
    std::string whole = zbw::ToHostProgramPath(imagePath);
    if (!imagePath.IsEmpty() && imagePath[0] != u'"' && !whole.empty() && access(whole.c_str(), X_OK) == 0) {
        argv.push_back(whole);
        return argv;
    }
    for (const std::u16string& part : zbw::SplitCommandLine(imagePath)) argv.push_back(zbw::ToUtf8(part));
    if (!argv.empty()) argv[0] = zbw::ToHostProgramPath(zbw::FromUtf8(argv[0]));
    return argv;
}

std::vector<std::string> ServiceEnvironment(const std::string& channel) {
    std::vector<std::string> env;
    std::string prefix = std::string(ZBW_SERVICE_CHANNEL_VARIABLE) + "=";
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, prefix.c_str(), prefix.size()) != 0) env.push_back(*entry);
    }
    env.push_back(prefix + channel);
    return env;
}

// Starts the service program detached from our console and session; 0 with the last error set.
pid_t SpawnService(const std::vector<std::string>& argv, const std::string& channel) {
    const std::vector<std::string> env = ServiceEnvironment(channel);
    zbw::SPAWNOPTIONS options;
    options.nullStdio = true;
    options.newSession = true;
    options.environment = &env;
    pid_t pid = 0;
    int rc = zbw::SpawnHostProgram(argv[0], argv, options, &pid);
    if (rc != 0) {
        SetLastError(zbw::ErrorFromErrno(rc));
        return 0;
    }
    return pid;
}

// Waits until the new service listens; reaps the program whatever happens.
bool AwaitServiceStart(const CString& name, pid_t pid) {
    int64_t deadline = zbw::DeadlineAfter(kStartTimeoutMs);
    for (;;) {
        SERVICE_STATUS status{};
        if (ServiceRequest(name, kQueryControl, status, kQueryTimeoutMs) == ERROR_SUCCESS) break;
        if (waitpid(pid, nullptr, WNOHANG) == pid || zbw::RemainingUntil(deadline) <= 0) {
            SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
            return false;
        }
        Sleep(20);
    }
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return true;
}

// The service side of this process.
class CDispatcher {
   public:
    static CDispatcher& Instance() {
        static CDispatcher* dispatcher = new CDispatcher;  // threads of the service may outlive main
        return *dispatcher;
    }

    BOOL Run(const SERVICE_TABLE_ENTRYW& entry, const std::string& channel) {
        if (!Listen(channel)) return FALSE;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_name = entry.lpServiceName;
            m_status = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};
            m_running = true;
        }
        std::thread([this, main = entry.lpServiceProc] { RunServiceMain(main); }).detach();
        Serve();
        close(m_listen);
        unlink(channel.c_str());
        return TRUE;
    }

    SERVICE_STATUS_HANDLE Register(LPCWSTR name, LPHANDLER_FUNCTION handler, LPHANDLER_FUNCTION_EX handlerEx,
                                   LPVOID context) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_running || name == nullptr || m_name.CompareNoCase(name) != 0) {
            SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
            return nullptr;
        }
        m_handler = handler;
        m_handlerEx = handlerEx;
        m_context = context;
        return StatusHandle();
    }

    BOOL SetStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status) {
        if (status == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_running || handle != StatusHandle()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        m_status = *status;
        if (status->dwCurrentState == SERVICE_STOPPED) {
            uint64_t one = 1;
            (void)!write(m_wake, &one, sizeof one);
        }
        return TRUE;
    }

   private:
    CDispatcher() : m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    static SERVICE_STATUS_HANDLE StatusHandle() { return reinterpret_cast<SERVICE_STATUS_HANDLE>(1); }

    bool Listen(const std::string& channel) {
        sockaddr_un address;
        if (!FillAddress(channel, address)) {
            SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
            return false;
        }
        unlink(channel.c_str());  // a socket left by a service that died
        m_listen = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listen < 0 || bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(m_listen, 8) != 0) {
            if (m_listen >= 0) close(m_listen);
            SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
            return false;
        }
        return true;
    }

    void RunServiceMain(LPSERVICE_MAIN_FUNCTIONW serviceMain) {
        CString name;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            name = m_name;
        }
        std::u16string text(name.GetString());
        LPWSTR argv[] = {text.data(), nullptr};
        serviceMain(1, argv);
    }

    bool Stopped() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_status.dwCurrentState == SERVICE_STOPPED;
    }

    void Serve() {
        while (!Stopped()) {
            pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) continue;
            uint64_t count;
            (void)!read(m_wake, &count, sizeof count);
            if (!(fds[0].revents & POLLIN)) continue;
            int client = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            DWORD control = 0;
            if (WaitReadable(client, kQueryTimeoutMs) && ReadAll(client, &control, sizeof control)) {
                CReply reply = Handle(control);
                (void)!send(client, &reply, sizeof reply, MSG_NOSIGNAL);
            }
            close(client);
        }
    }

    static bool Accepts(DWORD accepted, DWORD control) {
        if (control == SERVICE_CONTROL_STOP) return accepted & SERVICE_ACCEPT_STOP;
        if (control == SERVICE_CONTROL_SHUTDOWN) return accepted & SERVICE_ACCEPT_SHUTDOWN;
        return control == SERVICE_CONTROL_INTERROGATE;
    }

    // Runs the handler on this (the dispatcher's) thread, as Windows does.
    CReply Handle(DWORD control) {
        CReply reply{ERROR_SUCCESS, {}};
        LPHANDLER_FUNCTION handler;
        LPHANDLER_FUNCTION_EX handlerEx;
        LPVOID context;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            reply.status = m_status;
            handler = m_handler;
            handlerEx = m_handlerEx;
            context = m_context;
        }
        if (control == kQueryControl) return reply;
        if ((handler == nullptr && handlerEx == nullptr) ||
            !Accepts(reply.status.dwControlsAccepted, control)) {
            reply.error = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
            return reply;
        }
        if (handlerEx != nullptr)
            handlerEx(control, 0, nullptr, context);
        else
            handler(control);
        std::lock_guard<std::mutex> guard(m_lock);
        reply.status = m_status;
        return reply;
    }

    std::mutex m_lock;
    CString m_name;
    SERVICE_STATUS m_status{};
    LPHANDLER_FUNCTION m_handler = nullptr;
    LPHANDLER_FUNCTION_EX m_handlerEx = nullptr;
    LPVOID m_context = nullptr;
    bool m_running = false;
    int m_listen = -1;
    const int m_wake;
};

}  // namespace

namespace zbw {

std::string ServiceChannelPath(const CString& serviceName) {
    CString lower(serviceName);
    lower.MakeLower();
    return MachineSubdir("services") + "/" + ToUtf8(lower) + ".sock";
}

}  // namespace zbw

SC_HANDLE OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR, DWORD dwDesiredAccess) {
    if (lpMachineName != nullptr && lpMachineName[0] != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return NewScHandle(true, CString(), dwDesiredAccess);
}

SC_HANDLE CreateServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, LPCWSTR lpDisplayName,
                         DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl,
                         LPCWSTR lpBinaryPathName, LPCWSTR, LPDWORD, LPCWSTR, LPCWSTR, LPCWSTR) {
    if (hSCManager == nullptr || !hSCManager->manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!(hSCManager->access & SC_MANAGER_CREATE_SERVICE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (lpServiceName == nullptr || lpServiceName[0] == 0 || lpBinaryPathName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    CString name(lpServiceName);
    if (ServiceKeyExists(name)) {
        SetLastError(ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, ServiceKey(name), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return nullptr;
    }
    CString display(lpDisplayName != nullptr ? lpDisplayName : lpServiceName);
    CString image(lpBinaryPathName);
    const DWORD numbers[] = {dwServiceType, dwStartType, dwErrorControl};
    const LPCWSTR numberNames[] = {u"Type", u"Start", u"ErrorControl"};
    for (int i = 0; i < 3 && rc == ERROR_SUCCESS; ++i)
        rc = RegSetValueExW(key, numberNames[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&numbers[i]),
                            sizeof(DWORD));
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueExW(key, u"ImagePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(image.GetString()),
                            (image.GetLength() + 1) * sizeof(char16_t));
    if (rc == ERROR_SUCCESS)
        rc =
            RegSetValueExW(key, u"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(display.GetString()),
                           (display.GetLength() + 1) * sizeof(char16_t));
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, ServiceKey(name));
        SetLastError(rc);
        return nullptr;
    }
    return NewScHandle(false, name, dwDesiredAccess);
}

SC_HANDLE OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess) {
    if (hSCManager == nullptr || !hSCManager->manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (lpServiceName == nullptr || !ServiceKeyExists(lpServiceName)) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    return NewScHandle(false, lpServiceName, dwDesiredAccess);
}

BOOL DeleteService(SC_HANDLE hService) {
    if (!CheckService(hService, DELETE)) return FALSE;
    LONG rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, ServiceKey(hService->name));
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc == ERROR_FILE_NOT_FOUND ? ERROR_SERVICE_DOES_NOT_EXIST : static_cast<DWORD>(rc));
        return FALSE;
    }
    return TRUE;
}

BOOL ChangeServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPVOID lpInfo) {
    if (!CheckService(hService, 0)) return FALSE;
    if (dwInfoLevel != SERVICE_CONFIG_DESCRIPTION || lpInfo == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const SERVICE_DESCRIPTIONW* info = static_cast<const SERVICE_DESCRIPTIONW*>(lpInfo);
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, ServiceKey(hService->name), 0, KEY_SET_VALUE, &key);
    if (rc == ERROR_SUCCESS && info->lpDescription != nullptr) {
        CString text(info->lpDescription);
        rc = RegSetValueExW(key, u"Description", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.GetString()),
                            (text.GetLength() + 1) * sizeof(char16_t));
    }
    if (key != nullptr) RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc == ERROR_FILE_NOT_FOUND ? ERROR_SERVICE_DOES_NOT_EXIST : static_cast<DWORD>(rc));
        return FALSE;
    }
    return TRUE;
}

BOOL StartServiceW(SC_HANDLE hService, DWORD, LPCWSTR*) {
    if (!CheckService(hService, SERVICE_START)) return FALSE;
    CString imagePath;
    if (!ReadImagePath(hService->name, imagePath)) return FALSE;
    SERVICE_STATUS status{};
    if (ServiceRequest(hService->name, kQueryControl, status, kQueryTimeoutMs) == ERROR_SUCCESS) {
        SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }
    std::vector<std::string> argv = ImageArguments(imagePath);
    if (argv.empty() || argv[0].empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    pid_t pid = SpawnService(argv, zbw::ServiceChannelPath(hService->name));
    return pid != 0 && AwaitServiceStart(hService->name, pid);
}

BOOL ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
    DWORD right = dwControl == SERVICE_CONTROL_INTERROGATE ? SERVICE_INTERROGATE : SERVICE_STOP;
    if (!CheckService(hService, right)) return FALSE;
    if (lpServiceStatus == nullptr || dwControl == kQueryControl) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD error = ServiceRequest(hService->name, dwControl, *lpServiceStatus, kControlTimeoutMs);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    if (!CheckService(hService, SERVICE_QUERY_STATUS)) return FALSE;
    if (lpServiceStatus == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD error = ServiceRequest(hService->name, kQueryControl, *lpServiceStatus, kQueryTimeoutMs);
    if (error == ERROR_SERVICE_NOT_ACTIVE) {
        *lpServiceStatus = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
        return TRUE;
    }
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE hSCObject) {
    if (hSCObject == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete hSCObject;
    return TRUE;
}

BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* lpServiceStartTable) {
    if (lpServiceStartTable == nullptr || lpServiceStartTable->lpServiceName == nullptr ||
        lpServiceStartTable->lpServiceProc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const char* channel = std::getenv(ZBW_SERVICE_CHANNEL_VARIABLE);
    if (channel == nullptr || channel[0] == 0) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return FALSE;
    }
    return CDispatcher::Instance().Run(*lpServiceStartTable, channel);
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(LPCWSTR lpServiceName, LPHANDLER_FUNCTION lpHandlerProc) {
    return CDispatcher::Instance().Register(lpServiceName, lpHandlerProc, nullptr, nullptr);
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExW(LPCWSTR lpServiceName,
                                                    LPHANDLER_FUNCTION_EX lpHandlerProc, LPVOID lpContext) {
    return CDispatcher::Instance().Register(lpServiceName, nullptr, lpHandlerProc, lpContext);
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus) {
    return CDispatcher::Instance().SetStatus(hServiceStatus, lpServiceStatus);
}
