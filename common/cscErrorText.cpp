#include <cstdio>
#include <cstring>

#include "common/csc.h"

namespace {

// The version banner; cscGetInteger reads its digits as hexadecimal.
const char kBanner[] = "$VER 0301 BLD 0004 NOV05 CSC$";
constexpr int kTableEnd = 999;
constexpr int kBufferSize = 4096;

struct CSCERRORTEXT {
    int code;
    const char* text;
};

const CSCERRORTEXT kTexts[] = {
    {1, "No error."},
    {-1, "EOF."},
    {-2, "Internal checksum fails!"},
    {-3, "Accept error."},
    {-4, "Already attached."},
    {-5, "Cannot comply."},
    {-6, "No such socket."},
    {-7, "Connect error."},
    {-8, "Listen error."},
    {-9, "No such host."},
    {-10, "Not attached."},
    {-11, "Null argument."},
    {-12, "Null pointer."},
    {-13, "Cannot allocate memory."},
    {-14, "Buffer size error."},
    {-15, "CRC error."},
    {-16, "Too many sockets."},
    {-17, "No free sockets."},
    {-18, "No such file."},
    {-19, "File format protocol error."},
    {-20, "File name only allowed."},
    {-21, "Packet timeout"},
    {-22, "Packet error"},
    {-23, "File transfer cancelled"},
    {-24, "File too large"},
    {-10004, "Interrupted system call."},
    {-10009, "Bad file number."},
    {-10013, "Access denied."},
    {-10014, "Bad address."},
    {-10022, "Invalid argument."},
    {-10024, "Too many open files."},
    {-10035, "Would block socket in non-blocking mode."},
    {-10036, "Blocking call already in progress."},
    {-10037, "Operation already completed."},
    {-10038, "Not a valid socket"},
    {-10039, "Destination address required."},
    {-10040, "Message too big for buffer."},
    {-10041, "Protocol mismatch."},
    {-10042, "Protocol option invalid."},
    {-10043, "Protocol not supported."},
    {-10044, "Socket type not supported."},
    {-10045, "Socket operation not supported."},
    {-10047, "Socket address family not supported."},
    {-10048, "Socket address already in use."},
    {-10049, "Socket address not available."},
    {-10050, "Network error."},
    {-10051, "Cannot reach network."},
    {-10052, "Connection dropped."},
    {-10053, "Connection timed-out or aborted."},
    {-10054, "Connection reset by remote host."},
    {-10055, "Out of buffer space."},
    {-10056, "Socket already connected."},
    {-10057, "Socket not connected."},
    {-10058, "Socket functionality shut down."},
    {-10060, "Timed-out attempting to connect."},
    {-10061, "Connection refused by remote host."},
    {-10064, "Host is down"},
    {-10065, "No route to host"},
    {-10091, "Network not yet ready."},
    {-10092, "WINSOCK doesn't support requested version."},
    {-10093, "Sockets not initialized. Call WSAStartup."},
    {-11001, "Host does not exist."},
    {-11002, "Host not found. Try again."},
    {-11003, "Non-recoverable error has occurred."},
    {-11004, "No data is available."},
    {kTableEnd, ""},
};

// The hexadecimal value of the four digits after a marker of the banner.
int BannerNumber(const char* marker) {
    const char* at = std::strstr(kBanner, marker);
    unsigned value = 0;
    if (at && std::sscanf(at + std::strlen(marker), "%4x", &value) != 1) value = 0;
    return static_cast<int>(value);
}

}  // namespace

int cscErrorText(int code, char* buffer, int size) {
    if (!buffer) return CSC_NULL_POINTER;
    if (size < 1) return 0;
    const char* text = "";
    for (const CSCERRORTEXT* entry = kTexts; entry->code != kTableEnd; ++entry) {
        if (entry->code == code) text = entry->text;
    }
    int length = static_cast<int>(std::strlen(text));
    if (length > size - 1) length = size - 1;
    std::memcpy(buffer, text, static_cast<size_t>(length));
    buffer[length] = 0;
    return length;
}

int cscGetInteger(int code) {
    switch (code) {
        case CSC_INT_VERSION: return BannerNumber("$VER ");
        case CSC_INT_BUILD: return BannerNumber(" BLD ");
        case CSC_INT_BUFFER_SIZE: return kBufferSize;
        case CSC_INT_TABLE_END: return kTableEnd;
        default: return -1;
    }
}
