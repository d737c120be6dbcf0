#include "platform/win32/ShellExecute.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/base/CString.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/host/PathMap.h"
#include "platform/win32/Process.h"

namespace {

// What ShellExecuteW returns on success: any value above 32.
const uintptr_t kSuccess = 42;
// ShellExecute's answer for a file that is not a valid program (ERROR_BAD_FORMAT).
const int kBadFormat = 11;

struct ShellOutcome {
    int seCode;  // 0 on success
    CKernelRef process;
};

int SeCodeFor(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND: return SE_ERR_FNF;
        case ERROR_PATH_NOT_FOUND: return SE_ERR_PNF;
        case ERROR_ACCESS_DENIED: return SE_ERR_ACCESSDENIED;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return SE_ERR_OOM;
        case ERROR_BAD_EXE_FORMAT: return kBadFormat;
        default: return SE_ERR_NOASSOC;
    }
}

ShellOutcome Fail(DWORD error) {
    SetLastError(error);
    return {SeCodeFor(error), CKernelRef()};
}

ShellOutcome Started(const CKernelRef& process) {
    if (!process) return {SeCodeFor(GetLastError()), CKernelRef()};
    SetLastError(ERROR_SUCCESS);
    return {0, process};
}

bool IsOpenVerb(LPCWSTR verb) {
    return !verb || !*verb || CString(verb).CompareNoCase(u"open") == 0;
}

bool IsAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// "scheme://..." with a scheme of two letters or more (one letter is a drive), or "mailto:".
bool IsUrl(LPCWSTR file) {
    size_t n = 0;
    while (IsAsciiLetter(file[n]) || (n > 0 && (file[n] == u'+' || file[n] == u'-' || file[n] == u'.'))) ++n;
    if (n >= 2 && file[n] == u':' && file[n + 1] == u'/' && file[n + 2] == u'/') return true;
    return CString(std::u16string(file, n)).CompareNoCase(u"mailto") == 0 && file[n] == u':';
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ERROR_SUCCESS when path exists, else whether the file or a folder on the way is missing.
DWORD MissingError(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) return ERROR_SUCCESS;
    if (errno != ENOENT && errno != ENOTDIR) return zbw::ErrorFromErrno(errno);
    size_t slash = path.rfind('/');
    std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    return errno == ENOENT && IsFolder(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// An executable file that the kernel can start by itself.
bool IsProgram(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(path.c_str(), X_OK) != 0) return false;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char head[4] = {};
    ssize_t n = read(fd, head, sizeof head);
    close(fd);
    return (n == 4 && head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') ||
           (n >= 2 && head[0] == '#' && head[1] == '!');
}

ShellOutcome OpenWithDesktop(const std::string& target, const std::string& folder) {
    std::string opener = zbw::FindHostProgram("xdg-open");
    if (opener.empty()) return Fail(ERROR_NO_ASSOCIATION);
    return Started(zbw::StartHostProcess(opener, {opener, target}, folder));
}

ShellOutcome Open(LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory) {
    if (!IsOpenVerb(verb)) return Fail(ERROR_NO_ASSOCIATION);
    if (!file || !*file) return Fail(ERROR_FILE_NOT_FOUND);
    std::string folder;
    if (directory && *directory) {
        folder = zbw::ToHostPath(CString(directory));
        if (!IsFolder(folder)) return Fail(ERROR_PATH_NOT_FOUND);
    }
    if (IsUrl(file)) return OpenWithDesktop(zbw::ToUtf8(file), folder);
    std::string host = zbw::ToHostProgramPath(CString(file));
    DWORD missing = MissingError(host);
    if (missing != ERROR_SUCCESS) return Fail(missing);
    if (!IsProgram(host)) return OpenWithDesktop(host, folder);
    std::vector<std::string> argv{host};
    for (const std::u16string& arg : zbw::SplitArguments(parameters))
        argv.push_back(zbw::ToUtf8(arg.c_str()));
    return Started(zbw::StartHostProcess(host, argv, folder));
}

}  // namespace

HINSTANCE ShellExecuteW(HWND, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters, LPCWSTR lpDirectory,
                        INT) {
    ShellOutcome outcome = Open(lpOperation, lpFile, lpParameters, lpDirectory);
    return reinterpret_cast<HINSTANCE>(outcome.seCode ? static_cast<uintptr_t>(outcome.seCode) : kSuccess);
}

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo) {
    if (!pExecInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    pExecInfo->hProcess = nullptr;
    ShellOutcome outcome =
        Open(pExecInfo->lpVerb, pExecInfo->lpFile, pExecInfo->lpParameters, pExecInfo->lpDirectory);
    pExecInfo->hInstApp =
        reinterpret_cast<HINSTANCE>(outcome.seCode ? static_cast<uintptr_t>(outcome.seCode) : kSuccess);
    if (outcome.seCode) return FALSE;
    if (pExecInfo->fMask & SEE_MASK_NOCLOSEPROCESS)
        pExecInfo->hProcess = zbw::NewHandle(outcome.process.Get());
    return TRUE;
}
