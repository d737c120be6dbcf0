// CQStringParser: splits a command text at one separator character, keeping separators that
// stand inside a quoted token (one that starts with the quote character). Tokens keep their
// quotes and blanks; GetAt can drop the quotes. Element 0 is the whole text, tokens are 1 to
// GetCount(). An empty text, or one that ends with the separator, ends with an empty token;
// separator 0 gives the whole text as the one token. An index outside 0..GetCount() gives the
// text "ERROR: Array index out of range." (negative ones too). Immutable once built, so any
// number of threads may read one object.
#pragma once

#include "platform/base/CString.h"
#include "platform/classlib/Object.h"
#include "platform/classlib/StringArray.h"

class CQStringParser : public CObject {
   public:
    // separator and quote 0 mean none.
    CQStringParser(const CString& text, WCHAR separator, WCHAR quote);
    ~CQStringParser() override = default;

    CString GetAt(int index, bool removeQuotes = false) const;
    int GetCount() const { return m_count; }

   private:
    void Parse(const CString& text);
    // The quoted token at the start of rest; rest continues after its separator.
    CString TakeQuotedToken(CString& rest) const;
    void AddToken(const CString& token);

    CStringArray m_tokens;
    int m_count = 0;
    WCHAR m_separator;
    WCHAR m_quote;
};
