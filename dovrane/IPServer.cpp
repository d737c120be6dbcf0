#include "dovrane/IPServer.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <string>

#include "common/CSCvs.h"
#include "common/DebugPrintf.h"
#include "common/EventLog.h"
#include "common/SHA1Text.h"
#include "common/csc.h"
#include "dovrane/MainWnd.h"
#include "dovrane/RunItemList.h"
#include "dovrane/web/ClientFilter.h"
#include "dovrane/web/EngineCall.h"
#include "platform/base/Clock.h"
#include "platform/base/TextConvert.h"
#include "platform/win32/Accounts.h"
#include "platform/win32/EventLogApi.h"
#include "platform/win32/SyncApi.h"
#include "platform/win32/Wait.h"
#include "platform/win32/WinUser.h"
#include "platform/win32/Winsock.h"

namespace {

constexpr int kSockets = 6;
constexpr int kComputerNameSize = 16;
constexpr int kAddressSize = 64;
constexpr int kErrorTextSize = 256;
constexpr int kPieceBytes = 254;
constexpr DWORD kAliveRetestPauseMs = 3000;
constexpr DWORD kAttachFailPauseMs = 1000;
constexpr DWORD kReportPeriodMs = 60000;
constexpr DWORD kStepMs = 50;
constexpr DWORD kRefusedCloseMs = 500;
constexpr DWORD kByeCloseMs = 1000;
constexpr LPCWSTR kBlockSource = u"M";
constexpr DWORD kStopSliceMs = 10;
constexpr DWORD kUnsentRetryMs = 20;

CString Widen(const char* text) {
    CString wide;
    for (const char* p = text; *p; ++p) wide += static_cast<WCHAR>(static_cast<unsigned char>(*p));
    return wide;
}

// One byte per character: the csc library's texts are plain ASCII.
std::string Narrow(const CString& text) {
    std::string narrow;
    for (int i = 0; i < text.GetLength(); ++i) narrow += static_cast<char>(text[i]);
    return narrow;
}

// Whether the tick count has reached the deadline (signed, across the wrap).
bool Reached(DWORD now, DWORD deadline) {
    return static_cast<int32_t>(now - deadline) >= 0;
}

DWORD MsUntil(DWORD now, DWORD deadline) {
    return Reached(now, deadline) ? 0 : deadline - now;
}

}  // namespace

CIPServer::CIPServer() : m_interpreter(*this) {}

CIPServer::~CIPServer() {
    while (!Stop(kStopSliceMs * 100)) {
    }
}

// The server thread may be waiting for this thread (a load or save sent to the main window): the
// wait serves the messages sent to this thread, so the server can finish and see its stop.
bool CIPServer::Stop(DWORD timeoutMs) {
    if (IsRunning()) SetEvent(m_hStopEvent);
    const int64_t deadline = zbw::DeadlineAfter(timeoutMs);
    for (;;) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        const int64_t left = zbw::RemainingUntil(deadline);
        if (CThreadJob::Stop(static_cast<DWORD>(std::min<int64_t>(left, kStopSliceMs)))) return true;
        if (left == 0) return false;
    }
}

bool CIPServer::Start(CRunItemList* list, const CString& bindAddress, int port, const CString& clientFilter,
                      const CString& password, const CString& settingsPath, HWND owner, DWORD ownerThreadId,
                      UINT message) {
    if (IsRunning()) return false;
    m_nStatus = SERVERSTATUS_STARTING;
    m_bServing = false;
    m_pRunItemList = list;
    m_strBindAddress = bindAddress;
    m_nPort = port;
    m_strClientFilter = clientFilter;
    m_strPasswordHash = SHA1HashText(password);
    m_strSettingsPath = settingsPath;
    return StartNotify(owner, ownerThreadId, message);
}

void CIPServer::Run() {
    if (!StartUp()) return;
    m_bServing = true;
    Serve();
    m_bServing = false;
    EndServing();
}

bool CIPServer::StartUp() {
    LogComputerName();
    if (m_nPort > 0)
        g_DebugPrintf.Print(u"Server accepts up to %d TCP/IP clients at once.", MAX_TCP_CLIENTS);
    else
        g_DebugPrintf.Print(u"Server does not accept TCP/IP connections from clients.");
    m_commStatus.Open();
    if (IsAnotherEngineRunning()) {
        g_EventLog.WriteEventLog(EVENTLOG_INFORMATION_TYPE, u"ZBEngine already running");
        m_nStatus = SERVERSTATUS_ALREADY_RUNNING;
        return false;
    }
    if (!AttachSockets()) return false;
    m_nStatus = SERVERSTATUS_RUNNING;
    // A second engine started while the settings load already sees this one.
    m_commStatus.SetTime(GetTickCount());
    g_EventLog.WriteEventLog(EVENTLOG_SUCCESS, u"ZBEngine started");
    if (!LoadSettingsAtStart()) return false;
    for (SLOT& slot : m_slots) slot = SLOT{};
    if (m_nPort > 0) g_DebugPrintf.Print(u"Waiting for TCP/IP client connections ...");
    if (m_pRunItemList) {
        CString none;
        LRESULT started = 0;
        CEngineCall::Send(m_hWndOwner, ENGINE_CMD_RUN_AT_STARTUP, none, ENGINE_CALL_TIMEOUT_MS, started);
    }
    return true;
}

void CIPServer::LogComputerName() {
    char name[kComputerNameSize + 1] = {};
    DWORD size = kComputerNameSize;
    m_strComputerName = GetComputerNameA(name, &size) ? Widen(name) : CString();
    if (!m_strComputerName.IsEmpty())
        g_DebugPrintf.Print(u"This computer is named %c%s%c", u'"', m_strComputerName, u'"');
}

// A live heartbeat is looked at twice, 3 s apart, so an engine that is just stopping is not
// taken for a running one.
bool CIPServer::IsAnotherEngineRunning() {
    if (m_commStatus.IsAlive(ENGINE_RUNNING_TEST_MS)) {
        if (WaitForSingleObject(m_hStopEvent, kAliveRetestPauseMs) == WAIT_OBJECT_0) return false;
        if (m_commStatus.IsAlive(ENGINE_RUNNING_TEST_MS)) {
            g_DebugPrintf.Print(u"ZBEngine already running.");
            return true;
        }
    }
    if (m_nPort > 0 && IsPortInUse(m_nPort)) {
        g_DebugPrintf.Print(u"ZBEngine already running on port %d.", m_nPort);
        return true;
    }
    return false;
}

// A library that cannot be attached ends the thread with its own status, so the engine ends
// rather than run without a server.
bool CIPServer::AttachSockets() {
    const int attached = cscAttach(kSockets);
    if (attached != CSC_OK) {
        g_DebugPrintf.Print(u"ERROR %d: server cannot attach", attached);
        Sleep(kAttachFailPauseMs);
        m_nStatus = SERVERSTATUS_ATTACH_FAILED;
        return false;
    }
    const int version = cscGetInteger(CSC_INT_VERSION);
    g_DebugPrintf.PrintDebug(u"CSC Version: %1d.%1d.%1d Build %d", (version >> 8) & 0xF, (version >> 4) & 0xF,
                             version & 0xF, cscGetInteger(CSC_INT_BUILD));
    if (m_nPort <= 0) return true;
    const std::string bindAddress = Narrow(m_strBindAddress);
    if (bindAddress.empty())
        g_DebugPrintf.Print(u"Starting TCP/IP server on this machine on port %d", m_nPort);
    else
        g_DebugPrintf.Print(u"Starting TCP/IP server for %S on port %d", bindAddress.c_str(), m_nPort);
    if (!m_strClientFilter.IsEmpty())
        g_DebugPrintf.Print(u"TCP/IP clients only allowed from IPs: %s", m_strClientFilter);
    const int listening = cscServer(bindAddress.c_str(), m_nPort);
    if (listening == CSCVS_OK) return true;
    LogError(u"Server failed to attach to TCP/IP port", listening);
    cscRelease();
    m_nStatus = SERVERSTATUS_PORT_FAILED;
    return false;
}

bool CIPServer::LoadSettingsAtStart() {
    CString path = m_strSettingsPath;
    if (!m_hWndOwner || !m_uMessage || SendToOwner(ENGINE_CMD_LOAD, path) == 0) {
        cscRelease();
        m_nStatus = SERVERSTATUS_LOAD_FAILED;
        return false;
    }
    // A stop that came while the owner loaded (it serves this send while it waits) ends the start
    // here: the engine is going, and its stop has decided about saving already.
    if (WaitForSingleObject(m_hStopEvent, 0) == WAIT_OBJECT_0) {
        EndServing();
        return false;
    }
    path = m_strSettingsPath;
    SendToOwner(ENGINE_CMD_SAVE, path);
    return true;
}

void CIPServer::Serve() {
    m_dwBlockPolled = GetTickCount() - COMMSTATUS_POLL_MS;
    m_dwReported = GetTickCount();
    m_bAnswerHeld = false;
    for (;;) {
        const int woken = cscAwaitActivity(m_hStopEvent, MsUntilDue(GetTickCount()));
        if (woken == CSC_ACTIVITY_STOP) return;
        if (woken < 0 && WaitForSingleObject(m_hStopEvent, 1) == WAIT_OBJECT_0) return;
        m_bSocketsQuiet = woken == CSC_ACTIVITY_TIMEOUT;
        DWORD now = GetTickCount();
        // Only socket activity can mean a waiting connection.
        if (m_nPort > 0 && woken == CSC_ACTIVITY_SOCKETS) AcceptWaiting(now);
        m_commStatus.SetTime(now);
        ServeCommandBlock(now);
        if (m_bReportDue || Reached(now, m_dwReported + kReportPeriodMs)) ReportConnections();
        for (int i = 0; i < MAX_TCP_CLIENTS; ++i) {
            now = GetTickCount();
            ServeSlot(i, now);
        }
        ++m_nPasses;
    }
}

void CIPServer::EndServing() {
    for (SLOT& slot : m_slots) {
        if (slot.connection < 0) continue;
        g_DebugPrintf.Print(u"%d: Closing connection", slot.connection);
        cscClose(slot.connection);
        slot = SLOT{};
        --m_nActiveConnections;
    }
    m_commStatus.SetTime(1);
    cscRelease();
    m_nStatus = SERVERSTATUS_STOPPED;
}

DWORD CIPServer::MsUntilDue(DWORD now) const {
    DWORD wait = MsUntil(now, m_dwBlockPolled + COMMSTATUS_POLL_MS);
    if (m_bReportDue) return 0;
    wait = std::min(wait, MsUntil(now, m_dwReported + kReportPeriodMs));
    for (const SLOT& slot : m_slots) {
        // Room for what waits wakes no wait: the slot is looked at again shortly, and takes
        // nothing else meanwhile.
        if (!slot.unsent.empty()) {
            wait = std::min(wait, kUnsentRetryMs);
            if (slot.state != CLIENT_STATE_CLOSING) continue;
        }
        switch (slot.state) {
            case CLIENT_STATE_CONNECTED: return 0;
            case CLIENT_STATE_CHALLENGE: wait = std::min(wait, MsUntil(now, slot.challengeAt)); break;
            case CLIENT_STATE_AWAIT_REPLY:
                if (DataWaiting(slot, true)) return 0;
                wait = std::min(wait, MsUntil(now, slot.deadline + LOGIN_TIMEOUT_MS));
                break;
            case CLIENT_STATE_COMMANDS:
                if (DataWaiting(slot, true)) return 0;
                wait = std::min(wait, MsUntil(now, slot.lastData + CLIENT_IDLE_TIMEOUT_MS));
                break;
            case CLIENT_STATE_GREETING:
            case CLIENT_STATE_CLOSING: wait = std::min(wait, MsUntil(now, slot.deadline)); break;
            default: break;
        }
    }
    return wait;
}

// Takes what waits in the listen queue, up to a bound, so that a client behind a crowd of
// connections is not reached one pass at a time. A look that finds none waits 1 ms.
void CIPServer::AcceptWaiting(DWORD now) {
    for (int n = 0; n < kAcceptsPerPass && cscAwaitConnect() == 1; ++n) AcceptClient(now);
}

// The library has a socket for each slot: the slot is freed first, so the accept finds one.
void CIPServer::AcceptClient(DWORD now) {
    if (FindFreeSlot() < 0 && !CloseEndingSlot()) FreeLongestWaitingLogin(now);
    const int connection = cscAcceptConnect();
    // The listening socket takes one of the library's sockets: a sixth client finds none left,
    // and the library has closed it already.
    if (connection == CSCVS_NO_ACCEPT_SLOT || connection == CSC_NO_FREE_SOCKETS) {
        g_DebugPrintf.Print(u"Maximum number of TCP/IP connections exceeded!");
        return;
    }
    if (connection < 0) {
        LogError(u"Server cannot accept the connection", connection);
        return;
    }
    const int index = FindFreeSlot();
    if (index < 0) {
        g_DebugPrintf.Print(u"Maximum number of TCP/IP connections exceeded!");
        cscClose(connection);
        return;
    }
    m_slots[index] = SLOT{};
    m_slots[index].connection = connection;
    char address[kAddressSize] = {};
    cscGetString(connection, CSC_STR_PEER_ADDRESS, address, kAddressSize);
    m_slots[index].clientName = Widen(address);
    m_slots[index].acceptedAt = now;
    m_slots[index].lastData = now;
    SetState(index, CLIENT_STATE_CONNECTED, now);
}

// A slot that is closing anyway (a refused client, a goodbye) goes first: its answer has been
// handed to the system already.
bool CIPServer::CloseEndingSlot() {
    int chosen = -1;
    for (int i = 0; i < MAX_TCP_CLIENTS; ++i) {
        if (m_slots[i].state != CLIENT_STATE_CLOSING || !m_slots[i].unsent.empty()) continue;
        if (chosen < 0 || static_cast<LONG>(m_slots[i].deadline - m_slots[chosen].deadline) < 0) chosen = i;
    }
    if (chosen < 0) return false;
    CloseSlot(chosen, false);
    return true;
}

// The login that gives way is one of the address holding the most places at the login, the
// longest-waiting of them: a crowd from one address displaces its own and never the one client of
// another address that answers its challenge at once.
bool CIPServer::FreeLongestWaitingLogin(DWORD now) {
    int waiting[MAX_TCP_CLIENTS] = {};
    for (int i = 0; i < MAX_TCP_CLIENTS; ++i) {
        if (!IsAtLogin(m_slots[i])) continue;
        for (int j = 0; j < MAX_TCP_CLIENTS; ++j) {
            if (IsAtLogin(m_slots[j]) && m_slots[j].clientName == m_slots[i].clientName) ++waiting[i];
        }
    }
    int chosen = -1;
    for (int i = 0; i < MAX_TCP_CLIENTS; ++i) {
        if (!IsAtLogin(m_slots[i])) continue;
        if (chosen < 0 || waiting[i] > waiting[chosen] ||
            (waiting[i] == waiting[chosen] && now - m_slots[i].acceptedAt > now - m_slots[chosen].acceptedAt))
            chosen = i;
    }
    if (chosen < 0) return false;
    g_DebugPrintf.Print(u"%d: Client not validated, timeout 30 secs", m_slots[chosen].connection);
    CloseSlot(chosen, false);
    return true;
}

bool CIPServer::IsAtLogin(const SLOT& slot) {
    return slot.state == CLIENT_STATE_CONNECTED || slot.state == CLIENT_STATE_CHALLENGE ||
           slot.state == CLIENT_STATE_AWAIT_REPLY;
}

void CIPServer::ServeCommandBlock(DWORD now) {
    if (!Reached(now, m_dwBlockPolled + COMMSTATUS_POLL_MS)) return;
    m_dwBlockPolled = now;
    int type = COMMSTATUS_IDLE;
    CString command;
    if (m_commStatus.ReadCommand(type, command) && type == COMMSTATUS_COMMAND) {
        g_DebugPrintf.PrintDebug(u"%s: Received command %s", kBlockSource, command);
        CString answer;
        ExecuteCommand(command, answer);
        if (answer == ANSWER_UNKNOWN) g_DebugPrintf.Print(u"%s: Invalid command %s", kBlockSource, command);
        m_commStatus.SendCommand(COMMSTATUS_ANSWER, answer);
        g_DebugPrintf.PrintDebug(u"%s: Send answer %s", kBlockSource, answer);
        m_dwAnswerWritten = GetTickCount();
        m_bAnswerHeld = true;
    } else if (m_bAnswerHeld && now - m_dwAnswerWritten > COMMSTATUS_ANSWER_HOLD_MS) {
        m_commStatus.SendCommand(COMMSTATUS_IDLE, u" ");
        m_bAnswerHeld = false;
    }
}

void CIPServer::ReportConnections() {
    m_bReportDue = false;
    m_dwReported = GetTickCount();
    g_DebugPrintf.PrintDebug(u"Active TCP/IP Connections: %d", m_nActiveConnections);
    m_strClientList.Empty();
    for (const SLOT& slot : m_slots) {
        if (slot.state != CLIENT_STATE_COMMANDS) continue;
        char address[kAddressSize] = {};
        if (cscGetString(slot.connection, CSC_STR_PEER_ADDRESS, address, kAddressSize) <= 0) continue;
        g_DebugPrintf.Print(u"%d: Client connected from %s", slot.connection, Widen(address));
        m_strClientList += Widen(address) + u",";
    }
}

void CIPServer::ServeSlot(int index, DWORD now) {
    SLOT& slot = m_slots[index];
    if (!slot.unsent.empty()) {
        SendUnsent(index, now);
        if (!slot.unsent.empty() && slot.state != CLIENT_STATE_CLOSING) return;
    }
    switch (slot.state) {
        case CLIENT_STATE_CONNECTED: FilterClient(index, now); break;
        case CLIENT_STATE_CHALLENGE:
            if (Reached(now, slot.challengeAt)) SendChallenge(index, now);
            break;
        case CLIENT_STATE_AWAIT_REPLY: CheckReply(index, now); break;
        case CLIENT_STATE_GREETING:
            if (Reached(now, slot.deadline)) SendGreeting(index, now);
            break;
        case CLIENT_STATE_COMMANDS: ServeCommands(index, now); break;
        case CLIENT_STATE_CLOSING:
            if (Reached(now, slot.deadline)) CloseSlot(index, false);
            break;
        default: break;
    }
}

void CIPServer::FilterClient(int index, DWORD now) {
    SLOT& slot = m_slots[index];
    g_DebugPrintf.Print(u"%d: Connection requested from %s", slot.connection, slot.clientName);
    ++m_nActiveConnections;
    CClientFilter::RESULT allowed = CClientFilter::ALLOWED;
    if (!m_strClientFilter.IsEmpty()) allowed = CClientFilter(m_strClientFilter).Check(slot.clientName);
    if (allowed == CClientFilter::INVALID) {
        g_DebugPrintf.Print(u"%d: Invalid client expression in XML file, <CLIENTS> flag: %s", slot.connection,
                            m_strClientFilter);
    } else if (allowed == CClientFilter::REFUSED) {
        g_DebugPrintf.Print(u"%d: Connection from client %s not allowed, IPs are restricted to %s",
                            slot.connection, slot.clientName, m_strClientFilter);
    }
    if (allowed != CClientFilter::ALLOWED) {
        SetState(index, CLIENT_STATE_CLOSING, now + kStepMs);
        return;
    }
    slot.challengeAt = now + m_loginThrottle.DelayFor(slot.clientName, now);
    SetState(index, CLIENT_STATE_CHALLENGE, now + kStepMs);
}

void CIPServer::SendChallenge(int index, DWORD now) {
    SLOT& slot = m_slots[index];
    char challenge[CSC_CHALLENGE_LEN + 1] = {};
    cscChallenge(challenge);
    g_DebugPrintf.Print(u"%d: Sending challenge '%s'", slot.connection, Widen(challenge));
    char response[CSC_CHALLENGE_LEN + 1] = {};
    cscResponse(challenge, response);
    slot.expectedReply = Widen(response);
    SetState(index, CLIENT_STATE_AWAIT_REPLY, now + kStepMs);
    SendString(index, Widen(challenge), now);
}

void CIPServer::CheckReply(int index, DWORD now) {
    SLOT& slot = m_slots[index];
    if (!DataWaiting(slot, m_bSocketsQuiet)) {
        slot.drained = true;
        if (Reached(now, slot.deadline + LOGIN_TIMEOUT_MS)) {
            g_DebugPrintf.Print(u"%d: Client not validated, timeout 30 secs", slot.connection);
            SetState(index, CLIENT_STATE_CLOSING, now + kRefusedCloseMs);
        }
        return;
    }
    const int received = ReadAvailable(slot, now);
    slot.drained = true;
    CString reply;
    const CIPFrameBuffer::RESULT frame = slot.frames.TakeFrame(reply);
    if (frame == CIPFrameBuffer::FRAME_NONE) {
        // A frame not yet whole waits for its rest. A client gone without an answer tried no
        // password (a port test, a second engine's check): it does not slow the next login.
        if (received >= 0) return;
        g_DebugPrintf.Print(u"%d: Client %s closed without answering", slot.connection, slot.clientName);
        SetState(index, CLIENT_STATE_CLOSING, now);
        return;
    }
    const int length = slot.expectedReply.GetLength();
    if (reply.Left(length) == slot.expectedReply && reply.Mid(length) == m_strPasswordHash) {
        g_DebugPrintf.Print(u"%d: Connection accepted with %s", slot.connection, slot.clientName);
        m_loginThrottle.NoteSuccess(slot.clientName);
        SetState(index, CLIENT_STATE_GREETING, now + kStepMs);
        return;
    }
    RefuseLogin(index, reply, now);
}

// The two texts are the protocol's; the throttle makes guessing slow all the same.
void CIPServer::RefuseLogin(int index, const CString& reply, DWORD now) {
    SLOT& slot = m_slots[index];
    const CString text = reply.Mid(slot.expectedReply.GetLength()) != m_strPasswordHash
                             ? CString(u"Client not validated, incorrect password")
                             : CString(u"Client not validated, incorrect response");
    CString line;
    line.Format(u"%d: %s", slot.connection, text);
    std::printf("%s\n", zbw::ToUtf8(line).c_str());
    std::fflush(stdout);
    const int failures = m_loginThrottle.NoteFailure(slot.clientName, now);
    g_DebugPrintf.Print(u"%d: Login failure %d in a row from %s; its next challenge waits %d ms",
                        slot.connection, failures, slot.clientName,
                        static_cast<int>(m_loginThrottle.DelayFor(slot.clientName, now)));
    SetState(index, CLIENT_STATE_CLOSING, now + kRefusedCloseMs);
    SendString(index, text, now);
}

void CIPServer::SendGreeting(int index, DWORD now) {
    SLOT& slot = m_slots[index];
    g_DebugPrintf.Print(u"%d: Sending greeting message", slot.connection);
    slot.lastData = now;
    SetState(index, CLIENT_STATE_COMMANDS, now);
    m_bReportDue = true;
    SendString(index, ENGINE_GREETING, now);
}

void CIPServer::ServeCommands(int index, DWORD now) {
    SLOT& slot = m_slots[index];
    int received = 0;
    if (DataWaiting(slot, m_bSocketsQuiet)) received = ReadAvailable(slot, now);
    slot.drained = true;
    CString command;
    // One answer at a time: the next command waits until the peer has taken the last answer.
    for (CIPFrameBuffer::RESULT frame;
         slot.unsent.empty() && slot.state == CLIENT_STATE_COMMANDS &&
         (frame = slot.frames.TakeFrame(command)) != CIPFrameBuffer::FRAME_NONE;) {
        if (frame == CIPFrameBuffer::FRAME_BAD) {
            g_DebugPrintf.Print(u"%d: Message with a wrong digest dropped", slot.connection);
            continue;
        }
        g_DebugPrintf.PrintDebug(u"%d: Received command %s", slot.connection, command);
        CString answer;
        const int result = ExecuteCommand(command, answer);
        if (answer == ANSWER_UNKNOWN)
            g_DebugPrintf.Print(u"%d: Invalid command %s", slot.connection, command);
        g_DebugPrintf.PrintDebug(u"%d: Send answer %s", slot.connection, answer);
        if (result == COMMAND_RESULT_CLOSE) SetState(index, CLIENT_STATE_CLOSING, now + kByeCloseMs);
        SendString(index, answer, now);
    }
    if (slot.state != CLIENT_STATE_COMMANDS) return;
    if (received < 0 && cscIsConnected(slot.connection) != 1) {
        SetState(index, CLIENT_STATE_CLOSING, now + kByeCloseMs);
    } else if (slot.frames.DropStale(now, CLIENT_PARTIAL_FRAME_MS)) {
        g_DebugPrintf.Print(u"%d: Incomplete message from %s dropped", slot.connection, slot.clientName);
    } else if (Reached(now, slot.lastData + CLIENT_IDLE_TIMEOUT_MS)) {
        g_DebugPrintf.Print(u"%d: Nothing received from %s for %d minutes", slot.connection, slot.clientName,
                            CLIENT_IDLE_TIMEOUT_MS / 60000);
        SetState(index, CLIENT_STATE_CLOSING, now);
    }
}

void CIPServer::CloseSlot(int index, bool dropUnsent) {
    SLOT& slot = m_slots[index];
    g_DebugPrintf.Print(u"%d: Closing connection with %s", slot.connection, slot.clientName);
    // A peer that reads nothing would keep its unsent bytes, and the system's socket, for long.
    if (dropUnsent)
        cscAbort(slot.connection);
    else
        cscClose(slot.connection);
    slot = SLOT{};
    --m_nActiveConnections;
    m_bReportDue = true;
}

void CIPServer::SetState(int index, int state, DWORD deadline) {
    m_slots[index].state = state;
    m_slots[index].deadline = deadline;
    m_slots[index].drained = false;
}

// A socket read dry in its state has its read event armed again, so new data wakes the wait.
bool CIPServer::DataWaiting(const SLOT& slot, bool socketsQuiet) const {
    if (slot.drained && socketsQuiet) return false;
    return cscAwaitData(slot.connection, 0) == 1;
}

int CIPServer::ReadAvailable(SLOT& slot, DWORD now) {
    for (;;) {
        char piece[kPieceBytes + 2] = {};
        const int read = cscGetData(slot.connection, piece, kPieceBytes);
        if (read <= 0) return read;
        slot.frames.Append(piece, read, now);
        slot.lastData = now;
    }
}

int CIPServer::ExecuteCommand(const CString& command, CString& answer) {
    return m_interpreter.Execute(command, answer);
}

LRESULT CIPServer::SendToOwner(WPARAM code, CString& argument) {
    if (!m_hWndOwner || !m_uMessage) return 0;
    return SendMessageW(m_hWndOwner, m_uMessage, code, reinterpret_cast<LPARAM>(&argument));
}

void CIPServer::SendString(int index, const CString& text, DWORD now) {
    static_assert(std::endian::native == std::endian::little, "the units go out as they lie in memory");
    SLOT& slot = m_slots[index];
    CString framed = text + u"|";
    AppendSHA1Digest(framed);
    if (slot.unsent.empty()) slot.lastTaken = now;
    slot.unsent.append(reinterpret_cast<const char*>(framed.GetString()),
                       static_cast<size_t>(framed.GetLength()) * 2);
    SendUnsent(index, now);
}

void CIPServer::SendUnsent(int index, DWORD now) {
    SLOT& slot = m_slots[index];
    const int sent = cscPutDataNow(slot.connection, slot.unsent.data(), static_cast<int>(slot.unsent.size()));
    if (sent > 0) {
        slot.unsent.erase(0, static_cast<size_t>(sent));
        slot.lastTaken = now;
        // Commands that came meanwhile were left unread and woke the wait already: look again.
        if (slot.unsent.empty()) slot.drained = false;
    }
    if (sent < 0) {
        slot.unsent.clear();
        if (slot.state != CLIENT_STATE_CLOSING) SetState(index, CLIENT_STATE_CLOSING, now);
    } else if (!slot.unsent.empty() && Reached(now, slot.lastTaken + CLIENT_SEND_STALL_MS)) {
        g_DebugPrintf.Print(u"%d: %s has taken nothing for %d seconds", slot.connection, slot.clientName,
                            CLIENT_SEND_STALL_MS / 1000);
        CloseSlot(index, true);
    }
}

void CIPServer::LogError(LPCWSTR text, int code) {
    char error[kErrorTextSize] = {};
    cscErrorText(code, error, kErrorTextSize);
    CString line;
    line.Format(u"ERROR %d: %s", code, text);
    if (error[0]) line += u" " + Widen(error);
    g_DebugPrintf.Print(u"%s", line);
}

int CIPServer::FindFreeSlot() const {
    for (int i = 0; i < MAX_TCP_CLIENTS; ++i) {
        if (m_slots[i].connection == -1) return i;
    }
    return -1;
}

// A connect that the port neither accepts nor refuses at once is given up after the bound, so a
// port that swallows connections cannot hang the caller.
bool CIPServer::IsPortInUse(int port) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0) return false;
    bool inUse = false;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET) {
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<u_short>(port));
        addr.sin_addr.s_addr = inet_addr("127.0.0.1");
        if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            inUse = true;
        } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
            // As on Windows, a refused connect shows in the exception set, a made one as writable.
            fd_set writable;
            fd_set failed;
            FD_ZERO(&writable);
            FD_SET(s, &writable);
            FD_ZERO(&failed);
            FD_SET(s, &failed);
            timeval limit = {PORT_TEST_TIMEOUT_MS / 1000, (PORT_TEST_TIMEOUT_MS % 1000) * 1000};
            inUse = select(0, nullptr, &writable, &failed, &limit) > 0 && FD_ISSET(s, &writable);
        }
        closesocket(s);
    }
    WSACleanup();
    return inUse;
}
