// zbpagecrypt: copies the engine's page folder and beside every page except gif images writes
// its encrypted form (the name followed by ".zbengine"), which the engine reads unless its
// registry switch asks for plain pages. Every encrypted form is decrypted again and compared,
// so a page the string encryption cannot hold whole fails the build instead of the engine.
//
//   zbpagecrypt <source folder> <target folder>
//
// Exit code 0 when every file was written, 1 on a file it could not read, write or encrypt.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/EncryptString.h"
#include "platform/base/TextConvert.h"

namespace fs = std::filesystem;

namespace {

bool ReadBytes(const fs::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    bytes = text.str();
    return true;
}

bool WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

// The encrypted form of a page stored as UTF-8; empty when it does not decrypt back whole.
std::string Encrypt(const std::string& page) {
    CString text = zbw::FromUtf8(page);
    CString encrypted = EncryptStringWithMarker(text);
    if (encrypted.IsEmpty() || DecryptStringWithMarker(encrypted) != text) return std::string();
    return zbw::ToAnsi(encrypted.GetStdString());
}

bool CopyOne(const fs::path& from, const fs::path& to) {
    std::string bytes;
    if (!ReadBytes(from, bytes) || !WriteBytes(to, bytes)) {
        std::fprintf(stderr, "zbpagecrypt: cannot copy %s\n", from.c_str());
        return false;
    }
    if (from.extension() == ".gif") return true;
    std::string encrypted = bytes.empty() ? std::string() : Encrypt(bytes);
    if ((encrypted.empty() && !bytes.empty()) || !WriteBytes(to.string() + ".zbengine", encrypted)) {
        std::fprintf(stderr, "zbpagecrypt: cannot encrypt %s\n", from.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zbpagecrypt <source folder> <target folder>\n");
        return 1;
    }
    fs::path source(argv[1]), target(argv[2]);
    std::error_code error;
    bool ok = true;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(source, error)) {
        fs::path relative = fs::relative(entry.path(), source);
        if (entry.is_directory()) {
            fs::create_directories(target / relative, error);
        } else if (entry.is_regular_file()) {
            fs::create_directories((target / relative).parent_path(), error);
            ok = CopyOne(entry.path(), target / relative) && ok;
        }
    }
    if (error) {
        std::fprintf(stderr, "zbpagecrypt: %s: %s\n", source.c_str(), error.message().c_str());
        return 1;
    }
    return ok ? 0 : 1;
}
