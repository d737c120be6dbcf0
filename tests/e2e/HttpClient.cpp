// Support for end-to-end tests: a small HTTP client on loopback; fakes nothing.
#include "tests/e2e/HttpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>

#include "platform/base/TextConvert.h"
#include "tests/support/LoopbackPort.h"

namespace zbtest {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void ParseHeader(HTTPANSWER& answer) {
    size_t lineEnd = answer.header.find("\r\n");
    answer.statusLine = answer.header.substr(0, lineEnd);
    if (answer.statusLine.size() > 12) answer.status = std::atoi(answer.statusLine.c_str() + 9);
    size_t at = lineEnd + 2;
    while (at < answer.header.size()) {
        size_t end = answer.header.find("\r\n", at);
        if (end == std::string::npos || end == at) break;
        std::string line = answer.header.substr(at, end - at);
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            size_t value = line.find_first_not_of(' ', colon + 1);
            answer.headers[line.substr(0, colon)] = value == std::string::npos ? "" : line.substr(value);
        }
        at = end + 2;
    }
}

}  // namespace

CHttpConnection::CHttpConnection(int port) {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd >= 0 && connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(m_fd);
        m_fd = -1;
    }
}

CHttpConnection::~CHttpConnection() {
    if (m_fd >= 0) close(m_fd);
}

bool CHttpConnection::Send(const std::string& bytes) {
    size_t sent = 0;
    while (m_fd >= 0 && sent < bytes.size()) {
        ssize_t done = send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (done <= 0) return false;
        sent += static_cast<size_t>(done);
    }
    return m_fd >= 0;
}

bool CHttpConnection::Fill(unsigned timeoutMs) {
    if (m_fd < 0 || m_bClosed) return false;
    pollfd entry{m_fd, POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(timeoutMs)) <= 0) return false;
    char chunk[65536];
    ssize_t got = recv(m_fd, chunk, sizeof chunk, 0);
    if (got <= 0) {
        m_bClosed = true;
        return false;
    }
    m_buffer.append(chunk, static_cast<size_t>(got));
    return true;
}

bool CHttpConnection::Pending(unsigned timeoutMs) {
    return !m_buffer.empty() || Fill(timeoutMs);
}

bool CHttpConnection::ClosedByPeer(unsigned timeoutMs) {
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!m_bClosed && RemainingMs(end) > 0) {
        if (!Fill(static_cast<unsigned>(RemainingMs(end))) && !m_bClosed) break;
    }
    return m_bClosed;
}

HTTPANSWER CHttpConnection::Receive(unsigned timeoutMs) {
    HTTPANSWER answer;
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t headerEnd;
    while ((headerEnd = m_buffer.find("\r\n\r\n")) == std::string::npos) {
        if (RemainingMs(end) == 0 || !Fill(static_cast<unsigned>(RemainingMs(end)))) return answer;
    }
    answer.received = true;
    answer.header = m_buffer.substr(0, headerEnd + 4);
    m_buffer.erase(0, headerEnd + 4);
    ParseHeader(answer);
    auto length = answer.headers.find("Content-Length");
    if (length == answer.headers.end()) {
        bool noBody = answer.status == 204 || answer.status == 303 || answer.status == 401;
        while (!noBody && RemainingMs(end) > 0 && Fill(static_cast<unsigned>(RemainingMs(end)))) {
        }
        answer.body = noBody ? std::string() : m_buffer;
        if (!noBody) m_buffer.clear();
        return answer;
    }
    size_t wanted = static_cast<size_t>(std::atoll(length->second.c_str()));
    while (m_buffer.size() < wanted && RemainingMs(end) > 0 &&
           Fill(static_cast<unsigned>(RemainingMs(end)))) {
    }
    answer.body = m_buffer.substr(0, wanted);
    m_buffer.erase(0, answer.body.size());
    return answer;
}

HTTPANSWER HttpExchange(int port, const std::string& request, unsigned timeoutMs) {
    CHttpConnection connection(port);
    if (!connection.Send(request)) return HTTPANSWER();
    return connection.Receive(timeoutMs);
}

HTTPANSWER HttpGet(int port, const std::string& path, const std::string& extraHeaders) {
    return HttpExchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                  "\r\nConnection: close\r\n" + extraHeaders + "\r\n");
}

HTTPANSWER HttpPost(int port, const std::string& path, const std::string& body,
                    const std::string& extraHeaders) {
    return HttpExchange(port,
                        "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                            "\r\nConnection: close\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                            "Content-Length: " +
                            std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body);
}

std::string Utf16Body(const std::string& body) {
    std::u16string units(body.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(body[2 * i]) |
                                         (static_cast<unsigned char>(body[2 * i + 1]) << 8));
    return zbw::ToUtf8(units);
}

std::string UrlEncoded(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char ch : text) {
        if (std::isalnum(ch)) {
            encoded += static_cast<char>(ch);
        } else {
            encoded += '%';
            encoded += kHex[ch >> 4];
            encoded += kHex[ch & 15];
        }
    }
    return encoded;
}

}  // namespace zbtest
