// The web server's answers: the exact header templates, the busy texts, the 404 body that
// neither shows the folder nor lets the path into the HTML, and the Location that cannot split
// an answer or lead off the engine.
#include <gtest/gtest.h>

#include <regex>

#include "dovrane/web/HttpAnswer.h"
#include "dovrane/web/MimeTable.h"

namespace {

std::string Header(const std::string& answer) {
    return answer.substr(0, answer.find("\r\n\r\n") + 4);
}

std::string WithoutDate(const std::string& text) {
    return std::regex_replace(text, std::regex("Date: [^\r]*\r\n"), "Date: D\r\n");
}

TEST(HttpAnswerTest, DateIsTheHttpForm) {
    EXPECT_TRUE(std::regex_match(CHttpAnswer::HttpDate(),
                                 std::regex("(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d [A-Z][a-z][a-z] \\d{4} "
                                            "\\d\\d:\\d\\d:\\d\\d GMT")))
        << CHttpAnswer::HttpDate();
}

TEST(HttpAnswerTest, PageHeadersByExtension) {
    EXPECT_EQ(
        WithoutDate(CHttpAnswer::Page("200 OK", "htm", "text/html; charset=utf-16", "ab", true)),
        "HTTP/1.1 200 OK\r\nDate: D\r\nServer: ZBEngine 1.0\r\nAccept-Ranges: bytes\r\nContent-Length: 2\r\n"
        "Connection: keep-alive\r\nContent-Type: text/html; charset=utf-16\r\nCache-Control:no-cache\r\n"
        "Pragma: no-cache, no-store\r\n\r\nab");
    EXPECT_EQ(
        WithoutDate(CHttpAnswer::Page("200 OK", "css", "text/css;", "x", false)),
        "HTTP/1.1 200 OK\r\nDate: D\r\nServer: ZBEngine 1.0\r\nAccept-Ranges: bytes\r\nContent-Length: 1\r\n"
        "Connection: close\r\nContent-Type: text/css;\r\nCache-Control:max-age=3600\r\n\r\nx");
}

TEST(HttpAnswerTest, BusyRedirectAndPasswordAnswers) {
    std::string busy = CHttpAnswer::Busy(CHttpAnswer::BUSY_STOPPING);
    EXPECT_NE(busy.find("Content-Type: text/html; charset=iso-8859-1\r\n"), std::string::npos);
    EXPECT_NE(busy.find("<p>ZBEngine is busy stopping a profile."), std::string::npos);
    EXPECT_NE(CHttpAnswer::Busy(CHttpAnswer::BUSY_DISABLING).find("busy disabling a profile"),
              std::string::npos);
    EXPECT_NE(CHttpAnswer::Busy(0).find("busy with a requested operation"), std::string::npos);
    std::string body = busy.substr(busy.find("\r\n\r\n") + 4);
    EXPECT_NE(busy.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);

    EXPECT_EQ(WithoutDate(CHttpAnswer::Redirect("303 See Other", "/status.htm?CATEGORY=a", true)),
              "HTTP/1.1 303 See Other\r\nDate: D\r\nServer: ZBEngine 1.0\r\nAccept-Ranges: bytes\r\n"
              "Connection: keep-alive\r\nLocation:/status.htm?CATEGORY=a\r\n\r\n");
    EXPECT_EQ(WithoutDate(CHttpAnswer::Unauthorized()),
              "HTTP/1.1 401 Authorization Required\r\nDate: D\r\nConnection: close\r\n"
              "WWW-Authenticate: Basic realm=\"ZBEngine\" \r\n\r\n");
}

TEST(HttpAnswerTest, NotFoundEscapesThePath) {
    std::string answer = CHttpAnswer::NotFound("/<script>alert(1)</script>.htm");
    EXPECT_EQ(answer.find("<script>"), std::string::npos);
    EXPECT_NE(answer.find("&lt;script&gt;"), std::string::npos);
    EXPECT_EQ(answer.rfind("HTTP/1.1 404 Resource not found\r\n", 0), 0u);
    std::string body = answer.substr(answer.find("\r\n\r\n") + 4);
    EXPECT_NE(answer.find("Content-Length: " + std::to_string(body.size())), std::string::npos);
}

TEST(HttpAnswerTest, LocationStaysOnTheEngine) {
    const struct {
        const char* location;
        const char* expected;
    } kCases[] = {
        {"/status.htm?CATEGORY=a", "/status.htm?CATEGORY=a"},
        {"/status.htm\r\nSet-Cookie: x=1", "/status.htm"},
        {"//evil.example/", "/status.htm"},
        {"/\\evil.example/", "/status.htm"},
        {"http://evil.example/", "/status.htm"},
        {"javascript:alert(1)", "/status.htm"},
        {"", "/status.htm"},
        {"\r\n/x", "/status.htm"},
    };
    for (const auto& c : kCases) EXPECT_EQ(CHttpAnswer::SafeLocation(c.location), c.expected) << c.location;
    std::string header = Header(CHttpAnswer::Redirect("204 No Content", "/a\r\nX-Injected: 1", false));
    EXPECT_EQ(header.find("\r\nX-Injected"), std::string::npos);
}

TEST(HttpAnswerTest, MimeTableLaterEntriesWin) {
    CMimeTable mime;
    EXPECT_EQ(mime.Lookup("arj"), "application/x-compressed");
    EXPECT_EQ(mime.Lookup("rtf"), "text/richtext");
    EXPECT_EQ(mime.Lookup("htm"), "text/html;");
    EXPECT_EQ(mime.Lookup("gif"), "image/gif");
    EXPECT_EQ(mime.Lookup("css"), "text/css");
    EXPECT_EQ(mime.Lookup("php"), "wwwserver/isapi");
    EXPECT_EQ(mime.Lookup("nosuch"), "text/html");
}

}  // namespace
