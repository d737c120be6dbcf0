#include "dovrane/web/GenericServer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/base/Clock.h"
#include "platform/win32/Thread.h"
#include "platform/win32/Wait.h"
#include "platform/win32/Winsock.h"

namespace {

constexpr DWORD kHandshakeTimeoutMs = 30000;
constexpr DWORD kStopWaitMs = 1000;
constexpr DWORD kReapIntervalMs = 100;
constexpr int kReceiveBytes = 100000;
constexpr size_t kSendPieceBytes = 200000;
constexpr DWORD kStrayReportMs = 5000;
constexpr int kAcceptsPerWake = 64;
// AddClient's refusal for want of a place, which it logs itself as a count.
constexpr int kCrowded = -1;
// What a closing connection still reads, so that its unread bytes do not reset the connection
// before the peer has read the answer.
constexpr int kDrainReads = 64;

void DrainForClose(SOCKET socket) {
    shutdown(socket, SD_SEND);
    char sink[4096];
    for (int i = 0; i < kDrainReads && recv(socket, sink, sizeof(sink), 0) > 0; ++i) {
    }
}

}  // namespace

// The fields after the address are guarded by the client lock.
struct CGenericServer::CLIENTPARAM {
    CGenericServer* pServer;
    SOCKET socket;
    char szAddress[33];
    WSAEVENT hCloseEvent = WSA_INVALID_EVENT;  // its thread's; set when a newer one takes the place
    bool bWaiting = true;                      // no whole request in hand
    DWORD dwWaitingSince = 0;                  // tick since when
    bool bClosing = false;                     // the place is given up
    unsigned long nAccepted = 0;               // the server's count of connections admitted
};

CGenericServer::CGenericServer() {
    InitializeCriticalSection(&m_csClients);
    InitializeCriticalSection(&m_csEnded);
}

CGenericServer::CGenericServer(CDebugPrintf& log) : CLog(log) {
    InitializeCriticalSection(&m_csClients);
    InitializeCriticalSection(&m_csEnded);
}

CGenericServer::~CGenericServer() {
    ShutdownAndWait();
    if (m_hShutdownEvent) WSACloseEvent(m_hShutdownEvent);
    if (m_hHandshakeEvent) CloseHandle(m_hHandshakeEvent);
    DeleteCriticalSection(&m_csEnded);
    DeleteCriticalSection(&m_csClients);
}

int CGenericServer::Start(WORD port, DWORD timeoutMs) {
    if (m_bStarted) {
        LogTrace("_beginthreadex(...) failure, for Launch Thread", "Run", errno);
        return 0;
    }
    if (!ReapStrays()) {
        LogTrace("Threads of an earlier run still running", "Run", static_cast<int>(m_strayThreads.size()));
        return 0;
    }
    m_nPort = port;
    m_dwTimeoutMs = timeoutMs;
    if (!CreateEvents()) return 0;
    if (!StartThread(AcceptThread, m_hAcceptThread, m_dwAcceptThreadId,
                     "_beginthreadex(...) failure, for Launch Thread") ||
        !AwaitHandshake("Unable to get response from Accept Thread withing specified Timeout ->",
                        m_hAcceptThread)) {
        StopThreads();
        return 0;
    }
    ResetEvent(m_hHandshakeEvent);
    if (!StartThread(HelperThread, m_hHelperThread, m_dwHelperThreadId,
                     "_beginthreadex(...) failure, for Helper Thread") ||
        !AwaitHandshake("Unable to get response from Helper Thread within specified Timeout ->",
                        m_hHelperThread)) {
        StopThreads();
        return 0;
    }
    m_bStarted = true;
    return 1;
}

bool CGenericServer::CreateEvents() {
    if (!m_hHandshakeEvent) m_hHandshakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!m_hShutdownEvent) m_hShutdownEvent = WSACreateEvent();
    if (!m_hHandshakeEvent || !m_hShutdownEvent) {
        LogTrace("WSACreateEvent(...) failure for ShutdownEvent", "Run", static_cast<int>(GetLastError()));
        return false;
    }
    ResetEvent(m_hHandshakeEvent);
    WSAResetEvent(m_hShutdownEvent);
    return true;
}

bool CGenericServer::StartThread(unsigned (*body)(void*), HANDLE& handle, DWORD& id, const char* failure) {
    unsigned threadId = 0;
    handle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, body, this, 0, &threadId));
    if (!handle) {
        LogTrace(failure, "Run", errno);
        return false;
    }
    id = threadId;
    return true;
}

// A thread that ends without answering (its port cannot be bound) fails the start at once.
bool CGenericServer::AwaitHandshake(const char* timeoutMessage, HANDLE thread) {
    HANDLE waits[2] = {m_hHandshakeEvent, thread};
    DWORD result = WaitForMultipleObjects(2, waits, FALSE, kHandshakeTimeoutMs);
    if (result == WAIT_OBJECT_0) return true;
    if (result == WAIT_OBJECT_0 + 1) {
        LogTrace("Thread ended without answering", "Run", 0);
        return false;
    }
    LogTrace(timeoutMessage, "Run", static_cast<int>(kHandshakeTimeoutMs));
    return false;
}

int CGenericServer::Shutdown() {
    if (!m_bStarted) return 1;
    return StopThreads();
}

void CGenericServer::ShutdownAndWait() {
    Shutdown();
    WaitForEverything();
}

int CGenericServer::GetPlaceCount(const char* address) {
    EnterCriticalSection(&m_csClients);
    int count = 0;
    for (const CLIENTTHREAD& client : m_activeClients) {
        const CLIENTPARAM* place = PlaceOf(client);
        if (place && (!address || strcmp(place->szAddress, address) == 0)) ++count;
    }
    LeaveCriticalSection(&m_csClients);
    return count;
}

int CGenericServer::GetClientCount() {
    EnterCriticalSection(&m_csClients);
    int count = static_cast<int>(m_activeClients.size());
    LeaveCriticalSection(&m_csClients);
    return count;
}

// The stop of Shutdown, also used to undo a failed Start.
int CGenericServer::StopThreads() {
    WSASetEvent(m_hShutdownEvent);
    bool ended = StopServerThreads();
    // Every client thread waits on the shutdown event too.
    while (GetClientCount() > 0) {
        OnWaitForClients();
        Sleep(kReapIntervalMs);
    }
    if (!StopEndedClients()) ended = false;
    m_bStarted = false;
    return ended ? 1 : 0;
}

bool CGenericServer::StopServerThreads() {
    HANDLE threads[2];
    DWORD count = 0;
    if (m_hAcceptThread) threads[count++] = m_hAcceptThread;
    if (m_hHelperThread) threads[count++] = m_hHelperThread;
    if (count == 0) return true;
    bool ended = WaitForMultipleObjects(count, threads, TRUE, kStopWaitMs) == WAIT_OBJECT_0;
    if (!ended) LogTrace("WaitForMultipleObjects(...) timed out", "Shutdown", 0);
    KeepRunning(m_hAcceptThread);
    KeepRunning(m_hHelperThread);
    return ended;
}

// Closes the handle of an ended thread; one that runs on is kept, since it cannot be killed.
void CGenericServer::KeepRunning(HANDLE& thread) {
    if (!thread) return;
    if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) {
        CloseHandle(thread);
    } else {
        LogTrace("Thread cannot be terminated, left running", "Shutdown", 0);
        m_strayThreads.push_back(thread);
    }
    thread = nullptr;
}

bool CGenericServer::StopEndedClients() {
    EnterCriticalSection(&m_csEnded);
    std::vector<ENDEDTHREAD> ended;
    ended.swap(m_endedClients);
    LeaveCriticalSection(&m_csEnded);
    bool allEnded = true;
    for (ENDEDTHREAD& entry : ended) {
        if (WaitForSingleObject(entry.hThread, kStopWaitMs) == WAIT_OBJECT_0) {
            CloseHandle(entry.hThread);
        } else {
            LogTrace("WaitForSingleObject(...) timed out", "Shutdown", 0);
            m_strayThreads.push_back(entry.hThread);
            allEnded = false;
        }
    }
    return allEnded;
}

// True when no thread of an earlier run is left.
bool CGenericServer::ReapStrays() {
    std::vector<HANDLE> running;
    for (HANDLE thread : m_strayThreads) {
        if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0)
            CloseHandle(thread);
        else
            running.push_back(thread);
    }
    m_strayThreads.swap(running);
    return m_strayThreads.empty();
}

// The memory of the server goes after this; every thread it started must have ended.
void CGenericServer::WaitForEverything() {
    int64_t reportAt = zbw::TickNow64() + kStrayReportMs;
    bool reported = false;
    for (;;) {
        EnterCriticalSection(&m_csEnded);
        for (ENDEDTHREAD& entry : m_endedClients) m_strayThreads.push_back(entry.hThread);
        m_endedClients.clear();
        LeaveCriticalSection(&m_csEnded);
        if (ReapStrays() && GetClientCount() == 0) return;
        if (!reported && zbw::TickNow64() >= reportAt) {
            fprintf(stderr, "CGenericServer: waiting for %d server threads to end\n",
                    static_cast<int>(m_strayThreads.size()) + GetClientCount());
            reported = true;
        }
        Sleep(kReapIntervalMs);
    }
}

unsigned CGenericServer::AcceptThread(void* server) {
    static_cast<CGenericServer*>(server)->RunAccept();
    return THREAD_EXIT_CODE;
}

void CGenericServer::RunAccept() {
    WSADATA data;
    int result = WSAStartup(MAKEWORD(2, 2), &data);
    if (result != 0) {
        LogTrace("WSAStartup(...) failure", "AcceptThread", result);
        return;
    }
    if (data.wVersion != MAKEWORD(2, 2)) {
        LogTrace("Requested Socket version not exist", "AcceptThread", 0);
        WSACleanup();
        return;
    }
    SOCKET listenSocket = WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (listenSocket == INVALID_SOCKET) {
        LogTrace("WSASocket(...) failure", "AcceptThread", WSAGetLastError());
        WSACleanup();
        return;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(m_nPort);
    const char* failure = nullptr;
    if (bind(listenSocket, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == SOCKET_ERROR)
        failure = "bind(...) failure";
    else if (listen(listenSocket, SOMAXCONN) == SOCKET_ERROR)
        failure = "listen(...) failure";
    if (failure) {
        LogTrace(failure, "AcceptThread", WSAGetLastError());
        closesocket(listenSocket);
        WSACleanup();
        return;
    }
    WSAEVENT listenEvent = WSACreateEvent();
    if (listenEvent == WSA_INVALID_EVENT) {
        LogTrace("WSACreateEvent(...) failure for Event", "AcceptThread", WSAGetLastError());
    } else if (WSAEventSelect(listenSocket, listenEvent, FD_ACCEPT) == SOCKET_ERROR) {
        LogTrace("WSAEventSelect(...) failure", "AcceptThread", WSAGetLastError());
    } else {
        SetEvent(m_hHandshakeEvent);
        HANDLE events[2] = {m_hShutdownEvent, listenEvent};
        for (;;) {
            DWORD wait = WaitForMultipleObjects(2, events, FALSE, INFINITE);
            if (wait == WAIT_OBJECT_0) break;
            if (wait != WAIT_OBJECT_0 + 1) {
                LogTrace("WaitForMultipleObjects(...) failure", "AcceptThread",
                         static_cast<int>(GetLastError()));
                break;
            }
            WSANETWORKEVENTS network{};
            if (WSAEnumNetworkEvents(listenSocket, listenEvent, &network) == SOCKET_ERROR) {
                LogTrace("WSAEnumNetworkEvents(...) failure", "AcceptThread", WSAGetLastError());
                break;
            }
            if (network.lNetworkEvents != FD_ACCEPT) continue;
            // What waits is taken in one go: a crowd that reconnects at once queues up, and a
            // new client waits behind it.
            for (int i = 0; i < kAcceptsPerWake && AcceptOne(listenSocket); ++i) {
            }
        }
    }
    if (listenEvent != WSA_INVALID_EVENT) WSACloseEvent(listenEvent);
    closesocket(listenSocket);
    WSACleanup();
}

bool CGenericServer::AcceptOne(SOCKET listenSocket) {
    sockaddr_in peer{};
    int length = sizeof(peer);
    SOCKET client = WSAAccept(listenSocket, reinterpret_cast<sockaddr*>(&peer), &length, nullptr, 0);
    if (client == INVALID_SOCKET) {
        int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) LogTrace("WSAAccept(...) failure", "AcceptThread", error);
        return false;
    }
    char address[33];
    snprintf(address, sizeof(address), "%d.%d.%d.%d", peer.sin_addr.S_un.S_un_b.s_b1,
             peer.sin_addr.S_un.S_un_b.s_b2, peer.sin_addr.S_un.S_un_b.s_b3, peer.sin_addr.S_un.S_un_b.s_b4);
    int added = OnAccept(address, ntohs(peer.sin_port)) ? AddClient(client, address) : 0;
    if (added <= 0) {
        if (added == 0) LogTrace("AddClient(...) failure", "AcceptThread", 0);
        closesocket(client);
    }
    return true;
}

int CGenericServer::AddClient(SOCKET socket, const char* address) {
    int added = 0;
    EnterCriticalSection(&m_csClients);
    CLIENTTHREAD* freed = nullptr;
    if (WaitForSingleObject(m_hShutdownEvent, 0) == WAIT_OBJECT_0) {
        LogTrace("Server is stopping, client not served", "AddClient", 0);
    } else if (!MakeRoom(address, freed)) {
        LogCrowding("Too many clients, client not served", m_refusedLog);
        added = kCrowded;
    } else {
        CLIENTPARAM* param = new CLIENTPARAM{this, socket, {}};
        snprintf(param->szAddress, sizeof(param->szAddress), "%s", address);
        param->dwWaitingSince = GetTickCount();
        param->nAccepted = ++m_nAccepted;
        // The thread of the connection that made way serves this one next: a crowd that keeps
        // reconnecting costs no thread start and end per connection.
        if (freed) {
            freed->pNext = param;
            added = 1;
        } else {
            added = StartClient(param) ? 1 : 0;
        }
    }
    LeaveCriticalSection(&m_csClients);
    return added;
}

// Under the client lock; deletes param when no thread could be started for it.
bool CGenericServer::StartClient(CLIENTPARAM* param) {
    param->hCloseEvent = WSACreateEvent();
    if (param->hCloseEvent == WSA_INVALID_EVENT) {
        LogTrace("WSACreateEvent(...) failure", "AddClient", WSAGetLastError());
        delete param;
        return false;
    }
    unsigned threadId = 0;
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ClientThread, param, 0, &threadId));
    if (!thread) {
        LogTrace("_beginthreadex(...) failure", "AddClient", errno);
        WSACloseEvent(param->hCloseEvent);
        delete param;
        return false;
    }
    m_activeClients.push_back({thread, threadId, param, nullptr});
    return true;
}

// A thread's place: the connection handed to it, else its own unless that one is closing.
CGenericServer::CLIENTPARAM* CGenericServer::PlaceOf(const CLIENTTHREAD& client) {
    if (client.pNext) return client.pNext;
    return client.pParam->bClosing ? nullptr : client.pParam;
}

bool CGenericServer::WaitedLonger(const CLIENTPARAM& a, const CLIENTPARAM& b, DWORD now) {
    DWORD waitA = now - a.dwWaitingSince;
    DWORD waitB = now - b.dwWaitingSince;
    return waitA > waitB || (waitA == waitB && a.nAccepted < b.nAccepted);
}

// The address's own longest waiting connection makes way once it holds its share; otherwise
// the longest waiting of all, once every place is taken.
bool CGenericServer::MakeRoom(const char* address, CLIENTTHREAD*& freed) {
    int places = 0;
    int fromAddress = 0;
    for (const CLIENTTHREAD& client : m_activeClients) {
        const CLIENTPARAM* place = PlaceOf(client);
        if (!place) continue;
        ++places;
        if (strcmp(place->szAddress, address) == 0) ++fromAddress;
    }
    const char* among = fromAddress >= MAX_CLIENTS_PER_ADDRESS ? address : nullptr;
    if (!among && places < MAX_CLIENTS) return true;
    freed = CloseLongestWaiting(among);
    return freed != nullptr;
}

// Of equal waits, the one accepted first goes. A connection still waiting for its thread is
// closed here; a served one is told to close by its thread.
CGenericServer::CLIENTTHREAD* CGenericServer::CloseLongestWaiting(const char* address) {
    DWORD now = GetTickCount();
    CLIENTTHREAD* longest = nullptr;
    for (CLIENTTHREAD& client : m_activeClients) {
        const CLIENTPARAM* place = PlaceOf(client);
        if (!place || !place->bWaiting) continue;
        if (address && strcmp(place->szAddress, address) != 0) continue;
        if (!longest || WaitedLonger(*place, *PlaceOf(*longest), now)) longest = &client;
    }
    if (!longest) return nullptr;
    if (longest->pNext) {
        closesocket(longest->pNext->socket);
        delete longest->pNext;
        longest->pNext = nullptr;
    } else {
        longest->pParam->bClosing = true;
        WSASetEvent(longest->pParam->hCloseEvent);
    }
    LogCrowding("Too many clients, longest waiting client closed", m_closedLog);
    return longest;
}

void CGenericServer::LogCrowding(const char* message, CROWDLOG& log) {
    ++log.nCount;
    DWORD now = GetTickCount();
    if (log.bLogged && now - log.dwLast < CROWD_LOG_MS) return;
    LogTrace(message, "AddClient", log.nCount);
    log.nCount = 0;
    log.dwLast = now;
    log.bLogged = true;
}

void CGenericServer::SetWaiting(CLIENTPARAM* param, bool waiting) {
    EnterCriticalSection(&m_csClients);
    param->bWaiting = waiting;
    param->dwWaitingSince = GetTickCount();
    LeaveCriticalSection(&m_csClients);
}

unsigned CGenericServer::HelperThread(void* server) {
    static_cast<CGenericServer*>(server)->RunHelper();
    return THREAD_EXIT_CODE;
}

void CGenericServer::RunHelper() {
    SetEvent(m_hHandshakeEvent);
    while (WaitForSingleObject(m_hShutdownEvent, kReapIntervalMs) == WAIT_TIMEOUT) ReapEnded();
}

// Waits outside the lock, so client threads that end meanwhile are not held up.
void CGenericServer::ReapEnded() {
    EnterCriticalSection(&m_csEnded);
    std::vector<ENDEDTHREAD> ended;
    ended.swap(m_endedClients);
    LeaveCriticalSection(&m_csEnded);
    std::vector<ENDEDTHREAD> running;
    for (ENDEDTHREAD& entry : ended) {
        if (WaitForSingleObject(entry.hThread, kStopWaitMs) == WAIT_OBJECT_0) {
            CloseHandle(entry.hThread);
            continue;
        }
        // It cannot be killed: kept for the next round, reported once.
        if (!entry.bReported) LogTrace("WaitForSingleObject(...) timed out", "HelperThread", 0);
        entry.bReported = true;
        running.push_back(entry);
    }
    if (running.empty()) return;
    EnterCriticalSection(&m_csEnded);
    m_endedClients.insert(m_endedClients.end(), running.begin(), running.end());
    LeaveCriticalSection(&m_csEnded);
}

unsigned CGenericServer::ClientThread(void* param) {
    CLIENTPARAM* client = static_cast<CLIENTPARAM*>(param);
    client->pServer->RunClient(client);
    return THREAD_EXIT_CODE;
}

// One connection's state between wake-ups; the event and buffer are the thread's.
struct CGenericServer::CONNECTION {
    CONNECTION(CLIENTPARAM* client, WSAEVENT event, std::vector<char>& receiveBuffer)
        : param(client), socket(client->socket), socketEvent(event), buffer(receiveBuffer) {}

    CLIENTPARAM* param;
    SOCKET socket;
    WSAEVENT socketEvent;
    std::vector<char>& buffer;
    std::string request;
    std::string response;
    bool keepAlive = false;
    DWORD requestStart = 0;  // tick of the first byte of the request being received
    size_t sendPos = 0;
    bool sendPending = false;
    bool readDeferred = false;
};

// Serves param's connection, then each connection handed to the thread meanwhile.
void CGenericServer::RunClient(CLIENTPARAM* param) {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    std::vector<char> buffer(kReceiveBytes);
    WSAEVENT socketEvent = WSACreateEvent();
    if (socketEvent == WSA_INVALID_EVENT)
        LogTrace("WSACreateEvent(...) failure", "ClientThread", WSAGetLastError());
    for (; param; param = NextConnection(param)) {
        CONNECTION conn(param, socketEvent, buffer);
        if (socketEvent == WSA_INVALID_EVENT || !SelectSocketEvents(conn)) continue;
        ServeConnection(conn);
        DrainForClose(conn.socket);
    }
    if (socketEvent != WSA_INVALID_EVENT) WSACloseEvent(socketEvent);
}

// The event may still be set by the thread's previous connection.
bool CGenericServer::SelectSocketEvents(CONNECTION& conn) {
    WSAResetEvent(conn.socketEvent);
    if (WSAEventSelect(conn.socket, conn.socketEvent, FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR) {
        LogTrace("WSAEventSelect(...) failure", "ClientThread", WSAGetLastError());
        return false;
    }
    return true;
}

// Waits for the connection's events until it closes, its place is given up, the server stops or
// a time limit passes.
void CGenericServer::ServeConnection(CONNECTION& conn) {
    // The socket comes last, so a peer that sends without pause cannot hide the other two.
    enum { CLOSE_EVENT, SHUTDOWN_EVENT, SOCKET_EVENT };
    HANDLE events[3] = {conn.param->hCloseEvent, m_hShutdownEvent, conn.socketEvent};
    for (;;) {
        DWORD waitMs = 0;
        if (!RequestTimeLeft(conn, waitMs)) return;
        DWORD wait = WSAWaitForMultipleEvents(3, events, FALSE, waitMs, FALSE);
        if (wait == WSA_WAIT_FAILED) {
            LogTrace("WSAWaitForMultipleEvents(...) failure", "ClientThread", WSAGetLastError());
            return;
        }
        // A place given up is logged by the accept thread.
        if (wait != WSA_WAIT_EVENT_0 + SOCKET_EVENT) return;
        if (!OnSocketEvents(conn)) return;
    }
}

// The wait until the idle time-out or, while a request is being received, its time limit; false
// once that limit has passed.
bool CGenericServer::RequestTimeLeft(const CONNECTION& conn, DWORD& waitMs) {
    waitMs = m_dwTimeoutMs ? m_dwTimeoutMs : WSA_INFINITE;
    if (!m_dwRequestLimitMs || conn.request.empty()) return true;
    DWORD used = GetTickCount() - conn.requestStart;
    if (used >= m_dwRequestLimitMs) {
        LogTrace("Request not complete in time", "ClientThread", static_cast<int>(used));
        return false;
    }
    if (m_dwRequestLimitMs - used < waitMs || waitMs == WSA_INFINITE) waitMs = m_dwRequestLimitMs - used;
    return true;
}

// False ends the connection.
bool CGenericServer::OnSocketEvents(CONNECTION& conn) {
    WSANETWORKEVENTS network{};
    if (WSAEnumNetworkEvents(conn.socket, conn.socketEvent, &network) == SOCKET_ERROR) {
        LogTrace("WSAEnumNetworkEvents(...) failure", "ClientThread", WSAGetLastError());
        return true;
    }
    if ((network.lNetworkEvents & FD_READ) && !ReadOnce(conn)) return false;
    if ((network.lNetworkEvents & FD_WRITE) && conn.sendPending) {
        conn.sendPending = false;
        if (!SendRest(conn)) return false;
        // A request that came while the answer was still going out is read now.
        if (!conn.sendPending && conn.readDeferred) {
            conn.readDeferred = false;
            if (!ReadOnce(conn)) return false;
        }
    }
    return !(network.lNetworkEvents & FD_CLOSE);
}

// Receives once and answers a complete request; false ends the connection.
bool CGenericServer::ReadOnce(CONNECTION& conn) {
    if (conn.sendPending) {
        conn.readDeferred = true;
        return true;
    }
    WSABUF wsaBuffer{static_cast<ULONG>(conn.buffer.size()), conn.buffer.data()};
    DWORD received = 0;
    DWORD flags = 0;
    if (WSARecv(conn.socket, &wsaBuffer, 1, &received, &flags, nullptr, nullptr) == SOCKET_ERROR) {
        if (WSAGetLastError() == WSAEWOULDBLOCK) return true;
        LogTrace("WSARecv(...) failure", "ClientThread", WSAGetLastError());
        return false;
    }
    if (received == 0) return true;
    if (conn.request.empty()) conn.requestStart = GetTickCount();
    conn.request.append(conn.buffer.data(), received);
    if (conn.request.size() > MAX_REQUEST_BYTES) {
        LogTrace("Request too large", "ClientThread", static_cast<int>(conn.request.size()));
        return false;
    }
    int complete = IsRequestComplete(conn.request);
    if (complete < 0) {
        LogTrace("Request refused", "ClientThread", static_cast<int>(conn.request.size()));
        return false;
    }
    return complete ? AnswerRequest(conn) : true;
}

bool CGenericServer::AnswerRequest(CONNECTION& conn) {
    SetWaiting(conn.param, false);
    conn.response.clear();
    if (!ProcessRequest(conn.request, conn.response, conn.keepAlive, conn.param->szAddress)) return false;
    conn.sendPos = 0;
    return SendRest(conn);
}

// Sends from the remembered position; false ends the connection.
bool CGenericServer::SendRest(CONNECTION& conn) {
    while (conn.sendPos < conn.response.size()) {
        size_t piece = conn.response.size() - conn.sendPos;
        if (piece > kSendPieceBytes) piece = kSendPieceBytes;
        WSABUF buffer{static_cast<ULONG>(piece), conn.response.data() + conn.sendPos};
        DWORD sent = 0;
        if (WSASend(conn.socket, &buffer, 1, &sent, 0, nullptr, nullptr) == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK) {
                conn.sendPending = true;
                return true;
            }
            LogTrace("WSASend(...) failure", "ClientThread, Primary Send", WSAGetLastError());
            return false;
        }
        conn.sendPos += sent;
    }
    // Waiting again before the answer counts as sent, so whoever learns of the send sees it.
    if (conn.keepAlive) {
        conn.request.clear();
        SetWaiting(conn.param, true);
    }
    OnDataSent(static_cast<DWORD>(conn.response.size()));
    return conn.keepAlive;
}

// Ends param's connection; returns the connection handed to the thread meanwhile, which takes
// over the thread's close event, or nullptr once the thread has left the list.
CGenericServer::CLIENTPARAM* CGenericServer::NextConnection(CLIENTPARAM* param) {
    closesocket(param->socket);
    DWORD self = GetCurrentThreadId();
    EnterCriticalSection(&m_csClients);
    auto client = std::find_if(m_activeClients.begin(), m_activeClients.end(),
                               [self](const CLIENTTHREAD& c) { return c.dwThreadId == self; });
    bool found = client != m_activeClients.end();
    CLIENTPARAM* next = found ? client->pNext : nullptr;
    if (next) {
        next->hCloseEvent = param->hCloseEvent;
        // Reset under the lock, so that a request to close the next connection is never lost.
        WSAResetEvent(next->hCloseEvent);
        client->pParam = next;
        client->pNext = nullptr;
    } else {
        WSACloseEvent(param->hCloseEvent);
        if (found) EndClient(client);
    }
    delete param;
    LeaveCriticalSection(&m_csClients);
    if (!found) LogTrace("Thread not found in the list", "ClientThread", 0);
    return next;
}

// Under the client lock. Both lists change under it, so a stop never finds the thread in neither.
void CGenericServer::EndClient(std::vector<CLIENTTHREAD>::iterator client) {
    EnterCriticalSection(&m_csEnded);
    m_endedClients.push_back({client->hThread, false});
    LeaveCriticalSection(&m_csEnded);
    m_activeClients.erase(client);
}
