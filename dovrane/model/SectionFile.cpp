#include "dovrane/model/SectionFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/TextUtils.h"
#include "dovrane/model/SectionFileReader.h"
#include "platform/base/TextConvert.h"
#include "platform/classlib/File.h"

namespace {

const char16_t kValueEnd = 0x00FE;

bool IsComment(const CString& line) {
    return line.GetAt(0) == u';';
}

// Position of the first ch outside double quotes at or after start, or -1.
int FindUnquoted(const CString& text, char16_t ch, int start = 0) {
    bool quoted = false;
    for (int i = start; i < text.GetLength(); ++i) {
        char16_t c = text[i];
        if (c == u'"')
            quoted = !quoted;
        else if (c == ch && !quoted)
            return i;
    }
    return -1;
}

void SplitKeyLine(const CString& line, KEY_STRUCT& key) {
    int equals = FindUnquoted(line, u'=');
    key.strKey = equals < 0 ? line : line.Left(equals);
    key.strValue = equals < 0 ? CString() : line.Mid(equals + 1);
    int end = FindUnquoted(key.strValue, kValueEnd);
    if (end >= 0) key.strValue = key.strValue.Left(end);
    key.strKey.Trim(u" \t");
    key.strValue.Trim(u" \t");
}

CString TrimmedLine(const CString& raw) {
    CString line = raw;
    TrimLineEnd(line);
    return line;
}

// Sections with the comments before their headers, in file order.
void ReadSections(const std::vector<CString>& lines, CSectionList& list) {
    CString pending;
    for (const CString& raw : lines) {
        CString line = TrimmedLine(raw);
        CString name;
        if (IsComment(line)) {
            pending += line;
        } else if (line.IsEmpty()) {
            continue;
        } else if (ParseSectionHeader(line, name)) {
            list.Add(new CSection(name, pending, SECTION_STATE_READ));
            pending.Empty();
        } else {
            pending.Empty();
        }
    }
}

// Keys with the comments before them, into the sections from index first on.
void ReadKeys(const std::vector<CString>& lines, CSectionList& list, INT_PTR first) {
    CString pending;
    INT_PTR current = first;
    bool seenHeader = false;
    for (const CString& raw : lines) {
        CString line = TrimmedLine(raw);
        CString name;
        if (IsComment(line)) {
            pending += line;
        } else if (raw.GetAt(0) == u'\n') {
            pending += u'\n';
        } else if (line.IsEmpty()) {
            continue;
        } else if (ParseSectionHeader(line, name)) {
            pending.Empty();
            if (seenHeader) ++current;
            seenHeader = true;
        } else {
            KEY_STRUCT key;
            key.strComment = pending;
            pending.Empty();
            if (CString(line).Trim(u" \t").IsEmpty() || current >= list.GetSize()) continue;
            SplitKeyLine(line, key);
            list.Section(current).m_Keys.Add(key);
        }
    }
}

// The comment as written: "\n" typed as backslash and "n" becomes a blank and a line feed, and
// every non-empty line gets a leading ";" when it lacks one.
CString CommentText(const CString& comment) {
    CString text = comment;
    for (int i = 1; i + 1 < text.GetLength(); ++i) {
        if (text[i] == u'\\' && text[i + 1] == u'n') {
            text.SetAt(i, u' ');
            text.SetAt(i + 1, u'\n');
        }
    }
    CString out;
    bool lineStart = true;
    for (int i = 0; i < text.GetLength(); ++i) {
        char16_t c = text[i];
        if (lineStart && c != u';' && c != u'\n') out += u';';
        out += c;
        lineStart = c == u'\n';
    }
    return out;
}

void AppendComment(std::u16string& out, const CString& comment) {
    if (comment.IsEmpty()) return;
    out += CommentText(comment).GetStdString();
    out += u"\r\n";
}

// The line that reads back as the key: after a key with an unclosed double quote an "=" would
// be read as part of the key, so such a key (which the reader only ever gives with an empty
// value) is written without one; a key that starts with ";" (read from a line with leading
// blanks) keeps one blank in front, so that it does not come back as a comment.
std::u16string KeyLine(const KEY_STRUCT& key) {
    const std::u16string& name = key.strKey.GetStdString();
    const std::u16string lead = name.starts_with(u';') ? u" " : u"";
    const bool unclosed = std::count(name.begin(), name.end(), u'"') % 2 != 0;
    if (unclosed && key.strValue.IsEmpty()) return lead + name;
    return lead + name + u"=" + key.strValue.GetStdString();
}

std::u16string FileText(const CSectionList& list) {
    std::u16string out;
    for (INT_PTR i = 0; i < list.GetSize(); ++i) {
        const CSection& section = list.Section(i);
        AppendComment(out, section.m_strComment);
        out += u"[" + section.m_strName.GetStdString() + u"]\r\n";
        for (INT_PTR k = 0; k < section.m_Keys.GetSize(); ++k) {
            const KEY_STRUCT& key = section.m_Keys[k];
            AppendComment(out, key.strComment);
            out += KeyLine(key) + u"\r\n";
        }
    }
    return out;
}

std::string Utf16LeBytes(const std::u16string& text) {
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t ch : text) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

}  // namespace

bool LoadSectionFile(LPCWSTR path, CSectionList& list) {
    CSectionFileReader reader;
    if (!path || !reader.Read(path)) return false;
    INT_PTR first = list.GetSize();
    ReadSections(reader.GetLines(), list);
    ReadKeys(reader.GetLines(), list, first);
    return true;
}

bool SaveSectionFile(LPCWSTR path, const CSectionList& list) {
    std::string bytes = Utf16LeBytes(FileText(list));
    CFile file;
    if (!path || !file.Open(path, CFile::modeCreate | CFile::modeWrite)) return false;
    try {
        file.Write(bytes.data(), static_cast<UINT>(bytes.size()));
        file.Close();
    } catch (CFileException&) {
        return false;
    }
    return true;
}

std::string WideToNarrow(LPCWSTR text) {
    const DWORD flags = WC_COMPOSITECHECK | WC_SEPCHARS;
    if (!text || !*text) return std::string();
    int size = WideCharToMultiByte(CP_ACP, flags, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string narrow(static_cast<size_t>(size) + 2, '\0');
    if (WideCharToMultiByte(CP_ACP, flags, text, -1, narrow.data(), size + 2, nullptr, nullptr) <= 0)
        return std::string();
    narrow.resize(std::strlen(narrow.c_str()));
    return narrow;
}

CString NarrowToWide(const char* text) {
    if (!text || !*text) return CString();
    int size = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
    if (size <= 0) return CString();
    std::u16string wide(static_cast<size_t>(size), u'\0');
    if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, wide.data(), size) <= 0) return CString();
    wide.resize(wide.find(u'\0'));
    return CString(std::move(wide));
}
