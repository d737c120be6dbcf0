#include "platform/host/RegistryHive.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/base/RegTypes.h"
#include "platform/base/TextConvert.h"
#include "platform/base/WideChar.h"

namespace zbw {

bool RegNamesEqual(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && ToUpper(a[i]) != ToUpper(b[i])) return false;
    }
    return true;
}

}  // namespace zbw

using zbw::AppendUtf8;
using zbw::IsHighSurrogate;
using zbw::IsLowSurrogate;

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

void AppendUnitEscape(std::string& out, char16_t c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%%%04X", static_cast<unsigned>(c));
    out += buf;
}

// The escaped form of UTF-16 text; see the header for the rules.
std::string Escape(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
            ++i;
        } else if (c < 0x20 || c == 0x7F || c == u'%' || c == u'"' || IsHighSurrogate(c) ||
                   IsLowSurrogate(c)) {
            AppendUnitEscape(out, c);
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

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

// Decodes one UTF-8 sequence at pos; false on a malformed one.
bool DecodeUtf8(const std::string& s, size_t& pos, char32_t* cp) {
    unsigned char lead = static_cast<unsigned char>(s[pos]);
    size_t extra = lead < 0x80           ? 0
                   : (lead >> 5) == 0x6  ? 1
                   : (lead >> 4) == 0xE  ? 2
                   : (lead >> 3) == 0x1E ? 3
                                         : 9;
    if (extra == 9 || pos + extra >= s.size()) return false;
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

// Reverses Escape over s[begin, end); false on a malformed escape or UTF-8
// sequence.
bool Unescape(const std::string& s, size_t begin, size_t end, std::u16string* out) {
    out->clear();
    std::string part = s.substr(begin, end - begin);
    size_t pos = 0;
    while (pos < part.size()) {
        if (part[pos] == '%') {
            uint32_t unit = 0;
            if (!ParseHexUnits(part, pos + 1, 4, &unit)) return false;
            out->push_back(static_cast<char16_t>(unit));
            pos += 5;
            continue;
        }
        char32_t cp = 0;
        if (!DecodeUtf8(part, pos, &cp)) return false;
        if (cp >= 0x10000) {
            out->push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(cp));
        }
    }
    return true;
}

std::string TypeText(DWORD type) {
    for (const TYPENAME& t : kTypeNames) {
        if (t.type == type) return t.name;
    }
    return std::to_string(type);
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

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::string DataText(DWORD type, const std::vector<BYTE>& data) {
    char buf[32];
    if (type == REG_DWORD && data.size() == 4) {
        uint32_t v = data[0] | (data[1] << 8) | (data[2] << 16) | (uint32_t(data[3]) << 24);
        std::snprintf(buf, sizeof buf, "dword:0x%08x", v);
        return buf;
    }
    if (IsStringType(type) && data.size() % 2 == 0) {
        std::u16string units;
        for (size_t i = 0; i < data.size(); i += 2)
            units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
        return "text:\"" + Escape(units) + "\"";
    }
    std::string out = "hex:";
    for (BYTE b : data) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    }
    return out;
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

void WriteKey(const CRegistryHive::CKey& key, const std::string& path, std::string& out) {
    out += "[" + path + "]\n";
    for (const CRegistryHive::VALUE& v : key.Values()) {
        out += "\"" + Escape(v.name) + "\" " + TypeText(v.type) + " " + DataText(v.type, v.data) + "\n";
    }
    for (const auto& sub : key.Subkeys()) {
        WriteKey(*sub, path.empty() ? Escape(sub->Name()) : path + "\\" + Escape(sub->Name()), out);
    }
}

bool ParseKeyLine(const std::string& line, std::vector<std::u16string>* path) {
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

bool ParseValueLine(const std::string& line, CRegistryHive::VALUE* value) {
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

CRegistryHive::CKey* CRegistryHive::CKey::FindSubkey(const std::u16string& name) const {
    for (const auto& sub : m_subkeys) {
        if (zbw::RegNamesEqual(sub->Name(), name)) return sub.get();
    }
    return nullptr;
}

CRegistryHive::CKey* CRegistryHive::CKey::AddSubkey(const std::u16string& name) {
    if (CKey* existing = FindSubkey(name)) return existing;
    m_subkeys.push_back(std::make_unique<CKey>(name));
    return m_subkeys.back().get();
}

bool CRegistryHive::CKey::RemoveSubkey(const std::u16string& name) {
    auto it = std::find_if(m_subkeys.begin(), m_subkeys.end(), [&](const std::unique_ptr<CKey>& sub) {
        return zbw::RegNamesEqual(sub->Name(), name);
    });
    if (it == m_subkeys.end()) return false;
    m_subkeys.erase(it);
    return true;
}

const CRegistryHive::VALUE* CRegistryHive::CKey::FindValue(const std::u16string& name) const {
    for (const VALUE& v : m_values) {
        if (zbw::RegNamesEqual(v.name, name)) return &v;
    }
    return nullptr;
}

void CRegistryHive::CKey::SetValue(const std::u16string& name, DWORD type, std::vector<BYTE> data) {
    for (VALUE& v : m_values) {
        if (zbw::RegNamesEqual(v.name, name)) {
            v.type = type;
            v.data = std::move(data);
            return;
        }
    }
    m_values.push_back(VALUE{name, type, std::move(data)});
}

bool CRegistryHive::CKey::RemoveValue(const std::u16string& name) {
    auto it = std::find_if(m_values.begin(), m_values.end(),
                           [&](const VALUE& v) { return zbw::RegNamesEqual(v.name, name); });
    if (it == m_values.end()) return false;
    m_values.erase(it);
    return true;
}

CRegistryHive::CKey* CRegistryHive::Find(const std::vector<std::u16string>& path) const {
    CKey* key = m_root.get();
    for (const std::u16string& name : path) {
        key = key->FindSubkey(name);
        if (!key) return nullptr;
    }
    return key;
}

CRegistryHive::CKey* CRegistryHive::Create(const std::vector<std::u16string>& path, bool* created) {
    CKey* key = m_root.get();
    bool made = false;
    for (const std::u16string& name : path) {
        CKey* next = key->FindSubkey(name);
        if (!next) {
            next = key->AddSubkey(name);
            made = true;
        }
        key = next;
    }
    if (created) *created = made;
    return key;
}

std::string CRegistryHive::ToText() const {
    std::string out = std::string(kHeader) + "\n";
    WriteKey(*m_root, std::string(), out);
    return out;
}

bool CRegistryHive::FromText(const std::string& text) {
    m_root = std::make_unique<CKey>(std::u16string());
    if (text.empty()) return true;
    CKey* current = m_root.get();
    bool headerSeen = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        bool ok = true;
        if (!headerSeen) {
            ok = headerSeen = (line == kHeader);
        } else if (line[0] == '[') {
            std::vector<std::u16string> path;
            ok = ParseKeyLine(line, &path);
            if (ok) current = Create(path, nullptr);
        } else {
            VALUE value;
            ok = ParseValueLine(line, &value);
            if (ok) current->SetValue(value.name, value.type, std::move(value.data));
        }
        if (!ok) {
            m_root = std::make_unique<CKey>(std::u16string());
            return false;
        }
    }
    return true;
}
