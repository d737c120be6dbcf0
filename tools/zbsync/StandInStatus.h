// CStandInStatus: the stand-in's side of the two status blocks the engine makes for a run,
// "ZebrodyneProZBENG_<pid>" (progress) and "ZebrodynePro_<pid>" (percent), <pid> being this
// process. The engine makes them after it has started the process; the stand-in never makes
// them itself (a run started by hand has none) and waits up to 10 seconds, or until the run
// ends, for both to exist with all their values.
//
// What it writes, so tests can read it back:
//   at attach  "ID" = the run's number, as its log marks the run ("START ID: <n>"; or the Id
//              setting; none when it is empty), "TODO" = the
//              planned counts below, "%" = 0;
//   every 200 ms while the run lasts  "%" = the share of Seconds elapsed (0 to 100), or the
//              Percent setting when it is given, "st" =
//              "Synchronizing: n%", "LINE1" = "Synchronizing", "LINE2" = the profile path,
//              "LINE3" = "File k of 3", "FILE" = "file<k>.txt";
//   at the end "DONE" = the planned counts with the exit code as result, "COMS"/"COMT" = the
//              comparison (4 files of 1024 bytes and 1 subfolder each side, all matched; after
//              a non-zero exit code one source file is single instead of matched), "%" = 100
//              after exit code 0, "st" = "Finished" or "Ended with exit code n", and "LERR" =
//              "" or "Synchronization ended with exit code n.".
// Planned counts: 3 files to add on the target (3072 bytes), 1 to update (1024 bytes), 1
// subfolder to add. The counts are not steered by the profile.
//
// Threads: Start and Finish on the main thread; in between one reporting thread of its own owns
// the blocks. Finish (or the destructor) stops and joins it. Failures are silent: without blocks
// the run goes on unreported.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"
#include "tools/zbsync/StandInSettings.h"

class CSharedMemory;

class CStandInStatus {
   public:
    CStandInStatus(const CString& profilePath, const CStandInSettings& settings, int runId);
    ~CStandInStatus();
    CStandInStatus(const CStandInStatus&) = delete;
    CStandInStatus& operator=(const CStandInStatus&) = delete;

    // Starts waiting for the blocks and then reporting progress.
    void Start();
    // Stops the reporting and writes the end values when the blocks were found.
    void Finish(int exitCode);

   private:
    void Report();
    bool WaitForBlocks();
    bool Attach();
    void WriteProgress(int64_t startTick);
    void Stop();

    CString m_strProfile;
    CStandInSettings m_settings;
    int m_nRunId;
    DWORD m_dwProcessId;
    std::unique_ptr<CSharedMemory> m_pProgress;
    std::unique_ptr<CSharedMemory> m_pPercent;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bAttached{false};
    std::thread m_Thread;
};
