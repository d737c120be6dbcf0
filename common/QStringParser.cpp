#include "common/QStringParser.h"

CQStringParser::CQStringParser(const CString& text, WCHAR separator, WCHAR quote)
    : m_separator(separator), m_quote(quote) {
    m_tokens.SetSize(0, 10);
    m_tokens.Add(text);
    Parse(text);
}

CString CQStringParser::GetAt(int index, bool removeQuotes) const {
    if (index < 0 || index > m_count) return CString(u"ERROR: Array index out of range.");
    CString token = m_tokens.GetAt(index);
    if (removeQuotes && m_quote != 0) token.Remove(m_quote);
    return token;
}

void CQStringParser::Parse(const CString& text) {
    if (m_separator == 0) {
        AddToken(text);
        return;
    }
    bool emptyLast = text.IsEmpty() || text[text.GetLength() - 1] == m_separator;
    CString rest = text;
    while (!rest.IsEmpty()) {
        int end = rest.Find(m_separator);
        if (end < 0) {
            AddToken(rest);
            rest.Empty();
        } else if (m_quote != 0 && rest[0] == m_quote) {
            AddToken(TakeQuotedToken(rest));
        } else {
            AddToken(rest.Left(end));
            rest = rest.Mid(end + 1);
        }
    }
    if (emptyLast) AddToken(CString());
}

CString CQStringParser::TakeQuotedToken(CString& rest) const {
    CString token;
    bool quoted = true;
    for (int i = 0; i < rest.GetLength(); ++i) {
        WCHAR ch = rest[i];
        if (!quoted && ch == m_separator) {
            rest = rest.Mid(i + 1);
            return token;
        }
        token += ch;
        if (quoted && i > 0 && ch == m_quote) quoted = false;
    }
    rest.Empty();
    return token;
}

void CQStringParser::AddToken(const CString& token) {
    m_tokens.Add(token);
    ++m_count;
}
