// The status pages' refresh check, the two RSS feeds, the browse page and the log view, over the
// real engine: what a browser asks and what it is answered, including the pages a check may
// not name and the escaping that keeps the feeds well-formed.
#include <cstdlib>
#include <regex>
#include <string>

#include "common/RegUtils.h"
#include "tests/e2e/HttpEngineFixture.h"
#include "tests/e2e/LogFiles.h"

namespace {

using zbtest::HttpGet;
using zbtest::Utf16Body;

class WebRefreshTest : public CHttpEngineTest {
   protected:
    std::string Body(const std::string& path) { return Utf16Body(HttpGet(m_nPort, path).body); }
    static std::string RefreshId(const std::string& page) {
        std::smatch match;
        std::regex id("data-rid=\"([^\"]*)\"");
        return std::regex_search(page, match, id) ? match[1].str() : std::string();
    }
    std::string Check(const std::string& page, const std::string& id) {
        return Body("/checkrefresh.htm?rpg=" + Encode(page) + "&rid=" + Encode(id));
    }
    // The stand-in's settings of a profile, written before the engine starts (a profile file
    // changed later disables its item).
    void StandIn(const std::string& file, int exitCode, double seconds) {
        std::string path = ProfilePath(file);
        std::string text = Utf16Body(ReadHostFile(path).substr(2));
        text = std::regex_replace(text, std::regex("ExitCode=0"), "ExitCode=" + std::to_string(exitCode));
        text = std::regex_replace(text, std::regex("Seconds=[0-9.]+"), "Seconds=" + std::to_string(seconds));
        ASSERT_TRUE(WriteHostFile(path, Utf16File(text)));
    }
    bool WellFormed(const std::string& xml) {
        std::string file = m_root.Path("feed.xml");
        WriteHostFile(file, xml);
        return std::system(("xmllint --noout " + file + " 2>" + m_root.Path("xmllint.err")).c_str()) == 0;
    }
    void Run(const std::string& file) { Action("RUN=" + Encode(ProfileName(file))); }
    bool WaitForRunEnd(const std::string& file) {
        std::string log = ProfilePath(file.substr(0, file.rfind('.')) + ".log");
        return zbtest::WaitForText([&] { return ReadHostFile(log); }, "END ID: 1", kBoundMs);
    }
};

TEST_F(WebRefreshTest, RefreshCheckAnswersZeroUntilThePageChangesThenItsSection) {
    WriteSettings(FourProfiles());
    StartEngine(4);
    // Just after the start (or as the minute shown turns) the page may still change: begin with
    // the id of a page that one check finds unchanged.
    std::string id = RefreshId(StatusText());
    ASSERT_EQ(id.size(), 44u);
    ASSERT_TRUE(zbtest::WaitForText(
        [&] {
            const std::string answer = Check("/status.htm", id);
            if (answer == "0") return std::string("unchanged");
            id = RefreshId(answer);
            return std::string();
        },
        "unchanged", kBoundMs));
    EXPECT_EQ(Check("/status.htm", id), "0") << "nothing changed between two checks";

    Run("alpha.fsf");
    ASSERT_TRUE(WaitForStandIn("alpha.fsf"));
    std::string section;
    ASSERT_TRUE(zbtest::WaitForText(
        [&] {
            section = Check("/status.htm", id);
            return section == "0" ? std::string() : std::string("changed");
        },
        "changed", kBoundMs));
    EXPECT_EQ(section.find("<html"), std::string::npos) << "only the section is sent";
    EXPECT_EQ(section.find("#AJAX_"), std::string::npos);
    EXPECT_NE(section.find("state running"), std::string::npos) << section;
    const std::string newId = RefreshId(section);
    EXPECT_EQ(newId.size(), 44u);
    EXPECT_NE(newId, id);
}

TEST_F(WebRefreshTest, RefreshCheckNamesOnlyTheEnginesOwnPages) {
    WriteSettings(FourProfiles());
    StartEngine(4);
    for (const char* page : {"/../settings.xml", "/help/help.htm", "/checkrefresh.htm", "C:\\x\\status.htm",
                             "/status.htm/../../etc/passwd", "/style.css"})
        EXPECT_EQ(HttpGet(m_nPort, "/checkrefresh.htm?rpg=" + Encode(page) + "&rid=x").status, 404) << page;
    EXPECT_EQ(HttpGet(m_nPort, "/checkrefresh.htm?rpg=%2F&rid=x").status, 200) << "\"/\" is the default page";
}

TEST_F(WebRefreshTest, FeedsAreWellFormedAndListTheEnabledProfilesLastRuns) {
    std::vector<TESTPROFILE> profiles = {{"ok.fsf", "Work", "", 0.2},
                                         {"bad.fsf", "Work", "", 0.2},
                                         {"never.fsf", "Home", "", 0.2},
                                         {"off.fsf", "Home", "", 0.2}};
    WriteSettings(profiles);
    StandIn("bad.fsf", 1, 0.2);
    StartEngine(4);
    Action("DISABLE=" + Encode(ProfileName("off.fsf")));
    Run("ok.fsf");
    Run("bad.fsf");
    ASSERT_TRUE(WaitForRunEnd("ok.fsf"));
    ASSERT_TRUE(WaitForRunEnd("bad.fsf"));

    std::string runs;
    ASSERT_TRUE(zbtest::WaitForText(
        [&] {
            runs = Body("/rss.xml");
            bool bad =
                runs.find("bad Last Run: ") != std::string::npos && runs.find("(Error)") != std::string::npos;
            bool ok = runs.find("<item><title>ok Last Run: ") != std::string::npos &&
                      runs.find(" (OK)</title>") != std::string::npos;
            return bad && ok ? std::string("both") : std::string();
        },
        "both", kBoundMs))
        << runs;
    zbtest::HTTPANSWER answer = HttpGet(m_nPort, "/rss.xml");
    EXPECT_EQ(answer.headers["Content-Type"], "text/xml;");
    EXPECT_TRUE(WellFormed(runs)) << runs << ReadHostFile(m_root.Path("xmllint.err"));
    EXPECT_NE(
        runs.find("<title>ZBEngine Profile Runs</title><link>http://127.0.0.1:" + std::to_string(m_nPort) +
                  "/status.htm</link><description>ZBEngine Profiles</description><ttl>1</ttl>"),
        std::string::npos)
        << runs;
    EXPECT_NE(runs.find("<item><title>ok Last Run: "), std::string::npos);
    EXPECT_NE(runs.find(" (OK)</title>"), std::string::npos);
    EXPECT_NE(runs.find("<title>never Last Run: None</title>"), std::string::npos) << runs;
    EXPECT_NE(runs.find("<link>http://127.0.0.1:" + std::to_string(m_nPort) + "/profile.htm?SHOWPROFILE="),
              std::string::npos);
    EXPECT_NE(runs.find(" GMT</pubdate>"), std::string::npos);
    EXPECT_EQ(runs.find("off"), std::string::npos) << "a disabled profile is in neither feed";

    // A Host header is the client's text: it is escaped like the names.
    std::string forged = Utf16Body(
        zbtest::HttpExchange(m_nPort, "GET /rss.xml HTTP/1.1\r\nHost: a&b<c>\r\nConnection: close\r\n\r\n")
            .body);
    EXPECT_TRUE(WellFormed(forged)) << forged;
    EXPECT_NE(forged.find("<link>http://a&amp;b&lt;c&gt;/status.htm</link>"), std::string::npos) << forged;

    std::string errors;
    EXPECT_TRUE(zbtest::WaitForText([&] { return errors = Body("/errors.xml"); }, "bad Last Run: ", kBoundMs))
        << errors;
    EXPECT_TRUE(WellFormed(errors)) << errors;
    EXPECT_NE(errors.find("<title>ZBEngine Run Errors</title>"), std::string::npos);
    EXPECT_EQ(zbtest::CountOf(errors, "<item>"), 1) << errors;
    EXPECT_NE(errors.find("<title>bad Last Run: "), std::string::npos);
    EXPECT_EQ(errors.find("Last Run: None"), std::string::npos) << "a profile that never ran failed no run";
}

TEST_F(WebRefreshTest, BrowsePageListsAFoldersProfilesAndRemembersTheFolder) {
    WriteSettings(FourProfiles());
    StartEngine(4);
    std::string page = Body("/browse.htm?CURRFOLDER=" + Encode(WindowsPath(m_root.Path("profiles"))));
    EXPECT_NE(page.find(">alpha.fsf</a><br>"), std::string::npos) << page;
    EXPECT_NE(page.find("onclick=\"assign_selection('"), std::string::npos);
    EXPECT_EQ(page.find("alpha.log"), std::string::npos) << "only profile files are offered";

    Body("/browse.htm?CURRFOLDER=%3Cdesktop%3E");
    CString remembered;
    ASSERT_TRUE(ReadRegStringCU(u"software\\ZBEngine\\ZBEngine\\Settings", u"lfbrowse", remembered));
    EXPECT_EQ(remembered, CString(u"<desktop>"));
}

TEST_F(WebRefreshTest, LogViewShowsOneRunAndPagesALongLog) {
    WriteSettings(FourProfiles());
    StandIn("alpha.fsf", 0, 0.2);
    StartEngine(4);
    Run("alpha.fsf");
    ASSERT_TRUE(WaitForRunEnd("alpha.fsf"));
    const std::string log = Encode(ProfileName("alpha.log"));

    // As a user gets there: the run's "View Log for This Run" on the profile page.
    const std::string profilePage = "/profile.htm?SHOWPROFILE=" + Encode(ProfileName("alpha.fsf"));
    const std::regex logLink("href=\"([^\"]*&LID=[^\"]*)\"[^>]*>View Log for This Run");
    std::smatch link;
    std::string profile;
    ASSERT_TRUE(zbtest::WaitForText(
        [&] {
            profile = Body(profilePage);
            return std::regex_search(profile, link, logLink) ? std::string("linked") : std::string();
        },
        "linked", kBoundMs))
        << profile;
    const std::string href = link[1].str();
    std::string run = Utf16Body(
        HttpGet(m_nPort, href, "Referer: http://127.0.0.1:" + std::to_string(m_nPort) + profilePage + "\r\n")
            .body);
    EXPECT_NE(run.find("<span class='loglineid'>START ID: 1</span>"), std::string::npos) << href << "\n"
                                                                                         << run;
    EXPECT_NE(run.find("<span class='loglineid'>END ID: 1</span>"), std::string::npos);
    EXPECT_NE(run.find("Only the lines of one run are shown."), std::string::npos);
    EXPECT_NE(Utf16Body(Action("URL=" + log + "&LID=9").body).find("Information about this run not found"),
              std::string::npos);

    std::string big(3000000, 'x');
    big.replace(0, 30, "2026-12-10 10:00:00   <b>bold\r\n");
    ASSERT_TRUE(WriteHostFile(ProfilePath("alpha.log"), big));
    std::string first = Utf16Body(Action("URL=" + log).body);
    EXPECT_NE(first.find("Page 1 of 3"), std::string::npos);
    EXPECT_NE(first.find("&lt;b&gt;bold"), std::string::npos);
    EXPECT_EQ(first.find("<b>bold"), std::string::npos);
    EXPECT_NE(Utf16Body(Action("URL=" + log + "&SCT=0").body).find("Page 3 of 3"), std::string::npos);
}

}  // namespace
