#include "platform/host/HiveDatabase.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/base/WideChar.h"
#include "platform/base/WinError.h"
#include "platform/host/EmulationRoot.h"
#include "platform/host/HiveText.h"
#include "platform/host/HostIds.h"
#include "platform/host/HostIo.h"

namespace {

const int64_t kRoot = 1;
const int kFormat = 1;
const int kBusyMilliseconds = 10000;
// Distinct keys remembered at once; more start the memory afresh.
const size_t kMaxLookups = 4096;

const char kSchema[] =
    "CREATE TABLE meta(name TEXT PRIMARY KEY, value INTEGER NOT NULL);"
    "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
    " fold BLOB NOT NULL, name BLOB NOT NULL);"
    "CREATE UNIQUE INDEX keys_by_name ON keys(parent, fold);"
    "CREATE INDEX keys_by_parent ON keys(parent);"
    "CREATE TABLE vals(id INTEGER PRIMARY KEY AUTOINCREMENT, key INTEGER NOT NULL,"
    " fold BLOB NOT NULL, name BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL);"
    "CREATE UNIQUE INDEX vals_by_name ON vals(key, fold);"
    "CREATE INDEX vals_by_key ON vals(key);"
    "INSERT INTO meta VALUES('format', 1);"
    "INSERT INTO keys(id, parent, fold, name) VALUES(1, 0, x'', x'');";

// Holds an exclusive flock on a file for one scope, when it can be taken.
class CFileLock {
   public:
    explicit CFileLock(const std::string& path) {
        m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        while (m_fd >= 0 && flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                close(m_fd);
                m_fd = -1;
            }
        }
    }
    ~CFileLock() {
        if (m_fd >= 0) close(m_fd);
    }
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;

   private:
    int m_fd = -1;
};

std::u16string Fold(const std::u16string& name) {
    std::u16string folded(name);
    for (char16_t& c : folded) c = zbw::ToUpper(c);
    return folded;
}

// Key names hold no backslash, so the joined names tell paths apart.
std::u16string FoldedPath(const CHiveDatabase::KEYPATH& path) {
    std::u16string joined;
    for (const std::u16string& name : path) joined += Fold(name) + u'\\';
    return joined;
}

void BindText16(sqlite3_stmt* stmt, int index, const std::u16string& text) {
    sqlite3_bind_blob(stmt, index, text.empty() ? "" : static_cast<const void*>(text.data()),
                      static_cast<int>(text.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
}

std::u16string ColumnText16(sqlite3_stmt* stmt, int column) {
    const void* bytes = sqlite3_column_blob(stmt, column);
    const size_t units = static_cast<size_t>(sqlite3_column_bytes(stmt, column)) / sizeof(char16_t);
    std::u16string text(units, u'\0');
    if (units) std::memcpy(text.data(), bytes, units * sizeof(char16_t));
    return text;
}

std::vector<BYTE> ColumnBytes(sqlite3_stmt* stmt, int column) {
    const BYTE* bytes = static_cast<const BYTE*>(sqlite3_column_blob(stmt, column));
    const int size = sqlite3_column_bytes(stmt, column);
    return bytes ? std::vector<BYTE>(bytes, bytes + size) : std::vector<BYTE>();
}

LONG ErrorOf(int sqliteCode, bool writing) {
    switch (sqliteCode & 0xFF) {
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB: return ERROR_BADDB;
        case SQLITE_READONLY:
        case SQLITE_PERM: return ERROR_ACCESS_DENIED;
        case SQLITE_FULL: return ERROR_DISK_FULL;
        case SQLITE_NOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        case SQLITE_CANTOPEN: return ERROR_CANTOPEN;
        default: return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
    }
}

// Names a host file by what changes when it is replaced or edited.
std::string FileIdentity(const struct stat& st) {
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) +
           ":" + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

}  // namespace

// A cached statement for one use: reset and unbound when the scope ends.
class CHiveDatabase::CStatement {
   public:
    CStatement(CHiveDatabase& db, const char* sql) : m_db(db), m_stmt(db.Statement(sql)) {}
    ~CStatement() {
        if (m_stmt) {
            sqlite3_reset(m_stmt);
            sqlite3_clear_bindings(m_stmt);
        }
    }
    CStatement(const CStatement&) = delete;
    CStatement& operator=(const CStatement&) = delete;

    sqlite3_stmt* operator*() const { return m_stmt; }
    CStatement& Bind(int index, int64_t value) {
        if (m_stmt) sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    CStatement& Bind(int index, const std::u16string& text) {
        if (m_stmt) BindText16(m_stmt, index, text);
        return *this;
    }
    CStatement& Bind(int index, const std::vector<BYTE>& bytes) {
        if (m_stmt)
            sqlite3_bind_blob(m_stmt, index, bytes.empty() ? "" : static_cast<const void*>(bytes.data()),
                              static_cast<int>(bytes.size()), SQLITE_STATIC);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() {
        return m_stmt ? sqlite3_step(m_stmt) : m_db.m_db ? sqlite3_errcode(m_db.m_db) : SQLITE_MISUSE;
    }
    // ERROR_SUCCESS when the statement ran to its end.
    LONG Run(bool writing) {
        int rc = Step();
        return rc == SQLITE_DONE || rc == SQLITE_ROW ? static_cast<LONG>(ERROR_SUCCESS)
                                                     : ErrorOf(rc, writing);
    }

   private:
    CHiveDatabase& m_db;
    sqlite3_stmt* m_stmt;
};

// One transaction: IMMEDIATE for a change, so that two writers never meet half-way; rolled back
// unless committed.
class CHiveDatabase::CTransaction {
   public:
    CTransaction(CHiveDatabase& db, bool write) : m_db(db), m_write(write) {
        CStatement begin(db, write ? "BEGIN IMMEDIATE" : "BEGIN");
        m_rc = begin.Run(write);
        m_open = m_rc == ERROR_SUCCESS;
        if (m_open && write) m_changesBefore = sqlite3_total_changes64(db.m_db);
    }
    ~CTransaction() {
        if (m_open) CStatement(m_db, "ROLLBACK").Run(m_write);
    }
    CTransaction(const CTransaction&) = delete;
    CTransaction& operator=(const CTransaction&) = delete;

    LONG Begun() const { return m_rc; }
    LONG Commit() {
        LONG rc = CStatement(m_db, "COMMIT").Run(m_write);
        if (rc == ERROR_SUCCESS) m_open = false;
        if (rc == ERROR_SUCCESS && m_write && sqlite3_total_changes64(m_db.m_db) != m_changesBefore)
            m_db.MoveGeneration();
        return rc;
    }

   private:
    CHiveDatabase& m_db;
    bool m_write;
    bool m_open = false;
    LONG m_rc = ERROR_SUCCESS;
    int64_t m_changesBefore = 0;
};

CHiveDatabase::CHiveDatabase(std::string folder) : m_folder(std::move(folder)) {}

CHiveDatabase::~CHiveDatabase() {
    if (m_pid == zbw::HostProcessId()) Close();
}

sqlite3_stmt* CHiveDatabase::Statement(const char* sql) {
    if (!m_db) return nullptr;
    auto it = m_statements.find(sql);
    if (it != m_statements.end()) return it->second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK)
        return nullptr;
    m_statements[sql] = stmt;
    return stmt;
}

void CHiveDatabase::Close() {
    for (auto& entry : m_statements) sqlite3_finalize(entry.second);
    m_statements.clear();
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_inMemory = false;
    m_valueCursor = CURSOR();
    m_keyCursor = CURSOR();
    UnmapGeneration();
}

void CHiveDatabase::MapGeneration() {
    UnmapGeneration();
    const int fd = open((m_folder + "/registry.gen").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return;
    struct stat st {};
    void* at = MAP_FAILED;
    // Every process that finds the file short grows it to the same zeroes.
    if (fstat(fd, &st) == 0 &&
        (st.st_size >= static_cast<off_t>(sizeof(uint64_t)) || ftruncate(fd, sizeof(uint64_t)) == 0))
        at = mmap(nullptr, sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (at == MAP_FAILED) return;
    m_generation = static_cast<std::atomic<uint64_t>*>(at);
}

void CHiveDatabase::UnmapGeneration() {
    if (m_generation && m_generation != &m_ownGeneration) munmap(m_generation, sizeof(uint64_t));
    m_generation = nullptr;
    m_lookups.clear();
}

uint64_t CHiveDatabase::Generation() const {
    return m_generation ? m_generation->load(std::memory_order_acquire) : 0;
}

void CHiveDatabase::MoveGeneration() {
    if (m_generation) m_generation->fetch_add(1, std::memory_order_acq_rel);
}

const CHiveDatabase::LOOKUP* CHiveDatabase::Remembered(const std::u16string& foldedPath) {
    if (!m_generation || m_stale) return nullptr;
    if (Generation() != m_lookupsGeneration) {
        m_lookups.clear();
        return nullptr;
    }
    auto it = m_lookups.find(foldedPath);
    return it == m_lookups.end() ? nullptr : &it->second;
}

void CHiveDatabase::Remember(const std::u16string& foldedPath, uint64_t generation, LOOKUP lookup) {
    if (!m_generation) return;
    if (generation != m_lookupsGeneration || m_lookups.size() >= kMaxLookups) {
        m_lookups.clear();
        m_lookupsGeneration = generation;
    }
    m_lookups.emplace(foldedPath, std::move(lookup));
}

LONG CHiveDatabase::Unreadable(const std::string& what) {
    if (!m_reported) {
        std::fprintf(stderr, "The registry is unreadable: %s; its calls fail with ERROR_BADDB.\n",
                     what.c_str());
        m_reported = true;
    }
    return ERROR_BADDB;
}

LONG CHiveDatabase::Ready() {
    if (m_db && m_pid != zbw::HostProcessId()) {
        // A child after fork: the connection is the parent's and must not be touched here.
        m_statements.clear();
        m_db = nullptr;
    }
    if (m_stale) Close();
    m_stale = false;
    const std::string path = m_folder + "/registry.db";
    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    if (m_db) {
        // An in-memory hive lasts while the folder cannot be written.
        const bool current = exists ? !m_inMemory && st.st_dev == m_dev && st.st_ino == m_ino
                                    : m_inMemory && access(m_folder.c_str(), W_OK) != 0;
        if (current) return ERROR_SUCCESS;
        Close();
    }
    if (exists) return OpenFile(st);
    if (!zbw::MakeHostDirs(m_folder) || access(m_folder.c_str(), W_OK) != 0) return OpenInMemory();

    return MakeDatabase();
}

// Makes the database (bringing a text hive over) under the lock, unless another process just did.
LONG CHiveDatabase::MakeDatabase() {
    const std::string path = m_folder + "/registry.db";
    CFileLock lock(m_folder + "/registry.hive.lock");
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) return OpenFile(st);
    const std::string fresh = path + ".new";
    bool imported = false;
    LONG rc = BuildDatabase(fresh, &imported);
    Close();
    if (rc == ERROR_SUCCESS && rename(fresh.c_str(), path.c_str()) != 0) rc = ERROR_CANTWRITE;
    if (rc != ERROR_SUCCESS) {
        unlink(fresh.c_str());
        return rc;
    }
    const std::string text = m_folder + "/registry.hive";
    if (imported) rename(text.c_str(), (text + ".imported").c_str());
    if (stat(path.c_str(), &st) != 0) return ERROR_CANTOPEN;
    rc = OpenFile(st);
    // Whatever other processes remember of a database that was here before is gone.
    if (rc == ERROR_SUCCESS) MoveGeneration();
    return rc;
}

LONG CHiveDatabase::OpenFile(const struct stat& st) {
    const std::string path = m_folder + "/registry.db";
    m_pid = zbw::HostProcessId();
    int rc = sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        Close();
        return ErrorOf(rc, false);
    }
    sqlite3_busy_timeout(m_db, kBusyMilliseconds);
    LONG result = Configure();
    if (result != ERROR_SUCCESS) {
        Close();
        return result == ERROR_BADDB ? Unreadable(path + " is not a registry database") : result;
    }
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    MapGeneration();
    return ERROR_SUCCESS;
}

LONG CHiveDatabase::OpenInMemory() {
    bool imported = false;
    LONG rc = BuildDatabase(":memory:", &imported);
    if (rc != ERROR_SUCCESS) {
        Close();
        return rc;
    }
    m_inMemory = true;
    m_generation = &m_ownGeneration;  // no other process sees this hive
    return ERROR_SUCCESS;
}

// Checks the format; for a file, also WAL mode and its sync level.
// Checks the format before anything could write to the file; then WAL mode and its sync level
// (both leave a read-only database as it is).
LONG CHiveDatabase::Configure() {
    {
        CStatement format(*this, "SELECT value FROM meta WHERE name='format'");
        const int rc = format.Step();
        if (rc == SQLITE_DONE || !*format) return ERROR_BADDB;  // no such table: not a hive
        if (rc != SQLITE_ROW) return ErrorOf(rc, false);
        if (sqlite3_column_int(*format, 0) != kFormat) return ERROR_BADDB;
    }
    CStatement(*this, "PRAGMA journal_mode=WAL").Step();
    CStatement(*this, "PRAGMA synchronous=NORMAL").Step();
    return ERROR_SUCCESS;
}

// Makes a database at `path` with the schema and, when there is one, the text hive brought over,
// all in one transaction. Leaves it open.
LONG CHiveDatabase::BuildDatabase(const std::string& path, bool* imported) {
    *imported = false;
    std::string text;
    std::string identity;
    LONG rc = ReadText(&text, &identity);
    const bool hasText = rc == ERROR_SUCCESS;
    if (!hasText && rc != ERROR_FILE_NOT_FOUND) return rc;
    if (path != ":memory:") {
        // Leftovers of a killed process; a journal of an older file must not touch the new one.
        for (const char* suffix : {"", "-journal", "-wal", "-shm"}) unlink((path + suffix).c_str());
    }
    m_pid = zbw::HostProcessId();
    const int opened = sqlite3_open_v2(
        path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK) return ErrorOf(opened, true);
    CTransaction transaction(*this, true);
    if (transaction.Begun() != ERROR_SUCCESS) return transaction.Begun();
    const int made = sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr);
    if (made != SQLITE_OK) return ErrorOf(made, true);
    if (hasText) {
        rc = Import(text);
        if (rc == ERROR_BADDB) m_refusedText = identity;
        if (rc != ERROR_SUCCESS) return rc;
    }
    rc = transaction.Commit();
    *imported = hasText && rc == ERROR_SUCCESS;
    return rc;
}

// The text hive and what names its version; ERROR_FILE_NOT_FOUND when there is none, ERROR_BADDB
// when this version was refused before.
LONG CHiveDatabase::ReadText(std::string* text, std::string* identity) {
    const int fd = open((m_folder + "/registry.hive").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND : ERROR_CANTREAD;
    struct stat st {};
    const bool known = fstat(fd, &st) == 0;
    if (known) *identity = FileIdentity(st);
    const bool refused = known && *identity == m_refusedText;  // and logged before
    const bool read = known && !refused && zbw::ReadAll(fd, *text);
    close(fd);
    if (refused) return ERROR_BADDB;
    return read ? ERROR_SUCCESS : ERROR_CANTREAD;
}

LONG CHiveDatabase::Import(const std::string& text) {
    // The previous key line's path: ids from the root down and the folded names below it, so a
    // run of keys under one parent costs one look-up each.
    std::vector<int64_t> ids{kRoot};
    std::vector<std::u16string> folds;
    LONG rc = ERROR_SUCCESS;
    auto onKey = [&](const KEYPATH& path) -> std::string {
        if (path.size() > kMaxDepth) return "a key deeper than 512 levels";
        size_t same = 0;
        while (same < path.size() && same < folds.size() && Fold(path[same]) == folds[same]) ++same;
        ids.resize(same + 1);
        folds.resize(same);
        for (size_t i = same; i < path.size(); ++i) {
            if (path[i].size() > kMaxKeyName) return "a key name longer than 255 characters";
            int64_t id = 0;
            rc = FindChild(ids.back(), path[i], &id, nullptr);
            if (rc == ERROR_FILE_NOT_FOUND) rc = AddChild(ids.back(), path[i], &id);
            if (rc != ERROR_SUCCESS) return "the database refused a key";
            ids.push_back(id);
            folds.push_back(Fold(path[i]));
        }
        return std::string();
    };
    auto onValue = [&](const CHiveText::VALUE& value) -> std::string {
        rc = PutValue(ids.back(), VALUE{value.name, value.type, value.data});
        return rc == ERROR_SUCCESS ? std::string() : "the database refused a value";
    };
    const std::string refusal = CHiveText::Read(text, onKey, onValue);
    if (rc != ERROR_SUCCESS) return rc;
    if (!refusal.empty()) return Unreadable(m_folder + "/registry.hive: " + refusal);
    return ERROR_SUCCESS;
}

bool CHiveDatabase::Writable() {
    return !m_readOnly && !m_inMemory && !sqlite3_db_readonly(m_db, "main") &&
           access((m_folder + "/registry.db").c_str(), W_OK) == 0;
}

bool CHiveDatabase::IsWritable() {
    std::lock_guard<std::mutex> guard(m_lock);
    return Ready() == ERROR_SUCCESS && Writable();
}

LONG CHiveDatabase::FindChild(int64_t parent, const std::u16string& name, int64_t* id,
                              std::u16string* stored) {
    CStatement find(*this, "SELECT id, name FROM keys WHERE parent=?1 AND fold=?2");
    find.Bind(1, parent).Bind(2, Fold(name));
    int rc = find.Step();
    if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW) return ErrorOf(rc, false);
    *id = sqlite3_column_int64(*find, 0);
    if (stored) *stored = ColumnText16(*find, 1);
    return ERROR_SUCCESS;
}

LONG CHiveDatabase::AddChild(int64_t parent, const std::u16string& name, int64_t* id) {
    CStatement add(*this, "INSERT INTO keys(parent, fold, name) VALUES(?1, ?2, ?3)");
    LONG rc = add.Bind(1, parent).Bind(2, Fold(name)).Bind(3, name).Run(true);
    if (rc == ERROR_SUCCESS) *id = sqlite3_last_insert_rowid(m_db);
    return rc;
}

LONG CHiveDatabase::PutValue(int64_t key, const VALUE& value) {
    CStatement put(*this,
                   "INSERT INTO vals(key, fold, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
                   " ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data");
    return put.Bind(1, key)
        .Bind(2, Fold(value.name))
        .Bind(3, value.name)
        .Bind(4, static_cast<int64_t>(value.type))
        .Bind(5, value.data)
        .Run(true);
}

LONG CHiveDatabase::Resolve(const KEYPATH& path, size_t known, int64_t* id, KEYPATH* stored, size_t* found) {
    int64_t at = kRoot;
    if (stored) stored->clear();
    for (size_t i = 0; i < path.size(); ++i) {
        int64_t next = 0;
        std::u16string name;
        LONG rc = FindChild(at, path[i], &next, stored ? &name : nullptr);
        if (rc == ERROR_FILE_NOT_FOUND) {
            *id = at;
            *found = i;
            return i < known ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
        }
        if (rc != ERROR_SUCCESS) return rc;
        if (stored) stored->push_back(std::move(name));
        at = next;
    }
    *id = at;
    *found = path.size();
    return ERROR_SUCCESS;
}

int64_t CHiveDatabase::Stamp() {
    // Other connections' commits move data_version, this one's the change count.
    CStatement version(*this, "PRAGMA data_version");
    const int64_t other = version.Step() == SQLITE_ROW ? sqlite3_column_int64(*version, 0) : -1;
    return other < 0 ? -1 : (other << 32) ^ sqlite3_total_changes64(m_db);
}

// The row of the index-th child of `parent` in the order made; continues from the cursor when the
// caller walks on, else counts from the start.
LONG CHiveDatabase::Nth(const char* fromRow, const char* byOffset, int64_t parent, DWORD index,
                        CURSOR& cursor, int64_t* row) {
    const int64_t stamp = Stamp();
    const bool onward = stamp >= 0 && stamp == cursor.stamp && parent == cursor.parent &&
                        (index == cursor.index || index == cursor.index + 1);
    CStatement next(*this, onward ? fromRow : byOffset);
    next.Bind(1, parent);
    if (onward) {
        next.Bind(2, index == cursor.index ? cursor.row - 1 : cursor.row);
    } else {
        next.Bind(2, static_cast<int64_t>(index));
    }
    int rc = next.Step();
    if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW) return ErrorOf(rc, false);
    *row = sqlite3_column_int64(*next, 0);
    cursor = CURSOR{parent, index, *row, stamp};
    return ERROR_SUCCESS;
}

// A corrupt database is dropped at the next call, which opens it afresh.
LONG CHiveDatabase::Finish(LONG rc) {
    if (rc != ERROR_BADDB) return rc;
    m_stale = true;
    return Unreadable(m_folder + "/registry.db is corrupt");
}

LONG CHiveDatabase::FindKey(const KEYPATH& path, size_t known, KEYPATH* stored) {
    std::lock_guard<std::mutex> guard(m_lock);
    const std::u16string folded = FoldedPath(path);
    const LOOKUP* lookup = Remembered(folded);
    LOOKUP made;
    if (!lookup) {
        LONG rc = Ready();
        if (rc != ERROR_SUCCESS) return rc;
        // Read before the lookup: a change committed after this moves it on.
        const uint64_t generation = Generation();
        CTransaction transaction(*this, false);
        if (transaction.Begun() != ERROR_SUCCESS) return Finish(transaction.Begun());
        int64_t id = 0;
        made.rc = Finish(Resolve(path, 0, &id, &made.stored, &made.found));
        if (made.rc != ERROR_SUCCESS && made.rc != ERROR_FILE_NOT_FOUND) return made.rc;
        Remember(folded, generation, made);
        lookup = &made;
    }
    *stored = lookup->stored;
    if (lookup->rc == ERROR_FILE_NOT_FOUND && lookup->found < known) return ERROR_KEY_DELETED;
    return lookup->rc;
}

LONG CHiveDatabase::CreateKey(const KEYPATH& path, size_t known, bool mayCreate, KEYPATH* stored,
                              bool* created) {
    *created = false;
    for (const std::u16string& name : path) {
        if (name.size() > kMaxKeyName) return ERROR_INVALID_PARAMETER;
    }
    if (path.size() > kMaxDepth) return ERROR_FILENAME_EXCED_RANGE;
    std::lock_guard<std::mutex> guard(m_lock);
    LONG rc = Ready();
    if (rc != ERROR_SUCCESS) return rc;
    const bool writable = Writable();
    CTransaction transaction(*this, writable);
    if (transaction.Begun() != ERROR_SUCCESS) return Finish(transaction.Begun());
    int64_t id = 0;
    size_t found = 0;
    rc = Resolve(path, known, &id, stored, &found);
    if (rc == ERROR_SUCCESS) return Finish(transaction.Commit());
    if (rc != ERROR_FILE_NOT_FOUND) return Finish(rc);
    if (!mayCreate || !writable) return ERROR_ACCESS_DENIED;
    for (size_t i = found; i < path.size(); ++i) {
        rc = AddChild(id, path[i], &id);
        if (rc != ERROR_SUCCESS) return Finish(rc);
        stored->push_back(path[i]);
    }
    rc = transaction.Commit();
    *created = rc == ERROR_SUCCESS;
    return Finish(rc);
}

LONG CHiveDatabase::DeleteKey(const KEYPATH& path, size_t known) {
    if (path.empty()) return ERROR_ACCESS_DENIED;
    std::lock_guard<std::mutex> guard(m_lock);
    LONG rc = Ready();
    if (rc != ERROR_SUCCESS) return rc;
    const bool writable = Writable();
    CTransaction transaction(*this, writable);
    if (transaction.Begun() != ERROR_SUCCESS) return Finish(transaction.Begun());
    int64_t id = 0;
    size_t found = 0;
    rc = Resolve(path, known, &id, nullptr, &found);
    if (rc != ERROR_SUCCESS) return Finish(rc);
    CStatement child(*this, "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1");
    int step = child.Bind(1, id).Step();
    if (step == SQLITE_ROW) return ERROR_ACCESS_DENIED;
    if (step != SQLITE_DONE) return Finish(ErrorOf(step, false));
    if (!writable) return ERROR_ACCESS_DENIED;
    rc = CStatement(*this, "DELETE FROM vals WHERE key=?1").Bind(1, id).Run(true);
    if (rc == ERROR_SUCCESS) rc = CStatement(*this, "DELETE FROM keys WHERE id=?1").Bind(1, id).Run(true);
    if (rc == ERROR_SUCCESS) rc = transaction.Commit();
    return Finish(rc);
}

LONG CHiveDatabase::GetValue(const KEYPATH& key, const std::u16string& name, VALUE* value) {
    std::lock_guard<std::mutex> guard(m_lock);
    LONG rc = Ready();
    if (rc != ERROR_SUCCESS) return rc;
    CTransaction transaction(*this, false);
    if (transaction.Begun() != ERROR_SUCCESS) return Finish(transaction.Begun());
    int64_t id = 0;
    size_t found = 0;
    rc = Resolve(key, key.size(), &id, nullptr, &found);
    if (rc != ERROR_SUCCESS) return Finish(rc);
    CStatement get(*this, "SELECT name, type, data FROM vals WHERE key=?1 AND fold=?2");
    int step = get.Bind(1, id).Bind(2, Fold(name)).Step();
    if (step == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (step != SQLITE_ROW) return Finish(ErrorOf(step, false));
    value->name = ColumnText16(*get, 0);
    value->type = static_cast<DWORD>(sqlite3_column_int64(*get, 1));
    value->data = ColumnBytes(*get, 2);
    return ERROR_SUCCESS;
}

LONG CHiveDatabase::SetValue(const KEYPATH& key, const VALUE& value) {
    std::lock_guard<std::mutex> guard(m_lock);
    LONG rc = Ready();
    if (rc != ERROR_SUCCESS) return rc;
    const bool writable = Writable();
    CTransaction transaction(*this, writable);
    if (transaction.Begun() != ERROR_SUCCESS) return Finish(transaction.Begun());
    int64_t id = 0;
    size_t found = 0;
    rc = Resolve(key, key.size(), &id, nullptr, &found);
    if (rc != ERROR_SUCCESS) return Finish(rc);
    if (!writable) return ERROR_ACCESS_DENIED;
    rc = PutValue(id, value);
    if (rc == ERROR_SUCCESS) rc = transaction.Commit();
    return Finish(rc);
}

LONG CHiveDatabase::DeleteValue(const KEYPATH& key, const std::u16string& name) {
    std::lock_guard<std::mutex> guard(m_lock);
    LONG rc = Ready();
    if (rc != ERROR_SUCCESS) return rc;
    const bool writable = Writable();
    CTransaction transaction(*this, writable);
    if (transaction.Begun() != ERROR_SUCCESS) return Finish(transaction.Begun());
    int64_t id = 0;
    size_t found = 0;
    rc = Resolve(key, key.size(), &id, nullptr, &found);
    if (rc != ERROR_SUCCESS) return Finish(rc);
    CStatement find(*this, "SELECT id FROM vals WHERE key=?1 AND fold=?2");
    int step = find.Bind(1, id).Bind(2, Fold(name)).Step();
    if (step == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (step != SQLITE_ROW) return Finish(ErrorOf(step, false));
    if (!writable) return ERROR_ACCESS_DENIED;
    const int64_t row = sqlite3_column_int64(*find, 0);
    rc = CStatement(*this, "DELETE FROM vals WHERE id=?1").Bind(1, row).Run(true);
    if (rc == ERROR_SUCCESS) rc = transaction.Commit();
    return Finish(rc);
}

LONG CHiveDatabase::EnumValue(const KEYPATH& key, DWORD index, VALUE* value) {
    std::lock_guard<std::mutex> guard(m_lock);
    LONG rc = Ready();
    if (rc != ERROR_SUCCESS) return rc;
    CTransaction transaction(*this, false);
    if (transaction.Begun() != ERROR_SUCCESS) return Finish(transaction.Begun());
    int64_t id = 0;
    size_t found = 0;
    rc = Resolve(key, key.size(), &id, nullptr, &found);
    int64_t row = 0;
    if (rc == ERROR_SUCCESS)
        rc = Nth("SELECT id FROM vals WHERE key=?1 AND id>?2 ORDER BY id LIMIT 1",
                 "SELECT id FROM vals WHERE key=?1 ORDER BY id LIMIT 1 OFFSET ?2", id, index, m_valueCursor,
                 &row);
    if (rc != ERROR_SUCCESS) return Finish(rc);
    CStatement get(*this, "SELECT name, type, data FROM vals WHERE id=?1");
    int step = get.Bind(1, row).Step();
    if (step != SQLITE_ROW) return Finish(ErrorOf(step, false));
    value->name = ColumnText16(*get, 0);
    value->type = static_cast<DWORD>(sqlite3_column_int64(*get, 1));
    value->data = ColumnBytes(*get, 2);
    return ERROR_SUCCESS;
}

LONG CHiveDatabase::EnumKey(const KEYPATH& key, DWORD index, std::u16string* name) {
    std::lock_guard<std::mutex> guard(m_lock);
    LONG rc = Ready();
    if (rc != ERROR_SUCCESS) return rc;
    CTransaction transaction(*this, false);
    if (transaction.Begun() != ERROR_SUCCESS) return Finish(transaction.Begun());
    int64_t id = 0;
    size_t found = 0;
    rc = Resolve(key, key.size(), &id, nullptr, &found);
    int64_t row = 0;
    if (rc == ERROR_SUCCESS)
        rc = Nth("SELECT id FROM keys WHERE parent=?1 AND id>?2 ORDER BY id LIMIT 1",
                 "SELECT id FROM keys WHERE parent=?1 ORDER BY id LIMIT 1 OFFSET ?2", id, index, m_keyCursor,
                 &row);
    if (rc != ERROR_SUCCESS) return Finish(rc);
    CStatement get(*this, "SELECT name FROM keys WHERE id=?1");
    int step = get.Bind(1, row).Step();
    if (step != SQLITE_ROW) return Finish(ErrorOf(step, false));
    *name = ColumnText16(*get, 0);
    return ERROR_SUCCESS;
}

LONG CHiveDatabase::QueryInfo(const KEYPATH& key, KEYINFO* info) {
    std::lock_guard<std::mutex> guard(m_lock);
    LONG rc = Ready();
    if (rc != ERROR_SUCCESS) return rc;
    CTransaction transaction(*this, false);
    if (transaction.Begun() != ERROR_SUCCESS) return Finish(transaction.Begun());
    int64_t id = 0;
    size_t found = 0;
    rc = Resolve(key, key.size(), &id, nullptr, &found);
    if (rc != ERROR_SUCCESS) return Finish(rc);
    CStatement keys(*this, "SELECT count(*), coalesce(max(length(name)), 0) FROM keys WHERE parent=?1");
    int step = keys.Bind(1, id).Step();
    if (step != SQLITE_ROW) return Finish(ErrorOf(step, false));
    info->subkeys = static_cast<DWORD>(sqlite3_column_int64(*keys, 0));
    info->maxSubkeyName = static_cast<DWORD>(sqlite3_column_int64(*keys, 1) / 2);
    CStatement values(*this,
                      "SELECT count(*), coalesce(max(length(name)), 0), coalesce(max(length(data)), 0)"
                      " FROM vals WHERE key=?1");
    step = values.Bind(1, id).Step();
    if (step != SQLITE_ROW) return Finish(ErrorOf(step, false));
    info->values = static_cast<DWORD>(sqlite3_column_int64(*values, 0));
    info->maxValueName = static_cast<DWORD>(sqlite3_column_int64(*values, 1) / 2);
    info->maxValueData = static_cast<DWORD>(sqlite3_column_int64(*values, 2));
    return ERROR_SUCCESS;
}

FILETIME CHiveDatabase::LastWriteTime() const {
    // A commit writes the WAL file, a checkpoint the database itself.
    timespec latest{};
    for (const char* suffix : {"", "-wal"}) {
        struct stat st {};
        if (stat((m_folder + "/registry.db" + suffix).c_str(), &st) != 0) continue;
        if (st.st_mtim.tv_sec > latest.tv_sec ||
            (st.st_mtim.tv_sec == latest.tv_sec && st.st_mtim.tv_nsec > latest.tv_nsec))
            latest = st.st_mtim;
    }
    FILETIME time{0, 0};
    if (latest.tv_sec == 0 && latest.tv_nsec == 0) return time;
    // 100 ns units since 1601; the Unix epoch is 11644473600 s later.
    const uint64_t t = (static_cast<uint64_t>(latest.tv_sec) + 11644473600ull) * 10000000ull +
                       static_cast<uint64_t>(latest.tv_nsec) / 100;
    time.dwLowDateTime = static_cast<DWORD>(t);
    time.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return time;
}
