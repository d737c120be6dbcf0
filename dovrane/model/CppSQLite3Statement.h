// CppSQLite3Statement: one statement prepared once on a CppSQLite3DB and run many times with
// new parameters (bound as UTF-8 texts). Owned by the object that holds the connection; movable,
// not copyable; finalised by the destructor or finalize(), which must come before the connection
// closes. Use it on the thread that holds the connection. Errors throw CppSQLite3Exception.
#pragma once

#include <string>

struct sqlite3;
struct sqlite3_stmt;

class CppSQLite3Statement {
   public:
    CppSQLite3Statement() = default;
    // Takes ownership of a prepared stmt.
    CppSQLite3Statement(sqlite3* db, sqlite3_stmt* stmt);
    CppSQLite3Statement(CppSQLite3Statement&& other) noexcept;
    CppSQLite3Statement& operator=(CppSQLite3Statement&& other) noexcept;
    CppSQLite3Statement(const CppSQLite3Statement&) = delete;
    CppSQLite3Statement& operator=(const CppSQLite3Statement&) = delete;
    virtual ~CppSQLite3Statement();

    bool isPrepared() const { return m_stmt != nullptr; }
    // Parameters count from 1; the text is copied.
    void bind(int param, const std::string& text);
    // Runs a statement that gives no rows; the number of rows it changed.
    int execDML();
    // Steps to the next row: true when there is one. The row's texts stay valid until the next
    // step or reset.
    bool queryRow();
    // The column's text of the current row; an empty text for SQL NULL.
    const char* fieldValue(int field) const;
    // Ready for the next run, parameters cleared.
    void reset();
    void finalize();

   private:
    void check() const;

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
};
