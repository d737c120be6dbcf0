// The host's socket calls behind Windows Sockets (Winsock.cpp, SocketEvent.cpp), kept apart
// because the host socket headers and Winsock.h cannot meet in one source file.
//
// Addresses are passed as bytes: the Windows IPv4 record and the host's have the same layout.
// Levels and option names are the Windows ones and are translated here. Every call returns -1
// with errno set on failure, as the host does; descriptors are made close-on-exec. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zbw::host {

int Socket(int af, int type, int protocol);
// Stream sockets get SO_REUSEADDR first.
int Bind(int fd, const void* addr, int len);
int Listen(int fd, int backlog);
int Accept(int fd, void* addr, int* len);
int Connect(int fd, const void* addr, int len);
long Send(int fd, const void* buf, size_t len, int flags);
long Recv(int fd, void* buf, size_t len, int flags);
long SendTo(int fd, const void* buf, size_t len, int flags, const void* to, int tolen);
long RecvFrom(int fd, void* buf, size_t len, int flags, void* from, int* fromlen);
int Shutdown(int fd, int how);
int Close(int fd);
int SetNonBlocking(int fd, bool on);
bool IsNonBlocking(int fd);
bool IsListening(int fd);
// Bytes waiting to be read.
int PendingBytes(int fd, int* count);
// The pending error of the socket, cleared (an errno value, 0 for none).
int TakeSocketError(int fd);
int SetOption(int fd, int level, int name, const char* value, int len);
int GetOption(int fd, int level, int name, char* value, int* len);
int SockName(int fd, void* addr, int* len);
int PeerName(int fd, void* addr, int* len);
// poll() of one descriptor: the events seen (POLLIN ...), 0 on time-out, -1 on failure.
int PollOne(int fd, short events, int timeoutMs);

// IPv4 look-up: the addresses in network order and the canonical name. Returns 0 or a
// Windows Sockets code (WSAHOST_NOT_FOUND, WSATRY_AGAIN, WSANO_RECOVERY, WSANO_DATA).
int ResolveIPv4(const char* name, std::vector<uint32_t>& addrs, std::string& canonical);

}  // namespace zbw::host
