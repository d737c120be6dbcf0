#include "platform/win32/Registry.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/base/WinError.h"
#include "platform/host/EmulationRoot.h"
#include "platform/host/HiveFile.h"
#include "platform/host/RegistryHive.h"

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

CHiveFile HiveFileOf(HIVE hive) {
    if (hive == HIVE::Machine)
        return CHiveFile(zbw::MachineDir() + "/registry.hive", MachineReadOnlyByEnvironment());
    return CHiveFile(zbw::UserDir() + "/registry.hive", false);
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

KEYPATH StoredNames(const CRegistryHive& hive, const KEYPATH& path) {
    KEYPATH stored;
    KEYPATH prefix;
    for (const std::u16string& name : path) {
        prefix.push_back(name);
        stored.push_back(hive.Find(prefix)->Name());
    }
    return stored;
}

std::u16string NameOf(LPCWSTR name) {
    return name ? std::u16string(name) : std::u16string();
}

// Loads the hive of an open key and finds the key; ERROR_KEY_DELETED when it
// has gone.
LONG ReadKey(const OPENKEY& open, CRegistryHive& hive, CRegistryHive::CKey** key) {
    LONG rc = HiveFileOf(open.hive).Read(hive);
    if (rc != ERROR_SUCCESS) return rc;
    *key = hive.Find(open.path);
    return *key ? ERROR_SUCCESS : static_cast<LONG>(ERROR_KEY_DELETED);
}

// Copies a name with its zero when the buffer (size in characters) holds it.
bool CopyName(const std::u16string& name, LPWSTR buffer, LPDWORD cch) {
    if (*cch <= name.size()) return false;
    std::memcpy(buffer, name.data(), name.size() * sizeof(char16_t));
    buffer[name.size()] = 0;
    *cch = static_cast<DWORD>(name.size());
    return true;
}

}  // namespace

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    OPENKEY base;
    if (!Resolve(hKey, &base)) return ERROR_INVALID_HANDLE;
    CHiveFile file = HiveFileOf(base.hive);
    CRegistryHive hive;
    LONG rc = file.Read(hive);
    if (rc != ERROR_SUCCESS) return rc;
    if (!hive.Find(base.path)) return ERROR_KEY_DELETED;
    KEYPATH path = Join(base.path, lpSubKey);
    if (!hive.Find(path)) return ERROR_FILE_NOT_FOUND;
    const bool writable = file.IsWritable();
    REGSAM access = MapAccess(samDesired, writable);
    if ((access & kWriteRights) && !writable) return ERROR_ACCESS_DENIED;
    *phkResult = NewKeyHandle(OPENKEY{base.hive, StoredNames(hive, path), access});
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                     const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (!phkResult || !lpSubKey) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    OPENKEY base;
    if (!Resolve(hKey, &base)) return ERROR_INVALID_HANDLE;
    CHiveFile file = HiveFileOf(base.hive);
    const KEYPATH path = Join(base.path, lpSubKey);
    bool created = false;
    KEYPATH stored;
    LONG rc = file.Update([&](CRegistryHive& hive, bool& changed) -> LONG {
        if (!hive.Find(base.path)) return ERROR_KEY_DELETED;
        if (!hive.Find(path)) {
            if (!(base.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
            hive.Create(path, &created);
            changed = true;
        }
        stored = StoredNames(hive, path);
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS) return rc;
    const bool writable = file.IsWritable();
    REGSAM access = MapAccess(samDesired, writable);
    if ((access & kWriteRights) && !writable) return ERROR_ACCESS_DENIED;
    *phkResult = NewKeyHandle(OPENKEY{base.hive, std::move(stored), access});
    if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
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
    CRegistryHive hive;
    CRegistryHive::CKey* key = nullptr;
    LONG rc = ReadKey(open, hive, &key);
    if (rc != ERROR_SUCCESS) return rc;
    const CRegistryHive::VALUE* value = key->FindValue(NameOf(lpValueName));
    if (!value) return ERROR_FILE_NOT_FOUND;
    if (lpType) *lpType = value->type;
    if (!lpcbData) return ERROR_SUCCESS;
    const DWORD size = static_cast<DWORD>(value->data.size());
    if (lpData && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData && size) std::memcpy(lpData, value->data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    OPENKEY open;
    if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
    if (!(open.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
    std::vector<BYTE> data(lpData, lpData + cbData);
    return HiveFileOf(open.hive).Update([&](CRegistryHive& hive, bool& changed) -> LONG {
        CRegistryHive::CKey* key = hive.Find(open.path);
        if (!key) return ERROR_KEY_DELETED;
        key->SetValue(NameOf(lpValueName), dwType, std::move(data));
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    OPENKEY open;
    if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
    if (!(open.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return HiveFileOf(open.hive).Update([&](CRegistryHive& hive, bool& changed) -> LONG {
        CRegistryHive::CKey* key = hive.Find(open.path);
        if (!key) return ERROR_KEY_DELETED;
        if (!key->RemoveValue(NameOf(lpValueName))) return ERROR_FILE_NOT_FOUND;
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    OPENKEY base;
    if (!Resolve(hKey, &base)) return ERROR_INVALID_HANDLE;
    const KEYPATH path = Join(base.path, lpSubKey);
    if (path.empty()) return ERROR_ACCESS_DENIED;
    return HiveFileOf(base.hive).Update([&](CRegistryHive& hive, bool& changed) -> LONG {
        if (!hive.Find(base.path)) return ERROR_KEY_DELETED;
        CRegistryHive::CKey* key = hive.Find(path);
        if (!key) return ERROR_FILE_NOT_FOUND;
        if (!key->Subkeys().empty()) return ERROR_ACCESS_DENIED;
        hive.Find(KEYPATH(path.begin(), path.end() - 1))->RemoveSubkey(path.back());
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    OPENKEY open;
    if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
    if (!(open.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    CRegistryHive hive;
    CRegistryHive::CKey* key = nullptr;
    LONG rc = ReadKey(open, hive, &key);
    if (rc != ERROR_SUCCESS) return rc;
    if (dwIndex >= key->Values().size()) return ERROR_NO_MORE_ITEMS;
    const CRegistryHive::VALUE& value = key->Values()[dwIndex];
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
    CRegistryHive hive;
    CRegistryHive::CKey* key = nullptr;
    LONG rc = ReadKey(open, hive, &key);
    if (rc != ERROR_SUCCESS) return rc;
    if (dwIndex >= key->Subkeys().size()) return ERROR_NO_MORE_ITEMS;
    if (!CopyName(key->Subkeys()[dwIndex]->Name(), lpName, lpcchName)) return ERROR_MORE_DATA;
    if (lpClass && lpcchClass && *lpcchClass > 0) {
        lpClass[0] = 0;
        *lpcchClass = 0;
    }
    if (lpftLastWriteTime) *lpftLastWriteTime = HiveFileOf(open.hive).LastWriteTime();
    return ERROR_SUCCESS;
}

LONG RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD, LPDWORD lpcSubKeys,
                      LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                      LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                      LPFILETIME lpftLastWriteTime) {
    OPENKEY open;
    if (!Resolve(hKey, &open)) return ERROR_INVALID_HANDLE;
    if (!(open.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    CRegistryHive hive;
    CRegistryHive::CKey* key = nullptr;
    LONG rc = ReadKey(open, hive, &key);
    if (rc != ERROR_SUCCESS) return rc;
    size_t maxKey = 0, maxName = 0, maxData = 0;
    for (const auto& sub : key->Subkeys()) maxKey = std::max(maxKey, sub->Name().size());
    for (const CRegistryHive::VALUE& v : key->Values()) {
        maxName = std::max(maxName, v.name.size());
        maxData = std::max(maxData, v.data.size());
    }
    if (lpClass && lpcchClass && *lpcchClass > 0) lpClass[0] = 0;
    if (lpcchClass) *lpcchClass = 0;
    if (lpcSubKeys) *lpcSubKeys = static_cast<DWORD>(key->Subkeys().size());
    if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = static_cast<DWORD>(maxKey);
    if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
    if (lpcValues) *lpcValues = static_cast<DWORD>(key->Values().size());
    if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = static_cast<DWORD>(maxName);
    if (lpcbMaxValueLen) *lpcbMaxValueLen = static_cast<DWORD>(maxData);
    if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime) *lpftLastWriteTime = HiveFileOf(open.hive).LastWriteTime();
    return ERROR_SUCCESS;
}
