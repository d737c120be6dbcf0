#include "platform/win32/Registry.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/base/WinError.h"
#include "platform/host/EmulationRoot.h"
#include "platform/host/HiveDatabase.h"

namespace {

enum class HIVE { Machine, User };

struct OPENKEY {
    HIVE hive = HIVE::Machine;
    std::vector<std::u16string> path;  // names as stored
    REGSAM access = 0;
};

typedef std::vector<std::u16string> KEYPATH;

const REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

std::mutex g_keysLock;
// Built on first use and never freed: globals of other files open keys before main and at exit.
std::unordered_map<uintptr_t, OPENKEY>& OpenKeys() {
    static auto* keys = new std::unordered_map<uintptr_t, OPENKEY>;
    return *keys;
}
uintptr_t g_lastKey = 0x10000;

bool MachineReadOnlyByEnvironment() {
    const char* v = std::getenv("ZBW_HKLM_READONLY");
    return v && *v && std::strcmp(v, "0") != 0;
}

// The open database of each hive, kept while the root stays the same; never freed, as above.
std::shared_ptr<CHiveDatabase> HiveOf(HIVE hive) {
    struct SLOT {
        std::mutex lock;
        std::shared_ptr<CHiveDatabase> db;
    };
    static auto* slots = new SLOT[2];
    const bool machine = hive == HIVE::Machine;
    const std::string folder = machine ? zbw::MachinePath() : zbw::UserPath();
    SLOT& slot = slots[machine ? 0 : 1];
    std::lock_guard<std::mutex> guard(slot.lock);
    if (!slot.db || slot.db->Folder() != folder) slot.db = std::make_shared<CHiveDatabase>(folder);
    slot.db->SetReadOnly(machine && MachineReadOnlyByEnvironment());
    return slot.db;
}

bool Resolve(HKEY hKey, OPENKEY* out) {
    if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER) {
        out->hive = hKey == HKEY_LOCAL_MACHINE ? HIVE::Machine : HIVE::User;
        out->path.clear();
        out->access = KEY_ALL_ACCESS;
        return true;
    }
    std::lock_guard<std::mutex> guard(g_keysLock);
    auto it = OpenKeys().find(reinterpret_cast<uintptr_t>(hKey));
    if (it == OpenKeys().end()) return false;
    *out = it->second;
    return true;
}

HKEY NewKeyHandle(OPENKEY key) {
    std::lock_guard<std::mutex> guard(g_keysLock);
    g_lastKey += 4;
    OpenKeys()[g_lastKey] = std::move(key);
    return reinterpret_cast<HKEY>(g_lastKey);
}

REGSAM MapAccess(REGSAM sam, bool writable) {
    REGSAM access = sam & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED |
                            KEY_WOW64_32KEY | KEY_WOW64_64KEY);
    if (sam & GENERIC_READ) access |= KEY_READ;
    if (sam & GENERIC_WRITE) access |= KEY_WRITE;
    if (sam & GENERIC_EXECUTE) access |= KEY_EXECUTE;
    if (sam & GENERIC_ALL) access |= KEY_ALL_ACCESS;
    if (sam & MAXIMUM_ALLOWED) access |= writable ? KEY_ALL_ACCESS : KEY_READ;
    return access;
}

KEYPATH Join(const KEYPATH& base, LPCWSTR subKey) {
    KEYPATH path = base;
    if (!subKey) return path;
    std::u16string part;
    for (const char16_t* p = subKey;; ++p) {
        if (*p == u'\\' || *p == 0) {
            if (!part.empty()) path.push_back(part);
            part.clear();
            if (*p == 0) break;
        } else {
            part.push_back(*p);
        }
    }
    return path;
}

std::u16string NameOf(LPCWSTR name) {
    return name ? std::u16string(name) : std::u16string();
}

// Copies a name with its zero when the buffer (size in characters) holds it.
bool CopyName(const std::u16string& name, LPWSTR buffer, LPDWORD cch) {
    if (*cch <= name.size()) return false;
    std::memcpy(buffer, name.data(), name.size() * sizeof(char16_t));
    buffer[name.size()] = 0;
    *cch = static_cast<DWORD>(name.size());
    return true;
}

// A handle with the rights asked for, when the hive grants them.
LONG NewHandle(CHiveDatabase& db, HIVE hive, KEYPATH stored, REGSAM samDesired, PHKEY phkResult) {
    const bool writable = db.IsWritable();
    const REGSAM access = MapAccess(samDesired, writable);
    if ((access & kWriteRights) && !writable) return ERROR_ACCESS_DENIED;
    *phkResult = NewKeyHandle(OPENKEY{hive, std::move(stored), access});
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    OPENKEY base;
    if (!Resolve(hKey, &base)) return ERROR_INVALID_HANDLE;
    std::shared_ptr<CHiveDatabase> db = HiveOf(base.hive);
    KEYPATH stored;
    LONG rc = db->FindKey(Join(base.path, lpSubKey), base.path.size(), &stored);
    if (rc != ERROR_SUCCESS) return rc;
    return NewHandle(*db, base.hive, std::move(stored), samDesired, phkResult);
}

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                     const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (!phkResult || !lpSubKey) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    OPENKEY base;
    if (!Resolve(hKey, &base)) return ERROR_INVALID_HANDLE;
    std::shared_ptr<CHiveDatabase> db = HiveOf(base.hive);
    KEYPATH stored;
    bool created = false;
    LONG rc = db->CreateKey(Join(base.path, lpSubKey), base.path.size(),
                            (base.access & KEY_CREATE_SUB_KEY) != 0, &stored, &created);
    if (rc != ERROR_SUCCESS) return rc;
    rc = NewHandle(*db, base.hive, std::move(stored), samDesired, phkResult);
    if (rc == ERROR_SUCCESS && lpdwDisposition)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return rc;
}

LONG RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    std::lock_guard<std::mutex> guard(g_keysLock);
    return OpenKeys().erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
    OPENKEY open;
    if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
    if (!(open.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    CHiveDatabase::VALUE value;
    LONG rc = HiveOf(open.hive)->GetValue(open.path, NameOf(lpValueName), &value);
    if (rc != ERROR_SUCCESS) return rc;
    if (lpType) *lpType = value.type;
    if (!lpcbData) return ERROR_SUCCESS;
    const DWORD size = static_cast<DWORD>(value.data.size());
    if (lpData && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData && size) std::memcpy(lpData, value.data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    OPENKEY open;
    if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
    if (!(open.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
    const CHiveDatabase::VALUE value{NameOf(lpValueName), dwType, std::vector<BYTE>(lpData, lpData + cbData)};
    return HiveOf(open.hive)->SetValue(open.path, value);
}

LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    OPENKEY open;
    if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
    if (!(open.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return HiveOf(open.hive)->DeleteValue(open.path, NameOf(lpValueName));
}

LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    OPENKEY base;
    if (!Resolve(hKey, &base)) return ERROR_INVALID_HANDLE;
    return HiveOf(base.hive)->DeleteKey(Join(base.path, lpSubKey), base.path.size());
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    OPENKEY open;
    if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
    if (!(open.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    CHiveDatabase::VALUE value;
    LONG rc = HiveOf(open.hive)->EnumValue(open.path, dwIndex, &value);
    if (rc != ERROR_SUCCESS) return rc;
    const DWORD size = static_cast<DWORD>(value.data.size());
    if (*lpcchValueName <= value.name.size()) return ERROR_MORE_DATA;
    if (lpData && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    CopyName(value.name, lpValueName, lpcchValueName);
    if (lpType) *lpType = value.type;
    if (lpData && size) std::memcpy(lpData, value.data.data(), size);
    if (lpcbData) *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR lpClass,
                   LPDWORD lpcchClass, LPFILETIME lpftLastWriteTime) {
    OPENKEY open;
    if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
    if (!(open.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<CHiveDatabase> db = HiveOf(open.hive);
    std::u16string name;
    LONG rc = db->EnumKey(open.path, dwIndex, &name);
    if (rc != ERROR_SUCCESS) return rc;
    if (!CopyName(name, lpName, lpcchName)) return ERROR_MORE_DATA;
    if (lpClass && lpcchClass && *lpcchClass > 0) {
        lpClass[0] = 0;
        *lpcchClass = 0;
    }
    if (lpftLastWriteTime) *lpftLastWriteTime = db->LastWriteTime();
    return ERROR_SUCCESS;
}

LONG RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD, LPDWORD lpcSubKeys,
                      LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                      LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                      LPFILETIME lpftLastWriteTime) {
    OPENKEY open;
    if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
    if (!(open.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    std::shared_ptr<CHiveDatabase> db = HiveOf(open.hive);
    CHiveDatabase::KEYINFO info;
    LONG rc = db->QueryInfo(open.path, &info);
    if (rc != ERROR_SUCCESS) return rc;
    if (lpClass && lpcchClass && *lpcchClass > 0) lpClass[0] = 0;
    if (lpcchClass) *lpcchClass = 0;
    if (lpcSubKeys) *lpcSubKeys = info.subkeys;
    if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = info.maxSubkeyName;
    if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
    if (lpcValues) *lpcValues = info.values;
    if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = info.maxValueName;
    if (lpcbMaxValueLen) *lpcbMaxValueLen = info.maxValueData;
    if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime) *lpftLastWriteTime = db->LastWriteTime();
    return ERROR_SUCCESS;
}
