#include "common/DebugPrintf.h"

#include <string>

#include "common/SafeReplaceFile.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/classlib/StdioFile.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Thread.h"

// First in, last out: other globals may log while they are built and torn down.
CDebugPrintf g_DebugPrintf __attribute__((init_priority(101)));

namespace {

const int kMessageChars = 1024;

class CLock {
   public:
    explicit CLock(CRITICAL_SECTION& section) : m_section(section) { EnterCriticalSection(&m_section); }
    ~CLock() { LeaveCriticalSection(&m_section); }
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

   private:
    CRITICAL_SECTION& m_section;
};

CString LinePrefix(DWORD processId) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    DWORD ticks = GetTickCount();
    CString prefix;
    prefix.Format(u"%02d/%02d/%02d %02d:%02d:%02d [%d.%03d-PID:%d-%05d] ", now.wMonth, now.wDay, now.wYear,
                  now.wHour, now.wMinute, now.wSecond, ticks / 1000, ticks % 1000, processId,
                  GetCurrentThreadId());
    return prefix;
}

void WriteBytes(HANDLE file, const void* data, size_t bytes) {
    DWORD written = 0;
    WriteFile(file, data, static_cast<DWORD>(bytes), &written, nullptr);
}

void WriteUnits(HANDLE file, LPCWSTR text, int length) {
    WriteBytes(file, text, static_cast<size_t>(length) * sizeof(WCHAR));
}

// Whether offset is where a line starts: the file's start or just after an LF unit.
bool StartsLine(CStdioFile& file, ULONGLONG offset) {
    if (offset == 0) return true;
    unsigned char unit[2] = {};
    file.Seek(static_cast<LONGLONG>(offset) - 2, CFile::begin);
    bool afterLineEnd = file.Read(unit, 2) == 2 && unit[0] == '\n' && unit[1] == 0;
    file.Seek(static_cast<LONGLONG>(offset), CFile::begin);
    return afterLineEnd;
}

}  // namespace

CDebugPrintf::CDebugPrintf() : m_dwProcessId(GetCurrentProcessId()) {
    InitializeCriticalSection(&m_lock);
}

CDebugPrintf::~CDebugPrintf() {
    if (m_hFile) CloseHandle(m_hFile);
    m_hFile = nullptr;
    if (m_hMutex) CloseHandle(m_hMutex);  // never waited on, so never owned: nothing to release
    DeleteCriticalSection(&m_lock);
}

bool CDebugPrintf::Init(LPCWSTR fileName) {
    CLock lock(m_lock);
    if (m_hFile) return false;
    if (!m_hMutex) m_hMutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, u"RQTDebugMutex");
    // Append access: a line lands whole at the end even while another process writes the file.
    HANDLE file = CreateFileW(fileName, GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || !file) return false;
    m_hFile = file;
    m_strFileName = fileName;
    return true;
}

void CDebugPrintf::PrintArgs(LPCWSTR format, const zbw::CFormatArgs& args) {
    CLock lock(m_lock);
    WCHAR message[kMessageChars] = {};
    int length = wvsprintfW(message, format, args);
    CString prefix = LinePrefix(m_dwProcessId);
    if (m_hFile) {
        WriteLine(m_hFile, prefix, message, length);
        FlushFileBuffers(m_hFile);
        if (m_dwLimitKB != 0) LimitSize();
    }
    if (m_bConsoleEcho) Echo(prefix, message, length);
}

// One write per line, so that no other writer's line can come between its parts.
void CDebugPrintf::WriteLine(HANDLE file, const CString& prefix, LPCWSTR message, int length) {
    std::u16string line(prefix.GetString(), static_cast<size_t>(prefix.GetLength()));
    line.append(message, static_cast<size_t>(length));
    line += u"\r\n";
    WriteUnits(file, line.data(), static_cast<int>(line.size()));
}

void CDebugPrintf::Echo(const CString& prefix, LPCWSTR message, int length) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!m_bEchoAnsi) {
        WriteLine(out, prefix, message, length);
        return;
    }
    const DWORD flags = WC_COMPOSITECHECK | WC_SEPCHARS;
    std::string ansi;
    int bytes =
        length > 0 ? WideCharToMultiByte(CP_ACP, flags, message, length, nullptr, 0, nullptr, nullptr) : 0;
    ansi.resize(static_cast<size_t>(bytes));
    if (bytes > 0) WideCharToMultiByte(CP_ACP, flags, message, length, ansi.data(), bytes, nullptr, nullptr);
    ansi += "\r\n";
    WriteBytes(out, ansi.data(), ansi.size());
}

bool CDebugPrintf::LimitSize() {
    CLock lock(m_lock);
    if (!m_hFile || m_dwLimitKB == 0) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(m_hFile, &size)) return false;
    if (static_cast<ULONGLONG>(size.QuadPart) <= static_cast<ULONGLONG>(m_dwLimitKB) * 1024) return false;
    WCHAR tempFolder[MAX_PATH] = {};
    WCHAR tempName[MAX_PATH] = {};
    if (!GetTempPathW(MAX_PATH, tempFolder) || !GetTempFileNameW(tempFolder, u"~zb", 0, tempName)) {
        m_dwLimitKB = 0;
        return false;
    }
    CStdioFile temp;
    if (!temp.Open(tempName, CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) {
        m_dwLimitKB = 0;
        DeleteFileW(tempName);
        return false;
    }
    CloseHandle(m_hFile);
    m_hFile = nullptr;
    if (!CopyNewerHalf(temp, static_cast<ULONGLONG>(size.QuadPart)) ||
        !SafeReplaceFile(m_strFileName, tempName)) {
        m_dwLimitKB = 0;
        DeleteFileW(tempName);
    }
    CString name = m_strFileName;
    Init(name);
    return true;
}

bool CDebugPrintf::CopyNewerHalf(CStdioFile& temp, ULONGLONG size) {
    CStdioFile log;
    if (!log.Open(m_strFileName, CFile::modeRead | CFile::typeBinary)) return false;
    try {
        ULONGLONG half = size / 2 + (size / 2) % 2;
        CString line;
        if (!StartsLine(log, half)) log.ReadString(line);  // the rest of the line the middle cuts
        while (log.ReadString(line)) {
            line.Remove(u'\n');
            line.Remove(u'\r');
            line += u"\r\n";
            temp.WriteString(line);
        }
        temp.Close();
        log.Close();
    } catch (const CFileException&) {
        temp.Abort();
        return false;
    }
    return true;
}
