// CHTTPServer: the engine's HTTP/1.1 server on the socket server base. For each request it
// takes a snapshot of the engine settings and of every run item's display texts, checks the
// Basic password, carries out the query's actions, loads the page from the page folder (through
// the cache, decrypted when pages are kept encrypted), expands its templates and answers.
//
// Threads: StartServer, Shutdown and the destructor belong to the owner (the main thread of
// the application object). The client threads handle requests one at a time under the request
// lock; a request that waits for it longer than about 10 s gets the busy page. While Shutdown
// waits for client threads, the owner thread serves the messages they send to it, so a request
// that sends an engine command to the main window cannot hold the stop up; sends made once the
// stop has begun return 0 at once.
//
// Bounds: a request line of at most 8 KiB, headers of at most 16 KiB, bodies of at most 1 MiB
// (beyond them, or unreadable: 414, 431, 413 or 400, then the connection closes), a request
// complete within 30 s of its first byte, idle connections closed after the idle time-out. The
// Basic credentials never reach the log. Failures are answers (400, 401, 404, 413, 414, 431,
// 501, the busy page) or a closed connection; nothing throws.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "dovrane/model/EngineSettings.h"
#include "dovrane/threads/ZBProjectRunItemData.h"
#include "dovrane/web/ClientFilter.h"
#include "dovrane/web/GenericServer.h"
#include "dovrane/web/HttpRunItemList.h"
#include "dovrane/web/MimeTable.h"
#include "dovrane/web/PageFiles.h"
#include "dovrane/web/PageTemplate.h"
#include "platform/base/CString.h"
#include "platform/classlib/Array.h"

class CDebugPrintf;
class CHttpActions;
class CHttpRequest;

class CHTTPServer : public CGenericServer {
   public:
    static constexpr DWORD kRequestTimeLimitMs = 30000;
    static constexpr int kLockTries = 1000;
    static constexpr DWORD kLockPauseMs = 10;

    CHTTPServer();
    // Traces and debug lines go to log; it must outlive the server.
    explicit CHTTPServer(CDebugPrintf& log);
    ~CHTTPServer() override;

    // False when the port is below 1 or the socket server does not start. folder is the page
    // folder, defaultPage the page of "/"; further is the settings file path (kept for the pages).
    bool StartServer(int port, const std::string& folder, const std::string& defaultPage,
                     CHttpRunItemList* list, DWORD idleTimeoutMs, HWND window, UINT message,
                     const CString& filter, const CString& passwordHash, const CString& further);
    int Shutdown();

    // The engine command to the main window; 0 without window or once the stop has begun.
    LRESULT SendToMainWindow(WPARAM code, CString& text);
    // 1 when posted.
    int PostToMainWindow(WPARAM code);

    bool IsClientAllowed(const char* address, int port);
    // The request text as the debug log shows it: CR LF as "\r\n", credentials masked.
    static std::string LoggedRequest(const std::string& request);

    // Test hooks: the pauses of the actions and the per-run form token.
    void SetActionPauses(DWORD changedMs, DWORD openMs, DWORD formMs);
    const CString& GetFormToken() const { return m_strFormToken; }

   protected:
    int OnAccept(const char* address, int port) override { return IsClientAllowed(address, port) ? 1 : 0; }
    int OnDataSent(DWORD) override { return 0; }
    int IsRequestComplete(const std::string& request) override;
    int ProcessRequest(const std::string& request, std::string& response, bool& keepAlive,
                       const char* address) override;
    void OnWaitForClients() override;

   private:
    int ParseRequest(const std::string& request, std::string& response, bool& keepAlive, const char* address);
    void TakeSnapshot();
    bool IsAuthorized(const CHttpRequest& request);
    std::string Answer(CHttpRequest& request, bool& keepAlive);
    std::string ServePage(const std::string& status, const std::string& path, bool keepAlive);
    std::string AnswerFeed(const CHttpRequest& request, bool keepAlive);
    std::string AnswerRefreshCheck(const CHttpRequest& request, CHttpActions& actions, bool keepAlive);
    // A page file's bytes, through the cache; false when there is none.
    bool LoadPage(const std::string& path, std::string& bytes);
    // A template page with its loops and tags filled in.
    bool ExpandPage(const std::string& path, CString& expanded);
    // The page-refresh identifier of what the request's page shows.
    CString CurrentRefreshId() const;
    void FillRefreshTags(CString& page) const;
    bool IsTemplatePage(const CString& path) const;
    CString ContentTypeOf(const CString& path, const std::string& extension) const;
    bool DecideNewInstall(const CString& page);

    CDebugPrintf& m_log;
    CMimeTable m_mime;
    CPageFiles m_pages;
    CClientFilter m_filter;
    CString m_strDefaultPage;
    CString m_strPasswordHash;
    CString m_strSettingsFile;
    CString m_strFormToken;
    CHttpRunItemList* m_pList = nullptr;
    HWND m_hWindow = nullptr;
    UINT m_nMessage = 0;
    std::atomic<bool> m_bStopping{false};
    DWORD m_dwChangedPauseMs = 100;
    DWORD m_dwOpenPauseMs = 2000;
    DWORD m_dwFormPauseMs = 300;
    // Read by requests that wait for the lock, to say what the engine is busy with.
    std::atomic<int> m_nBusyCode{0};

    // One request at a time; everything below belongs to the request that holds it.
    std::timed_mutex m_requestLock;
    CArray<CZBProjectRunItemData> m_snapshot;
    std::vector<CString> m_categories;
    PAGECONTEXT m_context;
    CString m_strCurrentLink;  // the request's page and query, for "#REFRESH#"
    int m_nNewInstall = 0;     // 0 not decided, 1 shown until the next ordinary page, 2 cut
    bool m_bNewInstallShownOnce = false;
};
