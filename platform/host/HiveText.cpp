#include "platform/host/HiveText.h"

#include <algorithm>

#include "platform/base/RegTypes.h"

namespace {

const char kHeader[] = "ZBW-REGISTRY-HIVE 1";

struct TYPENAME {
    DWORD type;
    const char* name;
};
const TYPENAME kTypeNames[] = {
    {REG_NONE, "REG_NONE"},           {REG_SZ, "REG_SZ"},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ"}, {REG_BINARY, "REG_BINARY"},
    {REG_DWORD, "REG_DWORD"},         {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN"},
    {REG_LINK, "REG_LINK"},           {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {REG_QWORD, "REG_QWORD"},
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseHexUnits(const std::string& s, size_t pos, size_t digits, uint32_t* value) {
    if (pos + digits > s.size()) return false;
    uint32_t v = 0;
    for (size_t i = 0; i < digits; ++i) {
        int d = HexDigit(s[pos + i]);
        if (d < 0) return false;
        v = v * 16 + static_cast<uint32_t>(d);
    }
    *value = v;
    return true;
}

// Decodes one UTF-8 sequence of s[pos, end); false on a malformed one.
bool DecodeUtf8(const std::string& s, size_t& pos, size_t end, char32_t* cp) {
    unsigned char lead = static_cast<unsigned char>(s[pos]);
    size_t extra = lead < 0x80           ? 0
                   : (lead >> 5) == 0x6  ? 1
                   : (lead >> 4) == 0xE  ? 2
                   : (lead >> 3) == 0x1E ? 3
                                         : 9;
    if (extra == 9 || pos + extra >= end) return false;
    char32_t v = extra == 0 ? lead : lead & (0x3F >> extra);
    for (size_t i = 1; i <= extra; ++i) {
        unsigned char c = static_cast<unsigned char>(s[pos + i]);
        if ((c & 0xC0) != 0x80) return false;
        v = (v << 6) | (c & 0x3F);
    }
    static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (v < kMin[extra] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
    pos += extra + 1;
    *cp = v;
    return true;
}

// The UTF-16 text of the escaped form s[begin, end); false on a malformed escape or sequence.
bool Unescape(const std::string& s, size_t begin, size_t end, std::u16string* out) {
    out->clear();
    size_t pos = begin;
    while (pos < end) {
        if (s[pos] == '%') {
            uint32_t unit = 0;
            if (pos + 5 > end || !ParseHexUnits(s, pos + 1, 4, &unit)) return false;
            out->push_back(static_cast<char16_t>(unit));
            pos += 5;
            continue;
        }
        char32_t cp = 0;
        if (!DecodeUtf8(s, pos, end, &cp)) return false;
        if (cp >= 0x10000) {
            out->push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(cp));
        }
    }
    return true;
}

bool ParseType(const std::string& text, DWORD* type) {
    for (const TYPENAME& t : kTypeNames) {
        if (text == t.name) {
            *type = t.type;
            return true;
        }
    }
    if (text.empty() || text.size() > 10 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    unsigned long long v = std::stoull(text);
    if (v > 0xFFFFFFFFull) return false;
    *type = static_cast<DWORD>(v);
    return true;
}

bool ParseData(const std::string& text, std::vector<BYTE>* data) {
    data->clear();
    if (text.rfind("dword:0x", 0) == 0) {
        uint32_t v = 0;
        if (text.size() != 16 || !ParseHexUnits(text, 8, 8, &v)) return false;
        for (int i = 0; i < 4; ++i) data->push_back(static_cast<BYTE>(v >> (8 * i)));
        return true;
    }
    if (text.rfind("text:\"", 0) == 0) {
        std::u16string units;
        if (text.size() < 7 || text.back() != '"' || !Unescape(text, 6, text.size() - 1, &units))
            return false;
        for (char16_t u : units) {
            data->push_back(static_cast<BYTE>(u & 0xFF));
            data->push_back(static_cast<BYTE>(u >> 8));
        }
        return true;
    }
    if (text.rfind("hex:", 0) == 0) {
        if (text.size() % 2 != 0) return false;
        for (size_t pos = 4; pos < text.size(); pos += 2) {
            uint32_t b = 0;
            if (!ParseHexUnits(text, pos, 2, &b)) return false;
            data->push_back(static_cast<BYTE>(b));
        }
        return true;
    }
    return false;
}

bool ParseKeyLine(const std::string& line, CHiveText::KEYPATH* path) {
    path->clear();
    if (line.size() < 2 || line.back() != ']') return false;
    size_t begin = 1;
    const size_t end = line.size() - 1;
    while (begin < end) {
        size_t sep = line.find('\\', begin);
        if (sep == std::string::npos || sep > end) sep = end;
        std::u16string name;
        if (sep == begin || !Unescape(line, begin, sep, &name)) return false;
        path->push_back(std::move(name));
        begin = sep + 1;
        if (sep < end && begin == end) return false;
    }
    return true;
}

bool ParseValueLine(const std::string& line, CHiveText::VALUE* value) {
    if (line.empty() || line[0] != '"') return false;
    size_t close = line.find('"', 1);
    if (close == std::string::npos || close + 1 >= line.size() || line[close + 1] != ' ') return false;
    if (!Unescape(line, 1, close, &value->name)) return false;
    size_t typeEnd = line.find(' ', close + 2);
    if (typeEnd == std::string::npos) return false;
    return ParseType(line.substr(close + 2, typeEnd - close - 2), &value->type) &&
           ParseData(line.substr(typeEnd + 1), &value->data);
}

}  // namespace

std::string CHiveText::Read(const std::string& text, const KEYSINK& onKey, const VALUESINK& onValue) {
    bool headerSeen = false;
    size_t pos = 0;
    for (size_t number = 1; pos < text.size(); ++number) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::string refusal;
        bool parsed = true;
        if (!headerSeen) {
            parsed = headerSeen = line == kHeader;
        } else if (line[0] == '[') {
            KEYPATH path;
            parsed = ParseKeyLine(line, &path);
            if (parsed) refusal = onKey(path);
        } else {
            VALUE value;
            parsed = ParseValueLine(line, &value);
            if (parsed) refusal = onValue(value);
        }
        if (!parsed) return "line " + std::to_string(number) + " does not parse";
        if (!refusal.empty()) return "line " + std::to_string(number) + ": " + refusal;
    }
    return std::string();
}
