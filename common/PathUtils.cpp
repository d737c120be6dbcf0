#include "common/PathUtils.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>

namespace {

const size_t kPathKept = 258;
const std::u16string_view kLongPrefix = u"\\\\?\\";
const std::u16string_view kLongUncPrefix = u"\\\\?\\UNC\\";
const std::u16string_view kSeparators = u"/\\";
// What ends the folder part for display: a drive-relative "C:name" has no slash.
const std::u16string_view kLastSeparators = u"/:\\";
const size_t npos = std::u16string_view::npos;

bool IsSeparator(char16_t ch) {
    return ch == u'\\' || ch == u'/';
}

bool StartsWith(std::u16string_view text, std::u16string_view start) {
    return text.substr(0, start.size()) == start;
}

bool IsUnc(std::u16string_view path) {
    return StartsWith(path, kLongUncPrefix) || (StartsWith(path, u"\\\\") && !StartsWith(path, kLongPrefix));
}

// The path as it is split: "\\?\UNC\x" reads as "\\x", "\\?\x" as "x".
std::u16string WithoutLongPrefix(std::u16string_view path) {
    if (StartsWith(path, kLongUncPrefix)) return u"\\\\" + std::u16string(path.substr(kLongUncPrefix.size()));
    if (StartsWith(path, kLongPrefix)) return std::u16string(path.substr(kLongPrefix.size()));
    return std::u16string(path);
}

// Copies at most N - 1 characters, always terminated.
template <size_t N>
void CopyPart(WCHAR (&field)[N], std::u16string_view text) {
    size_t count = std::min(text.size(), N - 1);
    std::copy_n(text.data(), count, field);
    field[count] = 0;
}

void ClearParts(PATHPARTS& parts) {
    for (auto* field : {parts.szDir, parts.szName, parts.szExt, parts.szShare, parts.szServer})
        std::fill_n(field, 256, u'\0');
    std::fill(std::begin(parts.szPath), std::end(parts.szPath), u'\0');
    std::fill(std::begin(parts.szDrive), std::end(parts.szDrive), u'\0');
}

// Moves the UNC server and share out of the directory ("\\srv\share\dir\" keeps "\dir\").
void SplitUncDirectory(PATHPARTS& parts, std::u16string_view dir) {
    if (!StartsWith(dir, u"\\\\")) return;
    size_t serverEnd = dir.find_first_of(kSeparators, 2);
    if (serverEnd == npos) return;
    CopyPart(parts.szServer, dir.substr(2, serverEnd - 2));
    size_t shareEnd = dir.find_first_of(kSeparators, serverEnd + 1);
    if (shareEnd == npos) {
        CopyPart(parts.szDir, dir.substr(serverEnd));
        return;
    }
    CopyPart(parts.szShare, dir.substr(serverEnd + 1, shareEnd - serverEnd - 1));
    CopyPart(parts.szDir, dir.substr(shareEnd));
}

void SplitText(PATHPARTS& parts, std::u16string_view text, bool unc) {
    size_t start = 0;
    if (text.size() >= 2 && text[1] == u':') {
        CopyPart(parts.szDrive, text.substr(0, 2));
        start = 2;
    }
    size_t lastSep = text.find_last_of(kSeparators);
    std::u16string_view dir, last = text.substr(start);
    if (lastSep != npos && lastSep >= start) {
        dir = text.substr(start, lastSep + 1 - start);
        last = text.substr(lastSep + 1);
    }
    size_t dot = last.rfind(u'.');
    CopyPart(parts.szName, last.substr(0, dot));
    if (dot != npos) CopyPart(parts.szExt, last.substr(dot));
    CopyPart(parts.szDir, dir);
    if (unc) SplitUncDirectory(parts, dir);
}

// The part of a too-long path that ShortenPath keeps in front: the long-path prefix, the drive
// or "\\server", and the next component when the folder part before the last component is
// longer than 3 characters.
size_t HeadLength(std::u16string_view path, size_t lastSep) {
    size_t head = 0;
    if (StartsWith(path, kLongUncPrefix)) {
        head = std::min(path.find_first_of(kSeparators, kLongUncPrefix.size()), lastSep);
    } else if (StartsWith(path, kLongPrefix)) {
        head = kLongPrefix.size();
        if (path.size() >= head + 2 && path[head + 1] == u':') head += 2;
    } else if (StartsWith(path, u"\\\\")) {
        head = std::min(path.find_first_of(kSeparators, 2), lastSep);
    } else if (path.size() >= 2 && path[1] == u':') {
        head = 2;
    }
    if (lastSep == npos || lastSep + 1 - head <= 3) return head;
    size_t from = head < path.size() && IsSeparator(path[head]) ? head + 1 : head;
    return std::min(path.find_first_of(kSeparators, from), lastSep);
}

}  // namespace

PATHPARTS::PATHPARTS(LPCWSTR path) {
    SplitLongPath(*this, path);
}

bool SplitLongPath(PATHPARTS& parts, LPCWSTR path) {
    ClearParts(parts);
    if (!path) return false;
    std::u16string_view given(path);
    std::u16string text(given.substr(0, kPathKept));
    bool unc = IsUnc(text);
    std::u16string split = WithoutLongPrefix(text);
    if (unc && std::count(split.begin(), split.end(), u'\\') < 4) {
        text += u'\\';
        split += u'\\';
    }
    CopyPart(parts.szPath, text);
    SplitText(parts, split, unc);
    return true;
}

void PathToSubfolder(CString& path) {
    path.Remove(u':');
    path.Replace(u"\\\\", u"\\");
    if (!path.IsEmpty() && path[0] == u'\\') path.Delete(0);
}

void ShortenPath(LPWSTR buffer, int maxChars) {
    std::u16string path(buffer);
    if (static_cast<int>(path.size()) <= maxChars) return;
    size_t lastSep = path.find_last_of(kLastSeparators);
    std::u16string last = lastSep == npos ? path : path.substr(lastSep + 1);
    std::u16string result = last;
    size_t max = maxChars < 0 ? 0 : static_cast<size_t>(maxChars);
    if (max >= last.size() && lastSep != npos) {
        size_t head = HeadLength(path, lastSep);
        const size_t ellipsis = 4;  // "\..."
        if (max >= head + ellipsis + 1 + last.size()) {
            std::u16string_view tail = std::u16string_view(path).substr(head);
            while (head + ellipsis + tail.size() > max)
                tail = tail.substr(tail.find_first_of(kLastSeparators, 1));
            result = path.substr(0, head) + u"\\..." + std::u16string(tail);
        }
    }
    std::copy(result.begin(), result.end(), buffer);
    buffer[result.size()] = 0;
}
