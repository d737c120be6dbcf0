#include "dovrane/EngineGlobals.h"

#include "common/CrashHandler.h"
#include "dovrane/IPServer.h"

namespace {

constexpr std::array<int, 256> MakeBase64DecodeTable() {
    std::array<int, 256> table{};
    for (int& value : table) value = -1;
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = i;
    return table;
}

}  // namespace

CMutex g_RunItemsMutex __attribute__((init_priority(104)));

// Installed right after theApp, so a crash anywhere later is reported.
CCrashHandler g_CrashHandler __attribute__((init_priority(106)));

std::array<CString, MAX_TCP_CLIENTS> g_ClientChallenge __attribute__((init_priority(107)));
std::array<CString, MAX_TCP_CLIENTS> g_ClientName __attribute__((init_priority(107)));

CSchedulerTaskLib g_SchedulerTaskLib __attribute__((init_priority(108)));

constexpr std::array<int, 256> g_Base64DecodeTable = MakeBase64DecodeTable();
