// The engine command block (layout, count, exchange, heartbeat), also across forked processes; fakes a
// temporary emulation root, the Windows version and a steered clock.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "common/CommStatus.h"
#include "common/DebugPrintf.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/KernelObject.h"
#include "platform/host/PathMap.h"
#include "platform/win32/FileMapping.h"
#include "platform/win32/SyncApi.h"
#include "tests/support/TestRoot.h"

namespace {

// A plain read-only view of a named block.
class CRawBlock {
   public:
    explicit CRawBlock(LPCWSTR name) {
        m_hMapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
        if (m_hMapping)
            m_pBytes = static_cast<const BYTE*>(MapViewOfFile(m_hMapping, FILE_MAP_READ, 0, 0, 0));
    }
    ~CRawBlock() {
        if (m_pBytes) UnmapViewOfFile(m_pBytes);
        if (m_hMapping) CloseHandle(m_hMapping);
    }
    const BYTE* Bytes() const { return m_pBytes; }
    LONG Get32(size_t offset) const {
        LONG value = 0;
        std::memcpy(&value, m_pBytes + offset, sizeof value);
        return value;
    }
    std::u16string TextAt(size_t offset, size_t maxUnits) const {
        std::u16string text(maxUnits, u'\0');
        std::memcpy(text.data(), m_pBytes + offset, 2 * maxUnits);
        return text.substr(0, text.find(u'\0'));
    }

   private:
    HANDLE m_hMapping = nullptr;
    const BYTE* m_pBytes = nullptr;
};

bool NameExists(LPCWSTR name) {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
    if (mapping) CloseHandle(mapping);
    HANDLE semaphore = OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, name);
    if (semaphore) CloseHandle(semaphore);
    return mapping || semaphore;
}

// None of a block's names (mapping and both semaphores) is left.
bool BlockGone(const std::u16string& name) {
    return !NameExists(name.c_str()) && !NameExists((name + u"_Sync").c_str()) &&
           !NameExists((name + u"_Sync2").c_str());
}

// The child's exit status; -1 when it did not end within 15 s (it is killed then).
int AwaitChild(pid_t pid) {
    int status = 0;
    for (int waited = 0; waited < 15000; waited += 5) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        usleep(5000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

class CommStatusTest : public ::testing::Test {
   protected:
    // Moves the tick clock so that GetTickCount() reads about tick.
    static void SteerTickTo(DWORD tick) { zbw::AdvanceClock(static_cast<DWORD>(tick - GetTickCount())); }

    CTestRoot m_root;
};

TEST_F(CommStatusTest, EngineBlockHasTheFixedLayout) {
    CCommStatus engine;
    EXPECT_FALSE(engine.IsOpen());  // the engine opens explicitly
    engine.Open();
    ASSERT_TRUE(engine.IsOpen());
    EXPECT_EQ(engine.GetName(), CString(COMMSTATUS_NAME_GLOBAL));

    CRawBlock raw(COMMSTATUS_NAME_GLOBAL);
    ASSERT_NE(raw.Bytes(), nullptr);
    EXPECT_EQ(raw.Get32(0), 4);
    EXPECT_EQ(raw.Get32(4), 33000);
    struct VALUE {
        const char16_t* name;
        size_t entry;
        LONG size;
        LONG data;
    };
    // A fresh block gets type 0 and " " written once: count 1.
    for (const VALUE& v : {VALUE{u"type", 8, 4, 0}, VALUE{u"count", 96, 4, 1}, VALUE{u"time", 184, 4, 0},
                           VALUE{u"command", 272, 32000, ' '}}) {
        EXPECT_EQ(raw.TextAt(v.entry, 40), v.name);
        EXPECT_EQ(raw.Get32(v.entry + 80), v.size) << "size of " << raw.TextAt(v.entry, 40).size();
        EXPECT_EQ(raw.Get32(v.entry + 84), v.data) << "data at " << v.entry + 84;
    }
    EXPECT_EQ(raw.TextAt(356, 16000), u" ");
}

TEST_F(CommStatusTest, CommandTextIsCutAndTerminated) {
    CCommStatus engine;
    engine.Open();
    CRawBlock raw(COMMSTATUS_NAME_GLOBAL);
    ASSERT_NE(raw.Bytes(), nullptr);
    struct CASE {
        std::u16string text;
        int type;
        std::u16string stored;
    };
    const std::u16string longText(20000, u'z');
    const CASE cases[] = {
        {longText, COMMSTATUS_COMMAND, longText.substr(0, 15999)},
        {u"STATUS ALL", COMMSTATUS_ANSWER, u"STATUS ALL"},
        {u" ", COMMSTATUS_IDLE, u" "},
        {u"", COMMSTATUS_ANSWER, u""},  // clears the text rather than leaving the previous one
    };
    LONG count = raw.Get32(180);
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.text.size());
        engine.SendCommand(c.type, c.text.c_str());
        EXPECT_EQ(raw.Get32(92), c.type);
        EXPECT_EQ(raw.Get32(180), ++count);
        EXPECT_EQ(raw.TextAt(356, 16000), c.stored);
        EXPECT_EQ(raw.Get32(356 + 31998), 0);  // the last unit always stays zero
        int type = -1;
        CString text;
        engine.ReadCommand(type, text);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(text.GetStdString(), c.stored);
    }
}

TEST_F(CommStatusTest, CommandAndAnswerChangeTheCountOnce) {
    CCommStatus engine;
    engine.Open();
    CCommStatus client(TRUE, FALSE);
    ASSERT_TRUE(client.IsOpen());
    EXPECT_EQ(client.GetName(), CString(COMMSTATUS_NAME_GLOBAL));

    int type = -1;
    CString text;
    EXPECT_TRUE(engine.ReadCommand(type, text));  // the first read always counts as changed
    EXPECT_EQ(type, COMMSTATUS_IDLE);
    EXPECT_FALSE(engine.ReadCommand(type, text));

    client.SendCommand(COMMSTATUS_COMMAND, u"STATUS");
    EXPECT_TRUE(engine.ReadCommand(type, text));
    EXPECT_EQ(type, COMMSTATUS_COMMAND);
    EXPECT_EQ(text, CString(u"STATUS"));
    EXPECT_FALSE(engine.ReadCommand(type, text));  // not run twice

    engine.SendCommand(COMMSTATUS_ANSWER, u"100-OK");
    EXPECT_TRUE(client.ReadCommand(type, text));
    EXPECT_EQ(type, COMMSTATUS_ANSWER);
    EXPECT_EQ(text, CString(u"100-OK"));
}

// Every local process may write the block: a count at its largest wraps to the smallest.
TEST_F(CommStatusTest, ForgedCountAtItsLargestWraps) {
    CCommStatus engine;
    engine.Open();
    ASSERT_TRUE(engine.IsOpen());
    HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, COMMSTATUS_NAME_GLOBAL);
    ASSERT_NE(mapping, nullptr);
    auto* bytes = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(bytes, nullptr);
    const LONG largest = 0x7FFFFFFF;
    std::memcpy(bytes + 180, &largest, sizeof largest);
    engine.SendCommand(COMMSTATUS_ANSWER, u"100-OK");
    EXPECT_EQ(CRawBlock(COMMSTATUS_NAME_GLOBAL).Get32(180), static_cast<LONG>(0x80000000u));
    UnmapViewOfFile(bytes);
    CloseHandle(mapping);
}

TEST_F(CommStatusTest, ExchangeTakesOnlyTheAnswerToItsCommand) {
    CCommStatus engine;
    engine.Open();
    engine.SendCommand(COMMSTATUS_ANSWER, u"an older answer");
    CCommStatus client(TRUE, FALSE);
    ASSERT_TRUE(client.IsOpen());
    CString answer = u"x";
    EXPECT_FALSE(client.ExchangeCommand(u"STATUS", 100, answer)) << "the older answer is not taken";
    EXPECT_TRUE(answer.IsEmpty());

    std::thread server([&engine] {
        const int64_t deadline = zbw::DeadlineAfter(5000);
        int type = COMMSTATUS_IDLE;
        CString text;
        while (zbw::RemainingUntil(deadline) > 0) {
            if (engine.ReadCommand(type, text) && type == COMMSTATUS_COMMAND && text == u"PING") {
                engine.SendCommand(COMMSTATUS_ANSWER, u"PONG");
                return;
            }
            Sleep(1);
        }
    });
    EXPECT_TRUE(client.ExchangeCommand(u"PING", 5000, answer));
    server.join();
    EXPECT_EQ(answer, CString(u"PONG"));

    CCommStatus none(TRUE, TRUE);  // never opened
    EXPECT_FALSE(none.ExchangeCommand(u"PING", 5000, answer));
}

TEST_F(CommStatusTest, HeartbeatTellsWhetherTheEngineRuns) {
    CCommStatus engine;
    engine.Open();
    EXPECT_FALSE(engine.IsAlive(500));  // "time" is 0 right after the block is made
    struct CASE {
        const char* what;
        DWORD now;     // steered tick count
        DWORD offset;  // time = now - offset
        DWORD timeout;
        bool alive;
    };
    const CASE cases[] = {
        {"fresh", 5000000, 100, 500, true},
        {"stale", 5000000, 600, 500, false},
        {"at the limit", 5000000, 500, 500, true},
        {"written just after the reader's tick", 5000000, static_cast<DWORD>(-100), 500, true},
        {"far ahead of this clock", 5000000, static_cast<DWORD>(-600), 500, false},
        {"time + timeout wraps", 0xFFFFFF00u, 10, 500, true},
        {"tick count wrapped since", 0x00000010u, 0x20, 500, true},
        {"stale across the wrap", 0x00001000u, 0x2000, 500, false},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        SteerTickTo(c.now);
        ASSERT_TRUE(engine.SetTime(GetTickCount() - c.offset));
        EXPECT_EQ(engine.IsAlive(c.timeout), c.alive);
    }
    SteerTickTo(5000000);
    ASSERT_TRUE(engine.SetTime(1));  // the engine's server stopped
    EXPECT_FALSE(engine.IsAlive(500));
    ASSERT_TRUE(engine.SetTime(GetTickCount()));
    CCommStatus client(TRUE, FALSE);
    EXPECT_TRUE(client.IsAlive(500));
}

TEST_F(CommStatusTest, ClientWithoutEngineLeavesNoNames) {
    {
        CCommStatus client(TRUE, FALSE);
        EXPECT_FALSE(client.IsOpen());
        EXPECT_FALSE(client.IsAlive(500));
        int type = -1;
        CString text(u"x");
        EXPECT_FALSE(client.ReadCommand(type, text));
        EXPECT_EQ(type, 0);
        EXPECT_TRUE(text.IsEmpty());
        client.SendCommand(COMMSTATUS_COMMAND, u"STATUS");
        EXPECT_FALSE(client.SetTime(5));
        EXPECT_TRUE(BlockGone(COMMSTATUS_NAME_GLOBAL));
        EXPECT_TRUE(BlockGone(COMMSTATUS_NAME_LOCAL));
    }
    EXPECT_TRUE(BlockGone(COMMSTATUS_NAME_GLOBAL));
    EXPECT_TRUE(BlockGone(COMMSTATUS_NAME_LOCAL));
}

TEST_F(CommStatusTest, EngineAndClientsChooseTheirBlock) {
    struct CASE {
        const char* what;
        bool localEngine;  // another engine of this session serves the local block
        bool alive;        // its heartbeat is fresh
        const char16_t* engineUses;
        const char16_t* clientUses;
        const char16_t* gone;  // the block nobody kept, when there is one
    };
    const CASE cases[] = {
        {"no other engine", false, false, COMMSTATUS_NAME_GLOBAL, COMMSTATUS_NAME_GLOBAL,
         COMMSTATUS_NAME_LOCAL},
        {"live local engine", true, true, COMMSTATUS_NAME_LOCAL, COMMSTATUS_NAME_LOCAL,
         COMMSTATUS_NAME_GLOBAL},
        {"dead local engine", true, false, COMMSTATUS_NAME_GLOBAL, COMMSTATUS_NAME_GLOBAL, nullptr},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<CCommStatusMem> other;
        if (c.localEngine) {
            other = std::make_unique<CCommStatusMem>(COMMSTATUS_NAME_LOCAL, nullptr);
            other->AddValues();
            other->WriteTime(c.alive ? GetTickCount() : 1);
        }
        CCommStatus engine;
        engine.Open();
        EXPECT_EQ(engine.GetName(), CString(c.engineUses));
        CCommStatus client(TRUE, FALSE);
        EXPECT_EQ(client.GetName(), CString(c.clientUses));
        if (c.gone) {
            EXPECT_TRUE(BlockGone(c.gone));
        }
    }
}

TEST_F(CommStatusTest, ClientUsesALocalBlockWhenNoGlobalOneExists) {
    CCommStatusMem local(COMMSTATUS_NAME_LOCAL, nullptr);
    local.AddValues();
    CCommStatus client(TRUE, FALSE);
    EXPECT_EQ(client.GetName(), CString(COMMSTATUS_NAME_LOCAL));
    EXPECT_TRUE(BlockGone(COMMSTATUS_NAME_GLOBAL));  // the global block it made is gone again
}

TEST_F(CommStatusTest, BeforeVistaTheNameDependsOnTheTestEvent) {
    setenv("ZBW_WINVER", "5.1.2600 SP3 workstation", 1);
    {
        CCommStatus engine;
        engine.Open();
        EXPECT_EQ(engine.GetName(), CString(COMMSTATUS_NAME_OLD_GLOBAL));
        EXPECT_FALSE(NameExists(COMMSTATUS_TEST_EVENT));
        CCommStatus client(TRUE, FALSE);
        EXPECT_EQ(client.GetName(), CString(COMMSTATUS_NAME_OLD_GLOBAL));
    }
    HANDLE mutex = CreateMutexW(nullptr, FALSE, COMMSTATUS_TEST_EVENT);  // an event cannot be made now
    ASSERT_NE(mutex, nullptr);
    {
        CCommStatus client(TRUE, FALSE);  // keeps the block it made, without a heartbeat
        EXPECT_EQ(client.GetName(), CString(COMMSTATUS_NAME_OLD));
        EXPECT_FALSE(client.IsAlive(500));
    }
    EXPECT_TRUE(BlockGone(COMMSTATUS_NAME_OLD));
    HANDLE taken = CreateMutexW(nullptr, FALSE, COMMSTATUS_NAME_OLD);  // no block can be made at all
    CCommStatus engine;
    engine.Open();
    EXPECT_FALSE(engine.IsOpen());
    engine.SendCommand(COMMSTATUS_COMMAND, u"STATUS");
    EXPECT_FALSE(engine.IsAlive(500));
    CloseHandle(taken);
    CloseHandle(mutex);
}

TEST_F(CommStatusTest, ExistingSmallerBlockKeepsItsSize) {
    CSharedMemory small(COMMSTATUS_NAME_GLOBAL, 1024);
    CCommStatus engine;
    engine.Open();
    ASSERT_TRUE(engine.IsOpen());
    engine.SendCommand(COMMSTATUS_ANSWER, u"no room for the text");
    int type = -1;
    CString text;
    engine.ReadCommand(type, text);
    EXPECT_EQ(type, COMMSTATUS_ANSWER);
    EXPECT_TRUE(text.IsEmpty());  // "command" did not fit
    DWORD size = 0;
    EXPECT_FALSE(small.GetValue(u"command", nullptr, &size));
    EXPECT_TRUE(small.ValueExists(u"time"));
}

TEST_F(CommStatusTest, EnableGlobalPrivilegeSucceeds) {
    EXPECT_TRUE(CCommStatus::EnableGlobalPrivilege());
}

std::string ReadUtf16(const std::string& path) {
    const std::string bytes = ReadHostFile(path);
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    return zbw::ToUtf8(text.c_str());
}

// The one test of this program that opens the process's debug log.
TEST_F(CommStatusTest, RefusedGlobalPrivilegeIsLoggedAndTheEngineTakesTheLocalBlock) {
    const std::string log = m_root.Path("engine.log");
    ASSERT_TRUE(g_DebugPrintf.Init(zbw::ToWindowsPath(log)));
    setenv("ZBW_REFUSE_PRIVILEGES", "SeDebugPrivilege,SeCreateGlobalPrivilege", 1);
    EXPECT_FALSE(CCommStatus::EnableGlobalPrivilege());
    {
        CCommStatus engine;
        engine.Open();
        EXPECT_EQ(engine.GetName(), CString(COMMSTATUS_NAME_LOCAL));
        EXPECT_FALSE(NameExists(COMMSTATUS_NAME_GLOBAL)) << "no global block without the privilege";
        EXPECT_NE(ReadUtf16(log).find("SeCreateGlobalPrivilege: privilege not enabled\r\n"),
                  std::string::npos)
            << ReadUtf16(log);
    }
    // A global block that already exists is still taken.
    CCommStatusMem global(COMMSTATUS_NAME_GLOBAL, nullptr);
    CCommStatus engine;
    engine.Open();
    EXPECT_EQ(engine.GetName(), CString(COMMSTATUS_NAME_GLOBAL));
}

TEST_F(CommStatusTest, TwoProcessesExchangeACommand) {
    CCommStatus engine;
    engine.Open();
    ASSERT_TRUE(engine.SetTime(GetTickCount()));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int result = 4;
        {
            CCommStatus client(TRUE, FALSE);
            if (!client.IsAlive(5000)) _exit(1);
            client.SendCommand(COMMSTATUS_COMMAND, u"PING");
            const int64_t deadline = zbw::DeadlineAfter(5000);
            int type = 0;
            CString text;
            while (zbw::RemainingUntil(deadline) > 0) {
                if (client.ReadCommand(type, text) && type == COMMSTATUS_ANSWER) {
                    result = text == u"PONG PING" ? 0 : 2;
                    break;
                }
                Sleep(5);
            }
        }
        _exit(result);
    }
    // Serve like the engine until the child has its answer.
    int status = -1;
    const int64_t deadline = zbw::DeadlineAfter(10000);
    while (zbw::RemainingUntil(deadline) > 0 && waitpid(pid, &status, WNOHANG) == 0) {
        int type = 0;
        CString text;
        if (engine.ReadCommand(type, text) && type == COMMSTATUS_COMMAND)
            engine.SendCommand(COMMSTATUS_ANSWER, CString(u"PONG ") + text);
        engine.SetTime(GetTickCount());
        Sleep(5);
    }
    if (!WIFEXITED(status)) status = AwaitChild(pid) << 8;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    engine.Close();
    EXPECT_TRUE(BlockGone(COMMSTATUS_NAME_GLOBAL));
}

}  // namespace
