// The csc library: a small blocking TCP/IP client/server layer with numbered connections,
// negative result codes with texts, and the challenge/response pair of the command protocol's
// login. The engine's command server uses the server half, the console client the client half.
//
// attach -> connections (cscClient, or cscServer + cscAcceptConnect) -> cscRelease. A connection
// number indexes a table of 128 entries, of which the first n (cscAttach(n)) are used. Every
// function returns a connection number (>= 0), 1, a byte count or a negative code: the codes
// below, a Windows Sockets error negated, or a socket-layer code (CSCvs.h). Nothing throws.
// Attach and release, and slot allocation, run under the library's locks; one connection is used
// by one thread at a time. Text buffers are 8-bit and always terminated when size >= 1.
// Waits with a time-out wait on the socket itself for the time that is left.
#pragma once

#include "platform/base/WinTypes.h"

#define CSC_OK 1
#define CSC_EOF (-1)
#define CSC_CHECKSUM (-2)
#define CSC_ACCEPT_ERROR (-3)
#define CSC_ALREADY_ATTACHED (-4)
#define CSC_CANNOT_COMPLY (-5)
#define CSC_NO_SUCH_SOCKET (-6)
#define CSC_CONNECT_ERROR (-7)
#define CSC_LISTEN_ERROR (-8)
#define CSC_NO_SUCH_HOST (-9)
#define CSC_NOT_ATTACHED (-10)
#define CSC_NULL_ARGUMENT (-11)
#define CSC_NULL_POINTER (-12)
#define CSC_NO_MEMORY (-13)
#define CSC_BUFFER_SIZE (-14)
#define CSC_TOO_MANY_SOCKETS (-16)
#define CSC_NO_FREE_SOCKETS (-17)

#define CSC_MAX_CONNECTIONS 128
#define CSC_CHALLENGE_LEN 8

// cscGetString and cscGetInteger codes.
#define CSC_STR_LOCAL_ADDRESS 26
#define CSC_STR_REMOTE_ADDRESS 27
#define CSC_STR_ENTRY_TEXT 30
#define CSC_STR_PEER_ADDRESS 32
#define CSC_STR_LAST_ACCEPTED 33
#define CSC_STR_COMPUTER_NAME 34
#define CSC_INT_VERSION 28
#define CSC_INT_BUILD 29
#define CSC_INT_BUFFER_SIZE 35
#define CSC_INT_TABLE_END 36

int cscAttach(int sockets);
int cscClient(const char* host, int port);
// host "" binds to every local address; 1000 (CSCVS_OK) or a negative code.
int cscServer(const char* host, int port);
// 1 when a connection waits on the listening socket (waits at most 1 ms), 0 when not.
int cscAwaitConnect();
int cscAcceptConnect();
int cscAwaitData(int connection, int timeoutMs);
int cscPutData(int connection, const void* data, int count);
// What the socket takes at once, never waiting: the byte count (0 when its send buffer is
// full), or a negative code when the connection is gone. For sockets cscAwaitActivity watches
// (they are non-blocking); room in the buffer wakes no wait, so the caller looks again.
int cscPutDataNow(int connection, const void* data, int count);
// At most size bytes of what has arrived; 0 when nothing has, -1 when the connection is gone.
int cscGetData(int connection, void* buffer, int size);
// connection -1 with CSC_STR_COMPUTER_NAME gives this computer's name (size >= 16).
int cscGetString(int connection, int code, char* buffer, int size);
int cscGetInteger(int code);
int cscErrorText(int code, char* buffer, int size);
// 1 while the connection is still up (no socket error, not at end of data; a full send buffer
// does not count), 0 when it is gone.
int cscIsConnected(int connection);
int cscClose(int connection);
// Closes at once and drops what the peer has not taken (for a peer that reads nothing).
int cscAbort(int connection);
int cscRelease();

// The server's one wait: until stopEvent is signalled, a connection waits on the listening
// socket, or data or a close arrives on a connection, for at most timeoutMs. The first call selects every
// socket onto the library's event, later ones as they come, which makes them non-blocking (cscPutData waits
// for room within its time, cscPutDataNow not at all, and a close never lingers). One thread calls it.
#define CSC_ACTIVITY_STOP 0
#define CSC_ACTIVITY_SOCKETS 1
#define CSC_ACTIVITY_TIMEOUT 2
int cscAwaitActivity(HANDLE stopEvent, DWORD timeoutMs);

// Login: the server sends cscChallenge's text; both ends compute cscResponse of it. out holds
// at least CSC_CHALLENGE_LEN + 1 characters; both return CSC_CHALLENGE_LEN.
int cscChallenge(char* out);
int cscResponse(const char* challenge, char* out);
