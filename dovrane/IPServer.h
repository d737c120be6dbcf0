// CIPServer: the engine's command server, one worker thread (a CThreadJob). In one loop it makes
// sure no other engine runs, carries the start-up on (the main window loads and saves the
// settings file, then the profiles that run at start-up are started), serves up to
// MAX_TCP_CLIENTS TCP/IP clients with a challenge/response login and framed commands, and
// serves the shared command block with the engine's heartbeat. Commands from both sources go
// through one interpreter (CCommandInterpreter).
//
// Frame, both directions: the UTF-16LE text T, "|", then the digest text of T + "|"
// (CIPFrameBuffer cuts what a client sends into frames). The loop sleeps until the stop event,
// a socket or the next deadline wakes it: the command block is read every COMMSTATUS_POLL_MS and
// the heartbeat written on every pass, so it is never older than that.
//
// No peer can hold the others up. Sends never wait: what a peer has not taken waits in its
// slot, which takes no new command until the last answer has gone, so it holds one answer at
// most; a peer that takes nothing for CLIENT_SEND_STALL_MS is closed. When every slot is in
// use, a new connection takes the slot of one that is closing anyway, else of the one that has
// waited longest at the login among the logins of the address that holds the most of them.
// Only a wrong answer to the challenge slows the address's next login (CLoginThrottle).
//
// Status (GetServerStatusCode, any thread): 0 starting, 1 running, 2 stopped, 3 another engine
// runs, 4 the TCP/IP port cannot be used, 5 the start-up load failed, 6 the socket library
// cannot be attached. 3 to 6 are final: the main window ends the engine with that exit code.
//
// Threads: Start, Stop and the destructor belong to the owner (the main thread); everything else
// runs on the server's thread, which alone uses the slots and the csc library's server side.
// Load, save, remove, add and set are sent to the owner window and waited for; shutdown and
// restart are posted. Failures are logged; nothing throws.
#pragma once

#include <array>
#include <atomic>
#include <string>

#include "common/CommStatus.h"
#include "common/ThreadJob.h"
#include "dovrane/CommandInterpreter.h"
#include "dovrane/IPFrameBuffer.h"
#include "dovrane/web/LoginThrottle.h"
#include "platform/base/CString.h"

class CRunItemList;

#define MAX_TCP_CLIENTS 5
#define ENGINE_RUNNING_TEST_MS 30000
#define COMMSTATUS_POLL_MS 100
#define COMMSTATUS_ANSWER_HOLD_MS 5000
#define LOGIN_TIMEOUT_MS 30000
#define ENGINE_GREETING u"Welcome, ZBEngine 1.1"
// A logged-in client that sends nothing for this long is closed.
#define CLIENT_IDLE_TIMEOUT_MS (10 * 60 * 1000)
// How long the rest of a frame that has begun to arrive may take.
#define CLIENT_PARTIAL_FRAME_MS 10000
// A peer that takes none of what waits for it for this long is closed.
#define CLIENT_SEND_STALL_MS 20000
// How long a test connection to a local port may take.
#define PORT_TEST_TIMEOUT_MS 1000

enum SERVERSTATUS {
    SERVERSTATUS_STARTING = 0,
    SERVERSTATUS_RUNNING = 1,
    SERVERSTATUS_STOPPED = 2,
    SERVERSTATUS_ALREADY_RUNNING = 3,
    SERVERSTATUS_PORT_FAILED = 4,
    SERVERSTATUS_LOAD_FAILED = 5,
    SERVERSTATUS_ATTACH_FAILED = 6,
};

// 3 to 6: the server will not serve, and the engine ends with the status as exit code.
inline bool IsFinalServerStatus(int status) {
    return status >= SERVERSTATUS_ALREADY_RUNNING && status <= SERVERSTATUS_ATTACH_FAILED;
}

enum CLIENT_STATE {
    CLIENT_STATE_FREE = 0,
    CLIENT_STATE_CONNECTED = 1,
    CLIENT_STATE_GREETING = 2,
    CLIENT_STATE_CHALLENGE = 3,
    CLIENT_STATE_AWAIT_REPLY = 4,
    CLIENT_STATE_COMMANDS = 5,
    CLIENT_STATE_CLOSING = 6,
};

class CIPServer : public CThreadJob {
   public:
    CIPServer();
    ~CIPServer() override;

    // Refused (false) while the thread runs; else status 0, the values stored (the password as
    // its digest text) and the thread started. A port of 0 or less serves only the command block.
    bool Start(CRunItemList* list, const CString& bindAddress, int port, const CString& clientFilter,
               const CString& password, const CString& settingsPath, HWND owner, DWORD ownerThreadId,
               UINT message);
    int GetServerStatusCode() const { return m_nStatus; }
    // Any thread: the start-up (load, save, start-up runs) is done and the loop serves.
    bool IsServing() const { return m_bServing; }
    // Any thread: the loop's passes so far; one that begins after data came has looked at it.
    unsigned GetPassCount() const { return m_nPasses; }
    // Owner thread: the stop of the base, serving meanwhile the messages sent to this thread.
    bool Stop(DWORD timeoutMs) override;

    // Server thread: one command, one answer; -2 when the client asked to close (BYE).
    int ExecuteCommand(const CString& command, CString& answer);
    // Sends the owner message with the code and the text (which may receive an answer); 0 when
    // there is no owner window or message.
    LRESULT SendToOwner(WPARAM code, CString& argument);
    // Posts the owner message with the code; never waits.
    void PostToOwner(WPARAM code) { Notify(code, 0); }
    // The window that carries out the engine's commands (the main window); null without one.
    HWND GetOwnerWindow() const { return m_hWndOwner; }

    const CString& GetComputerName() const { return m_strComputerName; }
    int GetActiveConnections() const { return m_nActiveConnections; }
    // Each logged-in client's address followed by ",", as the last connections report made it.
    const CString& GetClientList() const { return m_strClientList; }
    CRunItemList* GetRunItemList() const { return m_pRunItemList; }

    // Whether a TCP connection to the port on 127.0.0.1 succeeds within PORT_TEST_TIMEOUT_MS.
    // Any thread.
    static bool IsPortInUse(int port);

   protected:
    void Run() override;

   private:
    struct SLOT {
        int connection = -1;
        int state = CLIENT_STATE_FREE;
        DWORD deadline = 0;
        DWORD acceptedAt = 0;   // how long it has waited at the login
        DWORD challengeAt = 0;  // a throttled address waits for its challenge until then
        DWORD lastData = 0;
        // Read dry since the state began: every receive re-arms the socket's read event, so new
        // data wakes the server's wait and needs no look of its own.
        bool drained = false;
        CString clientName;     // the peer's dotted address
        CString expectedReply;  // the response its challenge asks for
        CIPFrameBuffer frames;
        std::string unsent;   // framed bytes the peer has not taken yet
        DWORD lastTaken = 0;  // when the peer last took some, or the first of them waited
    };

    // The steps before the loop; false when the thread must end (the status says why).
    bool StartUp();
    void LogComputerName();
    bool IsAnotherEngineRunning();
    bool AttachSockets();
    bool LoadSettingsAtStart();
    void Serve();
    void EndServing();

    // At most this many connections are taken in one pass, so the slots are still served.
    static constexpr int kAcceptsPerPass = 64;
    void AcceptWaiting(DWORD now);
    void AcceptClient(DWORD now);
    // All slots in use: closes a slot that is closing anyway; false when none is.
    bool CloseEndingSlot();
    // All slots in use: closes the one that has waited longest at the login among those of the
    // address holding the most logins, as its time-out would; false when none is at the login.
    bool FreeLongestWaitingLogin(DWORD now);
    static bool IsAtLogin(const SLOT& slot);
    void ServeCommandBlock(DWORD now);
    void ReportConnections();
    void ServeSlot(int index, DWORD now);
    void FilterClient(int index, DWORD now);
    void SendChallenge(int index, DWORD now);
    void CheckReply(int index, DWORD now);
    void RefuseLogin(int index, const CString& reply, DWORD now);
    void SendGreeting(int index, DWORD now);
    void ServeCommands(int index, DWORD now);
    // dropUnsent: reset the connection rather than leave the system to send what waits.
    void CloseSlot(int index, bool dropUnsent);
    // Queues the framed text for the slot's peer and sends what its socket takes now.
    void SendString(int index, const CString& text, DWORD now);
    // Sends what the socket takes of the slot's unsent bytes; a peer gone or stalled too long
    // is closed.
    void SendUnsent(int index, DWORD now);
    void SetState(int index, int state, DWORD deadline);
    // Whether data waits on the slot's socket; socketsQuiet: no socket activity has woken the
    // server since the slot's last read.
    bool DataWaiting(const SLOT& slot, bool socketsQuiet) const;
    // Reads what has arrived into the slot's frames; the last csc result (negative: gone).
    int ReadAvailable(SLOT& slot, DWORD now);
    // How long the loop may sleep before something is due.
    DWORD MsUntilDue(DWORD now) const;

    void LogError(LPCWSTR text, int code);
    int FindFreeSlot() const;

    std::atomic<int> m_nStatus{SERVERSTATUS_STARTING};
    std::atomic<bool> m_bServing{false};
    std::atomic<unsigned> m_nPasses{0};
    CRunItemList* m_pRunItemList = nullptr;
    CString m_strBindAddress;
    int m_nPort = 0;
    CString m_strClientFilter;
    CString m_strPasswordHash;
    CString m_strSettingsPath;
    CString m_strComputerName;
    int m_nActiveConnections = 0;
    CString m_strClientList;
    CCommStatus m_commStatus;
    CCommandInterpreter m_interpreter;
    CLoginThrottle m_loginThrottle;
    std::array<SLOT, MAX_TCP_CLIENTS> m_slots;
    DWORD m_dwBlockPolled = 0;
    DWORD m_dwAnswerWritten = 0;
    bool m_bAnswerHeld = false;
    DWORD m_dwReported = 0;
    bool m_bReportDue = false;
    bool m_bSocketsQuiet = false;  // this pass's wait timed out
};
