// ZBConsole as a script runs it: commands from /C, standard input at its end, the output read
// from a file; a fake engine in this process serves the command block across processes.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/CommStatus.h"
#include "platform/base/Clock.h"
#include "tests/e2e/ChildProcess.h"
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

// Serves the block as the engine's server does: heartbeat, command, answer.
class CBlockEngine {
   public:
    CBlockEngine() {
        m_block.Open();
        m_block.SetTime(GetTickCount());
        m_thread = std::thread([this] {
            while (!m_stop) {
                m_block.SetTime(GetTickCount());
                int type = COMMSTATUS_IDLE;
                CString command;
                if (m_block.ReadCommand(type, command) && type == COMMSTATUS_COMMAND) {
                    m_block.SendCommand(COMMSTATUS_ANSWER, u"100-echo " + command);
                }
                Sleep(10);
            }
            m_block.SetTime(1);
        });
    }
    ~CBlockEngine() {
        m_stop = true;
        m_thread.join();
    }

   private:
    CCommStatus m_block;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST_F(ConsoleTest, WithoutEngineTheCommandIsRefusedWithCodeOne) {
    EXPECT_EQ(RunConsole({NoIni(), "/C:VER"}), 1);
    const std::string out = Output();
    EXPECT_NE(out.find(":> VER\nZBEngine not running ... \n\n"), std::string::npos) << out;
    EXPECT_NE(out.find("INI file '"), std::string::npos);
}

TEST_F(ConsoleTest, IniCommandsGoThroughTheBlockToTheEngine) {
    ASSERT_TRUE(WriteHostFile(m_root.Path("cmds.ini"), " WHO \r\n\r\nLIST\r\n"));
    CBlockEngine engine;
    EXPECT_EQ(RunConsole({"/I:" + m_root.Path("cmds.ini"), "/C:VER|quit|LIST"}), 0);
    const std::string out = Output();
    EXPECT_NE(out.find(":> WHO\nSending  : WHO\nReceived : echo WHO\n\n"
                       ":> LIST\nSending  : LIST\nReceived : echo LIST\n\n"
                       ":> VER\nSending  : VER\nReceived : echo VER\n\n:> quit\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Received : echo LIST", out.find(":> quit")), std::string::npos);
}

}  // namespace
