// CppSQLite3Query: the rows of one prepared statement, stepped by the wrapper.
// Owned by the caller of CppSQLite3DB::execQuery; movable, not copyable (the statement has one
// owner). Use it on the thread that holds the connection and only while the connection is open.
// Errors throw CppSQLite3Exception; the destructor finalises and swallows errors.
#pragma once

struct sqlite3;
struct sqlite3_stmt;

class CppSQLite3Query {
   public:
    CppSQLite3Query() = default;
    // Takes ownership of stmt, which has been stepped once; eof is that step's outcome.
    CppSQLite3Query(sqlite3* db, sqlite3_stmt* stmt, bool eof);
    CppSQLite3Query(CppSQLite3Query&& other) noexcept;
    CppSQLite3Query& operator=(CppSQLite3Query&& other) noexcept;
    CppSQLite3Query(const CppSQLite3Query&) = delete;
    CppSQLite3Query& operator=(const CppSQLite3Query&) = delete;
    virtual ~CppSQLite3Query();

    bool eof() const { return m_eof; }
    int numFields() const;
    // The column's text of the current row; an empty text for SQL NULL.
    const char* fieldValue(int field) const;
    void nextRow();
    void finalize();

   private:
    void checkStmt() const;
    void release() noexcept;

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
    bool m_eof = true;
    int m_cols = 0;
    bool m_ownStmt = false;
};
