// The web server's request reader: when the bytes form a whole request (split requests, the
// size bounds) and what it reads from one.
#include <gtest/gtest.h>

#include "dovrane/web/HttpRequest.h"

namespace {

TEST(HttpRequestTest, CompletenessOfSplitAndWholeRequests) {
    using R = CHttpRequest;
    const struct {
        const char* bytes;
        R::COMPLETENESS expected;
    } kCases[] = {
        {"G", R::INCOMPLETE},
        {"GE", R::INCOMPLETE},
        {"GET", R::INCOMPLETE},
        {"P", R::INCOMPLETE},
        {"POS", R::INCOMPLETE},
        {"GET / HTTP/1.1\r\nHost: x\r\n", R::INCOMPLETE},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", R::COMPLETE},
        {"POST /add.htm HTTP/1.1\r\nContent-Length: 5\r\n\r\nab", R::INCOMPLETE},
        {"POST /add.htm HTTP/1.1\r\nContent-Length: 5\r\n\r\nabcde", R::COMPLETE},
        {"POST /add.htm HTTP/1.1\r\nHost: x\r\n\r\n", R::COMPLETE},
        {"POST /add.htm HTTP/1.1\r\nContent-Length: 5\r\n", R::INCOMPLETE},
        {"POST /add.htm HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n", R::BODY_TOO_LARGE},
        {"POST /add.htm HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n", R::BODY_TOO_LARGE},
        {"POST /add.htm HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n", R::BODY_TOO_LARGE},
        {"POST /add.htm HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n", R::INCOMPLETE},
        {"POST /add.htm HTTP/1.1\r\nContent-Length: 5 \r\n\r\nabcde", R::COMPLETE},
        {"POST /add.htm HTTP/1.1\r\nContent-Length: -4\r\n\r\n", R::MALFORMED},
        {"POST /add.htm HTTP/1.1\r\nContent-Length: 4 4\r\n\r\n", R::MALFORMED},
        {"POST /add.htm HTTP/1.1\r\nContent-Length: \r\n\r\n", R::MALFORMED},
        {"PUT / HTTP/1.1\r\n", R::COMPLETE},
        {"X", R::COMPLETE},
    };
    for (const auto& c : kCases) EXPECT_EQ(R::CheckComplete(c.bytes), c.expected) << c.bytes;
}

// Each bound is a refusal of its own as soon as the bytes pass it, ended or not, so the server
// can answer with the status that names it.
TEST(HttpRequestTest, EachBoundHasItsRefusal) {
    using R = CHttpRequest;
    const std::string longTarget = "GET /status.htm?x=" + std::string(R::MAX_LINE_BYTES, 'a');
    const std::string bigHeader = "GET / HTTP/1.1\r\nX: " + std::string(R::MAX_HEADER_BYTES, 'a');
    const struct {
        std::string bytes;
        R::COMPLETENESS expected;
        const char* status;
    } kCases[] = {
        {longTarget, R::LINE_TOO_LONG, "414 URI Too Long"},
        {longTarget + " HTTP/1.1\r\n\r\n", R::LINE_TOO_LONG, "414 URI Too Long"},
        {longTarget.substr(0, 1000), R::INCOMPLETE, ""},
        {bigHeader, R::HEADERS_TOO_LARGE, "431 Request Header Fields Too Large"},
        {bigHeader + "\r\n\r\n", R::HEADERS_TOO_LARGE, "431 Request Header Fields Too Large"},
        {bigHeader.substr(0, 1000), R::INCOMPLETE, ""},
        {"POST /add.htm HTTP/1.1\r\nContent-Length: 2000000\r\n\r\nabc", R::BODY_TOO_LARGE,
         "413 Payload Too Large"},
        {"POST /add.htm HTTP/1.1\r\nContent-Length: x\r\n\r\n", R::MALFORMED, "400 Bad Request"},
        {"GET / HTTP/1.1\r\n\r\n" + std::string(R::MAX_HEADER_BYTES + 1, 'b'), R::MALFORMED,
         "400 Bad Request"},
        {"GET / HTTP/1.1\r\n\r\n", R::COMPLETE, ""},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(R::CheckComplete(c.bytes), c.expected) << c.bytes.substr(0, 60);
        EXPECT_EQ(R::IsRefusal(c.expected), *c.status != 0);
        EXPECT_STREQ(R::RefusalStatus(c.expected), c.status);
    }
}

TEST(HttpRequestTest, ReadsTargetHeadersAndBody) {
    CHttpRequest get;
    ASSERT_TRUE(
        get.Parse("GET /profile.htm?SHOWPROFILE=a%20b&CATEGORY=x HTTP/1.1\r\nHost: 127.0.0.1:8001\r\n"
                  "Connection: keep-alive\r\nReferer: http://127.0.0.1:8001/\r\n\r\n"));
    EXPECT_TRUE(get.IsGet());
    EXPECT_EQ(get.m_strPath, "/profile.htm");
    EXPECT_EQ(get.m_strQuery, "SHOWPROFILE=a%20b&CATEGORY=x");
    EXPECT_EQ(get.m_strHost, "127.0.0.1:8001");
    EXPECT_TRUE(get.m_bKeepAlive);
    EXPECT_EQ(get.GetHeader("Referer"), "http://127.0.0.1:8001/");
    EXPECT_EQ(get.GetHeader("Origin"), "");

    CHttpRequest post;
    ASSERT_TRUE(
        post.Parse("POST /add.htm?REF=%2Fstatus.htm HTTP/1.1\r\nConnection: Keep-Alive\r\n"
                   "Content-Length: 9\r\n\r\nprofile=x"));
    EXPECT_TRUE(post.IsPost());
    EXPECT_EQ(post.m_strQuery, "profile=x");
    EXPECT_EQ(post.m_strUrlQuery, "REF=%2Fstatus.htm");
    EXPECT_TRUE(post.m_bKeepAlive);

    CHttpRequest close;
    ASSERT_TRUE(close.Parse("GET / HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(close.m_strPath, "/");
    EXPECT_FALSE(close.m_bKeepAlive);
    EXPECT_FALSE(CHttpRequest().Parse("GARBAGE"));
    // A client's request line without a blank, followed by lines that have one.
    EXPECT_FALSE(CHttpRequest().Parse("0\r\nContent-Length: 99 99\r\n\r\n"));
    EXPECT_FALSE(CHttpRequest().Parse("GET\r\nHost: a b\r\n\r\n"));
}

}  // namespace
