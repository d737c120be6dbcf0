// CSectionFileReader: reads the lines of a profile file, whichever of its three encodings it
// has: UTF-16LE with the byte-order mark FF FE, UTF-16LE without it (recognised by the bytes
// non-zero, zero, non-zero, zero at its start, as ASCII text gives, or else by a CR LF in
// units within its first line's reach, or by at least two ASCII units in its first 4096 bytes
// and more than twice as many of them as units with a zero low byte, as the brackets, "=" and
// line ends of a file in any script give), or ANSI text (the ANSI code
// page, each byte one character). The file is read whole at once, so the section and key passes of the caller
// see the same text even when the file changes meanwhile.
//
// A line is at most MaxLine units (bytes for ANSI) including its closing line feed, which it
// keeps; a carriage return stays in the line. Of a longer line only its first MaxLine units are
// kept and the rest up to its line feed is skipped, so the tail of an over-long value can never
// pass for a key, a comment or a section header of its own. A line ends early at a NUL unit
// (the rest of that line is lost), as a C string read does.
//
// The file is probed and read through its wide path: a narrow (ANSI) form of a path the code
// page cannot hold would name another file here, or none. One thread at a time per object.
#pragma once

#include <string>
#include <vector>

#include "platform/base/CString.h"

class CSectionFileReader {
   public:
    enum Encoding { encodingAnsi, encodingUtf16, encodingUtf16Bom };
    static constexpr int MaxLine = 10191;

    // False when the file cannot be opened or read; the lines are then empty.
    bool Read(const CString& path);
    const std::vector<CString>& GetLines() const { return m_lines; }
    Encoding GetEncoding() const { return m_encoding; }

    // The encoding of a file that starts with these bytes.
    static Encoding Probe(const std::string& bytes);

   private:
    static bool LooksLikeUtf16(const std::string& bytes);
    static bool ReadBytes(const CString& path, std::string& bytes);
    void SplitUtf16(const std::string& bytes, size_t start);
    void SplitAnsi(const std::string& bytes);

    Encoding m_encoding = encodingAnsi;
    std::vector<CString> m_lines;
};
