#include "dovrane/web/LogFileParse.h"

#include <algorithm>
#include <string>

#include "common/TextUtils.h"
#include "common/UrlCodec.h"
#include "dovrane/model/SectionFileReader.h"
#include "platform/base/TextConvert.h"
#include "platform/classlib/File.h"
#include "platform/classlib/FileException.h"

namespace {

constexpr int kPrefixLength = 22;
constexpr long long kProbeBytes = 4096;
constexpr LPCWSTR kErrorImage = u"<img src=\"img/err.gif\" width=\"16\" height=\"16\" align=\"texttop\"> ";
constexpr LPCWSTR kRunNotFound =
    u"Information about this run not found in the log file.<br>Sometimes the log file does not contain "
    u"information about a run.<br>For example, if you recently reset the log file or set a limit to the log "
    u"file size.";

bool MessageStartsWith(const CString& line, LPCWSTR text) {
    return std::u16string_view(line.GetStdString())
        .substr(kPrefixLength)
        .starts_with(std::u16string_view(text));
}

void Wrap(CString& line, LPCWSTR open) {
    line = CString(open) + line + u"</span>";
}

// The file as the view reads it: its bytes, and whether they are UTF-16LE (FF FE at the start).
class CViewFile {
   public:
    bool Open(const CString& path) {
        if (!m_file.Open(path, CFile::modeRead | CFile::typeBinary | CFile::shareDenyNone)) return false;
        try {
            m_size = static_cast<long long>(m_file.GetLength());
            // The engine's own log is UTF-16 without a mark, like the profiles the probe is for.
            m_wide = CSectionFileReader::Probe(Read(0, kProbeBytes)) != CSectionFileReader::encodingAnsi;
        } catch (const CFileException&) {
            return false;
        }
        return true;
    }
    long long Size() const { return m_size; }
    bool IsWide() const { return m_wide; }
    int UnitBytes() const { return m_wide ? 2 : 1; }

    // Up to count bytes from offset; fewer at the end of the file.
    std::string Read(long long offset, long long count) {
        std::string bytes(static_cast<size_t>(std::max(0LL, std::min(count, m_size - offset))), '\0');
        if (bytes.empty()) return bytes;
        m_file.Seek(offset, CFile::begin);
        UINT got = m_file.Read(bytes.data(), static_cast<UINT>(bytes.size()));
        bytes.resize(got);
        return bytes;
    }

    // The offset of the first whole unit at or after from where pattern starts, or -1.
    long long Find(const std::string& pattern, long long from) {
        constexpr long long kChunk = 1 << 16;
        for (long long at = from; at < m_size; at += kChunk) {
            std::string bytes = Read(at, kChunk + static_cast<long long>(pattern.size()) - 1);
            for (size_t hit = bytes.find(pattern); hit != std::string::npos;
                 hit = bytes.find(pattern, hit + 1))
                if ((at + static_cast<long long>(hit)) % UnitBytes() == 0)
                    return at + static_cast<long long>(hit);
            if (static_cast<long long>(bytes.size()) < kChunk) break;
        }
        return -1;
    }

    // The start of the line that holds offset: just after the line feed before it.
    long long LineStart(long long offset) {
        long long from = std::max(m_wide ? 2LL : 0LL, offset - 4096);
        std::string before = Read(from, offset - from);
        std::string lineFeed = m_wide ? std::string("\n\0", 2) : std::string("\n");
        for (size_t hit = before.rfind(lineFeed); hit != std::string::npos;
             hit = hit == 0 ? std::string::npos : before.rfind(lineFeed, hit - 1))
            if ((from + static_cast<long long>(hit)) % UnitBytes() == 0)
                return from + static_cast<long long>(hit + lineFeed.size());
        return from;
    }

    std::string Encode(const CString& text) const {
        if (!m_wide) return zbw::ToAnsi(text.GetStdString());
        std::string bytes;
        for (char16_t unit : text.GetStdString()) {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        }
        return bytes;
    }

    CString Decode(const std::string& bytes) const {
        if (!m_wide) return zbw::FromAnsi(bytes);
        std::u16string text;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (!text.empty() && text.front() == u'\xFEFF') text.erase(0, 1);
        return CString(text);
    }

   private:
    CFile m_file;
    long long m_size = 0;
    bool m_wide = false;
};

struct SECTION {
    long long start = 0;
    long long end = 0;
};

// The section of one run: from the line of its start marker to the end of its end marker's
// line, or to the end of the file.
bool FindRunSection(CViewFile& file, const CString& runId, SECTION& section) {
    long long marker = file.Find(file.Encode(CString(u"START ID: ") + runId + u"\r\n"), 0);
    if (marker < 0) return false;
    section.start = file.LineStart(marker);
    std::string endMarker = file.Encode(CString(u"END ID: ") + runId + u"\r\n");
    long long end = file.Find(endMarker, marker);
    section.end = end < 0 ? file.Size() : end + static_cast<long long>(endMarker.size());
    return true;
}

int PageCount(const SECTION& section) {
    long long length = section.end - section.start;
    return length < kLogViewPageBytes
               ? 1
               : static_cast<int>((length + kLogViewPageBytes - 1) / kLogViewPageBytes);
}

// Page bounds keep whole UTF-16 units of the file.
SECTION PageBounds(const SECTION& section, int page, int unitBytes) {
    auto align = [&](long long offset) { return offset - offset % unitBytes; };
    SECTION bounds;
    bounds.end = section.end - page * kLogViewPageBytes;
    bounds.start = std::max(section.start, align(section.end - (page + 1) * kLogViewPageBytes));
    if (page > 0) bounds.end = align(bounds.end);
    return bounds;
}

CString Escape(const CString& text) {
    CString escaped(text);
    escaped.Replace(u"&", u"&amp;");
    escaped.Replace(u"<", u"&lt;");
    escaped.Replace(u">", u"&gt;");
    return escaped;
}

bool EndsWithNoCase(const CString& text, LPCWSTR suffix) {
    int length = CString(suffix).GetLength();
    return text.GetLength() >= length && text.Right(length).CompareNoCase(suffix) == 0;
}

CString LineBreaksToHtml(const CString& text) {
    CString html(text);
    html.Replace(u"\r\n", u"\n");
    html.Replace(u"\r", u"\n");
    html.Replace(u"\n", u"<br>");
    return html;
}

CString PageLink(const CString& path, const CString& runId, int page, LPCWSTR label) {
    CString link;
    link.Format(u"<a href='\\file.htm?URL=%hs&LID=%hs&SCT=%d'>%s</a>", UrlEncode(path).c_str(),
                UrlEncode(runId).c_str(), page, label);
    return link;
}

// Pages count from the section's end, so the first page shown is the highest number.
CString PageNavigation(const CString& path, const CString& runId, int page, int count) {
    CString navigation;
    navigation.Format(u"<br>Page %d of %d <br>", count - page, count);
    CString earlier, later;
    if (page < count - 1)
        earlier = PageLink(path, runId, count - 1, u"First") + u" | " +
                  PageLink(path, runId, page + 1, u"<<< Previous");
    if (page > 0)
        later = PageLink(path, runId, page - 1, u"Next >>> ") + u" | " + PageLink(path, runId, 0, u"Last");
    navigation += earlier;
    if (!earlier.IsEmpty() && !later.IsEmpty()) navigation += u"&nbsp;|&nbsp";
    navigation += later;
    return navigation;
}

}  // namespace

bool CLogFileParse::ToHtml(CString& line) const {
    if (line.GetLength() < kPrefixLength) return false;
    if (MessageStartsWith(line, u"START ID:") || MessageStartsWith(line, u"END ID:")) {
        line.Insert(kPrefixLength, u"<span class='loglineid'>");
        line += u"</span>";
    } else if (MessageStartsWith(line, u"** Conflict")) {
        Wrap(line, (CString(kErrorImage) + u"<span class='loglineerr'>").GetString());
    } else if (MessageStartsWith(line, u"[INFO]")) {
        Wrap(line, u"<span class='loglineinfo'>");
    } else if (std::u16string_view(line.GetStdString()).ends_with(u" [OK].")) {
        Wrap(line, u"<span class='loglineok'>");
    } else if (line.Find(u"[ERROR]", kPrefixLength) >= 0) {
        Wrap(line, (CString(kErrorImage) + u"<span class='loglineerr'>").GetString());
    } else {
        return false;
    }
    return true;
}

void CLogFileParse::ConvertLog(CString& text) {
    CString converted;
    converted.Preallocate(text.GetLength());
    for (int position = 0; position < text.GetLength();) {
        int end = text.Find(u"\r\n", position);
        int lineEnd = end < 0 ? text.GetLength() : end;
        CString line = text.Mid(position, lineEnd - position);
        ToHtml(line);
        converted += line;
        if (end >= 0) converted += u"\r\n";
        position = end < 0 ? text.GetLength() : end + 2;
    }
    text = converted;
}

CString RenderFileContent(const CString& path, const CString& runId, int page) {
    CViewFile file;
    if (!file.Open(path)) return u"File not found or unable to open file";
    try {
        SECTION section{0, file.Size()};
        if (!runId.IsEmpty() && !FindRunSection(file, runId, section)) return kRunNotFound;
        int count = PageCount(section);
        if (page < 0) page = count - 1;
        if (page >= count) page = 0;
        SECTION bounds = PageBounds(section, page, file.UnitBytes());
        CString content = Escape(file.Decode(file.Read(bounds.start, bounds.end - bounds.start)));
        if (EndsWithNoCase(path, u".log")) CLogFileParse().ConvertLog(content);
        content = LineBreaksToHtml(content);
        if (count > 1) content += PageNavigation(path, runId, page, count);
        return content + u"<br><br><b>Size: " + FormatNumber(static_cast<ULONGLONG>(file.Size()), true) +
               u"</b>";
    } catch (const CFileException&) {
        return u"File not found or unable to open file";
    }
}
