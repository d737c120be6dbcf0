#include "dovrane/EngineGlobals.h"

#include "common/CrashHandler.h"

// Installed right after theApp, so a crash anywhere later is reported.
CCrashHandler g_CrashHandler __attribute__((init_priority(106)));

CSchedulerTaskLib g_SchedulerTaskLib __attribute__((init_priority(108)));
