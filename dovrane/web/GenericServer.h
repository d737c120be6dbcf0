// CGenericServer: the engine's multi-threaded TCP server base. One listening socket on a port
// (any local address), an accept thread, a helper thread that reaps ended client threads every
// 100 ms, and a client thread at the lowest priority for each connection that holds a place. A
// subclass filters new clients (OnAccept, on the accept thread) and, on the client threads,
// decides when the bytes received form a request (IsRequestComplete) and answers it
// (ProcessRequest). The handlers run concurrently; the subclass serialises what it must. Every
// failure is one trace line (CLog) and never reaches the client except as a closed connection.
//
// Threads: Start, Shutdown and the destructor belong to one owner thread. Start waits up to
// 30000 ms for each of its threads to answer (a thread that ends first, such as an accept thread
// whose port is taken, fails it at once); Shutdown waits 1000 ms for both, then until every
// client thread has left, then up to 1000 ms for each ended client thread.
//
// Kept of the Windows behaviour: the events and waits, the trace texts, the exit code 4660.
// Changed: threads cannot be killed on this host. A thread that outlives a stop is not
// "terminated" (that would only mark its handle ended while it runs on); the server keeps its
// handle instead, Shutdown returns 0, a later Start fails while it runs, and the destructor
// waits for it without limit, so no thread of the server ever runs on freed memory. A subclass
// calls ShutdownAndWait first in its own destructor, because its handlers may still run until
// then. The shutdown and handshake events live as long as the server, so no late thread signals
// or waits on a closed handle. AddClient reports its failures, so the refused socket is closed.
//
// Places: at most MAX_CLIENTS connections are served at once, and at most
// MAX_CLIENTS_PER_ADDRESS of them from one address, so slow or silent peers cannot keep others
// out. A new connection beyond either bound takes the place of the connection that has waited
// longest without sending a whole request (from that address, or from any), which is closed as
// its time limit would close it; when every place holds a request being answered, the new one
// is closed at once. The new connection takes over the closed one's thread too, once that
// thread has let its connection go (at its next wait, or after the request it is answering), so
// admitting it starts no thread: a crowd that reconnects as fast as it is closed cannot keep the
// accept thread busy starting and ending threads while a new client waits behind it. Closed
// and refused connections are logged as counts, the first at once and then at most every
// CROWD_LOG_MS, so that a flood of connections is not slowed down to the pace of the log.
// A receive that brings no bytes does not run the handlers, a request is limited to
// MAX_REQUEST_BYTES, and bytes arriving while a response is still being sent are read only
// once it is complete.
#pragma once

#include <string>
#include <vector>

#include "common/Log.h"
#include "platform/base/WinTypes.h"
#include "platform/win32/SyncApi.h"

class CDebugPrintf;

class CGenericServer : public CLog {
   public:
    static constexpr int MAX_CLIENTS = 64;
    static constexpr int MAX_CLIENTS_PER_ADDRESS = MAX_CLIENTS / 2;
    static constexpr DWORD CROWD_LOG_MS = 10000;
    static constexpr size_t MAX_REQUEST_BYTES = 4000000;
    static constexpr DWORD THREAD_EXIT_CODE = 4660;

    CGenericServer();
    // Traces go to log instead of g_DebugPrintf; it must outlive the server.
    explicit CGenericServer(CDebugPrintf& log);
    ~CGenericServer() override;

    // 1 when both threads answered, else 0 (also while started). timeoutMs 0 = clients may
    // stay idle forever.
    int Start(WORD port, DWORD timeoutMs);
    // 1 when every thread ended in the time allowed (or not started), else 0.
    int Shutdown();

    // Running client threads.
    int GetClientCount();
    // Connections that hold a place: from address, or from all when it is null.
    int GetPlaceCount(const char* address = nullptr);
    bool IsStarted() const { return m_bStarted; }

   protected:
    // A request must be complete within limitMs of its first byte, else the connection
    // closes; 0 = no limit (the default). Set before Start.
    void SetRequestTimeLimit(DWORD limitMs) { m_dwRequestLimitMs = limitMs; }
    // Called on the stopping thread while Shutdown waits for client threads to leave, so a
    // subclass can serve what they wait for (such as messages sent to that thread).
    virtual void OnWaitForClients() {}

    // Shutdown, then waits without limit for every thread the server ever started.
    void ShutdownAndWait();

    // Non-zero accepts the connection.
    virtual int OnAccept(const char* address, int port) = 0;
    virtual int OnDataSent(DWORD bytesSent) = 0;
    // Positive when request (all bytes so far) is complete, 0 while more must come, negative
    // to close the connection without an answer.
    virtual int IsRequestComplete(const std::string& request) = 0;
    // Non-zero sends response; 0 closes the connection without an answer.
    virtual int ProcessRequest(const std::string& request, std::string& response, bool& keepAlive,
                               const char* address) = 0;

   private:
    struct CLIENTPARAM;
    struct CLIENTTHREAD {
        HANDLE hThread;
        DWORD dwThreadId;
        CLIENTPARAM* pParam;  // the connection being served
        CLIENTPARAM* pNext;   // handed over in its place, served once it has closed
    };
    // What a crowd of connections made the server do since its last trace line.
    struct CROWDLOG {
        int nCount = 0;
        DWORD dwLast = 0;
        bool bLogged = false;
    };
    struct ENDEDTHREAD {
        HANDLE hThread;
        bool bReported;
    };

    static unsigned AcceptThread(void* server);
    static unsigned HelperThread(void* server);
    static unsigned ClientThread(void* param);

    // 1 when served, 0 on a failure, -1 when no place could be had (logged as a count).
    int AddClient(UINT_PTR socket, const char* address);
    // Under the client lock: true when a new connection from address may take a place, after
    // closing the longest waiting one where it must; freed is then the thread to serve it.
    bool MakeRoom(const char* address, CLIENTTHREAD*& freed);
    CLIENTTHREAD* CloseLongestWaiting(const char* address);
    static CLIENTPARAM* PlaceOf(const CLIENTTHREAD& client);
    static bool WaitedLonger(const CLIENTPARAM& a, const CLIENTPARAM& b, DWORD now);
    bool StartClient(CLIENTPARAM* param);
    void LogCrowding(const char* message, CROWDLOG& log);
    // Under the client lock: whether the connection waits for a whole request.
    void SetWaiting(CLIENTPARAM* param, bool waiting);
    void RunAccept();
    // False when no connection was waiting (or the accept failed).
    bool AcceptOne(UINT_PTR listenSocket);
    void RunHelper();
    void ReapEnded();
    void RunClient(CLIENTPARAM* param);
    // The steps of a client thread's connection.
    struct CONNECTION;
    bool SelectSocketEvents(CONNECTION& conn);
    void ServeConnection(CONNECTION& conn);
    bool RequestTimeLeft(const CONNECTION& conn, DWORD& waitMs);
    bool OnSocketEvents(CONNECTION& conn);
    bool ReadOnce(CONNECTION& conn);
    bool AnswerRequest(CONNECTION& conn);
    bool SendRest(CONNECTION& conn);
    CLIENTPARAM* NextConnection(CLIENTPARAM* param);
    void EndClient(std::vector<CLIENTTHREAD>::iterator client);

    bool CreateEvents();
    bool StartThread(unsigned (*body)(void*), HANDLE& handle, DWORD& id, const char* failure);
    bool AwaitHandshake(const char* timeoutMessage, HANDLE thread);
    int StopThreads();
    bool StopServerThreads();
    bool StopEndedClients();
    void KeepRunning(HANDLE& thread);
    bool ReapStrays();
    void WaitForEverything();

    HANDLE m_hAcceptThread = nullptr;
    DWORD m_dwAcceptThreadId = 0;
    HANDLE m_hHelperThread = nullptr;
    DWORD m_dwHelperThreadId = 0;
    HANDLE m_hShutdownEvent = nullptr;
    HANDLE m_hHandshakeEvent = nullptr;
    std::vector<CLIENTTHREAD> m_activeClients;
    std::vector<ENDEDTHREAD> m_endedClients;
    // Threads that outlived a stop; waited for before the server's memory goes.
    std::vector<HANDLE> m_strayThreads;
    WORD m_nPort = 0;
    DWORD m_dwTimeoutMs = 0;
    DWORD m_dwRequestLimitMs = 0;
    // Guarded by the client lock.
    CROWDLOG m_refusedLog;
    CROWDLOG m_closedLog;
    unsigned long m_nAccepted = 0;
    CRITICAL_SECTION m_csClients;
    CRITICAL_SECTION m_csEnded;
    bool m_bStarted = false;
};
