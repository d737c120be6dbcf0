#include "platform/classlib/WinApp.h"

#include <cstdio>

#include "platform/base/TextConvert.h"
#include "platform/base/WideChar.h"
#include "platform/base/WinError.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WindowTable.h"

namespace {

CWinApp* g_app = nullptr;

const int kShowDefault = 10;  // SW_SHOWDEFAULT

// One argument as Windows command-line splitting reads it back.
std::u16string Quoted(const std::u16string& arg) {
    if (!arg.empty() && arg.find_first_of(u" \t\"") == std::u16string::npos) return arg;
    std::u16string out = u"\"";
    size_t slashes = 0;
    for (char16_t ch : arg) {
        if (ch == u'\\') {
            ++slashes;
            continue;
        }
        out.append(ch == u'"' ? slashes * 2 + 1 : slashes, u'\\');
        slashes = 0;
        out += ch;
    }
    out.append(slashes * 2, u'\\');
    return out + u"\"";
}

std::u16string JoinArguments(int argc, char** argv) {
    std::u16string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += u' ';
        line += Quoted(zbw::FromUtf8(argv[i]).GetStdString());
    }
    return line;
}

// The program's file name without folder and without ".exe".
std::u16string ExeName(const char* argv0) {
    std::u16string name = zbw::FromUtf8(argv0 ? argv0 : "").GetStdString();
    size_t slash = name.find_last_of(u"/\\");
    if (slash != std::u16string::npos) name.erase(0, slash + 1);
    if (name.size() > 4 &&
        zbw::CompareNoCase(std::u16string_view(name).substr(name.size() - 4), u".exe") == 0) {
        name.resize(name.size() - 4);
    }
    return name;
}

HWND MainWindowOfApp() {
    CWinApp* app = AfxGetApp();
    return app && app->m_pMainWnd ? app->m_pMainWnd->m_hWnd : nullptr;
}

HWND FirstTopLevelWindow() {
    return CWindowTable::Instance().FindTopLevel(nullptr, nullptr);
}

}  // namespace

namespace zbw {

int RunApplication(int argc, char** argv) {
    CWinApp* app = AfxGetApp();
    if (!app) {
        fputs("The program has no application object.\n", stderr);
        return -1;
    }
    app->TakeArguments(argc, argv);
    InstallSessionSignals(&MainWindowOfApp);
    if (!app->InitInstance()) {
        if (app->m_pMainWnd) app->m_pMainWnd->DestroyWindow();
        return app->ExitInstance();
    }
    return app->Run();
}

int RunWinMain(int argc, char** argv, int (*winMain)(HINSTANCE, HINSTANCE, LPWSTR, int)) {
    std::u16string commandLine = JoinArguments(argc, argv);
    InstallSessionSignals(&FirstTopLevelWindow);
    return winMain(nullptr, nullptr, commandLine.data(), kShowDefault);
}

}  // namespace zbw

CWinApp::CWinApp(LPCWSTR appName) {
    if (appName) {
        m_appName = appName;
        m_pszAppName = m_appName.c_str();
    }
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::Run() {
    for (;;) {
        BOOL got = GetMessageW(&m_msgCur, nullptr, 0, 0);
        if (got == 0) return ExitInstance();
        if (got == -1) {  // no queue to read: end rather than spin
            m_msgCur.wParam = static_cast<WPARAM>(static_cast<UINT>(-1));
            return ExitInstance();
        }
        TranslateMessage(&m_msgCur);
        DispatchMessageW(&m_msgCur);
    }
}

int CWinApp::ExitInstance() {
    return static_cast<int>(static_cast<UINT>(m_msgCur.wParam));
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info) {
    for (size_t i = 0; i < m_arguments.size(); ++i) {
        LPCWSTR param = m_arguments[i];
        BOOL flag = param[0] == u'/' || param[0] == u'-';
        info.ParseParam(flag ? param + 1 : param, flag, i + 1 == m_arguments.size());
    }
}

void CWinApp::TakeArguments(int argc, char** argv) {
    m_exeName = ExeName(argc > 0 ? argv[0] : nullptr);
    m_pszExeName = m_exeName.c_str();
    if (!m_pszAppName) {
        m_appName = m_exeName;
        m_pszAppName = m_appName.c_str();
    }
    m_arguments.clear();
    for (int i = 1; i < argc; ++i) m_arguments.push_back(zbw::FromUtf8(argv[i]));
    m_commandLine = JoinArguments(argc, argv);
    m_lpCmdLine = m_commandLine.data();
}

void CWinApp::SetRegistryKey(LPCWSTR registryKey) {
    if (!registryKey) return;
    m_registryKey = registryKey;
    m_pszRegistryKey = m_registryKey.c_str();
    m_pszProfileName = m_pszAppName;
}

bool CWinApp::SectionPath(LPCWSTR section, std::u16string* path) const {
    if (!m_pszRegistryKey || !m_pszProfileName || !section) return false;
    *path = u"Software\\" + m_registryKey + u"\\" + m_pszProfileName + u"\\" + section;
    return true;
}

CString CWinApp::GetProfileString(LPCWSTR section, LPCWSTR entry, LPCWSTR defaultValue) {
    CString value(defaultValue ? defaultValue : u"");
    std::u16string path;
    HKEY key = nullptr;
    if (!entry || !SectionPath(section, &path) ||
        RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return value;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, entry, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
        std::u16string text(size / sizeof(char16_t) + 1, u'\0');
        if (RegQueryValueExW(key, entry, nullptr, &type, reinterpret_cast<LPBYTE>(text.data()), &size) ==
            ERROR_SUCCESS) {
            text.resize(size / sizeof(char16_t));
            value = text.substr(0, text.find(u'\0'));
        }
    }
    RegCloseKey(key);
    return value;
}

UINT CWinApp::GetProfileInt(LPCWSTR section, LPCWSTR entry, int defaultValue) {
    std::u16string path;
    HKEY key = nullptr;
    if (!entry || !SectionPath(section, &path) ||
        RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return static_cast<UINT>(defaultValue);
    }
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    LONG result = RegQueryValueExW(key, entry, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
    RegCloseKey(key);
    bool isNumber = result == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value;
    return isNumber ? value : static_cast<UINT>(defaultValue);
}

BOOL CWinApp::WriteProfileString(LPCWSTR section, LPCWSTR entry, LPCWSTR value) {
    std::u16string path;
    if (!SectionPath(section, &path)) return FALSE;
    if (!entry) return RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str()) == ERROR_SUCCESS;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return FALSE;
    }
    LONG result = value ? RegSetValueExW(key, entry, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                         static_cast<DWORD>((zbw::StrLen(value) + 1) * sizeof(char16_t)))
                        : RegDeleteValueW(key, entry);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

BOOL CWinApp::WriteProfileInt(LPCWSTR section, LPCWSTR entry, int value) {
    std::u16string path;
    HKEY key = nullptr;
    if (!entry || !SectionPath(section, &path) ||
        RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return FALSE;
    }
    DWORD number = static_cast<DWORD>(value);
    LONG result =
        RegSetValueExW(key, entry, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

CWinApp* AfxGetApp() {
    return g_app;
}

CWnd* AfxGetMainWnd() {
    return g_app ? g_app->m_pMainWnd : nullptr;
}

BOOL AfxWinInit(HINSTANCE, HINSTANCE, LPWSTR, int) {
    return TRUE;
}
