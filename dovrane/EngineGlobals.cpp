#include "dovrane/EngineGlobals.h"

#include "common/CrashHandler.h"
#include "dovrane/IPServer.h"

// Installed right after theApp, so a crash anywhere later is reported.
CCrashHandler g_CrashHandler __attribute__((init_priority(106)));

std::array<CString, MAX_TCP_CLIENTS> g_ClientChallenge __attribute__((init_priority(107)));
std::array<CString, MAX_TCP_CLIENTS> g_ClientName __attribute__((init_priority(107)));

CSchedulerTaskLib g_SchedulerTaskLib __attribute__((init_priority(108)));
