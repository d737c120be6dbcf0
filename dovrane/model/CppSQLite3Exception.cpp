#include "dovrane/model/CppSQLite3Exception.h"

#include <sqlite3.h>

namespace {

const char* const kCodeNames[] = {
    "SQLITE_OK",       "SQLITE_ERROR",   "SQLITE_INTERNAL", "SQLITE_PERM",     "SQLITE_ABORT",
    "SQLITE_BUSY",     "SQLITE_LOCKED",  "SQLITE_NOMEM",    "SQLITE_READONLY", "SQLITE_INTERRUPT",
    "SQLITE_IOERR",    "SQLITE_CORRUPT", "SQLITE_NOTFOUND", "SQLITE_FULL",     "SQLITE_CANTOPEN",
    "SQLITE_PROTOCOL", "SQLITE_EMPTY",   "SQLITE_SCHEMA",   "SQLITE_TOOBIG",   "SQLITE_CONSTRAINT",
    "SQLITE_MISMATCH", "SQLITE_MISUSE",  "SQLITE_NOLFS",    "SQLITE_AUTH",     "SQLITE_FORMAT",
    "SQLITE_RANGE"};

}  // namespace

CppSQLite3Exception::CppSQLite3Exception(int errorCode, const char* detail) : m_errorCode(errorCode) {
    char* text = sqlite3_mprintf("%s[%d]: %s", errorCodeAsString(errorCode), errorCode, detail ? detail : "");
    m_message = text ? text : "";
    sqlite3_free(text);
}

const char* CppSQLite3Exception::errorCodeAsString(int errorCode) {
    if (errorCode >= 0 && errorCode < static_cast<int>(sizeof(kCodeNames) / sizeof(kCodeNames[0])))
        return kCodeNames[errorCode];
    switch (errorCode) {
        case SQLITE_ROW: return "SQLITE_ROW";
        case SQLITE_DONE: return "SQLITE_DONE";
        case CPPSQLITE_ERROR: return "CPPSQLITE_ERROR";
        default: return "UNKNOWN_ERROR";
    }
}
