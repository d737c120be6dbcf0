// CEngineDB: the engine's run-history database, one SQLite file with the key/value table
// "main", and g_EngineDB, its one instance.
//
// The engine start sets the path and opens it once (a damaged file is replaced by its ".bak"
// copy, then emptied). Every read, write and delete lies between BeginDBTransaction and
// CommitDBTransaction, which open and close the SQLite connection, so SQLite holds the file
// only inside a transaction. There is no lock: callers serialise transactions. A failed begin or
// commit closes the database until the next OpenDBFile; writes then fail and reads give empty
// texts. A failed write inside a transaction is undone with RollbackDBTransaction by callers
// that must not commit half a change.
//
// Keys are cut to 1024 and values to 8192 UTF-16 units and stored as UTF-8; binary values go
// through CDBBinaryCodec and the ANSI table. Literals are escaped with sqlite3_mprintf "%q".
// A read or write decides at most every 1,800,000 ms whether to copy the file to ".bak"; the
// copy is made by a below-normal thread one minute later and dropped if the database closes
// meanwhile; files of 2,000,000 bytes or more are not copied.
#pragma once

#include <memory>

#include "dovrane/model/CppSQLite3DB.h"
#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

class CEngineDB {
   public:
    CEngineDB() = default;
    CEngineDB(const CEngineDB&) = delete;
    CEngineDB& operator=(const CEngineDB&) = delete;
    ~CEngineDB();

    void SetDBFilePath(LPCWSTR path);
    const CString& GetDBFilePath() const { return m_strFilePath; }
    bool OpenDBFile();
    CString GetDBLastError() const { return m_strLastError; }
    void CloseDBFile();
    bool IsDBOpen() const { return m_bOpen; }

    bool BeginDBTransaction();
    bool CommitDBTransaction();
    // Undoes the open transaction and closes the connection; the database stays open.
    bool RollbackDBTransaction();
    void InitDBTable();

    bool WriteDBValue(LPCWSTR key, LPCWSTR value);
    CString ReadDBValue(LPCWSTR key);
    bool WriteDBValueInt(LPCWSTR key, int value);
    int ReadDBValueInt(LPCWSTR key);
    bool WriteDBBinary(LPCWSTR key, const void* data, int length);
    void ReadDBBinary(LPCWSTR key, void* buffer, int length);
    bool DeleteDBKeys(LPCWSTR pattern);
    void CreateDBBackup();

    // A text with "*", "?" and "[" each put into a one-character class, for GLOB patterns.
    static CString EscapeGlob(const CString& text);
    // Tests: whether a backup copy is decided and waiting or running.
    bool IsBackupPending() const;

    struct CBackupState;

   private:
    bool RecoverAfterInitFailure(const char* message, int& attempt);
    bool OpenFileObject();
    void CloseFileObject();
    bool TruncateFileObject();
    LONGLONG FileObjectSize() const;
    void StartBackupThread();

    CString m_strFilePath;
    CppSQLite3DB m_db;
    int m_nBusyTimeoutMs = 60000;
    HANDLE m_hFile = nullptr;
    CString m_strLastError;
    bool m_bOpen = false;
    DWORD m_dwLastBackupTick = 0;
    std::shared_ptr<CBackupState> m_backup;
};

extern CEngineDB g_EngineDB;
