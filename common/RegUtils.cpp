#include "common/RegUtils.h"

#include <string>

#include "platform/base/WinError.h"
#include "platform/win32/Registry.h"

namespace {

const DWORD kValueBytes = 2047;

bool ReadRegString(HKEY root, LPCWSTR keyPath, LPCWSTR valueName, CString& text) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    BYTE data[kValueBytes];
    DWORD size = kValueBytes;
    LONG rc = RegQueryValueExW(key, valueName, nullptr, nullptr, data, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return false;
    std::u16string value(size / sizeof(WCHAR), u'\0');
    for (size_t i = 0; i < value.size(); ++i)
        value[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    text = CString(value.c_str());  // ends at the first zero, or at the end of data without one
    return true;
}

bool WriteRegString(HKEY root, LPCWSTR keyPath, LPCWSTR valueName, LPCWSTR text) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    std::u16string value(text ? text : u"");
    DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR));
    LONG rc = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

}  // namespace

bool ReadRegStringLM(LPCWSTR keyPath, LPCWSTR valueName, CString& text) {
    return ReadRegString(HKEY_LOCAL_MACHINE, keyPath, valueName, text);
}

bool ReadRegStringCU(LPCWSTR keyPath, LPCWSTR valueName, CString& text) {
    return ReadRegString(HKEY_CURRENT_USER, keyPath, valueName, text);
}

bool WriteRegStringLM(LPCWSTR keyPath, LPCWSTR valueName, LPCWSTR text) {
    return WriteRegString(HKEY_LOCAL_MACHINE, keyPath, valueName, text);
}

bool WriteRegStringCU(LPCWSTR keyPath, LPCWSTR valueName, LPCWSTR text) {
    return WriteRegString(HKEY_CURRENT_USER, keyPath, valueName, text);
}
