// The page templates over a real snapshot of disabled run items: loops filtered by category,
// conditional sections, the wrap of long names, escaping of everything a user or a query can
// write, and the edges (out-of-range profile, unmatched start tags).
#include <gtest/gtest.h>

#include <vector>

#include "dovrane/threads/LaunchItem.h"
#include "dovrane/threads/ZBProjectRunItem.h"
#include "dovrane/threads/ZBProjectRunItemData.h"
#include "dovrane/web/PageTemplate.h"
#include "tests/support/TestRoot.h"

namespace {

CLaunchItem Item(LPCWSTR profile, LPCWSTR category, LPCWSTR description = u"") {
    CLaunchItem item;
    item.m_strProfile = profile;
    item.m_strCategory = category;
    item.m_strDescription = description;
    item.m_nEnabled = 0;
    return item;
}

class PageTemplateTest : public ::testing::Test {
   protected:
    void SetUp() override {
        for (const CLaunchItem& item :
             {Item(u"C:\\p\\a.fsf", u"Work", u"say \"hi\" <b>"), Item(u"C:\\p\\b.fsf", u"Home"),
              Item(u"C:\\p\\c&<'#PROFILE_NAME#'>.fsf", u"work")}) {
            CZBProjectRunItem runItem;
            ASSERT_TRUE(runItem.SetInfo(item));
            CZBProjectRunItemData data;
            data.Update(runItem);
            m_snapshot.Add(data);
        }
        m_categories = {u"Home", u"Work", u"work"};
        m_context.pSnapshot = &m_snapshot;
        m_context.pCategories = &m_categories;
        m_context.strPage = u"/status.htm";
    }

    CString Expand(LPCWSTR page) { return CPageTemplate(m_context).Expand(page); }

    CTestRoot m_root;
    CArray<CZBProjectRunItemData> m_snapshot;
    std::vector<CString> m_categories;
    PAGECONTEXT m_context;
};

TEST_F(PageTemplateTest, ProfileLoopListsTheSelectedCategoryCaseInsensitively) {
    EXPECT_EQ(Expand(u"#LOOP-PROFILES#[#PROFILE_COUNTER#]#ENDLOOP-PROFILES#"), u"[1][2][3]");
    m_context.nSelectedCategory = 1;  // "Work"
    EXPECT_EQ(Expand(u"#LOOP-PROFILES#[#PROFILE_COUNTER#]#ENDLOOP-PROFILES#"), u"[1][3]");
}

TEST_F(PageTemplateTest, CategoryLoopNestsItsProfiles) {
    m_categories = {u"Home", u"Work"};
    EXPECT_EQ(Expand(u"#LOOP-CATEGORIES#<#CATEGORY_NAME#:#LOOP-PROFILES##PROFILE_COUNTER##ENDLOOP-PROFILES#>"
                     u"#ENDLOOP-CATEGORIES#"),
              u"<Home:2><Work:13>");
}

TEST_F(PageTemplateTest, UnmatchedOrReversedMarkersStay) {
    EXPECT_EQ(Expand(u"#LOOP-PROFILES#x"), u"#LOOP-PROFILES#x");
    EXPECT_EQ(Expand(u"#ENDLOOP-PROFILES#x#LOOP-PROFILES#"), u"#ENDLOOP-PROFILES#x#LOOP-PROFILES#");
    EXPECT_EQ(Expand(u"a#IF_ERROR#b#ENDIF_ERROR#c#IF_NOTERROR#d#ENDIF_NOTERROR#e#IF_ERROR#f"),
              u"acde#IF_ERROR#f");
    CString text = u"a#IF_ERROR#b";
    EXPECT_EQ(CPageTemplate::KeepSection(text, u"#IF_ERROR#", u"#ENDIF_ERROR#", false), 0);
    EXPECT_EQ(text, u"a#IF_ERROR#b");
    text = u"1#S#2#E#3#S#4#E#5";
    EXPECT_EQ(CPageTemplate::KeepSection(text, u"#S#", u"#E#", false), 2);
    EXPECT_EQ(text, u"135");
    text = u"1#S#2#E#3";
    EXPECT_EQ(CPageTemplate::KeepSection(text, u"#S#", u"#E#", true), 1);
    EXPECT_EQ(text, u"123");
}

TEST_F(PageTemplateTest, StatusSectionsByRunState) {
    const CString page =
        u"#IF_PROFILE_STATUSACTIVE#A#END_IF_PROFILE_STATUSACTIVE##IF_PROFILE_STATUSNONACTIVE#N#END_IF_"
        u"PROFILE_"
        u"STATUSNONACTIVE##IF_PROFILE_STATUSRUNNING#R#END_IF_PROFILE_STATUSRUNNING##IF_PROFILE_"
        u"STATUSNOTRUNNING#"
        u"r#END_IF_PROFILE_STATUSNOTRUNNING##IF_PROFILE_STATUSNOTAVAIL#V#END_IF_PROFILE_STATUSNOTAVAIL##IF_"
        u"PROFILE_STATUSDISABLED#D#END_IF_PROFILE_STATUSDISABLED##IF_PROFILE_STATUSERROR#E#END_IF_PROFILE_"
        u"STATUSERROR#";
    const struct {
        int state;
        const char16_t* kept;
    } kCases[] = {{0, u"NrD"}, {1, u"Ar"},  {2, u"Ar"},
                  {3, u"Ar"},  {4, u"NR"},  {5, u"NrE"},
                  {6, u"Ar"},  {7, u"NrV"}, {CPageTemplate::kNoProfileState, u""}};
    for (const auto& c : kCases) {
        CString text = page;
        CPageTemplate::KeepStatusSections(text, c.state);
        EXPECT_EQ(text, c.kept) << c.state;
    }
}

TEST_F(PageTemplateTest, FortyCharacterNameWrapsAfter15And30) {
    CString name(u'x', 40);
    CPageTemplate::WrapText(name, 15);
    EXPECT_EQ(name, CString(u'x', 15) + u"<br>" + CString(u'x', 15) + u"<br>" + CString(u'x', 10));
    CString spaced = u"aaaaaaaaaaaaa bbbbbbbbbbbb";
    CPageTemplate::WrapText(spaced, 15);
    EXPECT_EQ(spaced, u"aaaaaaaaaaaaa<br> bbbbbbbbbbbb");
    EXPECT_EQ(CPageTemplate::WrapEscaped(u"<<<<<<<<<<<<<<<<<", 15),
              u"&lt;&lt;&lt;&lt;&lt;&lt;&lt;&lt;&lt;&lt;&lt;&lt;&lt;&lt;&lt;<br>&lt;&lt;");
}

TEST_F(PageTemplateTest, UserTextIsEscapedAndCannotFormTags) {
    m_context.nSelectedProfile = 0;
    EXPECT_EQ(Expand(u"<input value=\"#PROFILE_DESCRIPTION#\">"),
              u"<input value=\"say &quot;hi&quot; &lt;b&gt;\">");
    m_context.nSelectedProfile = 2;
    CString name = Expand(u"#PROFILE_NAME#|#PROFILE_RUN_COMMAND#");
    EXPECT_EQ(name,
              u"C:\\p\\c&amp;&lt;&#39;&#35;PROFILE_NAME&#35;&#39;&gt;.fsf|/"
              u"status.htm?RUN=C%3a%5cp%5cc%26%3c%27%23PROFILE%5f"
              u"NAME%23%27%3e%2efsf");
    m_context.strErrorText = u"Error. <script>x</script> not found.";
    EXPECT_EQ(Expand(u"#IF_ERROR#[#ERROR_TEXT#]#ENDIF_ERROR##IF_NOTERROR#none#ENDIF_NOTERROR#"),
              u"[Error. &lt;script&gt;x&lt;/script&gt; not found.]");
    m_context.strClientIp = u"<1>";
    EXPECT_EQ(Expand(u"#CLIENT_IP#"), u"&lt;1&gt;");
}

// The return page and the page path come from the request: whatever reaches a link attribute
// cannot close the attribute or open a tag, in either quote.
TEST_F(PageTemplateTest, RequestValuesInLinksAreEscapedForTheAttribute) {
    const CString hostile = u"/x\"'><script>alert(1)</script>#HOME#";
    const CString escaped = u"/x&quot;&#39;&gt;&lt;script&gt;alert(1)&lt;/script&gt;&#35;HOME&#35;";
    m_context.strReturnPage = hostile;
    EXPECT_EQ(Expand(u"<a href=\"#BACK_AFTERERROR#\">"), u"<a href=\"" + escaped + u"\">");
    m_context.strReturnPage.Empty();
    EXPECT_EQ(Expand(u"#BACK_AFTERERROR#"), u"/status.htm");
    m_context.strPage = hostile;
    EXPECT_EQ(Expand(u"#SHOW_ALL_CATEGORY_COMMAND#"), escaped);
    EXPECT_EQ(Expand(u"#RUN_ALL_COMMAND#"), escaped + u"?RUN=ALL");
    m_context.nSelectedCategory = 1;
    EXPECT_EQ(Expand(u"#SHOW_CATEGORY_COMMAND#"), escaped + u"?CATEGORY=Work");
    EXPECT_EQ(Expand(u"#ADD_COMMAND#").Find(u'<'), -1);
}

TEST_F(PageTemplateTest, OutOfRangeProfileCountsAsNone) {
    for (int index : {-1, 3, 1000}) {
        m_context.nSelectedProfile = index;
        EXPECT_EQ(Expand(u"[#PROFILE_NAME#]#IF_FORM_ACTIONADD#add#ENDIF_FORM_ACTIONADD#|#FORM_ACTION#"),
                  u"[]add|add.htm?REF=%2fstatus%2ehtm")
            << index;
    }
    m_context.nSelectedProfile = 1;
    EXPECT_EQ(Expand(u"[#PROFILE_NAME#]#IF_FORM_ACTIONADD#add#ENDIF_FORM_ACTIONADD#"), u"[C:\\p\\b.fsf]");
}

TEST_F(PageTemplateTest, LinksCarryTheSelection) {
    m_context.nSelectedCategory = 1;
    EXPECT_EQ(
        Expand(u"#RUN_ALL_COMMAND#|#RUN_ALL_COMMAND_SEQ#|#SHOW_CATEGORY_COMMAND#"),
        u"/status.htm?CATEGORY=Work&RUN=ALL|/status.htm?CATEGORY=Work&RUN=SEQ|/status.htm?CATEGORY=Work");
    m_context.strPage = u"/profile.htm";
    m_context.nSelectedProfile = 1;
    EXPECT_EQ(Expand(u"#PROFILE_STOP_COMMAND#"),
              u"/profile.htm?SHOWPROFILE=C%3a%5cp%5cb%2efsf&CATEGORY=Work&STOP=C%3a%5cp%5cb%2efsf");
    EXPECT_EQ(Expand(u"#IF_NO_SELECTED_CATEGORY#no#END_IF##IF_IS_SELECTED_CATEGORY#yes#END_IF#"), u"yes");
}

TEST_F(PageTemplateTest, EngineSectionsAndSettings) {
    m_context.settings.m_bSaved = false;
    m_context.settings.m_nSyncProgramMissing = 1;
    m_context.settings.m_nSyncProgramBuild = 20140001;
    m_context.settings.m_strHttpPasswordHash = u"x";
    m_context.settings.m_nCheckNew = 7;
    m_context.settings.m_nCheckNewAfterChange = 3;
    m_context.bDatabaseMissing = true;
    EXPECT_EQ(
        Expand(u"#IF_NOSAVE#s#END_IF_NOSAVE##IF_NOZB#z#END_IF_NOZB##IF_NODB#d#END_IF_NODB##IF_NOT_REQUIRED_"
               u"VERSION#v#END_IF_NOT_REQUIRED_VERSION##IF_NOPROFILES#p#END_IF_NOPROFILES##HTTP_PWD#"),
        u"szdActive");
    EXPECT_EQ(
        Expand(u"#INSERT_CHECKNEW_VALUE#"),
        u"<script type=\"text/javascript\"> var refreshonexit = true; var timeout = 7; var timeout_ac = 3; "
        u"</script>");
    CArray<CZBProjectRunItemData> empty;
    m_context.pSnapshot = &empty;
    EXPECT_EQ(Expand(u"#IF_NOPROFILES#p#END_IF_NOPROFILES#"), u"p");
}

}  // namespace
