// CPageTemplate: expands one page of the web server: the first profile loop, then the first
// category loop, then every tag and conditional section of the page, from the request's
// snapshot and selection (PAGECONTEXT).
//
// Text from profiles, categories, queries and headers never enters the page raw: it is
// HTML-escaped where it goes into text or attribute values and URL-encoded where it goes into
// links (which are script-safe as well). The HTML fragments that the run items build (status,
// last runs, settings summary, progress) are inserted as they are.
//
// Expansion is one pass over the page that appends to the caller's buffer: the loops expand in
// their places and the per-request texts (the update link, the refresh tags) go in on the way.
//
// A template object belongs to the request's thread and lives only for one page; the context it
// reads must outlive it. Nothing fails: a missing tag costs nothing, a start tag without its end
// stays in the page, an index outside the snapshot counts as no profile.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "dovrane/model/EngineSettings.h"
#include "platform/base/CString.h"
#include "platform/classlib/Array.h"

class CZBProjectRunItemData;

// Everything a page shows beyond the snapshot texts, held by the server for one request.
struct PAGECONTEXT {
    const CArray<CZBProjectRunItemData>* pSnapshot = nullptr;
    const std::vector<CString>* pCategories = nullptr;  // sorted, distinct
    CEngineSettings settings;
    bool bLocalClient = false;
    CString strClientIp;
    int nSelectedProfile = -1;
    // The selected profile's run history ("#PROFILE_LASTRUNS#"), taken only for a page that shows it.
    std::shared_ptr<const CString> pSelectedLastRuns;
    int nSelectedCategory = -1;  // index into the categories
    CString strErrorText;
    CString strPage;        // path of the page being built, "/status.htm"
    CString strReturnPage;  // where the page's forms and error links lead back to
    bool bDatabaseMissing = false;
    bool bShowNewInstall = false;
    CString strFormToken;     // carried by the add and edit forms
    CString strFileName;      // the file of a file view
    CString strFileRunId;     // the run whose section it shows; empty: the whole file
    int nFilePage = -1;       // the page of it; -1: the default page
    CString strFileContent;   // HTML already: escaped and marked up
    CString strBrowseFolder;  // CURRFOLDER of the browse page
    CString strUpdateLink;    // "#CHECKFORUPDATESLINK#"
    // The refresh tags ("#PAGE_REFRESH_ID#", "#CURRENT_TIME#", "#REFRESH#") are filled in and the
    // AJAX markers dropped only when set; the refresh check cuts its section out first.
    bool bRefreshTags = false;
    CString strRefreshId;
    CString strCurrentTime;  // for "#CURRENT_TIME#"
    CString strCurrentLink;  // the request's page and query, escaped, for "#REFRESH#"
};

class CPageTemplate {
   public:
    static const int kWrapAbbreviation = 15;
    // The run state that drops every status section.
    static const int kNoProfileState = -1;

    explicit CPageTemplate(const PAGECONTEXT& context);

    // Appends the page with its loops, sections and tags filled in to out, in one pass over the
    // page; out is the caller's, so a buffer kept across pages is reused.
    void Expand(const CString& page, std::u16string& out);
    CString Expand(const CString& page);

    // Keeps or drops the text of every start..end section; the tags always go. A start tag
    // without an end tag after it stays. Returns the sections handled.
    static int KeepSection(CString& text, LPCWSTR start, LPCWSTR end, bool keep);
    static void WrapText(CString& text, int n);
    // The wrapped text with each piece HTML-escaped.
    static CString WrapEscaped(const CString& text, int n);
    // The status sections of one run state (kNoProfileState: none).
    static void KeepStatusSections(CString& text, int runState);

    int GetCurrentProfile() const { return m_nProfile; }

   private:
    struct SECTION {
        const char16_t* start;
        const char16_t* end;
        bool keep;
    };
    // A loop of the text: where its start tag, body and end tag lie.
    struct LOOP {
        size_t start;
        size_t bodyStart = 0;
        size_t bodyEnd = 0;
        size_t end = 0;
        bool profiles = true;
    };
    // The tags of the text being expanded, what they become and its sections: each start tag
    // with its end tag and whether the section stays.
    struct GATHERED {
        std::unordered_set<std::u16string> present;
        std::unordered_map<std::u16string, CString> values;
        std::unordered_map<std::u16string, std::pair<const char16_t*, bool>> sections;
    };
    static constexpr std::u16string_view kProfileLoop = u"#LOOP-PROFILES#";
    static constexpr std::u16string_view kProfileLoopEnd = u"#ENDLOOP-PROFILES#";
    static constexpr std::u16string_view kCategoryLoop = u"#LOOP-CATEGORIES#";
    static constexpr std::u16string_view kCategoryLoopEnd = u"#ENDLOOP-CATEGORIES#";

    static std::array<SECTION, 7> StatusSections(int runState);
    static LOOP FindLoop(const std::u16string& units, size_t from, size_t to, bool profiles);
    void ExpandText(const std::u16string& units, size_t from, size_t to, bool categories,
                    std::u16string& out);
    void ExpandLoop(const std::u16string& units, const LOOP& loop, std::u16string& out);
    void ExpandProfileLoop(const std::u16string& units, size_t from, size_t to, std::u16string& out);
    void ExpandCategoryLoop(const std::u16string& units, size_t from, size_t to, std::u16string& out);
    void Emit(const std::u16string& units, size_t from, size_t to, const std::vector<LOOP>& loops,
              std::u16string& out);
    void AppendValue(const CString& value, std::u16string& out) const;
    void ScanTags(const std::u16string& units, size_t from, size_t to);
    void GatherTags(const std::u16string& units, size_t from, size_t to);
    bool Has(LPCWSTR tag) const;
    bool HasStatusSections() const;
    void Put(LPCWSTR tag, const CString& value);
    // The value is made only when the text holds the tag.
    void Put(LPCWSTR tag, const std::function<CString()>& value);
    void Set(LPCWSTR tag, const CString& value);
    void Keep(LPCWSTR start, LPCWSTR end, bool keep);
    static bool IsTagName(const std::u16string& units, size_t open, size_t close);

    // The page link with the selection that the page's own links repeat.
    CString PageLink() const;
    CString CommandLink(LPCWSTR command, const CString& value) const;
    const CZBProjectRunItemData* CurrentProfile() const;
    const CString* CurrentCategory() const;

    // Each gathers the sections and values of one group of tags for the text being expanded.
    void GatherClientSections();
    void GatherNameBox();
    void GatherCategoryValues();
    void GatherCommandLinks();
    void GatherEngineSections();
    void GatherErrorValues();
    void GatherFormValues();
    void GatherProfileValues();
    void GatherNoProfileValues();
    void GatherProfileLinks(const CString& name);
    void GatherScheduleValues(const CZBProjectRunItemData& item);
    void GatherRunTexts(const CZBProjectRunItemData& item);
    void GatherLogFileValues(const CZBProjectRunItemData& item);
    CString ProfileAfterOptions(const CString& selected) const;
    void GatherSelectedCategorySections();
    void GatherSettingsValues();
    void GatherEngineValues();
    void GatherScriptValues();
    void GatherFileValues();
    void GatherPageValues();

    const PAGECONTEXT& m_context;
    int m_nProfile;
    int m_nCategory;
    GATHERED m_gathered;
};
