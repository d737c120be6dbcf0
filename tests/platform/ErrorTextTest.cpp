// The system error texts of the layer; fakes nothing.
#include <gtest/gtest.h>

#include "platform/base/CString.h"
#include "platform/base/ErrorText.h"
#include "platform/base/TextConvert.h"

namespace {

// The text FormatMessageW gives for a system code, or "" when it fails.
CString SystemText(DWORD code, DWORD extraFlags = 0) {
    LPWSTR text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_ALLOCATE_BUFFER | extraFlags,
                             nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    CString result = n ? CString(text) : CString();
    if (n) {
        EXPECT_EQ(static_cast<DWORD>(result.GetLength()), n);
    }
    LocalFree(text);
    return result;
}

TEST(ErrorTextTest, SystemTextsHaveTheWindowsWording) {
    const struct {
        DWORD code;
        const char16_t* text;
    } cases[] = {
        {ERROR_FILE_NOT_FOUND, u"The system cannot find the file specified.\r\n"},
        {ERROR_ACCESS_DENIED, u"Access is denied.\r\n"},
        {ERROR_NOT_ENOUGH_MEMORY, u"Not enough memory resources are available to process this command.\r\n"},
        {ERROR_BAD_LENGTH, u"The program issued a command but the command length is incorrect.\r\n"},
        {ERROR_INVALID_PARAMETER, u"The parameter is incorrect.\r\n"},
        {ERROR_INSUFFICIENT_BUFFER, u"The data area passed to a system call is too small.\r\n"},
        {ERROR_ALREADY_EXISTS, u"Cannot create a file when that file already exists.\r\n"},
        {ERROR_SERVICE_ALREADY_RUNNING, u"An instance of the service is already running.\r\n"},
        {ERROR_SERVICE_DOES_NOT_EXIST, u"The specified service does not exist as an installed service.\r\n"},
        {ERROR_SERVICE_NOT_ACTIVE, u"The service has not been started.\r\n"},
        {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT,
         u"The service process could not connect to the service controller.\r\n"},
        {ERROR_SERVICE_EXISTS, u"The specified service already exists.\r\n"},
        {RPC_S_STRING_TOO_LONG, u"The string is too long.\r\n"},
        {ERROR_OBJECT_NOT_FOUND, u"The object identifier does not represent a valid object.\r\n"},
        {WSAECONNREFUSED, u"No connection could be made because the target machine actively refused it.\r\n"},
        {0x80070002u, u"The system cannot find the file specified.\r\n"},
        {0x80070091u, u"The directory is not empty.\r\n"},
        {static_cast<DWORD>(RPC_E_TOO_LATE),
         u"Security must be initialized before any interfaces are marshalled or unmarshalled. It cannot be "
         u"changed once initialized.\r\n"},
        {static_cast<DWORD>(E_FAIL), u"Unspecified error\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(SystemText(c.code), c.text) << c.code;
}

TEST(ErrorTextTest, EveryCodeOfTheLayerHasAText) {
    const DWORD codes[] = {ERROR_SUCCESS,
                           ERROR_INVALID_FUNCTION,
                           ERROR_FILE_NOT_FOUND,
                           ERROR_PATH_NOT_FOUND,
                           ERROR_TOO_MANY_OPEN_FILES,
                           ERROR_ACCESS_DENIED,
                           ERROR_INVALID_HANDLE,
                           ERROR_NOT_ENOUGH_MEMORY,
                           ERROR_OUTOFMEMORY,
                           ERROR_NO_MORE_FILES,
                           ERROR_WRITE_FAULT,
                           ERROR_READ_FAULT,
                           ERROR_SHARING_VIOLATION,
                           ERROR_HANDLE_EOF,
                           ERROR_NOT_SUPPORTED,
                           ERROR_FILE_EXISTS,
                           ERROR_INVALID_PARAMETER,
                           ERROR_BROKEN_PIPE,
                           ERROR_INSUFFICIENT_BUFFER,
                           ERROR_INVALID_NAME,
                           ERROR_MOD_NOT_FOUND,
                           ERROR_PROC_NOT_FOUND,
                           ERROR_DIR_NOT_EMPTY,
                           ERROR_ALREADY_EXISTS,
                           ERROR_FILENAME_EXCED_RANGE,
                           ERROR_MORE_DATA,
                           ERROR_NO_MORE_ITEMS,
                           ERROR_DIRECTORY,
                           ERROR_NOT_OWNER,
                           ERROR_NO_TOKEN,
                           ERROR_BADKEY,
                           ERROR_CANTOPEN,
                           ERROR_CANTREAD,
                           ERROR_CANTWRITE,
                           ERROR_KEY_DELETED,
                           ERROR_SERVICE_REQUEST_TIMEOUT,
                           ERROR_SERVICE_ALREADY_RUNNING,
                           ERROR_SERVICE_DOES_NOT_EXIST,
                           ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
                           ERROR_SERVICE_NOT_ACTIVE,
                           ERROR_FAILED_SERVICE_CONTROLLER_CONNECT,
                           ERROR_SERVICE_EXISTS,
                           ERROR_INVALID_WINDOW_HANDLE,
                           ERROR_CANNOT_FIND_WND_CLASS,
                           ERROR_CLASS_ALREADY_EXISTS,
                           ERROR_INVALID_THREAD_ID,
                           ERROR_TIMEOUT,
                           ERROR_INVALID_DRIVE,
                           ERROR_NOT_SAME_DEVICE,
                           ERROR_BAD_LENGTH,
                           ERROR_HANDLE_DISK_FULL,
                           ERROR_BAD_NETPATH,
                           ERROR_UNEXP_NET_ERR,
                           ERROR_BAD_NET_NAME,
                           ERROR_BUFFER_OVERFLOW,
                           ERROR_DISK_FULL,
                           ERROR_NEGATIVE_SEEK,
                           ERROR_BAD_PATHNAME,
                           ERROR_ENVVAR_NOT_FOUND,
                           ERROR_MR_MID_NOT_FOUND,
                           ERROR_UNABLE_TO_REMOVE_REPLACED,
                           ERROR_UNABLE_TO_MOVE_REPLACEMENT,
                           RPC_S_STRING_TOO_LONG,
                           ERROR_OBJECT_NOT_FOUND,
                           ERROR_BAD_EXE_FORMAT,
                           ERROR_TOO_MANY_POSTS,
                           ERROR_INVALID_ADDRESS,
                           ERROR_MAPPED_ALIGNMENT,
                           ERROR_INVALID_FLAGS,
                           ERROR_BADDB,
                           ERROR_NO_UNICODE_TRANSLATION,
                           ERROR_NO_ASSOCIATION,
                           ERROR_NONE_MAPPED,
                           ERROR_NOT_ENOUGH_QUOTA,
                           WSAEINTR,
                           WSAEBADF,
                           WSAEACCES,
                           WSAEFAULT,
                           WSAEINVAL,
                           WSAEMFILE,
                           WSAEWOULDBLOCK,
                           WSAEINPROGRESS,
                           WSAEALREADY,
                           WSAENOTSOCK,
                           WSAEMSGSIZE,
                           WSAEADDRINUSE,
                           WSAEADDRNOTAVAIL,
                           WSAENETDOWN,
                           WSAENETUNREACH,
                           WSAECONNABORTED,
                           WSAECONNRESET,
                           WSAENOBUFS,
                           WSAEISCONN,
                           WSAENOTCONN,
                           WSAESHUTDOWN,
                           WSAETIMEDOUT,
                           WSAECONNREFUSED,
                           WSAEHOSTUNREACH,
                           WSANOTINITIALISED,
                           WSAHOST_NOT_FOUND,
                           WSATRY_AGAIN,
                           WSANO_RECOVERY,
                           WSANO_DATA,
                           static_cast<DWORD>(E_FAIL),
                           static_cast<DWORD>(E_INVALIDARG),
                           static_cast<DWORD>(E_OUTOFMEMORY),
                           static_cast<DWORD>(E_ACCESSDENIED),
                           static_cast<DWORD>(E_NOTIMPL),
                           static_cast<DWORD>(E_POINTER),
                           static_cast<DWORD>(E_NOINTERFACE),
                           static_cast<DWORD>(E_ABORT),
                           static_cast<DWORD>(E_UNEXPECTED),
                           static_cast<DWORD>(RPC_E_CHANGED_MODE),
                           static_cast<DWORD>(RPC_E_TOO_LATE),
                           static_cast<DWORD>(REGDB_E_CLASSNOTREG),
                           static_cast<DWORD>(CO_E_NOTINITIALIZED)};
    for (DWORD code : codes) {
        CString text = SystemText(code);
        EXPECT_GT(text.GetLength(), 2) << code;
        EXPECT_EQ(text.Right(2), u"\r\n") << code;
        EXPECT_NE(zbw::FindErrorText(code), nullptr) << code;
    }
}

TEST(ErrorTextTest, UnknownCodesFailSoCallersUseTheirOwnText) {
    for (DWORD code : {12345678u, 0x80041234u, 9999u}) {
        SetLastError(0);
        EXPECT_EQ(SystemText(code), u"") << code;
        EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND) << code;
    }
    char16_t buffer[64];
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 2, 0,
                             buffer, 64, nullptr),
              0u);
}

TEST(ErrorTextTest, CallerBuffersMustHoldTheWholeText) {
    char16_t buffer[64];
    DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    EXPECT_EQ(FormatMessageW(flags, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 64, nullptr), 19u);
    EXPECT_EQ(CString(buffer), u"Access is denied.\r\n");
    EXPECT_EQ(FormatMessageW(flags, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 19, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(ErrorTextTest, InsertsAndLineBreaks) {
    EXPECT_EQ(SystemText(ERROR_MR_MID_NOT_FOUND),
              u"The system cannot find message text for message number 0x%1 in the message file for %2.\r\n");
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED, FORMAT_MESSAGE_MAX_WIDTH_MASK), u"Access is denied.");

    char16_t buffer[128];
    DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(u"log"), 42, 255};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                             u"%1 has %2!d! lines, 0x%3!X!%%%n%1%0 ignored", 0, 0, buffer, 128,
                             reinterpret_cast<va_list*>(args));
    EXPECT_EQ(CString(buffer), u"log has 42 lines, 0xFF%\r\nlog");
    EXPECT_EQ(n, static_cast<DWORD>(CString(buffer).GetLength()));
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_STRING, u"needs %1", 0, 0, buffer, 128, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
