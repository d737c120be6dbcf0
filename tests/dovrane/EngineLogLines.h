// The engine log of a test process, for tests that check log lines: the process's debug log can
// be opened only once, so it is opened at the first use in a file of its own (removed at exit)
// and a test reads the lines written since it made its CEngineLogLines.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/DebugPrintf.h"
#include "platform/base/TextConvert.h"
#include "platform/host/PathMap.h"
#include "tests/support/TestRoot.h"

namespace zbtest {

// UTF-16LE bytes (after a mark, when there is one) as UTF-8.
inline std::string FromUtf16Le(const std::string& bytes) {
    size_t start = bytes.compare(0, 2, "\xFF\xFE") == 0 ? 2 : 0;
    std::u16string text;
    for (size_t i = start; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    return zbw::ToUtf8(text);
}

class CEngineLogLines {
   public:
    CEngineLogLines() : m_skip(All().size()) {}

    // The lines since construction, without their prefix.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines = All();
        lines.erase(lines.begin(), lines.begin() + static_cast<long>(std::min(m_skip, lines.size())));
        return lines;
    }
    bool Has(const std::string& line) const {
        for (const std::string& logged : Lines())
            if (logged == line) return true;
        return false;
    }

   private:
    // Never destroyed, so the removal at exit still finds it.
    static const std::string& Path() {
        static const std::string* path = [] {
            auto* file = new std::string("/tmp/zbtest-engine-" + std::to_string(getpid()) + ".log");
            g_DebugPrintf.Init(zbw::ToWindowsPath(*file));
            std::atexit([] { std::remove(Path().c_str()); });
            return file;
        }();
        return *path;
    }
    static std::vector<std::string> All() {
        std::string text = FromUtf16Le(ReadHostFile(Path()));
        std::vector<std::string> lines;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find("\r\n", pos);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(pos, end - pos);
            size_t prefix = line.find("] ");
            lines.push_back(prefix == std::string::npos ? line : line.substr(prefix + 2));
            pos = end + 2;
        }
        return lines;
    }

    size_t m_skip;
};

}  // namespace zbtest
