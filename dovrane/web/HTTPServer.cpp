#include "dovrane/web/HTTPServer.h"

#include <chrono>
#include <random>

#include "common/DebugPrintf.h"
#include "common/RegUtils.h"
#include "common/SHA1Text.h"
#include "common/TextUtils.h"
#include "common/UrlCodec.h"
#include "dovrane/model/EngineDB.h"
#include "dovrane/web/Base64DecodeTable.h"
#include "dovrane/web/BrowsePage.h"
#include "dovrane/web/HttpActions.h"
#include "dovrane/web/HttpAnswer.h"
#include "dovrane/web/HttpRequest.h"
#include "dovrane/web/LogFileParse.h"
#include "dovrane/web/PageRefresh.h"
#include "dovrane/web/RSSPage.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/classlib/SingleLock.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Thread.h"
#include "platform/win32/WinUser.h"

namespace {

const char16_t kEngineKey[] = u"software\\ZBEngine\\ZBEngine";
const char16_t kNewInstallValue[] = u"11000007chk";
const char16_t kStatusPage[] = u"/status.htm";
const char16_t kErrorPage[] = u"/error.htm";
const char16_t kProfilePage[] = u"/profile.htm";
const char16_t kStyleSheet[] = u"/style.css";
const char16_t kFormPage[] = u"/profileform.htm";
const char16_t kLogFilePage[] = u"/logfile.htm";
const char16_t kBrowsePage[] = u"/browse.htm";
const char16_t kRefreshCheckPage[] = u"/checkrefresh.htm";
const char kHelpPage[] = "/help/help.htm";
const char kNotImplementedPage[] = "/mna.html";
const char kUpdatePage[] = "/help/help.htm";
const char kUpdateFragment[] = "#updates";
const char kLocalClient[] = "127.0.0.1";
const char kRunsFeed[] = "/rss.xml";
const char kErrorsFeed[] = "/errors.xml";

bool RegistryValueExists(HKEY root, LPCWSTR value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, kEngineKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    bool exists = RegQueryValueExW(key, value, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return exists;
}

std::string Extension(const std::string& path) {
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
    std::string extension = path.substr(dot + 1);
    for (char& ch : extension) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return extension;
}

std::string Utf16Bytes(std::u16string_view text) {
    std::string bytes(text.size() * 2, '\0');
    char* at = bytes.data();
    for (char16_t unit : text) {
        *at++ = static_cast<char>(unit & 0xFF);
        *at++ = static_cast<char>(unit >> 8);
    }
    return bytes;
}

// RFC 4648 Base64 up to the first "=" or other byte outside the alphabet.
std::string DecodeBase64(const std::string& text) {
    std::string bytes;
    int bits = 0;
    int count = 0;
    for (unsigned char ch : text) {
        int value = g_Base64DecodeTable[ch];
        if (value < 0) break;
        bits = (bits << 6) | value;
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return bytes;
}

CString MakeFormToken() {
    std::random_device random;
    CString token;
    for (int i = 0; i < 4; ++i) token.AppendFormat(u"%08x", static_cast<unsigned>(random()));
    return token;
}

}  // namespace

CHTTPServer::CHTTPServer() : CHTTPServer(g_DebugPrintf) {}

CHTTPServer::CHTTPServer(CDebugPrintf& log)
    : CGenericServer(log), m_log(log), m_strFormToken(MakeFormToken()) {}

CHTTPServer::~CHTTPServer() {
    m_bStopping = true;
    ShutdownAndWait();
}

bool CHTTPServer::StartServer(int port, const std::string& folder, const std::string& defaultPage,
                              CHttpRunItemList* list, DWORD idleTimeoutMs, HWND window, UINT message,
                              const CString& filter, const CString& passwordHash, const CString& further) {
    bool encrypted = !RegistryValueExists(HKEY_LOCAL_MACHINE, u"noenc");
    m_pages.Configure(zbw::FromUtf8(folder), encrypted);
    m_strDefaultPage = zbw::FromUtf8(defaultPage);
    m_pList = list;
    m_hWindow = window;
    m_nMessage = message;
    m_filter.SetFilter(filter);
    m_strPasswordHash = passwordHash;
    m_strSettingsFile = further;
    m_bStopping = false;
    if (port < 1) return false;
    m_log.Print(u"Starting HTTP server on this machine on port %d", port);
    m_log.Print(u"HTTP server allows clients from %s", filter);
    m_log.Print(encrypted ? u"Using encrypted HTML pages" : u"Not using encrypted HTML pages");
    SetRequestTimeLimit(kRequestTimeLimitMs);
    return Start(static_cast<WORD>(port), idleTimeoutMs) != 0;
}

int CHTTPServer::Shutdown() {
    m_bStopping = true;
    return CGenericServer::Shutdown();
}

// A client may be waiting for the main window's answer to a call: the stop carries the calls out
// rather than leave the client to its time-out.
void CHTTPServer::OnWaitForClients() {
    MSG message;
    while (m_hWindow && PeekMessageW(&message, m_hWindow, WM_ENGINE_CALL, WM_ENGINE_CALL, PM_REMOVE))
        DispatchMessageW(&message);
}

void CHTTPServer::SetActionPauses(DWORD changedMs, DWORD openMs, DWORD formMs) {
    m_dwChangedPauseMs = changedMs;
    m_dwOpenPauseMs = openMs;
    m_dwFormPauseMs = formMs;
}

CEngineCall::OUTCOME CHTTPServer::CallMainWindow(WPARAM code, CString& text, LRESULT& result) {
    if (!m_hWindow || m_bStopping) return CEngineCall::CALL_FAILED;
    return CEngineCall::Send(m_hWindow, code, text, ENGINE_CALL_TIMEOUT_MS, result);
}

int CHTTPServer::PostToMainWindow(WPARAM code) {
    if (!m_hWindow || !m_nMessage) return 0;
    return PostMessageW(m_hWindow, m_nMessage, code, 0) ? 1 : 0;
}

bool CHTTPServer::IsClientAllowed(const char* address, int) {
    CString client(address);
    m_log.PrintDebug(u"HTTP connection requested by client %s", client);
    switch (m_filter.Check(client)) {
        case CClientFilter::ALLOWED: return true;
        case CClientFilter::INVALID:
            m_log.Print(u"Invalid client expression in XML file, <HTTP> <CLIENTS> : %s",
                        m_filter.GetFilter());
            return false;
        case CClientFilter::REFUSED: break;
    }
    m_log.Print(u"HTTP connection from client %s not allowed, client IPs restricted to %s", client,
                m_filter.GetFilter());
    return false;
}

// A refused request is complete too: nothing more is read, and ProcessRequest says why.
int CHTTPServer::IsRequestComplete(const std::string& request) {
    return CHttpRequest::CheckComplete(request) == CHttpRequest::INCOMPLETE ? 0 : 1;
}

std::string CHTTPServer::LoggedRequest(const std::string& request) {
    std::string text = request;
    static const std::string kAuthorization = "\nAuthorization: ";
    for (size_t at = text.find(kAuthorization); at != std::string::npos;
         at = text.find(kAuthorization, at + kAuthorization.size())) {
        size_t start = at + kAuthorization.size();
        size_t end = text.find("\r\n", start);
        size_t blank = text.find(' ', start);
        if (blank != std::string::npos && (end == std::string::npos || blank < end)) start = blank + 1;
        text.replace(start, end == std::string::npos ? std::string::npos : end - start, "*****");
    }
    std::string shown;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\r\n") == 0) {
            shown += "\\r\\n";
            ++i;
        } else {
            shown += text[i];
        }
    }
    return shown;
}

int CHTTPServer::ProcessRequest(const std::string& bytes, std::string& response, bool& keepAlive,
                                const char* address) {
    using namespace std::chrono;
    CHttpRequest::COMPLETENESS completeness = CHttpRequest::CheckComplete(bytes);
    if (CHttpRequest::IsRefusal(completeness)) {
        LogTrace("Request refused", "ProcessRequest", static_cast<int>(bytes.size()));
        response = CHttpAnswer::Refused(CHttpRequest::RefusalStatus(completeness));
        keepAlive = false;
        return 1;
    }
    if (m_log.m_bDebug) m_log.Print(u"HTTP Request: %s", zbw::FromAnsi(LoggedRequest(bytes)));
    CHttpRequest request;
    if (!request.Parse(bytes)) {
        LogTrace("No 'space' found in Request String #2", "ParseRequest", 0);
        response = CHttpAnswer::Refused(CHttpRequest::RefusalStatus(CHttpRequest::MALFORMED));
        keepAlive = false;
        return 1;
    }
    keepAlive = request.m_bKeepAlive;
    const unsigned long long seen = m_nSnapshotsBegun;
    if (IsPlainFile(request)) {
        bool authorized = IsAuthorized(request, CString(address));
        if (!authorized) keepAlive = false;
        response =
            authorized ? ServeFile("200 OK", request.m_strPath, keepAlive) : CHttpAnswer::Unauthorized();
    } else {
        REQUESTLOCK lock(m_requestLock, std::defer_lock);
        if (!lock.try_lock_for(milliseconds(kLockPauseMs * (kLockTries + 1)))) {
            response = CHttpAnswer::Busy(m_nBusyCode);
            keepAlive = false;
            return 1;
        }
        m_nBusyCode = CHttpAnswer::BUSY_NONE;
        REQUESTSTATE state;
        state.context.bLocalClient = std::string(address) == kLocalClient;
        state.context.strClientIp = CString(address);
        // Requests that carry out nothing (pages, refresh checks) may share a snapshot.
        bool shareable = request.IsGet() && (request.m_strQuery.empty() ||
                                             zbw::FromUtf8(request.m_strPath) == kRefreshCheckPage);
        TakeSnapshot(state, seen, shareable);
        response = Answer(request, state, lock, keepAlive);
    }
    if (m_log.m_bDebug) {
        size_t headerEnd = response.find("\r\n\r\n");
        m_log.Print(u"HTTP Response: %s", zbw::FromAnsi(LoggedRequest(response.substr(0, headerEnd + 4))));
    }
    return 1;
}

bool CHTTPServer::IsPlainFile(const CHttpRequest& request) const {
    if (!request.IsGet() || !request.m_strQuery.empty() || request.m_strPath == "/") return false;
    CString page = zbw::FromUtf8(request.m_strPath);
    return !IsTemplatePage(page) && request.m_strPath != kRunsFeed && request.m_strPath != kErrorsFeed;
}

void CHTTPServer::TakeSnapshot(REQUESTSTATE& state, unsigned long long seen, bool shareable) {
    if (!shareable || !m_latestSnapshot || m_latestSnapshot->number <= seen)
        m_latestSnapshot = MakeSnapshot();
    state.snapshot = m_latestSnapshot;
    PAGECONTEXT& context = state.context;
    context.settings = state.snapshot->settings;
    context.pSnapshot = &state.snapshot->items;
    context.pCategories = &state.snapshot->categories;
    context.bDatabaseMissing = state.snapshot->databaseMissing;
    context.strFormToken = m_strFormToken;
}

std::shared_ptr<const CHTTPServer::SNAPSHOT> CHTTPServer::MakeSnapshot() {
    auto snapshot = std::make_shared<SNAPSHOT>();
    snapshot->number = ++m_nSnapshotsBegun;
    if (m_pList) {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
        CSingleLock lock(&m_pList->GetListMutex(), TRUE);
        snapshot->settings = m_pList->GetSettings();
        m_pList->UpdateHttpItemData(snapshot->items);
        lock.Unlock();
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    }
    std::vector<CString>& categories = snapshot->categories;
    for (INT_PTR i = 0; i < snapshot->items.GetSize(); ++i) {
        const CString& category = snapshot->items[i].GetLaunchItem().m_strCategory;
        auto at = std::lower_bound(categories.begin(), categories.end(), category);
        if (at == categories.end() || *at != category) categories.insert(at, category);
    }
    snapshot->databaseMissing = !g_EngineDB.IsDBOpen();
    if (snapshot->settings.m_strSettingsPath.IsEmpty())
        snapshot->settings.m_strSettingsPath = m_strSettingsFile;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(m_strSettingsFile, GetFileExInfoStandard, &data))
        snapshot->settingsStamp.Format(u"%u.%u", data.ftLastWriteTime.dwHighDateTime,
                                       data.ftLastWriteTime.dwLowDateTime);
    return snapshot;
}

bool CHTTPServer::IsAuthorized(const CHttpRequest& request, const CString& address) {
    if (m_strPasswordHash.IsEmpty()) return true;
    m_log.PrintDebug(u"Password required for HTTP access...");
    std::string header = request.GetHeader("Authorization");
    if (header.rfind("Basic ", 0) != 0) {
        m_log.PrintDebug(u"Authorization not sent by browser");
        return false;
    }
    // A guess that comes before the address's delay has passed is refused unjudged, so guessing
    // keeps the throttle's pace while no thread and no lock waits for it. A judged guess counts
    // as a failure from the start, so guesses in parallel cannot all pass before one is noted.
    int failures = 0;
    const DWORD wait = m_loginThrottle.TakeTry(address, GetTickCount(), failures);
    if (wait > 0) {
        m_log.PrintDebug(u"HTTP password from %s not checked: its next try is due in %d ms", address,
                         static_cast<int>(wait));
        return false;
    }
    std::string credentials = DecodeBase64(header.substr(6));
    size_t colon = credentials.find(':');
    std::string password = colon == std::string::npos ? std::string() : credentials.substr(colon + 1);
    if (colon != std::string::npos && SHA1HashText(zbw::FromUtf8(password)) == m_strPasswordHash) {
        m_log.PrintDebug(u"HTTP password validated");
        m_loginThrottle.NoteSuccess(address);
        return true;
    }
    m_log.PrintDebug(u"Invalid HTTP password");
    m_log.PrintDebug(u"HTTP login failure %d in a row from %s", failures, address);
    return false;
}

std::string CHTTPServer::Answer(CHttpRequest& request, REQUESTSTATE& state, REQUESTLOCK& lock,
                                bool& keepAlive) {
    PAGECONTEXT& context = state.context;
    if (!request.IsGet() && !request.IsPost()) {
        keepAlive = false;
        lock.unlock();
        return ServeFile("501 Not Implemented", kNotImplementedPage, false);
    }
    std::string path = request.m_strPath == "/" ? zbw::ToUtf8(m_strDefaultPage) : request.m_strPath;
    if (request.IsPost() && request.m_strQuery.empty())
        LogTrace("No data found in POST request", "ParseRequest", 0);
    if (!IsAuthorized(request, state.context.strClientIp)) {
        keepAlive = false;
        return CHttpAnswer::Unauthorized();
    }
    context.strPage = zbw::FromUtf8(path);
    if (path == kRunsFeed || path == kErrorsFeed) return AnswerFeed(request, state, keepAlive);
    bool refreshCheck = context.strPage == kRefreshCheckPage;
    if (!refreshCheck && m_nNewInstall == 1 && m_bNewInstallShownOnce) m_nNewInstall = 2;
    context.strCurrentLink = HtmlEscape(zbw::FromUtf8(
        request.m_strPath + (request.m_strUrlQuery.empty() ? "" : "?" + request.m_strUrlQuery)));
    if (!m_pList) return ServePage("200 OK", path, state, lock, request.IsGet(), keepAlive);
    CHttpActions::REQUESTSITE site{request.GetHeader("Origin"), request.GetHeader("Referer"),
                                   request.m_strHost, request.GetHeader("Sec-Fetch-Site")};
    CHttpActions actions(
        *m_pList,
        {[this](WPARAM code) { return PostToMainWindow(code); },
         [this](WPARAM code, CString& text, LRESULT& result) { return CallMainWindow(code, text, result); }},
        context, m_nBusyCode);
    actions.SetPauses(m_dwChangedPauseMs, m_dwOpenPauseMs, m_dwFormPauseMs);
    CHttpActions::ANSWER answer = CHttpActions::ANSWER_PAGE;
    if (request.IsPost()) {
        answer = actions.RunForm(path, request.m_strQuery, request.m_strUrlQuery, site, m_strFormToken);
    } else if (!request.m_strQuery.empty() && path != kHelpPage && !refreshCheck) {
        answer = actions.RunQuery(request.m_strQuery, site);
    }
    if (answer == CHttpActions::ANSWER_NO_CONTENT)
        return CHttpAnswer::Redirect("204 No Content", actions.Location(), keepAlive);
    if (answer == CHttpActions::ANSWER_SEE_OTHER)
        return CHttpAnswer::Redirect("303 See Other", actions.Location(), keepAlive);
    if (refreshCheck) return AnswerRefreshCheck(request, actions, state, keepAlive);
    if (!context.strFileName.IsEmpty())
        context.strFileContent =
            RenderFileContent(context.strFileName, context.strFileRunId, context.nFilePage);
    // Actions that changed nothing (selections) leave a page that the cache may keep.
    bool cacheable = request.IsGet() && context.strErrorText.IsEmpty() && context.strFileName.IsEmpty() &&
                     context.strPage != kBrowsePage;
    return ServePage("200 OK", zbw::ToUtf8(context.strPage), state, lock, cacheable, keepAlive);
}

std::string CHTTPServer::AnswerFeed(const CHttpRequest& request, const REQUESTSTATE& state, bool keepAlive) {
    const int kind = request.m_strPath == kErrorsFeed ? CRSSPage::FEED_ERRORS : CRSSPage::FEED_RUNS;
    CString feed =
        CRSSPage().BuildFeed(state.snapshot->items, u"http://" + zbw::FromUtf8(request.m_strHost), kind);
    return CHttpAnswer::Page("200 OK", "xml", "text/xml;", Utf16Bytes(feed.GetStdString()), keepAlive);
}

// "0" while the page named by rpg shows what it showed when it got the identifier rid, else its
// AJAX section as it is now. rpg is the page's path and query; only its selections count.
std::string CHTTPServer::AnswerRefreshCheck(const CHttpRequest& request, CHttpActions& actions,
                                            REQUESTSTATE& state, bool keepAlive) {
    CString named, shownId;
    for (const auto& [key, value] : CHttpActions::SplitQuery(request.m_strQuery)) {
        if (key == u"rpg") named = value;
        if (key == u"rid") shownId = value;
    }
    int queryAt = named.Find(u'?');
    CString page = queryAt < 0 ? named : named.Left(queryAt);
    if (page.IsEmpty() || page == u"/") page = m_strDefaultPage;
    if (!IsRefreshablePage(page) || !IsTemplatePage(page) || page == kRefreshCheckPage)
        return CHttpAnswer::NotFound(zbw::ToUtf8(page));
    if (queryAt >= 0) actions.RunSelections(zbw::ToUtf8(named.Mid(queryAt + 1)));
    state.context.strPage = page;
    state.context.strCurrentLink = HtmlEscape(named);
    const std::string contentType = "text/html; charset=utf-16";
    CString id = CurrentRefreshId(state);
    if (id == shownId) return CHttpAnswer::Page("200 OK", "htm", contentType, Utf16Bytes(u"0"), keepAlive);
    CString text;
    if (!LoadTemplate(zbw::ToUtf8(page), state, text)) return CHttpAnswer::NotFound(zbw::ToUtf8(page));
    FillPageContext(state, page, text);
    state.context.bRefreshTags = false;
    std::u16string expanded;
    Render(text, state.context, expanded);
    CString section = ExtractAjaxSection(CString(std::move(expanded)));
    ReplaceRefreshId(section, id);
    ReplaceAjaxTags(section, state.context.strCurrentLink);
    return CHttpAnswer::Page("200 OK", "htm", contentType, Utf16Bytes(section.GetStdString()), keepAlive);
}

CString CHTTPServer::CurrentRefreshId(const REQUESTSTATE& state) const {
    const COleDateTime& started = state.context.settings.m_dtEngineStart;
    return ComputeRefreshId(state.snapshot->items, state.context.nSelectedProfile,
                            state.snapshot->settingsStamp,
                            started.GetStatus() == COleDateTime::valid ? started.Format() : CString());
}

bool CHTTPServer::IsTemplatePage(const CString& path) const {
    for (const char16_t* page :
         {kStatusPage, kErrorPage, kProfilePage, kFormPage, kLogFilePage, kBrowsePage, kRefreshCheckPage}) {
        if (path == page) return true;
    }
    return false;
}

CString CHTTPServer::ContentTypeOf(const CString& path, const std::string& extension) const {
    if (IsTemplatePage(path) && path != kRefreshCheckPage) return u"text/html; charset=utf-16";
    if (path == kStyleSheet) return u"text/css;";
    if (path == kRefreshCheckPage) return u"text/html; charset=utf-16";
    return zbw::FromUtf8(m_mime.Lookup(extension));
}

std::string CHTTPServer::ServeFile(const std::string& status, const std::string& path, bool keepAlive) {
    std::string extension = Extension(path);
    std::string contentType = zbw::ToUtf8(ContentTypeOf(zbw::FromUtf8(path), extension));
    std::string bytes;
    if (!LoadPage(path, bytes)) return CHttpAnswer::NotFound(path);
    return CHttpAnswer::Page(status, extension, contentType, bytes, keepAlive);
}

// The request lock is released once the page no longer needs the engine: a cacheable page is
// rendered (or taken from the cache) beside other requests.
std::string CHTTPServer::ServePage(const std::string& status, const std::string& path, REQUESTSTATE& state,
                                   REQUESTLOCK& lock, bool cacheable, bool keepAlive) {
    CString page = zbw::FromUtf8(path);
    if (!IsTemplatePage(page)) {
        lock.unlock();
        return ServeFile(status, path, keepAlive);
    }
    std::string extension = Extension(path);
    std::string contentType = zbw::ToUtf8(ContentTypeOf(page, extension));
    CString text;
    if (!LoadTemplate(path, state, text)) return CHttpAnswer::NotFound(path);
    FillPageContext(state, page, text);
    state.context.bRefreshTags = text.Find(kAjaxSectionStart) >= 0;
    if (cacheable) {
        lock.unlock();
        return CHttpAnswer::Page(status, extension, contentType, *CachedBody(text, state), keepAlive);
    }
    if (state.context.bRefreshTags) state.context.strRefreshId = CurrentRefreshId(state);
    std::u16string expanded;
    Render(text, state.context, expanded);
    if (page == kBrowsePage) {
        CString browse(std::move(expanded));
        BuildBrowsePage(browse, state.context.strBrowseFolder, state.context.bLocalClient);
        return CHttpAnswer::Page(status, extension, contentType, Utf16Bytes(browse.GetStdString()),
                                 keepAlive);
    }
    return CHttpAnswer::Page(status, extension, contentType, Utf16Bytes(expanded), keepAlive);
}

bool CHTTPServer::LoadPage(const std::string& path, std::string& bytes) {
    bool cached = false;
    CString fileName;
    std::lock_guard<std::mutex> held(m_fileLock);
    m_pages.MapPath(path, fileName);
    if (!m_pages.Load(path, bytes, &cached)) {
        m_log.PrintDebug(u"HTTP File %s not found", zbw::FromUtf8(path));
        return false;
    }
    m_log.PrintDebug(cached ? u"HTTP Caching file %s" : u"HTTP Loading file %s", fileName);
    return true;
}

bool CHTTPServer::LoadTemplate(const std::string& path, REQUESTSTATE& state, CString& text) {
    std::string bytes;
    if (!LoadPage(path, bytes)) return false;
    text = zbw::FromUtf8(bytes);
    state.context.bShowNewInstall = DecideNewInstall(text);
    return true;
}

void CHTTPServer::FillPageContext(REQUESTSTATE& state, const CString& page, const CString& text) const {
    const int selected = state.context.nSelectedProfile;
    if (m_pList && selected >= 0 && selected < state.snapshot->items.GetSize() &&
        text.Find(u"#PROFILE_LASTRUNS#") >= 0)
        state.context.pSelectedLastRuns =
            m_pList->GetSharedLastRunsHtml(state.snapshot->items[selected].GetName());
    state.context.strPage = page;
    state.context.strUpdateLink = UpdateLink(state.context.settings);
    state.context.strCurrentTime = RefreshTimeText();
}

// The query goes before the fragment, so the browser lands on the section.
CString CHTTPServer::UpdateLink(const CEngineSettings& settings) const {
    CString link;
    link.Format(u"&nbsp;<a href='%hs?zbengvern=%s&zbengvert=%s&zbvern=%d%hs'>Check for Updates</a>",
                kUpdatePage, CString(UrlEncode(settings.m_strVersion).c_str()), u"1",
                settings.m_nSyncProgramBuild, kUpdateFragment);
    return link;
}

void CHTTPServer::Render(const CString& text, const PAGECONTEXT& context, std::u16string& out) const {
    CPageTemplate(context).Expand(text, out);
}

CString CHTTPServer::PageKeyOf(const PAGECONTEXT& context) {
    CString key = context.strPage + u'\x1' + context.strCurrentLink + u'\x1' + context.strClientIp;
    key.AppendFormat(u"\x1%d.%d.%d", context.bLocalClient, context.nSelectedProfile,
                     context.nSelectedCategory);
    return key;
}

CString CHTTPServer::ShownKeyOf(const REQUESTSTATE& state) const {
    const PAGECONTEXT& context = state.context;
    const CEngineSettings& settings = context.settings;
    CString key;
    for (const CString* text :
         {&context.strCurrentTime, &state.snapshot->settingsStamp, &settings.m_strVersion,
          &settings.m_strSettingsPath, &settings.m_strDBPath, &settings.m_strLogPath,
          &settings.m_strCommandLine, &settings.m_strSystem, &settings.m_strAccount,
          &settings.m_strComputerName, &settings.m_strSyncProgramPath, &settings.m_strHttpClients,
          &settings.m_strTcpAddress, &settings.m_strTcpClients, &context.strUpdateLink})
        key += *text + u'\x1';
    key.AppendFormat(u"%d.%d.%d.%d.%d.%d.%d.%d.%d.%d.%d.%d", context.bShowNewInstall,
                     context.bDatabaseMissing, context.bRefreshTags, settings.m_bSaved,
                     settings.m_nSyncProgramMissing, settings.m_nSyncProgramBuild, settings.m_nService,
                     settings.m_nRefresh, settings.m_nCheckNew, settings.m_nCheckNewAfterChange,
                     settings.m_nHttpPort, settings.m_nTcpPort);
    key.AppendFormat(
        u".%d.%d.%s", settings.m_strHttpPasswordHash.IsEmpty(), settings.m_strTcpPassword.IsEmpty(),
        settings.m_dtEngineStart.GetStatus() == COleDateTime::valid ? settings.m_dtEngineStart.Format()
                                                                    : CString());
    return key;
}

bool CHTTPServer::ShowSame(const SNAPSHOT& a, const SNAPSHOT& b) {
    return &a == &b ||
           (a.items.GetSize() == b.items.GetSize() &&
            std::equal(a.items.GetData(), a.items.GetData() + a.items.GetSize(), b.items.GetData()));
}

// The cache keeps the snapshot a page was rendered from, shared with the requests that took it,
// and one version of each page: what it holds stays within a few snapshots and pages.
std::shared_ptr<const std::string> CHTTPServer::CachedBody(const CString& text, REQUESTSTATE& state) {
    const CString page = PageKeyOf(state.context);
    const CString shown = ShownKeyOf(state);
    {
        std::lock_guard<std::mutex> held(m_cacheLock);
        for (const CACHEDPAGE& cached : m_cache)
            if (cached.page == page && cached.shown == shown &&
                cached.lastRuns == state.context.pSelectedLastRuns &&
                ShowSame(*cached.snapshot, *state.snapshot))
                return cached.body;
    }
    // One buffer per client thread, kept for its next pages.
    thread_local std::u16string expanded;
    expanded.clear();
    if (state.context.bRefreshTags) state.context.strRefreshId = CurrentRefreshId(state);
    Render(text, state.context, expanded);
    auto body = std::make_shared<const std::string>(Utf16Bytes(expanded));
    CACHEDPAGE rendered{page, shown, state.snapshot, state.context.pSelectedLastRuns, body};
    std::lock_guard<std::mutex> held(m_cacheLock);
    for (CACHEDPAGE& cached : m_cache) {
        if (cached.page == page) {
            cached = std::move(rendered);
            return body;
        }
    }
    if (m_cache.size() < kCachedPages) {
        m_cache.push_back(std::move(rendered));
    } else {
        m_cache[m_nNextCacheSlot] = std::move(rendered);
        m_nNextCacheSlot = (m_nNextCacheSlot + 1) % kCachedPages;
    }
    return body;
}

bool CHTTPServer::DecideNewInstall(const CString& page) {
    if (page.Find(u"#IF_NEWINSTALL#") < 0) return m_nNewInstall == 1;
    if (m_nNewInstall == 0) {
        bool seen = RegistryValueExists(HKEY_LOCAL_MACHINE, kNewInstallValue) ||
                    RegistryValueExists(HKEY_CURRENT_USER, kNewInstallValue);
        if (!seen) {
            WriteRegStringLM(kEngineKey, kNewInstallValue, u"1");
            WriteRegStringCU(kEngineKey, kNewInstallValue, u"1");
        }
        m_nNewInstall = seen ? 2 : 1;
    }
    if (m_nNewInstall == 1) m_bNewInstallShownOnce = true;
    return m_nNewInstall == 1;
}
