// One registry hive kept in an SQLite database, shared by every process of the emulation root.
//
// The hive of a part of the root lives in <folder>/registry.db, in WAL mode: every change is one
// short transaction, seen at once by every process (each call reads the latest commit), and a
// killed process or a power loss leaves the last committed state (synchronous=NORMAL may lose
// the newest commits on power loss, never consistency). Keys and values sit in tables indexed by
// (parent, folded name): names compare without case (each UTF-16 unit through zbw::ToUpper) and
// keep the case they were made with; value names may hold any character, "\" included. Keys and
// values enumerate in the order they were made. Nothing walks the key tree recursively.
//
// Windows' limits hold: a key name has at most 255 characters (longer: ERROR_INVALID_PARAMETER)
// and a key is at most 512 levels below the hive root (deeper: ERROR_FILENAME_EXCED_RANGE).
//
// A hive file of the older text form (<folder>/registry.hive, HiveText.h) found while there is
// no database is brought over once, under a flock of <folder>/registry.hive.lock so that one
// process does it, into a new database renamed into place; the text file is then renamed to
// registry.hive.imported and kept. A text file that does not parse or breaks a limit is left
// as it is and the hive fails every call with ERROR_BADDB, as does a database SQLite finds
// corrupt; neither is ever written. Either is logged once to standard error. When the folder
// cannot be written and holds no database, the hive is read from the text file (or is empty)
// in memory, read-only.
//
// Keys are named by their path of names below the root; `known` says how many leading names
// belong to a key the caller holds open: a missing one there is ERROR_KEY_DELETED, one further
// down ERROR_FILE_NOT_FOUND. A change to a hive that is read-only (SetReadOnly, a file that
// cannot be written) fails with ERROR_ACCESS_DENIED. Other failures are Windows codes.
//
// Every process of the root moves a shared counter (<folder>/registry.gen, mapped) after it
// commits a change. While the counter stands still, a key looked up before is answered from
// memory, without a transaction: the engine opens the same few keys thousands of times.
//
// Thread-safe: calls on one object are serialised; the connection follows the file (reopened
// when the database file was replaced) and the process (a child after fork opens its own).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/base/WinTypes.h"

struct sqlite3;
struct sqlite3_stmt;

class CHiveDatabase {
   public:
    typedef std::vector<std::u16string> KEYPATH;
    struct VALUE {
        std::u16string name;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    // Counts and longest lengths (names in characters, data in bytes).
    struct KEYINFO {
        DWORD subkeys = 0;
        DWORD maxSubkeyName = 0;
        DWORD values = 0;
        DWORD maxValueName = 0;
        DWORD maxValueData = 0;
    };
    static const size_t kMaxKeyName = 255;
    static const size_t kMaxDepth = 512;

    // Nothing is opened before the first call.
    explicit CHiveDatabase(std::string folder);
    ~CHiveDatabase();
    CHiveDatabase(const CHiveDatabase&) = delete;
    CHiveDatabase& operator=(const CHiveDatabase&) = delete;

    const std::string& Folder() const { return m_folder; }
    void SetReadOnly(bool readOnly) { m_readOnly = readOnly; }
    bool IsWritable();

    // The stored names of an existing key.
    LONG FindKey(const KEYPATH& path, size_t known, KEYPATH* stored);
    // Makes the missing keys of the path when `mayCreate` (else ERROR_ACCESS_DENIED when one is
    // missing); `created` says whether any was made.
    LONG CreateKey(const KEYPATH& path, size_t known, bool mayCreate, KEYPATH* stored, bool* created);
    // Deletes a key without subkeys (ERROR_ACCESS_DENIED when it has some, or is the root).
    LONG DeleteKey(const KEYPATH& path, size_t known);

    // Calls on one key; a missing key is ERROR_KEY_DELETED.
    LONG GetValue(const KEYPATH& key, const std::u16string& name, VALUE* value);
    // An existing value keeps its name's case and its place in the order.
    LONG SetValue(const KEYPATH& key, const VALUE& value);
    LONG DeleteValue(const KEYPATH& key, const std::u16string& name);
    // ERROR_NO_MORE_ITEMS past the last. Walking the indexes in order costs one step each.
    LONG EnumValue(const KEYPATH& key, DWORD index, VALUE* value);
    LONG EnumKey(const KEYPATH& key, DWORD index, std::u16string* name);
    LONG QueryInfo(const KEYPATH& key, KEYINFO* info);
    // When the hive's files were last written; zero before there are any.
    FILETIME LastWriteTime() const;

   private:
    struct CURSOR {
        int64_t parent = 0;
        DWORD index = 0;
        int64_t row = 0;
        int64_t stamp = -1;
    };
    class CStatement;
    class CTransaction;

    LONG Ready();
    LONG OpenFile(const struct stat& st);
    LONG OpenInMemory();
    LONG MakeDatabase();
    LONG BuildDatabase(const std::string& path, bool* imported);
    LONG ReadText(std::string* text, std::string* identity);
    LONG Import(const std::string& text);
    LONG Configure();
    void Close();
    LONG Unreadable(const std::string& what);

    sqlite3_stmt* Statement(const char* sql);
    LONG Resolve(const KEYPATH& path, size_t known, int64_t* id, KEYPATH* stored, size_t* found);
    LONG FindChild(int64_t parent, const std::u16string& name, int64_t* id, std::u16string* stored);
    LONG AddChild(int64_t parent, const std::u16string& name, int64_t* id);
    LONG PutValue(int64_t key, const VALUE& value);
    int64_t Stamp();
    LONG Nth(const char* fromRow, const char* byOffset, int64_t parent, DWORD index, CURSOR& cursor,
             int64_t* row);
    LONG Finish(LONG rc);
    bool Writable();

    // A key lookup as Resolve made it with nothing known, remembered under the counter it was
    // made at.
    struct LOOKUP {
        LONG rc;
        size_t found;
        KEYPATH stored;
    };
    void MapGeneration();
    void UnmapGeneration();
    uint64_t Generation() const;
    void MoveGeneration();
    const LOOKUP* Remembered(const std::u16string& foldedPath);
    void Remember(const std::u16string& foldedPath, uint64_t generation, LOOKUP lookup);

    const std::string m_folder;
    std::atomic<bool> m_readOnly{false};
    std::mutex m_lock;
    sqlite3* m_db = nullptr;
    bool m_inMemory = false;
    bool m_stale = false;  // found corrupt: reopened at the next call
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    pid_t m_pid = 0;
    std::unordered_map<const char*, sqlite3_stmt*> m_statements;
    CURSOR m_valueCursor;
    CURSOR m_keyCursor;
    bool m_reported = false;
    std::string m_refusedText;  // version of a text hive already refused, not taken again
    // The shared counter; this process's own for an in-memory hive; none when it cannot be
    // mapped (then nothing is remembered).
    std::atomic<uint64_t>* m_generation = nullptr;
    std::atomic<uint64_t> m_ownGeneration{0};
    std::unordered_map<std::u16string, LOOKUP> m_lookups;
    uint64_t m_lookupsGeneration = 0;
};
