// CCommStatus: chooses, opens and holds the engine command block (CommStatusMem.h) and offers
// the operations of its users: the engine (command server) and the clients (console client,
// service, tray icon), which open the block for one test or one exchange and close it again.
//
// Names: on Windows Vista and later (emulated major version above 5) the machine-wide block
// "Global\DovraneCommStatusGlobal" or the session block "Local\DovraneCommStatusLocal"; before
// Vista "Global\DovraneCommStatus" when the event "Global\DovraneTest" can be made, else
// "DovraneCommStatus". Every name gets a security descriptor with a present, null DACL in
// non-inheritable attributes.
//
// Open on Vista and later: a client never keeps a block it made itself, so it uses the global
// block when one exists, else the local one when one exists, else none (and leaves no names
// behind); the engine uses a local block whose heartbeat is alive within 10000 ms (another
// engine in this session), else the global block, else the local one. Before Vista the block is
// made or opened without that test. The chosen block gets its missing values; a block this
// object made gets type 0 and " ". The engine logs "SharedMem %s creation failed." for a block
// it cannot open and "SeCreateGlobalPrivilege: privilege not enabled"; clients log nothing.
//
// The clients' exchange (ExchangeCommand): the count is read first, so that only a later answer
// counts; the command is written as COMMSTATUS_COMMAND; then the block is read every
// COMMSTATUS_CLIENT_POLL_MS until a read with a changed count shows COMMSTATUS_ANSWER (TRUE, with its
// text) or the time-out has passed (FALSE, answer empty).
//
// Without a block: SendCommand and SetTime do nothing, IsAlive, ReadCommand and ExchangeCommand
// report FALSE.
// Threads: one thread per object at a time; the version is read at construction.
#pragma once

#include <memory>

#include "common/CommStatusMem.h"
#include "platform/win32/Security.h"

#define COMMSTATUS_NAME_GLOBAL u"Global\\DovraneCommStatusGlobal"
#define COMMSTATUS_NAME_LOCAL u"Local\\DovraneCommStatusLocal"
#define COMMSTATUS_NAME_OLD_GLOBAL u"Global\\DovraneCommStatus"
#define COMMSTATUS_NAME_OLD u"DovraneCommStatus"
#define COMMSTATUS_TEST_EVENT u"Global\\DovraneTest"
#define COMMSTATUS_CLIENT_POLL_MS 10

class CCommStatus {
   public:
    // The engine's object (client flag 0), opened with Open.
    CCommStatus();
    // A client's object; opens the block at once unless defer is set.
    CCommStatus(BOOL client, BOOL defer);
    virtual ~CCommStatus();
    CCommStatus(const CCommStatus&) = delete;
    CCommStatus& operator=(const CCommStatus&) = delete;

    // Releases any block held, then chooses, makes or opens and initialises one.
    void Open();
    // Releases the block held (the names go with their last holder).
    void Close();
    BOOL IsOpen() const { return m_pMem != nullptr; }
    // The name of the block held; empty without one.
    CString GetName() const;

    void SendCommand(int type, LPCWSTR text);
    BOOL ReadCommand(int& type, CString& text);
    BOOL IsAlive(DWORD timeoutMs);
    // Writes command and waits up to timeoutMs for the engine's answer.
    BOOL ExchangeCommand(LPCWSTR command, DWORD timeoutMs, CString& answer);
    // The engine's heartbeat: writes tick into "time" (1 when its server stops).
    BOOL SetTime(DWORD tick);

    // Enables SeCreateGlobalPrivilege in the process token; TRUE when the adjustment reports
    // no error.
    static BOOL EnableGlobalPrivilege();

   private:
    void OpenVista();
    void OpenBeforeVista();
    std::unique_ptr<CCommStatusMem> MakeBlock(LPCWSTR name);
    // Open, and not a block that this client made itself.
    bool Usable(const CCommStatusMem& block) const;
    void Log(LPCWSTR format, LPCWSTR name = nullptr) const;

    std::unique_ptr<CCommStatusMem> m_pMem;
    BOOL m_bClient = FALSE;
    BOOL m_bVista = FALSE;
    SECURITY_DESCRIPTOR m_SecurityDescriptor{};
    SECURITY_ATTRIBUTES m_SecurityAttributes{};
};
