// CHttpAnswer: the bytes of the web server's answers, header and body: pages and files, the
// busy page, redirects after actions (303) and answers without a page (204), the password
// request (401), the missing file (404) and the refused request (400, 413, 414, 431). Stateless;
// any thread.
//
// Texts that reach a header are made safe here: a Location keeps only a path of this server
// (it must start with a single "/" and ends before any control character), so no caller can split
// the answer or send the browser to another site. The 404 body shows the request path
// HTML-escaped and never the folder it was looked for in.
#pragma once

#include <string>

#include "platform/base/CString.h"

class CHttpAnswer {
   public:
    static constexpr const char* kServerName = "ZBEngine 1.0";

    enum BUSY { BUSY_NONE = 0, BUSY_DISABLING = 1, BUSY_STOPPING = 2 };

    // The current time in UTC, "%a, %d %b %Y %H:%M:%S GMT" with English names.
    static std::string HttpDate();

    // "htm" pages are not cached by the browser; every other extension for an hour.
    static std::string Page(const std::string& status, const std::string& extension,
                            const std::string& contentType, const std::string& body, bool keepAlive);
    static std::string Busy(int busyCode);
    // status "303 See Other" or "204 No Content".
    static std::string Redirect(const std::string& status, const std::string& location, bool keepAlive);
    static std::string Unauthorized();
    static std::string NotFound(const std::string& requestPath);
    // status such as "413 Payload Too Large": a small page that says it; the connection closes.
    static std::string Refused(const std::string& status);

    // location as a path of this server: cut before its first control character; "/status.htm"
    // when it does not start with exactly one "/" (so "//host" and "http:" are refused).
    static std::string SafeLocation(const std::string& location);

    static const char* ConnectionText(bool keepAlive) { return keepAlive ? "keep-alive" : "close"; }
};
