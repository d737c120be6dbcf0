// CTcpTransport: the console client's way to the engine over TCP/IP with the csc library
// (common/csc.h), which the caller attaches for the process. One thread uses an object; the
// connection numbers it hands out belong to the caller, who closes them.
//
// Frame, both directions: the UTF-16LE text T, "|", then the 44-character digest text of
// T + "|"; no length prefix. Login: the server sends an 8-character challenge, the client answers
// cscResponse of it followed by the digest text of the password, then the server sends its
// greeting ("Welcome, ...") or its refusal. Every wait is bounded: 20000 ms for the challenge,
// the greeting and each answer.
//
// Receiving keeps the bytes of a piece that ends inside a character for the next piece, and a
// frame still incomplete when the data pauses is given up to TCP_MORE_DATA_MS more; a frame
// above TCP_FRAME_MAX_CHARS characters is refused as a bad frame.
#pragma once

#include "dovrane/ZBConsole/AnswerPrinter.h"

#define TCP_TIMEOUT_MS 20000
#define TCP_LATE_ANSWER_MS 10
#define TCP_MORE_DATA_MS 2000
#define TCP_PIECE_BYTES 254
#define TCP_FRAME_MAX_CHARS (4 * 1024 * 1024)
#define TCP_BAD_FRAME (-1)
#define TCP_NO_ANSWER (-1)
#define TCP_NOT_CONNECTED (-2)

class CTcpTransport {
   public:
    CTcpTransport(CConsoleOutput& out, CAnswerPrinter& printer);

    // Connects, logs in and awaits the greeting; the connection number, or -1 (the failure is
    // printed and any connection closed).
    int ConnectToEngine(const CString& address, int port, const CString& password);
    // Prints "Sending  : ", then the answer or "Received : " with the failure text.
    void SendTcpCommand(int connection, const CString& command);
    // 0 with the answer, TCP_NO_ANSWER, TCP_NOT_CONNECTED or the csc code, with a failure text.
    int TcpCommand(int connection, const CString& command, CString& text);

    // The cscPutData result.
    static int SendFramedMessage(int connection, const CString& text);
    // 0 with the text, TCP_BAD_FRAME (text emptied) or a negative csc code.
    static int ReceiveFramedMessage(int connection, CString& text);
    // The csc library's text of a code (empty when it has none).
    static CString ErrorText(int code);

   private:
    // Waits for the data of one login step and prints the time-out when none comes.
    bool AwaitLoginData(int connection);
    bool SendLoginReply(int connection, const CString& password);
    bool AwaitGreeting(int connection);
    int Fail(int connection, const CString& text);

    CConsoleOutput& m_out;
    CAnswerPrinter& m_printer;
};
