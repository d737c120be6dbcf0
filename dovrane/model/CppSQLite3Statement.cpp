#include "dovrane/model/CppSQLite3Statement.h"

#include <sqlite3.h>

#include <utility>

#include "dovrane/model/CppSQLite3Exception.h"

CppSQLite3Statement::CppSQLite3Statement(sqlite3* db, sqlite3_stmt* stmt) : m_db(db), m_stmt(stmt) {}

CppSQLite3Statement::CppSQLite3Statement(CppSQLite3Statement&& other) noexcept
    : m_db(other.m_db), m_stmt(std::exchange(other.m_stmt, nullptr)) {}

CppSQLite3Statement& CppSQLite3Statement::operator=(CppSQLite3Statement&& other) noexcept {
    if (this != &other) {
        if (m_stmt) sqlite3_finalize(m_stmt);
        m_db = other.m_db;
        m_stmt = std::exchange(other.m_stmt, nullptr);
    }
    return *this;
}

CppSQLite3Statement::~CppSQLite3Statement() {
    if (m_stmt) sqlite3_finalize(m_stmt);
}

void CppSQLite3Statement::check() const {
    if (!m_stmt) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Null Virtual Machine pointer");
}

void CppSQLite3Statement::bind(int param, const std::string& text) {
    check();
    int rc = sqlite3_bind_text(m_stmt, param, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(m_db));
}

int CppSQLite3Statement::execDML() {
    check();
    int rc = sqlite3_step(m_stmt);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::string detail = sqlite3_errmsg(m_db);
        sqlite3_reset(m_stmt);
        throw CppSQLite3Exception(rc, detail.c_str());
    }
    int changed = sqlite3_changes(m_db);
    reset();
    return changed;
}

bool CppSQLite3Statement::queryRow() {
    check();
    int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    std::string detail = sqlite3_errmsg(m_db);
    sqlite3_reset(m_stmt);
    throw CppSQLite3Exception(rc, detail.c_str());
}

const char* CppSQLite3Statement::fieldValue(int field) const {
    check();
    if (field < 0 || field >= sqlite3_column_count(m_stmt))
        throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid field index requested");
    const unsigned char* text = sqlite3_column_text(m_stmt, field);
    return text ? reinterpret_cast<const char*>(text) : "";
}

void CppSQLite3Statement::reset() {
    if (!m_stmt) return;
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

void CppSQLite3Statement::finalize() {
    if (!m_stmt) return;
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
}
