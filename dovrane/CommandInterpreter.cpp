#include "dovrane/CommandInterpreter.h"

#include <iterator>

#include "common/QStringParser.h"
#include "dovrane/IPServer.h"
#include "dovrane/RunItemList.h"
#include "dovrane/threads/LaunchItem.h"
#include "dovrane/threads/NextRunTime.h"
#include "dovrane/threads/RunItemMessages.h"
#include "dovrane/threads/ScheduleInfo.h"
#include "dovrane/web/EngineCommandCodes.h"
#include "dovrane/web/RunResultText.h"
#include "platform/base/WideChar.h"
#include "platform/classlib/OleDateTime.h"

namespace {

const LPCWSTR kHelpLines[] = {
    u"100-Command list:",
    u"",
    u"************************",
    u"HELP  | show this help",
    u"WHO   | show machine name where zbengine is running",
    u"VER   | show zbengine version",
    u"ECHO  | echo command",
    u"************************",
    u"BYE          | notify zbengine that client is closing",
    u"SHUTDOWN     | shutdown zbengine",
    u"RESTART      | restart zbengine and reload settings from XML configuration file",
    u"CONNECTIONS  | show number of clients currently connected via TCP/IP",
    u"************************",
    u"LOAD [filename.xml]  | (re)loads settings from filename.xml; if a filename is not specified, will load "
    u"from default XML file",
    u"SAVE                 | save settings to current XML file",
    u"LIST                 | list current profiles",
    u"************************",
    u"ENABLE <profilename>   | enable profile by name; use ENABLE ALL to enable all",
    u"DISABLE <profilename>  | disable profile by name; use DISABLE ALL to disable all",
    u"STATUS <profilename>   | show profile status by name; use STATUS ALL to show all",
    u"RUN <profilename>      | run profile now by name; use RUN ALL to run all now",
    u"STOP <profilename>     | stop running profile by name; use STOP ALL to stop all",
    u"LASTRUNS <profilename> | show latest execution results by name",
    u"NEXTRUNS <profilename> | show next scheduled execution",
};

const LPCWSTR kRunListEnd = u"*?*";
constexpr int kHighestPort = 65535;

CString Answer(LPCWSTR prefix, LPCWSTR format, const auto&... args) {
    CString text;
    text.Format(format, args...);
    return CString(prefix) + text;
}

// "-" stands for the empty text, so a client can clear a value.
CString DashMeansEmpty(const CString& argument) {
    return argument == u"-" ? CString() : argument;
}

}  // namespace

#define CMD(name, handler) \
    { u##name, &CCommandInterpreter::handler }

const CCommandInterpreter::COMMAND CCommandInterpreter::kCommands[] = {
    CMD("WHO", Who),
    CMD("HELP", Help),
    CMD("H", Help),
    CMD("VER", Version),
    CMD("BYE", Bye),
    CMD("ECHO", Echo),
    CMD("LIST", ListNames),
    CMD("CONNECTIONS", Connections),
    CMD("SHUTDOWN", Shutdown),
    CMD("RESTART", Restart),
    CMD("LOAD", Load),
    CMD("LOAD ", Load),
    CMD("SAVE", Save),
    CMD("ENABLE ALL", EnableAll),
    CMD("ENABLE ", Enable),
    CMD("DISABLE ALL", DisableAll),
    CMD("DISABLE ", Disable),
    CMD("STATUS", StatusAll),
    CMD("ST", StatusAll),
    CMD("STATUS ALL", StatusAll),
    CMD("STATUS ", Status),
    CMD("LASTRUNS ", LastRuns),
    CMD("NEXTRUNS ", NextRuns),
    CMD("RUN ALL", RunAll),
    CMD("RUN ", Run),
    CMD("STOP ALL", StopAll),
    CMD("STOP ", Stop),
    CMD("REMOVE ", Remove),
    CMD("ADD ", Add),
    CMD("SET ", Set),
    CMD("GET ", Get),
    CMD("TESTTIME ", TestTime),
    CMD("GETHTTPPORT", GetHttpPort),
    CMD("GETNEWHTTPPORT", GetNewHttpPort),
    CMD("SETNEWHTTPPORT ", SetNewHttpPort),
    CMD("GETHTTPPWDHASH", GetHttpPasswordHash),
    CMD("GETNEWHTTPPWDHASH", GetNewHttpPasswordHash),
    CMD("SETNEWHTTPPWD ", SetNewHttpPassword),
    CMD("GETHTTPFILTER", GetHttpFilter),
    CMD("GETNEWHTTPFILTER", GetNewHttpFilter),
    CMD("SETNEWHTTPFILTER ", SetNewHttpFilter),
    CMD("GETHTTPCHECKNEW", GetHttpCheckNew),
    CMD("GETNEWHTTPCHECKNEW", GetNewHttpCheckNew),
    CMD("SETNEWHTTPCHECKNEW ", SetNewHttpCheckNew),
    CMD("GETHTTPSETTINGS", GetHttpSettings),
    CMD("GETNEWHTTPSETTINGS", GetNewHttpSettings),
    CMD("GETERROR", GetError),
};

#undef CMD

CCommandInterpreter::CCommandInterpreter(CIPServer& server) : m_server(server) {}

int CCommandInterpreter::Execute(const CString& command, CString& answer) {
    answer.Empty();
    CString argument;
    for (const COMMAND& entry : kCommands) {
        if (Matches(entry, command, argument)) return (this->*entry.handler)(command, argument, answer);
    }
    answer = ANSWER_UNKNOWN;
    return 0;
}

bool CCommandInterpreter::Matches(const COMMAND& entry, const CString& command, CString& argument) {
    const CString name(entry.name);
    if (name.Right(1) != u" ") return command.CompareNoCase(name) == 0;
    CString lower = name;
    lower.MakeLower();
    if (command.Find(name) != 0 && command.Find(lower) != 0) return false;
    argument = command.Mid(name.GetLength());
    argument.Trim(u' ');
    return true;
}

CString CCommandInterpreter::HelpText() {
    CString text = kHelpLines[0];
    for (size_t i = 1; i < std::size(kHelpLines); ++i) text += CString(u"\n") + kHelpLines[i];
    return text;
}

CRunItemList& CCommandInterpreter::List() const {
    return *m_server.GetRunItemList();
}

CCommandInterpreter::CALLANSWER CCommandInterpreter::CallMainWindow(WPARAM code, const CString& argument) {
    CALLANSWER call;
    call.text = argument;
    call.outcome =
        CEngineCall::Send(m_server.GetOwnerWindow(), code, call.text, ENGINE_CALL_TIMEOUT_MS, call.result);
    if (call.outcome == CEngineCall::CALL_PENDING) call.text.Empty();
    return call;
}

bool CCommandInterpreter::IsRefused(const CALLANSWER& call) {
    return call.outcome != CEngineCall::CALL_PENDING &&
           !(call.outcome == CEngineCall::CALL_ANSWERED && call.result == 1);
}

// Done (the main window's result 1), still to be carried out, or refused.
LPCWSTR CCommandInterpreter::Prefix(const CALLANSWER& call) {
    if (IsRefused(call)) return ANSWER_ERROR;
    return call.outcome == CEngineCall::CALL_PENDING ? ANSWER_ACCEPTED : ANSWER_OK;
}

// Done: "100-" and the text; not yet answered: "200-" and the text, as it is carried out later;
// not found (or no main window to carry it out): the error.
CString CCommandInterpreter::NameAnswer(const CALLANSWER& call, LPCWSTR done, const CString& name) {
    if (call.outcome == CEngineCall::CALL_PENDING) return Answer(ANSWER_ACCEPTED, done, name);
    if (call.outcome == CEngineCall::CALL_ANSWERED && call.result) return Answer(ANSWER_OK, done, name);
    return Answer(ANSWER_ERROR, u"Error. %s not found.", name);
}

int CCommandInterpreter::Who(const CString&, const CString&, CString& answer) {
    answer = ANSWER_OK + m_server.GetComputerName();
    return 0;
}

int CCommandInterpreter::Help(const CString&, const CString&, CString& answer) {
    answer = HelpText();
    return 0;
}

int CCommandInterpreter::Version(const CString&, const CString&, CString& answer) {
    answer = CString(ANSWER_OK) + ENGINE_GREETING;
    return 0;
}

int CCommandInterpreter::Bye(const CString&, const CString&, CString& answer) {
    answer = Answer(ANSWER_OK, u"OK, see you soon.");
    return COMMAND_RESULT_CLOSE;
}

int CCommandInterpreter::Echo(const CString& command, const CString&, CString& answer) {
    answer = ANSWER_OK + command;
    return 0;
}

int CCommandInterpreter::ListNames(const CString&, const CString&, CString& answer) {
    answer = ANSWER_OK + List().GetProfileNameList();
    return 0;
}

int CCommandInterpreter::Connections(const CString&, const CString&, CString& answer) {
    answer = Answer(ANSWER_OK, u"%d%s", m_server.GetActiveConnections(), m_server.GetClientList());
    return 0;
}

int CCommandInterpreter::Shutdown(const CString&, const CString&, CString& answer) {
    m_server.PostToOwner(ENGINE_CMD_SHUTDOWN);
    answer = Answer(ANSWER_ACCEPTED, u"OK, shutting down server");
    return 0;
}

int CCommandInterpreter::Restart(const CString&, const CString&, CString& answer) {
    m_server.PostToOwner(ENGINE_CMD_RESTART);
    answer = Answer(ANSWER_ACCEPTED, u"OK, restarting server (may take up to 30 secs)");
    return 0;
}

int CCommandInterpreter::Load(const CString&, const CString& argument, CString& answer) {
    const CALLANSWER call = CallMainWindow(ENGINE_CMD_LOAD, argument);
    answer = Answer(Prefix(call), u"Loading %s ... %s", argument, call.text);
    return 0;
}

int CCommandInterpreter::Save(const CString&, const CString&, CString& answer) {
    const CALLANSWER call = CallMainWindow(ENGINE_CMD_SAVE, u"");
    answer = Answer(Prefix(call), u"Saving %s ... %s", u"", call.text);
    return 0;
}

int CCommandInterpreter::EnableAll(const CString&, const CString&, CString& answer) {
    CallMainWindow(ENGINE_CMD_ENABLE_CATEGORY, u"");
    answer = Answer(ANSWER_ACCEPTED, u"Enabling All...");
    return 0;
}

int CCommandInterpreter::Enable(const CString&, const CString& argument, CString& answer) {
    answer = NameAnswer(CallMainWindow(ENGINE_CMD_ENABLE, argument), u"Enabling %s...", argument);
    return 0;
}

int CCommandInterpreter::DisableAll(const CString&, const CString&, CString& answer) {
    CallMainWindow(ENGINE_CMD_DISABLE_CATEGORY, u"");
    answer = Answer(ANSWER_ACCEPTED, u"Disabling All...");
    return 0;
}

int CCommandInterpreter::Disable(const CString&, const CString& argument, CString& answer) {
    answer = NameAnswer(CallMainWindow(ENGINE_CMD_DISABLE, argument), u"Disabling %s...", argument);
    return 0;
}

int CCommandInterpreter::StatusAll(const CString&, const CString&, CString& answer) {
    answer = ANSWER_OK + List().GetAllProfilesInfo();
    return 0;
}

int CCommandInterpreter::Status(const CString&, const CString& argument, CString& answer) {
    const CString record = List().GetProfileInfo(argument);
    answer = record.IsEmpty() ? Answer(ANSWER_ERROR, u"Error, %s not found.", argument) : ANSWER_OK + record;
    return 0;
}

int CCommandInterpreter::LastRuns(const CString&, const CString& argument, CString& answer) {
    const std::shared_ptr<const CString> html = List().GetSharedLastRunsHtml(argument);
    answer = html ? ANSWER_OK + *html : Answer(ANSWER_ERROR, u"Error, %s not found.", argument);
    return 0;
}

// One token: the run lists of kinds 0, 1 and 2; two: the kind given; three: that kind from the
// time given.
int CCommandInterpreter::NextRuns(const CString&, const CString& argument, CString& answer) {
    const CQStringParser tokens(argument, u' ', u'"');
    const CString name = tokens.GetAt(1, true);
    COleDateTime reference = g_DateNone;
    if (tokens.GetCount() >= 3 && !reference.ParseDateTime(tokens.GetAt(3, true))) {
        answer = Answer(ANSWER_ERROR, u"Error, %s invalid time.", tokens.GetAt(3, true));
        return 0;
    }
    if (!List().ProfileExists(name)) {
        answer = Answer(ANSWER_ERROR, u"Error, %s not found.", name);
        return 0;
    }
    CString text;
    if (tokens.GetCount() == 1) {
        for (int kind = 0; kind <= 2; ++kind)
            text += List().GetProfileRunList(name, kind, g_DateNone) + kRunListEnd;
    } else {
        text = List().GetProfileRunList(name, _wtoi(tokens.GetAt(2, true)), reference);
    }
    answer = ANSWER_OK + text;
    return 0;
}

int CCommandInterpreter::RunAll(const CString&, const CString&, CString& answer) {
    CallMainWindow(ENGINE_CMD_RUN_CATEGORY, u"");
    answer = Answer(ANSWER_OK, u"Running All...");
    return 0;
}

int CCommandInterpreter::Run(const CString&, const CString& argument, CString& answer) {
    const CALLANSWER call = CallMainWindow(ENGINE_CMD_RUN, argument);
    if (call.outcome == CEngineCall::CALL_PENDING) {
        answer = Answer(ANSWER_ACCEPTED, u"Running %s...", argument);
        return 0;
    }
    const int result =
        call.outcome == CEngineCall::CALL_ANSWERED ? static_cast<int>(call.result) : RUNPROFILE_NOT_FOUND;
    const CString text = RunResultText(result, argument);
    if (!text.IsEmpty()) answer = (result == RUNPROFILE_STARTED ? ANSWER_OK : ANSWER_ERROR) + text;
    return 0;
}

int CCommandInterpreter::StopAll(const CString&, const CString&, CString& answer) {
    CallMainWindow(ENGINE_CMD_STOP_CATEGORY, u"");
    answer = Answer(ANSWER_OK, u"Stopping All...");
    return 0;
}

int CCommandInterpreter::Stop(const CString&, const CString& argument, CString& answer) {
    answer = NameAnswer(CallMainWindow(ENGINE_CMD_STOP, argument), u"Stopping %s...", argument);
    return 0;
}

int CCommandInterpreter::Remove(const CString&, const CString& argument, CString& answer) {
    const CALLANSWER call = CallMainWindow(ENGINE_CMD_REMOVE, argument);
    answer = IsRefused(call) ? Answer(ANSWER_ERROR, u"Not found") : Prefix(call) + (u"Removed " + argument);
    return 0;
}

int CCommandInterpreter::Add(const CString&, const CString& argument, CString& answer) {
    const CALLANSWER call = CallMainWindow(ENGINE_CMD_ADD, argument);
    answer = IsRefused(call) ? Answer(ANSWER_ERROR, u"Error, wrongly formatted XML")
                             : Prefix(call) + (u"Added " + argument);
    return 0;
}

int CCommandInterpreter::Set(const CString&, const CString& argument, CString& answer) {
    const CALLANSWER call = CallMainWindow(ENGINE_CMD_SET, argument);
    answer = IsRefused(call) ? Answer(ANSWER_ERROR, u"Error") : Prefix(call) + (u"Set " + argument);
    return 0;
}

int CCommandInterpreter::Get(const CString&, const CString& argument, CString& answer) {
    CString xml;
    answer = List().GetProfileItemXml(argument, xml)
                 ? ANSWER_OK + xml
                 : Answer(ANSWER_ERROR, u"Error. %s not found.", argument);
    return 0;
}

int CCommandInterpreter::TestTime(const CString&, const CString& argument, CString& answer) {
    CLaunchItem item;
    if (!item.FromXmlText(argument)) {
        answer = Answer(ANSWER_ERROR, u"Error, wrongly formatted XML");
        return 0;
    }
    const COleDateTime reference(2006, 5, 10, 23, 34, 58);
    answer = ANSWER_OK + ComputeNextRunText(0, item.m_schedule, reference) + u"|" +
             ComputeNextRunText(1, item.m_schedule, g_DateNone) + u"|" +
             ComputeNextRunText(2, item.m_schedule, g_DateNone);
    return 0;
}

int CCommandInterpreter::GetHttpPort(const CString&, const CString&, CString& answer) {
    answer = Answer(ANSWER_OK, u"%d", List().GetHttpPort());
    return 0;
}

int CCommandInterpreter::GetNewHttpPort(const CString&, const CString&, CString& answer) {
    answer = ANSWER_OK + List().GetNewHttpPort();
    return 0;
}

// "0" turns the web interface off; any other port must lie in 1..65534 and be free now.
int CCommandInterpreter::SetNewHttpPort(const CString&, const CString& argument, CString& answer) {
    const int port = _wtoi(argument);
    if ((port == 0 && argument != u"0") || port < 0 || port >= kHighestPort) {
        answer = ANSWER_ERROR + (u"Error, invalid port number: " + argument);
    } else if (port > 0 && CIPServer::IsPortInUse(port)) {
        answer = ANSWER_ERROR + (u"Error, port already in use: " + argument);
    } else {
        List().SetNewHttpPort(argument);
        answer = Answer(ANSWER_OK, u"Ok, new port %d, old port %d.", port, List().GetHttpPort());
    }
    return 0;
}

int CCommandInterpreter::GetHttpPasswordHash(const CString&, const CString&, CString& answer) {
    answer = ANSWER_OK + List().GetHttpPasswordHash();
    return 0;
}

int CCommandInterpreter::GetNewHttpPasswordHash(const CString&, const CString&, CString& answer) {
    answer = ANSWER_OK + List().GetNewHttpPasswordHash();
    return 0;
}

int CCommandInterpreter::SetNewHttpPassword(const CString&, const CString& argument, CString& answer) {
    List().SetNewHttpPassword(DashMeansEmpty(argument));
    answer = Answer(ANSWER_OK, u"OK.");
    return 0;
}

int CCommandInterpreter::GetHttpFilter(const CString&, const CString&, CString& answer) {
    answer = ANSWER_OK + List().GetHttpFilter();
    return 0;
}

int CCommandInterpreter::GetNewHttpFilter(const CString&, const CString&, CString& answer) {
    answer = ANSWER_OK + List().GetNewHttpFilter();
    return 0;
}

int CCommandInterpreter::SetNewHttpFilter(const CString&, const CString& argument, CString& answer) {
    List().SetNewHttpFilter(DashMeansEmpty(argument));
    answer = Answer(ANSWER_OK, u"Ok, new HTTP client filter %s", List().GetNewHttpFilter());
    return 0;
}

int CCommandInterpreter::GetHttpCheckNew(const CString&, const CString&, CString& answer) {
    answer = Answer(ANSWER_OK, u"%d", List().GetHttpCheckNew());
    return 0;
}

int CCommandInterpreter::GetNewHttpCheckNew(const CString&, const CString&, CString& answer) {
    answer = ANSWER_OK + List().GetNewHttpCheckNew();
    return 0;
}

int CCommandInterpreter::SetNewHttpCheckNew(const CString&, const CString& argument, CString& answer) {
    const int value = _wtoi(argument);
    List().SetNewHttpCheckNew(value);
    answer = Answer(ANSWER_OK, u"Ok, new value %d, old value %d.", value, List().GetHttpCheckNew());
    return 0;
}

int CCommandInterpreter::GetHttpSettings(const CString&, const CString&, CString& answer) {
    CRunItemList& list = List();
    answer = Answer(ANSWER_OK, u"%d , %s , %s , %d", list.GetHttpPort(), list.GetHttpFilter(),
                    list.GetHttpPasswordHash(), list.GetHttpCheckNew());
    return 0;
}

int CCommandInterpreter::GetNewHttpSettings(const CString&, const CString&, CString& answer) {
    CRunItemList& list = List();
    answer = Answer(ANSWER_OK, u"%s , %s , %s , %s", list.GetNewHttpPort(), list.GetNewHttpFilter(),
                    list.GetNewHttpPasswordHash(), list.GetNewHttpCheckNew());
    return 0;
}

int CCommandInterpreter::GetError(const CString&, const CString&, CString& answer) {
    answer = ANSWER_OK + List().GetEngineError();
    return 0;
}
