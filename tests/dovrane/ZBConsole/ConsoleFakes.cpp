// Fakes for the console tests: an engine answering on the command block or TCP/IP.
#include "tests/dovrane/ZBConsole/ConsoleFakes.h"

#include <gtest/gtest.h>

#include <string>

#include "common/CSCvs.h"
#include "common/SHA1Text.h"
#include "common/csc.h"
#include "platform/base/Clock.h"

namespace {

constexpr DWORD kServePollMs = 10;
constexpr int kReplyWaitMs = 5000;
constexpr int kFirstPort = 41000;
constexpr int kPortTries = 200;

std::string Bytes(const CString& text) {
    std::string bytes;
    for (int i = 0; i < text.GetLength(); ++i) {
        bytes += static_cast<char>(text[i] & 0xFF);
        bytes += static_cast<char>(text[i] >> 8);
    }
    return bytes;
}

CString Framed(const CString& text) {
    const CString body = text + u"|";
    return body + SHA1HashText(body);
}

bool Put(int connection, const std::string& bytes) {
    return cscPutData(connection, bytes.data(), static_cast<int>(bytes.size())) ==
           static_cast<int>(bytes.size());
}

}  // namespace

BOOL CScriptInput::ReadLine(CString& line) {
    if (m_lines.empty()) return FALSE;
    line = m_lines.front();
    m_lines.pop_front();
    return TRUE;
}

int CTestLoop::AttachSockets() {
    return CSC_OK;
}

CString TwoProfileRecords() {
    const CString sep(RUNITEM_FIELD_SEPARATOR);
    return CString(u"Docs") + sep + u"2" + sep + u"Enabled" + sep + u"Every day at 22:00" + sep +
           u"Last run OK" + sep + u"50%" + sep + u"12/9/2026 10:00:00 PM" + sep + u"12/10/2026 10:00:00 PM" +
           sep + u"Photos" + sep + u"0" + sep + u"Disabled" + sep + u"Manual" + sep + u"Never run" + sep +
           u"" + sep + u"" + sep + u"";
}

CString StandardAnswer(const CString& command) {
    if (command == u"VER") return u"100-Welcome, ZBEngine 1.1";
    if (command == u"STATUS ALL") return u"100-" + TwoProfileRecords();
    if (command.CompareNoCase(u"HELP") == 0) return u"100-Command list:\n\nHELP  | show this help";
    return u"101-?";
}

CFakeEngine::CFakeEngine(AnswerFn answer) : m_answer(std::move(answer)) {
    m_block.Open();
    EXPECT_TRUE(m_block.IsOpen());
    m_block.SetTime(GetTickCount());
    m_thread = std::thread([this] { Serve(); });
}

CFakeEngine::~CFakeEngine() {
    m_stop = true;
    m_thread.join();
}

std::vector<CString> CFakeEngine::Commands() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_commands;
}

void CFakeEngine::Serve() {
    while (!m_stop) {
        m_block.SetTime(GetTickCount());
        int type = COMMSTATUS_IDLE;
        CString command;
        if (m_block.ReadCommand(type, command) && type == COMMSTATUS_COMMAND) {
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_commands.push_back(command);
            }
            const CString answer = m_answer(command);
            if (!answer.IsEmpty()) m_block.SendCommand(COMMSTATUS_ANSWER, answer);
        }
        Sleep(kServePollMs);
    }
    m_block.SetTime(1);
}

CLoginServer::CLoginServer(const CString& password, AnswerFn answer)
    : m_password(password), m_answer(std::move(answer)) {
    EXPECT_EQ(cscAttach(6), CSC_OK);
    for (int port = kFirstPort + (static_cast<int>(GetTickCount()) % 1000) * 10, tries = 0;
         tries < kPortTries; ++tries, ++port) {
        if (cscServer("127.0.0.1", port) == CSCVS_OK) {
            m_port = port;
            break;
        }
    }
    EXPECT_GT(m_port, 0);
    m_thread = std::thread([this] { Serve(); });
}

CLoginServer::~CLoginServer() {
    m_stop = true;
    m_thread.join();
    cscRelease();
}

std::vector<CString> CLoginServer::Commands() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_commands;
}

bool CLoginServer::SendFrame(int connection, const CString& text) {
    return Put(connection, Bytes(Framed(text)));
}

bool CLoginServer::ReceiveFrame(int connection, CString& text) {
    std::string bytes;
    const int64_t deadline = zbw::DeadlineAfter(kReplyWaitMs);
    while (zbw::RemainingUntil(deadline) > 0) {
        char buffer[256];
        const int read = cscGetData(connection, buffer, sizeof buffer);
        if (read < 0) return false;
        if (read == 0) {
            cscAwaitData(connection, 100);
            continue;
        }
        bytes.append(buffer, static_cast<size_t>(read));
        if (bytes.size() % 2) continue;
        CString body;
        for (size_t i = 0; i < bytes.size(); i += 2) {
            body += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
        if (VerifySHA1Digest(body) && body.Right(1) == u"|") {
            text = body.Left(body.GetLength() - 1);
            return true;
        }
    }
    return false;
}

void CLoginServer::Serve() {
    while (!m_stop) {
        if (cscAwaitConnect() != 1) continue;
        const int connection = cscAcceptConnect();
        if (connection < 0) continue;
        Session(connection);
        cscClose(connection);
    }
}

bool CLoginServer::Login(int connection) {
    char challenge[CSC_CHALLENGE_LEN + 1] = {};
    char expected[CSC_CHALLENGE_LEN + 1] = {};
    cscChallenge(challenge);
    cscResponse(challenge, expected);
    SendFrame(connection, CString(challenge));
    CString reply;
    if (!ReceiveFrame(connection, reply)) return false;
    if (reply != CString(expected) + SHA1HashText(m_password)) {
        SendFrame(connection, u"Client not validated, incorrect password");
        Sleep(500);
        return false;
    }
    return SendFrame(connection, u"Welcome, ZBEngine 1.1");
}

void CLoginServer::Session(int connection) {
    if (!Login(connection)) return;
    while (!m_stop) {
        if (cscAwaitData(connection, 100) != 1) continue;
        CString command;
        if (!ReceiveFrame(connection, command)) return;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_commands.push_back(command);
        }
        const CString answer = m_answer(command);
        if (answer == ANSWER_BAD_DIGEST) {
            Put(connection, Bytes(CString(u"100-x|") + SHA1HashText(u"100-y|")));
        } else if (answer == ANSWER_NO_BAR) {
            Put(connection, Bytes(CString(u"100-x") + SHA1HashText(u"100-x")));
        } else if (answer == ANSWER_IN_PIECES) {
            // An odd first piece splits a character between two reads of the client.
            const std::string bytes = Bytes(Framed(u"100-" + CString(u'\x00E9', 300)));
            Put(connection, bytes.substr(0, 251));
            Sleep(300);
            Put(connection, bytes.substr(251));
        } else {
            SendFrame(connection, answer);
        }
    }
}
