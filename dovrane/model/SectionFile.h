// Profile files: reading one into a section list and writing a section list back as a file,
// plus the ANSI conversions the format uses. Any thread may call these; a list belongs to one
// thread at a time.
//
// Format: a line starting with ";" is a comment; a line whose first non-blank character is "["
// is a section header (the name runs to the next "]"); any other non-empty line is a key line,
// split at the first "=" outside double quotes into key and value, both trimmed of blanks. The
// quotes stay in the texts; in the value a U+00FE outside quotes ends it. Key lines before the
// first header belong to the first section; comment lines belong to the next header or key
// line. Lines are cut to CSectionFileReader::MaxLine units (SectionFileReader.h says how).
//
// LoadSectionFile appends to the list; the caller empties it first. Keys are placed in the
// sections this call appended, never in ones the list held before. Both functions return false
// when the file cannot be opened (or, for writing, not written whole); nothing is appended then.
// The writer writes UTF-16LE without a byte-order mark and CR LF line ends, so the reader
// recognises its files. It writes keys and values as they are: a line break inside one does not
// survive reading back. A key with an unclosed double quote and an empty value is written without
// "=", and one that starts with ";" after one blank, so that saving and reading it again gives
// it back unchanged. Every comment line it writes starts with
// ";" (one is put in front of lines that lack it), so no comment text comes back as a key or header.
#pragma once

#include <string>

#include "dovrane/model/SectionList.h"
#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

bool LoadSectionFile(LPCWSTR path, CSectionList& list);
// Creates or empties the file and writes every section with its keys.
bool SaveSectionFile(LPCWSTR path, const CSectionList& list);

// ANSI code page text of a wide text (composite check, separate characters); empty when the
// conversion yields nothing.
std::string WideToNarrow(LPCWSTR text);
// Wide text of ANSI code page text (precomposed); a null or empty input gives the empty text.
CString NarrowToWide(const char* text);
