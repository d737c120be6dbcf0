// CXMLFile: a CMarkup bound to a file, with the text of the last failure.
//
// Load reads a whole file: UTF-16LE when it starts with the mark FF FE (read after the mark) or,
// without a mark, when its second and fourth bytes are both 0 (read from the first byte);
// otherwise 8-bit text in the ANSI code page. The text ends at its first zero character.
// Save writes FF FE and the given text as UTF-16LE to the temporary file "<target>.tmp", makes
// it durable and then puts it in the target's place in one atomic replacement, so a save that
// fails at any step leaves the old file whole (and no temporary file behind); one that was
// killed leaves that one file, which the next save of the target reuses. Saves of this process
// run one at a time; other processes must not save the same target at once.
//
// Error texts: "Unable to open XML file for parsing", "Unable to load XML file", the parser's
// error, "Unable to open XML file for saving settings" (the temporary file cannot be made) and
// "Unable to save XML file" (writing or replacing failed).
//
// One thread at a time may use an object.
#pragma once

#include "common/Markup.h"
#include "platform/base/CString.h"
#include "platform/classlib/Object.h"

class CXMLFile : public CObject {
   public:
    CXMLFile() = default;
    ~CXMLFile() override = default;

    // Loads and parses the file into the markup; false with the error text set.
    bool Load(LPCWSTR fileName);
    // Writes text (the whole document, declaration included) as the file.
    bool Save(LPCWSTR fileName, const CString& text);

    CMarkup& GetMarkup() { return m_xml; }
    const CMarkup& GetMarkup() const { return m_xml; }
    const CString& GetError() const { return m_strError; }

   private:
    bool Fail(LPCWSTR error);

    CMarkup m_xml;
    CString m_strError;
};
