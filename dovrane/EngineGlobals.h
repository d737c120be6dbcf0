// The engine's shared global objects that are not owned by one class. They are built before
// main in this order, and destroyed in the reverse order, through init_priority:
//   101 g_DebugPrintf (common/DebugPrintf.h)
//   102 g_EventLog (common/EventLog.h)
//   103 g_EngineDB (dovrane/model/EngineDB.h)
//   105 theApp (dovrane/dovrane.cpp)
//   106 g_CrashHandler (here; common/CrashHandler.h)
//   108 g_SchedulerTaskLib (here; common/SchedulerTaskLib.h)
// then the globals without a priority, such as g_DateNone, g_DateNever and g_DateNeverAlt
// (dovrane/threads/ScheduleInfo.h). g_Base64DecodeTable (dovrane/web/Base64DecodeTable.h) is a
// constant made at compile time, so it exists before any of them.
#pragma once

#include "common/SchedulerTaskLib.h"

// The task-scheduler library of the autostart, loaded before main for the Windows version the
// process starts on; the Vista flag also picks the shutdown-block branches. Main thread only.
extern CSchedulerTaskLib g_SchedulerTaskLib;
