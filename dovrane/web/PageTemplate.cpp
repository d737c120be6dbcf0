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
#include "dovrane/web/PageRefresh.h"
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

void CPageTemplate::Expand(const CString& page, std::u16string& out) {
    const std::u16string& units = page.GetStdString();
    ExpandText(units, 0, units.size(), true, out);
}

CString CPageTemplate::Expand(const CString& page) {
    std::u16string out;
    Expand(page, out);
    return CString(std::move(out));
}

// The first loop of its kind in [from, to), or none (start npos) when its end tag is missing.
CPageTemplate::LOOP CPageTemplate::FindLoop(const std::u16string& units, size_t from, size_t to,
                                            bool profiles) {
    const std::u16string_view start = profiles ? kProfileLoop : kCategoryLoop;
    const std::u16string_view end = profiles ? kProfileLoopEnd : kCategoryLoopEnd;
    LOOP loop{std::u16string::npos, 0, 0, 0, profiles};
    size_t at = units.find(start, from);
    if (at == std::u16string::npos || at + start.size() > to) return loop;
    size_t close = units.find(end, at);
    if (close == std::u16string::npos || close + end.size() > to) return loop;
    return {at, at + start.size(), close, close + end.size(), profiles};
}

// A profile loop inside the category loop is that loop's own: it lists each category's profiles.
void CPageTemplate::ExpandText(const std::u16string& units, size_t from, size_t to, bool categories,
                               std::u16string& out) {
    std::vector<LOOP> loops;
    LOOP categoryLoop = categories ? FindLoop(units, from, to, false) : LOOP{std::u16string::npos};
    LOOP profileLoop = FindLoop(units, from, to, true);
    bool nested = categoryLoop.start != std::u16string::npos && profileLoop.start != std::u16string::npos &&
                  profileLoop.start > categoryLoop.start && profileLoop.start < categoryLoop.bodyEnd;
    if (profileLoop.start != std::u16string::npos && !nested) loops.push_back(profileLoop);
    if (categoryLoop.start != std::u16string::npos) loops.push_back(categoryLoop);
    std::sort(loops.begin(), loops.end(), [](const LOOP& a, const LOOP& b) { return a.start < b.start; });
    // A loop that starts inside the other one's body is left as text, as it was before loops.
    if (loops.size() == 2 && loops[1].start < loops[0].end) loops.pop_back();
    GatherTags(units, from, to);
    Emit(units, from, to, loops, out);
}

void CPageTemplate::ExpandLoop(const std::u16string& units, const LOOP& loop, std::u16string& out) {
    GATHERED outer = std::move(m_gathered);
    if (loop.profiles) {
        ExpandProfileLoop(units, loop.bodyStart, loop.bodyEnd, out);
    } else {
        ExpandCategoryLoop(units, loop.bodyStart, loop.bodyEnd, out);
    }
    m_gathered = std::move(outer);
}

void CPageTemplate::ExpandProfileLoop(const std::u16string& units, size_t from, size_t to,
                                      std::u16string& out) {
    int saved = m_nProfile;
    const CString* category = CurrentCategory();
    for (int i = 0; m_context.pSnapshot && i < m_context.pSnapshot->GetSize(); ++i) {
        const CZBProjectRunItemData& item = (*m_context.pSnapshot)[i];
        if (category && item.GetLaunchItem().m_strCategory.CompareNoCase(*category) != 0) continue;
        m_nProfile = i;
        ExpandText(units, from, to, false, out);
    }
    m_nProfile = saved;
}

void CPageTemplate::ExpandCategoryLoop(const std::u16string& units, size_t from, size_t to,
                                       std::u16string& out) {
    int saved = m_nCategory;
    int count = m_context.pCategories ? static_cast<int>(m_context.pCategories->size()) : 0;
    for (int i = 0; i < count; ++i) {
        m_nCategory = i;
        ExpandText(units, from, to, false, out);
    }
    m_nCategory = saved;
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
    return m_gathered.present.count(std::u16string(tag)) != 0;
}

// Values are gathered first and put in by the one pass of Emit.
void CPageTemplate::Put(LPCWSTR tag, const CString& value) {
    if (Has(tag)) m_gathered.values[std::u16string(tag)] = value;
}

void CPageTemplate::Put(LPCWSTR tag, const std::function<CString()>& value) {
    if (Has(tag)) m_gathered.values[std::u16string(tag)] = value();
}

void CPageTemplate::Set(LPCWSTR tag, const CString& value) {
    m_gathered.values[std::u16string(tag)] = value;
}

// Sections are gathered too and cut or kept by the same pass.
void CPageTemplate::Keep(LPCWSTR start, LPCWSTR end, bool keep) {
    if (Has(start)) m_gathered.sections[std::u16string(start)] = {end, keep};
}

// A value that holds tags itself (the run items' HTML carries log links) has them put in, once.
void CPageTemplate::AppendValue(const CString& value, std::u16string& out) const {
    const std::u16string& units = value.GetStdString();
    if (units.find(u'#') == std::u16string::npos) {
        out += units;
        return;
    }
    size_t at = 0;
    for (;;) {
        size_t open = units.find(u'#', at);
        size_t close = open == std::u16string::npos ? open : units.find(u'#', open + 1);
        if (close == std::u16string::npos) break;
        auto found = IsTagName(units, open, close)
                         ? m_gathered.values.find(units.substr(open, close - open + 1))
                         : m_gathered.values.end();
        if (found == m_gathered.values.end()) {
            out.append(units, at, close - at);
            at = close;
            continue;
        }
        out.append(units, at, open - at);
        out += found->second.GetStdString();
        at = close + 1;
    }
    out.append(units, at, std::u16string::npos);
}

// One pass over [from, to), appending: each start tag of a gathered section pairs with the
// first of its end tags after it (one without an end stays); a kept section loses both tags, a
// cut one everything up to its end; each tag with a value gives way to it; the loops expand in
// their places.
void CPageTemplate::Emit(const std::u16string& units, size_t from, size_t to, const std::vector<LOOP>& loops,
                         std::u16string& out) {
    std::vector<std::pair<size_t, size_t>> endsToDrop;  // end tags of kept sections: at, length
    auto nextLoop = loops.begin();
    size_t at = from;
    for (;;) {
        size_t open = units.find(u'#', at);
        size_t close =
            open == std::u16string::npos || open >= to ? std::u16string::npos : units.find(u'#', open + 1);
        if (close == std::u16string::npos || close >= to) break;
        while (nextLoop != loops.end() && nextLoop->start < open) ++nextLoop;
        if (nextLoop != loops.end() && nextLoop->start == open) {
            out.append(units, at, open - at);
            ExpandLoop(units, *nextLoop, out);
            at = nextLoop->end;
            ++nextLoop;
            continue;
        }
        auto drop = std::find_if(endsToDrop.begin(), endsToDrop.end(),
                                 [&](const auto& end) { return end.first == open; });
        if (drop != endsToDrop.end()) {
            out.append(units, at, open - at);
            at = open + drop->second;
            endsToDrop.erase(drop);
            continue;
        }
        if (!IsTagName(units, open, close)) {
            out.append(units, at, close - at);
            at = close;
            continue;
        }
        std::u16string_view tag(units.data() + open, close - open + 1);
        auto section = m_gathered.sections.find(std::u16string(tag));
        size_t end = section == m_gathered.sections.end() ? std::u16string::npos
                                                          : units.find(section->second.first, close + 1);
        if (end != std::u16string::npos && end < to) {
            out.append(units, at, open - at);
            size_t endLength = std::char_traits<char16_t>::length(section->second.first);
            if (section->second.second) {
                endsToDrop.emplace_back(end, endLength);
                at = close + 1;
            } else {
                at = end + endLength;
                while (nextLoop != loops.end() && nextLoop->start < at) ++nextLoop;
            }
            continue;
        }
        auto value = m_gathered.values.find(std::u16string(tag));
        if (value == m_gathered.values.end()) {
            out.append(units, at, close - at);
            at = close;
            continue;
        }
        out.append(units, at, open - at);
        AppendValue(value->second, out);
        at = close + 1;
    }
    if (at < to) out.append(units, at, to - at);
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

// Every "#NAME#" of [from, to), so that each step touches only the tags that occur.
void CPageTemplate::ScanTags(const std::u16string& units, size_t from, size_t to) {
    size_t open = units.find(u'#', from);
    while (open != std::u16string::npos && open < to) {
        size_t close = units.find(u'#', open + 1);
        if (close == std::u16string::npos || close >= to) break;
        if (IsTagName(units, open, close)) {
            m_gathered.present.emplace(units, open, close - open + 1);
            open = units.find(u'#', close + 1);
        } else {
            open = close;
        }
    }
}

void CPageTemplate::GatherTags(const std::u16string& units, size_t from, size_t to) {
    m_gathered.present.clear();
    m_gathered.values.clear();
    m_gathered.sections.clear();
    ScanTags(units, from, to);
    GatherClientSections();
    GatherNameBox();
    GatherCategoryValues();
    GatherCommandLinks();
    GatherEngineSections();
    GatherErrorValues();
    GatherFormValues();
    GatherProfileValues();
    const CZBProjectRunItemData* item = CurrentProfile();
    if (HasStatusSections()) {
        for (const SECTION& section : StatusSections(item ? item->GetRunState() : kNoProfileState))
            Keep(section.start, section.end, section.keep);
    }
    GatherSelectedCategorySections();
    GatherSettingsValues();
    GatherEngineValues();
    GatherScriptValues();
    GatherFileValues();
    GatherPageValues();
}

void CPageTemplate::GatherClientSections() {
    bool local = m_context.bLocalClient;
    bool edit = CurrentProfile() != nullptr;
    Keep(u"#IF_LOCAL_CLIENT#", u"#END_IF_LOCAL_CLIENT#", local);
    Keep(u"#IF_NOT_LOCAL_CLIENT#", u"#END_IF_NOT_LOCAL_CLIENT#", !local);
    Keep(u"#IF_LOCAL_CLIENT_OR_EDIT#", u"#END_IF_LOCAL_CLIENT_OR_EDIT#", local || edit);
    Keep(u"#IF_NOT_LOCAL_CLIENT_OR_EDIT#", u"#END_IF_NOT_LOCAL_CLIENT_OR_EDIT#", !(local || edit));
    Keep(u"#IF_FORM_ACTIONADD#", u"#ENDIF_FORM_ACTIONADD#", !edit);
}

// The box holds tags of its own, which the pass puts in as the box's value goes in.
void CPageTemplate::GatherNameBox() {
    Put(u"#ONCLICK_REFRESH#", u" window.setTimeout(\"CheckRefresh(true)\", 500);");
    if (!Has(u"#PROFILE_NAME_BOX#")) return;
    CString box =
        CurrentProfile()
            ? CString(
                  u"<input type=\"#PROFILE_NAME_ENTRY_TYPE#\" name=\"showonly\" value=\"#PROFILE_NAME#\" "
                  u"disabled size='80'> <input type=\"hidden\" name=\"profile\" value=\"#PROFILE_NAME#\"> ")
            : CString(
                  u"<input type=\"#PROFILE_NAME_ENTRY_TYPE#\" id=\"profileinput\" name=\"profileinput\" "
                  u"value=\"#PROFILE_NAME#\" size='80'> <input type=\"BUTTON\" OnClick=\"openbrowsewin();\" "
                  u"VALUE=\"Select Profile ...\"> <input type=\"hidden\" id=\"profile\" name=\"profile\" "
                  u"value=\"#PROFILE_NAME#\">");
    ScanTags(box.GetStdString(), 0, static_cast<size_t>(box.GetLength()));
    Set(u"#PROFILE_NAME_BOX#", box);
}

void CPageTemplate::GatherCategoryValues() {
    const CString* category = CurrentCategory();
    CString name = category ? *category : CString();
    Put(u"#CATEGORY_NAME#", [&] { return CString(Html(name)); });
    Put(u"#SHOW_CATEGORY_COMMAND#",
        [&] { return CString(Html(m_context.strPage) + u"?CATEGORY=" + Encoded(name)); });
    CString add = CString(kFormPage) + u"?CATEGORY=" + Encoded(name) + u"&REF=" + Encoded(m_context.strPage);
    Put(u"#ADD_COMMAND#", add);
}

void CPageTemplate::GatherCommandLinks() {
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
        if (Has(link.tag)) Put(link.tag, CommandLink(link.command, link.value));
    }
    CString logView = CString(kLogFilePage) + u"?URL=";
    Put(u"#VIEW_ZBENGINE_LOG#", [&] { return CString(logView + Encoded(m_context.settings.m_strLogPath)); });
    Put(u"#VIEW_ZBENGINE_XML#",
        [&] { return CString(logView + Encoded(m_context.settings.m_strSettingsPath)); });
}

void CPageTemplate::GatherEngineSections() {
    const CEngineSettings& settings = m_context.settings;
    bool empty = !m_context.pSnapshot || m_context.pSnapshot->GetSize() == 0;
    Keep(u"#IF_NOSAVE#", u"#END_IF_NOSAVE#", !settings.m_bSaved);
    Keep(u"#IF_NODB#", u"#END_IF_NODB#", m_context.bDatabaseMissing);
    Keep(u"#IF_NOPROFILES#", u"#END_IF_NOPROFILES#", empty);
    Keep(u"#IF_NOZB#", u"#END_IF_NOZB#", settings.m_nSyncProgramMissing != 0);
    Keep(u"#IF_NOT_REQUIRED_VERSION#", u"#END_IF_NOT_REQUIRED_VERSION#",
         settings.m_nSyncProgramBuild < kRequiredVersion);
    Keep(u"#IF_NEWINSTALL#", u"#END_IF_NEWINSTALL#", m_context.bShowNewInstall);
}

void CPageTemplate::GatherErrorValues() {
    bool error = !m_context.strErrorText.IsEmpty();
    CString home = CString(kStatusPage);
    if (m_context.nSelectedCategory >= 0 && m_context.pCategories &&
        m_context.nSelectedCategory < static_cast<int>(m_context.pCategories->size()))
        home += u"?CATEGORY=" +
                Encoded((*m_context.pCategories)[static_cast<size_t>(m_context.nSelectedCategory)]);
    Put(u"#HOME#", home);
    Put(u"#BACK_AFTERERROR#", m_context.strReturnPage.IsEmpty() ? home : Html(m_context.strReturnPage));
    Put(u"#ERROR_TEXT#", [&] { return CString(Html(m_context.strErrorText)); });
    Keep(u"#IF_ERROR#", u"#ENDIF_ERROR#", error);
    Keep(u"#IF_NOTERROR#", u"#ENDIF_NOTERROR#", !error);
    Put(u"#SHOW_ALL_CATEGORY_COMMAND#", Html(m_context.strPage));
}

void CPageTemplate::GatherFormValues() {
    bool edit = CurrentProfile() != nullptr;
    CString back = m_context.strReturnPage.IsEmpty() ? CString(kStatusPage) : m_context.strReturnPage;
    Put(u"#FORM_ACTION#",
        [&] { return CString(CString(edit ? u"edit.htm?REF=" : u"add.htm?REF=") + Encoded(back)); });
    Put(u"#PROFILE_NAME_ENTRY_TYPE#", u"text");
    Put(u"#PROFILE_NAME_ENTRY_STATUS#", edit ? u"disabled" : u"");
    Put(u"#FORM_TOKEN#", [&] { return CString(Html(m_context.strFormToken)); });
}

void CPageTemplate::GatherProfileValues() {
    const CZBProjectRunItemData* item = CurrentProfile();
    if (!item) {
        GatherNoProfileValues();
        return;
    }
    const CLaunchItem& launch = item->GetLaunchItem();
    Put(u"#PROFILE_COUNTER#", Number(m_nProfile + 1));
    Put(u"#PROFILE_NAME_ABBREVIATION#",
        [&] { return CString(WrapEscaped(Shortened(item->GetName(), 60), kWrapAbbreviation)); });
    Put(u"#PROFILE_NAME#", [&] { return CString(Html(item->GetName())); });
    Put(u"#PROFILE_DESCRIPTION_ABBREVIATION#",
        [&] { return CString(WrapEscaped(launch.m_strDescription, kWrapAbbreviation)); });
    Put(u"#PROFILE_DESCRIPTION#", [&] { return CString(Html(launch.m_strDescription)); });
    Put(u"#PROFILE_CATEGORY#", [&] { return CString(Html(launch.m_strCategory)); });
    Put(u"#PROFILE_STATUS#", item->GetStatusText());
    Put(u"#PROFILE_SETTINGS_HTML#", [&] { return CString(item->GetSettingsHtml()); });
    Put(u"#PROFILE_SETTINGS#", [&] { return CString(Html(item->GetSettingsText())); });
    Put(u"#PROFILE_SOURCE#", [&] { return CString(Html(item->GetSource())); });
    Put(u"#PROFILE_TARGET#", [&] { return CString(Html(item->GetTarget())); });
    Put(u"#PROFILE_EXECUTION_METHOD#", [&] { return CString(Html(item->GetExecutionMethod())); });
    Keep(u"#IF_PROFILE_DETAILS_EXTRA#", u"#ENDIF_PROFILE_DETAILS_EXTRA#", !item->GetProgressHtml().IsEmpty());
    Put(u"#PROFILE_DETAILS_EXTRA#", [&] { return CString(item->GetProgressHtml()); });
    Put(u"#PROFILE_DETAILS#", [&] { return CString(Html(item->GetDetails())); });
    GatherRunTexts(*item);
    // Also inside the run texts, whose log links hold these tags.
    CString logView = CString(kLogFilePage) + u"?SHOWPROFILE=" + Encoded(item->GetName()) + u"&URL=" +
                      Encoded(item->GetLogFilePath());
    Set(u"#PROFILE_SHOWLOGFILE_COMMAND_SPECIAL#", logView);
    Set(u"#PROFILE_SHOWLOGFILE_COMMAND#", logView);
    GatherLogFileValues(*item);
    GatherProfileLinks(item->GetName());
    GatherScheduleValues(*item);
}

void CPageTemplate::GatherRunTexts(const CZBProjectRunItemData& item) {
    // Inside a profile loop only the selected profile has its history at hand.
    const bool selected = m_nProfile == m_context.nSelectedProfile && m_context.pSelectedLastRuns;
    Put(u"#PROFILE_LASTRUNS#", [this, selected] {
        CString runs = selected ? *m_context.pSelectedLastRuns : CString();
        runs.Replace(u"*?*", u"<br>");
        return runs;
    });
    Put(u"#PROFILE_LASTRUN#", item.GetLastRun());
    Put(u"#PROFILE_LASTOKRUN#", [&] { return CString(Html(item.GetLastOkRun())); });
    CString next = item.GetNextRun();
    CString nextRuns = Html(next);
    if (next != u"None" && next != u"Manual" && next.Find(u"As soon as all folders") < 0) {
        nextRuns += u"<br>";
        for (const CString* further : {&item.GetNextRunText2(), &item.GetNextRunText3(),
                                       &item.GetNextRunText4(), &item.GetNextRunText5()})
            nextRuns += u"<br>" + Html(*further);
    }
    Put(u"#PROFILE_NEXTRUNS#", nextRuns);
    Put(u"#PROFILE_NEXTRUN#", [&] { return CString(Html(next)); });
}

void CPageTemplate::GatherLogFileValues(const CZBProjectRunItemData& item) {
    bool none = item.GetLogFilePath().IsEmpty();
    Keep(u"#IF_PROFILE_LOGFILE_NOTSET#", u"#ENDIF_PROFILE_LOGFILE_NOTSET#", none);
    if (none) {
        Put(u"#PROFILE_LOGFILE_PATH_SPECIAL#", u"None");
        Put(u"#PROFILE_LOGFILE_PATH#", u"None");
        Put(u"#PROFILE_LOGFILE_CONTENT#", u" ");
        return;
    }
    CString special = item.GetLogFilePath();
    special.Replace(u"\\", u"\\\\");
    Put(u"#PROFILE_LOGFILE_PATH_SPECIAL#", [&] { return CString(Html(special)); });
    Put(u"#PROFILE_LOGFILE_PATH#", [&] { return CString(Html(item.GetLogFilePath())); });
    Put(u"#PROFILE_LOGFILE_CONTENT#", u" ");
}

void CPageTemplate::GatherProfileLinks(const CString& name) {
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
        if (Has(link.tag)) Put(link.tag, CommandLink(link.command, name));
    }
    Put(u"#PROFILE_SHOW_COMMAND#",
        [&] { return CString(CString(kProfilePage) + u"?SHOWPROFILE=" + Encoded(name)); });
    Put(u"#PROFILE_EDIT_COMMAND#",
        CString(kFormPage) + u"?SHOWPROFILE=" + Encoded(name) + u"&REF=" + Encoded(m_context.strPage));
}

void CPageTemplate::GatherScheduleValues(const CZBProjectRunItemData& item) {
    const CLaunchItem& launch = item.GetLaunchItem();
    const SCHEDULEINFO& schedule = launch.m_schedule;
    auto count = [](int value) { return value > 0 ? Number(value) : CString(); };
    Put(u"#PROFILE_EVERYMINUTE#", count(schedule.nEveryMinute));
    Put(u"#PROFILE_EVERYHOUR#", count(schedule.nEveryHour));
    Put(u"#PROFILE_EVERYDAY#", count(schedule.nEveryDay));
    Put(u"#PROFILE_STARTTIME#", [&] { return CString(Html(item.GetStartTimeText())); });
    static const char16_t* const kDays[] = {u"#PROFILE_SUN#", u"#PROFILE_MON#", u"#PROFILE_TUE#",
                                            u"#PROFILE_WED#", u"#PROFILE_THU#", u"#PROFILE_FRI#",
                                            u"#PROFILE_SAT#"};
    for (int day = 0; day < 7; ++day) Put(kDays[day], Checked(schedule.nExcludeDays & (1 << day)));
    Put(u"#PROFILE_ONERROR_RERUN#", Number(launch.m_nOnErrorRerun));
    Put(u"#PROFILE_MAX_RERUN#", Number(launch.m_nMaxRerun));
    Put(u"#PROFILE_RUNMISSED#", Checked(launch.m_nRunMissed));
    Put(u"#PROFILE_SOURCEONLYIF#", Checked(launch.m_nOnlyIfChanged && (launch.m_nMonitor & MONITOR_SOURCE)));
    Put(u"#PROFILE_TARGETONLYIF#", Checked(launch.m_nOnlyIfChanged && (launch.m_nMonitor & MONITOR_TARGET)));
    Put(u"#PROFILE_STARTUP#", Checked(launch.m_nStartup));
    Put(u"#PROFILE_SOURCESOON#", Checked(launch.m_nAsSoonAsChanged && (launch.m_nMonitor & MONITOR_SOURCE)));
    Put(u"#PROFILE_TARGETSOON#", Checked(launch.m_nAsSoonAsChanged && (launch.m_nMonitor & MONITOR_TARGET)));
    Put(u"#PROFILE_ASAVAIL#", Checked(launch.m_nAsAvailable != 0));
    Put(u"#PROFILE_RUNAFTERNOTONERROR#", Checked(launch.m_bNotOnError));
    Put(u"#PROFILE_PING#", Checked(launch.m_nPing));
    if (Has(u"#PROFILE_PROFILEAFTER_OPTIONS#"))
        Put(u"#PROFILE_PROFILEAFTER_OPTIONS#", ProfileAfterOptions(launch.m_strProfileAfter));
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
    Put(u"#PROFILE_ASAVAIL_TIMEFRAME_OPTIONS#", options);
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

void CPageTemplate::GatherNoProfileValues() {
    Put(u"#PROFILE_SHOWLOGFILE_COMMAND_SPECIAL#", u"");
    Put(u"#PROFILE_SHOWLOGFILE_COMMAND#", u"");
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
    Keep(u"#IF_PROFILE_DETAILS_EXTRA#", u"#ENDIF_PROFILE_DETAILS_EXTRA#", false);
    Keep(u"#IF_PROFILE_LOGFILE_NOTSET#", u"#ENDIF_PROFILE_LOGFILE_NOTSET#", true);
    for (const char16_t* tag : kEmpty) Put(tag, u"");
    const CString* category = CurrentCategory();
    Put(u"#PROFILE_CATEGORY#", [&] { return CString(category ? Html(*category) : CString()); });
    COleDateTime now = COleDateTime::GetCurrentTime();
    Put(u"#PROFILE_STARTTIME#", [&] { return CString(Html(FormatDateTimeShort(now))); });
    Put(u"#PROFILE_ONERROR_RERUN#", u"0");
    Put(u"#PROFILE_MAX_RERUN#", u"0");
    Put(u"#PROFILE_ASAVAIL_TIMEFRAME_OPTIONS#",
        u"<option value='immidiately'>Immediately<option value='hourly'>Hourly<option "
        u"value='daily'>Daily<option value='weekly'>Weekly");
    if (Has(u"#PROFILE_PROFILEAFTER_OPTIONS#"))
        Put(u"#PROFILE_PROFILEAFTER_OPTIONS#", ProfileAfterOptions(CString()));
    static const char16_t* const kLinks[] = {
        u"#PROFILE_RUN_COMMAND#",      u"#PROFILE_STOP_COMMAND#",           u"#PROFILE_ENABLE_COMMAND#",
        u"#PROFILE_DISABLE_COMMAND#",  u"#PROFILE_REMOVE_COMMAND#",         u"#PROFILE_MOVEUP_COMMAND#",
        u"#PROFILE_MOVEDOWN_COMMAND#", u"#PROFILE_OPENCOMPARISON_COMMAND#", u"#PROFILE_OPENSETTINGS_COMMAND#",
        u"#PROFILE_OPEN_COMMAND#",     u"#RESET_LASTRUNS_COMMAND#",         u"#PROFILE_SHOW_COMMAND#",
        u"#PROFILE_EDIT_COMMAND#",
    };
    for (const char16_t* tag : kLinks) Put(tag, CString(kStatusPage));
}

void CPageTemplate::GatherSelectedCategorySections() {
    bool selected = m_context.nSelectedCategory >= 0 && m_nCategory == m_context.nSelectedCategory;
    Keep(u"#IF_IS_SELECTED_CATEGORY#", u"#END_IF#", selected);
    Keep(u"#IF_NO_SELECTED_CATEGORY#", u"#END_IF#", m_context.nSelectedCategory < 0);
}

void CPageTemplate::GatherSettingsValues() {
    const CEngineSettings& settings = m_context.settings;
    Put(u"#CLIENT_IP#", [&] { return CString(Html(m_context.strClientIp)); });
    Put(u"#HTML_PAGE_REFRESH_RATE#", Number(settings.m_nRefresh));
    Put(u"#HTML_PAGE_CHECK_RATE#", Number(settings.m_nCheckNew));
    Put(u"#HTTP_PORT#", Number(settings.m_nHttpPort));
    Put(u"#HTTP_CLIENTS#", [&] { return CString(Html(settings.m_strHttpClients)); });
    Put(u"#HTTP_PWD#", settings.m_strHttpPasswordHash.IsEmpty() ? u"Not active" : u"Active");
    Keep(u"#IF_TCPIP_PORT#", u"#ENDIF_TCPIP_PORT#", settings.m_nTcpPort != 0);
    Put(u"#TCPIP_PORT#", Number(settings.m_nTcpPort));
    Put(u"#TCPIP_SERVERIP#", [&] { return CString(Html(settings.m_strTcpAddress)); });
    Put(u"#TCPIP_CLIENTS#", [&] { return CString(Html(settings.m_strTcpClients)); });
    Put(u"#TCPIP_PWD#", settings.m_strTcpPassword.IsEmpty() ? u"Not active" : u"Active");
}

void CPageTemplate::GatherEngineValues() {
    const CEngineSettings& settings = m_context.settings;
    Put(u"#XMLFILE_PATH#", [&] { return CString(Html(settings.m_strSettingsPath)); });
    Put(u"#DBFILE_PATH#", [&] { return CString(Html(settings.m_strDBPath)); });
    Put(u"#ZBENGINE_LOGFILE_PATH#", [&] { return CString(Html(settings.m_strLogPath)); });
    Put(u"#ZBENGINE_START_TIME#",
        [&] { return CString(Html(FormatDateTimeShort(settings.m_dtEngineStart))); });
    Put(u"#ZBENGINE_VERSION#", [&] { return CString(Html(settings.m_strVersion)); });
    Put(u"#ZBENGINE_COMMANDLINE#", [&] { return CString(Html(settings.m_strCommandLine)); });
    Put(u"#ZBENGINE_SYSTEM#", [&] { return CString(Html(settings.m_strSystem)); });
    Put(u"#ZBENGINE_ACCOUNT#", [&] { return CString(Html(settings.m_strAccount)); });
    Put(u"#ZBENGINE_COMPUTER#", [&] { return CString(Html(settings.m_strComputerName)); });
    Put(u"#ZBENGINE_ZEBRODYNE_PATH#", [&] { return CString(Html(settings.m_strSyncProgramPath)); });
    Put(u"#ZBENGINE_SERVICE_TEXT#",
        settings.m_nService ? u"Running as a Windows Service" : u"Not running as a Windows Service");
}

void CPageTemplate::GatherScriptValues() {
    CString values;
    values.Format(
        u"<script type=\"text/javascript\"> var refreshonexit = true; var timeout = %d; var timeout_ac = "
        u"%d; </script>",
        m_context.settings.m_nCheckNew, m_context.settings.m_nCheckNewAfterChange);
    Put(u"#INSERT_CHECKNEW_VALUE#", values);
    Put(u"#ONLOAD#", u"onload=\"window.setTimeout('CheckRefresh()', 2000);\"");
}

void CPageTemplate::GatherPageValues() {
    Put(u"#CHECKFORUPDATESLINK#", m_context.strUpdateLink);
    if (!m_context.bRefreshTags) return;
    Put(kAjaxSectionStart, CString());
    Put(kAjaxSectionEnd, CString());
    Put(u"#PAGE_REFRESH_ID#", m_context.strRefreshId);
    Put(u"#CURRENT_TIME#", m_context.strCurrentTime);
    Put(u"#REFRESH#", m_context.strCurrentLink);
}

void CPageTemplate::GatherFileValues() {
    Put(u"#FILE_NAME#", [&] { return CString(Html(m_context.strFileName)); });
    Keep(u"#IF_IS_SECTION_OF_FILE#", u"#END_IF_IS_SECTION_OF_FILE#", !m_context.strFileRunId.IsEmpty());
    Put(u"#FILE_CONTENT#", m_context.strFileContent);
}
