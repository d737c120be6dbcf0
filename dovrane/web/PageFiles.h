// CPageFiles: the web server's page folder. It maps a request path onto a file inside the
// folder and never outside it, reads the file through a cache keyed on its last-write time and
// size, and decrypts it when the pages are kept encrypted (the stored name then ends
// ".zbengine", except for gif images). Cached texts are bytes: an encrypted text is decrypted
// once and kept as UTF-8, a plain file as it is on disk.
//
// Threads: the server calls Load under its own lock, one request at a time; Configure belongs to
// the owner while no request runs. Failures: Load returns false for a path it refuses and for a
// file it cannot open or read; nothing is cached then.
#pragma once

#include <map>
#include <string>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

class CPageFiles {
   public:
    static constexpr const char* kEncryptedSuffix = ".zbengine";

    void Configure(const CString& folder, bool encrypted);
    bool IsEncrypted() const { return m_bEncrypted; }

    // The file name of a request path ("/status.htm"), or false when the path could leave the
    // folder: after percent-decoding it must start with "/", hold no backslash, colon or control
    // character, and no segment may be "." or "..".
    bool MapPath(const std::string& requestPath, CString& fileName) const;

    // The bytes of the file of a request path; fromCache tells whether the cache served them.
    bool Load(const std::string& requestPath, std::string& bytes, bool* fromCache = nullptr);

    // How encrypted page bytes become the page's UTF-8 text; a text that is not encrypted data
    // stays as it is.
    static std::string DecryptPage(const std::string& stored);

   private:
    struct CACHED {
        std::string bytes;
        FILETIME lastWrite;
        ULONGLONG size;
    };

    CString m_strFolder;
    bool m_bEncrypted = true;
    std::map<CString, CACHED> m_cache;
};
