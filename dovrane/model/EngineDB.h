// CEngineDB: the engine's run-history database, one SQLite file with the key/value table
// "main", and g_EngineDB, its one instance.
//
// The engine start sets the path and opens it once (a damaged file is replaced by its ".bak"
// copy, then emptied). The SQLite connection stays open from then on until CloseDBFile, and the
// statements reads and writes use are prepared once on it. Every read, write and delete lies
// between BeginDBTransaction and CommitDBTransaction. The database is in WAL mode with
// synchronous=NORMAL: a commit does not wait for the disk, and a crash or power loss may lose the
// newest commits, never consistency.
//
// Threads: the main thread and the HTTP client threads use it. A transaction belongs to the
// thread that began it: BeginDBTransaction takes the database's lock and CommitDBTransaction or
// RollbackDBTransaction gives it back, so other threads wait for the whole transaction; single
// calls outside a transaction take the lock for themselves. A begin inside the thread's own
// transaction fails and leaves that transaction as it was. A failed begin or commit (a commit
// that fails is rolled back) leaves the database open: the next transaction may succeed. Without
// an open database writes fail and reads give empty texts. A failed write inside a transaction
// is undone with RollbackDBTransaction by callers that must not commit half a change.
//
// Keys are cut to 1024 and values to 8192 UTF-16 units and stored as UTF-8; binary values go
// through CDBBinaryCodec and the ANSI table. Literals are escaped with sqlite3_mprintf "%q".
// A read or write decides at most every 1,800,000 ms whether to copy the database to ".bak"; the
// copy is made by a below-normal thread one minute later and dropped if the database closes
// meanwhile; databases of 2,000,000 bytes or more are not copied. The thread copies through a
// connection of its own with SQLite's online backup API, so ".bak" holds one commit's state
// (never half a transaction) and the engine's writers do not wait for it; the copy is written
// beside ".bak" and renamed into place.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "dovrane/model/CppSQLite3DB.h"
#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

class CEngineDB {
   public:
    // Keys longer than this are cut.
    static constexpr int kMaxKeyUnits = 1024;

    CEngineDB() = default;
    CEngineDB(const CEngineDB&) = delete;
    CEngineDB& operator=(const CEngineDB&) = delete;
    ~CEngineDB();

    void SetDBFilePath(LPCWSTR path);
    const CString& GetDBFilePath() const { return m_strFilePath; }
    bool OpenDBFile();
    CString GetDBLastError() const { return m_strLastError; }
    void CloseDBFile();
    bool IsDBOpen() const { return m_bOpen.load(); }

    bool BeginDBTransaction();
    // False when the calling thread has no transaction or the commit failed (then undone).
    bool CommitDBTransaction();
    // Undoes the calling thread's transaction; the database stays open.
    bool RollbackDBTransaction();
    void InitDBTable();

    bool WriteDBValue(LPCWSTR key, LPCWSTR value);
    CString ReadDBValue(LPCWSTR key);
    bool WriteDBValueInt(LPCWSTR key, int value);
    int ReadDBValueInt(LPCWSTR key);
    bool WriteDBBinary(LPCWSTR key, const void* data, int length);
    void ReadDBBinary(LPCWSTR key, void* buffer, int length);
    // Every stored key that starts with prefix: what follows the prefix in the key, and the
    // value, both as stored (UTF-8), in key order (one statement for a whole history); empty
    // when nothing could be read. The prefix is cut as keys are.
    std::vector<std::pair<std::string, std::string>> ReadDBValuesUnder(LPCWSTR prefix);
    // What ReadDBBinary does with a value as stored: length bytes into buffer when the value
    // decodes to at least that many, else buffer untouched.
    static void DecodeDBBinary(const std::string& stored, void* buffer, int length);
    bool DeleteDBKeys(LPCWSTR pattern);
    void CreateDBBackup();

    // A text with "*", "?" and "[" each put into a one-character class, for GLOB patterns.
    static CString EscapeGlob(const CString& text);
    // Tests: whether a backup copy is decided and waiting or running.
    bool IsBackupPending() const;

    struct CBackupState;

   private:
    void OpenConnection();
    // Finalises the prepared statements, then closes the connection (SQLite undoes an open
    // transaction).
    void CloseConnection();
    // The statement, prepared on first use and ready to run.
    CppSQLite3Statement& Prepared(CppSQLite3Statement& statement, const char* sql);
    // Commits or rolls back, ends the transaction and gives back its lock.
    bool EndTransaction(bool commit);
    bool RecoverAfterInitFailure(const char* message, int& attempt);
    bool OpenFileObject();
    void CloseFileObject();
    bool TruncateFileObject();
    // Bytes of the database with what its write-ahead log holds; -1 when unknown.
    LONGLONG DatabaseSize();
    void StartBackupThread();

    // Guards everything below it; a transaction holds it once more from begin to end.
    std::recursive_mutex m_lock;
    int m_nTransactionDepth = 0;  // 1 while the lock's holder is inside a transaction
    CppSQLite3DB m_db;
    CppSQLite3Statement m_begin;
    CppSQLite3Statement m_commit;
    CppSQLite3Statement m_rollback;
    CppSQLite3Statement m_select;
    CppSQLite3Statement m_insert;
    CppSQLite3Statement m_selectFrom;
    CString m_strFilePath;
    int m_nBusyTimeoutMs = 60000;
    HANDLE m_hFile = nullptr;
    CString m_strLastError;
    std::atomic<bool> m_bOpen{false};
    DWORD m_dwLastBackupTick = 0;
    std::shared_ptr<CBackupState> m_backup;
};

extern CEngineDB g_EngineDB;
