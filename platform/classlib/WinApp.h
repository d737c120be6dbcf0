// CWinApp: the class library's application object, and the program entries of the layer.
//
// A program has one global object of a CWinApp subclass (AfxGetApp finds it) and hands its
// main over to the layer:
//
//     CMyApp theApp;
//     int main(int argc, char** argv) { return zbw::RunApplication(argc, argv); }
//
// RunApplication takes the names and the command line from argv, installs the session signals
// for the main window (WinUser.h: SIGTERM gives WM_QUERYENDSESSION then WM_ENDSESSION, SIGINT
// and SIGHUP give WM_CLOSE), calls InitInstance and, when that returns TRUE, Run: the message
// loop of the main thread, which ends at WM_QUIT and returns ExitInstance. ExitInstance gives
// the WM_QUIT code, so a quit posted in InitInstance, before the loop runs, is the exit code.
// When InitInstance returns FALSE the main window is destroyed and ExitInstance's code is the
// result. Codes are 32-bit; the host keeps their low 8 bits as the exit status.
// Programs written with wWinMain call zbw::RunWinMain instead; their first top-level window gets
// the session signals.
//
// Profile functions (after SetRegistryKey) read and write
// HKEY_CURRENT_USER\Software\<registry key>\<m_pszProfileName>\<section>, the profile name
// being the application name: the name given to the constructor, else the program's file name
// without extension. Strings are REG_SZ (written with their terminating zero), numbers
// REG_DWORD; a missing value or one of another type gives the default. Without SetRegistryKey
// the class library would use an .INI file: here reads give the default and writes fail.
//
// The application object and its loop belong to the main thread; the profile functions may be
// called from any thread. Left out: idle processing, document templates, help, .INI profiles.
#pragma once

#include <string>
#include <vector>

#include "platform/base/CString.h"
#include "platform/classlib/CommandLineInfo.h"
#include "platform/classlib/Wnd.h"

#define ID_HELP 0xE146u

namespace zbw {

int RunApplication(int argc, char** argv);
int RunWinMain(int argc, char** argv, int (*winMain)(HINSTANCE, HINSTANCE, LPWSTR, int));

}  // namespace zbw

class CWinApp : public CCmdTarget {
   public:
    explicit CWinApp(LPCWSTR appName = nullptr);
    ~CWinApp() override;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    // The message loop; returns ExitInstance() once WM_QUIT arrives.
    virtual int Run();
    // The wParam of the WM_QUIT that ended the loop (0 when there was none).
    virtual int ExitInstance();

    // ParseParam for every argument after the program name ("/" or "-" stripped, bFlag set).
    void ParseCommandLine(CCommandLineInfo& info);

    void SetRegistryKey(LPCWSTR registryKey);
    CString GetProfileString(LPCWSTR section, LPCWSTR entry, LPCWSTR defaultValue = nullptr);
    UINT GetProfileInt(LPCWSTR section, LPCWSTR entry, int defaultValue);
    // A null value deletes the entry; a null entry deletes the section.
    BOOL WriteProfileString(LPCWSTR section, LPCWSTR entry, LPCWSTR value);
    BOOL WriteProfileInt(LPCWSTR section, LPCWSTR entry, int value);

    // The class library's help command: there is no help here.
    void OnHelp() {}

    CWnd* m_pMainWnd = nullptr;
    LPWSTR m_lpCmdLine = nullptr;  // the arguments after the program name
    LPCWSTR m_pszAppName = nullptr;
    LPCWSTR m_pszExeName = nullptr;
    LPCWSTR m_pszRegistryKey = nullptr;
    LPCWSTR m_pszProfileName = nullptr;

   protected:
    MSG m_msgCur{};

   private:
    friend int zbw::RunApplication(int argc, char** argv);

    void TakeArguments(int argc, char** argv);
    // The section's key path under HKEY_CURRENT_USER; false without a registry key.
    bool SectionPath(LPCWSTR section, std::u16string* path) const;

    std::u16string m_appName;
    std::u16string m_exeName;
    std::u16string m_registryKey;
    std::u16string m_commandLine;
    std::vector<CString> m_arguments;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
// Console programs that only use the library's classes; nothing to set up here.
BOOL AfxWinInit(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);
