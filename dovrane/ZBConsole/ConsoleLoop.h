// CConsoleLoop: the console client's program: its flags, the start texts, the command queue
// (the INI file's lines, then the /C items) and the command loop, which handles the console's
// own commands and sends the rest to the engine through the command block (memory mode, at
// start) or over TCP/IP (after USETCP). One thread; the output and input belong to the caller.
//
// Exit code: 0; 1 when the last command in memory mode found no engine; 100 when the socket
// library could not be attached. The loop ends at QUIT or Q, and also when standard input ends
// with the queue empty (a script piped in must not spin on an empty input).
#pragma once

#include <deque>
#include <vector>

#include "dovrane/ZBConsole/ConsoleInput.h"
#include "dovrane/ZBConsole/MemTransport.h"
#include "dovrane/ZBConsole/TcpTransport.h"

#define DEFAULT_TCP_PORT 5959
#define DEFAULT_TCP_ADDRESS u"127.0.0.1"
#define ZBCONSOLE_EXIT_OK 0
#define ZBCONSOLE_EXIT_NO_ENGINE 1
#define ZBCONSOLE_EXIT_START_FAILED 100

class CConsoleLoop {
   public:
    CConsoleLoop(CConsoleOutput& out, CConsoleInput& in);
    virtual ~CConsoleLoop();
    CConsoleLoop(const CConsoleLoop&) = delete;
    CConsoleLoop& operator=(const CConsoleLoop&) = delete;

    // The whole run; arguments without the program name. Returns the exit code.
    int Main(const std::vector<CString>& arguments);

   protected:
    // The csc library for one connection (cscAttach result); tests that attach it themselves
    // replace both.
    virtual int AttachSockets();
    virtual void ReleaseSockets();

   private:
    void PrintBanner();
    void LoadIniFile(const CString& path);
    void QueueCommandString(const CString& commands);
    void RunLoop();
    int End();
    bool NextLine(CString& line);

    bool HandleLocal(const CString& line);
    void Pause(const CString& line);
    void UsePassword(const CString& line);
    void UseTcp(const CString& line);
    void PrintTcpStatus();
    void PrintLocalHelp();

    void HandleEngineLine(const CString& line);
    bool ReachEngine();
    void Send(const CString& command);
    void SendRounds(const LPCWSTR* commands, int count, int rounds);
    void SendThroughBlock(const LPCWSTR* commands, int count);
    bool IsConnected() const;
    void CloseConnection();

    CConsoleOutput& m_out;
    CConsoleInput& m_in;
    CAnswerPrinter m_printer;
    CMemTransport m_mem;
    CTcpTransport m_tcp;
    std::deque<CString> m_queue;
    BOOL m_bTcp = FALSE;
    CString m_strAddress = DEFAULT_TCP_ADDRESS;
    int m_nPort = DEFAULT_TCP_PORT;
    CString m_strPassword;
    int m_nConnection = -1;
    int m_nExitCode = ZBCONSOLE_EXIT_OK;
    bool m_bQuit = false;
};
