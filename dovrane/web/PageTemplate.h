// CPageTemplate: expands one page of the web server: the first profile loop, then the first
// category loop, then every tag and conditional section of the page, from the request's
// snapshot and selection (PAGECONTEXT).
//
// Text from profiles, categories, queries and headers never enters the page raw: it is
// HTML-escaped where it goes into text or attribute values and URL-encoded where it goes into
// links (which are script-safe as well). The HTML fragments that the run items build (status,
// last runs, settings summary, progress) are inserted as they are.
//
// A template object belongs to the request's thread and lives only for one page; the context it
// reads must outlive it. Nothing fails: a missing tag costs nothing, a start tag without its end
// stays in the page, an index outside the snapshot counts as no profile.
#pragma once

#include <array>
#include <functional>
#include <string>
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
};

class CPageTemplate {
   public:
    static const int kWrapAbbreviation = 15;
    // The run state that drops every status section.
    static const int kNoProfileState = -1;

    explicit CPageTemplate(const PAGECONTEXT& context);

    // Loops, then tags.
    CString Expand(const CString& page);

    CString ExpandProfileLoop(const CString& section);
    CString ExpandCategoryLoop(const CString& section);
    void ReplaceTags(CString& text);

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
    static std::array<SECTION, 7> StatusSections(int runState);
    CString ApplySections(const CString& text) const;
    void ScanTags(const CString& text);
    bool Has(LPCWSTR tag) const;
    bool HasStatusSections() const;
    void Put(CString& text, LPCWSTR tag, const CString& value);
    // The value is made only when the text holds the tag.
    void Put(CString& text, LPCWSTR tag, const std::function<CString()>& value);
    void Set(LPCWSTR tag, const CString& value);
    CString Substitute(const CString& text, bool inner) const;
    static bool IsTagName(const std::u16string& units, size_t open, size_t close);
    void Keep(CString& text, LPCWSTR start, LPCWSTR end, bool keep);

    // The page link with the selection that the page's own links repeat.
    CString PageLink() const;
    CString CommandLink(LPCWSTR command, const CString& value) const;
    const CZBProjectRunItemData* CurrentProfile() const;
    const CString* CurrentCategory() const;
    bool ReplaceLoop(CString& text, LPCWSTR start, LPCWSTR end, bool profiles);

    void ReplaceClientSections(CString& text);
    void ReplaceNameBox(CString& text);
    void ReplaceCategoryTags(CString& text);
    void ReplaceCommandLinks(CString& text);
    void ReplaceEngineSections(CString& text);
    void ReplaceErrorTags(CString& text);
    void ReplaceFormTags(CString& text);
    void ReplaceProfileTags(CString& text);
    void ReplaceNoProfileTags(CString& text);
    void ReplaceProfileLinks(CString& text, const CString& name);
    void ReplaceScheduleValues(CString& text, const CZBProjectRunItemData& item);
    void ReplaceRunTexts(CString& text, const CZBProjectRunItemData& item);
    void ReplaceLogFileTags(CString& text, const CZBProjectRunItemData& item);
    CString ProfileAfterOptions(const CString& selected) const;
    void ReplaceSelectedCategorySections(CString& text);
    void ReplaceSettingsTags(CString& text);
    void ReplaceEngineTags(CString& text);
    void ReplaceScriptTags(CString& text);
    void ReplaceFileTags(CString& text);

    const PAGECONTEXT& m_context;
    int m_nProfile;
    int m_nCategory;
    std::unordered_set<std::u16string> m_present;          // the tags of the text being replaced
    std::unordered_map<std::u16string, CString> m_values;  // what they become
    // Start tag of each section to handle: its end tag and whether it stays.
    std::unordered_map<std::u16string, std::pair<const char16_t*, bool>> m_sections;
};
