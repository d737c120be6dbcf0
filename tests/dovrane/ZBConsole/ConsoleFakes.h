// Stand-ins for the console client's surroundings: captured output, scripted keyboard, a loop
// that leaves the socket library to the test, a fake engine that serves the command block as
// the engine's server does, and a loopback login server on the csc library. Every wait is
// bounded; the threads stop in the destructors.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "dovrane/ZBConsole/ConsoleLoop.h"

class CCaptureOutput : public CConsoleOutput {
   public:
    void Write(const CString& text) override { m_text += text; }
    CString m_text;
};

class CScriptInput : public CConsoleInput {
   public:
    explicit CScriptInput(std::deque<CString> lines = {}) : m_lines(std::move(lines)) {}
    BOOL ReadLine(CString& line) override;
    void WaitKey() override { ++m_keys; }
    std::deque<CString> m_lines;
    int m_keys = 0;
};

class CTestLoop : public CConsoleLoop {
   public:
    using CConsoleLoop::CConsoleLoop;

   protected:
    int AttachSockets() override;
    void ReleaseSockets() override {}
};

// Answers one engine command; fake engines and servers share it.
using AnswerFn = std::function<CString(const CString&)>;
// VER, STATUS ALL (two profiles) and everything else as an unknown command.
CString StandardAnswer(const CString& command);
// The STATUS ALL record text of StandardAnswer (without the answer code).
CString TwoProfileRecords();

// Opens the block in engine mode, then heartbeats, reads commands and answers every 10 ms.
class CFakeEngine {
   public:
    explicit CFakeEngine(AnswerFn answer = StandardAnswer);
    ~CFakeEngine();
    std::vector<CString> Commands();

   private:
    void Serve();

    AnswerFn m_answer;
    CCommStatus m_block;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<CString> m_commands;
    std::thread m_thread;
};

// The csc library attached for the test (6 connections) and a server on a free loopback port
// that logs clients in with the given password, greets them and answers their framed commands.
class CLoginServer {
   public:
    CLoginServer(const CString& password, AnswerFn answer = StandardAnswer);
    ~CLoginServer();
    int Port() const { return m_port; }
    std::vector<CString> Commands();

    // The test's own framing, written apart from the client's.
    static bool SendFrame(int connection, const CString& text);
    static bool ReceiveFrame(int connection, CString& text);

   private:
    void Serve();
    void Session(int connection);
    bool Login(int connection);

    CString m_password;
    AnswerFn m_answer;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<CString> m_commands;
    std::thread m_thread;
};

// Answers for the server that the test's framing sends raw.
#define ANSWER_BAD_DIGEST u"<bad digest>"
#define ANSWER_IN_PIECES u"<in pieces>"
#define ANSWER_NO_BAR u"<no bar>"
