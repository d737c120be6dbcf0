#include "dovrane/AutoStart.h"

#include "common/DebugPrintf.h"
#include "dovrane/EngineGlobals.h"
#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Registry.h"

namespace {

const char16_t kRunKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char16_t kValueName[] = u"ZBEngine";
const DWORD kValueChars = 1024;

CString ProgramPath() {
    WCHAR path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// The Run value as REG_SZ text; false when it is missing or no text.
bool ReadRunValue(CString& text) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    WCHAR data[kValueChars + 1] = {};
    DWORD type = 0;
    DWORD size = kValueChars * sizeof(WCHAR);
    LONG result = RegQueryValueExW(key, kValueName, nullptr, &type, reinterpret_cast<LPBYTE>(data), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) return false;
    text = type == REG_SZ && result == ERROR_SUCCESS ? CString(data) : CString();
    return true;
}

bool RemoveRunValue() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
    bool deleted = RegDeleteValueW(key, kValueName) == ERROR_SUCCESS;
    RegCloseKey(key);
    return deleted;
}

bool WriteRunValue(const CString& text) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    DWORD bytes = static_cast<DWORD>((text.GetLength() + 1) * sizeof(WCHAR));
    bool set = RegSetValueExW(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(LPCWSTR(text)),
                              bytes) == ERROR_SUCCESS;
    RegCloseKey(key);
    return set;
}

bool SetRunValue(bool remove) {
    CString quoted = u"\"" + ProgramPath() + u"\"";
    CString current;
    bool exists = ReadRunValue(current);
    if (remove) {
        if (!exists) return true;
        if (RemoveRunValue()) return true;
        g_DebugPrintf.Print(u"Failed removing ZBEngine from local registry startup list.");
        return false;
    }
    if (exists && current.CompareNoCase(quoted) == 0) return true;
    if (WriteRunValue(quoted)) return true;
    g_DebugPrintf.Print(u"Failed adding ZBEngine to local registry startup list.");
    return false;
}

// One deletion step of the removal: its success text or the library's message; true on success.
bool LogDeletion(int result, LPCWSTR message, LPCWSTR successText) {
    g_DebugPrintf.Print(u"%s", result == 0 ? successText : message);
    return result == 0;
}

// The removal stands or falls with the task: a folder left behind (it may hold other tasks)
// starts nothing at logon.
bool RemoveExistingTask() {
    char16_t message[CSchedulerTaskLib::kMessageLength] = {};
    bool deleted =
        LogDeletion(g_SchedulerTaskLib.DeleteEngineSchedulerTask(message), message, u"Task deleted.");
    char16_t folderMessage[CSchedulerTaskLib::kMessageLength] = {};
    LogDeletion(
        g_SchedulerTaskLib.DeleteSchedulerTaskFolder(folderMessage, TRUE, CSchedulerTaskLib::kTaskFolder),
        folderMessage, u"Task folder deleted.");
    char16_t companyMessage[CSchedulerTaskLib::kMessageLength] = {};
    LogDeletion(
        g_SchedulerTaskLib.DeleteSchedulerTaskFolder(companyMessage, TRUE, CSchedulerTaskLib::kCompanyFolder),
        companyMessage, u"Task folder deleted.");
    return deleted;
}

bool AddMissingTask(const CString& programPath) {
    g_DebugPrintf.Print(u"ZBEngine Scheduler Task does not exist.");
    char16_t message[CSchedulerTaskLib::kMessageLength] = {};
    HRESULT hr = S_OK;
    if (g_SchedulerTaskLib.CreateEngineSchedulerTask(message, &hr, programPath) == 0) {
        g_DebugPrintf.Print(u"ZBEngine Scheduler Task added.");
        return true;
    }
    g_DebugPrintf.Print(u"%s", message);
    return false;
}

}  // namespace

bool SetSchedulerTask(bool remove) {
    CString programPath = ProgramPath();
    CString level;
    if (g_SchedulerTaskLib.GetProcessIntegrityLevelText(level) == -1) {
        g_DebugPrintf.Print(u"Warning: jorvell.dll not found");
        return false;
    }
    g_DebugPrintf.Print(u"%s", level);
    char16_t message[CSchedulerTaskLib::kMessageLength] = {};
    int result = g_SchedulerTaskLib.EngineSchedulerTaskExists(message);
    if (result == JORVELL_NO_TASK) return remove || AddMissingTask(programPath);
    if (result == JORVELL_OK) {
        g_DebugPrintf.Print(u"ZBEngine Scheduler Task exists.");
        return remove ? RemoveExistingTask() : true;
    }
    g_DebugPrintf.Print(u"%s", message);
    return false;
}

bool SetAutoStart(bool remove) {
    if (g_SchedulerTaskLib.IsVistaOrLater()) return SetSchedulerTask(remove);
    return SetRunValue(remove);
}
