#include "dovrane/model/SectionFileReader.h"

#include <algorithm>

#include "dovrane/model/SectionFile.h"
#include "platform/classlib/File.h"

namespace {

const UINT kChunk = 65536;
const size_t kProbeBytes = 4096;
// A first line the writer makes from one it read: at most MaxLine units, brackets and CR LF.
const size_t kFirstLineBytes = 2 * (CSectionFileReader::MaxLine + 4);

// Splits units into lines of at most MaxLine units that end after a line feed; of a longer line
// the rest up to its line feed is dropped. unitAt(i) gives unit i of count.
template <class UnitAt, class Emit>
void SplitLines(size_t count, UnitAt unitAt, Emit emit) {
    size_t pos = 0;
    while (pos < count) {
        size_t start = pos;
        while (pos < count && pos - start < CSectionFileReader::MaxLine) {
            if (unitAt(pos++) == u'\n') break;
        }
        emit(start, pos);
        bool cut = pos - start == CSectionFileReader::MaxLine && unitAt(pos - 1) != u'\n';
        if (!cut) continue;
        while (pos < count && unitAt(pos) != u'\n') ++pos;
        if (pos < count) ++pos;
    }
}

}  // namespace

CSectionFileReader::Encoding CSectionFileReader::Probe(const std::string& bytes) {
    auto byteAt = [&](size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : -1; };
    if (byteAt(0) > 0 && byteAt(1) == 0 && byteAt(2) > 0 && byteAt(3) == 0) return encodingUtf16;
    if (byteAt(0) == 0xFF && byteAt(1) == 0xFE) return encodingUtf16Bom;
    return LooksLikeUtf16(bytes) ? encodingUtf16 : encodingAnsi;
}

// ANSI text holds no zero bytes; UTF-16LE text holds one in the high byte of every ASCII
// character, whatever script its names and values are in. So the units of the first lines
// decide: a line end (CR LF as units) within the first line's reach, or a few ASCII units and
// far more of them than units with a zero low byte (which ASCII text never has, other scripts
// seldom).
bool CSectionFileReader::LooksLikeUtf16(const std::string& bytes) {
    const size_t units = std::min(bytes.size(), kFirstLineBytes) / 2;
    auto unitAt = [&](size_t i) {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    };
    size_t ascii = 0;
    size_t zeroLow = 0;
    for (size_t i = 0; i < units; ++i) {
        const char16_t unit = unitAt(i);
        if (unit == u'\n' && i > 0 && unitAt(i - 1) == u'\r') return true;
        if (2 * i >= kProbeBytes) continue;
        if ((unit & 0xFF) == 0)
            ++zeroLow;
        else if (unit < 0x100)
            ++ascii;
    }
    return ascii >= 2 && ascii > 2 * zeroLow;
}

bool CSectionFileReader::Read(const CString& path) {
    m_lines.clear();
    std::string bytes;
    if (!ReadBytes(path, bytes)) return false;
    m_encoding = Probe(bytes);
    if (m_encoding == encodingAnsi)
        SplitAnsi(bytes);
    else
        SplitUtf16(bytes, m_encoding == encodingUtf16Bom ? 2 : 0);
    return true;
}

bool CSectionFileReader::ReadBytes(const CString& path, std::string& bytes) {
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyNone)) return false;
    try {
        std::string chunk(kChunk, '\0');
        for (UINT got = file.Read(chunk.data(), kChunk); got > 0; got = file.Read(chunk.data(), kChunk))
            bytes.append(chunk.data(), got);
    } catch (CFileException&) {
        return false;
    }
    return true;
}

void CSectionFileReader::SplitUtf16(const std::string& bytes, size_t start) {
    size_t count = (bytes.size() - start) / 2;
    auto unitAt = [&](size_t i) {
        size_t at = start + 2 * i;
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[at]) |
                                     static_cast<unsigned char>(bytes[at + 1]) << 8);
    };
    SplitLines(count, unitAt, [&](size_t first, size_t end) {
        std::u16string line;
        for (size_t i = first; i < end && unitAt(i) != 0; ++i) line += unitAt(i);
        m_lines.emplace_back(std::move(line));
    });
}

void CSectionFileReader::SplitAnsi(const std::string& bytes) {
    auto unitAt = [&](size_t i) { return static_cast<char16_t>(static_cast<unsigned char>(bytes[i])); };
    SplitLines(bytes.size(), unitAt, [&](size_t first, size_t end) {
        std::string line(bytes, first, end - first);
        m_lines.push_back(NarrowToWide(line.c_str()));
    });
}
