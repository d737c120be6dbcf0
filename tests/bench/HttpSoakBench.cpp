// The engine's memory while it serves its pages: 200 profiles of the stand-in, each due every
// minute and running for 20 s (so that about a third of them run at any time and the page changes
// every second), and the status page asked every second on a new connection (a new client thread
// each time), beside STATUS ALL over the command block (a console run each second). Prints the
// engine's resident memory each minute, then the last figure and its growth over the last half of
// the run beside the targets (under 100 MB, flat). It runs 10 minutes; "--minutes N" runs N
// minutes instead, for development.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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

const int kProfiles = 200;
const double kFlatMB = 5;

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

// Resident memory of a process in MB; -1 when it cannot be read.
double ResidentMB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    }
    return -1;
}

std::string WriteSettings(const CTestRoot& root, int port) {
    std::filesystem::create_directories(root.Path("src"));
    std::filesystem::create_directories(root.Path("dst"));
    std::filesystem::create_directories(root.Path("profiles"));
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<SETTINGS>\r\n<HTTP><PORT>" +
                      std::to_string(port) + "</PORT></HTTP>\r\n";
    for (int i = 0; i < kProfiles; ++i) {
        std::string file = root.Path("profiles/profile" + std::to_string(i) + ".fsf");
        WriteHostFile(
            file,
            Utf16File("[Zebrodyne Profile - File Version 4.0.0]\r\n[Settings]\r\nSource Folder=" +
                      WindowsPath(root.Path("src")) + "\r\nTarget Folder=" + WindowsPath(root.Path("dst")) +
                      "\r\nExecution Method=1\r\n[StandIn]\r\nSeconds=20\r\n"));
        xml += "<ITEM><PROFILE>" + WindowsPath(file) + "</PROFILE><CATEGORY>Category " +
               std::to_string(i % 5) + "</CATEGORY><EVERYMINUTE>1</EVERYMINUTE></ITEM>\r\n";
    }
    xml += "</SETTINGS>\r\n";
    WriteHostFile(root.Path("settings.xml"), Utf16File(xml));
    return root.Path("settings.xml");
}

// STATUS ALL through the console, its answer thrown away; true when the console succeeded.
bool AskStatusAll(const CTestRoot& root) {
    CChildProcess console;
    if (!console.Start("/bin/sh", {"-c", "exec \"$0\" \"$@\" > /dev/null < /dev/null",
                                   BinDir() + "/ZBConsole", "/I:" + root.Path("none.ini"), "/C:STATUS ALL"}))
        return false;
    return console.WaitExit(10000) == 0;
}

int MinutesFrom(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--minutes") == 0) return std::max(2, std::atoi(argv[i + 1]));
    }
    return 10;
}

}  // namespace

int main(int argc, char** argv) {
    const int minutes = MinutesFrom(argc, argv);
    CTestRoot root;
    zbbench::RegisterStandIn();
    int port = FreeLoopbackPort();
    std::string settings = WriteSettings(root, port);
    CChildProcess engine;
    if (!engine.Start(BinDir() + "/zbengine", {WindowsPath(settings)})) return 1;
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
    std::printf(
        "Engine memory, %d profiles of the stand-in due every minute, the status page and STATUS ALL asked "
        "every second\n",
        kProfiles);
    std::vector<double> perMinute;
    long pages = 0, failures = 0, statusFailures = 0;
    auto start = std::chrono::steady_clock::now();
    for (int minute = 1; minute <= minutes; ++minute) {
        while (std::chrono::steady_clock::now() < start + std::chrono::minutes(minute)) {
            auto next = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            ++(zbtest::HttpGet(port, "/status.htm").status == 200 ? pages : failures);
            if (!AskStatusAll(root)) ++statusFailures;
            std::this_thread::sleep_until(next);
        }
        perMinute.push_back(ResidentMB(engine.Pid()));
        std::printf("  minute %2d: %6.1f MB resident\n", minute, perMinute.back());
        std::fflush(stdout);
    }
    const size_t half = perMinute.size() / 2;
    const double last = perMinute.back();
    const double growth = last - perMinute[perMinute.size() - 1 - half];
    std::printf("  pages served: %ld, failed: %ld; STATUS ALL failed: %ld\n", pages, failures,
                statusFailures);
    std::printf("  resident after %d minutes: %6.1f MB   (target < 100 MB)\n", minutes, last);
    std::printf("  growth over the last %zu minutes: %+6.1f MB   (target: flat, within %.0f MB)\n", half,
                growth, kFlatMB);
    engine.Signal(SIGINT);
    engine.WaitExit(30000);
    return 0;
}
