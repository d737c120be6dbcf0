// The web server's speed: requests a second for the status page of an engine with 100
// profiles, with keep-alive and without, from 16 clients at once; the same bytes served as a
// static file by lighttpd (installed from Debian when missing) for scale; the engine's figure
// again while every core is busy with other processes; the latency of a new client's request
// while 60 idle connections are open; and a new client's answer time while 1000 slow connections
// from other loopback addresses trickle requests that never end, beside the same with none.
// Prints each figure beside its target. The figures are of the machine as it is: other work on
// it lowers them.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "tests/bench/StandIn.h"
#include "tests/e2e/ChildProcess.h"
#include "tests/e2e/HttpClient.h"
#include "tests/e2e/LogFiles.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/TestRoot.h"

namespace {

using Clock = std::chrono::steady_clock;
const int kProfiles = 100;
const int kClients = 16;
const int kIdle = 60;
const auto kRun = std::chrono::seconds(3);

std::string WindowsPath(const std::string& hostPath) {
    return zbw::ToUtf8(zbw::ToWindowsPath(hostPath));
}

std::string Utf16File(const std::string& utf8) {
    std::string bytes = "\xFF\xFE";
    const CString text = zbw::FromUtf8(utf8);
    for (char16_t unit : text.GetStdString()) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::string Request(int port, bool keepAlive, const std::string& path = "/status.htm") {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nConnection: " + (keepAlive ? "keep-alive" : "close") + "\r\n\r\n";
}

double RequestsPerSecond(int port, bool keepAlive, const std::string& path = "/status.htm") {
    std::atomic<long> done{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> clients;
    auto end = Clock::now() + kRun;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&] {
            std::unique_ptr<zbtest::CHttpConnection> connection;
            while (Clock::now() < end) {
                if (!connection || !keepAlive) connection = std::make_unique<zbtest::CHttpConnection>(port);
                if (!connection->Send(Request(port, keepAlive, path)) ||
                    connection->Receive().status != 200) {
                    failed = true;
                    connection.reset();
                    continue;
                }
                ++done;
            }
        });
    }
    auto start = Clock::now();
    for (std::thread& client : clients) client.join();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (failed) std::printf("  (some requests failed)\n");
    return static_cast<double>(done) / seconds;
}

void LatencyWithIdleConnections(int port, double& median, double& p99) {
    std::vector<std::unique_ptr<zbtest::CHttpConnection>> idle;
    for (int i = 0; i < kIdle; ++i) idle.push_back(std::make_unique<zbtest::CHttpConnection>(port));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::vector<double> times;
    for (int i = 0; i < 50; ++i) {
        auto start = Clock::now();
        zbtest::HTTPANSWER answer = zbtest::HttpExchange(port, Request(port, false), 10000);
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        times.push_back(answer.status == 200 ? ms : 1e9);
    }
    std::sort(times.begin(), times.end());
    median = times[times.size() / 2];
    p99 = times[times.size() * 99 / 100];
}

// Slow connections: each sends the start of a request line, then one more byte a second, and is
// opened again whenever the server closes it. They come from 127.0.0.2 and up, 100 an address.
class CSlowCrowd {
   public:
    CSlowCrowd(int port, int count) : m_nPort(port), m_fds(static_cast<size_t>(count), -1) {}
    ~CSlowCrowd() { Stop(); }

    void Start() {
        m_thread = std::thread([this] { Run(); });
    }
    void Stop() {
        m_bStop = true;
        if (m_thread.joinable()) m_thread.join();
        for (int& fd : m_fds) {
            if (fd >= 0) close(fd);
            fd = -1;
        }
    }
    int Open() const { return m_nOpen; }
    long Reopened() const { return m_nReopened; }

   private:
    static constexpr int kPerAddress = 100;

    int Connect(size_t index) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return -1;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1 + static_cast<uint32_t>(index / kPerAddress));
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(static_cast<uint16_t>(m_nPort));
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            (connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0 && errno != EINPROGRESS)) {
            close(fd);
            return -1;
        }
        return fd;
    }

    void Run() {
        std::vector<bool> started(m_fds.size(), false);
        auto nextByte = Clock::now();
        while (!m_bStop) {
            std::vector<pollfd> polls;
            for (size_t i = 0; i < m_fds.size(); ++i) {
                if (m_fds[i] < 0) {
                    m_fds[i] = Connect(i);
                    started[i] = false;
                }
                polls.push_back({m_fds[i], static_cast<short>(POLLIN | (started[i] ? 0 : POLLOUT)), 0});
            }
            poll(polls.data(), polls.size(), 100);
            bool tick = Clock::now() >= nextByte;
            if (tick) nextByte = Clock::now() + std::chrono::seconds(1);
            int open = 0;
            for (size_t i = 0; i < m_fds.size(); ++i) {
                char sink[256];
                bool closed = (polls[i].revents & (POLLHUP | POLLERR)) ||
                              ((polls[i].revents & POLLIN) && recv(m_fds[i], sink, sizeof sink, 0) <= 0);
                if (!closed && !started[i] && (polls[i].revents & POLLOUT))
                    started[i] = send(m_fds[i], "GET /", 5, MSG_NOSIGNAL) == 5;
                else if (!closed && started[i] && tick)
                    send(m_fds[i], "a", 1, MSG_NOSIGNAL);
                if (closed) {
                    close(m_fds[i]);
                    m_fds[i] = -1;
                    ++m_nReopened;
                } else if (started[i]) {
                    ++open;
                }
            }
            m_nOpen = open;
        }
    }

    int m_nPort;
    std::vector<int> m_fds;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_nOpen{0};
    std::atomic<long> m_nReopened{0};
};

const int kNewClients = 50;

// A new client's whole exchange for the status page, each on a connection of its own.
void NewClientAnswerTimes(int port, double& median, double& p99, int& failed) {
    std::vector<double> times;
    failed = 0;
    for (int i = 0; i < kNewClients; ++i) {
        auto start = Clock::now();
        zbtest::HTTPANSWER answer = zbtest::HttpExchange(port, Request(port, false), 5000);
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (answer.status != 200) ++failed;
        times.push_back(answer.status == 200 ? ms : 1e9);
    }
    std::sort(times.begin(), times.end());
    median = times[times.size() / 2];
    p99 = times[times.size() * 99 / 100];
}

void PrintSlowConnectionFigures(int port) {
    const int kSlow = 1000;
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    double median = 0, p99 = 0;
    int failed = 0;
    std::printf("A new client's status page beside slow connections that never end a request\n");
    NewClientAnswerTimes(port, median, p99, failed);
    std::printf("  none open:          median %7.1f ms, p99 %7.1f ms, %d unanswered of %d   (no target)\n",
                median, p99, failed, kNewClients);
    CSlowCrowd crowd(port, kSlow);
    crowd.Start();
    zbtest::WaitForText([&] { return crowd.Open() >= kSlow * 9 / 10 ? "open" : ""; }, "open", 30000);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    NewClientAnswerTimes(port, median, p99, failed);
    std::printf(
        "  %d slow open:     median %7.1f ms, p99 %7.1f ms, %d unanswered of %d   (target: p99 <= 1000 ms, "
        "none unanswered)\n",
        crowd.Open(), median, p99, failed, kNewClients);
    std::printf("  slow connections closed by the server meanwhile and opened again: %ld\n",
                crowd.Reopened());
    crowd.Stop();
}

// Every core kept busy by a process of its own until the load is dropped.
class CBusyCores {
   public:
    CBusyCores() {
        long cores = sysconf(_SC_NPROCESSORS_ONLN);
        for (long i = 0; i < cores; ++i) {
            pid_t pid = fork();
            if (pid == 0) {
                volatile unsigned long spin = 0;
                for (;;) spin = spin + 1;
            }
            if (pid > 0) m_children.push_back(pid);
        }
    }
    ~CBusyCores() {
        for (pid_t pid : m_children) kill(pid, SIGKILL);
        for (pid_t pid : m_children) waitpid(pid, nullptr, 0);
    }
    CBusyCores(const CBusyCores&) = delete;
    CBusyCores& operator=(const CBusyCores&) = delete;

   private:
    std::vector<pid_t> m_children;
};

const char kLighttpd[] = "/usr/sbin/lighttpd";

bool EnsureLighttpd() {
    if (access(kLighttpd, X_OK) == 0) return true;
    std::printf("  (installing lighttpd from Debian)\n");
    std::fflush(stdout);
    std::string sudo = geteuid() == 0 ? "" : "sudo ";
    std::system((sudo + "apt-get update -qq >/dev/null && DEBIAN_FRONTEND=noninteractive " + sudo +
                 "apt-get install -y -qq lighttpd >/dev/null")
                    .c_str());
    return access(kLighttpd, X_OK) == 0;
}

// Requests a second of lighttpd serving body as a static file; -1 when it does not run.
double StaticFileRequestsPerSecond(const CTestRoot& root, const std::string& body) {
    if (!EnsureLighttpd()) return -1;
    std::filesystem::create_directories(root.Path("static"));
    WriteHostFile(root.Path("static/status.htm"), body);
    int port = FreeLoopbackPort();
    WriteHostFile(root.Path("lighttpd.conf"),
                  "server.document-root = \"" + root.Path("static") +
                      "\"\nserver.port = " + std::to_string(port) +
                      "\nserver.bind = \"127.0.0.1\"\nserver.errorlog = \"" + root.Path("lighttpd.log") +
                      "\"\nserver.max-keep-alive-requests = 1000000\nmimetype.assign = (\".htm\" => "
                      "\"text/html; charset=utf-16\")\n");
    CChildProcess server;
    if (!server.Start(kLighttpd, {"-D", "-f", root.Path("lighttpd.conf")})) return -1;
    bool up = zbtest::WaitForText(
        [&] { return zbtest::HttpGet(port, "/status.htm").status == 200 ? "up" : ""; }, "up", 20000);
    double figure = up ? RequestsPerSecond(port, true) : -1;
    server.Signal(SIGTERM);
    server.WaitExit(10000);
    return figure;
}

// The status page beside a static file server, quiet and with every core busy.
void StatusPageFigures(int port, const CTestRoot& root) {
    std::printf("Status page, %d profiles, %d keep-alive clients, beside a static file server\n", kProfiles,
                kClients);
    double quiet = RequestsPerSecond(port, true);
    std::printf("  engine:               %8.0f requests/s   (target >= 1000)\n", quiet);
    const std::string body = zbtest::HttpGet(port, "/status.htm").body;
    double lighttpd = StaticFileRequestsPerSecond(root, body);
    if (lighttpd > 0) {
        std::printf("  lighttpd, same bytes: %8.0f requests/s   (for scale)\n", lighttpd);
        std::printf("  lighttpd / engine:    %8.1f x            (target <= 10 x)\n", lighttpd / quiet);
    } else {
        std::printf("  lighttpd: not available\n");
    }
    double busy = 0;
    {
        CBusyCores load;
        busy = RequestsPerSecond(port, true);
    }
    std::printf(
        "  engine, every core busy with another process: %8.0f requests/s   (target >= %.0f, half the "
        "quiet figure)\n",
        busy, quiet / 2);
}

}  // namespace

int main() {
    CTestRoot root;
    zbbench::RegisterStandIn();
    int port = FreeLoopbackPort();
    std::filesystem::create_directories(root.Path("profiles"));
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<SETTINGS>\r\n<HTTP><PORT>" +
                      std::to_string(port) + "</PORT><CLIENTS>127.*</CLIENTS></HTTP>\r\n";
    for (int i = 0; i < kProfiles; ++i) {
        std::string file = root.Path("profiles/profile" + std::to_string(i) + ".fsf");
        WriteHostFile(file, i == 0 ? "[StandIn]\r\nSeconds=600\r\n" : "[StandIn]\r\nSeconds=0\r\n");
        xml += "<ITEM><PROFILE>" + WindowsPath(file) + "</PROFILE><CATEGORY>Category " +
               std::to_string(i % 5) + "</CATEGORY><DESCRIPTION>Profile number " + std::to_string(i) +
               "</DESCRIPTION></ITEM>\r\n";
    }
    xml += "</SETTINGS>\r\n";
    WriteHostFile(root.Path("settings.xml"), Utf16File(xml));
    CChildProcess engine;
    if (!engine.Start(BinDir() + "/zbengine", {WindowsPath(root.Path("settings.xml"))})) return 1;
    // The command server loads the profiles once it listens; a load from the page does the same.
    zbtest::WaitForText([&] { return zbtest::HttpGet(port, "/status.htm").status == 200 ? "up" : ""; }, "up",
                        60000);
    zbtest::HttpGet(port, "/status.htm?LOAD=ALL");
    bool listed = zbtest::WaitForText(
        [&] {
            zbtest::HTTPANSWER answer = zbtest::HttpGet(port, "/status.htm");
            return std::to_string(zbtest::CountOf(zbtest::Utf16Body(answer.body), "<tr class=\"profile\""));
        },
        std::to_string(kProfiles), 60000);
    if (!listed) {
        std::printf("the engine did not list %d profiles\n", kProfiles);
        return 1;
    }
    StatusPageFigures(port, root);
    std::printf("HTTP server, status page with %d profiles, %d clients at once\n", kProfiles, kClients);
    std::printf("  no keep-alive: %8.0f requests/s   (no target)\n", RequestsPerSecond(port, false));
    double median = 0, p99 = 0;
    LatencyWithIdleConnections(port, median, p99);
    std::printf(
        "  one request with %d idle connections open: median %.1f ms, p99 %.1f ms   (target: served, "
        "not held up by the idle ones)\n",
        kIdle, median, p99);
    PrintSlowConnectionFigures(port);
    // The status page's script asks this every few seconds from every open browser: with one
    // profile running, most checks still answer "0".
    zbtest::HttpGet(port,
                    "/status.htm?RUN=" + zbtest::UrlEncoded(WindowsPath(root.Path("profiles/profile0.fsf"))),
                    "Referer: http://127.0.0.1:" + std::to_string(port) + "/status.htm\r\n");
    std::string page = zbtest::Utf16Body(zbtest::HttpGet(port, "/status.htm").body);
    size_t at = page.find("data-rid=\"");
    std::string id = at == std::string::npos ? std::string() : page.substr(at + 10, 44);
    std::printf("Refresh check of the status page, %d profiles, one running, %d clients at once\n", kProfiles,
                kClients);
    std::printf(
        "  keep-alive:    %8.0f requests/s   (target: the engine's cost stays small)\n",
        RequestsPerSecond(port, true, "/checkrefresh.htm?rpg=%2Fstatus.htm&rid=" + zbtest::UrlEncoded(id)));
    engine.Signal(SIGINT);
    engine.WaitExit(20000);
    return 0;
}
