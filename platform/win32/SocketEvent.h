// The event of WSACreateEvent and the network-event record of WSAEventSelect (Winsock.h).
//
// CSocketEvent is a manual-reset event (SetEvent, ResetEvent and every wait work on it) that
// also looks at the sockets selected onto it: a wait, or WSAEnumNetworkEvents, records what has
// happened on them, and a recorded event sets it. Its wait descriptor is an epoll set holding
// the event's own descriptor and each socket with only the conditions still to be recorded, so
// a waiter sleeps until something new happens and never spins on a condition already recorded.
// The record of every socket lives in one table under one lock; any thread may call.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/host/EventObject.h"
#include "platform/win32/Winsock.h"

class CSocketEvent : public CEventObject {
   public:
    CSocketEvent();
    ~CSocketEvent() override;

    Acquire TryAcquire() override;
    bool IsSignalled() override;
    int WaitFd() const override;

    // True while no socket on the event has a condition left to record.
    bool Quiet() const;

    // Table side, under the table's lock.
    void Attach(int fd);
    void Detach(int fd);
    void Watch(int fd, uint32_t events);

   private:
    void Refresh();

    // A socket selected onto the event and what the epoll set watches of it (0: not in it).
    struct WATCHED {
        int fd;
        uint32_t events;
    };

    int m_epoll;
    std::vector<WATCHED> m_sockets;
};

namespace zbw {

// Starts (or, with event NULL and mask 0, ends) the selection of s; false with the last error.
bool SelectSocketEvents(SOCKET s, WSAEVENT event, long mask);
// Hands out and clears the record of s; resets event when given. False with the last error.
bool TakeNetworkEvents(SOCKET s, WSAEVENT event, WSANETWORKEVENTS* out);
// A receive, accept or failed send lets the matching event be recorded again.
void RearmSocketEvents(SOCKET s, long events);
// A connect was started on s.
void NoteConnectStarted(SOCKET s);
// Whether s is selected onto an event.
bool IsEventSelected(SOCKET s);
// s is being closed.
void ForgetSocket(SOCKET s);

}  // namespace zbw
