// CHTTPServer: the engine's HTTP/1.1 server on the socket server base. For each request it
// takes a snapshot of the engine settings and of every run item's display texts, checks the
// Basic password, carries out the query's actions, loads the page from the page folder (through
// the cache, decrypted when pages are kept encrypted), expands its templates and answers.
//
// A rendered page is kept (as the bytes of its answer, converted once) and served again while
// everything it shows is the same: the snapshot of every run item, the selected profile's run
// history where the page shows it (asked of the list for that page only), the settings file's time
// stamp, the time of day it shows, the request's page, query and client, and the engine's
// flags. A page whose state changed is rendered again, so no page is served stale. Requests that
// carry out nothing share the latest snapshot when it was begun after they arrived, so it never
// shows them an older state than their own.
//
// Threads: StartServer, Shutdown and the destructor belong to the owner (the main thread of
// the application object). The client threads take the request lock only for what must be
// serialised: the snapshot of the engine's state and the query's actions (a request with
// actions keeps it to its answer). Files, cached pages and the rendering of a page without
// actions run in parallel; the page files and the page cache have small locks of their own. A
// request that waits for the request lock longer than about 10 s gets the busy page. Engine
// commands go to the main window as calls with a bounded wait (EngineCall.h). While Shutdown
// waits for client threads, the owner thread carries out the calls they made, so a request that
// waits for one cannot hold the stop up; calls made once the stop has begun fail at once.
//
// Bounds: a request line of at most 8 KiB, headers of at most 16 KiB, bodies of at most 1 MiB
// (beyond them, or unreadable: 414, 431, 413 or 400, then the connection closes), a request
// complete within 30 s of its first byte, idle connections closed after the idle time-out. The
// Basic credentials never reach the log. Failures are answers (400, 401, 404, 413, 414, 431,
// 501, the busy page) or a closed connection; nothing throws.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dovrane/model/EngineSettings.h"
#include "dovrane/threads/ZBProjectRunItemData.h"
#include "dovrane/web/ClientFilter.h"
#include "dovrane/web/EngineCall.h"
#include "dovrane/web/GenericServer.h"
#include "dovrane/web/HttpRunItemList.h"
#include "dovrane/web/LoginThrottle.h"
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
    // Pages kept: a few pages, selections and clients, each in the version of its latest state.
    static constexpr size_t kCachedPages = 8;

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

    // The engine command to the main window with the bounded wait (EngineCall.h); CALL_FAILED
    // without window or once the stop has begun.
    CEngineCall::OUTCOME CallMainWindow(WPARAM code, CString& text, LRESULT& result);
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
    // The engine's state as a request saw it. Requests that arrived before it was begun may
    // share it: it shows them nothing older than their own arrival.
    struct SNAPSHOT {
        CArray<CZBProjectRunItemData> items;
        std::vector<CString> categories;  // sorted, distinct
        CEngineSettings settings;
        CString settingsStamp;  // the settings file's last write time
        bool databaseMissing = false;
        unsigned long long number = 0;  // the how-manyth begun
    };
    // What one request works on: its snapshot, the selection and the page's texts.
    struct REQUESTSTATE {
        std::shared_ptr<const SNAPSHOT> snapshot;
        PAGECONTEXT context;
    };
    // A rendered page and what it showed: one per page, query and client, its latest version.
    struct CACHEDPAGE {
        CString page;   // the page, its query and the client
        CString shown;  // everything else it shows beside the snapshot
        std::shared_ptr<const SNAPSHOT> snapshot;
        std::shared_ptr<const CString> lastRuns;  // the selected profile's history, when shown
        std::shared_ptr<const std::string> body;
    };
    using REQUESTLOCK = std::unique_lock<std::timed_mutex>;

    // seen is the number of snapshots begun when the request arrived; a shareable request takes
    // the latest one when it was begun after that.
    void TakeSnapshot(REQUESTSTATE& state, unsigned long long seen, bool shareable);
    std::shared_ptr<const SNAPSHOT> MakeSnapshot();
    // address: the client's, whose wrong passwords the throttle counts.
    bool IsAuthorized(const CHttpRequest& request, const CString& address);
    // A file answered without the request lock: no actions, no snapshot.
    bool IsPlainFile(const CHttpRequest& request) const;
    std::string Answer(CHttpRequest& request, REQUESTSTATE& state, REQUESTLOCK& lock, bool& keepAlive);
    std::string ServeFile(const std::string& status, const std::string& path, bool keepAlive);
    std::string ServePage(const std::string& status, const std::string& path, REQUESTSTATE& state,
                          REQUESTLOCK& lock, bool cacheable, bool keepAlive);
    std::string AnswerFeed(const CHttpRequest& request, const REQUESTSTATE& state, bool keepAlive);
    std::string AnswerRefreshCheck(const CHttpRequest& request, CHttpActions& actions, REQUESTSTATE& state,
                                   bool keepAlive);
    // A page file's bytes, through the cache; false when there is none.
    bool LoadPage(const std::string& path, std::string& bytes);
    // A template page's text; the new-install decision is made from it (under the request lock).
    bool LoadTemplate(const std::string& path, REQUESTSTATE& state, CString& text);
    // The template with its loops and tags filled in, appended to out.
    void Render(const CString& text, const PAGECONTEXT& context, std::u16string& out) const;
    // The answer's body of a page: from the cache while it shows the same, else rendered and kept.
    std::shared_ptr<const std::string> CachedBody(const CString& text, REQUESTSTATE& state);
    // Which page a request asks for, and everything else the page shows beside the snapshot.
    static CString PageKeyOf(const PAGECONTEXT& context);
    CString ShownKeyOf(const REQUESTSTATE& state) const;
    static bool ShowSame(const SNAPSHOT& a, const SNAPSHOT& b);
    // text is the page's template: the selected profile's history is taken only when it shows it.
    void FillPageContext(REQUESTSTATE& state, const CString& page, const CString& text) const;
    CString UpdateLink(const CEngineSettings& settings) const;
    // The page-refresh identifier of what the request's page shows.
    CString CurrentRefreshId(const REQUESTSTATE& state) const;
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
    // Wrong passwords per client address; takes its own small lock.
    CLoginThrottle m_loginThrottle;
    // Read by requests that wait for the lock, to say what the engine is busy with.
    std::atomic<int> m_nBusyCode{0};

    // The request lock serialises the snapshots and the actions; what follows it is its.
    std::timed_mutex m_requestLock;
    std::shared_ptr<const SNAPSHOT> m_latestSnapshot;
    std::atomic<unsigned long long> m_nSnapshotsBegun{0};
    int m_nNewInstall = 0;  // 0 not decided, 1 shown until the next ordinary page, 2 cut
    bool m_bNewInstallShownOnce = false;

    std::mutex m_fileLock;  // m_pages
    std::mutex m_cacheLock;
    std::vector<CACHEDPAGE> m_cache;  // at most kCachedPages
    size_t m_nNextCacheSlot = 0;
};
