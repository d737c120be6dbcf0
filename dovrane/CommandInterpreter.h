// CCommandInterpreter: the one interpreter of the engine's commands, for the TCP/IP clients and
// the command block alike (CIPServer::ExecuteCommand). It reads the run-item list's records and
// settings (each read takes the list's lock), hands the commands that change the list as a whole
// and every run-item command (run, stop, enable, disable) to the main window with a bounded wait
// (EngineCall.h), posts shutdown and restart, and keeps the pending HTTP settings. A command the
// main thread cannot answer in time (it is in a stop's pump) is answered "200-" with the text of
// success: it is carried out after.
//
// Matching: a bare command is the whole text, in any letter case; a command with an argument
// is a text that begins with its upper-case or its lower-case form and a blank ("RUN " or
// "run "), the argument being the rest, trimmed. The table is tried in order and the first match
// decides; a text that matches nothing is answered ANSWER_UNKNOWN.
//
// Server thread only; the server outlives it.
#pragma once

#include "dovrane/web/EngineCall.h"
#include "platform/base/CString.h"

class CIPServer;
class CRunItemList;

#define ANSWER_OK u"100-"
#define ANSWER_ERROR u"101-"
#define ANSWER_UNKNOWN u"101-?"
#define ANSWER_ACCEPTED u"200-"
// Execute's result when the client asked to close the connection.
#define COMMAND_RESULT_CLOSE (-2)

class CCommandInterpreter {
   public:
    explicit CCommandInterpreter(CIPServer& server);

    // 0, or COMMAND_RESULT_CLOSE for BYE; the answer is emptied first.
    int Execute(const CString& command, CString& answer);

    // The answer of HELP: 24 lines joined by line feeds.
    static CString HelpText();

   private:
    using HANDLER = int (CCommandInterpreter::*)(const CString& command, const CString& argument,
                                                 CString& answer);
    struct COMMAND {
        LPCWSTR name;  // with its trailing blank when it takes an argument
        HANDLER handler;
    };
    static const COMMAND kCommands[];

    static bool Matches(const COMMAND& entry, const CString& command, CString& argument);
    CRunItemList& List() const;

    int Who(const CString& command, const CString& argument, CString& answer);
    int Help(const CString& command, const CString& argument, CString& answer);
    int Version(const CString& command, const CString& argument, CString& answer);
    int Bye(const CString& command, const CString& argument, CString& answer);
    int Echo(const CString& command, const CString& argument, CString& answer);
    int ListNames(const CString& command, const CString& argument, CString& answer);
    int Connections(const CString& command, const CString& argument, CString& answer);
    int Shutdown(const CString& command, const CString& argument, CString& answer);
    int Restart(const CString& command, const CString& argument, CString& answer);
    int Load(const CString& command, const CString& argument, CString& answer);
    int Save(const CString& command, const CString& argument, CString& answer);
    int EnableAll(const CString& command, const CString& argument, CString& answer);
    int Enable(const CString& command, const CString& argument, CString& answer);
    int DisableAll(const CString& command, const CString& argument, CString& answer);
    int Disable(const CString& command, const CString& argument, CString& answer);
    int StatusAll(const CString& command, const CString& argument, CString& answer);
    int Status(const CString& command, const CString& argument, CString& answer);
    int LastRuns(const CString& command, const CString& argument, CString& answer);
    int NextRuns(const CString& command, const CString& argument, CString& answer);
    int RunAll(const CString& command, const CString& argument, CString& answer);
    int Run(const CString& command, const CString& argument, CString& answer);
    int StopAll(const CString& command, const CString& argument, CString& answer);
    int Stop(const CString& command, const CString& argument, CString& answer);
    int Remove(const CString& command, const CString& argument, CString& answer);
    int Add(const CString& command, const CString& argument, CString& answer);
    int Set(const CString& command, const CString& argument, CString& answer);
    int Get(const CString& command, const CString& argument, CString& answer);
    int TestTime(const CString& command, const CString& argument, CString& answer);
    int GetHttpPort(const CString& command, const CString& argument, CString& answer);
    int GetNewHttpPort(const CString& command, const CString& argument, CString& answer);
    int SetNewHttpPort(const CString& command, const CString& argument, CString& answer);
    int GetHttpPasswordHash(const CString& command, const CString& argument, CString& answer);
    int GetNewHttpPasswordHash(const CString& command, const CString& argument, CString& answer);
    int SetNewHttpPassword(const CString& command, const CString& argument, CString& answer);
    int GetHttpFilter(const CString& command, const CString& argument, CString& answer);
    int GetNewHttpFilter(const CString& command, const CString& argument, CString& answer);
    int SetNewHttpFilter(const CString& command, const CString& argument, CString& answer);
    int GetHttpCheckNew(const CString& command, const CString& argument, CString& answer);
    int GetNewHttpCheckNew(const CString& command, const CString& argument, CString& answer);
    int SetNewHttpCheckNew(const CString& command, const CString& argument, CString& answer);
    int GetHttpSettings(const CString& command, const CString& argument, CString& answer);
    int GetNewHttpSettings(const CString& command, const CString& argument, CString& answer);
    int GetError(const CString& command, const CString& argument, CString& answer);

    // Hands a command to the main window and waits a bounded time for its result and answer
    // text (empty when it was not answered in time).
    struct CALLANSWER {
        CEngineCall::OUTCOME outcome = CEngineCall::CALL_FAILED;
        LRESULT result = 0;
        CString text;
    };
    CALLANSWER CallMainWindow(WPARAM code, const CString& argument);
    // ANSWER_OK when done (result 1), ANSWER_ACCEPTED when not answered in time, else ANSWER_ERROR.
    static LPCWSTR Prefix(const CALLANSWER& call);
    static bool IsRefused(const CALLANSWER& call);
    // The answer of a command on one profile whose result is found or not.
    static CString NameAnswer(const CALLANSWER& call, LPCWSTR done, const CString& name);

    CIPServer& m_server;
};
