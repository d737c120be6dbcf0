// The web server's request reader: bytes as a client sends them are tested for a whole request
// at every length they arrive in, and a whole one is taken apart.
#include <string_view>

#include "dovrane/web/HttpRequest.h"
#include "tests/fuzz/FuzzTargets.h"

int FuzzHttpRequest(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (size_t length = 0; length < size; length += length / 4 + 1)
        CHttpRequest::CheckComplete(std::string_view(bytes).substr(0, length));
    if (CHttpRequest::CheckComplete(bytes) != CHttpRequest::COMPLETE) return 0;
    CHttpRequest request;
    if (!request.Parse(bytes)) return 0;
    FUZZ_CHECK(request.m_strPath.size() <= size && request.m_strQuery.size() <= size);
    for (const char* header : {"Host", "Cookie", "Content-Length", "Connection", "If-Modified-Since"})
        FUZZ_CHECK(request.GetHeader(header).size() <= size);
    return 0;
}
