// zbwctl: reaches layer processes from the command line through their control endpoints and the
// window directory, for tests and operators. Arguments and output are UTF-8.
//
//   zbwctl post PID MSG [WPARAM [LPARAM]]                  to the main thread of process PID
//   zbwctl postwin CLASS|- TITLE|- MSG [WPARAM [LPARAM]]   to the first window found
//   zbwctl find CLASS|- TITLE|-                            prints "HWND PID" of the first window
//   zbwctl serve [CLASS TITLE]                             a layer process to post to (tests)
//
// "-" matches any class or title. MSG is a number (decimal or 0x...) or a name: WM_NULL,
// WM_CLOSE, WM_QUERYENDSESSION, WM_QUIT, WM_ENDSESSION, WM_COMMAND, WM_TIMER, WM_DEVICECHANGE,
// WM_USER or WM_USER+N. serve runs a message loop on its main thread, with a window of the class
// and title when they are given; it prints one line "MSG WPARAM LPARAM" (decimal) for every
// message it takes off its queue and ends with the WM_QUIT's wParam as exit code.
//
// Exit code 0 on success, 1 when the post failed or no window was found, 2 for a usage error.
#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/base/CString.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/win32/ControlEndpoint.h"
#include "platform/win32/WinUser.h"

namespace {

struct MESSAGENAME {
    const char* name;
    UINT msg;
};
const MESSAGENAME kMessages[] = {{"WM_NULL", WM_NULL},
                                 {"WM_CLOSE", WM_CLOSE},
                                 {"WM_QUERYENDSESSION", WM_QUERYENDSESSION},
                                 {"WM_QUIT", WM_QUIT},
                                 {"WM_ENDSESSION", WM_ENDSESSION},
                                 {"WM_COMMAND", WM_COMMAND},
                                 {"WM_TIMER", WM_TIMER},
                                 {"WM_DEVICECHANGE", WM_DEVICECHANGE},
                                 {"WM_USER", WM_USER}};

int Usage() {
    fputs(
        "usage: zbwctl post PID MSG [WPARAM [LPARAM]]\n"
        "       zbwctl postwin CLASS|- TITLE|- MSG [WPARAM [LPARAM]]\n"
        "       zbwctl find CLASS|- TITLE|-\n"
        "       zbwctl serve [CLASS TITLE]\n",
        stderr);
    return 2;
}

bool ParseNumber(const char* text, unsigned long long& value) {
    if (!*text) return false;
    char* end = nullptr;
    errno = 0;
    value = strtoull(text, &end, 0);
    return errno == 0 && *end == 0;
}

bool ParseSigned(const char* text, long long& value) {
    if (!*text) return false;
    char* end = nullptr;
    errno = 0;
    value = strtoll(text, &end, 0);
    return errno == 0 && *end == 0;
}

bool ParseMessage(const char* text, UINT& msg) {
    unsigned long long number = 0;
    if (ParseNumber(text, number)) {
        msg = static_cast<UINT>(number);
        return number <= 0xFFFFFFFFull;
    }
    for (const MESSAGENAME& entry : kMessages) {
        size_t n = strlen(entry.name);
        if (strncasecmp(text, entry.name, n) != 0) continue;
        if (!text[n]) {
            msg = entry.msg;
            return true;
        }
        if (entry.msg == WM_USER && text[n] == '+' && ParseNumber(text + n + 1, number) && number < 0x10000) {
            msg = WM_USER + static_cast<UINT>(number);
            return true;
        }
    }
    return false;
}

// MSG [WPARAM [LPARAM]] from argv[first...].
bool ParseMessageArgs(int argc, char** argv, int first, UINT& msg, WPARAM& wParam, LPARAM& lParam) {
    if (argc <= first || argc > first + 3 || !ParseMessage(argv[first], msg)) return false;
    unsigned long long w = 0;
    long long l = 0;
    if (argc > first + 1 && !ParseNumber(argv[first + 1], w)) return false;
    if (argc > first + 2 && !ParseSigned(argv[first + 2], l)) return false;
    wParam = static_cast<WPARAM>(w);
    lParam = static_cast<LPARAM>(l);
    return true;
}

// "-" is any; the CString keeps the text alive.
LPCWSTR Pattern(const char* arg, CString& holder) {
    if (strcmp(arg, "-") == 0) return nullptr;
    holder = zbw::FromUtf8(arg);
    return holder;
}

int Fail(const char* what) {
    DWORD error = GetLastError();
    fprintf(stderr, "zbwctl: %s failed, error %u\n", what, error);
    return 1;
}

HWND Find(char** argv) {
    CString cls, title;
    return zbw::FindPublishedWindow(Pattern(argv[0], cls), Pattern(argv[1], title));
}

int Post(int argc, char** argv) {
    unsigned long long pid = 0;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    if (!ParseNumber(argv[2], pid) || pid == 0 || pid > 0xFFFFFFFFull ||
        !ParseMessageArgs(argc, argv, 3, msg, wParam, lParam))
        return Usage();
    DWORD target = static_cast<DWORD>(pid);
    return zbw::PostToOtherProcess(target, nullptr, target, msg, wParam, lParam) ? 0 : Fail("post");
}

int PostToWindow(int argc, char** argv) {
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    if (argc < 5 || !ParseMessageArgs(argc, argv, 4, msg, wParam, lParam)) return Usage();
    HWND hwnd = Find(argv + 2);
    if (!hwnd) {
        fputs("zbwctl: no such window\n", stderr);
        return 1;
    }
    return zbw::PostToOtherProcess(zbw::ProcessOfWindow(hwnd), hwnd, 0, msg, wParam, lParam) ? 0
                                                                                             : Fail("post");
}

int FindCommand(int argc, char** argv) {
    if (argc != 4) return Usage();
    HWND hwnd = Find(argv + 2);
    if (!hwnd) return 1;
    printf("0x%llx %u\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)),
           zbw::ProcessOfWindow(hwnd));
    return 0;
}

// Keeps its window on WM_CLOSE, so a test can go on posting to it.
LRESULT CALLBACK ServeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return msg == WM_CLOSE ? 0 : DefWindowProcW(hwnd, msg, wParam, lParam);
}

int Serve(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    MSG msg{};
    if (argc == 4) {
        CString cls = zbw::FromUtf8(argv[2]);
        CString title = zbw::FromUtf8(argv[3]);
        WNDCLASSW wc{};
        wc.lpfnWndProc = ServeProc;
        wc.lpszClassName = cls;
        if (!RegisterClassW(&wc)) return Fail("RegisterClassW");
        if (!CreateWindowExW(0, cls, title, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr))
            return Fail("CreateWindowExW");
    } else {
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // makes the queue, and with it the endpoint
    }
    BOOL got;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
        printf("%u %llu %lld\n", msg.message, static_cast<unsigned long long>(msg.wParam),
               static_cast<long long>(msg.lParam));
        DispatchMessageW(&msg);
    }
    if (got < 0) return Fail("GetMessageW");
    printf("%u %llu %lld\n", msg.message, static_cast<unsigned long long>(msg.wParam),
           static_cast<long long>(msg.lParam));
    return static_cast<int>(msg.wParam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string command = argv[1];
    if (command == "post" && argc >= 4) return Post(argc, argv);
    if (command == "postwin") return PostToWindow(argc, argv);
    if (command == "find") return FindCommand(argc, argv);
    if (command == "serve" && (argc == 2 || argc == 4)) return Serve(argc, argv);
    return Usage();
}
