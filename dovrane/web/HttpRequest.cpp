#include "dovrane/web/HttpRequest.h"

namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";
constexpr std::string_view kContentLength = "\r\nContent-Length: ";

bool IsPrefixOf(std::string_view part, std::string_view whole) {
    return part.size() < whole.size() && whole.substr(0, part.size()) == part;
}

// The declared body length (0 without the header, capped beyond the body limit); false when
// the value is not a decimal number.
bool DeclaredLength(std::string_view headers, unsigned long long& length) {
    length = 0;
    size_t at = headers.find(kContentLength);
    if (at == std::string_view::npos) return true;
    size_t start = at + kContentLength.size();
    size_t end = headers.find("\r\n", start);
    std::string_view value = headers.substr(start, end == std::string_view::npos ? end : end - start);
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos) return false;
    for (char digit : value) {
        length = length * 10 + static_cast<unsigned>(digit - '0');
        if (length > CHttpRequest::MAX_BODY_BYTES) return true;
    }
    return true;
}

}  // namespace

CHttpRequest::COMPLETENESS CHttpRequest::CheckComplete(std::string_view bytes) {
    if (IsPrefixOf(bytes, "GET ") || IsPrefixOf(bytes, "POST ")) return INCOMPLETE;
    bool get = bytes.substr(0, 3) == "GET";
    bool post = bytes.substr(0, 4) == "POST";
    if (!get && !post) return COMPLETE;
    size_t lineEnd = bytes.find("\r\n");
    if ((lineEnd == std::string_view::npos ? bytes.size() : lineEnd) > MAX_LINE_BYTES) return LINE_TOO_LONG;
    size_t end = bytes.find(kBlankLine);
    if (end == std::string_view::npos)
        return bytes.size() > MAX_HEADER_BYTES ? HEADERS_TOO_LARGE : INCOMPLETE;
    if (end > MAX_HEADER_BYTES) return HEADERS_TOO_LARGE;
    if (get) {
        if (bytes.ends_with(kBlankLine)) return COMPLETE;
        return bytes.size() > end + MAX_HEADER_BYTES ? MALFORMED : INCOMPLETE;
    }
    unsigned long long length = 0;
    if (!DeclaredLength(bytes.substr(0, end + 2), length)) return MALFORMED;
    if (length > MAX_BODY_BYTES) return BODY_TOO_LARGE;
    return bytes.size() >= end + kBlankLine.size() + length ? COMPLETE : INCOMPLETE;
}

const char* CHttpRequest::RefusalStatus(COMPLETENESS state) {
    switch (state) {
        case LINE_TOO_LONG: return "414 URI Too Long";
        case HEADERS_TOO_LARGE: return "431 Request Header Fields Too Large";
        case BODY_TOO_LARGE: return "413 Payload Too Large";
        case MALFORMED: return "400 Bad Request";
        case INCOMPLETE:
        case COMPLETE: break;
    }
    return "";
}

bool CHttpRequest::Parse(const std::string& bytes) {
    // The method and the target come from the request line: a blank only in a later line
    // leaves no method to read (and no target to cut from the line).
    size_t blank = bytes.find(' ');
    if (blank == std::string::npos || blank > bytes.find("\r\n")) return false;
    m_strMethod = bytes.substr(0, blank);
    size_t headerEnd = bytes.find(kBlankLine);
    m_strHeaders = bytes.substr(0, headerEnd == std::string::npos ? bytes.size() : headerEnd + 2);
    size_t lineEnd = m_strHeaders.find("\r\n");
    std::string line = m_strHeaders.substr(0, lineEnd);
    size_t targetEnd = line.find(' ', blank + 1);
    std::string target =
        line.substr(blank + 1, targetEnd == std::string::npos ? targetEnd : targetEnd - blank - 1);
    size_t question = target.find('?');
    m_strPath = target.substr(0, question);
    m_strUrlQuery = question == std::string::npos ? std::string() : target.substr(question + 1);
    m_strQuery = m_strUrlQuery;
    if (IsPost()) m_strQuery = headerEnd == std::string::npos ? std::string() : bytes.substr(headerEnd + 4);
    m_bKeepAlive = m_strHeaders.find("\nConnection: Keep-Alive") != std::string::npos ||
                   m_strHeaders.find("\nConnection: keep-alive") != std::string::npos;
    m_strHost = GetHeader("Host");
    return true;
}

std::string CHttpRequest::GetHeader(std::string_view name) const {
    std::string key = "\n" + std::string(name) + ": ";
    size_t at = m_strHeaders.find(key);
    if (at == std::string::npos) return std::string();
    size_t start = at + key.size();
    size_t end = m_strHeaders.find("\r\n", start);
    return m_strHeaders.substr(start, end == std::string::npos ? end : end - start);
}
