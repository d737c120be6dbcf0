// The console client's command line and command loop; fakes the engine (CFakeEngine), a temporary emulation
// root and a steered clock.
#include <gtest/gtest.h>

#include "common/csc.h"
#include "dovrane/ZBConsole/ConsoleCommandLine.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "tests/dovrane/ZBConsole/ConsoleFakes.h"
#include "tests/support/TestRoot.h"

namespace {

class ConsoleLoopTest : public ::testing::Test {
   protected:
    // Runs the whole program with these arguments and keyboard lines.
    int Run(std::vector<CString> arguments, std::deque<CString> keyboard = {}) {
        CScriptInput in(std::move(keyboard));
        CTestLoop loop(m_out, in);
        if (arguments.empty() || arguments[0].Left(3) != u"/I:") arguments.insert(arguments.begin(), NoIni());
        const int code = loop.Main(arguments);
        m_keys = in.m_keys;
        return code;
    }
    CString NoIni() const { return CString(u"/I:") + CString(m_root.Path("none.ini").c_str()); }
    bool Printed(const CString& text) const { return m_out.m_text.Find(text) >= 0; }
    int Count(const CString& text) const {
        int count = 0;
        for (int at = m_out.m_text.Find(text); at >= 0; at = m_out.m_text.Find(text, at + 1)) ++count;
        return count;
    }

    CTestRoot m_root;
    CCaptureOutput m_out;
    int m_keys = 0;
};

TEST_F(ConsoleLoopTest, FlagsAreToldByTheirSecondCharacter) {
    CCaptureOutput out;
    CConsoleCommandLine commandLine;
    commandLine.Parse({u"/C:VER|LIST", u"-i:c:\\x.ini", u"/n", u"plain", u"/X", u"-"}, out);
    EXPECT_EQ(commandLine.m_strCommands, CString(u"VER|LIST"));
    EXPECT_EQ(commandLine.m_strIniPath, CString(u"c:\\x.ini"));
    EXPECT_FALSE(commandLine.m_bMaximize);
    EXPECT_EQ(out.m_text, CString(u"Command line flag found: /C:VER|LIST\n"
                                  u"Command line flag found: -i:c:\\x.ini\n"
                                  u"Command line flag found: /n\n"
                                  u"Invalid command line flag: X\n\n"));
}

TEST_F(ConsoleLoopTest, NoEngineIsReportedAndEndsWithCodeOne) {
    EXPECT_EQ(Run({u"/C:VER"}), ZBCONSOLE_EXIT_NO_ENGINE);
    EXPECT_TRUE(
        Printed(u"ZBConsole ver 1.1\nThis is a console program designed to run from a command window.\n"));
    EXPECT_TRUE(Printed(u":> VER\nZBEngine not running ... \n\n:> "));
    EXPECT_FALSE(Printed(u"Sending"));
    EXPECT_EQ(m_keys, 0);  // only a start failure waits for a key
}

TEST_F(ConsoleLoopTest, IniLinesComeTrimmedBeforeTheCommandString) {
    const std::string ini = m_root.Path("cmds.ini");
    ASSERT_TRUE(WriteHostFile(ini, "  PASS secret  \r\n\r\n\tTCPSTATUS\r\nPASS\nKEY\n"));
    const int code = Run({CString(u"/I:") + CString(ini.c_str()), u"/C:PAUSE x| |pause|quit|VER"});
    EXPECT_EQ(code, ZBCONSOLE_EXIT_OK);
    EXPECT_TRUE(
        Printed(u":> PASS secret\nPassword set to 'secret'.\n\n"
                u":> TCPSTATUS\nNot using TCP - use command USETCP to activate\n\n"
                u":> PASS\nPassword now empty.\n\n"
                u":> KEY\nPress any key to continue ...\n\n"
                u":> PAUSE x\nPausing 0 second(s) ...\n\n"
                u":> pause\nPausing 1 second(s) ...\n\n"
                u":> quit\n"));
    EXPECT_FALSE(Printed(u":> VER"));  // after QUIT
    EXPECT_EQ(m_keys, 1);
}

TEST_F(ConsoleLoopTest, MissingIniIsReportedAndTheKeyboardEndsTheLoop) {
    EXPECT_EQ(Run({}, {u"  INTOFF ", u"Pause -5"}), ZBCONSOLE_EXIT_NO_ENGINE);
    EXPECT_TRUE(Printed(u"INI file '" + NoIni().Mid(3) + u"' not present/not loaded.\n"));
    // Only "PAUSE" and "pause" pause; the mixed case goes to the engine.
    EXPECT_FALSE(Printed(u"Pausing"));
    EXPECT_TRUE(Printed(u"ZBEngine not running ... \n\n:> \n"));
}

TEST_F(ConsoleLoopTest, NegativePauseDoesNotWait) {
    const int64_t start = zbw::TickNow64();
    Run({u"/C:PAUSE -5|Q"});
    EXPECT_TRUE(Printed(u"Pausing -5 second(s) ...\n\n"));
    EXPECT_LT(zbw::TickNow64() - start, 4000);
}

TEST_F(ConsoleLoopTest, BlockCommandIsAnsweredByTheEngineAndPrinted) {
    CFakeEngine engine;
    EXPECT_EQ(Run({u"/C:VER|STATUS ALL|help|INTOFF|ECHO"}), ZBCONSOLE_EXIT_OK);
    EXPECT_TRUE(Printed(u":> VER\nSending  : VER\nReceived : Welcome, ZBEngine 1.1\n\n:> "));
    EXPECT_TRUE(Printed(u"Sending  : STATUS ALL\n\n" + CString(u'*', 80) + u"\n Profile      :  Docs\n"));
    EXPECT_TRUE(Printed(u" Profile      :  Photos\n"));
    EXPECT_TRUE(
        Printed(u"Sending  : help\nReceived : Command list:\n\nHELP  | show this help\n"
                u"************************\n** ZBCONSOLE COMMANDS **\n"));
    EXPECT_TRUE(Printed(u"Sending  : ECHO\nReceived : 101-?\n"));
    const std::vector<CString> expected = {u"VER", u"STATUS ALL", u"help", u"ECHO"};
    EXPECT_EQ(engine.Commands(), expected);
}

TEST_F(ConsoleLoopTest, UnansweredBlockCommandTimesOut) {
    // The engine never answers; moving the clock past the answer time ends the wait at once.
    CFakeEngine engine([](const CString&) {
        zbw::AdvanceClock(MEM_ANSWER_TIMEOUT_MS + 1000);
        return CString();
    });
    EXPECT_EQ(Run({u"/C:VER"}), ZBCONSOLE_EXIT_OK);
    EXPECT_TRUE(Printed(u"Sending  : VER\nMEM TimeOut.\n\n"));
}

TEST_F(ConsoleLoopTest, TestBatchSendsTenRoundsThroughTheBlock) {
    CFakeEngine engine;
    Run({u"/C:test"});
    const std::vector<CString> commands = engine.Commands();
    ASSERT_EQ(commands.size(), 30u);
    EXPECT_EQ(commands[0], CString(u"VER"));
    EXPECT_EQ(commands[1], CString(u"WHO"));
    EXPECT_EQ(commands[29], CString(u"LIST"));
}

TEST_F(ConsoleLoopTest, UseTcpLogsInAndPrintsStatusRecords) {
    CLoginServer server(u"secret");
    CString useTcp;
    useTcp.Format(u"USETCP 127.0.0.1 %d", server.Port());
    EXPECT_EQ(Run({u"/C:PASS secret|" + useTcp + u"|STATUS ALL|TCPSTATUS|VER"}), ZBCONSOLE_EXIT_OK);
    CString attempt;
    attempt.Format(
        u"Attempting connection to 127.0.0.1 on port %d\nConnecting...\nAuthentication...\n"
        u"Connected, awaiting greeting message from server\nWelcome, ZBEngine 1.1\n"
        u"Remote server IP = 127.0.0.1\n\n\n:> ",
        server.Port());
    EXPECT_TRUE(Printed(attempt)) << zbw::ToUtf8(m_out.m_text);
    EXPECT_TRUE(Printed(u"Sending  : STATUS ALL\n\n" + CString(u'*', 80) + u"\n Profile      :  Docs\n"));
    EXPECT_TRUE(Printed(u" Details      :  Last run OK 50%\n"));
    CString status;
    status.Format(u"Using TCP - connected to 127.0.0.1, port %d\n\n", server.Port());
    EXPECT_TRUE(Printed(status));
    EXPECT_TRUE(Printed(u"Sending  : VER\nReceived : Welcome, ZBEngine 1.1\n"));
    EXPECT_EQ(Count(u"Authentication..."), 1);  // the connection is kept across commands
    const std::vector<CString> expected = {u"STATUS ALL", u"VER"};
    EXPECT_EQ(server.Commands(), expected);
}

TEST_F(ConsoleLoopTest, EmptyPasswordSendsTheDigestOfTheEmptyText) {
    CLoginServer server(u"");
    CString useTcp;
    useTcp.Format(u"usetcp 127.0.0.1 %d", server.Port());
    Run({u"/C:" + useTcp + u"|VER"});
    EXPECT_TRUE(Printed(u"Received : Welcome, ZBEngine 1.1\n"));
}

TEST_F(ConsoleLoopTest, WrongPasswordIsRefusedAndClosed) {
    CLoginServer server(u"secret");
    CString useTcp;
    useTcp.Format(u"USETCP 127.0.0.1 %d", server.Port());
    EXPECT_EQ(Run({u"/C:PASS wrong|" + useTcp + u"|TCPSTATUS"}), ZBCONSOLE_EXIT_OK);
    EXPECT_TRUE(
        Printed(u"Connected, awaiting greeting message from server\n"
                u"ERROR 0: Client not validated, incorrect password\n\n:> "));
    EXPECT_TRUE(Printed(u"Using TCP - not connected\n\n"));
    EXPECT_FALSE(Printed(u"Remote server IP"));
}

TEST_F(ConsoleLoopTest, RefusedConnectionIsPrintedWithItsCode) {
    CLoginServer server(u"");
    CString useTcp;
    useTcp.Format(u"USETCP 127.0.0.1 %d", server.Port() + 1);
    Run({u"/C:" + useTcp});
    EXPECT_TRUE(Printed(u"Connecting...\nERROR -10061: Connection refused by remote host.\n\n:> "));
}

TEST_F(ConsoleLoopTest, BadAnswersAreReportedAndSplitAnswersJoined) {
    CLoginServer server(u"", [](const CString& command) {
        if (command == u"BAD") return CString(ANSWER_BAD_DIGEST);
        if (command == u"SPLIT") return CString(ANSWER_IN_PIECES);
        if (command == u"NOBAR") return CString(ANSWER_NO_BAR);
        return StandardAnswer(command);
    });
    CString useTcp;
    useTcp.Format(u"USETCP 127.0.0.1 %d", server.Port());
    Run({u"/C:" + useTcp + u"|BAD|NOBAR|SPLIT|VER"});
    EXPECT_TRUE(Printed(u"Sending  : BAD\nReceived : Error : -1, EOF.\n"));
    EXPECT_TRUE(Printed(u"Sending  : NOBAR\nReceived : Error : -1, EOF.\n"));
    EXPECT_TRUE(Printed(u"Sending  : SPLIT\nReceived : " + CString(u'\x00E9', 300) + u"\n"));
    EXPECT_TRUE(Printed(u"Sending  : VER\nReceived : Welcome, ZBEngine 1.1\n"));
}

TEST_F(ConsoleLoopTest, ChallengeArrivesFramed) {
    CLoginServer server(u"");
    const int client = cscClient("127.0.0.1", server.Port());
    ASSERT_GE(client, 0);
    // The server's challenge arrives framed.
    ASSERT_EQ(cscAwaitData(client, 5000), 1);
    CString challenge;
    ASSERT_EQ(CTcpTransport::ReceiveFramedMessage(client, challenge), 0);
    EXPECT_GE(challenge.GetLength(), 1);
    EXPECT_LE(challenge.GetLength(), 8);
    EXPECT_EQ(challenge.SpanIncluding(u"0123456789ABCDEF"), challenge);
    cscClose(client);
}

}  // namespace
