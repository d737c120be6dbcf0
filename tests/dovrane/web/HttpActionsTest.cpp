// The parts of the web actions that need no engine: which requests count as coming from the
// engine's own pages, and how a query is taken apart.
#include <gtest/gtest.h>

#include "dovrane/web/HttpActions.h"

namespace {

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
