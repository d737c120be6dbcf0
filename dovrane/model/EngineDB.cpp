#include "dovrane/model/EngineDB.h"

#include <sqlite3.h>

#include <cstring>
#include <mutex>
#include <string>

#include "common/DebugPrintf.h"
#include "dovrane/model/CppSQLite3Exception.h"
#include "dovrane/model/DBBinaryCodec.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/host/KernelObject.h"
#include "platform/host/PathMap.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Thread.h"
#include "platform/win32/Wait.h"

CEngineDB g_EngineDB __attribute__((init_priority(103)));

// Shared with the backup thread, which may outlive a closed (or destroyed) database object.
struct CEngineDB::CBackupState {
    std::mutex lock;
    CString source = u"0";  // "0": no backup pending
    HANDLE event = nullptr;
    bool waiting = false;
};

namespace {

const int kMaxValueUnits = 8192;
const int kMappedBytes = 256 * 1024 * 1024;
const DWORD kBackupIntervalMs = 1800000;
const LONGLONG kBackupSizeLimit = 2000000;
const DWORD kBackupDelayMs = 60000;
const int kBackupPathUnits = 2048;
const int kBackupBusyMs = 5000;

// Cuts to at most n units without leaving half a surrogate pair.
CString CutUnits(LPCWSTR text, int n) {
    CString cut(text);
    if (cut.GetLength() <= n) return cut;
    cut = cut.Left(n);
    if (zbw::IsHighSurrogate(cut[n - 1])) cut = cut.Left(n - 1);
    return cut;
}

// An SQL statement with its %q arguments escaped; throws when out of memory.
template <class... A>
std::string Statement(const char* format, A... args) {
    char* sql = sqlite3_mprintf(format, args...);
    if (!sql) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Cannot allocate memory");
    std::string text = sql;
    sqlite3_free(sql);
    return text;
}

std::string AnsiBytes(const CString& text) {
    int length = text.GetLength();
    if (length == 0) return std::string();
    std::string bytes(static_cast<size_t>(length) * 2, '\0');
    int written = WideCharToMultiByte(CP_ACP, 0, text, length, bytes.data(), static_cast<int>(bytes.size()),
                                      nullptr, nullptr);
    bytes.resize(written > 0 ? written : 0);
    return bytes;
}

// The ANSI bytes of stored UTF-8 (binary values were stored as ANSI text), decoded in one pass
// instead of a round trip through UTF-16. False, for the slow way, when a character is not one
// or two or three bytes long or has no ANSI byte.
bool AnsiFromUtf8(const std::string& utf8, std::string& bytes) {
    // Never longer than the UTF-8; written by index, since this runs for every stored record.
    bytes.resize(utf8.size());
    size_t written = 0;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 0;
        if (length == 0 || i + length > utf8.size()) return false;
        char32_t ch = length == 1 ? lead : length == 2 ? (lead & 0x1F) : (lead & 0x0F);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            ch = (ch << 6) | (next & 0x3F);
        }
        char byte = static_cast<char>(ch);
        const bool latin1 = ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF);  // the table's identity part
        if (!latin1 && !zbw::WideToAnsi(static_cast<char16_t>(ch), &byte)) return false;
        bytes[written++] = byte;
        i += length;
    }
    bytes.resize(written);
    return true;
}

void DecodeBinary(const std::string& encoded, void* buffer, int length) {
    if (encoded.empty() || length <= 0) return;
    try {
        CDBBinaryCodec codec;
        codec.setEncoded(encoded);
        const std::vector<unsigned char>& bytes = codec.getBinary();
        if (static_cast<int>(bytes.size()) >= length)
            std::memcpy(buffer, bytes.data(), static_cast<size_t>(length));
    } catch (const CppSQLite3Exception&) {
    }
}

// A copy of the database as of one commit, written beside the ".bak" copy and renamed into its
// place, so that ".bak" is always a whole database (or the previous one).
bool WriteBackupCopy(const CString& source, const CString& destination) {
    const CString written = destination + u".tmp";
    DeleteFileW(written);
    try {
        CppSQLite3DB db;
        db.setBusyTimeout(kBackupBusyMs);
        db.openExisting(zbw::ToHostPath(source).c_str());
        db.backupTo(zbw::ToHostPath(written).c_str());
    } catch (const CppSQLite3Exception&) {
        DeleteFileW(written);
        return false;
    }
    if (MoveFileExW(written, destination, MOVEFILE_REPLACE_EXISTING)) return true;
    DeleteFileW(written);
    return false;
}

DWORD RunBackup(std::shared_ptr<CEngineDB::CBackupState> state) {
    HANDLE event;
    {
        std::lock_guard<std::mutex> guard(state->lock);
        event = state->event;
        state->waiting = true;
    }
    DWORD waited = WaitForSingleObject(event, kBackupDelayMs);
    CString source;
    {
        std::lock_guard<std::mutex> guard(state->lock);
        state->waiting = waited == WAIT_TIMEOUT;
        source = state->source;
    }
    if (waited == WAIT_TIMEOUT) {
        CString destination = source + u".bak";
        const bool copied = WriteBackupCopy(source, destination);
        if (WaitForSingleObject(event, 1000) == WAIT_TIMEOUT) {
            g_DebugPrintf.Print(copied ? u"Created backup db file %s" : u"Unable to create backup db file %s",
                                destination);
        }
    }
    std::lock_guard<std::mutex> guard(state->lock);
    state->waiting = false;
    CloseHandle(state->event);
    state->event = nullptr;
    state->source = u"0";
    return 0;
}

}  // namespace

CEngineDB::~CEngineDB() {
    CloseDBFile();
    CloseConnection();
}

void CEngineDB::SetDBFilePath(LPCWSTR path) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_strFilePath = path;
}

bool CEngineDB::OpenFileObject() {
    m_hFile = CreateFileW(m_strFilePath, GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_hFile == INVALID_HANDLE_VALUE) m_hFile = nullptr;
    return m_hFile != nullptr;
}

void CEngineDB::CloseFileObject() {
    if (m_hFile) CloseHandle(m_hFile);
    m_hFile = nullptr;
}

bool CEngineDB::TruncateFileObject() {
    if (!m_hFile && !OpenFileObject()) return false;
    return SetFilePointer(m_hFile, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(m_hFile);
}

LONGLONG CEngineDB::DatabaseSize() {
    try {
        return static_cast<LONGLONG>(m_db.execScalar("PRAGMA page_count")) *
               m_db.execScalar("PRAGMA page_size");
    } catch (const CppSQLite3Exception&) {
        return -1;
    }
}

bool CEngineDB::OpenDBFile() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_bOpen) CloseDBFile();
    if (!OpenFileObject()) {
        m_strLastError = u"Cannot open file for reading and writing.";
        return false;
    }
    m_bOpen = true;
    int attempt = 0;
    for (;;) {
        if (!BeginDBTransaction()) {
            CloseDBFile();
            return false;
        }
        std::string message;
        try {
            InitDBTable();
            return CommitDBTransaction();
        } catch (const CppSQLite3Exception& e) {
            message = e.errorMessage();
        }
        CommitDBTransaction();
        if (!RecoverAfterInitFailure(message.c_str(), attempt)) return false;
    }
}

// One step of recovery after the table could not be read or made; false when giving up.
bool CEngineDB::RecoverAfterInitFailure(const char* message, int& attempt) {
    CloseConnection();  // SQLite must not keep pages of the file that is replaced under it
    CString backupPath = m_strFilePath + u".bak";
    CString text = zbw::FromUtf8(message);
    if (attempt == 0) {
        g_DebugPrintf.Print(u"File %s is invalid: %s, recovering using file %s", m_strFilePath, text,
                            backupPath);
        CopyFileW(backupPath, m_strFilePath, FALSE);
    } else if (attempt == 1) {
        g_DebugPrintf.Print(u"Unable to recover file %s: %s, re-setting database...", backupPath, text);
        TruncateFileObject();
    } else {
        CloseDBFile();
        m_strLastError = u"Cannot init database file.";
        return false;
    }
    ++attempt;
    if (!m_hFile) OpenFileObject();
    m_bOpen = true;
    return true;
}

void CEngineDB::CloseDBFile() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!m_bOpen) return;
    m_bOpen = false;
    CloseConnection();
    // A transaction of this thread that was still open is over: give back its hold on the lock.
    for (; m_nTransactionDepth > 0; --m_nTransactionDepth) m_lock.unlock();
    if (m_backup) {
        std::lock_guard<std::mutex> backupGuard(m_backup->lock);
        if (m_backup->event) SetEvent(m_backup->event);
    }
    CloseFileObject();
}

void CEngineDB::OpenConnection() {
    m_nBusyTimeoutMs = 60000;
    m_db.setBusyTimeout(m_nBusyTimeoutMs);
    m_db.open(zbw::ToHostPath(m_strFilePath).c_str());
    // Histories are read from the mapped file instead of being copied page by page.
    m_db.execDML(Statement("PRAGMA mmap_size=%d;", kMappedBytes).c_str());
    // A commit appends to the write-ahead log without waiting for the disk; a crash may lose the
    // newest runs but leaves the database whole. A damaged file fails here: the table check that
    // follows finds it and recovers.
    try {
        m_db.execDML("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    } catch (const CppSQLite3Exception&) {
    }
}

void CEngineDB::CloseConnection() {
    for (CppSQLite3Statement* statement :
         {&m_begin, &m_commit, &m_rollback, &m_select, &m_insert, &m_selectFrom})
        statement->finalize();
    m_db.close();
}

CppSQLite3Statement& CEngineDB::Prepared(CppSQLite3Statement& statement, const char* sql) {
    if (statement.isPrepared())
        statement.reset();
    else
        statement = m_db.compileStatement(sql);
    return statement;
}

bool CEngineDB::BeginDBTransaction() {
    m_lock.lock();
    if (m_bOpen && m_nTransactionDepth == 0) {
        try {
            if (!m_db.isOpen()) OpenConnection();
            Prepared(m_begin, "begin transaction;").execDML();
            m_nTransactionDepth = 1;
            return true;
        } catch (const CppSQLite3Exception&) {
        }
    }
    m_lock.unlock();
    return false;
}

bool CEngineDB::CommitDBTransaction() {
    return EndTransaction(true);
}

bool CEngineDB::RollbackDBTransaction() {
    return EndTransaction(false);
}

bool CEngineDB::EndTransaction(bool commit) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    // Holding the lock, a transaction found here is the calling thread's own.
    if (m_nTransactionDepth == 0) return false;
    bool done = false;
    try {
        if (commit) Prepared(m_commit, "commit transaction;").execDML();
        done = true;
    } catch (const CppSQLite3Exception&) {
    }
    if (!commit || !done) {
        try {
            Prepared(m_rollback, "rollback transaction;").execDML();
            done = !commit;
        } catch (const CppSQLite3Exception&) {
            done = false;
        }
    }
    m_nTransactionDepth = 0;
    m_lock.unlock();
    return done;
}

void CEngineDB::InitDBTable() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!m_db.tableExists("main"))
        m_db.execDML(
            Statement("CREATE TABLE main (key char(%d) UNIQUE, value char(%d))", kMaxKeyUnits, kMaxValueUnits)
                .c_str());
    CppSQLite3Query query = m_db.execQuery("SELECT key FROM main WHERE key='<eof>'");
    if (query.eof()) {
        query.finalize();
        m_db.execDML(Statement("INSERT INTO main VALUES ('%q', '%q')", "<eof>", "<eof>").c_str());
    }
    query.finalize();
}

bool CEngineDB::WriteDBValue(LPCWSTR key, LPCWSTR value) {
    if (!key || !*key) return false;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    bool written = false;
    try {
        CppSQLite3Statement& insert = Prepared(m_insert, "INSERT OR REPLACE INTO main VALUES (?, ?)");
        insert.bind(1, zbw::ToUtf8(CutUnits(key, kMaxKeyUnits)));
        insert.bind(2, zbw::ToUtf8(CutUnits(value ? value : u"", kMaxValueUnits)));
        insert.execDML();
        written = true;
    } catch (const CppSQLite3Exception&) {
    }
    CreateDBBackup();
    return written;
}

CString CEngineDB::ReadDBValue(LPCWSTR key) {
    if (!key || !*key) return CString();
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    CString result;
    try {
        CppSQLite3Statement& select = Prepared(m_select, "SELECT value FROM main WHERE key=?");
        select.bind(1, zbw::ToUtf8(CutUnits(key, kMaxKeyUnits)));
        if (select.queryRow()) result = zbw::FromUtf8(select.fieldValue(0));
        select.reset();
    } catch (const CppSQLite3Exception&) {
        result.Empty();
    }
    CreateDBBackup();
    return result;
}

bool CEngineDB::WriteDBValueInt(LPCWSTR key, int value) {
    CString text;
    text.Format(u"%d", value);
    return WriteDBValue(key, text);
}

int CEngineDB::ReadDBValueInt(LPCWSTR key) {
    std::string text = zbw::ToUtf8(ReadDBValue(key));
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

bool CEngineDB::WriteDBBinary(LPCWSTR key, const void* data, int length) {
    CDBBinaryCodec codec;
    codec.setBinary(static_cast<const unsigned char*>(data), length);
    const std::string& encoded = codec.getEncoded();
    return WriteDBValue(key, CString(encoded.c_str(), static_cast<int>(encoded.size())));
}

std::vector<std::pair<std::string, std::string>> CEngineDB::ReadDBValuesUnder(LPCWSTR prefix) {
    std::vector<std::pair<std::string, std::string>> rows;
    if (!prefix || !*prefix) return rows;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    try {
        const std::string from = zbw::ToUtf8(CutUnits(prefix, kMaxKeyUnits));
        // Keys compare bytewise, so those with the prefix follow each other from it on.
        CppSQLite3Statement& select =
            Prepared(m_selectFrom, "SELECT key, value FROM main WHERE key >= ? ORDER BY key");
        select.bind(1, from);
        for (bool row = select.queryRow(); row; row = select.queryRow()) {
            const char* key = select.fieldValue(0);
            if (std::strncmp(key, from.c_str(), from.size()) != 0) break;
            rows.emplace_back(key + from.size(), select.fieldValue(1));
        }
        select.reset();
    } catch (const CppSQLite3Exception&) {
        rows.clear();
    }
    CreateDBBackup();
    return rows;
}

void CEngineDB::ReadDBBinary(LPCWSTR key, void* buffer, int length) {
    DecodeBinary(AnsiBytes(ReadDBValue(key)), buffer, length);
}

void CEngineDB::DecodeDBBinary(const std::string& stored, void* buffer, int length) {
    std::string encoded;
    if (!AnsiFromUtf8(stored, encoded)) encoded = AnsiBytes(zbw::FromUtf8(stored));
    DecodeBinary(encoded, buffer, length);
}

bool CEngineDB::DeleteDBKeys(LPCWSTR pattern) {
    if (!pattern || !*pattern) return false;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    try {
        std::string utf8 = zbw::ToUtf8(CutUnits(pattern, kMaxKeyUnits));
        m_db.execDML(Statement("DELETE FROM MAIN WHERE key GLOB '%q'", utf8.c_str()).c_str());
        return true;
    } catch (const CppSQLite3Exception&) {
        return false;
    }
}

CString CEngineDB::EscapeGlob(const CString& text) {
    CString escaped;
    for (int i = 0; i < text.GetLength(); ++i) {
        char16_t ch = text[i];
        if (ch == u'*' || ch == u'?' || ch == u'[') {
            escaped += u'[';
            escaped += ch;
            escaped += u']';
        } else {
            escaped += ch;
        }
    }
    return escaped;
}

bool CEngineDB::IsBackupPending() const {
    if (!m_backup) return false;
    std::lock_guard<std::mutex> guard(m_backup->lock);
    return m_backup->source != u"0";
}

void CEngineDB::CreateDBBackup() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    DWORD now = GetTickCount();
    if (m_dwLastBackupTick != 0 && m_dwLastBackupTick <= now &&
        now <= static_cast<ULONGLONG>(m_dwLastBackupTick) + kBackupIntervalMs)
        return;
    m_dwLastBackupTick = now;
    if (DatabaseSize() >= kBackupSizeLimit) {
        g_DebugPrintf.Print(u"Skipping creation of backup db file, file too big");
        return;
    }
    StartBackupThread();
}

void CEngineDB::StartBackupThread() {
    if (!m_backup) m_backup = std::make_shared<CBackupState>();
    {
        std::lock_guard<std::mutex> guard(m_backup->lock);
        if (m_backup->source != u"0" || m_backup->event) return;
        m_backup->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!m_backup->event) return;
        m_backup->source = CutUnits(m_strFilePath, kBackupPathUnits - 5);
    }
    std::shared_ptr<CBackupState> state = m_backup;
    HANDLE thread = zbw::SpawnThread([state] { return RunBackup(state); }, 0, {});
    if (!thread) {
        g_DebugPrintf.Print(u"Unable to create thread for backing up db file");
        std::lock_guard<std::mutex> guard(m_backup->lock);
        CloseHandle(m_backup->event);
        m_backup->event = nullptr;
        m_backup->source = u"0";
        return;
    }
    SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL);
    CloseHandle(thread);
}
