// CppSQLite3Exception: the error the SQLite wrapper throws. Code and message; the message is
// always "<code name>[<code>]: <detail>". The wrapper's own errors use CPPSQLITE_ERROR (1000).
// Copyable; any thread. The detail text is copied, so the caller keeps ownership of it.
#pragma once

#include <string>

#define CPPSQLITE_ERROR 1000

class CppSQLite3Exception {
   public:
    CppSQLite3Exception(int errorCode, const char* detail);
    virtual ~CppSQLite3Exception() = default;

    int errorCode() const { return m_errorCode; }
    const char* errorMessage() const { return m_message.c_str(); }

    // The published name of a result code, "UNKNOWN_ERROR" for codes outside the table.
    static const char* errorCodeAsString(int errorCode);

   private:
    int m_errorCode;
    std::string m_message;
};
