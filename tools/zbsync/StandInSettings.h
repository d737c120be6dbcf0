// CStandInSettings: how the stand-in synchronisation program behaves, read from its own section of
// the profile file it is given, so a test or the demo chooses the outcome of a run:
//
//   [StandIn]
//   ExitCode=0      exit code of a run that ends by itself (default 0)
//   Seconds=1       how long a run takes; decimals allowed, at most a month (default 1)
//   IgnoreQuit=0    1: quit requests are counted in the log but do not end the run (default 0)
//   LogFile=path    the log file (default: "Log File" of [Settings], else the profile's path with
//                   the extension ".log")
//   Percent=n       the share done that the status blocks report, held at n (0 to 100) for the
//                   whole run (default: the share of Seconds elapsed)
//   Id=text         the identification written into the status block (default: the run's
//                   number, which also marks the run in the log); an empty value writes none
//
// The profile may be UTF-16LE with a byte-order mark, UTF-16LE without one (seen by a zero second
// byte) or ANSI text. Lines end with LF or CR LF; ";" starts a comment line; section and key names
// compare without regard to case, values are trimmed. Keys the stand-in does not know are ignored,
// so the rest of a real profile does no harm. One thread uses an object at a time.
#pragma once

#include "platform/base/CString.h"

class CStandInSettings {
   public:
    // False when the profile file cannot be read; the defaults stay.
    bool Load(const CString& profilePath);

    int m_nExitCode = 0;
    double m_dSeconds = 1.0;
    bool m_bIgnoreQuit = false;
    CString m_strLogFile;
    int m_nPercent = -1;  // -1: follow the elapsed time
    bool m_bDefaultId = true;
    CString m_strId;  // when not the default; empty: none

   private:
    void TakeValue(const CString& section, const CString& key, const CString& value);

    CString m_strProfileLogFile;  // "Log File" of [Settings]
};
