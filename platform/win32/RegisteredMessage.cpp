// RegisterWindowMessageW: registered names live in one file of the user part of the emulation
// root, line n holding the name of id 0xC000 + n, so every process of the root agrees.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/CString.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WideChar.h"
#include "platform/base/WinError.h"
#include "platform/host/EmulationRoot.h"
#include "platform/win32/WinUser.h"

namespace {

const UINT kFirstId = 0xC000;
const size_t kMaxNames = 0x10000 - kFirstId;

// Holds the lock on the names file while it is open.
class CNamesFile {
   public:
    CNamesFile()
        : m_fd(open((zbw::UserDir() + "/registered-messages").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
        if (m_fd >= 0 && flock(m_fd, LOCK_EX) != 0) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~CNamesFile() {
        if (m_fd >= 0) close(m_fd);  // also drops the lock
    }
    CNamesFile(const CNamesFile&) = delete;
    CNamesFile& operator=(const CNamesFile&) = delete;

    bool IsOpen() const { return m_fd >= 0; }

    std::vector<std::string> ReadNames() {
        std::string text;
        char buffer[4096];
        ssize_t got;
        lseek(m_fd, 0, SEEK_SET);
        while ((got = read(m_fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
        std::vector<std::string> names;
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            names.push_back(text.substr(start, end - start));
        }
        return names;
    }

    bool Append(const std::string& name) {
        std::string line = name + "\n";
        lseek(m_fd, 0, SEEK_END);
        return write(m_fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    }

   private:
    int m_fd;
};

bool SameName(const std::string& utf8, LPCWSTR name) {
    CString known = zbw::FromUtf8(utf8);
    return zbw::CompareNoCase(std::u16string_view(known.GetString(), known.GetLength()),
                              std::u16string_view(name, zbw::StrLen(name))) == 0;
}

UINT LookUpOrAdd(LPCWSTR name) {
    CNamesFile file;
    if (!file.IsOpen()) {
        zbw::SetLastErrorFromErrno();
        return 0;
    }
    std::vector<std::string> names = file.ReadNames();
    for (size_t i = 0; i < names.size(); ++i) {
        if (SameName(names[i], name)) return kFirstId + static_cast<UINT>(i);
    }
    if (names.size() >= kMaxNames) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (!file.Append(zbw::ToUtf8(name))) {
        zbw::SetLastErrorFromErrno();
        return 0;
    }
    return kFirstId + static_cast<UINT>(names.size());
}

bool HasLineBreak(LPCWSTR name) {
    for (LPCWSTR p = name; *p; ++p) {
        if (*p == u'\n' || *p == u'\r') return true;
    }
    return false;
}

}  // namespace

UINT RegisterWindowMessageW(LPCWSTR name) {
    if (!name || !*name || HasLineBreak(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    return LookUpOrAdd(name);
}
