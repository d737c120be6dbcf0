// ZBConsole as a script runs it: commands from /C, standard input at its end, the output read
// from a file; the real engine serves the command block.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "tests/e2e/ChildProcess.h"
#include "tests/e2e/EngineAlive.h"
#include "tests/e2e/LogFiles.h"
#include "tests/support/TestRoot.h"

namespace {

const unsigned kBoundMs = 30000;

class ConsoleTest : public ::testing::Test {
   protected:
    // Exit status of the console run with these arguments; its output lands in Output().
    int RunConsole(const std::vector<std::string>& args) {
        std::vector<std::string> shellArgs = {"-c", "exec \"$0\" \"$@\" > \"$ZBC_OUT\" < /dev/null",
                                              BinDir() + "/ZBConsole"};
        shellArgs.insert(shellArgs.end(), args.begin(), args.end());
        setenv("ZBC_OUT", m_root.Path("out.txt").c_str(), 1);
        CChildProcess console;
        EXPECT_TRUE(console.Start("/bin/sh", shellArgs));
        const int status = console.WaitExit(kBoundMs);
        unsetenv("ZBC_OUT");
        return status;
    }
    std::string Output() const { return ReadHostFile(m_root.Path("out.txt")); }
    std::string NoIni() const { return "/I:" + m_root.Path("none.ini"); }

    CTestRoot m_root;
};

// The real engine, serving the command block; Ctrl-C ends it.
class CRunningEngine {
   public:
    explicit CRunningEngine(const std::string& log) {
        EXPECT_TRUE(m_engine.Start(BinDir() + "/zbengine", {}));
        EXPECT_TRUE(zbtest::WaitForEngineLog(log, "IPServer started in", kBoundMs));
        EXPECT_TRUE(zbtest::WaitForEngineServing(kBoundMs));
    }
    ~CRunningEngine() {
        m_engine.Signal(SIGINT);
        EXPECT_EQ(m_engine.WaitExit(kBoundMs), 0);
    }

   private:
    CChildProcess m_engine;
};

TEST_F(ConsoleTest, WithoutEngineTheCommandIsRefusedWithCodeOne) {
    EXPECT_EQ(RunConsole({NoIni(), "/C:VER"}), 1);
    const std::string out = Output();
    EXPECT_NE(out.find(":> VER\nZBEngine not running ... \n\n"), std::string::npos) << out;
    EXPECT_NE(out.find("INI file '"), std::string::npos);
}

TEST_F(ConsoleTest, IniCommandsGoThroughTheBlockToTheEngine) {
    ASSERT_TRUE(WriteHostFile(m_root.Path("cmds.ini"), " WHO \r\n\r\nLIST\r\n"));
    setenv("ZBW_COMPUTER_NAME", "consolehost", 1);
    CRunningEngine engine(m_root.Path("home/.local/share/ZBEngine/ZBEngine.log"));
    EXPECT_EQ(RunConsole({"/I:" + m_root.Path("cmds.ini"), "/C:VER|quit|LIST"}), 0);
    const std::string out = Output();
    EXPECT_NE(out.find(":> WHO\nSending  : WHO\nReceived : CONSOLEHOST\n\n"
                       ":> LIST\nSending  : LIST\nReceived : \n\n"
                       ":> VER\nSending  : VER\nReceived : Welcome, ZBEngine 1.1\n\n:> quit\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Sending  : LIST", out.find(":> quit")), std::string::npos);
}

}  // namespace
