// zbengschtask: run by the product's uninstaller to remove the engine's per-user logon task and
// its task folders. One argument: -d deletes, -a does nothing; texts go to standard output.
#include <cstdio>

#include "platform/Accounts.h"
#include "platform/CString.h"
#include "platform/TextConvert.h"
#include "zbengschtask/SchedulerTaskLib.h"

namespace {

const int kMessageLength = 255;

void Print(const CString& text) {
    std::fputs(zbw::ToUtf8(text).c_str(), stdout);
}

// One deletion step: the library's message on failure, else the success text; true on success.
bool DeleteStep(CSchedulerTaskLib& library, LPCWSTR path, BOOL isFolder, LPCWSTR successText) {
    char16_t message[kMessageLength + 1] = {};
    int result = library.DeleteSchedulerTask(path, isFolder, FALSE, message, kMessageLength);
    Print(result != 0 ? CString(message) : CString(successText));
    Print(u"\n");
    return result == 0;
}

int DeleteEngineTasks(CSchedulerTaskLib& library) {
    char16_t user[1024] = {};
    DWORD size = 1024;
    GetUserNameW(user, &size);
    CString taskPath = CString(u"Quarn Software\\ZBEngine Tasks\\Start ZBEngine for ") + user;
    DeleteStep(library, taskPath, FALSE, u"Task deleted.");
    DeleteStep(library, u"\\Quarn Software\\ZBEngine Tasks", TRUE, u"Task folder deleted.");
    return DeleteStep(library, u"\\Quarn Software", TRUE, u"Task folder deleted.") ? 0 : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        Print(u"This program can only be started by the ZBEngine uninstaller.");
        return -1;
    }
    CString argument = zbw::FromUtf8(argv[1]);
    char16_t letter = argument.GetLength() >= 2 ? argument[1] : 0;
    bool prefixed = argument.GetLength() >= 1 && (argument[0] == u'-' || argument[0] == u'/');
    if (!prefixed || (letter != u'a' && letter != u'A' && letter != u'd' && letter != u'D')) {
        Print(u"Invalid argument.");
        return -1;
    }
    CSchedulerTaskLib library;
    if (!library.IsVistaOrLater()) {
        Print(u"Not running on Windows Vista.");
        return -1;
    }
    if (letter == u'a' || letter == u'A') return -1;
    int exitCode = DeleteEngineTasks(library);
    std::fflush(stdout);
    return exitCode;
}
