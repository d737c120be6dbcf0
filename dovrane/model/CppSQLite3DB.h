// CppSQLite3DB: one SQLite connection with a busy time-out, and the few statement calls the
// history database needs, and the online backup of the whole database into another file. SQL
// texts and file names are UTF-8; the caller escapes literals (sqlite3_mprintf "%q").
// Owned by one object and used by one thread at a time. Errors throw CppSQLite3Exception;
// calls without an open connection throw "Database not open". The destructor closes.
#pragma once

#include "dovrane/model/CppSQLite3Query.h"
#include "dovrane/model/CppSQLite3Statement.h"

struct sqlite3;

class CppSQLite3DB {
   public:
    CppSQLite3DB() = default;
    CppSQLite3DB(const CppSQLite3DB&) = delete;
    CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;
    virtual ~CppSQLite3DB();

    // Opens (creating when missing) the file at a UTF-8 path and applies the busy time-out.
    void open(const char* fileName);
    // Opens a file that must exist already (a missing one throws instead of being made).
    void openExisting(const char* fileName);
    void close();
    bool isOpen() const { return m_db != nullptr; }
    void setBusyTimeout(int ms);

    // Runs the statements; the number of rows changed by the last one.
    int execDML(const char* sql);
    CppSQLite3Query execQuery(const char* sql);
    // Prepares one statement with "?" parameters, to be run many times.
    CppSQLite3Statement compileStatement(const char* sql);
    // The integer of the first column of the first row.
    int execScalar(const char* sql);
    bool tableExists(const char* table);
    // Writes the whole database as of one commit into the file fileName (made when missing; a
    // file there must be a database or empty) with SQLite's online backup API, and has the copy
    // on disk when it returns. Other connections may write meanwhile: with the database in WAL
    // mode they do not wait for the copy. A copy cut short is no database to rely on, so the
    // caller writes to a temporary name and renames.
    void backupTo(const char* fileName);

   private:
    void openWith(const char* fileName, int flags);
    void checkDB() const;

    sqlite3* m_db = nullptr;
    int m_busyTimeoutMs = 60000;
};
