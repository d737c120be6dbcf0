#include <cerrno>

#include "platform/base/WinError.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

DWORD GetLastError() {
    return t_lastError;
}

void SetLastError(DWORD code) {
    t_lastError = code;
}

namespace zbw {

DWORD ErrorFromErrno(int err) {
    switch (err) {
        case 0: return ERROR_SUCCESS;
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS: return ERROR_ACCESS_DENIED;
        case EEXIST: return ERROR_ALREADY_EXISTS;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        case EMFILE:
        case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
        case EBADF: return ERROR_INVALID_HANDLE;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
        case EISDIR: return ERROR_ACCESS_DENIED;
        case EBUSY: return ERROR_SHARING_VIOLATION;
        case ETIMEDOUT: return ERROR_TIMEOUT;
        case EPIPE: return ERROR_BROKEN_PIPE;
        case ENOSPC: return ERROR_WRITE_FAULT;
        case EIO: return ERROR_READ_FAULT;
        default: return ERROR_INVALID_FUNCTION;
    }
}

DWORD SetLastErrorFromErrno() {
    DWORD code = ErrorFromErrno(errno);
    SetLastError(code);
    return code;
}

}  // namespace zbw
