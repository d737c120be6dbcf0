#include "dovrane/ZBConsole/ConsoleLoop.h"

#include <climits>

#include "common/csc.h"
#include "dovrane/ZBConsole/ConsoleCommandLine.h"
#include "platform/base/Clock.h"
#include "platform/classlib/StdioFile.h"
#include "platform/host/PathMap.h"

namespace {

constexpr int kComputerNameSize = 64;
constexpr DWORD kAttachFailPauseMs = 1000;
constexpr int kMaxPauseSeconds = INT_MAX / 1000;
constexpr int kTestRounds = 10;
constexpr int kStressRounds = 100000;
constexpr int kPathSize = 1024;

const LPCWSTR kTestCommands[] = {u"VER", u"WHO", u"LIST"};
const LPCWSTR kStressCommands[] = {u"ENABLE c:\\test.fsf", u"RUN c:\\test.fsf", u"DISABLE c:\\test.fsf"};
const LPCWSTR kTestTimeCommands[] = {
    u"TESTTIME <SETTINGS><ITEM><PROFILE>1</PROFILE><EVERYMINUTE/><EXCLUDEDAYOFWEEK>wed,thu,fri,sat,sun"
    u"</EXCLUDEDAYOFWEEK></ITEM></SETTINGS> ",
    u"TESTTIME <SETTINGS><ITEM><PROFILE>1</PROFILE><EVERYMINUTE/></ITEM></SETTINGS> ",
    u"TESTTIME <SETTINGS><ITEM><PROFILE>1</PROFILE><EVERYMINUTE>18</EVERYMINUTE></ITEM></SETTINGS> ",
    u"TESTTIME <SETTINGS><ITEM><PROFILE>1</PROFILE><EVERYHOUR>3</EVERYHOUR><STARTTIME>13:00</STARTTIME>"
    u"</ITEM></SETTINGS> ",
    u"TESTTIME <SETTINGS><ITEM><PROFILE>1</PROFILE><EVERYDAY>1</EVERYDAY><STARTTIME>22:00</STARTTIME>"
    u"<EXCLUDEDAYOFWEEK>thu</EXCLUDEDAYOFWEEK></ITEM></SETTINGS> ",
    u"TESTTIME <SETTINGS><ITEM><PROFILE>1</PROFILE><EVERYDAY>1</EVERYDAY><STARTTIME>22:00</STARTTIME>"
    u"<EXCLUDEDAYOFWEEK></EXCLUDEDAYOFWEEK></ITEM></SETTINGS> ",
    u"TESTTIME <SETTINGS><ITEM><PROFILE>2</PROFILE><EVERYDAY>1</EVERYDAY><STARTTIME>22:00</STARTTIME>"
    u"<EXCLUDEDAYOFWEEK>fri,sat,sun</EXCLUDEDAYOFWEEK></ITEM></SETTINGS> ",
};
const LPCWSTR kTestSettingsCommands[] = {
    u"GETHTTPPORT",     u"GETNEWHTTPPORT",     u"GETHTTPPWDHASH",  u"GETNEWHTTPPWDHASH",
    u"GETHTTPFILTER",   u"GETNEWHTTPFILTER",   u"GETHTTPCHECKNEW", u"GETNEWHTTPCHECKNEW",
    u"GETHTTPSETTINGS", u"GETNEWHTTPSETTINGS",
};
const LPCWSTR kLocalHelp[] = {
    u"************************\n",
    u"** ZBCONSOLE COMMANDS **\n",
    u"************************\n",
    u"USETCP [ip] [port] | connect to zbengine using TCP/IP on [ip] [port]\n",
    u"                     (default, if not specified, ip=127.0.0.1 , port=5959)\n",
    u"USEMEM             | use memory to connect to zbengine, not TCP/IP.\n",
    u"                     (only available when both zbengine and zbconsole\n",
    u"                      are running on the same machine)\n",
    u"TCPSTATUS          | show TCP/IP status\n",
    u"PASS [password]    | set password to use with TCP/IP\n",
    u"CONNECT            | try (re)connecting using TCP/IP\n",
    u"PAUSE [secs]       | pause x number of seconds; default 1 second\n",
    u"KEY                | wait for user to press any key\n",
    u"QUIT               | close client\n",
    u"************************\n",
};

template <class T, int N>
constexpr int Count(const T (&)[N]) {
    return N;
}

bool BeginsWithEither(const CString& line, LPCWSTR upper, LPCWSTR lower) {
    return line.Find(upper) == 0 || line.Find(lower) == 0;
}

bool IsOneOf(const CString& line, LPCWSTR a, LPCWSTR b = nullptr) {
    return line.CompareNoCase(a) == 0 || (b && line.CompareNoCase(b) == 0);
}

// The index-th blank-separated word (0 is the command); empty when there is none.
CString Word(const CString& line, int index) {
    int position = 0;
    CString word = line.Tokenize(u" ", position);
    for (int i = 0; i < index && position >= 0; ++i) word = line.Tokenize(u" ", position);
    return position < 0 ? CString() : word;
}

// Leading decimal digits with an optional sign, as the C library's wtoi reads them; 0 for none.
int ToInt(const CString& text) {
    int i = 0;
    while (i < text.GetLength() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    const bool negative = text[i] == u'-';
    if (text[i] == u'-' || text[i] == u'+') ++i;
    long long value = 0;
    for (; i < text.GetLength() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > INT_MAX) value = INT_MAX;
    }
    return static_cast<int>(negative ? -value : value);
}

CString DefaultIniPath() {
    char16_t path[kPathSize] = {};
    GetModuleFileNameW(nullptr, path, kPathSize);
    CString ini = path;
    const int dot = ini.ReverseFind(u'.');
    return (dot >= 0 ? ini.Left(dot) : ini) + u".ini";
}

}  // namespace

CConsoleLoop::CConsoleLoop(CConsoleOutput& out, CConsoleInput& in)
    : m_out(out), m_in(in), m_printer(out), m_mem(out, m_printer), m_tcp(out, m_printer) {}

CConsoleLoop::~CConsoleLoop() {
    CloseConnection();
}

int CConsoleLoop::AttachSockets() {
    return cscAttach(1);
}

void CConsoleLoop::ReleaseSockets() {
    cscRelease();
}

int CConsoleLoop::Main(const std::vector<CString>& arguments) {
    CConsoleCommandLine commandLine;
    commandLine.Parse(arguments, m_out);
    PrintBanner();
    const int attached = AttachSockets();
    if (attached != CSC_OK) {
        m_out.Printf(u"ERROR %d: cannot attach\n", attached);
        Sleep(kAttachFailPauseMs);
        m_nExitCode = ZBCONSOLE_EXIT_START_FAILED;
        return End();
    }
    LoadIniFile(commandLine.m_strIniPath.IsEmpty() ? DefaultIniPath() : commandLine.m_strIniPath);
    QueueCommandString(commandLine.m_strCommands);
    m_out.Write(u"\n");
    RunLoop();
    return End();
}

void CConsoleLoop::PrintBanner() {
    m_out.Write(u"ZBConsole ver 1.1\n");
    m_out.Write(u"This is a console program designed to run from a command window.\n");
    char name[kComputerNameSize] = {};
    if (cscGetString(-1, CSC_STR_COMPUTER_NAME, name, kComputerNameSize) > 0) {
        m_out.Printf(u"This computer is named %c%s%c\n\n", u'"', CString(name), u'"');
    }
}

void CConsoleLoop::LoadIniFile(const CString& path) {
    std::deque<CString> lines;
    bool loaded = false;
    try {
        CStdioFile file;
        if (file.Open(path, CFile::modeRead | CFile::shareDenyNone | CFile::typeText)) {
            CString line;
            while (file.ReadString(line)) {
                line.Trim();
                if (!line.IsEmpty()) lines.push_back(line);
            }
            loaded = true;
        }
    } catch (const CFileException&) {
        loaded = false;
    }
    if (!loaded) {
        m_out.Printf(u"INI file '%s' not present/not loaded.\n", path);
        return;
    }
    m_queue.insert(m_queue.end(), lines.begin(), lines.end());
}

void CConsoleLoop::QueueCommandString(const CString& commands) {
    int start = 0;
    while (start <= commands.GetLength()) {
        int end = commands.Find(u'|', start);
        if (end < 0) end = commands.GetLength();
        CString item = commands.Mid(start, end - start);
        item.Trim();
        if (!item.IsEmpty()) m_queue.push_back(item);
        start = end + 1;
    }
}

void CConsoleLoop::RunLoop() {
    while (!m_bQuit) {
        m_out.Write(u":> ");
        CString line;
        if (!NextLine(line)) {
            m_out.Write(u"\n");
            return;
        }
        line.Trim();
        if (line.IsEmpty()) continue;
        if (!HandleLocal(line)) HandleEngineLine(line);
    }
}

int CConsoleLoop::End() {
    if (m_nExitCode == ZBCONSOLE_EXIT_START_FAILED) {
        m_out.Write(u"\nPress any key.\n");
        m_in.WaitKey();
    }
    CloseConnection();
    ReleaseSockets();
    return m_nExitCode;
}

bool CConsoleLoop::NextLine(CString& line) {
    if (m_queue.empty()) return m_in.ReadLine(line) != FALSE;
    line = m_queue.front();
    m_queue.pop_front();
    m_out.Printf(u"%s\n", line);
    return true;
}

bool CConsoleLoop::HandleLocal(const CString& line) {
    if (IsOneOf(line, u"QUIT", u"Q")) {
        m_bQuit = true;
    } else if (BeginsWithEither(line, u"PAUSE", u"pause")) {
        Pause(line);
    } else if (BeginsWithEither(line, u"KEY", u"key")) {
        m_out.Write(u"Press any key to continue ...\n\n");
        m_in.WaitKey();
    } else if (IsOneOf(line, u"USEMEM")) {
        m_bTcp = FALSE;
        CloseConnection();
        m_mem.Open();
        m_out.Write(u"OK\n\n");
    } else if (BeginsWithEither(line, u"PASS", u"pass")) {
        UsePassword(line);
    } else if (BeginsWithEither(line, u"USETCP", u"usetcp")) {
        UseTcp(line);
    } else if (BeginsWithEither(line, u"TCPSTATUS", u"tcpstatus")) {
        PrintTcpStatus();
    } else if (IsOneOf(line, u"INTON")) {
        m_printer.SetInterpret(TRUE);
    } else if (IsOneOf(line, u"INTOFF")) {
        m_printer.SetInterpret(FALSE);
    } else {
        return false;
    }
    return true;
}

void CConsoleLoop::Pause(const CString& line) {
    const CString word = Word(line, 1);
    const int seconds = word.IsEmpty() ? 1 : ToInt(word);
    m_out.Printf(u"Pausing %d second(s) ...\n\n", seconds);
    // A negative count would be a wait without end as an unsigned time-out.
    const int bounded = seconds < 0 ? 0 : (seconds > kMaxPauseSeconds ? kMaxPauseSeconds : seconds);
    Sleep(static_cast<DWORD>(bounded) * 1000);
}

void CConsoleLoop::UsePassword(const CString& line) {
    m_strPassword = Word(line, 1);
    if (m_strPassword.IsEmpty()) {
        m_out.Write(u"Password now empty.\n\n");
    } else {
        m_out.Printf(u"Password set to '%s'.\n\n", m_strPassword);
    }
}

void CConsoleLoop::UseTcp(const CString& line) {
    const CString address = Word(line, 1);
    const CString port = Word(line, 2);
    m_strAddress = address.IsEmpty() ? CString(DEFAULT_TCP_ADDRESS) : address;
    m_nPort = port.IsEmpty() ? DEFAULT_TCP_PORT : ToInt(port);
    CloseConnection();
    m_bTcp = TRUE;
    HandleEngineLine(u"CONNECT");
}

void CConsoleLoop::PrintTcpStatus() {
    if (!m_bTcp) {
        m_out.Write(u"Not using TCP - use command USETCP to activate\n\n");
        return;
    }
    m_out.Write(u"Using TCP");
    if (IsConnected()) {
        m_out.Printf(u" - connected to %s, port %d", m_strAddress, m_nPort);
    } else {
        m_out.Write(u" - not connected");
    }
    m_out.Write(u"\n\n");
}

void CConsoleLoop::PrintLocalHelp() {
    for (LPCWSTR text : kLocalHelp) m_out.Write(text);
}

void CConsoleLoop::HandleEngineLine(const CString& line) {
    if (!ReachEngine()) return;
    m_nExitCode = ZBCONSOLE_EXIT_OK;
    if (IsOneOf(line, u"CONNECT")) {
        // Reaching the engine was the point.
    } else if (IsOneOf(line, u"TEST")) {
        SendRounds(kTestCommands, Count(kTestCommands), kTestRounds);
    } else if (IsOneOf(line, u"TESTTIME")) {
        SendThroughBlock(kTestTimeCommands, Count(kTestTimeCommands));
    } else if (IsOneOf(line, u"TESTSETTINGS")) {
        SendThroughBlock(kTestSettingsCommands, Count(kTestSettingsCommands));
    } else if (IsOneOf(line, u"STRESS")) {
        SendRounds(kStressCommands, Count(kStressCommands), kStressRounds);
    } else {
        Send(line);
        if (IsOneOf(line, u"HELP", u"H")) PrintLocalHelp();
    }
    m_mem.Close();
    m_out.Write(u"\n");
}

bool CConsoleLoop::ReachEngine() {
    if (!m_bTcp) {
        if (m_mem.IsEngineAlive()) return true;
        m_mem.Close();
        m_out.Write(u"ZBEngine not running ... \n\n");
        m_nExitCode = ZBCONSOLE_EXIT_NO_ENGINE;
        return false;
    }
    if (IsConnected()) return true;
    CloseConnection();
    m_nConnection = m_tcp.ConnectToEngine(m_strAddress, m_nPort, m_strPassword);
    return m_nConnection >= 0;
}

void CConsoleLoop::Send(const CString& command) {
    if (m_bTcp) {
        m_tcp.SendTcpCommand(m_nConnection, command);
    } else {
        m_mem.SendMemCommand(command);
    }
}

void CConsoleLoop::SendRounds(const LPCWSTR* commands, int count, int rounds) {
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < count; ++i) Send(commands[i]);
    }
}

void CConsoleLoop::SendThroughBlock(const LPCWSTR* commands, int count) {
    if (!m_mem.IsOpen()) m_mem.Open();
    for (int i = 0; i < count; ++i) m_mem.SendMemCommand(commands[i]);
}

bool CConsoleLoop::IsConnected() const {
    return m_nConnection >= 0 && cscIsConnected(m_nConnection) == 1;
}

void CConsoleLoop::CloseConnection() {
    if (m_nConnection >= 0) cscClose(m_nConnection);
    m_nConnection = -1;
}
