// A small HTTP client for the end-to-end tests: raw requests over loopback, where the bytes
// matter, and the answer taken apart. Every wait is bounded. One thread uses a connection.
#pragma once

#include <map>
#include <string>

namespace zbtest {

struct HTTPANSWER {
    bool received = false;  // a whole status line and header came
    std::string statusLine;
    int status = 0;
    std::map<std::string, std::string> headers;  // names as sent
    std::string header;                          // the raw header with its blank line
    std::string body;
};

class CHttpConnection {
   public:
    explicit CHttpConnection(int port);
    ~CHttpConnection();
    CHttpConnection(const CHttpConnection&) = delete;
    CHttpConnection& operator=(const CHttpConnection&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    bool Send(const std::string& bytes);
    // One answer: its header, then Content-Length bytes (or until the server closes).
    HTTPANSWER Receive(unsigned timeoutMs = 20000);
    // Whether any byte arrives within timeoutMs (the byte is kept for Receive).
    bool Pending(unsigned timeoutMs);
    // Whether the server closed the connection within timeoutMs.
    bool ClosedByPeer(unsigned timeoutMs);

   private:
    bool Fill(unsigned timeoutMs);

    int m_fd = -1;
    std::string m_buffer;
    bool m_bClosed = false;
};

// One request on its own connection ("Connection: close" is the caller's choice).
HTTPANSWER HttpExchange(int port, const std::string& request, unsigned timeoutMs = 20000);
// GET path with Host and the given extra header lines (each ending CR LF).
HTTPANSWER HttpGet(int port, const std::string& path, const std::string& extraHeaders = "");
HTTPANSWER HttpPost(int port, const std::string& path, const std::string& body,
                    const std::string& extraHeaders = "");
// A UTF-16LE body as UTF-8.
std::string Utf16Body(const std::string& body);
// Every byte but an ASCII letter or digit as "%HH", for a query value.
std::string UrlEncoded(const std::string& text);

}  // namespace zbtest
