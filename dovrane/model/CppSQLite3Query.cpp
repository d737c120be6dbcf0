#include "dovrane/model/CppSQLite3Query.h"

#include <sqlite3.h>

#include <utility>

#include "dovrane/model/CppSQLite3Exception.h"

CppSQLite3Query::CppSQLite3Query(sqlite3* db, sqlite3_stmt* stmt, bool eof)
    : m_db(db), m_stmt(stmt), m_eof(eof), m_cols(sqlite3_column_count(stmt)), m_ownStmt(true) {}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& other) noexcept
    : m_db(other.m_db),
      m_stmt(std::exchange(other.m_stmt, nullptr)),
      m_eof(other.m_eof),
      m_cols(other.m_cols),
      m_ownStmt(std::exchange(other.m_ownStmt, false)) {}

CppSQLite3Query& CppSQLite3Query::operator=(CppSQLite3Query&& other) noexcept {
    if (this != &other) {
        release();
        m_db = other.m_db;
        m_stmt = std::exchange(other.m_stmt, nullptr);
        m_eof = other.m_eof;
        m_cols = other.m_cols;
        m_ownStmt = std::exchange(other.m_ownStmt, false);
    }
    return *this;
}

CppSQLite3Query::~CppSQLite3Query() {
    release();
}

void CppSQLite3Query::release() noexcept {
    if (m_stmt && m_ownStmt) sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    m_ownStmt = false;
}

void CppSQLite3Query::checkStmt() const {
    if (!m_stmt) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Null Virtual Machine pointer");
}

int CppSQLite3Query::numFields() const {
    checkStmt();
    return m_cols;
}

const char* CppSQLite3Query::fieldValue(int field) const {
    checkStmt();
    if (field < 0 || field >= m_cols)
        throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid field index requested");
    const unsigned char* text = sqlite3_column_text(m_stmt, field);
    return text ? reinterpret_cast<const char*>(text) : "";
}

void CppSQLite3Query::nextRow() {
    checkStmt();
    int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) {
        m_eof = false;
    } else if (rc == SQLITE_DONE) {
        m_eof = true;
    } else {
        throw CppSQLite3Exception(rc, sqlite3_errmsg(m_db));
    }
}

void CppSQLite3Query::finalize() {
    if (!m_stmt || !m_ownStmt) return;
    int rc = sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    m_ownStmt = false;
    if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(m_db));
}
