// The registry: database-backed hives with the Windows key and value functions.
//
// HKEY_LOCAL_MACHINE lives in <machine part>/registry.db and HKEY_CURRENT_USER in
// <user part>/registry.db of the emulation root (EmulationRoot.h); the store is described in
// HiveDatabase.h (a hive file of the older text form is brought over once). The root is looked
// up at every call, so a test that moves ZBW_ROOT gets fresh hives.
//
// Kept from Windows: the signatures (wide text is char16_t), LONG results with Windows error
// codes (the last error is not touched), names that compare without case and keep their case,
// value names that may hold "\" (key paths split at "\" only; empty path parts are skipped),
// typed values stored as the raw bytes given (a REG_SZ with or without its terminating zero),
// ERROR_MORE_DATA with the needed size and the caller's buffer left unchanged, the access
// rights of a key handle (a write through a handle opened for reading is ERROR_ACCESS_DENIED),
// RegDeleteKeyW refusing a key that has subkeys (ERROR_ACCESS_DENIED), handles to deleted keys
// answering ERROR_KEY_DELETED, and the limits: a key name of more than 255 characters is
// ERROR_INVALID_PARAMETER and a key more than 512 levels deep ERROR_FILENAME_EXCED_RANGE on
// create.
//
// Several processes: every change is one database transaction, seen at once by every process of
// the root. An open key is its path, so a key deleted and made again by someone else is the
// same key to an old handle.
//
// Machine rights: the machine hive is read-only when ZBW_HKLM_READONLY is set (to anything but
// "" or "0") or its database (or, before there is one, its folder) is not writable. Then opening
// or creating an HKLM key with any write right fails with ERROR_ACCESS_DENIED, as for a Windows
// user without machine rights, and so does every change.
//
// Left out: HKEY_CLASSES_ROOT, HKEY_USERS and the other roots (ERROR_INVALID_HANDLE), classes,
// security descriptors, volatile keys (stored like others), links, change notification and the
// 32/64-bit views (the KEY_WOW64_* bits are ignored). A hive that cannot be read (a corrupt
// database, a text hive that does not parse or breaks the limits) is never overwritten: calls on
// it fail with ERROR_BADDB.
//
// Any thread may call these functions; HKEY handles belong to the process.
#pragma once

#include "platform/base/RegTypes.h"
#include "platform/base/WinTypes.h"

typedef ACCESS_MASK REGSAM;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(0x80000000u))))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(0x80000001u))))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(0x80000002u))))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(0x80000003u))))

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_WOW64_64KEY 0x0100u
#define KEY_WOW64_32KEY 0x0200u
#define KEY_READ \
    ((STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY) & ~SYNCHRONIZE)
#define KEY_WRITE ((STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY) & ~SYNCHRONIZE)
#define KEY_EXECUTE (KEY_READ & ~SYNCHRONIZE)
#define KEY_ALL_ACCESS                                                                                      \
    ((STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | \
      KEY_NOTIFY | KEY_CREATE_LINK) &                                                                       \
     ~SYNCHRONIZE)

#define REG_OPTION_NON_VOLATILE 0x0000u
#define REG_OPTION_VOLATILE 0x0001u

#define REG_CREATED_NEW_KEY 0x0001u
#define REG_OPENED_EXISTING_KEY 0x0002u

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
// Makes the key and every missing key above it.
LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                     LPDWORD lpdwDisposition);
LONG RegCloseKey(HKEY hKey);

// A null or empty name is the key's default value. Null data asks for the type
// and size only.
LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData);
LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData);
LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
// Deletes a key without subkeys.
LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);

// Values and subkeys in their stored order (the order they were made). Name
// sizes are in characters: the buffer's size on entry, the name's length
// without its zero on return.
LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
// Keys have no class (an empty one is returned); the time is the hive's last
// write.
LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPWSTR lpClass, LPDWORD lpcchClass, LPFILETIME lpftLastWriteTime);
// Counts and longest lengths (characters without the zero; data in bytes);
// class and security descriptor sizes are 0.
LONG RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                      LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                      LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                      LPFILETIME lpftLastWriteTime);
