// CEngineSettings: the engine's server settings and the facts about the running engine that
// the pages show. A plain copyable record: the run-item list holds the one live instance under
// its list lock and hands out copies (CRunItemList::GetSettings); the web server keeps one.
//
// The active values serve the running servers and change only at an engine start (the server
// pass of CRunItemList::LoadSettings). The pending values are the texts the settings file holds
// and what the next start reads: the file's own texts, or what a SETNEWHTTP command set. A
// marker is " " (one blank) when the loaded file had that element, empty otherwise.
#pragma once

#include "platform/base/CString.h"
#include "platform/classlib/OleDateTime.h"

class CEngineSettings {
   public:
    static constexpr int kDefaultHttpPort = 8001;
    static constexpr int kDefaultRefresh = 600;
    static constexpr int kDefaultCheckNew = 5;
    static constexpr int kHighestPort = 65534;

    CEngineSettings();

    // The server settings and their pending texts back to their defaults; the settings path,
    // the engine facts, the saved flag and the start time stay.
    void SetDefaults();

    CString m_strSettingsPath;  // the file load and save use when given no path

    // The running engine, stored by the engine start.
    CString m_strVersion;
    CString m_strCommandLine;
    CString m_strSystem;
    CString m_strAccount;
    CString m_strComputerName;
    CString m_strSyncProgramPath;  // or the text that says the program is missing
    CString m_strLogPath;
    CString m_strDBPath;
    int m_nSyncProgramMissing = 0;
    int m_nSyncProgramBuild = 0;  // the registry value "ver"
    int m_nService = 0;           // started by the Windows service

    // Active values.
    CString m_strTcpAddress;  // empty: the default address
    int m_nTcpPort = 0;       // 0: no TCP/IP clients
    CString m_strTcpClients;
    CString m_strTcpPassword;  // plain text; empty: none
    bool m_bNoTcpIp = false;
    int m_nHttpPort = kDefaultHttpPort;
    CString m_strHttpClients;
    CString m_strHttpPasswordHash;  // 44-character digest text; empty: none
    int m_nRefresh = kDefaultRefresh;
    int m_nCheckNew = kDefaultCheckNew;
    int m_nCheckNewAfterChange = kDefaultCheckNew;
    bool m_bNoHttp = false;

    // Pending values, as the file holds them.
    CString m_strTcpMarker;
    CString m_strPendingTcpAddress;
    CString m_strPendingTcpPort;
    CString m_strPendingTcpClients;
    CString m_strPendingTcpPassword;
    CString m_strHttpMarker;
    CString m_strPendingHttpPort;
    CString m_strPendingHttpClients;
    CString m_strPendingHttpPasswordHash;
    CString m_strPendingRefresh;
    CString m_strPendingCheckNew;
    CString m_strPendingCheckNewAfterChange;

    bool m_bSaved = true;          // the last save succeeded
    bool m_bHttpChanged = false;   // a SETNEWHTTP command changed a pending value since the start
    COleDateTime m_dtEngineStart;  // local time of the last engine start; not set before
};
