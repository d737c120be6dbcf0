#include "common/LaunchProcess.h"

#include <string>

#include "platform/host/KernelObject.h"

HANDLE LaunchProcess(LPCWSTR program, LPCWSTR commandLine, DWORD* threadId, PROCESS_INFORMATION* info) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_FORCEOFFFEEDBACK;
    PROCESS_INFORMATION started{};
    std::u16string line(commandLine ? commandLine : u"");  // CreateProcessW may write into it
    BOOL ok = CreateProcessW(program, commandLine ? line.data() : nullptr, nullptr, nullptr, FALSE, 0,
                             nullptr, nullptr, &startup, &started);
    if (threadId) *threadId = ok ? started.dwThreadId : 0;
    if (!ok) return nullptr;
    if (info) {
        *info = started;
    } else {
        CloseHandle(started.hThread);
    }
    return started.hProcess;
}
