// The web actions: which requests count as coming from the engine's own pages, how a query is
// taken apart, the refusals of OPEN and the engine commands sent to the main window.
#include <gtest/gtest.h>

#include <vector>

#include "common/UrlCodec.h"
#include "dovrane/RunItemList.h"
#include "dovrane/threads/ZBProjectRunItemData.h"
#include "dovrane/web/EngineCommandCodes.h"
#include "dovrane/web/HttpActions.h"
#include "platform/base/TextConvert.h"
#include "tests/support/TestRoot.h"

namespace {

// A page context over the given snapshot and categories, everything else at its default.
PAGECONTEXT ContextOver(const CArray<CZBProjectRunItemData>& snapshot,
                        const std::vector<CString>& categories) {
    PAGECONTEXT context;
    context.pSnapshot = &snapshot;
    context.pCategories = &categories;
    return context;
}

TEST(HttpActionsTest, OnlyTheEnginesOwnPagesMayChangeIt) {
    using SITE = CHttpActions::REQUESTSITE;
    const struct {
        SITE site;
        bool same;
    } kCases[] = {
        {{"", "", "127.0.0.1:8001", ""}, true},
        {{"", "http://127.0.0.1:8001/status.htm?x=1", "127.0.0.1:8001", ""}, true},
        {{"http://127.0.0.1:8001", "", "127.0.0.1:8001", "same-origin"}, true},
        {{"", "", "127.0.0.1:8001", "none"}, true},
        {{"", "http://HOST:8001/", "host:8001", ""}, true},
        {{"http://evil.example", "", "127.0.0.1:8001", ""}, false},
        {{"null", "", "127.0.0.1:8001", ""}, false},
        {{"", "http://evil.example/page", "127.0.0.1:8001", ""}, false},
        {{"", "http://127.0.0.1:9000/", "127.0.0.1:8001", ""}, false},
        {{"", "", "127.0.0.1:8001", "cross-site"}, false},
        {{"", "", "127.0.0.1:8001", "same-site"}, false},
        {{"", "http://127.0.0.1:8001.evil.example/", "127.0.0.1:8001", ""}, false},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(CHttpActions::IsSameSite(c.site), c.same)
            << c.site.origin << " " << c.site.referer << " " << c.site.fetchSite;
}

TEST(HttpActionsTest, PairsAreSplitBeforeTheyAreDecoded) {
    auto pairs =
        CHttpActions::SplitQuery("RUN=C%3A%5Ca%26b%3Dc.fsf&novalue&CATEGORY=Work+%26+Home&REF=%2Fstatus.htm");
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[0].first, u"RUN");
    EXPECT_EQ(pairs[0].second, u"C:\\a&b=c.fsf");
    EXPECT_EQ(pairs[1].second, u"Work & Home");
    EXPECT_EQ(pairs[2].second, u"/status.htm");
    EXPECT_EQ(CHttpActions::SplitQuery("").size(), 0u);
}

}  // namespace

namespace {

class HttpActionsListTest : public ::testing::Test {
   protected:
    CHttpActions::ANSWER Run(const std::string& query) {
        CHttpActions actions(m_list,
                             {[this](WPARAM code) { return m_posted.push_back(code), 1; },
                              [this](WPARAM code, CString&, LRESULT& result) {
                                  m_sent.push_back(code);
                                  if (m_outcome == CEngineCall::CALL_ANSWERED) result = m_result;
                                  return m_outcome;
                              }},
                             m_context, m_busy);
        actions.SetPauses(0, 0, 0);
        CHttpActions::ANSWER answer = actions.RunQuery(query, {});
        m_location = actions.Location();
        return answer;
    }

    CTestRoot m_root;
    CRunItemList m_list;
    CArray<CZBProjectRunItemData> m_snapshot;
    std::vector<CString> m_categories;
    PAGECONTEXT m_context = ContextOver(m_snapshot, m_categories);
    std::atomic<int> m_busy{0};
    std::vector<WPARAM> m_sent, m_posted;
    std::string m_location;
    // What the main window does with a call.
    CEngineCall::OUTCOME m_outcome = CEngineCall::CALL_ANSWERED;
    LRESULT m_result = 0;
};

TEST_F(HttpActionsListTest, OpenIsRefusedFromAnotherMachineAndUnderTheService) {
    m_context.strPage = u"/status.htm";
    m_context.strClientIp = u"10.0.0.5";
    EXPECT_EQ(Run("OPEN=x"), CHttpActions::ANSWER_PAGE);
    EXPECT_EQ(m_context.strErrorText,
              u"Unable to open Zebrodyne profile on remote machine 10.0.0.5 from this machine");
    m_context.strErrorText.Empty();
    m_context.bLocalClient = true;
    m_context.settings.m_nService = 1;
    EXPECT_EQ(Run("OPENSETTINGS=x"), CHttpActions::ANSWER_PAGE);
    EXPECT_EQ(m_context.strErrorText,
              u"Unable to open Zebrodyne profile from browser when ZBEngine is running as service");
}

TEST_F(HttpActionsListTest, EngineCommandsGoToTheMainWindow) {
    m_context.strPage = u"/status.htm";
    EXPECT_EQ(Run("SHUTDOWN=ALL"), CHttpActions::ANSWER_PAGE);
    EXPECT_EQ(m_context.strErrorText, u"ZBEngine is shutting down... ");
    ASSERT_EQ(m_posted.size(), 1u);
    EXPECT_EQ(m_posted[0], static_cast<WPARAM>(ENGINE_CMD_SHUTDOWN));
    m_context.strErrorText.Empty();
    EXPECT_EQ(Run("REMOVE=C%3A%5Cgone.fsf"), CHttpActions::ANSWER_PAGE) << "the window refused it";
    EXPECT_EQ(m_context.strErrorText, u"C:\\gone.fsf does not exist");
    m_context.strErrorText.Empty();
    EXPECT_EQ(Run("unknown=1"), CHttpActions::ANSWER_SEE_OTHER);
    EXPECT_EQ(m_location, "/status.htm");
    EXPECT_EQ(Run("LID=3"), CHttpActions::ANSWER_NO_CONTENT) << "a run section without a file";
}

// A removal the main window has not answered in time (it pumps in a stop) is carried out after
// the pump, so the page takes it as done; only a refusal or a call that never reached the window
// shows the error.
TEST_F(HttpActionsListTest, ARemovalIsRefusedOnlyByTheMainWindowsAnswer) {
    const struct {
        const char* name;
        CEngineCall::OUTCOME outcome;
        LRESULT result;
        bool refused;
    } kCases[] = {
        {"removed", CEngineCall::CALL_ANSWERED, 1, false},
        {"not found", CEngineCall::CALL_ANSWERED, 0, true},
        {"still to be carried out", CEngineCall::CALL_PENDING, 0, false},
        {"no window", CEngineCall::CALL_FAILED, 0, true},
    };
    m_context.strPage = u"/status.htm";
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        m_sent.clear();
        m_context.strErrorText.Empty();
        m_outcome = c.outcome;
        m_result = c.result;
        Run("REMOVE=C%3A%5Cp.fsf");
        EXPECT_EQ(m_context.strErrorText == u"C:\\p.fsf does not exist", c.refused)
            << zbw::ToUtf8(m_context.strErrorText);
        const std::vector<WPARAM> saved{ENGINE_CMD_REMOVE, ENGINE_CMD_SAVE};
        EXPECT_EQ(m_sent, c.refused ? std::vector<WPARAM>{ENGINE_CMD_REMOVE} : saved);
    }
}

// A stranger's link chooses REF: only a bare path of an engine page is kept, for the error
// page's Back link and for the redirect, whatever else it holds.
TEST_F(HttpActionsListTest, ReturnPageIsOnlyAnEnginePage) {
    const struct {
        const char16_t* ref;
        const char* kept;
    } kCases[] = {
        {u"/profileform.htm", "/profileform.htm"},
        {u"/", "/"},
        {u"/error.htm", "/error.htm"},
        {u"\"><script>alert(1)</script>", "/status.htm"},
        {u"/status.htm\"><script>alert(1)</script>", "/status.htm"},
        {u"javascript:alert(document.cookie)", "/status.htm"},
        {u" javascript:alert(1)", "/status.htm"},
        {u"//evil.example/status.htm", "/status.htm"},
        {u"http://evil.example/", "/status.htm"},
        {u"/status.htm?SHUTDOWN=ALL", "/status.htm"},
        {u"/help/help.htm", "/status.htm"},
        {u"/status.htm\r\nSet-Cookie: x=1", "/status.htm"},
        {u"status.htm", "/status.htm"},
    };
    m_context.strPage = u"/error.htm";
    for (const auto& c : kCases) {
        m_context.strReturnPage.Empty();
        EXPECT_EQ(Run("REF=" + UrlEncode(c.ref)), CHttpActions::ANSWER_SEE_OTHER) << zbw::ToUtf8(c.ref);
        EXPECT_EQ(zbw::ToUtf8(m_context.strReturnPage), c.kept) << zbw::ToUtf8(c.ref);
        EXPECT_EQ(m_location, c.kept) << zbw::ToUtf8(c.ref);
    }
    CHttpActions form(
        m_list,
        {[](WPARAM) { return 1; }, [](WPARAM, CString&, LRESULT&) { return CEngineCall::CALL_FAILED; }},
        m_context, m_busy);
    EXPECT_EQ(form.RunForm("/add.htm", "action=cancel&token=t", "REF=javascript%3Aalert(1)", {}, u"t"),
              CHttpActions::ANSWER_SEE_OTHER);
    EXPECT_EQ(form.Location(), "/status.htm");
}

// The add and edit forms carry the token the form page was made with: only that exact token
// saves, so a page of another site that cannot read the form cannot post it either.
TEST_F(HttpActionsListTest, FormsSaveOnlyWithTheFormsOwnToken) {
    const CString kToken = u"5f2c9a01d3e4b7a6";
    const struct {
        const char* name;
        const char* path;
        std::string tokenField;
        CString sessionToken;
        bool saves;
    } kCases[] = {
        {"add, its token", "/add.htm", "&token=5f2c9a01d3e4b7a6", kToken, true},
        {"edit, its token", "/edit.htm", "&token=5f2c9a01d3e4b7a6", kToken, true},
        {"add, another token", "/add.htm", "&token=0123456789abcdef", kToken, false},
        {"edit, another token", "/edit.htm", "&token=0123456789abcdef", kToken, false},
        {"its token cut short", "/add.htm", "&token=5f2c9a01d3e4b7a", kToken, false},
        {"its token and more", "/add.htm", "&token=5f2c9a01d3e4b7a6x", kToken, false},
        {"an empty token", "/add.htm", "&token=", kToken, false},
        {"no token", "/add.htm", "", kToken, false},
        {"no form made yet", "/add.htm", "&token=", CString(), false},
    };
    const std::string form = "profile=C%3A%5Cp.fsf&category=Home&action=Save";
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        m_sent.clear();
        m_context.strErrorText.Empty();
        CHttpActions actions(m_list,
                             {[this](WPARAM code) { return m_posted.push_back(code), 1; },
                              [this](WPARAM code, CString&, LRESULT& result) {
                                  m_sent.push_back(code);
                                  result = 1;
                                  return CEngineCall::CALL_ANSWERED;
                              }},
                             m_context, m_busy);
        actions.RunForm(c.path, form + c.tokenField, "", {"", "", "127.0.0.1:8001", ""}, c.sessionToken);
        EXPECT_EQ(m_context.strErrorText == CHttpActions::kRefusedText, !c.saves)
            << zbw::ToUtf8(m_context.strErrorText);
        ASSERT_EQ(m_sent.empty(), !c.saves);
        if (c.saves) {
            EXPECT_EQ(m_sent[0], static_cast<WPARAM>(c.path[1] == 'a' ? ENGINE_CMD_ADD : ENGINE_CMD_SET));
        }
    }
}

}  // namespace
