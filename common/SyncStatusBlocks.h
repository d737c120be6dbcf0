// The contract of the two status blocks that the synchronisation program and the engine share
// while a profile runs (CSharedMemory blocks): their names, sizes and value names, and the sizes
// of the values. The engine's readers (CZBEngStatus, CZBStatus) and the stand-in synchronisation
// program both take them from here; the count records are in SyncCounts.h.
//
// Progress block, SYNCSTATUS_PROGRESS_FORMAT with the program's process id, 9104 bytes: the texts
// "ID", "CAPT", "LERR", "FILE" (1024 bytes each), "LINE1" to "LINE3" (512 bytes each), and the
// records "TODO", "DONE" (SYNCCOUNTS) and "COMS", "COMT" (COMPARECOUNTS), added by the engine in
// this order. Percent block, SYNCSTATUS_PERCENT_FORMAT with the process id, 1024 bytes: "%" (a
// signed 32-bit percentage) and "st" (the status text, 200 bytes).
// Texts are UTF-16 and end at their first zero or at the end of the value.
// Plain constants: any thread may use them.
#pragma once

#include "common/SyncCounts.h"
#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

#define SYNCSTATUS_PROGRESS_FORMAT u"ZebrodyneProZBENG_%u"
#define SYNCSTATUS_PERCENT_FORMAT u"ZebrodynePro_%u"

constexpr DWORD kProgressBlockSize = 9104;
constexpr DWORD kPercentBlockSize = 1024;

// Values of the progress block.
#define SYNCSTATUS_ID u"ID"
#define SYNCSTATUS_CAPTION u"CAPT"
#define SYNCSTATUS_LAST_ERROR u"LERR"
#define SYNCSTATUS_FILE u"FILE"
#define SYNCSTATUS_LINE1 u"LINE1"
#define SYNCSTATUS_LINE2 u"LINE2"
#define SYNCSTATUS_LINE3 u"LINE3"
#define SYNCSTATUS_TODO u"TODO"
#define SYNCSTATUS_DONE u"DONE"
#define SYNCSTATUS_COMPARE_SOURCE u"COMS"
#define SYNCSTATUS_COMPARE_TARGET u"COMT"

constexpr DWORD kStatusTextBytes = 1024;  // ID, CAPT, LERR, FILE
constexpr DWORD kStatusLineBytes = 512;   // LINE1 to LINE3

// Values of the percent block.
#define SYNCSTATUS_PERCENT u"%"
#define SYNCSTATUS_STATUS_TEXT u"st"

constexpr DWORD kPercentTextBytes = 200;

// The blocks' names for the synchronisation program's process id.
inline CString ProgressBlockName(DWORD processId) {
    CString name;
    name.Format(SYNCSTATUS_PROGRESS_FORMAT, processId);
    return name;
}

inline CString PercentBlockName(DWORD processId) {
    CString name;
    name.Format(SYNCSTATUS_PERCENT_FORMAT, processId);
    return name;
}
