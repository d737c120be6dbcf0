// zbengschtask: run by the product's uninstaller to remove the engine's per-user logon task and
// its task folders. One argument: -d deletes, -a does nothing; texts go to standard output.
#include <cstdio>

#include "common/SchedulerTaskLib.h"
#include "platform/base/CString.h"
#include "platform/base/TextConvert.h"

namespace {

void Print(const CString& text) {
    std::fputs(zbw::ToUtf8(text).c_str(), stdout);
}

// Prints the library's message on failure, else the success text; true on success.
bool ReportStep(int result, LPCWSTR message, LPCWSTR successText) {
    Print(result != 0 ? CString(message) : CString(successText));
    Print(u"\n");
    return result == 0;
}

int DeleteEngineTasks(CSchedulerTaskLib& library) {
    char16_t message[CSchedulerTaskLib::kMessageLength] = {};
    ReportStep(library.DeleteEngineSchedulerTask(message), message, u"Task deleted.");
    char16_t folderMessage[CSchedulerTaskLib::kMessageLength] = {};
    ReportStep(library.DeleteSchedulerTaskFolder(folderMessage, TRUE, CSchedulerTaskLib::kTaskFolder),
               folderMessage, u"Task folder deleted.");
    char16_t companyMessage[CSchedulerTaskLib::kMessageLength] = {};
    int last = library.DeleteSchedulerTaskFolder(companyMessage, TRUE, CSchedulerTaskLib::kCompanyFolder);
    return ReportStep(last, companyMessage, u"Task folder deleted.") ? 0 : -1;
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
