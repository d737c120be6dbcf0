// Synchronisation status blocks in shared memory: names, opening, polling, bounds; fakes a temporary
// emulation root and a steered clock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "common/SharedMemory.h"
#include "dovrane/model/ZBEngStatus.h"
#include "dovrane/model/ZBStatus.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "tests/support/TestRoot.h"

namespace {

const DWORD kPid = 4242;

std::string Utf8(const CString& text) {
    return zbw::ToUtf8(text);
}

std::vector<BYTE> TextBytes(const std::u16string& text, size_t size) {
    std::vector<BYTE> bytes(size, 0);
    for (size_t i = 0; i < text.size() && 2 * i + 1 < size; ++i) {
        bytes[2 * i] = static_cast<BYTE>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
    }
    return bytes;
}

// A progress block made before the engine opens it, as a program that started first would.
class StatusBlockTest : public ::testing::Test {
   protected:
    CSharedMemory& EarlyBlock() {
        if (!m_pEarly)
            m_pEarly =
                std::make_unique<CSharedMemory>(CZBEngStatus::BlockName(kPid), CZBEngStatus::kBlockSize);
        return *m_pEarly;
    }
    void AddEarlyText(LPCWSTR name, const std::u16string& text, DWORD size) {
        std::vector<BYTE> bytes = TextBytes(text, size);
        ASSERT_TRUE(EarlyBlock().AddValue(name, size, bytes.data()));
    }

    CTestRoot root;
    std::unique_ptr<CSharedMemory> m_pEarly;
};

TEST_F(StatusBlockTest, BlockNamesCarryThePid) {
    EXPECT_EQ(Utf8(CZBEngStatus::BlockName(4000000000u)), "ZebrodyneProZBENG_4000000000");
    EXPECT_EQ(Utf8(CZBStatus::BlockName(17)), "ZebrodynePro_17");
}

TEST_F(StatusBlockTest, OpenAfterIdAddsMissingValuesAndKeepsExistingOnes) {
    AddEarlyText(u"ID", u"Run 7", 1024);
    AddEarlyText(u"LINE1", u"Copying a.txt", 512);
    CZBEngStatus status;
    ASSERT_TRUE(status.Open(kPid));
    EXPECT_EQ(Utf8(status.GetID()), "Run 7");
    EXPECT_EQ(Utf8(status.GetCaption()), "1");
    EXPECT_EQ(Utf8(status.GetLine1()), "Copying a.txt");
    EXPECT_EQ(Utf8(status.GetLine2()), "");

    SYNCCOUNTS todo{};
    ASSERT_TRUE(status.GetToDo(todo));
    EXPECT_FALSE(HasData(todo));
    for (LPCWSTR name : {u"COMS", u"COMT"}) {
        COMPARECOUNTS compare{};
        ASSERT_TRUE(status.GetRecord(name, &compare, sizeof compare));
        EXPECT_FALSE(HasData(compare));
    }
    struct {
        LPCWSTR name;
        DWORD size;
    } const sizes[] = {{u"CAPT", 1024}, {u"LERR", 1024}, {u"FILE", 1024}, {u"LINE2", 512},
                       {u"LINE3", 512}, {u"TODO", 576},  {u"DONE", 576},  {u"COMT", 136}};
    for (const auto& value : sizes) {
        DWORD size = 0;
        EXPECT_TRUE(EarlyBlock().GetValue(value.name, nullptr, &size));
        EXPECT_EQ(size, value.size) << Utf8(value.name);
    }
}

TEST_F(StatusBlockTest, OpenGivesUpOnAnIdThatNeverComes) {
    std::atomic<bool> opened{false};
    // Steps the clock past each one-second pause; bounded even if Open never returned.
    std::thread steer([&] {
        for (int i = 0; i < 2000 && !opened; ++i) {
            zbw::AdvanceClock(1000);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    CZBEngStatus status;
    const bool result = status.Open(kPid);
    opened = true;
    steer.join();
    EXPECT_TRUE(result);
    EXPECT_EQ(Utf8(status.GetID()), "");
    EXPECT_EQ(Utf8(status.GetCaption()), "1");
}

TEST_F(StatusBlockTest, AttachDoesNotWaitAndPollingPicksUpTheIdLater) {
    CZBEngStatus status;
    ASSERT_TRUE(status.Attach(kPid));
    EXPECT_FALSE(status.PollID());
    EXPECT_EQ(Utf8(status.GetCaption()), "");
    status.SetString(u"ID", u"Run 9", 512);  // as the program writes it
    EXPECT_TRUE(status.PollID());
    EXPECT_EQ(Utf8(status.GetID()), "Run 9");
    EXPECT_EQ(Utf8(status.GetCaption()), "1");

    CZBEngStatus silent;
    ASSERT_TRUE(silent.Attach(kPid + 1));
    int polls = 1;
    while (!silent.PollID() && polls < 100) ++polls;
    EXPECT_EQ(polls, CZBEngStatus::kIdReads);
    EXPECT_EQ(Utf8(silent.GetID()), "");
    EXPECT_EQ(Utf8(silent.GetCaption()), "1");
}

TEST_F(StatusBlockTest, ForeignValuesAreBoundedAndTerminated) {
    AddEarlyText(u"ID", u"x", 1024);
    AddEarlyText(u"LINE1", std::u16string(300, u'A'), 600);  // no zero inside
    AddEarlyText(u"LINE2", u"ab", 5);                        // odd size
    AddEarlyText(u"LINE3", std::u16string(u"left\0right", 10), 512);
    AddEarlyText(u"CAPT", u"zz", 2);  // room for one character only
    ASSERT_TRUE(EarlyBlock().AddValue(u"TODO", 100));
    CZBEngStatus status;
    ASSERT_TRUE(status.Open(kPid));
    EXPECT_EQ(Utf8(status.GetLine1()), std::string(256, 'A'));
    EXPECT_EQ(Utf8(status.GetLine2()), "ab");
    EXPECT_EQ(Utf8(status.GetLine3()), "left");
    EXPECT_EQ(Utf8(status.GetCaption()), "1");

    SYNCCOUNTS todo{};
    todo.nResult = 5;
    EXPECT_FALSE(status.GetToDo(todo));
    EXPECT_EQ(todo.nResult, 5);

    status.SetString(u"LERR", CString(u'E', 900), 512);
    EXPECT_EQ(status.GetLastError().GetLength(), 512);
    EXPECT_EQ(status.GetString(u"NONE", 10).GetLength(), 0);
}

TEST_F(StatusBlockTest, ReadersWithoutBlockGiveNothing) {
    CZBEngStatus status;
    CZBStatus percent;
    SYNCCOUNTS todo = NoSyncCounts();
    EXPECT_FALSE(status.GetToDo(todo));
    EXPECT_EQ(todo.nResult, -1);
    EXPECT_TRUE(status.GetLine1().IsEmpty());
    status.SetString(u"CAPT", u"1", 512);
    EXPECT_EQ(percent.GetPercent(), -1);
    EXPECT_TRUE(percent.GetStatusText().IsEmpty());
}

TEST_F(StatusBlockTest, PercentBlockStartsAtZeroAndReadsWhatTheProgramWrites) {
    CZBStatus status;
    ASSERT_TRUE(status.Open(kPid));
    EXPECT_EQ(status.GetPercent(), 0);
    EXPECT_TRUE(status.GetStatusText().IsEmpty());

    CSharedMemory program(CZBStatus::BlockName(kPid), CZBStatus::kBlockSize);
    const LONG percent = 57;
    ASSERT_TRUE(program.SetValue(u"%", &percent, sizeof percent));
    std::vector<BYTE> text = TextBytes(std::u16string(150, u's'), 200);  // fills the value, no zero
    ASSERT_TRUE(program.SetValue(u"st", text.data(), 200));
    EXPECT_EQ(status.GetPercent(), 57);
    EXPECT_EQ(Utf8(status.GetStatusText()), std::string(100, 's'));
}

TEST_F(StatusBlockTest, PercentOfWrongSizeReadsAsMinusOne) {
    CSharedMemory program(CZBStatus::BlockName(kPid), CZBStatus::kBlockSize);
    ASSERT_TRUE(program.AddValue(u"%", 2));
    CZBStatus status;
    ASSERT_TRUE(status.Open(kPid));
    EXPECT_EQ(status.GetPercent(), -1);
}

}  // namespace
