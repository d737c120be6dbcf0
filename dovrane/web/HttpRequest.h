// CHttpRequest: one request of the engine's web server taken apart: when the bytes received form
// a whole request, its method, target, path and query, the headers the server reads and the body.
// Sizes are bounded, so a client cannot make the server hold more than MAX_LINE_BYTES of request
// line, MAX_HEADER_BYTES of header or MAX_BODY_BYTES of body for one request; a request beyond a
// bound, or one that cannot be read, is a refusal with the status that tells the browser why.
//
// A value type; one thread at a time per object (each client thread parses its own). CheckComplete
// keeps no state. Parsing never fails on bad headers: a missing header reads as empty.
#pragma once

#include <string>
#include <string_view>

class CHttpRequest {
   public:
    static constexpr size_t MAX_LINE_BYTES = 8192;
    static constexpr size_t MAX_HEADER_BYTES = 16384;
    static constexpr size_t MAX_BODY_BYTES = 1048576;

    enum COMPLETENESS { INCOMPLETE, COMPLETE, LINE_TOO_LONG, HEADERS_TOO_LARGE, BODY_TOO_LARGE, MALFORMED };

    // GET: complete once the bytes end with the blank line. POST: once the blank line and
    // Content-Length bytes after it have come. A text that may still become "GET " or "POST "
    // waits for more; any other method is complete at once. The refusals come as soon as the
    // bytes show them: a request line beyond MAX_LINE_BYTES, headers beyond MAX_HEADER_BYTES, a
    // declared body beyond MAX_BODY_BYTES, a Content-Length that is not a number or a GET
    // followed by more than a header's worth of bytes.
    static COMPLETENESS CheckComplete(std::string_view bytes);
    static bool IsRefusal(COMPLETENESS state) { return state != INCOMPLETE && state != COMPLETE; }
    // "414 URI Too Long", "431 Request Header Fields Too Large", "413 Payload Too Large" or
    // "400 Bad Request"; empty for the two other states.
    static const char* RefusalStatus(COMPLETENESS state);

    // False when the request line has no blank, so no method can be read.
    bool Parse(const std::string& bytes);

    // The value of a header line "\n<name>: " up to its CR LF; name as the browsers spell it.
    std::string GetHeader(std::string_view name) const;

    bool IsGet() const { return m_strMethod == "GET"; }
    bool IsPost() const { return m_strMethod == "POST"; }

    std::string m_strMethod;
    std::string m_strPath;      // as sent, before "?"; "/" stays "/"
    std::string m_strQuery;     // after "?", or the body of a POST
    std::string m_strUrlQuery;  // after "?", also for a POST
    std::string m_strHost;
    bool m_bKeepAlive = false;

   private:
    std::string m_strHeaders;  // from the request line to the blank line
};
