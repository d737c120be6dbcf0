// The run-history database on a real SQLite file: values, cuts, backup, recovery, WAL; fakes a temporary
// emulation root and a steered clock.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dovrane/model/CppSQLite3Exception.h"
#include "dovrane/model/DBBinaryCodec.h"
#include "dovrane/model/EngineDB.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "tests/support/TestRoot.h"

namespace {

using ROWS = std::map<std::string, std::string>;

// Runs sql on a connection of its own to the file at path; each row's first two columns.
ROWS Query(const std::string& path, const char* sql) {
    ROWS rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 5000);
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                auto text = [&](int column) {
                    const unsigned char* value = sqlite3_column_text(stmt, column);
                    return std::string(value ? reinterpret_cast<const char*>(value) : "");
                };
                rows[text(0)] = sqlite3_column_count(stmt) > 1 ? text(1) : std::string();
            }
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return rows;
}

// Every key and value stored in the history database file at path.
ROWS StoredRows(const std::string& path) {
    return Query(path, "SELECT key, value FROM main");
}

bool Exec(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    bool done = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return done;
}

class EngineDBTest : public ::testing::Test {
   protected:
    void SetUp() override {
        hostPath = root.Path("ZBEngine.db");
        g_EngineDB.SetDBFilePath(zbw::ToWindowsPath(hostPath));
        zbw::AdvanceClock(1);  // waits poll in short slices from now on, so steering reaches them
    }
    void TearDown() override { g_EngineDB.CloseDBFile(); }

    bool Write(LPCWSTR key, LPCWSTR value) {
        EXPECT_TRUE(g_EngineDB.BeginDBTransaction());
        bool written = g_EngineDB.WriteDBValue(key, value);
        EXPECT_TRUE(g_EngineDB.CommitDBTransaction());
        return written;
    }
    CString Read(LPCWSTR key) {
        EXPECT_TRUE(g_EngineDB.BeginDBTransaction());
        CString value = g_EngineDB.ReadDBValue(key);
        EXPECT_TRUE(g_EngineDB.CommitDBTransaction());
        return value;
    }
    // Waits (bounded) for cond, moving the steered clock a minute at a time so the backup
    // thread's waits end, but never past limitTick: a slow thread must not carry the clock across
    // the half-hour the test checks next. Past the limit the thread's own wait runs out.
    template <class COND>
    bool AdvanceUntil(COND cond, int64_t limitTick = INT64_MAX) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!cond()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            if (zbw::TickNow64() + kStepMs <= limitTick) zbw::AdvanceClock(kStepMs);
            usleep(10000);
        }
        return true;
    }

    static constexpr int64_t kStepMs = 61000;

    CTestRoot root;
    std::string hostPath;
};

TEST_F(EngineDBTest, ValuesRoundTrip) {
    ASSERT_TRUE(g_EngineDB.OpenDBFile());
    struct {
        const char16_t* key;
        const char16_t* value;
    } cases[] = {
        {u"plain", u"text"},
        {u"it's", u"O'Brien's ''quoted'' run"},
        {u"Gr\u00fc\u00dfe>0", u"\u65e5\u672c\u8a9e \U0001F600 \u20ac"},
        {u"a*?[b]>0>LERR", u"*?*one*?*two"},
        {u"empty value", u""},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(Write(c.key, c.value)) << zbw::ToUtf8(c.key);
        EXPECT_EQ(Read(c.key), CString(c.value)) << zbw::ToUtf8(c.key);
    }
    EXPECT_FALSE(Write(u"", u"x")) << "an empty key is refused";
    EXPECT_TRUE(Read(u"").IsEmpty());
    EXPECT_TRUE(Read(u"missing").IsEmpty());
    EXPECT_TRUE(Write(u"plain", u"replaced"));
    EXPECT_EQ(Read(u"plain"), CString(u"replaced"));
}

TEST_F(EngineDBTest, KeysAndValuesAreCut) {
    ASSERT_TRUE(g_EngineDB.OpenDBFile());
    CString key(u'k', 1024);
    CString value(u'v', 9000);
    EXPECT_TRUE(Write(key, value));
    EXPECT_EQ(Read(key), CString(u'v', 8192));
    EXPECT_EQ(Read(key + u"tail"), CString(u'v', 8192)) << "the key is cut to 1024 units too";

    CString pair = CString(u'a', 8191) + u"\U0001F600";
    EXPECT_TRUE(Write(u"pair", pair));
    EXPECT_EQ(Read(u"pair"), CString(u'a', 8191)) << "no half surrogate pair is stored";
}

TEST_F(EngineDBTest, IntegersRoundTrip) {
    ASSERT_TRUE(g_EngineDB.OpenDBFile());
    ASSERT_TRUE(g_EngineDB.BeginDBTransaction());
    for (int value : {0, 7, -1, 2147483647}) {
        EXPECT_TRUE(g_EngineDB.WriteDBValueInt(u"n", value));
        EXPECT_EQ(g_EngineDB.ReadDBValueInt(u"n"), value);
    }
    EXPECT_TRUE(g_EngineDB.WriteDBValue(u"n", u"abc"));
    EXPECT_EQ(g_EngineDB.ReadDBValueInt(u"n"), 0);
    EXPECT_EQ(g_EngineDB.ReadDBValueInt(u"absent"), 0);
    EXPECT_TRUE(g_EngineDB.CommitDBTransaction());
}

TEST(DBBinaryCodecTest, EncodingAvoidsZeroAndApostrophe) {
    std::vector<unsigned char> zeros(576, 0);
    CDBBinaryCodec codec;
    codec.setBinary(zeros.data(), 576);
    std::string encoded = codec.getEncoded();
    ASSERT_EQ(encoded.size(), 577u);
    EXPECT_EQ(encoded[0], '\1');
    EXPECT_EQ(encoded.find_first_not_of('\xff', 1), std::string::npos);

    std::vector<std::vector<unsigned char>> inputs = {zeros, {39, 40, 0, 1}, {}};
    std::vector<unsigned char> every;
    for (int i = 0; i < 256; ++i) every.insert(every.end(), 3, static_cast<unsigned char>(i));
    inputs.push_back(every);
    for (const auto& input : inputs) {
        CDBBinaryCodec enc;
        enc.setBinary(input.data(), static_cast<int>(input.size()));
        std::string text = enc.getEncoded();
        EXPECT_EQ(text.find('\0'), std::string::npos);
        EXPECT_EQ(text.find('\''), std::string::npos);
        CDBBinaryCodec dec;
        dec.setEncoded(text);
        EXPECT_EQ(dec.getBinary(), input);
    }
    CDBBinaryCodec empty;
    empty.setBinary(nullptr, 0);
    EXPECT_EQ(empty.getEncoded(), "x");

    CDBBinaryCodec bad;
    bad.setEncoded("\x05\x01\x09");
    EXPECT_THROW(bad.getBinary(), CppSQLite3Exception);
}

TEST_F(EngineDBTest, BinaryValuesRoundTripEveryByte) {
    ASSERT_TRUE(g_EngineDB.OpenDBFile());
    std::vector<unsigned char> bytes;
    for (int i = 1; i < 256; ++i) bytes.push_back(static_cast<unsigned char>(i));
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<unsigned char>(255 - i));
    ASSERT_TRUE(g_EngineDB.BeginDBTransaction());
    EXPECT_TRUE(g_EngineDB.WriteDBBinary(u"bin", bytes.data(), static_cast<int>(bytes.size())));
    std::vector<unsigned char> back(bytes.size(), 0xAA);
    g_EngineDB.ReadDBBinary(u"bin", back.data(), static_cast<int>(back.size()));
    EXPECT_EQ(back, bytes);

    // Absent, undecodable or too short values leave the buffer as it was.
    EXPECT_TRUE(g_EngineDB.WriteDBValue(u"bad", u"\x05\x01\x09"));
    EXPECT_TRUE(g_EngineDB.WriteDBBinary(u"short", bytes.data(), 4));
    EXPECT_TRUE(g_EngineDB.WriteDBBinary(u"none", nullptr, 0));
    EXPECT_EQ(g_EngineDB.ReadDBValue(u"none"), CString(u"x"));
    for (const char16_t* key : {u"absent", u"bad", u"short", u"none"}) {
        std::vector<unsigned char> kept(8, 0x5A);
        g_EngineDB.ReadDBBinary(key, kept.data(), 8);
        EXPECT_EQ(kept, std::vector<unsigned char>(8, 0x5A)) << zbw::ToUtf8(key);
    }
    EXPECT_TRUE(g_EngineDB.CommitDBTransaction());
}

TEST_F(EngineDBTest, DeleteByEscapedPatternTouchesOnlyThatProfile) {
    ASSERT_TRUE(g_EngineDB.OpenDBFile());
    struct {
        const char16_t* profile;
        const char16_t* sibling;
    } cases[] = {{u"A*", u"AB"}, {u"A?", u"AC"}, {u"[x]", u"x"}, {u"it's", u"its"}, {u"[*?'", u"[*?'2"}};
    for (const auto& c : cases) {
        CString profile(c.profile), sibling(c.sibling);
        ASSERT_TRUE(g_EngineDB.BeginDBTransaction());
        for (const CString& p : {profile, sibling}) {
            EXPECT_TRUE(g_EngineDB.WriteDBValueInt(p + u">Counter", 1));
            EXPECT_TRUE(g_EngineDB.WriteDBValue(p + u">0", u"run"));
        }
        EXPECT_TRUE(g_EngineDB.DeleteDBKeys(CEngineDB::EscapeGlob(profile) + u">*"));
        EXPECT_TRUE(g_EngineDB.ReadDBValue(profile + u">Counter").IsEmpty()) << zbw::ToUtf8(profile);
        EXPECT_TRUE(g_EngineDB.ReadDBValue(profile + u">0").IsEmpty()) << zbw::ToUtf8(profile);
        EXPECT_EQ(g_EngineDB.ReadDBValue(sibling + u">0"), CString(u"run")) << zbw::ToUtf8(sibling);
        EXPECT_TRUE(g_EngineDB.CommitDBTransaction());
    }
    EXPECT_EQ(CEngineDB::EscapeGlob(u"a*b?c[d]'"), CString(u"a[*]b[?]c[[]d]'"));
    ASSERT_TRUE(g_EngineDB.BeginDBTransaction());
    EXPECT_FALSE(g_EngineDB.DeleteDBKeys(u""));
    EXPECT_TRUE(g_EngineDB.CommitDBTransaction());
}

TEST_F(EngineDBTest, OpenRecoversADamagedFile) {
    std::string garbage(4096, 'Z');
    enum Backup { kGoodBackup, kNoBackup, kDamagedBackup };
    for (Backup backup : {kGoodBackup, kNoBackup, kDamagedBackup}) {
        SCOPED_TRACE(backup);
        unlink(hostPath.c_str());
        unlink((hostPath + ".bak").c_str());
        ASSERT_TRUE(g_EngineDB.OpenDBFile());
        EXPECT_TRUE(Write(u"kept", u"value"));
        g_EngineDB.CloseDBFile();
        if (backup != kNoBackup) {
            std::string bak = backup == kGoodBackup ? ReadHostFile(hostPath) : garbage;
            ASSERT_TRUE(WriteHostFile(hostPath + ".bak", bak));
        }
        ASSERT_TRUE(WriteHostFile(hostPath, garbage));

        ASSERT_TRUE(g_EngineDB.OpenDBFile()) << zbw::ToUtf8(g_EngineDB.GetDBLastError());
        EXPECT_EQ(Read(u"kept"), backup == kGoodBackup ? CString(u"value") : CString());
        EXPECT_EQ(ReadHostFile(hostPath).substr(0, 16), std::string("SQLite format 3\0", 16));
        EXPECT_TRUE(Write(u"after", u"works"));
        EXPECT_EQ(Read(u"after"), CString(u"works"));
        g_EngineDB.CloseDBFile();
    }
}

TEST_F(EngineDBTest, OpenFailuresAndClosedDatabase) {
    g_EngineDB.SetDBFilePath(zbw::ToWindowsPath(root.Path("missing/folder/ZBEngine.db")));
    EXPECT_FALSE(g_EngineDB.OpenDBFile());
    EXPECT_EQ(g_EngineDB.GetDBLastError(), CString(u"Cannot open file for reading and writing."));
    EXPECT_FALSE(g_EngineDB.BeginDBTransaction());
    EXPECT_FALSE(g_EngineDB.WriteDBValue(u"k", u"v")) << "no write is reported without a connection";
    EXPECT_TRUE(g_EngineDB.ReadDBValue(u"k").IsEmpty());
    EXPECT_FALSE(g_EngineDB.CommitDBTransaction());
}

TEST_F(EngineDBTest, FailedTransactionsLeaveTheDatabaseUsable) {
    ASSERT_TRUE(g_EngineDB.OpenDBFile());
    ASSERT_TRUE(g_EngineDB.BeginDBTransaction());
    EXPECT_TRUE(g_EngineDB.WriteDBValue(u"k", u"v"));
    EXPECT_TRUE(g_EngineDB.CommitDBTransaction());
    EXPECT_FALSE(g_EngineDB.CommitDBTransaction()) << "a commit without a transaction fails";
    EXPECT_FALSE(g_EngineDB.RollbackDBTransaction());
    EXPECT_TRUE(g_EngineDB.IsDBOpen());

    ASSERT_TRUE(g_EngineDB.BeginDBTransaction());
    EXPECT_TRUE(g_EngineDB.WriteDBValue(u"k", u"w"));
    EXPECT_FALSE(g_EngineDB.BeginDBTransaction()) << "no transaction inside a transaction";
    EXPECT_TRUE(g_EngineDB.WriteDBValue(u"k2", u"x")) << "the outer transaction goes on";
    EXPECT_TRUE(g_EngineDB.CommitDBTransaction());
    EXPECT_EQ(Read(u"k"), CString(u"w"));
    EXPECT_EQ(Read(u"k2"), CString(u"x"));

    ASSERT_TRUE(g_EngineDB.BeginDBTransaction());
    EXPECT_TRUE(g_EngineDB.WriteDBValue(u"k", u"undone"));
    EXPECT_TRUE(g_EngineDB.RollbackDBTransaction());
    EXPECT_EQ(Read(u"k"), CString(u"w"));
    EXPECT_TRUE(Write(u"k", u"after"));
    EXPECT_EQ(Read(u"k"), CString(u"after"));
}

// Threads that each run their own transactions never meet inside one.
TEST_F(EngineDBTest, TransactionsOfThreadsDoNotOverlap) {
    ASSERT_TRUE(g_EngineDB.OpenDBFile());
    const int kRounds = 40;
    std::atomic<int> failures{0};
    auto worker = [&](const char16_t* name) {
        for (int round = 0; round < kRounds; ++round) {
            CString key;
            key.Format(u"%s>%d", name, round);
            if (!g_EngineDB.BeginDBTransaction()) ++failures;
            if (!g_EngineDB.WriteDBValue(key, name) || g_EngineDB.ReadDBValue(key) != CString(name))
                ++failures;
            if (!g_EngineDB.CommitDBTransaction()) ++failures;
        }
    };
    std::thread other(worker, u"other");
    worker(u"main");
    other.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(Read(u"other>39"), CString(u"other"));
    EXPECT_EQ(Read(u"main>39"), CString(u"main"));
}

TEST_F(EngineDBTest, BackupIsCopiedAMinuteLaterAtMostEveryHalfHour) {
    ASSERT_TRUE(g_EngineDB.OpenDBFile());
    ASSERT_TRUE(AdvanceUntil([] { return !g_EngineDB.IsBackupPending(); }));
    zbw::AdvanceClock(1800001);
    const int64_t decided = zbw::TickNow64();
    EXPECT_TRUE(Write(u"k", u"v"));
    EXPECT_TRUE(g_EngineDB.IsBackupPending());
    std::string bak = hostPath + ".bak";
    const int64_t laterWrite = decided + 1200000;
    ASSERT_TRUE(AdvanceUntil([&] { return !g_EngineDB.IsBackupPending(); }, laterWrite));
    // The newest commits lie in the write-ahead log until a checkpoint: compare what is stored.
    EXPECT_EQ(StoredRows(bak), StoredRows(hostPath));
    EXPECT_EQ(StoredRows(bak)["k"], "v");

    unlink(bak.c_str());
    zbw::AdvanceClock(std::max<int64_t>(0, laterWrite - zbw::TickNow64()));  // 20 minutes on
    EXPECT_TRUE(Write(u"k", u"w"));
    EXPECT_FALSE(g_EngineDB.IsBackupPending()) << "no second decision within 30 minutes";

    zbw::AdvanceClock(1800001);
    EXPECT_EQ(Read(u"k"), CString(u"w"));
    EXPECT_TRUE(g_EngineDB.IsBackupPending());
    g_EngineDB.CloseDBFile();
    ASSERT_TRUE(AdvanceUntil([] { return !g_EngineDB.IsBackupPending(); }));
    EXPECT_TRUE(ReadHostFile(bak).empty()) << "closing drops the pending copy";
}

TEST_F(EngineDBTest, LargeFileIsNotBackedUp) {
    ASSERT_TRUE(g_EngineDB.OpenDBFile());
    ASSERT_TRUE(AdvanceUntil([] { return !g_EngineDB.IsBackupPending(); }));
    ASSERT_TRUE(g_EngineDB.BeginDBTransaction());
    CString value(u'v', 8192);
    for (int i = 0; i < 300; ++i) {
        CString key;
        key.Format(u"big>%d", i);
        ASSERT_TRUE(g_EngineDB.WriteDBValue(key, value));
    }
    ASSERT_TRUE(g_EngineDB.CommitDBTransaction());
    // Closing checkpoints the write-ahead log into the file.
    g_EngineDB.CloseDBFile();
    ASSERT_GE(ReadHostFile(hostPath).size(), 2000000u);
    ASSERT_TRUE(g_EngineDB.OpenDBFile());
    ASSERT_TRUE(AdvanceUntil([] { return !g_EngineDB.IsBackupPending(); }));
    zbw::AdvanceClock(1800001);
    EXPECT_TRUE(Write(u"k", u"v"));
    EXPECT_FALSE(g_EngineDB.IsBackupPending());
}

TEST_F(EngineDBTest, DatabaseIsInWalMode) {
    ASSERT_TRUE(g_EngineDB.OpenDBFile());
    EXPECT_TRUE(Write(u"k", u"v"));
    EXPECT_EQ(Query(hostPath, "PRAGMA journal_mode").count("wal"), 1u);
    EXPECT_FALSE(ReadHostFile(hostPath + "-wal").empty()) << "the commit went to the log";
    EXPECT_EQ(StoredRows(hostPath)["k"], "v") << "another connection sees the commit";
    g_EngineDB.CloseDBFile();
    EXPECT_EQ(StoredRows(hostPath)["k"], "v");
}

// Each transaction of the writer sets every key "w>i" to the same value: a copy that caught one
// half-way would hold two values.
TEST_F(EngineDBTest, BackupTakenWhileAnotherThreadWritesHoldsWholeTransactions) {
    ASSERT_TRUE(g_EngineDB.OpenDBFile());
    ASSERT_TRUE(AdvanceUntil([] { return !g_EngineDB.IsBackupPending(); }));
    const int kKeys = 20;
    auto writeRound = [&](int round) {
        CString value;
        value.Format(u"%d", round);
        value += CString(u'x', 2000);
        bool written = g_EngineDB.BeginDBTransaction();
        for (int i = 0; i < kKeys && written; ++i) {
            CString key;
            key.Format(u"w>%d", i);
            written = g_EngineDB.WriteDBValue(key, value);
        }
        return g_EngineDB.CommitDBTransaction() && written;
    };
    ASSERT_TRUE(writeRound(0));
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::atomic<int> failures{0};
    std::thread writer([&] {
        for (int round = 1; !stop; ++round) {
            if (!writeRound(round)) ++failures;
            rounds = round;
        }
    });
    const std::string bak = hostPath + ".bak";
    for (int backup = 0; backup < 4; ++backup) {
        SCOPED_TRACE(backup);
        unlink(bak.c_str());
        zbw::AdvanceClock(1800001);
        EXPECT_TRUE(Write(u"k", u"v"));
        ASSERT_TRUE(
            AdvanceUntil([&] { return !g_EngineDB.IsBackupPending() && !ReadHostFile(bak).empty(); }));
        EXPECT_EQ(Query(bak, "PRAGMA integrity_check").count("ok"), 1u);
        std::set<std::string> values;
        int keys = 0;
        for (const auto& [key, value] : StoredRows(bak)) {
            if (key.rfind("w>", 0) != 0) continue;
            ++keys;
            values.insert(value);
        }
        EXPECT_EQ(keys, kKeys);
        EXPECT_EQ(values.size(), 1u);
    }
    stop = true;
    writer.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(rounds.load(), 0);
}

TEST_F(EngineDBTest, OpenRecoversFromTheBackupCopyPastAStaleLog) {
    ASSERT_TRUE(g_EngineDB.OpenDBFile());
    ASSERT_TRUE(AdvanceUntil([] { return !g_EngineDB.IsBackupPending(); }));
    zbw::AdvanceClock(1800001);
    EXPECT_TRUE(Write(u"kept", u"value"));
    const std::string bak = hostPath + ".bak";
    ASSERT_TRUE(AdvanceUntil([&] { return !g_EngineDB.IsBackupPending(); }));
    ASSERT_EQ(StoredRows(bak)["kept"], "value");
    EXPECT_TRUE(Write(u"newer", u"lost"));
    g_EngineDB.CloseDBFile();

    // A log left beside the damaged file must not reach the restored copy: here one whose only
    // frame is the table's page of another database.
    const std::string other = root.Path("other.db");
    ASSERT_TRUE(Exec(other,
                     "PRAGMA journal_mode=WAL; CREATE TABLE main (key char(1024) UNIQUE, value char(8192));"
                     "INSERT INTO main VALUES ('kept', 'aaaaa'); PRAGMA wal_checkpoint(TRUNCATE);"));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA wal_autocheckpoint=0; UPDATE main SET value='stale' WHERE key='kept';",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const std::string staleLog = ReadHostFile(other + "-wal");
    sqlite3_close(db);
    ASSERT_FALSE(staleLog.empty());
    ASSERT_TRUE(WriteHostFile(hostPath + "-wal", staleLog));
    ASSERT_TRUE(WriteHostFile(hostPath, std::string(4096, 'Z')));

    ASSERT_TRUE(g_EngineDB.OpenDBFile()) << zbw::ToUtf8(g_EngineDB.GetDBLastError());
    EXPECT_EQ(Read(u"kept"), CString(u"value"));
    EXPECT_TRUE(Read(u"newer").IsEmpty()) << "written after the copy";
    EXPECT_TRUE(Write(u"after", u"works"));
    EXPECT_EQ(Read(u"after"), CString(u"works"));
}

}  // namespace
