#include "dovrane/model/RegEntry.h"

#include <atomic>

#include "platform/classlib/WinApp.h"

namespace {

std::atomic<bool> g_writeBack{true};

}  // namespace

void CRegEntry::SetWriteBack(bool on) {
    g_writeBack = on;
}

bool CRegEntry::IsWriteBackOn() {
    return g_writeBack;
}

CString CRegEntry::GetAppProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue) {
    CWinApp* app = AfxGetApp();
    return app ? app->GetProfileString(section, key, defaultValue)
               : CString(defaultValue ? defaultValue : u"");
}

int CRegEntry::GetAppProfileInt(LPCWSTR section, LPCWSTR key, int defaultValue) {
    CWinApp* app = AfxGetApp();
    return app ? static_cast<int>(app->GetProfileInt(section, key, defaultValue)) : defaultValue;
}

void CRegEntry::WriteAppProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR value) {
    if (CWinApp* app = AfxGetApp()) app->WriteProfileString(section, key, value);
}

void CRegEntry::WriteAppProfileInt(LPCWSTR section, LPCWSTR key, int value) {
    if (CWinApp* app = AfxGetApp()) app->WriteProfileInt(section, key, value);
}
