#include "dovrane/web/HttpActions.h"

#include <cstdlib>

#include "common/QStringParser.h"
#include "common/UrlCodec.h"
#include "dovrane/threads/LaunchItem.h"
#include "dovrane/threads/RunItemOwner.h"
#include "dovrane/threads/ZBProjectRunItemData.h"
#include "dovrane/web/EngineCommandCodes.h"
#include "dovrane/web/HttpAnswer.h"
#include "dovrane/web/RunResultText.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WideChar.h"
#include "platform/win32/SyncApi.h"

const char16_t* const CHttpActions::kRefusedText =
    u"Refused: this request came from another site. Use the engine's own pages to change it.";

namespace {

const char16_t kStatusPage[] = u"/status.htm";
const char16_t kErrorPage[] = u"/error.htm";
const char16_t kLogFilePage[] = u"/logfile.htm";
const int kMaxStartTimeChars = 1024;
// The pages a REF may lead back to.
const char16_t* const kReturnPages[] = {u"/",          u"/status.htm",  u"/profile.htm",
                                        u"/error.htm", u"/logfile.htm", u"/profileform.htm",
                                        u"/browse.htm"};

bool Is(const CString& key, LPCWSTR name) {
    return key.CompareNoCase(name) == 0;
}

// The host and port of "scheme://host:port/...", lower case.
std::string Authority(const std::string& url) {
    size_t start = url.find("://");
    if (start == std::string::npos) return std::string();
    start += 3;
    size_t end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? end : end - start);
    for (char& ch : authority) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return authority;
}

std::string Lower(std::string text) {
    for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

bool EndsWithNoCase(const CString& text, LPCWSTR end) {
    CString tail(end);
    return text.GetLength() >= tail.GetLength() && text.Right(tail.GetLength()).CompareNoCase(tail) == 0;
}

int Side(bool source, bool target) {
    return (source ? MONITOR_SOURCE : 0) | (target ? MONITOR_TARGET : 0);
}

}  // namespace

// A query of its own is refused too: a Back link must not carry actions that a stranger chose.
CString CHttpActions::ReturnPageOf(const CString& ref) {
    for (const char16_t* page : kReturnPages) {
        if (ref == page) return ref;
    }
    return kStatusPage;
}

CHttpActions::CHttpActions(CHttpRunItemList& list, const ENGINECOMMANDS& commands, PAGECONTEXT& context,
                           std::atomic<int>& busyCode)
    : m_list(list), m_commands(commands), m_context(context), m_busyCode(busyCode) {}

void CHttpActions::SetPauses(DWORD changedMs, DWORD openMs, DWORD formMs) {
    m_dwChangedPauseMs = changedMs;
    m_dwOpenPauseMs = openMs;
    m_dwFormPauseMs = formMs;
}

std::vector<CHttpActions::PAIR> CHttpActions::Split(const std::string& query) {
    std::vector<PAIR> pairs;
    CQStringParser parser(zbw::FromAnsi(query), u'&', u'"');
    for (int i = 1; i <= parser.GetCount(); ++i) {
        std::string raw = zbw::ToAnsi(parser.GetAt(i).GetStdString());
        size_t equals = raw.find('=');
        if (equals == std::string::npos) continue;
        pairs.push_back({UrlDecode(raw.substr(0, equals)), UrlDecode(raw.substr(equals + 1)), raw});
    }
    return pairs;
}

std::vector<std::pair<CString, CString>> CHttpActions::SplitQuery(const std::string& query) {
    std::vector<std::pair<CString, CString>> pairs;
    for (const PAIR& pair : Split(query)) pairs.emplace_back(pair.key, pair.value);
    return pairs;
}

bool CHttpActions::IsSameSite(const REQUESTSITE& site) {
    std::string host = Lower(site.host);
    if (!site.origin.empty() && (site.origin == "null" || Authority(site.origin) != host)) return false;
    if (!site.referer.empty() && Authority(site.referer) != host) return false;
    std::string fetchSite = Lower(site.fetchSite);
    return fetchSite.empty() || fetchSite == "same-origin" || fetchSite == "none";
}

bool CHttpActions::IsStateChange(const CString& key) const {
    static const char16_t* const kKeys[] = {u"RUN",          u"STOP",          u"ENABLE",  u"DISABLE",
                                            u"MOVEUP",       u"MOVEDOWN",      u"OPEN",    u"OPENCOMPARISON",
                                            u"OPENSETTINGS", u"RESETLASTRUNS", u"REMOVE",  u"LOAD",
                                            u"SAVE",         u"RESTART",       u"SHUTDOWN"};
    for (const char16_t* name : kKeys) {
        if (Is(key, name)) return true;
    }
    return false;
}

bool CHttpActions::ShowsProfile() const {
    const CString& page = m_context.strPage;
    return page == u"/profile.htm" || page == u"/profileform.htm" || page == kLogFilePage ||
           page == u"/checkrefresh.htm";
}

CString CHttpActions::CategoryOrAll() const {
    const std::vector<CString>* categories = m_context.pCategories;
    int index = m_context.nSelectedCategory;
    if (!categories || index < 0 || index >= static_cast<int>(categories->size())) return CString();
    return (*categories)[static_cast<size_t>(index)];
}

void CHttpActions::SelectCategory(const CString& name) {
    if (m_bCategoryDone) return;
    m_bCategoryDone = true;
    m_bSelected = true;
    m_context.nSelectedCategory = -1;
    for (size_t i = 0; m_context.pCategories && i < m_context.pCategories->size(); ++i) {
        if ((*m_context.pCategories)[i].CompareNoCase(name) == 0)
            m_context.nSelectedCategory = static_cast<int>(i);
    }
}

void CHttpActions::SelectProfile(const CString& name) {
    if (m_bProfileDone || !ShowsProfile()) return;
    m_bProfileDone = true;
    m_bSelected = true;
    m_context.nSelectedProfile = -1;
    for (INT_PTR i = 0; m_context.pSnapshot && i < m_context.pSnapshot->GetSize(); ++i) {
        if ((*m_context.pSnapshot)[i].GetName().CompareNoCase(name) == 0) {
            m_context.nSelectedProfile = static_cast<int>(i);
            break;
        }
    }
}

void CHttpActions::RunSelections(const std::string& query) {
    for (const PAIR& pair : Split(query)) {
        if (Is(pair.key, u"CATEGORY")) SelectCategory(pair.value);
        if (Is(pair.key, u"SHOWPROFILE")) SelectProfile(pair.value);
    }
}

CHttpActions::ANSWER CHttpActions::RunQuery(const std::string& query, const REQUESTSITE& site) {
    std::vector<PAIR> pairs = Split(query);
    bool sameSite = IsSameSite(site);
    bool acted = false;
    for (size_t i = 0; i < pairs.size(); ++i) {
        const PAIR& pair = pairs[i];
        if (Is(pair.key, u"REF")) {
            m_strReturnPage = zbw::ToUtf8(ReturnPageOf(pair.value));
            for (size_t rest = i + 1; rest < pairs.size(); ++rest)
                m_strReturnQuery += (m_strReturnQuery.empty() ? "" : "&") + pairs[rest].raw;
            break;
        }
        if (IsStateChange(pair.key) && !sameSite) {
            m_context.strErrorText = kRefusedText;
            continue;
        }
        if (RunPair(pair)) acted = true;
    }
    if (!m_strReturnPage.empty()) m_context.strReturnPage = zbw::FromUtf8(m_strReturnPage);
    if (!m_context.strErrorText.IsEmpty()) return ANSWER_PAGE;
    if (m_bChanged) {
        Sleep(m_dwChangedPauseMs);
        return m_bNoPage ? ANSWER_NO_CONTENT : ANSWER_SEE_OTHER;
    }
    if (m_bNoPage) return ANSWER_NO_CONTENT;
    if (m_bSelected || m_bFileView || (!acted && pairs.empty())) return ANSWER_PAGE;
    if (!acted && m_strReturnPage.empty()) m_context.strPage = kStatusPage;
    return ANSWER_SEE_OTHER;
}

bool CHttpActions::RunPair(const PAIR& pair) {
    const CString& key = pair.key;
    const CString& value = pair.value;
    if (Is(key, u"CATEGORY")) {
        SelectCategory(value);
        return false;
    }
    if (Is(key, u"SHOWPROFILE")) {
        SelectProfile(value);
        return false;
    }
    if (Is(key, u"rid") || Is(key, u"rpg") || Is(key, u"CURRFOLDER")) {
        if (Is(key, u"CURRFOLDER")) m_context.strBrowseFolder = value;
        m_bSelected = true;
        return false;
    }
    if (Is(key, u"URL")) return RunFileView(value);
    if (Is(key, u"LID") || Is(key, u"SCT")) {
        if (Is(key, u"LID")) m_context.strFileRunId = value;
        if (Is(key, u"SCT")) m_context.nFilePage = value.IsEmpty() ? -1 : _wtoi(value);
        if (!m_bFileView) m_bNoPage = true;
        return true;
    }
    if (RunProfileAction(key, value)) return true;
    return RunEngineCommand(key, value);
}

bool CHttpActions::RunProfileAction(const CString& key, const CString& value) {
    bool all = value == u"ALL";
    CString category = CategoryOrAll();
    bool changed = true;
    if (Is(key, u"RUN")) {
        if (all) {
            CallMainWindow(ENGINE_CMD_RUN_CATEGORY, category);
        } else if (value == u"SEQ") {
            CallMainWindow(ENGINE_CMD_RUN_IN_SEQUENCE, category);
        } else {
            changed = RunOneProfile(value);
        }
    } else if (Is(key, u"STOP")) {
        m_busyCode = CHttpAnswer::BUSY_STOPPING;
        all ? CallMainWindow(ENGINE_CMD_STOP_CATEGORY, category) : CallMainWindow(ENGINE_CMD_STOP, value);
    } else if (Is(key, u"ENABLE")) {
        all ? CallMainWindow(ENGINE_CMD_ENABLE_CATEGORY, category) : CallMainWindow(ENGINE_CMD_ENABLE, value);
    } else if (Is(key, u"DISABLE")) {
        m_busyCode = CHttpAnswer::BUSY_DISABLING;
        all ? CallMainWindow(ENGINE_CMD_DISABLE_CATEGORY, category)
            : CallMainWindow(ENGINE_CMD_DISABLE, value);
    } else if (Is(key, u"MOVEUP")) {
        CallMainWindow(ENGINE_CMD_MOVE_UP, value + ENGINE_ARGUMENT_SEPARATOR + category);
    } else if (Is(key, u"MOVEDOWN")) {
        CallMainWindow(ENGINE_CMD_MOVE_DOWN, value + ENGINE_ARGUMENT_SEPARATOR + category);
    } else if (Is(key, u"RESETLASTRUNS")) {
        CallMainWindow(ENGINE_CMD_RESET_LAST_RUNS, value);
    } else if (Is(key, u"OPEN") || Is(key, u"OPENCOMPARISON") || Is(key, u"OPENSETTINGS")) {
        RunOpen(key, value);
        return true;
    } else {
        return false;
    }
    if (changed) {
        m_bChanged = true;
        m_bNoPage = true;
    }
    return true;
}

// A run the main thread has not answered in time is under way as far as the page can tell: it
// is carried out when the main thread comes to it.
bool CHttpActions::RunOneProfile(const CString& name) {
    LRESULT result = RUNPROFILE_NOT_FOUND;
    const CEngineCall::OUTCOME outcome = CallMainWindow(ENGINE_CMD_RUN, name, &result);
    if (outcome == CEngineCall::CALL_PENDING || result == RUNPROFILE_STARTED) return true;
    m_context.strErrorText = RunResultText(static_cast<int>(result), name);
    return false;
}

CEngineCall::OUTCOME CHttpActions::CallMainWindow(WPARAM code, const CString& argument, LRESULT* result) {
    LRESULT answer = 0;
    CString text = argument;
    const CEngineCall::OUTCOME outcome =
        m_commands.call ? m_commands.call(code, text, answer) : CEngineCall::CALL_FAILED;
    if (result && outcome == CEngineCall::CALL_ANSWERED) *result = answer;
    return outcome;
}

// A change the main thread has not answered in time is still carried out (after a stop's pump,
// in the order it came), so only an answer of 0 or a call that never reached the window refuses.
bool CHttpActions::IsRefusedByMainWindow(WPARAM code, const CString& argument) {
    LRESULT result = 0;
    const CEngineCall::OUTCOME outcome = CallMainWindow(code, argument, &result);
    return outcome == CEngineCall::CALL_FAILED || (outcome == CEngineCall::CALL_ANSWERED && result == 0);
}

void CHttpActions::RunOpen(const CString& key, const CString& name) {
    if (m_context.settings.m_nService) {
        m_context.strErrorText =
            u"Unable to open Zebrodyne profile from browser when ZBEngine is running as service";
        return;
    }
    if (!m_context.bLocalClient) {
        m_context.strErrorText = u"Unable to open Zebrodyne profile on remote machine " +
                                 m_context.strClientIp + u" from this machine";
        return;
    }
    int mode = Is(key, u"OPEN")             ? OPENMODE_OPEN
               : Is(key, u"OPENCOMPARISON") ? OPENMODE_AUTOCOMPARE
                                            : OPENMODE_SETTINGS;
    CString error;
    if (!m_list.OpenProfileInSyncProgram(name, mode, error)) {
        m_context.strErrorText = error;
        return;
    }
    Sleep(m_dwOpenPauseMs);
    m_bChanged = true;
}

bool CHttpActions::RunEngineCommand(const CString& key, const CString& value) {
    if (Is(key, u"REMOVE")) {
        if (IsRefusedByMainWindow(ENGINE_CMD_REMOVE, value)) {
            m_context.strErrorText = value + u" does not exist";
            return true;
        }
        CallMainWindow(ENGINE_CMD_SAVE, CString());
    } else if (Is(key, u"LOAD")) {
        CallMainWindow(ENGINE_CMD_LOAD, CString());
    } else if (Is(key, u"SAVE")) {
        CallMainWindow(ENGINE_CMD_SAVE, CString());
    } else if (Is(key, u"RESTART")) {
        m_commands.post(ENGINE_CMD_RESTART);
        m_context.strErrorText = u"ZBEngine is restarting... (this may take up to 30 seconds)";
        return true;
    } else if (Is(key, u"SHUTDOWN")) {
        m_commands.post(ENGINE_CMD_SHUTDOWN);
        m_context.strErrorText = u"ZBEngine is shutting down... ";
        return true;
    } else {
        return false;
    }
    m_bChanged = true;
    return true;
}

bool CHttpActions::IsShownFile(const CString& path) const {
    if (path.IsEmpty()) return false;
    const CEngineSettings& settings = m_context.settings;
    if (path.CompareNoCase(settings.m_strLogPath) == 0 || path.CompareNoCase(settings.m_strSettingsPath) == 0)
        return true;
    for (INT_PTR i = 0; m_context.pSnapshot && i < m_context.pSnapshot->GetSize(); ++i) {
        if (path.CompareNoCase((*m_context.pSnapshot)[i].GetLogFilePath()) == 0) return true;
    }
    return false;
}

bool CHttpActions::RunFileView(const CString& path) {
    bool kind = EndsWithNoCase(path, u".log") || EndsWithNoCase(path, u".xml");
    if (!kind || !IsShownFile(path)) {
        m_bNoPage = true;
        return true;
    }
    m_bFileView = true;
    m_context.strFileName = path;
    m_context.strPage = kLogFilePage;
    return true;
}

bool CHttpActions::ReadForm(const std::string& body, CLaunchItem& item, bool& cancel) const {
    item.Reset();
    item.m_nEnabled = 1;
    bool sourceOnlyIf = false, targetOnlyIf = false, sourceSoon = false, targetSoon = false;
    static const char16_t* const kDays[] = {u"sun", u"mon", u"tue", u"wed", u"thu", u"fri", u"sat"};
    for (const PAIR& pair : Split(body)) {
        const CString& key = pair.key;
        const CString& value = pair.value;
        if (Is(key, u"profile"))
            item.m_strProfile = value;
        else if (Is(key, u"category"))
            item.m_strCategory = value;
        else if (Is(key, u"description"))
            item.m_strDescription = value;
        else if (Is(key, u"everyminute"))
            item.m_schedule.nEveryMinute = _wtoi(value);
        else if (Is(key, u"everyhour"))
            item.m_schedule.nEveryHour = _wtoi(value);
        else if (Is(key, u"everyday"))
            item.m_schedule.nEveryDay = _wtoi(value);
        else if (Is(key, u"starttime")) {
            COleDateTime start;
            if (value.GetLength() <= kMaxStartTimeChars && !value.IsEmpty() && start.ParseDateTime(value)) {
                item.m_schedule.dtStart = start;
                item.m_schedule.strStartTime = value;
            }
        } else if (Is(key, u"onerror"))
            item.m_nOnErrorRerun = _wtoi(value);
        else if (Is(key, u"max_onerror"))
            item.m_nMaxRerun = _wtoi(value);
        else if (Is(key, u"runmissed"))
            item.m_nRunMissed = 1;
        else if (Is(key, u"sourceonlyif"))
            sourceOnlyIf = true;
        else if (Is(key, u"targetonlyif"))
            targetOnlyIf = true;
        else if (Is(key, u"sourcesoon"))
            sourceSoon = true;
        else if (Is(key, u"targetsoon"))
            targetSoon = true;
        else if (Is(key, u"startup"))
            item.m_nStartup = 1;
        else if (Is(key, u"asavail"))
            item.m_nAsAvailable = MONITOR_SOURCE | MONITOR_TARGET;
        else if (Is(key, u"asavail_timeframe")) {
            item.m_nAsAvailableFrequency = Is(value, u"hourly")   ? ASAVAILABLE_HOURLY
                                           : Is(value, u"daily")  ? ASAVAILABLE_DAILY
                                           : Is(value, u"weekly") ? ASAVAILABLE_WEEKLY
                                                                  : ASAVAILABLE_IMMEDIATELY;
        } else if (Is(key, u"profileafter")) {
            if (!value.IsEmpty() && !Is(value, u"none")) item.m_strProfileAfter = value;
        } else if (Is(key, u"runafternotonerror"))
            item.m_bNotOnError = true;
        else if (Is(key, u"ping"))
            item.m_nPing = 1;
        else if (Is(key, u"action") && Is(value, u"cancel"))
            cancel = true;
        else {
            for (int day = 0; day < 7; ++day) {
                if (Is(key, kDays[day])) item.m_schedule.nExcludeDays |= 1 << day;
            }
        }
    }
    item.m_nOnlyIfChanged = sourceOnlyIf || targetOnlyIf ? 1 : 0;
    item.m_nAsSoonAsChanged = sourceSoon || targetSoon ? 1 : 0;
    item.m_nMonitor = Side(sourceOnlyIf || sourceSoon, targetOnlyIf || targetSoon);
    item.m_strProfile.Trim();
    return true;
}

CHttpActions::ANSWER CHttpActions::RunForm(const std::string& path, const std::string& body,
                                           const std::string& urlQuery, const REQUESTSITE& site,
                                           const CString& token) {
    bool add = path == "/add.htm";
    bool edit = path == "/edit.htm";
    for (const PAIR& pair : Split(urlQuery)) {
        if (Is(pair.key, u"REF") && m_strReturnPage.empty())
            m_strReturnPage = zbw::ToUtf8(ReturnPageOf(pair.value));
    }
    if (!add && !edit) return ShowError(u"Sorry, invalid action specified.");
    CString sentToken;
    for (const PAIR& pair : Split(body)) {
        if (Is(pair.key, u"token")) sentToken = pair.value;
    }
    if (!IsSameSite(site) || token.IsEmpty() || sentToken != token) return ShowError(kRefusedText);
    CLaunchItem item;
    bool cancel = false;
    ReadForm(body, item, cancel);
    m_context.strPage = kStatusPage;
    if (cancel) return ANSWER_SEE_OTHER;
    CString validation;
    if (!item.Validate(&validation)) return ShowError(u"Invalid settings specified. " + validation);
    const CString xml = u"<SETTINGS>" + item.ToXmlText() + u"</SETTINGS>";
    if (IsRefusedByMainWindow(add ? ENGINE_CMD_ADD : ENGINE_CMD_SET, xml)) {
        return ShowError(
            add ? u"Error adding new profile to list: a profile with the same name already exists."
                : u"This profile does not exists in the list.");
    }
    CallMainWindow(ENGINE_CMD_SAVE, CString());
    Sleep(m_dwFormPauseMs);
    return ANSWER_SEE_OTHER;
}

CHttpActions::ANSWER CHttpActions::ShowError(const CString& text) {
    m_context.strErrorText = text;
    m_context.strPage = kErrorPage;
    return ANSWER_PAGE;
}

std::string CHttpActions::Location() const {
    std::string location = m_strReturnPage.empty() ? zbw::ToUtf8(m_context.strPage) : m_strReturnPage;
    if (location == zbw::ToUtf8(CString(u"/profile.htm")) && m_context.nSelectedProfile < 0)
        location = "/status.htm";
    if (!m_strReturnQuery.empty()) location += "?" + m_strReturnQuery;
    auto separator = [&] { return location.find('?') == std::string::npos ? "?" : "&"; };
    const CArray<CZBProjectRunItemData>* snapshot = m_context.pSnapshot;
    int profile = m_context.nSelectedProfile;
    if (snapshot && profile >= 0 && profile < snapshot->GetSize())
        location += separator() + std::string("SHOWPROFILE=") + UrlEncode((*snapshot)[profile].GetName());
    CString category = CategoryOrAll();
    if (!category.IsEmpty()) location += separator() + std::string("CATEGORY=") + UrlEncode(category);
    return CHttpAnswer::SafeLocation(location);
}
