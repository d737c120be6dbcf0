#include "common/csc.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "common/CSCvs.h"
#include "platform/base/Clock.h"
#include "platform/win32/Accounts.h"
#include "platform/win32/Wait.h"

namespace {

// Connections wait in the kernel's queue until the server's loop takes them (and, when its slots
// are full, frees a login for them); a short queue drops a new client's connect instead and leaves
// it to the kernel's retry a second later.
constexpr int kBacklog = SOMAXCONN;
constexpr int kPutAttempts = 12;
constexpr DWORD kPutPauseMs = 250;
constexpr DWORD kAwaitConnectMs = 1;
constexpr int kComputerNameSize = 16;
constexpr int kEntryTextSize = 128;

struct CSCCONNECTION {
    int number;
    int slot;  // -1: free
    int state;
    char text[kEntryTextSize];
};

CSCCONNECTION g_connections[CSC_MAX_CONNECTIONS];
int g_attached = 0;
// The event every socket is selected onto once cscAwaitActivity has been called; null before.
WSAEVENT g_activity = nullptr;
std::recursive_mutex g_lock;

void ResetTable() {
    for (int i = 0; i < CSC_MAX_CONNECTIONS; ++i) g_connections[i] = CSCCONNECTION{i, -1, 0, {}};
}

// The entry of a live connection, or the code that refuses it.
int Check(int connection, CSCCONNECTION** entry) {
    if (g_attached == 0) return CSC_NOT_ATTACHED;
    if (connection < 0 || connection >= g_attached || g_connections[connection].slot < 0) {
        return CSC_NO_SUCH_SOCKET;
    }
    *entry = &g_connections[connection];
    return CSC_OK;
}

int FreeEntry() {
    for (int i = 0; i < g_attached; ++i) {
        if (g_connections[i].slot < 0) return i;
    }
    return CSC_NO_FREE_SOCKETS;
}

int Open(int entry, int slot) {
    g_connections[entry].slot = slot;
    g_connections[entry].state = 0;
    g_connections[entry].text[0] = 0;
    return entry;
}

int CopyOut(const char* text, char* buffer, int size) {
    if (size < 1) return 0;
    int length = static_cast<int>(std::strlen(text));
    if (length > size - 1) length = size - 1;
    std::memcpy(buffer, text, static_cast<size_t>(length));
    buffer[length] = 0;
    return length;
}

int ComputerName(char* buffer, int size) {
    if (size < kComputerNameSize) return CSC_BUFFER_SIZE;
    DWORD length = static_cast<DWORD>(size);
    if (!GetComputerNameA(buffer, &length)) return CopyOut("", buffer, size);
    return static_cast<int>(length);
}

}  // namespace

int cscAttach(int sockets) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (g_attached) return CSC_ALREADY_ATTACHED;
    if (sockets > CSC_MAX_CONNECTIONS) return CSC_TOO_MANY_SOCKETS;
    if (sockets < 1) return CSC_CANNOT_COMPLY;
    ResetTable();
    int result = CSCvsAttach();
    if (result != CSCVS_OK) return result;
    g_attached = sockets;
    return CSC_OK;
}

int cscClient(const char* host, int port) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_attached) return CSC_NOT_ATTACHED;
    if (!host) return CSC_NULL_ARGUMENT;
    int slot = CSCvsGetNewSocket();
    if (slot < 0) return slot;
    int entry = FreeEntry();
    if (entry < 0) {
        CSCvsClose(slot);
        return entry;
    }
    int result = CSCvsConnect(slot, host, port);
    if (result != CSCVS_OK) {
        CSCvsClose(slot);
        return result;
    }
    return Open(entry, slot);
}

int cscServer(const char* host, int port) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_attached) return CSC_NOT_ATTACHED;
    if (!host) return CSC_NULL_ARGUMENT;
    if (CSCvsListenSlot() >= 0) CSCvsClose(CSCvsListenSlot());
    int slot = CSCvsGetNewSocket();
    if (slot < 0) return slot;
    int result = CSCvsBind(slot, host, port);
    if (result == CSCVS_OK) result = CSCvsListen(slot, kBacklog);
    if (result != CSCVS_OK) CSCvsClose(slot);
    return result;
}

int cscAwaitConnect() {
    if (!g_attached) return CSC_NOT_ATTACHED;
    int listenSlot = CSCvsListenSlot();
    if (listenSlot < 0) return CSC_NO_SUCH_SOCKET;
    int result = CSCvsWait(listenSlot, CSCVS_WAIT_READ, kAwaitConnectMs);
    return result < 0 ? result : result > 0;
}

int cscAcceptConnect() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_attached) return CSC_NOT_ATTACHED;
    int listenSlot = CSCvsListenSlot();
    if (listenSlot < 0) return CSC_NO_SUCH_SOCKET;
    int slot = CSCvsAccept(listenSlot);
    if (slot < 0) return slot;
    int entry = FreeEntry();
    if (entry < 0) {
        CSCvsClose(slot);
        return entry;
    }
    return Open(entry, slot);
}

int cscAwaitData(int connection, int timeoutMs) {
    CSCCONNECTION* entry;
    int result = Check(connection, &entry);
    if (result != CSC_OK) return result;
    result = CSCvsWait(entry->slot, CSCVS_WAIT_READ, timeoutMs < 0 ? 0 : static_cast<DWORD>(timeoutMs));
    return result < 0 ? result : result > 0;
}

// The attempts' pauses bound a wait for room in the send buffer; a socket with out-of-band data
// pending (the error test) is tried again after a pause, as before.
int cscPutData(int connection, const void* data, int count) {
    CSCCONNECTION* entry;
    int result = Check(connection, &entry);
    if (result != CSC_OK) return result;
    if (!data) return CSC_NULL_POINTER;
    if (count < 1) return CSCVS_NOTHING_TO_SEND;
    const int64_t deadline = zbw::DeadlineAfter(kPutAttempts * kPutPauseMs);
    for (;;) {
        const DWORD remaining = static_cast<DWORD>(zbw::RemainingUntil(deadline));
        const bool pendingError = CSCvsTest(entry->slot, CSCVS_WAIT_ERROR) != 0;
        if (!pendingError) {
            result = CSCvsWait(entry->slot, CSCVS_WAIT_WRITE, remaining);
            if (result == 1) return CSCvsSend(entry->slot, static_cast<const char*>(data), count);
            if (result < 0) return result;
        }
        if (remaining == 0) return CSC_EOF;
        if (pendingError) Sleep(std::min(kPutPauseMs, remaining));
    }
}

int cscPutDataNow(int connection, const void* data, int count) {
    CSCCONNECTION* entry;
    int result = Check(connection, &entry);
    if (result != CSC_OK) return result;
    if (!data) return CSC_NULL_POINTER;
    if (count < 1) return CSCVS_NOTHING_TO_SEND;
    return CSCvsSendNow(entry->slot, static_cast<const char*>(data), count);
}

int cscGetData(int connection, void* buffer, int size) {
    CSCCONNECTION* entry;
    int result = Check(connection, &entry);
    if (result != CSC_OK) return result;
    if (!buffer) return CSC_NULL_POINTER;
    if (size < 1) return CSCVS_NOTHING_TO_SEND;
    if (CSCvsIsLost(entry->slot)) return CSC_EOF;
    if (CSCvsTest(entry->slot, CSCVS_WAIT_READ) != 1) return 0;
    return CSCvsReceive(entry->slot, static_cast<char*>(buffer), size);
}

int cscGetString(int connection, int code, char* buffer, int size) {
    if (!buffer) return CSC_CANNOT_COMPLY;
    if (connection == -1) return code == CSC_STR_COMPUTER_NAME ? ComputerName(buffer, size) : CSC_EOF;
    CSCCONNECTION* entry;
    int result = Check(connection, &entry);
    if (result != CSC_OK) return result;
    switch (code) {
        case CSC_STR_LOCAL_ADDRESS: return CSCvsGetAddress(entry->slot, CSCVS_ADDRESS_LOCAL, buffer, size);
        case CSC_STR_REMOTE_ADDRESS:
        case CSC_STR_PEER_ADDRESS: return CSCvsGetAddress(entry->slot, CSCVS_ADDRESS_REMOTE, buffer, size);
        case CSC_STR_LAST_ACCEPTED:
            return CSCvsGetAddress(entry->slot, CSCVS_ADDRESS_LAST_PEER, buffer, size);
        case CSC_STR_ENTRY_TEXT: return CopyOut(entry->text, buffer, size);
        default: CopyOut("?", buffer, size); return 0;
    }
}

int cscIsConnected(int connection) {
    CSCCONNECTION* entry;
    int result = Check(connection, &entry);
    if (result != CSC_OK) return result;
    return CSCvsIsConnected(entry->slot) ? 1 : 0;
}

int cscClose(int connection) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    CSCCONNECTION* entry;
    int result = Check(connection, &entry);
    if (result != CSC_OK) return result;
    CSCvsClose(entry->slot);
    entry->slot = -1;
    entry->state = 0;
    return CSC_OK;
}

int cscAbort(int connection) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    CSCCONNECTION* entry;
    int result = Check(connection, &entry);
    if (result != CSC_OK) return result;
    CSCvsAbort(entry->slot);
    entry->slot = -1;
    entry->state = 0;
    return CSC_OK;
}

int cscAwaitActivity(HANDLE stopEvent, DWORD timeoutMs) {
    if (!g_attached) return CSC_NOT_ATTACHED;
    if (!g_activity) {
        g_activity = WSACreateEvent();
        if (!g_activity) return CSC_CANNOT_COMPLY;
        CSCvsSetWatchEvent(g_activity);
    }
    const HANDLE handles[2] = {stopEvent, g_activity};
    const DWORD result = WaitForMultipleObjects(2, handles, FALSE, timeoutMs);
    // After a time-out no socket has recorded an event, so there is nothing to take.
    if (result != WAIT_TIMEOUT) CSCvsTakeEvents();
    switch (result) {
        case WAIT_OBJECT_0: return CSC_ACTIVITY_STOP;
        case WAIT_OBJECT_0 + 1: return CSC_ACTIVITY_SOCKETS;
        case WAIT_TIMEOUT: return CSC_ACTIVITY_TIMEOUT;
        default: return CSC_CANNOT_COMPLY;
    }
}

int cscRelease() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_attached) return CSC_OK;
    CSCvsRelease();
    if (g_activity) {
        WSACloseEvent(g_activity);
        g_activity = nullptr;
    }
    ResetTable();
    g_attached = 0;
    return CSC_OK;
}
