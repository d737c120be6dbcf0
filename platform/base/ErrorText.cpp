#include "platform/base/ErrorText.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

namespace zbw {
namespace {

struct SErrorText {
    DWORD code;
    LPCWSTR text;
};

// Sorted by code; the wording is the one Windows prints for US English.
const SErrorText kTexts[] = {
    {0, u"The operation completed successfully."},
    {1, u"Incorrect function."},
    {2, u"The system cannot find the file specified."},
    {3, u"The system cannot find the path specified."},
    {4, u"The system cannot open the file."},
    {5, u"Access is denied."},
    {6, u"The handle is invalid."},
    {8, u"Not enough memory resources are available to process this command."},
    {14, u"Not enough memory resources are available to complete this operation."},
    {15, u"The system cannot find the drive specified."},
    {17, u"The system cannot move the file to a different disk drive."},
    {18, u"There are no more files."},
    {24, u"The program issued a command but the command length is incorrect."},
    {29, u"The system cannot write to the specified device."},
    {30, u"The system cannot read from the specified device."},
    {32, u"The process cannot access the file because it is being used by another process."},
    {38, u"Reached the end of the file."},
    {39, u"The disk is full."},
    {50, u"The request is not supported."},
    {53, u"The network path was not found."},
    {59, u"An unexpected network error occurred."},
    {67, u"The network name cannot be found."},
    {80, u"The file exists."},
    {87, u"The parameter is incorrect."},
    {109, u"The pipe has been ended."},
    {111, u"The file name is too long."},
    {112, u"There is not enough space on the disk."},
    {122, u"The data area passed to a system call is too small."},
    {123, u"The filename, directory name, or volume label syntax is incorrect."},
    {126, u"The specified module could not be found."},
    {127, u"The specified procedure could not be found."},
    {131, u"An attempt was made to move the file pointer before the beginning of the file."},
    {145, u"The directory is not empty."},
    {161, u"The specified path is invalid."},
    {183, u"Cannot create a file when that file already exists."},
    {193, u"%1 is not a valid Win32 application."},
    {203, u"The system could not find the environment option that was entered."},
    {206, u"The filename or extension is too long."},
    {234, u"More data is available."},
    {259, u"No more data is available."},
    {267, u"The directory name is invalid."},
    {288, u"Attempt to release mutex not owned by caller."},
    {298, u"Too many posts were made to a semaphore."},
    {317, u"The system cannot find message text for message number 0x%1 in the message file for %2."},
    {487, u"Attempt to access invalid address."},
    {1004, u"Invalid flags."},
    {1008, u"An attempt was made to reference a token that does not exist."},
    {1009, u"The configuration registry database is corrupt."},
    {1010, u"The configuration registry key is invalid."},
    {1011, u"The configuration registry key could not be opened."},
    {1012, u"The configuration registry key could not be read."},
    {1013, u"The configuration registry key could not be written."},
    {1018, u"Illegal operation attempted on a registry key that has been marked for deletion."},
    {1053, u"The service did not respond to the start or control request in a timely fashion."},
    {1056, u"An instance of the service is already running."},
    {1060, u"The specified service does not exist as an installed service."},
    {1061, u"The service cannot accept control messages at this time."},
    {1062, u"The service has not been started."},
    {1063, u"The service process could not connect to the service controller."},
    {1073, u"The specified service already exists."},
    {1113, u"No mapping for the Unicode character exists in the target multi-byte code page."},
    {1132, u"The base address or the file offset specified does not have the proper alignment."},
    {1155, u"No application is associated with the specified file for this operation."},
    {1175, u"Unable to remove the file to be replaced."},
    {1176,
     u"Unable to move the replacement file to the file to be replaced. The file to be replaced has "
     u"retained its original name."},
    {1300, u"Not all privileges or groups referenced are assigned to the caller."},
    {1332, u"No mapping between account names and security IDs was done."},
    {1400, u"Invalid window handle."},
    {1407, u"Cannot find window class."},
    {1410, u"Class already exists."},
    {1444, u"Invalid thread identifier."},
    {1460, u"This operation returned because the timeout period expired."},
    {1743, u"The string is too long."},
    {1816, u"Not enough quota is available to process this command."},
    {4312, u"The object identifier does not represent a valid object."},
    {10004, u"A blocking operation was interrupted by a call to WSACancelBlockingCall."},
    {10009, u"The file handle supplied is not valid."},
    {10013, u"An attempt was made to access a socket in a way forbidden by its access permissions."},
    {10014,
     u"The system detected an invalid pointer address in attempting to use a pointer argument in a "
     u"call."},
    {10022, u"An invalid argument was supplied."},
    {10024, u"Too many open sockets."},
    {10035, u"A non-blocking socket operation could not be completed immediately."},
    {10036, u"A blocking operation is currently executing."},
    {10037,
     u"An operation was attempted on a non-blocking socket that already had an operation in "
     u"progress."},
    {10038, u"An operation was attempted on something that is not a socket."},
    {10039, u"A required address was omitted from an operation on a socket."},
    {10040,
     u"A message sent on a datagram socket was larger than the internal message buffer or some "
     u"other network limit, or the buffer used to receive a datagram into was smaller than the "
     u"datagram itself."},
    {10041,
     u"A protocol was specified in the socket function call that does not support the semantics of "
     u"the socket type requested."},
    {10042,
     u"An unknown, invalid, or unsupported option or level was specified in a getsockopt or "
     u"setsockopt call."},
    {10043,
     u"The requested protocol has not been configured into the system, or no implementation for it "
     u"exists."},
    {10044, u"The support for the specified socket type does not exist in this address family."},
    {10045, u"The attempted operation is not supported for the type of object referenced."},
    {10047, u"An address incompatible with the requested protocol was used."},
    {10048,
     u"Only one usage of each socket address (protocol/network address/port) is normally "
     u"permitted."},
    {10049, u"The requested address is not valid in its context."},
    {10050, u"A socket operation encountered a dead network."},
    {10051, u"A socket operation was attempted to an unreachable network."},
    {10052,
     u"The connection has been broken due to keep-alive activity detecting a failure while the "
     u"operation was in progress."},
    {10053, u"An established connection was aborted by the software in your host machine."},
    {10054, u"An existing connection was forcibly closed by the remote host."},
    {10055,
     u"An operation on a socket could not be performed because the system lacked sufficient buffer "
     u"space or because a queue was full."},
    {10056, u"A connect request was made on an already connected socket."},
    {10057,
     u"A request to send or receive data was disallowed because the socket is not connected and "
     u"(when sending on a datagram socket using a sendto call) no address was supplied."},
    {10058,
     u"A request to send or receive data was disallowed because the socket had already been shut "
     u"down in that direction with a previous shutdown call."},
    {10060,
     u"A connection attempt failed because the connected party did not properly respond after a "
     u"period of time, or established connection failed because connected host has failed to "
     u"respond."},
    {10061, u"No connection could be made because the target machine actively refused it."},
    {10064, u"A socket operation failed because the destination host was down."},
    {10065, u"A socket operation was attempted to an unreachable host."},
    {10092, u"The Windows Sockets version requested is not supported."},
    {10093, u"Either the application has not called WSAStartup, or WSAStartup failed."},
    {11001, u"No such host is known."},
    {11002,
     u"This is usually a temporary error during hostname resolution and means that the local "
     u"server did not receive a response from an authoritative server."},
    {11003, u"A non-recoverable error occurred during a database lookup."},
    {11004, u"The requested name is valid, but no data of the requested type was found."},
    {0x80004001u, u"Not implemented"},
    {0x80004002u, u"No such interface supported"},
    {0x80004003u, u"Invalid pointer"},
    {0x80004004u, u"Operation aborted"},
    {0x80004005u, u"Unspecified error"},
    {0x8000FFFFu, u"Catastrophic failure"},
    {0x80010106u, u"Cannot change thread mode after it is set."},
    {0x80010119u,
     u"Security must be initialized before any interfaces are marshalled or unmarshalled. It "
     u"cannot be changed once initialized."},
    {0x80040154u, u"Class not registered"},
    {0x800401F0u, u"CoInitialize has not been called."},
};

bool IsWin32Hresult(DWORD code) {
    return (code & 0xFFFF0000u) == 0x80070000u;
}

// Reads one insert argument: from an array of DWORD_PTR, or (strings only) from a va_list.
class CInsertArgs {
   public:
    CInsertArgs(va_list* args, bool isArray) : m_args(args), m_isArray(isArray) {}

    bool Get(int number, DWORD_PTR& value) const {
        if (!m_args || number < 1) return false;
        if (m_isArray) {
            value = reinterpret_cast<const DWORD_PTR*>(m_args)[number - 1];
            return true;
        }
        va_list copy;
        va_copy(copy, *m_args);
        for (int i = 1; i < number; ++i) va_arg(copy, LPCWSTR);
        value = reinterpret_cast<DWORD_PTR>(va_arg(copy, LPCWSTR));
        va_end(copy);
        return true;
    }

   private:
    va_list* m_args;
    bool m_isArray;
};

std::u16string Number(unsigned long long value, bool negative, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string out;
    do {
        out.insert(out.begin(), static_cast<char16_t>(digits[value % base]));
        value /= base;
    } while (value);
    if (negative) out.insert(out.begin(), u'-');
    return out;
}

// One insert by its printf form (the letters between the two "!", "s" by default).
std::u16string FormatInsert(DWORD_PTR value, const std::u16string& form) {
    char16_t kind = form.empty() ? u's' : form.back();
    switch (kind) {
        case u'd':
        case u'i': {
            long long v = form.find(u"I64") != std::u16string::npos || form.find(u'l') != std::u16string::npos
                              ? static_cast<long long>(static_cast<intptr_t>(value))
                              : static_cast<long long>(static_cast<int32_t>(value));
            return Number(v < 0 ? 0ull - static_cast<unsigned long long>(v) : v, v < 0, 10, false);
        }
        case u'u': return Number(value, false, 10, false);
        case u'x': return Number(value, false, 16, false);
        case u'X': return Number(value, false, 16, true);
        case u'c': return std::u16string(1, static_cast<char16_t>(value));
        default: {
            LPCWSTR s = reinterpret_cast<LPCWSTR>(value);
            return s ? std::u16string(s) : std::u16string(u"(null)");
        }
    }
}

// Expands the escapes and, unless ignored, the inserts. False when an insert has no argument.
bool Expand(const std::u16string& text, bool ignoreInserts, bool dropLineBreaks, const CInsertArgs& args,
            std::u16string& out) {
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (dropLineBreaks && (c == u'\r' || c == u'\n')) {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            out += u' ';
            continue;
        }
        if (c != u'%' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        char16_t next = text[i + 1];
        if (next >= u'1' && next <= u'9') {
            size_t end = i + 2;
            if (end < text.size() && text[end] >= u'0' && text[end] <= u'9') ++end;
            std::u16string form;
            size_t formEnd = end;
            if (end < text.size() && text[end] == u'!') {
                size_t close = text.find(u'!', end + 1);
                if (close != std::u16string::npos) {
                    form = text.substr(end + 1, close - end - 1);
                    formEnd = close + 1;
                }
            }
            if (ignoreInserts) {
                out += text.substr(i, formEnd - i);
            } else {
                int number = std::stoi(std::string(text.begin() + i + 1, text.begin() + end));
                DWORD_PTR value = 0;
                if (!args.Get(number, value)) return false;
                out += FormatInsert(value, form);
            }
            i = formEnd - 1;
            continue;
        }
        ++i;
        if (ignoreInserts) {
            out += c;
            out += next;
            continue;
        }
        switch (next) {
            case u'0': return true;
            case u'n': out += u"\r\n"; break;
            case u'r': out += u'\r'; break;
            case u't': out += u'\t'; break;
            case u'b': out += u' '; break;
            default: out += next; break;
        }
    }
    return true;
}

DWORD Deliver(const std::u16string& text, DWORD flags, LPWSTR buffer, DWORD size) {
    DWORD length = static_cast<DWORD>(text.size());
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        DWORD units = std::max<DWORD>(length + 1, size);
        auto* block = static_cast<LPWSTR>(LocalAlloc(LPTR, units * sizeof(char16_t)));
        if (!block) return 0;
        std::copy(text.begin(), text.end(), block);
        *reinterpret_cast<LPWSTR*>(buffer) = block;
        return length;
    }
    if (length + 1 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[length] = 0;
    return length;
}

}  // namespace

LPCWSTR FindErrorText(DWORD code) {
    if (IsWin32Hresult(code)) code &= 0xFFFFu;
    auto it = std::lower_bound(std::begin(kTexts), std::end(kTexts), code,
                               [](const SErrorText& e, DWORD c) { return e.code < c; });
    return it != std::end(kTexts) && it->code == code ? it->text : nullptr;
}

}  // namespace zbw

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    void* mem = (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
    if (!mem) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return mem;
}

HLOCAL LocalFree(HLOCAL mem) {
    std::free(mem);
    return nullptr;
}

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD /*languageId*/, LPWSTR buffer,
                     DWORD size, va_list* arguments) {
    if (!buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string definition;
    if (flags & FORMAT_MESSAGE_FROM_STRING) {
        if (!source) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        definition = static_cast<LPCWSTR>(source);
    } else {
        LPCWSTR text = (flags & FORMAT_MESSAGE_FROM_SYSTEM) ? zbw::FindErrorText(messageId) : nullptr;
        if (!text) {
            SetLastError(ERROR_MR_MID_NOT_FOUND);
            return 0;
        }
        // A system definition ends with a line break, which Windows hands out as "\r\n".
        definition = std::u16string(text) + u"\r\n";
    }
    bool dropLineBreaks = (flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) != 0;
    zbw::CInsertArgs args(arguments, (flags & FORMAT_MESSAGE_ARGUMENT_ARRAY) != 0);
    std::u16string out;
    if (!zbw::Expand(definition, (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0, dropLineBreaks, args, out)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (dropLineBreaks) {
        while (!out.empty() && out.back() == u' ') out.pop_back();
    }
    return zbw::Deliver(out, flags, buffer, size);
}
