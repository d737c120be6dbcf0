#include "dovrane/web/PageTemplate.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "common/PathUtils.h"
#include "common/TextUtils.h"
#include "common/UrlCodec.h"
#include "dovrane/threads/LaunchItem.h"
#include "dovrane/threads/ZBProjectRunItemData.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"

namespace {

const char16_t kStatusPage[] = u"/status.htm";
const char16_t kProfilePage[] = u"/profile.htm";
const char16_t kFormPage[] = u"/profileform.htm";
const char16_t kLogFilePage[] = u"/logfile.htm";
const int kRequiredVersion = 20140000;

// HTML-escaped for text and for attribute values in either quote; "#" too, so no inserted text
// can form a tag that a later step would expand.
CString Html(const CString& text) {
    CString escaped = HtmlEscape(text);
    escaped.Replace(u"#", u"&#35;");
    escaped.Replace(u"'", u"&#39;");
    return escaped;
}

CString Encoded(const CString& text) {
    return CString(UrlEncode(text).c_str());
}

CString Checked(bool set) {
    return set ? CString(u"checked") : CString();
}

CString Number(int value) {
    return IntToString(value);
}

CString Shortened(const CString& path, int maxChars) {
    std::vector<char16_t> buffer(path.GetString(), path.GetString() + path.GetLength() + 1);
    ShortenPath(buffer.data(), maxChars);
    return CString(buffer.data());
}

// The positions of the breaks, in the coordinates of the unwrapped text.
std::vector<int> BreakPoints(const CString& text, int n) {
    std::vector<int> points;
    if (n <= 0) return points;
    auto isBreak = [&](int at) { return text[at] == u' ' || text[at] == u'-'; };
    int position = n;
    while (position < text.GetLength()) {
        int found = -1;
        for (int k = 0; k <= 5 && found < 0 && position + k < text.GetLength(); ++k) {
            if (isBreak(position + k)) found = position + k;
        }
        for (int k = 1; k <= 5 && found < 0 && position - k >= 0; ++k) {
            if (isBreak(position - k)) found = position - k;
        }
        if (found < 0) found = position;
        if (!points.empty() && found <= points.back()) found = position;
        points.push_back(found);
        position = found + n;
    }
    return points;
}

bool IsActiveState(int state) {
    return state == 1 || state == 2 || state == 3 || state == 6;
}

}  // namespace

CPageTemplate::CPageTemplate(const PAGECONTEXT& context)
    : m_context(context), m_nProfile(context.nSelectedProfile), m_nCategory(context.nSelectedCategory) {}

// A profile loop inside the category loop is that loop's own: it lists each category's profiles.
CString CPageTemplate::Expand(const CString& page) {
    CString text = page;
    int categories = text.Find(u"#LOOP-CATEGORIES#");
    int categoriesEnd = categories < 0 ? -1 : text.Find(u"#ENDLOOP-CATEGORIES#", categories);
    int profiles = text.Find(u"#LOOP-PROFILES#");
    bool nested = categoriesEnd >= 0 && profiles > categories && profiles < categoriesEnd;
    if (!nested) ReplaceLoop(text, u"#LOOP-PROFILES#", u"#ENDLOOP-PROFILES#", true);
    ReplaceLoop(text, u"#LOOP-CATEGORIES#", u"#ENDLOOP-CATEGORIES#", false);
    ReplaceTags(text);
    return text;
}

bool CPageTemplate::ReplaceLoop(CString& text, LPCWSTR start, LPCWSTR end, bool profiles) {
    int from = text.Find(start);
    if (from < 0) return false;
    int to = text.Find(end, from);
    if (to < 0) return false;
    int startLength = CString(start).GetLength();
    CString section = text.Mid(from + startLength, to - from - startLength);
    CString expanded = profiles ? ExpandProfileLoop(section) : ExpandCategoryLoop(section);
    text = text.Left(from) + expanded + text.Mid(to + CString(end).GetLength());
    return true;
}

CString CPageTemplate::ExpandProfileLoop(const CString& section) {
    CString result;
    int saved = m_nProfile;
    const CString* category = CurrentCategory();
    for (int i = 0; m_context.pSnapshot && i < m_context.pSnapshot->GetSize(); ++i) {
        const CZBProjectRunItemData& item = (*m_context.pSnapshot)[i];
        if (category && item.GetLaunchItem().m_strCategory.CompareNoCase(*category) != 0) continue;
        m_nProfile = i;
        CString copy = section;
        ReplaceTags(copy);
        result += copy;
    }
    m_nProfile = saved;
    return result;
}

CString CPageTemplate::ExpandCategoryLoop(const CString& section) {
    CString result;
    int saved = m_nCategory;
    int count = m_context.pCategories ? static_cast<int>(m_context.pCategories->size()) : 0;
    for (int i = 0; i < count; ++i) {
        m_nCategory = i;
        CString copy = section;
        ReplaceLoop(copy, u"#LOOP-PROFILES#", u"#ENDLOOP-PROFILES#", true);
        ReplaceTags(copy);
        result += copy;
    }
    m_nCategory = saved;
    return result;
}

int CPageTemplate::KeepSection(CString& text, LPCWSTR start, LPCWSTR end, bool keep) {
    int startLength = CString(start).GetLength();
    int endLength = CString(end).GetLength();
    int count = 0;
    int from = text.Find(start);
    while (from >= 0) {
        int to = text.Find(end, from + startLength);
        if (to < 0) break;
        CString inner = keep ? text.Mid(from + startLength, to - from - startLength) : CString();
        text = text.Left(from) + inner + text.Mid(to + endLength);
        ++count;
        from = text.Find(start, from + inner.GetLength());
    }
    return count;
}

void CPageTemplate::WrapText(CString& text, int n) {
    std::vector<int> points = BreakPoints(text, n);
    for (auto at = points.rbegin(); at != points.rend(); ++at) text.Insert(*at, u"<br>");
}

CString CPageTemplate::WrapEscaped(const CString& text, int n) {
    CString result;
    int from = 0;
    for (int at : BreakPoints(text, n)) {
        result += Html(text.Mid(from, at - from)) + u"<br>";
        from = at;
    }
    return result + Html(text.Mid(from));
}

std::array<CPageTemplate::SECTION, 7> CPageTemplate::StatusSections(int runState) {
    bool profile = runState != kNoProfileState;
    bool active = IsActiveState(runState);
    return {
        {{u"#IF_PROFILE_STATUSACTIVE#", u"#END_IF_PROFILE_STATUSACTIVE#", profile && active},
         {u"#IF_PROFILE_STATUSNONACTIVE#", u"#END_IF_PROFILE_STATUSNONACTIVE#", profile && !active},
         {u"#IF_PROFILE_STATUSRUNNING#", u"#END_IF_PROFILE_STATUSRUNNING#", profile && runState == 4},
         {u"#IF_PROFILE_STATUSNOTRUNNING#", u"#END_IF_PROFILE_STATUSNOTRUNNING#", profile && runState != 4},
         {u"#IF_PROFILE_STATUSNOTAVAIL#", u"#END_IF_PROFILE_STATUSNOTAVAIL#", profile && runState == 7},
         {u"#IF_PROFILE_STATUSDISABLED#", u"#END_IF_PROFILE_STATUSDISABLED#", profile && runState == 0},
         {u"#IF_PROFILE_STATUSERROR#", u"#END_IF_PROFILE_STATUSERROR#", profile && runState == 5}}};
}

void CPageTemplate::KeepStatusSections(CString& text, int runState) {
    for (const SECTION& section : StatusSections(runState))
        KeepSection(text, section.start, section.end, section.keep);
}

const CZBProjectRunItemData* CPageTemplate::CurrentProfile() const {
    if (!m_context.pSnapshot || m_nProfile < 0 || m_nProfile >= m_context.pSnapshot->GetSize())
        return nullptr;
    return &(*m_context.pSnapshot)[m_nProfile];
}

const CString* CPageTemplate::CurrentCategory() const {
    if (!m_context.pCategories || m_nCategory < 0 ||
        m_nCategory >= static_cast<int>(m_context.pCategories->size()))
        return nullptr;
    return &(*m_context.pCategories)[static_cast<size_t>(m_nCategory)];
}

CString CPageTemplate::PageLink() const {
    CString link = Html(m_context.strPage);
    bool showsProfile = link == kProfilePage || link == kFormPage || link == kLogFilePage;
    const CZBProjectRunItemData* selected = nullptr;
    if (m_context.pSnapshot && m_context.nSelectedProfile >= 0 &&
        m_context.nSelectedProfile < m_context.pSnapshot->GetSize())
        selected = &(*m_context.pSnapshot)[m_context.nSelectedProfile];
    if (showsProfile && selected) link += u"?SHOWPROFILE=" + Encoded(selected->GetName());
    if (m_context.pCategories && m_context.nSelectedCategory >= 0 &&
        m_context.nSelectedCategory < static_cast<int>(m_context.pCategories->size())) {
        link += link.Find(u'?') >= 0 ? u"&CATEGORY=" : u"?CATEGORY=";
        link += Encoded((*m_context.pCategories)[static_cast<size_t>(m_context.nSelectedCategory)]);
    }
    return link;
}

CString CPageTemplate::CommandLink(LPCWSTR command, const CString& value) const {
    CString link = PageLink();
    link += link.Find(u'?') >= 0 ? u"&" : u"?";
    return link + command + u"=" + Encoded(value);
}

bool CPageTemplate::HasStatusSections() const {
    for (const char16_t* tag :
         {u"#IF_PROFILE_STATUSACTIVE#", u"#IF_PROFILE_STATUSNONACTIVE#", u"#IF_PROFILE_STATUSRUNNING#",
          u"#IF_PROFILE_STATUSNOTRUNNING#", u"#IF_PROFILE_STATUSNOTAVAIL#", u"#IF_PROFILE_STATUSDISABLED#",
          u"#IF_PROFILE_STATUSERROR#"}) {
        if (Has(tag)) return true;
    }
    return false;
}

bool CPageTemplate::Has(LPCWSTR tag) const {
    return m_present.count(std::u16string(tag)) != 0;
}

// Values are gathered and put in by one pass over the text at the end of ReplaceTags.
void CPageTemplate::Put(CString&, LPCWSTR tag, const CString& value) {
    if (Has(tag)) m_values[std::u16string(tag)] = value;
}

void CPageTemplate::Put(CString&, LPCWSTR tag, const std::function<CString()>& value) {
    if (Has(tag)) m_values[std::u16string(tag)] = value();
}

void CPageTemplate::Set(LPCWSTR tag, const CString& value) {
    m_values[std::u16string(tag)] = value;
}

// One pass: each "#NAME#" with a value gives way to it. A value that holds tags itself (the run
// items' HTML carries log links) has them put in too, once.
CString CPageTemplate::Substitute(const CString& text, bool inner) const {
    const std::u16string& units = text.GetStdString();
    std::u16string out;
    out.reserve(units.size() + units.size() / 4);
    size_t at = 0;
    for (;;) {
        size_t open = units.find(u'#', at);
        size_t close = open == std::u16string::npos ? open : units.find(u'#', open + 1);
        if (close == std::u16string::npos) break;
        auto found = IsTagName(units, open, close) ? m_values.find(units.substr(open, close - open + 1))
                                                   : m_values.end();
        if (found == m_values.end()) {
            out.append(units, at, close - at);
            at = close;
            continue;
        }
        out.append(units, at, open - at);
        const CString& value = found->second;
        out +=
            !inner && value.Find(u'#') >= 0 ? Substitute(value, true).GetStdString() : value.GetStdString();
        at = close + 1;
    }
    out.append(units, at, std::u16string::npos);
    return CString(std::move(out));
}

// Sections are gathered and cut or kept by one pass before the values go in.
void CPageTemplate::Keep(CString&, LPCWSTR start, LPCWSTR end, bool keep) {
    if (Has(start)) m_sections[std::u16string(start)] = {end, keep};
}

// Each start tag pairs with the first of its end tags after it; one without an end stays.
CString CPageTemplate::ApplySections(const CString& text) const {
    const std::u16string& units = text.GetStdString();
    std::u16string out;
    out.reserve(units.size());
    std::vector<size_t> endsToDrop;  // end tags of kept sections, with their lengths
    std::vector<size_t> endLengths;
    size_t at = 0;
    for (;;) {
        size_t open = units.find(u'#', at);
        size_t close = open == std::u16string::npos ? open : units.find(u'#', open + 1);
        if (close == std::u16string::npos) break;
        auto drop = std::find(endsToDrop.begin(), endsToDrop.end(), open);
        if (drop != endsToDrop.end()) {
            size_t index = static_cast<size_t>(drop - endsToDrop.begin());
            out.append(units, at, open - at);
            at = open + endLengths[index];
            endsToDrop.erase(drop);
            endLengths.erase(endLengths.begin() + static_cast<std::ptrdiff_t>(index));
            continue;
        }
        auto found = IsTagName(units, open, close) ? m_sections.find(units.substr(open, close - open + 1))
                                                   : m_sections.end();
        size_t end =
            found == m_sections.end() ? std::u16string::npos : units.find(found->second.first, close + 1);
        if (end == std::u16string::npos) {
            out.append(units, at, close - at);
            at = close;
            continue;
        }
        out.append(units, at, open - at);
        size_t endLength = std::char_traits<char16_t>::length(found->second.first);
        if (found->second.second) {
            endsToDrop.push_back(end);
            endLengths.push_back(endLength);
            at = close + 1;
        } else {
            at = end + endLength;
        }
    }
    out.append(units, at, std::u16string::npos);
    return CString(std::move(out));
}

bool CPageTemplate::IsTagName(const std::u16string& units, size_t open, size_t close) {
    if (close <= open + 1) return false;
    for (size_t i = open + 1; i < close; ++i) {
        char16_t ch = units[i];
        if (!((ch >= u'A' && ch <= u'Z') || (ch >= u'0' && ch <= u'9') || ch == u'_' || ch == u'-'))
            return false;
    }
    return true;
}

// Every "#NAME#" of the text, so that each step touches only the tags that occur.
void CPageTemplate::ScanTags(const CString& text) {
    m_present.clear();
    const std::u16string& units = text.GetStdString();
    size_t open = units.find(u'#');
    while (open != std::u16string::npos) {
        size_t close = units.find(u'#', open + 1);
        if (close == std::u16string::npos) break;
        if (IsTagName(units, open, close)) {
            m_present.insert(units.substr(open, close - open + 1));
            open = units.find(u'#', close + 1);
        } else {
            open = close;
        }
    }
}

void CPageTemplate::ReplaceTags(CString& text) {
    m_values.clear();
    m_sections.clear();
    ScanTags(text);
    ReplaceClientSections(text);
    ReplaceNameBox(text);
    if (Has(u"#PROFILE_NAME_BOX#")) ScanTags(text);
    ReplaceCategoryTags(text);
    ReplaceCommandLinks(text);
    ReplaceEngineSections(text);
    ReplaceErrorTags(text);
    ReplaceFormTags(text);
    ReplaceProfileTags(text);
    const CZBProjectRunItemData* item = CurrentProfile();
    if (HasStatusSections()) {
        for (const SECTION& section : StatusSections(item ? item->GetRunState() : kNoProfileState))
            Keep(text, section.start, section.end, section.keep);
    }
    ReplaceSelectedCategorySections(text);
    ReplaceSettingsTags(text);
    ReplaceEngineTags(text);
    ReplaceScriptTags(text);
    ReplaceFileTags(text);
    if (!m_sections.empty()) text = ApplySections(text);
    if (!m_values.empty()) text = Substitute(text, false);
}

void CPageTemplate::ReplaceClientSections(CString& text) {
    bool local = m_context.bLocalClient;
    bool edit = CurrentProfile() != nullptr;
    Keep(text, u"#IF_LOCAL_CLIENT#", u"#END_IF_LOCAL_CLIENT#", local);
    Keep(text, u"#IF_NOT_LOCAL_CLIENT#", u"#END_IF_NOT_LOCAL_CLIENT#", !local);
    Keep(text, u"#IF_LOCAL_CLIENT_OR_EDIT#", u"#END_IF_LOCAL_CLIENT_OR_EDIT#", local || edit);
    Keep(text, u"#IF_NOT_LOCAL_CLIENT_OR_EDIT#", u"#END_IF_NOT_LOCAL_CLIENT_OR_EDIT#", !(local || edit));
    Keep(text, u"#IF_FORM_ACTIONADD#", u"#ENDIF_FORM_ACTIONADD#", !edit);
}

void CPageTemplate::ReplaceNameBox(CString& text) {
    Put(text, u"#ONCLICK_REFRESH#", u" window.setTimeout(\"CheckRefresh(true)\", 500);");
    if (CurrentProfile()) {
        text.Replace(
            u"#PROFILE_NAME_BOX#",
            u"<input type=\"#PROFILE_NAME_ENTRY_TYPE#\" name=\"showonly\" value=\"#PROFILE_NAME#\" "
            u"disabled size='80'> <input type=\"hidden\" name=\"profile\" value=\"#PROFILE_NAME#\"> ");
    } else {
        text.Replace(
            u"#PROFILE_NAME_BOX#",
            u"<input type=\"#PROFILE_NAME_ENTRY_TYPE#\" id=\"profileinput\" name=\"profileinput\" "
            u"value=\"#PROFILE_NAME#\" size='80'> <input type=\"BUTTON\" OnClick=\"openbrowsewin();\" "
            u"VALUE=\"Select Profile ...\"> <input type=\"hidden\" id=\"profile\" name=\"profile\" "
            u"value=\"#PROFILE_NAME#\">");
    }
}

void CPageTemplate::ReplaceCategoryTags(CString& text) {
    const CString* category = CurrentCategory();
    CString name = category ? *category : CString();
    Put(text, u"#CATEGORY_NAME#", [&] { return CString(Html(name)); });
    Put(text, u"#SHOW_CATEGORY_COMMAND#",
        [&] { return CString(Html(m_context.strPage) + u"?CATEGORY=" + Encoded(name)); });
    CString add = CString(kFormPage) + u"?CATEGORY=" + Encoded(name) + u"&REF=" + Encoded(m_context.strPage);
    Put(text, u"#ADD_COMMAND#", add);
}

void CPageTemplate::ReplaceCommandLinks(CString& text) {
    static const struct {
        const char16_t* tag;
        const char16_t* command;
        const char16_t* value;
    } kLinks[] = {
        {u"#ENABLE_ALL_COMMAND#", u"ENABLE", u"ALL"}, {u"#DISABLE_ALL_COMMAND#", u"DISABLE", u"ALL"},
        {u"#RUN_ALL_COMMAND_SEQ#", u"RUN", u"SEQ"},   {u"#RUN_ALL_COMMAND#", u"RUN", u"ALL"},
        {u"#STOP_ALL_COMMAND#", u"STOP", u"ALL"},     {u"#LOAD_COMMAND#", u"LOAD", u"ALL"},
        {u"#SAVE_COMMAND#", u"SAVE", u"ALL"},         {u"#SHUTDOWN_COMMAND#", u"SHUTDOWN", u"ALL"},
        {u"#RESTART_COMMAND#", u"RESTART", u"ALL"},
    };
    for (const auto& link : kLinks) {
        if (Has(link.tag)) Put(text, link.tag, CommandLink(link.command, link.value));
    }
    CString logView = CString(kLogFilePage) + u"?URL=";
    Put(text, u"#VIEW_ZBENGINE_LOG#",
        [&] { return CString(logView + Encoded(m_context.settings.m_strLogPath)); });
    Put(text, u"#VIEW_ZBENGINE_XML#",
        [&] { return CString(logView + Encoded(m_context.settings.m_strSettingsPath)); });
}

void CPageTemplate::ReplaceEngineSections(CString& text) {
    const CEngineSettings& settings = m_context.settings;
    bool empty = !m_context.pSnapshot || m_context.pSnapshot->GetSize() == 0;
    Keep(text, u"#IF_NOSAVE#", u"#END_IF_NOSAVE#", !settings.m_bSaved);
    Keep(text, u"#IF_NODB#", u"#END_IF_NODB#", m_context.bDatabaseMissing);
    Keep(text, u"#IF_NOPROFILES#", u"#END_IF_NOPROFILES#", empty);
    Keep(text, u"#IF_NOZB#", u"#END_IF_NOZB#", settings.m_nSyncProgramMissing != 0);
    Keep(text, u"#IF_NOT_REQUIRED_VERSION#", u"#END_IF_NOT_REQUIRED_VERSION#",
         settings.m_nSyncProgramBuild < kRequiredVersion);
    Keep(text, u"#IF_NEWINSTALL#", u"#END_IF_NEWINSTALL#", m_context.bShowNewInstall);
}

void CPageTemplate::ReplaceErrorTags(CString& text) {
    bool error = !m_context.strErrorText.IsEmpty();
    CString home = CString(kStatusPage);
    if (m_context.nSelectedCategory >= 0 && m_context.pCategories &&
        m_context.nSelectedCategory < static_cast<int>(m_context.pCategories->size()))
        home += u"?CATEGORY=" +
                Encoded((*m_context.pCategories)[static_cast<size_t>(m_context.nSelectedCategory)]);
    Put(text, u"#HOME#", home);
    Put(text, u"#BACK_AFTERERROR#", m_context.strReturnPage.IsEmpty() ? home : Html(m_context.strReturnPage));
    Put(text, u"#ERROR_TEXT#", [&] { return CString(Html(m_context.strErrorText)); });
    Keep(text, u"#IF_ERROR#", u"#ENDIF_ERROR#", error);
    Keep(text, u"#IF_NOTERROR#", u"#ENDIF_NOTERROR#", !error);
    Put(text, u"#SHOW_ALL_CATEGORY_COMMAND#", Html(m_context.strPage));
}

void CPageTemplate::ReplaceFormTags(CString& text) {
    bool edit = CurrentProfile() != nullptr;
    CString back = m_context.strReturnPage.IsEmpty() ? CString(kStatusPage) : m_context.strReturnPage;
    Put(text, u"#FORM_ACTION#",
        [&] { return CString(CString(edit ? u"edit.htm?REF=" : u"add.htm?REF=") + Encoded(back)); });
    Put(text, u"#PROFILE_NAME_ENTRY_TYPE#", u"text");
    Put(text, u"#PROFILE_NAME_ENTRY_STATUS#", edit ? u"disabled" : u"");
    Put(text, u"#FORM_TOKEN#", [&] { return CString(Html(m_context.strFormToken)); });
}

void CPageTemplate::ReplaceProfileTags(CString& text) {
    const CZBProjectRunItemData* item = CurrentProfile();
    if (!item) {
        ReplaceNoProfileTags(text);
        return;
    }
    const CLaunchItem& launch = item->GetLaunchItem();
    Put(text, u"#PROFILE_COUNTER#", Number(m_nProfile + 1));
    Put(text, u"#PROFILE_NAME_ABBREVIATION#",
        [&] { return CString(WrapEscaped(Shortened(item->GetName(), 60), kWrapAbbreviation)); });
    Put(text, u"#PROFILE_NAME#", [&] { return CString(Html(item->GetName())); });
    Put(text, u"#PROFILE_DESCRIPTION_ABBREVIATION#",
        [&] { return CString(WrapEscaped(launch.m_strDescription, kWrapAbbreviation)); });
    Put(text, u"#PROFILE_DESCRIPTION#", [&] { return CString(Html(launch.m_strDescription)); });
    Put(text, u"#PROFILE_CATEGORY#", [&] { return CString(Html(launch.m_strCategory)); });
    Put(text, u"#PROFILE_STATUS#", item->GetStatusText());
    Put(text, u"#PROFILE_SETTINGS_HTML#", [&] { return CString(item->GetSettingsHtml()); });
    Put(text, u"#PROFILE_SETTINGS#", [&] { return CString(Html(item->GetSettingsText())); });
    Put(text, u"#PROFILE_SOURCE#", [&] { return CString(Html(item->GetSource())); });
    Put(text, u"#PROFILE_TARGET#", [&] { return CString(Html(item->GetTarget())); });
    Put(text, u"#PROFILE_EXECUTION_METHOD#", [&] { return CString(Html(item->GetExecutionMethod())); });
    Keep(text, u"#IF_PROFILE_DETAILS_EXTRA#", u"#ENDIF_PROFILE_DETAILS_EXTRA#",
         !item->GetProgressHtml().IsEmpty());
    Put(text, u"#PROFILE_DETAILS_EXTRA#", [&] { return CString(item->GetProgressHtml()); });
    Put(text, u"#PROFILE_DETAILS#", [&] { return CString(Html(item->GetDetails())); });
    ReplaceRunTexts(text, *item);
    // Also inside the run texts, whose log links hold these tags.
    CString logView = CString(kLogFilePage) + u"?SHOWPROFILE=" + Encoded(item->GetName()) + u"&URL=" +
                      Encoded(item->GetLogFilePath());
    Set(u"#PROFILE_SHOWLOGFILE_COMMAND_SPECIAL#", logView);
    Set(u"#PROFILE_SHOWLOGFILE_COMMAND#", logView);
    ReplaceLogFileTags(text, *item);
    ReplaceProfileLinks(text, item->GetName());
    ReplaceScheduleValues(text, *item);
}

void CPageTemplate::ReplaceRunTexts(CString& text, const CZBProjectRunItemData& item) {
    Put(text, u"#PROFILE_LASTRUNS#", [&] {
        CString runs = item.GetLastRuns();
        runs.Replace(u"*?*", u"<br>");
        return runs;
    }());
    Put(text, u"#PROFILE_LASTRUN#", item.GetLastRun());
    Put(text, u"#PROFILE_LASTOKRUN#", [&] { return CString(Html(item.GetLastOkRun())); });
    CString next = item.GetNextRun();
    CString nextRuns = Html(next);
    if (next != u"None" && next != u"Manual" && next.Find(u"As soon as all folders") < 0) {
        nextRuns += u"<br>";
        for (const CString* further : {&item.GetNextRunText2(), &item.GetNextRunText3(),
                                       &item.GetNextRunText4(), &item.GetNextRunText5()})
            nextRuns += u"<br>" + Html(*further);
    }
    Put(text, u"#PROFILE_NEXTRUNS#", nextRuns);
    Put(text, u"#PROFILE_NEXTRUN#", [&] { return CString(Html(next)); });
}

void CPageTemplate::ReplaceLogFileTags(CString& text, const CZBProjectRunItemData& item) {
    bool none = item.GetLogFilePath().IsEmpty();
    Keep(text, u"#IF_PROFILE_LOGFILE_NOTSET#", u"#ENDIF_PROFILE_LOGFILE_NOTSET#", none);
    if (none) {
        Put(text, u"#PROFILE_LOGFILE_PATH_SPECIAL#", u"None");
        Put(text, u"#PROFILE_LOGFILE_PATH#", u"None");
        Put(text, u"#PROFILE_LOGFILE_CONTENT#", u" ");
        return;
    }
    CString special = item.GetLogFilePath();
    special.Replace(u"\\", u"\\\\");
    Put(text, u"#PROFILE_LOGFILE_PATH_SPECIAL#", [&] { return CString(Html(special)); });
    Put(text, u"#PROFILE_LOGFILE_PATH#", [&] { return CString(Html(item.GetLogFilePath())); });
    Put(text, u"#PROFILE_LOGFILE_CONTENT#", u" ");
}

void CPageTemplate::ReplaceProfileLinks(CString& text, const CString& name) {
    static const struct {
        const char16_t* tag;
        const char16_t* command;
    } kLinks[] = {
        {u"#PROFILE_RUN_COMMAND#", u"RUN"},
        {u"#PROFILE_STOP_COMMAND#", u"STOP"},
        {u"#PROFILE_ENABLE_COMMAND#", u"ENABLE"},
        {u"#PROFILE_DISABLE_COMMAND#", u"DISABLE"},
        {u"#PROFILE_REMOVE_COMMAND#", u"REMOVE"},
        {u"#PROFILE_MOVEUP_COMMAND#", u"MOVEUP"},
        {u"#PROFILE_MOVEDOWN_COMMAND#", u"MOVEDOWN"},
        {u"#PROFILE_OPENCOMPARISON_COMMAND#", u"OPENCOMPARISON"},
        {u"#PROFILE_OPENSETTINGS_COMMAND#", u"OPENSETTINGS"},
        {u"#PROFILE_OPEN_COMMAND#", u"OPEN"},
        {u"#RESET_LASTRUNS_COMMAND#", u"RESETLASTRUNS"},
    };
    for (const auto& link : kLinks) {
        if (Has(link.tag)) Put(text, link.tag, CommandLink(link.command, name));
    }
    Put(text, u"#PROFILE_SHOW_COMMAND#",
        [&] { return CString(CString(kProfilePage) + u"?SHOWPROFILE=" + Encoded(name)); });
    Put(text, u"#PROFILE_EDIT_COMMAND#",
        CString(kFormPage) + u"?SHOWPROFILE=" + Encoded(name) + u"&REF=" + Encoded(m_context.strPage));
}

void CPageTemplate::ReplaceScheduleValues(CString& text, const CZBProjectRunItemData& item) {
    const CLaunchItem& launch = item.GetLaunchItem();
    const SCHEDULEINFO& schedule = launch.m_schedule;
    auto count = [](int value) { return value > 0 ? Number(value) : CString(); };
    Put(text, u"#PROFILE_EVERYMINUTE#", count(schedule.nEveryMinute));
    Put(text, u"#PROFILE_EVERYHOUR#", count(schedule.nEveryHour));
    Put(text, u"#PROFILE_EVERYDAY#", count(schedule.nEveryDay));
    Put(text, u"#PROFILE_STARTTIME#", [&] { return CString(Html(item.GetStartTimeText())); });
    static const char16_t* const kDays[] = {u"#PROFILE_SUN#", u"#PROFILE_MON#", u"#PROFILE_TUE#",
                                            u"#PROFILE_WED#", u"#PROFILE_THU#", u"#PROFILE_FRI#",
                                            u"#PROFILE_SAT#"};
    for (int day = 0; day < 7; ++day) Put(text, kDays[day], Checked(schedule.nExcludeDays & (1 << day)));
    Put(text, u"#PROFILE_ONERROR_RERUN#", Number(launch.m_nOnErrorRerun));
    Put(text, u"#PROFILE_MAX_RERUN#", Number(launch.m_nMaxRerun));
    Put(text, u"#PROFILE_RUNMISSED#", Checked(launch.m_nRunMissed));
    Put(text, u"#PROFILE_SOURCEONLYIF#",
        Checked(launch.m_nOnlyIfChanged && (launch.m_nMonitor & MONITOR_SOURCE)));
    Put(text, u"#PROFILE_TARGETONLYIF#",
        Checked(launch.m_nOnlyIfChanged && (launch.m_nMonitor & MONITOR_TARGET)));
    Put(text, u"#PROFILE_STARTUP#", Checked(launch.m_nStartup));
    Put(text, u"#PROFILE_SOURCESOON#",
        Checked(launch.m_nAsSoonAsChanged && (launch.m_nMonitor & MONITOR_SOURCE)));
    Put(text, u"#PROFILE_TARGETSOON#",
        Checked(launch.m_nAsSoonAsChanged && (launch.m_nMonitor & MONITOR_TARGET)));
    Put(text, u"#PROFILE_ASAVAIL#", Checked(launch.m_nAsAvailable != 0));
    Put(text, u"#PROFILE_RUNAFTERNOTONERROR#", Checked(launch.m_bNotOnError));
    Put(text, u"#PROFILE_PING#", Checked(launch.m_nPing));
    if (Has(u"#PROFILE_PROFILEAFTER_OPTIONS#"))
        Put(text, u"#PROFILE_PROFILEAFTER_OPTIONS#", ProfileAfterOptions(launch.m_strProfileAfter));
    if (!Has(u"#PROFILE_ASAVAIL_TIMEFRAME_OPTIONS#")) return;
    CString options;
    static const struct {
        int value;
        const char16_t* key;
        const char16_t* label;
    } kFrames[] = {{ASAVAILABLE_IMMEDIATELY, u"immidiately", u"Immediately"},
                   {ASAVAILABLE_HOURLY, u"hourly", u"Hourly"},
                   {ASAVAILABLE_DAILY, u"daily", u"Daily"},
                   {ASAVAILABLE_WEEKLY, u"weekly", u"Weekly"}};
    for (const auto& frame : kFrames) {
        options.AppendFormat(u"<option value='%s' %s>%s", frame.key,
                             launch.m_nAsAvailableFrequency == frame.value ? u"selected" : u"", frame.label);
    }
    Put(text, u"#PROFILE_ASAVAIL_TIMEFRAME_OPTIONS#", options);
}

CString CPageTemplate::ProfileAfterOptions(const CString& selected) const {
    CString options = u"<option value='none'>None";
    for (int i = 0; m_context.pSnapshot && i < m_context.pSnapshot->GetSize(); ++i) {
        if (i == m_nProfile) continue;
        const CString& name = (*m_context.pSnapshot)[i].GetName();
        options.AppendFormat(u"<option value='%s' %s>%s", Html(name),
                             !selected.IsEmpty() && name.CompareNoCase(selected) == 0 ? u"selected" : u"",
                             Html(Shortened(name, 80)));
    }
    return options;
}

void CPageTemplate::ReplaceNoProfileTags(CString& text) {
    Put(text, u"#PROFILE_SHOWLOGFILE_COMMAND_SPECIAL#", u"");
    Put(text, u"#PROFILE_SHOWLOGFILE_COMMAND#", u"");
    static const char16_t* const kEmpty[] = {
        u"#PROFILE_COUNTER#",
        u"#PROFILE_NAME_ABBREVIATION#",
        u"#PROFILE_NAME#",
        u"#PROFILE_DESCRIPTION_ABBREVIATION#",
        u"#PROFILE_DESCRIPTION#",
        u"#PROFILE_STATUS#",
        u"#PROFILE_SETTINGS_HTML#",
        u"#PROFILE_SETTINGS#",
        u"#PROFILE_SOURCE#",
        u"#PROFILE_TARGET#",
        u"#PROFILE_EXECUTION_METHOD#",
        u"#PROFILE_DETAILS_EXTRA#",
        u"#PROFILE_DETAILS#",
        u"#PROFILE_LASTRUNS#",
        u"#PROFILE_LASTRUN#",
        u"#PROFILE_LASTOKRUN#",
        u"#PROFILE_NEXTRUNS#",
        u"#PROFILE_NEXTRUN#",
        u"#PROFILE_LOGFILE_PATH_SPECIAL#",
        u"#PROFILE_LOGFILE_PATH#",
        u"#PROFILE_LOGFILE_CONTENT#",
        u"#PROFILE_EVERYMINUTE#",
        u"#PROFILE_EVERYHOUR#",
        u"#PROFILE_EVERYDAY#",
        u"#PROFILE_SUN#",
        u"#PROFILE_MON#",
        u"#PROFILE_TUE#",
        u"#PROFILE_WED#",
        u"#PROFILE_THU#",
        u"#PROFILE_FRI#",
        u"#PROFILE_SAT#",
        u"#PROFILE_RUNMISSED#",
        u"#PROFILE_SOURCEONLYIF#",
        u"#PROFILE_TARGETONLYIF#",
        u"#PROFILE_STARTUP#",
        u"#PROFILE_SOURCESOON#",
        u"#PROFILE_TARGETSOON#",
        u"#PROFILE_ASAVAIL#",
        u"#PROFILE_RUNAFTERNOTONERROR#",
        u"#PROFILE_PING#",
    };
    Keep(text, u"#IF_PROFILE_DETAILS_EXTRA#", u"#ENDIF_PROFILE_DETAILS_EXTRA#", false);
    Keep(text, u"#IF_PROFILE_LOGFILE_NOTSET#", u"#ENDIF_PROFILE_LOGFILE_NOTSET#", true);
    for (const char16_t* tag : kEmpty) Put(text, tag, u"");
    const CString* category = CurrentCategory();
    Put(text, u"#PROFILE_CATEGORY#", [&] { return CString(category ? Html(*category) : CString()); });
    COleDateTime now = COleDateTime::GetCurrentTime();
    Put(text, u"#PROFILE_STARTTIME#", [&] { return CString(Html(FormatDateTimeShort(now))); });
    Put(text, u"#PROFILE_ONERROR_RERUN#", u"0");
    Put(text, u"#PROFILE_MAX_RERUN#", u"0");
    Put(text, u"#PROFILE_ASAVAIL_TIMEFRAME_OPTIONS#",
        u"<option value='immidiately'>Immediately<option value='hourly'>Hourly<option "
        u"value='daily'>Daily<option value='weekly'>Weekly");
    if (Has(u"#PROFILE_PROFILEAFTER_OPTIONS#"))
        Put(text, u"#PROFILE_PROFILEAFTER_OPTIONS#", ProfileAfterOptions(CString()));
    static const char16_t* const kLinks[] = {
        u"#PROFILE_RUN_COMMAND#",      u"#PROFILE_STOP_COMMAND#",           u"#PROFILE_ENABLE_COMMAND#",
        u"#PROFILE_DISABLE_COMMAND#",  u"#PROFILE_REMOVE_COMMAND#",         u"#PROFILE_MOVEUP_COMMAND#",
        u"#PROFILE_MOVEDOWN_COMMAND#", u"#PROFILE_OPENCOMPARISON_COMMAND#", u"#PROFILE_OPENSETTINGS_COMMAND#",
        u"#PROFILE_OPEN_COMMAND#",     u"#RESET_LASTRUNS_COMMAND#",         u"#PROFILE_SHOW_COMMAND#",
        u"#PROFILE_EDIT_COMMAND#",
    };
    for (const char16_t* tag : kLinks) Put(text, tag, CString(kStatusPage));
}

void CPageTemplate::ReplaceSelectedCategorySections(CString& text) {
    bool selected = m_context.nSelectedCategory >= 0 && m_nCategory == m_context.nSelectedCategory;
    Keep(text, u"#IF_IS_SELECTED_CATEGORY#", u"#END_IF#", selected);
    Keep(text, u"#IF_NO_SELECTED_CATEGORY#", u"#END_IF#", m_context.nSelectedCategory < 0);
}

void CPageTemplate::ReplaceSettingsTags(CString& text) {
    const CEngineSettings& settings = m_context.settings;
    Put(text, u"#CLIENT_IP#", [&] { return CString(Html(m_context.strClientIp)); });
    Put(text, u"#HTML_PAGE_REFRESH_RATE#", Number(settings.m_nRefresh));
    Put(text, u"#HTML_PAGE_CHECK_RATE#", Number(settings.m_nCheckNew));
    Put(text, u"#HTTP_PORT#", Number(settings.m_nHttpPort));
    Put(text, u"#HTTP_CLIENTS#", [&] { return CString(Html(settings.m_strHttpClients)); });
    Put(text, u"#HTTP_PWD#", settings.m_strHttpPasswordHash.IsEmpty() ? u"Not active" : u"Active");
    Keep(text, u"#IF_TCPIP_PORT#", u"#ENDIF_TCPIP_PORT#", settings.m_nTcpPort != 0);
    Put(text, u"#TCPIP_PORT#", Number(settings.m_nTcpPort));
    Put(text, u"#TCPIP_SERVERIP#", [&] { return CString(Html(settings.m_strTcpAddress)); });
    Put(text, u"#TCPIP_CLIENTS#", [&] { return CString(Html(settings.m_strTcpClients)); });
    Put(text, u"#TCPIP_PWD#", settings.m_strTcpPassword.IsEmpty() ? u"Not active" : u"Active");
}

void CPageTemplate::ReplaceEngineTags(CString& text) {
    const CEngineSettings& settings = m_context.settings;
    Put(text, u"#XMLFILE_PATH#", [&] { return CString(Html(settings.m_strSettingsPath)); });
    Put(text, u"#DBFILE_PATH#", [&] { return CString(Html(settings.m_strDBPath)); });
    Put(text, u"#ZBENGINE_LOGFILE_PATH#", [&] { return CString(Html(settings.m_strLogPath)); });
    Put(text, u"#ZBENGINE_START_TIME#",
        [&] { return CString(Html(FormatDateTimeShort(settings.m_dtEngineStart))); });
    Put(text, u"#ZBENGINE_VERSION#", [&] { return CString(Html(settings.m_strVersion)); });
    Put(text, u"#ZBENGINE_COMMANDLINE#", [&] { return CString(Html(settings.m_strCommandLine)); });
    Put(text, u"#ZBENGINE_SYSTEM#", [&] { return CString(Html(settings.m_strSystem)); });
    Put(text, u"#ZBENGINE_ACCOUNT#", [&] { return CString(Html(settings.m_strAccount)); });
    Put(text, u"#ZBENGINE_COMPUTER#", [&] { return CString(Html(settings.m_strComputerName)); });
    Put(text, u"#ZBENGINE_ZEBRODYNE_PATH#", [&] { return CString(Html(settings.m_strSyncProgramPath)); });
    Put(text, u"#ZBENGINE_SERVICE_TEXT#",
        settings.m_nService ? u"Running as a Windows Service" : u"Not running as a Windows Service");
}

void CPageTemplate::ReplaceScriptTags(CString& text) {
    CString values;
    values.Format(
        u"<script type=\"text/javascript\"> var refreshonexit = true; var timeout = %d; var timeout_ac = "
        u"%d; </script>",
        m_context.settings.m_nCheckNew, m_context.settings.m_nCheckNewAfterChange);
    Put(text, u"#INSERT_CHECKNEW_VALUE#", values);
    Put(text, u"#ONLOAD#", u"onload=\"window.setTimeout('CheckRefresh()', 2000);\"");
}

void CPageTemplate::ReplaceFileTags(CString& text) {
    Put(text, u"#FILE_NAME#", [&] { return CString(Html(m_context.strFileName)); });
    Keep(text, u"#IF_IS_SECTION_OF_FILE#", u"#END_IF_IS_SECTION_OF_FILE#", !m_context.strFileRunId.IsEmpty());
    Put(text, u"#FILE_CONTENT#", m_context.strFileContent);
}
