#include "dovrane/model/CppSQLite3DB.h"

#include <sqlite3.h>

#include <cstdlib>
#include <string>

#include "dovrane/model/CppSQLite3Exception.h"

CppSQLite3DB::~CppSQLite3DB() {
    close();
}

void CppSQLite3DB::open(const char* fileName) {
    openWith(fileName, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

void CppSQLite3DB::openExisting(const char* fileName) {
    openWith(fileName, SQLITE_OPEN_READWRITE);
}

void CppSQLite3DB::openWith(const char* fileName, int flags) {
    close();
    int rc = sqlite3_open_v2(fileName, &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        std::string detail = m_db ? sqlite3_errmsg(m_db) : "";
        close();
        throw CppSQLite3Exception(rc, detail.c_str());
    }
    setBusyTimeout(m_busyTimeoutMs);
}

void CppSQLite3DB::close() {
    if (!m_db) return;
    sqlite3_close(m_db);
    m_db = nullptr;
}

void CppSQLite3DB::setBusyTimeout(int ms) {
    m_busyTimeoutMs = ms;
    if (m_db) sqlite3_busy_timeout(m_db, ms);
}

void CppSQLite3DB::checkDB() const {
    if (!m_db) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Database not open");
}

int CppSQLite3DB::execDML(const char* sql) {
    checkDB();
    char* error = nullptr;
    int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        std::string detail = error ? error : "";
        sqlite3_free(error);
        throw CppSQLite3Exception(rc, detail.c_str());
    }
    return sqlite3_changes(m_db);
}

CppSQLite3Query CppSQLite3DB::execQuery(const char* sql) {
    checkDB();
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr);
    if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(m_db));
    if (!stmt) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Null Virtual Machine pointer");
    rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        std::string detail = sqlite3_errmsg(m_db);
        sqlite3_finalize(stmt);
        throw CppSQLite3Exception(rc, detail.c_str());
    }
    return CppSQLite3Query(m_db, stmt, rc == SQLITE_DONE);
}

CppSQLite3Statement CppSQLite3DB::compileStatement(const char* sql) {
    checkDB();
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr);
    if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(m_db));
    if (!stmt) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Null Virtual Machine pointer");
    return CppSQLite3Statement(m_db, stmt);
}

int CppSQLite3DB::execScalar(const char* sql) {
    CppSQLite3Query query = execQuery(sql);
    if (query.eof() || query.numFields() < 1)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid scalar query");
    return std::atoi(query.fieldValue(0));
}

bool CppSQLite3DB::tableExists(const char* table) {
    char* sql = sqlite3_mprintf("select count(*) from sqlite_master where type='table' and name='%q'", table);
    if (!sql) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Cannot allocate memory");
    std::string text = sql;
    sqlite3_free(sql);
    return execScalar(text.c_str()) > 0;
}

void CppSQLite3DB::backupTo(const char* fileName) {
    checkDB();
    CppSQLite3DB copy;
    copy.open(fileName);
    // The copy is written once and renamed by the caller: no journal needed, one sync at the end.
    copy.execDML("PRAGMA journal_mode=OFF; PRAGMA synchronous=FULL;");
    sqlite3_backup* backup = sqlite3_backup_init(copy.m_db, "main", m_db, "main");
    if (!backup) throw CppSQLite3Exception(sqlite3_errcode(copy.m_db), sqlite3_errmsg(copy.m_db));
    // All pages in one step: one read transaction, so one commit's state. A lock on this
    // database is waited for up to the busy time-out.
    const int rc = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) throw CppSQLite3Exception(rc, sqlite3_errstr(rc));
    if (finished != SQLITE_OK) throw CppSQLite3Exception(finished, sqlite3_errmsg(copy.m_db));
}
