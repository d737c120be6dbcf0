#include "dovrane/web/HttpRequest.h"

#include <cstdlib>

namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";
constexpr std::string_view kContentLength = "\r\nContent-Length: ";

bool IsPrefixOf(std::string_view part, std::string_view whole) {
    return part.size() < whole.size() && whole.substr(0, part.size()) == part;
}

// The declared body length, or -1 when it is too large or not a number.
long long DeclaredLength(std::string_view headers) {
    size_t at = headers.find(kContentLength);
    if (at == std::string_view::npos) return 0;
    size_t start = at + kContentLength.size();
    size_t end = headers.find("\r\n", start);
    std::string value(headers.substr(start, end == std::string_view::npos ? end : end - start));
    if (value.empty() || value.find_first_not_of("0123456789 ") != std::string::npos) return -1;
    if (value.size() > 12) return -1;
    return std::atoll(value.c_str());
}

}  // namespace

CHttpRequest::COMPLETENESS CHttpRequest::CheckComplete(std::string_view bytes) {
    if (IsPrefixOf(bytes, "GET ") || IsPrefixOf(bytes, "POST ")) return INCOMPLETE;
    bool get = bytes.substr(0, 3) == "GET";
    bool post = bytes.substr(0, 4) == "POST";
    if (!get && !post) return COMPLETE;
    size_t end = bytes.find(kBlankLine);
    if (end == std::string_view::npos) return bytes.size() > MAX_HEADER_BYTES ? REFUSED : INCOMPLETE;
    if (end > MAX_HEADER_BYTES) return REFUSED;
    if (get) {
        if (bytes.ends_with(kBlankLine)) return COMPLETE;
        return bytes.size() > end + MAX_HEADER_BYTES ? REFUSED : INCOMPLETE;
    }
    long long length = DeclaredLength(bytes.substr(0, end + 2));
    if (length < 0 || length > static_cast<long long>(MAX_BODY_BYTES)) return REFUSED;
    return bytes.size() >= end + kBlankLine.size() + static_cast<size_t>(length) ? COMPLETE : INCOMPLETE;
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
