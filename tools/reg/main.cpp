// reg: reads and changes the emulated registry from the command line, in the manner of the
// Windows tool, for operators and tests. Keys are HKLM\... or HKCU\... (also spelt
// HKEY_LOCAL_MACHINE\..., HKEY_CURRENT_USER\...). Arguments and output are UTF-8.
//
//   reg query KEY [/v NAME | /ve] [/s]
//   reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   reg delete KEY [/v NAME | /ve | /va] [/f]
//
// Exit code 0 on success, 1 on failure with the reason on standard error.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/base/CString.h"
#include "platform/base/ErrorText.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WideChar.h"
#include "platform/win32/Registry.h"

namespace {

const char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.";

struct REGTYPE {
    DWORD type;
    const char16_t* name;
};
const REGTYPE kTypes[] = {{REG_SZ, u"REG_SZ"},
                          {REG_EXPAND_SZ, u"REG_EXPAND_SZ"},
                          {REG_MULTI_SZ, u"REG_MULTI_SZ"},
                          {REG_DWORD, u"REG_DWORD"},
                          {REG_QWORD, u"REG_QWORD"},
                          {REG_BINARY, u"REG_BINARY"},
                          {REG_NONE, u"REG_NONE"},
                          {REG_DWORD_BIG_ENDIAN, u"REG_DWORD_BIG_ENDIAN"}};

struct COMMAND {
    std::u16string operation;
    HKEY root = nullptr;
    std::u16string rootName;  // long form, for output
    std::u16string path;      // below the root, without leading or trailing "\"
    bool hasValue = false;    // /v or /ve given
    std::u16string valueName;
    bool allValues = false;
    bool recurse = false;
    bool force = false;
    std::u16string type = u"REG_SZ";
    std::u16string data;
    std::u16string separator = u"\\0";
};

bool SameNoCase(const std::u16string& a, const std::u16string& b) {
    return zbw::CompareNoCase(a, b) == 0;
}

std::string Utf8(const std::u16string& text) {
    return zbw::ToUtf8(text);
}

int Fail(const std::string& message) {
    std::cerr << message << "\n";
    return 1;
}

int FailWith(LONG rc) {
    if (rc == static_cast<LONG>(ERROR_FILE_NOT_FOUND)) return Fail(kNotFound);
    LPCWSTR text = zbw::FindErrorText(static_cast<DWORD>(rc));
    return Fail("ERROR: " + (text ? zbw::ToUtf8(text) : "registry error " + std::to_string(rc) + "."));
}

int SyntaxError(const std::u16string& operation) {
    std::u16string upper = operation;
    for (char16_t& c : upper) c = zbw::ToUpper(c);
    return Fail("ERROR: Invalid syntax.\nType \"REG " + Utf8(upper) + " /?\" for usage.");
}

bool SplitKey(const std::u16string& key, COMMAND* cmd) {
    const size_t slash = key.find(u'\\');
    const std::u16string root = key.substr(0, slash);
    if (SameNoCase(root, u"HKLM") || SameNoCase(root, u"HKEY_LOCAL_MACHINE")) {
        cmd->root = HKEY_LOCAL_MACHINE;
        cmd->rootName = u"HKEY_LOCAL_MACHINE";
    } else if (SameNoCase(root, u"HKCU") || SameNoCase(root, u"HKEY_CURRENT_USER")) {
        cmd->root = HKEY_CURRENT_USER;
        cmd->rootName = u"HKEY_CURRENT_USER";
    } else {
        return false;
    }
    cmd->path = slash == std::u16string::npos ? std::u16string() : key.substr(slash + 1);
    while (!cmd->path.empty() && cmd->path.back() == u'\\') cmd->path.pop_back();
    return true;
}

// The switches after the key; false on an unknown or incomplete one.
bool ParseSwitches(const std::vector<std::u16string>& args, COMMAND* cmd) {
    for (size_t i = 3; i < args.size(); ++i) {
        std::u16string sw = args[i];
        if (sw.size() < 2 || (sw[0] != u'/' && sw[0] != u'-')) return false;
        sw = sw.substr(1);
        const bool hasNext = i + 1 < args.size();
        if (SameNoCase(sw, u"f")) {
            cmd->force = true;
        } else if (SameNoCase(sw, u"ve")) {
            cmd->hasValue = true;
            cmd->valueName.clear();
        } else if (SameNoCase(sw, u"va")) {
            cmd->allValues = true;
        } else if (SameNoCase(sw, u"s") && !SameNoCase(cmd->operation, u"add")) {
            cmd->recurse = true;
        } else if (!hasNext) {
            return false;
        } else if (SameNoCase(sw, u"v")) {
            cmd->hasValue = true;
            cmd->valueName = args[++i];
        } else if (SameNoCase(sw, u"t")) {
            cmd->type = args[++i];
        } else if (SameNoCase(sw, u"d")) {
            cmd->data = args[++i];
        } else if (SameNoCase(sw, u"s")) {
            cmd->separator = args[++i];
        } else {
            return false;
        }
    }
    return true;
}

std::u16string KeyText(const COMMAND& cmd, const std::u16string& path) {
    return path.empty() ? cmd.rootName : cmd.rootName + u"\\" + path;
}

std::u16string TypeName(DWORD type) {
    for (const REGTYPE& t : kTypes) {
        if (t.type == type) return t.name;
    }
    return u"REG_" + std::u16string(zbw::FromUtf8(std::to_string(type)).GetString());
}

std::u16string Units(const std::vector<BYTE>& data) {
    std::u16string units;
    for (size_t i = 0; i + 1 < data.size(); i += 2)
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    return units;
}

std::string DataText(DWORD type, const std::vector<BYTE>& data) {
    char buf[32];
    uint64_t n = 0;
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            std::u16string text = Units(data);
            return Utf8(text.substr(0, text.find(u'\0')));
        }
        case REG_MULTI_SZ: {
            std::u16string text = Units(data);
            while (!text.empty() && text.back() == 0) text.pop_back();
            std::string out;
            for (char16_t c : text) out += c == 0 ? std::string("\\0") : Utf8(std::u16string(1, c));
            return out;
        }
        case REG_DWORD:
        case REG_QWORD:
            if (data.size() == (type == REG_DWORD ? 4u : 8u)) {
                for (size_t i = data.size(); i-- > 0;) n = (n << 8) | data[i];
                std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(n));
                return buf;
            }
            break;
        default: break;
    }
    std::string hex;
    for (BYTE b : data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        hex += buf;
    }
    return hex;
}

void PrintValue(const std::u16string& name, DWORD type, const std::vector<BYTE>& data) {
    std::cout << "    " << (name.empty() ? std::string("(Default)") : Utf8(name)) << "    "
              << Utf8(TypeName(type)) << "    " << DataText(type, data) << "\n";
}

LONG ReadValue(HKEY key, const std::u16string& name, DWORD* type, std::vector<BYTE>* data) {
    DWORD size = 0;
    LONG rc = RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
    if (rc != ERROR_SUCCESS) return rc;
    data->assign(size, 0);
    rc = RegQueryValueExW(key, name.c_str(), nullptr, type, data->data(), &size);
    data->resize(size);
    return rc;
}

bool Confirm(const std::string& question) {
    std::cout << question << " (Yes/No)? " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

// Prints one key's values, and its subkeys' names unless the query recurses; returns the subkeys.
std::vector<std::u16string> PrintKey(const COMMAND& cmd, HKEY key, const std::u16string& path) {
    std::cout << "\n" << Utf8(KeyText(cmd, path)) << "\n";
    std::vector<char16_t> name(16384);
    for (DWORD i = 0;; ++i) {
        DWORD cch = 16384;
        if (RegEnumValueW(key, i, name.data(), &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        DWORD type = 0;
        std::vector<BYTE> data;
        if (ReadValue(key, name.data(), &type, &data) == ERROR_SUCCESS) PrintValue(name.data(), type, data);
    }
    std::vector<std::u16string> subkeys;
    for (DWORD i = 0;; ++i) {
        DWORD cch = 256;
        if (RegEnumKeyExW(key, i, name.data(), &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.push_back(name.data());
    }
    if (!cmd.recurse) {
        if (!subkeys.empty()) std::cout << "\n";
        for (const std::u16string& sub : subkeys) std::cout << Utf8(KeyText(cmd, path + u"\\" + sub)) << "\n";
    }
    return subkeys;
}

// Prints a key and, with /s, every key below it, parents first, without recursion.
void QueryKey(const COMMAND& cmd, HKEY key, const std::u16string& path) {
    std::vector<std::u16string> subkeys = PrintKey(cmd, key, path);
    if (!cmd.recurse) return;
    std::vector<std::u16string> pending;  // paths below `key`, the next one last
    for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it) pending.push_back(*it);
    while (!pending.empty()) {
        const std::u16string below = std::move(pending.back());
        pending.pop_back();
        HKEY child = nullptr;
        if (RegOpenKeyExW(key, below.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
        subkeys = PrintKey(cmd, child, path.empty() ? below : path + u"\\" + below);
        RegCloseKey(child);
        for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it) pending.push_back(below + u"\\" + *it);
    }
}

int Query(const COMMAND& cmd) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(cmd.root, cmd.path.c_str(), 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS) return FailWith(rc);
    if (!cmd.hasValue) {
        QueryKey(cmd, key, cmd.path);
        std::cout << "\n";
        RegCloseKey(key);
        return 0;
    }
    DWORD type = 0;
    std::vector<BYTE> data;
    rc = ReadValue(key, cmd.valueName, &type, &data);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return FailWith(rc);
    std::cout << "\n" << Utf8(KeyText(cmd, cmd.path)) << "\n";
    PrintValue(cmd.valueName, type, data);
    std::cout << "\n";
    return 0;
}

void AppendUnits(std::vector<BYTE>& bytes, const std::u16string& text) {
    for (char16_t c : text) {
        bytes.push_back(static_cast<BYTE>(c & 0xFF));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    }
}

bool ParseNumber(const std::u16string& text, int bits, uint64_t* value) {
    std::string s = Utf8(text);
    if (s.empty() || s[0] == '-') return false;
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
    if (errno != 0 || !end || *end || (bits == 32 && v > 0xFFFFFFFFull)) return false;
    *value = v;
    return true;
}

bool ParseHex(const std::u16string& text, std::vector<BYTE>* bytes) {
    std::string s = Utf8(text);
    if (s.size() % 2) s = "0" + s;
    for (size_t i = 0; i < s.size(); i += 2) {
        char* end = nullptr;
        std::string pair = s.substr(i, 2);
        unsigned long b = std::strtoul(pair.c_str(), &end, 16);
        if (!end || *end || !std::isxdigit(static_cast<unsigned char>(pair[0]))) return false;
        bytes->push_back(static_cast<BYTE>(b));
    }
    return true;
}

// The value's bytes as the Windows tool stores them: strings with their zero.
bool EncodeData(const COMMAND& cmd, DWORD type, std::vector<BYTE>* bytes) {
    uint64_t n = 0;
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ: AppendUnits(*bytes, cmd.data + u'\0'); return true;
        case REG_MULTI_SZ: {
            std::u16string text = cmd.data;
            for (size_t at;
                 !cmd.separator.empty() && (at = text.find(cmd.separator)) != std::u16string::npos;) {
                text.replace(at, cmd.separator.size(), 1, u'\0');
            }
            AppendUnits(*bytes, text + u'\0' + u'\0');
            return true;
        }
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN:
        case REG_QWORD: {
            const int bits = type == REG_QWORD ? 64 : 32;
            if (!ParseNumber(cmd.data.empty() ? u"0" : cmd.data, bits, &n)) return false;
            for (int i = 0; i < bits / 8; ++i) bytes->push_back(static_cast<BYTE>(n >> (8 * i)));
            if (type == REG_DWORD_BIG_ENDIAN) std::reverse(bytes->begin(), bytes->end());
            return true;
        }
        default: return ParseHex(cmd.data, bytes);
    }
}

bool FindType(const std::u16string& name, DWORD* type) {
    for (const REGTYPE& t : kTypes) {
        if (SameNoCase(name, t.name)) {
            *type = t.type;
            return true;
        }
    }
    return false;
}

int Add(const COMMAND& cmd) {
    DWORD type = 0;
    std::vector<BYTE> bytes;
    if (!FindType(cmd.type, &type))
        return Fail("ERROR: Invalid syntax. Specify a valid registry type for '/t'.");
    if (cmd.hasValue && !EncodeData(cmd, type, &bytes))
        return Fail("ERROR: Invalid syntax. Specify valid data for '/d'.");
    HKEY key = nullptr;
    LONG rc =
        RegCreateKeyExW(cmd.root, cmd.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return FailWith(rc);
    if (cmd.hasValue) {
        DWORD size = 0;
        const bool exists =
            RegQueryValueExW(key, cmd.valueName.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
        const std::string shown = cmd.valueName.empty() ? std::string("(Default)") : Utf8(cmd.valueName);
        if (exists && !cmd.force && !Confirm("Value " + shown + " exists, overwrite")) {
            RegCloseKey(key);
            std::cout << "The operation was canceled by the user.\n";
            return 0;
        }
        rc = RegSetValueExW(key, cmd.valueName.c_str(), 0, type, bytes.data(),
                            static_cast<DWORD>(bytes.size()));
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return FailWith(rc);
    std::cout << "The operation completed successfully.\n";
    return 0;
}

// Deletes a key with everything below it, deepest keys first, without recursion.
LONG DeleteTree(HKEY parent, const std::u16string& name) {
    struct LEVEL {
        HKEY key;
        std::u16string name;  // below the level above
    };
    std::vector<LEVEL> levels;
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (rc == ERROR_SUCCESS) levels.push_back(LEVEL{key, name});
    while (rc == ERROR_SUCCESS && !levels.empty()) {
        char16_t sub[256];
        DWORD cch = 256;
        if (RegEnumKeyExW(levels.back().key, 0, sub, &cch, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS) {
            rc = RegOpenKeyExW(levels.back().key, sub, 0, KEY_ALL_ACCESS, &key);
            if (rc == ERROR_SUCCESS) levels.push_back(LEVEL{key, sub});
            continue;
        }
        RegCloseKey(levels.back().key);
        const std::u16string leaf = std::move(levels.back().name);
        levels.pop_back();
        rc = RegDeleteKeyW(levels.empty() ? parent : levels.back().key, leaf.c_str());
    }
    for (const LEVEL& level : levels) RegCloseKey(level.key);
    return rc;
}

LONG DeleteValues(const COMMAND& cmd, HKEY key) {
    if (!cmd.allValues) return RegDeleteValueW(key, cmd.valueName.c_str());
    std::vector<char16_t> name(16384);
    for (;;) {
        DWORD cch = 16384;
        if (RegEnumValueW(key, 0, name.data(), &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return ERROR_SUCCESS;
        }
        LONG rc = RegDeleteValueW(key, name.data());
        if (rc != ERROR_SUCCESS) return rc;
    }
}

std::string DeleteQuestion(const COMMAND& cmd) {
    const std::string key = Utf8(KeyText(cmd, cmd.path));
    if (cmd.allValues) return "Delete all values under the registry key " + key;
    if (!cmd.hasValue) return "Permanently delete the registry key " + key;
    return "Delete the registry value " +
           (cmd.valueName.empty() ? std::string("(Default)") : Utf8(cmd.valueName));
}

int Delete(const COMMAND& cmd) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(cmd.root, cmd.path.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (rc != ERROR_SUCCESS) return FailWith(rc);
    const bool values = cmd.hasValue || cmd.allValues;
    if (values && !cmd.allValues) {
        DWORD size = 0;
        rc = RegQueryValueExW(key, cmd.valueName.c_str(), nullptr, nullptr, nullptr, &size);
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return FailWith(rc);
    if (!values && cmd.path.empty()) return Fail("ERROR: Invalid key name.");
    if (!cmd.force && !Confirm(DeleteQuestion(cmd))) {
        std::cout << "The operation was canceled by the user.\n";
        return 0;
    }
    if (values) {
        rc = RegOpenKeyExW(cmd.root, cmd.path.c_str(), 0, KEY_ALL_ACCESS, &key);
        if (rc == ERROR_SUCCESS) {
            rc = DeleteValues(cmd, key);
            RegCloseKey(key);
        }
    } else {
        rc = DeleteTree(cmd.root, cmd.path);
    }
    if (rc != ERROR_SUCCESS) return FailWith(rc);
    std::cout << "The operation completed successfully.\n";
    return 0;
}

void Usage() {
    std::cout << "REG QUERY KEY [/v NAME | /ve] [/s]\n"
                 "REG ADD KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
                 "REG DELETE KEY [/v NAME | /ve | /va] [/f]\n"
                 "  KEY   HKLM\\path or HKCU\\path (also HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER)\n"
                 "  TYPE  REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY, REG_NONE\n";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::u16string> args;
    for (int i = 0; i < argc; ++i) args.push_back(zbw::FromUtf8(argv[i]).GetString());
    if (args.size() < 2 || args[1] == u"/?" || args[1] == u"-?") {
        Usage();
        return args.size() < 2 ? 1 : 0;
    }
    COMMAND cmd;
    cmd.operation = args[1];
    const bool known = SameNoCase(cmd.operation, u"query") || SameNoCase(cmd.operation, u"add") ||
                       SameNoCase(cmd.operation, u"delete");
    if (!known) return Fail("ERROR: Invalid syntax.\nType \"REG /?\" for usage.");
    if (args.size() < 3 || !ParseSwitches(args, &cmd)) return SyntaxError(cmd.operation);
    if (!SplitKey(args[2], &cmd)) return Fail("ERROR: Invalid key name.");
    if (cmd.hasValue && cmd.allValues) return SyntaxError(cmd.operation);
    if (SameNoCase(cmd.operation, u"query")) return Query(cmd);
    if (SameNoCase(cmd.operation, u"add")) return Add(cmd);
    return Delete(cmd);
}
