// CSharedMemory: a named, system-backed file mapping that holds a small directory of named
// values, through which processes of one machine exchange data by name. The engine command
// block (CommStatusMem.h) and the synchronisation program's status blocks are such blocks.
//
// Layout (little-endian): int32 value count at 0, int32 total size at 4, then the entries one
// after the other without padding: 40 UTF-16 units of zero-padded name (at most 39 characters),
// int32 data size, the data. A block made new is zero-filled and gets its size at offset 4; an
// existing block keeps its own size, whatever size the opener asks for. Values are never removed
// or resized; names compare exactly, unit by unit, and the first equal entry wins.
//
// Locking: every operation, creation and formatting included, runs under the named semaphore
// "<name>_Sync" (initial and maximum count 1, waited on without limit), so all processes that
// open the block serialise on it; no operation holds it across calls. A caller that changes
// several values together adds a lock of its own.
//
// Security: on the NT platform family the block and its semaphore get security attributes: a
// copy of the caller's, or by default a DACL granting 0x1FFFFF to Interactive, Local System and
// Service (inheritable attributes). The layer does not enforce them (Security.h).
//
// Failures: construction always yields an object; IsOpen says whether it may be used. Every
// operation returns FALSE on failure with the code in the object's last error and in the
// thread's: 4312 not open, 1743 name too long, 183 duplicate name, 14 no room for the entry,
// 24 zero size to SetValue, 8 data larger than the value, 2 value not found, 122 caller's buffer
// smaller than the value, 87 invalid caller security descriptor or argument. Entries come from
// other processes and are not trusted: a count, size or total that points past the block ends
// the walk there (a value behind it is not found; AddValue reports 14), and an existing block
// whose size field is below 8 or larger than its mapping is used with the size asked for when
// that fits, else refused.
//
// Threads: any thread may call the value operations; the object's last error is that of the
// latest call. The object owns its view, mapping handle, semaphore and security memory and
// releases them in its destructor; the block itself lives while any process holds a mapping.
#pragma once

#include <memory>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"
#include "platform/classlib/Object.h"
#include "platform/win32/Security.h"

class CSemaphore;

class CSharedMemory : public CObject {
   public:
    static constexpr DWORD kHeaderBytes = 8;
    static constexpr DWORD kNameChars = 40;
    static constexpr DWORD kEntryHeadBytes = 2 * kNameChars + 4;

    CSharedMemory(LPCWSTR name, DWORD size, LPSECURITY_ATTRIBUTES attributes = nullptr);
    ~CSharedMemory() override;
    CSharedMemory(const CSharedMemory&) = delete;
    CSharedMemory& operator=(const CSharedMemory&) = delete;

    // Appends a value of size bytes; without data its bytes stay as they are in the block.
    BOOL AddValue(LPCWSTR name, DWORD size, const void* data = nullptr);
    // Zeroes the value's whole data, then copies size bytes (1 .. the value's size) to its start.
    BOOL SetValue(LPCWSTR name, const void* data, DWORD size);
    // Sets *size to the value's size when found; with a buffer of at least that size (given in
    // *size) copies the whole value.
    BOOL GetValue(LPCWSTR name, void* buffer, DWORD* size);
    // The value as UTF-16 text: at most maxChars units, ending at its first zero; empty when the
    // value is missing. Reads no further than the text, so a long value costs what its text does.
    BOOL GetText(LPCWSTR name, DWORD maxChars, CString& text);
    // FALSE with 4312 when not open; else the result with last error 0.
    BOOL ValueExists(LPCWSTR name);

    BOOL IsOpen() const { return m_bOpen; }
    // TRUE when this object made the mapping, FALSE when it existed.
    BOOL IsCreated() const { return m_bCreated; }
    DWORD GetLastError() const { return m_dwLastError; }
    DWORD GetTotalSize() const { return m_dwTotalSize; }
    const CString& GetName() const { return m_strName; }
    // What the block was made with (null off the NT family), for companion objects.
    LPSECURITY_ATTRIBUTES GetSecurityAttributes() { return m_bNT ? &m_SecurityAttributes : nullptr; }

   private:
    // What one pass over the directory saw. Every field is read from the block once and
    // checked there; callers use these copies, never the block's bytes again, since another
    // process may change them at any moment.
    struct WALK {
        LONG count = 0;
        DWORD found = 0;      // offset of the first equal entry, 0 for none
        DWORD foundSize = 0;  // that entry's data size, checked to lie inside the block
        DWORD end = kHeaderBytes;
        bool whole = true;  // every counted entry lies inside the block
    };

    bool PrepareSecurity(LPSECURITY_ATTRIBUTES attributes);
    bool CopySecurity(LPSECURITY_ATTRIBUTES attributes);
    bool BuildDefaultSecurity();
    bool OpenMapping(LPCWSTR name, DWORD size);
    bool MapExisting(DWORD size);
    BYTE* MapBytes(DWORD bytes);

    DWORD Append(LPCWSTR name, DWORD size, const void* data);
    DWORD Store(LPCWSTR name, const void* data, DWORD size);
    DWORD Fetch(LPCWSTR name, void* buffer, DWORD* size) const;
    WALK Walk(LPCWSTR name) const;
    bool NameAt(DWORD entry, LPCWSTR name, size_t length) const;
    LONG Read32(DWORD offset) const;
    void Write32(DWORD offset, LONG value);

    // Stores code as the object's and the thread's last error; TRUE for 0.
    BOOL Finish(DWORD code);
    // Stores the thread's current last error; false.
    bool StoreSystemError();

    CString m_strName;
    DWORD m_dwLastError = 0;
    std::unique_ptr<CSemaphore> m_pSync;
    BOOL m_bCreated = FALSE;
    DWORD m_dwTotalSize = 0;
    BYTE* m_pView = nullptr;
    HANDLE m_hMapping = nullptr;
    BOOL m_bNT = FALSE;
    SECURITY_ATTRIBUTES m_SecurityAttributes{};
    SECURITY_DESCRIPTOR m_SecurityDescriptor{};
    PSID m_pSidInteractive = nullptr;
    PSID m_pSidSystem = nullptr;
    PSID m_pSidService = nullptr;
    std::unique_ptr<BYTE[]> m_pAcl;
    BOOL m_bOpen = FALSE;
};
