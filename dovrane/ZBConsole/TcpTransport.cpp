#include "dovrane/ZBConsole/TcpTransport.h"

#include <string>

#include "common/SHA1Text.h"
#include "common/csc.h"
#include "platform/base/TextConvert.h"

namespace {

constexpr int kErrorTextSize = 256;
constexpr int kAddressSize = 64;
constexpr int kGreetingPrefix = 7;
constexpr int kDigestLength = 44;
constexpr int kTimeoutSeconds = TCP_TIMEOUT_MS / 1000;

CString Widen(const char* text) {
    CString wide;
    for (const char* p = text; *p; ++p) wide += static_cast<char16_t>(static_cast<unsigned char>(*p));
    return wide;
}

// The whole frame has arrived once it ends with a digest and what precedes it ends with "|".
bool IsCompleteFrame(const CString& text) {
    CString body = text;
    return VerifySHA1Digest(body) && body.Right(1) == u"|";
}

void AppendUnits(std::string& bytes, CString& text) {
    const size_t whole = bytes.size() & ~size_t{1};
    for (size_t i = 0; i < whole; i += 2) {
        const auto low = static_cast<unsigned char>(bytes[i]);
        const auto high = static_cast<unsigned char>(bytes[i + 1]);
        text += static_cast<char16_t>(low | (high << 8));
    }
    bytes.erase(0, whole);
}

}  // namespace

CTcpTransport::CTcpTransport(CConsoleOutput& out, CAnswerPrinter& printer) : m_out(out), m_printer(printer) {}

CString CTcpTransport::ErrorText(int code) {
    char buffer[kErrorTextSize] = {};
    cscErrorText(code, buffer, kErrorTextSize);
    return Widen(buffer);
}

int CTcpTransport::SendFramedMessage(int connection, const CString& text) {
    CString framed = text + u"|";
    AppendSHA1Digest(framed);
    std::string bytes;
    for (int i = 0; i < framed.GetLength(); ++i) {
        const char16_t unit = framed[i];
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return cscPutData(connection, bytes.data(), static_cast<int>(bytes.size()));
}

int CTcpTransport::ReceiveFramedMessage(int connection, CString& text) {
    text.Empty();
    std::string pending;
    for (;;) {
        char buffer[TCP_PIECE_BYTES + 2] = {};
        const int read = cscGetData(connection, buffer, TCP_PIECE_BYTES);
        if (read < 0) {
            // A peer that closes right after its last frame still delivered that frame.
            if (IsCompleteFrame(text)) break;
            return read;
        }
        if (read > 0) {
            pending.append(buffer, static_cast<size_t>(read));
            AppendUnits(pending, text);
            if (text.GetLength() > TCP_FRAME_MAX_CHARS) break;
            continue;
        }
        if (IsCompleteFrame(text) || cscAwaitData(connection, TCP_MORE_DATA_MS) != 1) break;
    }
    if (text.GetLength() <= TCP_FRAME_MAX_CHARS && VerifySHA1Digest(text) && text.Right(1) == u"|") {
        text.Delete(text.GetLength() - 1);
        return 0;
    }
    text.Empty();
    return TCP_BAD_FRAME;
}

int CTcpTransport::Fail(int connection, const CString& text) {
    m_out.Printf(u"%s\n\n", text);
    if (connection >= 0) cscClose(connection);
    return -1;
}

bool CTcpTransport::AwaitLoginData(int connection) {
    if (cscAwaitData(connection, TCP_TIMEOUT_MS) == 1) return true;
    CString text;
    text.Format(u"Server does not respond. Timeout. %d seconds.", kTimeoutSeconds);
    Fail(connection, text);
    return false;
}

bool CTcpTransport::SendLoginReply(int connection, const CString& password) {
    CString challenge;
    const int result = ReceiveFramedMessage(connection, challenge);
    if (result != 0) {
        CString text;
        text.Format(u"ERROR %d: %s", result, ErrorText(result));
        Fail(connection, text);
        return false;
    }
    // Unused places stay zero, as on the server, so a short challenge gives the same response.
    char narrow[CSC_CHALLENGE_LEN + 1] = {};
    for (int i = 0; i < CSC_CHALLENGE_LEN && i < challenge.GetLength(); ++i) {
        narrow[i] = static_cast<char>(challenge[i]);
    }
    char response[CSC_CHALLENGE_LEN + 1] = {};
    cscResponse(narrow, response);
    SendFramedMessage(connection, Widen(response) + SHA1HashText(password));
    return true;
}

bool CTcpTransport::AwaitGreeting(int connection) {
    m_out.Write(u"Connected, awaiting greeting message from server\n");
    if (!AwaitLoginData(connection)) return false;
    CString greeting;
    const int result = ReceiveFramedMessage(connection, greeting);
    CString text;
    if (result != 0) {
        const bool up = cscIsConnected(connection) == 1;
        text.Format(u"ERROR %d: %s", result, up ? CString(u"GetData fails, timeout") : ErrorText(result));
    } else if (greeting.Left(kGreetingPrefix) != u"Welcome") {
        text.Format(u"ERROR %d: %s", result, greeting);
    } else {
        m_out.Printf(u"%s\n", greeting);
        return true;
    }
    Fail(connection, text);
    return false;
}

int CTcpTransport::ConnectToEngine(const CString& address, int port, const CString& password) {
    m_out.Printf(u"Attempting connection to %s on port %d\n", address, port);
    m_out.Write(u"Connecting...\n");
    const int connection = cscClient(zbw::ToUtf8(address).c_str(), port);
    if (connection < 0) {
        CString text;
        text.Format(u"ERROR %d: %s", connection, ErrorText(connection));
        return Fail(-1, text);
    }
    m_out.Write(u"Authentication...\n");
    if (!AwaitLoginData(connection) || !SendLoginReply(connection, password) || !AwaitGreeting(connection)) {
        return -1;
    }
    char remote[kAddressSize] = {};
    cscGetString(connection, CSC_STR_PEER_ADDRESS, remote, kAddressSize);
    m_out.Printf(u"Remote server IP = %s\n\n", Widen(remote));
    return connection;
}

int CTcpTransport::TcpCommand(int connection, const CString& command, CString& text) {
    text.Empty();
    if (cscAwaitData(connection, TCP_LATE_ANSWER_MS) == 1) {
        CString late;
        ReceiveFramedMessage(connection, late);
    }
    SendFramedMessage(connection, command);
    if (cscAwaitData(connection, TCP_TIMEOUT_MS) != 1) {
        text.Format(u"No answer. Timeout. %d seconds.", kTimeoutSeconds);
        return TCP_NO_ANSWER;
    }
    const int result = ReceiveFramedMessage(connection, text);
    if (result == 0) return 0;
    if (cscIsConnected(connection) != 1) {
        text = u"Not connected.";
        return TCP_NOT_CONNECTED;
    }
    text.Format(u"Error : %d, %s", result, ErrorText(result));
    return result;
}

void CTcpTransport::SendTcpCommand(int connection, const CString& command) {
    m_out.Printf(u"Sending  : %s\n", command);
    CString text;
    if (TcpCommand(connection, command, text) == 0) {
        m_printer.PrintAnswer(command, text);
    } else {
        m_out.Printf(u"Received : %s\n", text);
    }
}
