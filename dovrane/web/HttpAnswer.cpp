#include "dovrane/web/HttpAnswer.h"

#include <cstdio>

#include "common/TextUtils.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"

namespace {

const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string Printf(const char* format, auto... args) {
    int length = std::snprintf(nullptr, 0, format, args...);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.resize(static_cast<size_t>(length));
    return text;
}

const char* BusyText(int busyCode) {
    switch (busyCode) {
        case CHttpAnswer::BUSY_STOPPING:
            return "ZBEngine is busy stopping a profile. This operation may take up to 60 seconds. Please "
                   "retry connecting in a few seconds.";
        case CHttpAnswer::BUSY_DISABLING:
            return "ZBEngine is busy disabling a profile. This operation may take up to 60 seconds. Please "
                   "retry connecting in a few seconds.";
        default:
            return "ZBEngine is busy with a requested operation. Please retry re-connecting in a few "
                   "seconds.";
    }
}

}  // namespace

std::string CHttpAnswer::HttpDate() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return Printf("%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[now.wDayOfWeek % 7], now.wDay,
                  kMonths[(now.wMonth + 11) % 12], now.wYear, now.wHour, now.wMinute, now.wSecond);
}

std::string CHttpAnswer::Page(const std::string& status, const std::string& extension,
                              const std::string& contentType, const std::string& body, bool keepAlive) {
    const char* format =
        extension == "htm"
            ? "HTTP/1.1 %s\r\nDate: %s\r\nServer: %s\r\nAccept-Ranges: bytes\r\nContent-Length: %d\r\n"
              "Connection: %s\r\nContent-Type: %s\r\nCache-Control:no-cache\r\nPragma: no-cache, "
              "no-store\r\n\r\n"
            : "HTTP/1.1 %s\r\nDate: %s\r\nServer: %s\r\nAccept-Ranges: bytes\r\nContent-Length: %d\r\n"
              "Connection: %s\r\nContent-Type: %s\r\nCache-Control:max-age=3600\r\n\r\n";
    return Printf(format, status.c_str(), HttpDate().c_str(), kServerName, static_cast<int>(body.size()),
                  ConnectionText(keepAlive), contentType.c_str()) +
           body;
}

std::string CHttpAnswer::Busy(int busyCode) {
    std::string body = std::string("<html><head><title>ZBEngine</title></head><body><p>") +
                       BusyText(busyCode) + "</p></body></html>";
    return Printf(
               "HTTP/1.1 %s\r\nContent-Length: %d\r\nContent-Type: text/html; charset=iso-8859-1\r\nDate: "
               "%s\r\nServer: %s\r\n\r\n",
               "200 OK", static_cast<int>(body.size()), HttpDate().c_str(), kServerName) +
           body;
}

std::string CHttpAnswer::Redirect(const std::string& status, const std::string& location, bool keepAlive) {
    return Printf(
        "HTTP/1.1 %s\r\nDate: %s\r\nServer: %s\r\nAccept-Ranges: bytes\r\nConnection: "
        "%s\r\nLocation:%s\r\n\r\n",
        status.c_str(), HttpDate().c_str(), kServerName, ConnectionText(keepAlive),
        SafeLocation(location).c_str());
}

std::string CHttpAnswer::Unauthorized() {
    return Printf(
        "HTTP/1.1 %s\r\nDate: %s\r\nConnection: %s\r\nWWW-Authenticate: Basic realm=\"ZBEngine\" \r\n\r\n",
        "401 Authorization Required", HttpDate().c_str(), ConnectionText(false));
}

std::string CHttpAnswer::NotFound(const std::string& requestPath) {
    std::string shown = zbw::ToUtf8(HtmlEscape(zbw::FromUtf8(requestPath)));
    std::string body =
        "<html><head><title>404 not found</title></head><h1>ZBEngine resource not found</h1><h3>" + shown +
        "</h3><br><hr></body></html>";
    return Printf(
               "HTTP/1.1 %s\r\nContent-Length: %d\r\nContent-Type: text/html\r\nDate: %s\r\nServer: "
               "%s\r\n\r\n",
               "404 Resource not found", static_cast<int>(body.size()), HttpDate().c_str(), kServerName) +
           body;
}

std::string CHttpAnswer::Refused(const std::string& status) {
    std::string body = "<html><head><title>" + status + "</title></head><body><h1>ZBEngine: " + status +
                       "</h1></body></html>";
    return Printf(
               "HTTP/1.1 %s\r\nDate: %s\r\nServer: %s\r\nContent-Length: %d\r\nContent-Type: "
               "text/html\r\nConnection: %s\r\n\r\n",
               status.c_str(), HttpDate().c_str(), kServerName, static_cast<int>(body.size()),
               ConnectionText(false)) +
           body;
}

std::string CHttpAnswer::SafeLocation(const std::string& location) {
    std::string safe;
    for (char ch : location) {
        unsigned char byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte == 0x7F) break;
        safe += ch;
    }
    if (safe.size() < 1 || safe[0] != '/' || (safe.size() > 1 && (safe[1] == '/' || safe[1] == '\\')))
        return "/status.htm";
    return safe;
}
