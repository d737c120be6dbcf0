// CHttpActions: carries out the actions of one web request's query (run, stop, enable,
// disable, move, open, reset, remove, load, save, restart, shut down, the selections and the
// file view) and the add and edit forms, and decides the answer: the page (with the error text
// when there is one), "204 No Content" or "303 See Other" with its Location.
//
// Each pair of the query is split at "&" and at its first "=" before it is URL-decoded, so
// names holding "&" or "=" survive. A state change is refused when the request's Origin or
// Referer names another site than its Host (or the browser's Sec-Fetch-Site says it came from
// elsewhere, which holds even when a page sends no Referer), and the forms must carry the
// server's token, so a page of another site cannot steer the engine through the browser. A file view shows
// only the engine's own log and settings files and the log files of its profiles. REF names
// the page to return to only when it is the path of one of the engine's own pages; anything else
// (another site, a script link, a query) returns to the status page.
//
// Runs on the HTTP client thread that holds the server's lock. Commands that change the list
// as a whole go to the main window through the sink (sent and waited for, or posted), and so do
// the run-item commands (run, stop, enable, disable, move, reset), with a bounded wait: only the
// main thread touches the run items. What the page reads comes from the request's snapshot.
// Failures become the error text.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "dovrane/web/EngineCall.h"
#include "dovrane/web/EngineCommandCodes.h"
#include "dovrane/web/HttpRunItemList.h"
#include "dovrane/web/PageTemplate.h"
#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

class CLaunchItem;

class CHttpActions {
   public:
    // The main window's engine commands: post (restart, shutdown; 0 when there is no window) and
    // call, every other command with a bounded wait (EngineCall.h; none given: CALL_FAILED).
    struct ENGINECOMMANDS {
        std::function<int(WPARAM)> post;
        std::function<CEngineCall::OUTCOME(WPARAM, CString&, LRESULT&)> call;
    };

    enum ANSWER { ANSWER_PAGE, ANSWER_NO_CONTENT, ANSWER_SEE_OTHER };

    // Origin, Referer, Host and Sec-Fetch-Site of the request, as sent.
    struct REQUESTSITE {
        std::string origin;
        std::string referer;
        std::string host;
        std::string fetchSite;
    };

    CHttpActions(CHttpRunItemList& list, const ENGINECOMMANDS& commands, PAGECONTEXT& context,
                 std::atomic<int>& busyCode);

    // The pauses after state changes (100 ms), after opening the program (2000 ms) and after a
    // saved form (300 ms); tests shorten them.
    void SetPauses(DWORD changedMs, DWORD openMs, DWORD formMs);

    // GET actions for the page path of the context; the context receives the selection, the
    // error text and, for a file view, the page and file to show.
    ANSWER RunQuery(const std::string& query, const REQUESTSITE& site);
    // Only the selections (CATEGORY, SHOWPROFILE) of a query: the refresh check names a page
    // with its query, whose actions must not be carried out again.
    void RunSelections(const std::string& query);
    // POST of the add or edit form to path; the return page comes from the URL's query.
    ANSWER RunForm(const std::string& path, const std::string& body, const std::string& urlQuery,
                   const REQUESTSITE& site, const CString& token);

    // Where a 204 or 303 sends the browser: the return page or the current one, with the
    // selected profile and category.
    std::string Location() const;

    // Origin and Referer name this server (or are not sent), and the browser, when it says,
    // calls the request same-origin or typed by the user.
    static bool IsSameSite(const REQUESTSITE& site);
    // The key=value pairs of a query, decoded; pairs without "=" are skipped.
    static std::vector<std::pair<CString, CString>> SplitQuery(const std::string& query);
    // REF's value when it is exactly "/" or the path of one of the engine's pages; else the
    // status page.
    static CString ReturnPageOf(const CString& ref);

    static const char16_t* const kRefusedText;

   private:
    struct PAIR {
        CString key;
        CString value;
        std::string raw;
    };
    static std::vector<PAIR> Split(const std::string& query);

    bool RunPair(const PAIR& pair);
    bool RunProfileAction(const CString& key, const CString& value);
    // True when the run started (or is still to be answered); else the error text is set.
    bool RunOneProfile(const CString& name);
    CEngineCall::OUTCOME CallMainWindow(WPARAM code, const CString& argument, LRESULT* result = nullptr);
    bool IsRefusedByMainWindow(WPARAM code, const CString& argument);
    bool RunEngineCommand(const CString& key, const CString& value);
    void RunOpen(const CString& key, const CString& name);
    bool RunFileView(const CString& path);
    bool IsStateChange(const CString& key) const;
    bool IsShownFile(const CString& path) const;
    void SelectCategory(const CString& name);
    void SelectProfile(const CString& name);
    bool ShowsProfile() const;
    CString CategoryOrAll() const;
    // The error page with text.
    ANSWER ShowError(const CString& text);
    bool ReadForm(const std::string& body, CLaunchItem& item, bool& cancel) const;

    CHttpRunItemList& m_list;
    ENGINECOMMANDS m_commands;
    PAGECONTEXT& m_context;
    std::atomic<int>& m_busyCode;
    DWORD m_dwChangedPauseMs = 100;
    DWORD m_dwOpenPauseMs = 2000;
    DWORD m_dwFormPauseMs = 300;

    bool m_bChanged = false;
    bool m_bNoPage = false;
    bool m_bSelected = false;
    bool m_bCategoryDone = false;
    bool m_bProfileDone = false;
    bool m_bFileView = false;
    std::string m_strReturnPage;
    std::string m_strReturnQuery;
};
