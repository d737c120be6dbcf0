// The socket layer of the csc library: six numbered socket slots over Windows Sockets, used only
// by the upper layer (csc.h). Every readiness test is a zero-time-out select on one socket; a
// wait with a time-out is one select on the socket for that time. Slots may be watched by an
// event (WSAEventSelect), which makes their sockets non-blocking: CSCvsSend then waits for room
// in the send buffer for at most 3 s before it fails, CSCvsSendNow does not wait. Results: CSCVS_OK (1000), a
// slot number, a byte count, or a negative code (a Windows Sockets error negated, or one of the -10xx codes
// below).
//
// Slot allocation runs under the layer's lock; one slot is used by one thread at a time.
// Windows' "blocking call in progress" waits are left out: there are no blocking hooks here.
#pragma once

#include "platform/win32/Winsock.h"

#define CSCVS_OK 1000
#define CSCVS_SLOTS 6
#define CSCVS_HOST_MAX 127

#define CSCVS_NO_ACCEPT_SLOT (-1001)
#define CSCVS_NO_FREE_SLOT (-1002)
#define CSCVS_BAD_SLOT (-1003)
#define CSCVS_BAD_WAIT (-1004)
#define CSCVS_NO_SOCKET (-1005)
#define CSCVS_ZERO_ADDRESS (-1007)
#define CSCVS_HOST_TOO_LONG (-1008)
#define CSCVS_NOTHING_TO_SEND (-1010)

enum { CSCVS_WAIT_READ = 0, CSCVS_WAIT_WRITE = 1, CSCVS_WAIT_ERROR = 2 };
enum { CSCVS_ADDRESS_LOCAL = 0, CSCVS_ADDRESS_REMOTE = 1, CSCVS_ADDRESS_LAST_PEER = 2 };

// Frees every slot and starts Windows Sockets (1.1); CSCVS_OK or the start-up code negated.
int CSCvsAttach();
// Closes every slot and ends Windows Sockets.
int CSCvsRelease();
// A new stream socket in the first free slot: the slot number, -1002 or -1005.
int CSCvsGetNewSocket();
// Dotted IPv4 text or a host name; the address in host order.
int CSCvsResolve(const char* host, ULONG* address);
int CSCvsConnect(int slot, const char* host, int port);
// An empty host binds to every local address.
int CSCvsBind(int slot, const char* host, int port);
// Makes the slot the listening slot.
int CSCvsListen(int slot, int backlog);
// The slot of the accepted connection; -1001 (the connection closed) when no slot is free.
int CSCvsAccept(int listenSlot);
// The listening slot, or -1.
int CSCvsListenSlot();
// 1 ready, 0 not ready, or a negative code.
int CSCvsTest(int slot, int kind);
int CSCvsWait(int slot, int kind, DWORD timeoutMs);
// Sends every byte (blocking); the count, or the error negated with the slot marked lost.
int CSCvsSend(int slot, const char* data, int count);
// What a watched (non-blocking) socket takes at once: the count, 0 when its buffer is full, or
// the error negated with the slot marked lost.
int CSCvsSendNow(int slot, const char* data, int count);
// One receive of at most size bytes; 0 bytes marks the slot lost and gives -1.
int CSCvsReceive(int slot, char* buffer, int size);
// Closes and frees the slot. A blocking socket lingers up to 500 s for unsent data; a watched
// one returns at once and the system sends the rest.
int CSCvsClose(int slot);
// Closes at once, dropping unsent data (a reset), and frees the slot.
int CSCvsAbort(int slot);
// Selects accepts, arriving data and closes of every socket, now and later ones, onto event
// (null: none from now on). Release forgets it.
void CSCvsSetWatchEvent(WSAEVENT event);
// Takes the recorded network events of every used slot, so the event stays reset until something
// new happens.
void CSCvsTakeEvents();
// Marked lost, or its socket holds an error (which marks it lost).
bool CSCvsIsLost(int slot);
// Not lost and not at end of data.
bool CSCvsIsConnected(int slot);
// "%d.%d.%d.%d" of one of the slot's addresses into buffer (size > 16); the length, 0 when
// there is none, or a negative code.
int CSCvsGetAddress(int slot, int which, char* buffer, int size);
