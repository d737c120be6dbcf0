// zbsync: a stand-in for the synchronisation program, which is outside the system. It honours what
// the engine relies on, and its own settings in the profile (StandInSettings.h) choose the outcome:
//
//   zbsync "PROFILE" [/hiddenautosync /zbeng | /autosync /zbeng | /dialogautosync /zbeng]
//   zbsync "PROFILE" [/autocompare | /settings]
//
// Each call is one run: it appends "START ID: n" to its log (n, the run's number in that log, is
// also its identification in the status block), runs for the chosen time with a message queue
// on its main thread, and appends the result and "END ID: n". It ends with the chosen exit code,
// or, when a WM_QUIT reaches its main thread (and IgnoreQuit is not set), at once with 4
// ("canceled by user"). Every quit request is counted in the log.
//
// Exit codes of its own: 16 when the profile cannot be read, 8 when the log cannot be opened,
// 18 for a missing profile or an unknown switch (the synchronisation program's meanings).
// While it runs it reports through the engine's status blocks (StandInStatus.h).
#include <cstdio>

#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/win32/Thread.h"
#include "platform/win32/WinUser.h"
#include "tools/zbsync/StandInLog.h"
#include "tools/zbsync/StandInSettings.h"
#include "tools/zbsync/StandInStatus.h"

namespace {

const int kCanceledExitCode = 4;
const int kLogFileExitCode = 8;
const int kProfileNotFoundExitCode = 16;
const int kCommandLineExitCode = 18;

bool IsKnownSwitch(const CString& argument) {
    if (argument.IsEmpty() || (argument[0] != u'/' && argument[0] != u'-')) return false;
    CString name = argument.Mid(1);
    for (LPCWSTR known :
         {u"hiddenautosync", u"autosync", u"dialogautosync", u"zbeng", u"autocompare", u"settings"}) {
        if (name.CompareNoCase(known) == 0) return true;
    }
    return false;
}

struct RUNRESULT {
    int nExitCode;
    int nQuits;
};

// Runs for the chosen time while serving the queue; a quit ends the run unless it is ignored.
RUNRESULT RunFor(const CStandInSettings& settings, const CStandInLog& log) {
    RUNRESULT result{settings.m_nExitCode, 0};
    int64_t deadline = zbw::DeadlineAfter(static_cast<DWORD>(settings.m_dSeconds * 1000));
    for (;;) {
        int64_t left = zbw::RemainingUntil(deadline);
        if (left == 0) return result;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message != WM_QUIT) {
                DispatchMessageW(&msg);
                continue;
            }
            ++result.nQuits;
            CString line;
            line.Format(settings.m_bIgnoreQuit ? u"[INFO] Quit request %d ignored."
                                               : u"[INFO] Quit request %d received.",
                        result.nQuits);
            log.Line(line);
            if (!settings.m_bIgnoreQuit) {
                result.nExitCode = kCanceledExitCode;
                return result;
            }
        }
    }
}

void LogEnd(const CStandInLog& log, int runId, const RUNRESULT& result) {
    CString line;
    if (result.nExitCode == 0)
        line = u"Synchronization finished [OK].";
    else
        line.Format(u"[ERROR] Synchronization ended with exit code %d.", result.nExitCode);
    log.Line(line);
    line.Format(u"[INFO] Quit requests received: %d", result.nQuits);
    log.Line(line);
    line.Format(u"END ID: %d", runId);
    log.Line(line);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fputs(
            "usage: zbsync PROFILE [/hiddenautosync|/autosync|/dialogautosync /zbeng | /autocompare | "
            "/settings]\n",
            stderr);
        return kCommandLineExitCode;
    }
    CString profile = zbw::FromUtf8(argv[1]);
    CString switches;
    bool switchesKnown = true;
    for (int i = 2; i < argc; ++i) {
        CString argument = zbw::FromUtf8(argv[i]);
        switches += (switches.IsEmpty() ? u"" : u" ") + argument;
        if (!IsKnownSwitch(argument)) switchesKnown = false;
    }
    CStandInSettings settings;
    if (!settings.Load(profile)) {
        fprintf(stderr, "zbsync: cannot read the profile %s\n", argv[1]);
        return kProfileNotFoundExitCode;
    }
    CStandInLog log;
    if (!log.Open(settings.m_strLogFile)) {
        fprintf(stderr, "zbsync: cannot open the log file %s\n", zbw::ToUtf8(settings.m_strLogFile).c_str());
        return kLogFileExitCode;
    }
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before the run is announced

    int runId = log.NextRunId();
    CString line;
    line.Format(u"START ID: %d", runId);
    log.Line(line);
    log.Line(u"[INFO] Profile: " + profile);
    log.Line(u"[INFO] Switches: " + (switches.IsEmpty() ? CString(u"(none)") : switches));
    line.Format(u"[INFO] Process: %u", GetCurrentProcessId());
    log.Line(line);

    CStandInStatus status(profile, settings, runId);
    status.Start();
    RUNRESULT result{kCommandLineExitCode, 0};
    if (switchesKnown)
        result = RunFor(settings, log);
    else
        log.Line(u"[ERROR] Errors on command line.");
    status.Finish(result.nExitCode);
    LogEnd(log, runId, result);
    return result.nExitCode;
}
