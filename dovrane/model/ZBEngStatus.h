// CZBEngStatus: the engine's side of the synchronisation program's progress block
// "ZebrodyneProZBENG_<pid>" (9104 bytes): identification, caption, progress lines, the last
// error text and the count records TODO, DONE, COMS and COMT (common/SyncStatusBlocks.h).
//
// Attach makes (or opens) the block and adds the values that are missing with their initial
// contents, without waiting; PollID then reads "ID" once per call until the program has filled it
// and writes "1" into "CAPT" when it has, or when 61 reads found nothing. Open does both and
// waits for "ID", reading it up to 61 times one second apart.
// The block is written by another process and not trusted: every text is cut at its first zero
// and at its limit, and a record is copied only when the value holds all of it.
//
// Threads: the run item's thread (the engine's main thread), which attaches and polls from its
// timer; only Open blocks (for up to about a minute). The object owns its block object and deletes it in its
// destructor or at the next Open. Failures: a block that cannot be made is logged ("SharedMem %s creation
// failed."); the texts are then empty and the records stay untouched.
#pragma once

#include <memory>

#include "common/SharedMemory.h"
#include "common/SyncStatusBlocks.h"
#include "platform/base/CString.h"

class CZBEngStatus {
   public:
    static constexpr DWORD kBlockSize = kProgressBlockSize;
    static constexpr int kIdReads = 61;

    CZBEngStatus() = default;
    virtual ~CZBEngStatus() = default;
    CZBEngStatus(const CZBEngStatus&) = delete;
    CZBEngStatus& operator=(const CZBEngStatus&) = delete;

    // The block's name for a process identifier.
    static CString BlockName(DWORD processId);

    // True when a block object exists afterwards (usable or not).
    bool Open(DWORD processId);
    bool Attach(DWORD processId);
    // One read of "ID" while it is not known; true once it is (GetID), or once the reads are spent.
    bool PollID();

    CString GetCaption() { return GetString(SYNCSTATUS_CAPTION, 512); }
    CString GetLastError() { return GetString(SYNCSTATUS_LAST_ERROR, 512); }
    CString GetFile() { return GetString(SYNCSTATUS_FILE, 512); }
    CString GetLine1() { return GetString(SYNCSTATUS_LINE1, 256); }
    CString GetLine2() { return GetString(SYNCSTATUS_LINE2, 256); }
    CString GetLine3() { return GetString(SYNCSTATUS_LINE3, 256); }
    // The "ID" text read at Open.
    const CString& GetID() const { return m_strID; }

    // Copies "TODO"; false (buffer untouched) without a block or when the value cannot be read
    // whole.
    bool GetToDo(SYNCCOUNTS& todo) { return GetRecord(SYNCSTATUS_TODO, &todo, sizeof todo); }
    // Copies the first size bytes of a value ("DONE", "COMS", "COMT"); false as GetToDo.
    bool GetRecord(LPCWSTR name, void* buffer, DWORD size);

    CString GetString(LPCWSTR name, int maxChars);
    void SetString(LPCWSTR name, const CString& text, int maxChars);

   private:
    void AddMissingValues();

    std::unique_ptr<CSharedMemory> m_pBlock;
    CString m_strID;
    int m_nIdReads = 0;
};
