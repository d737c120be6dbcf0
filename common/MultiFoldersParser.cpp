#include "common/MultiFoldersParser.h"

void CMultiFoldersParser::SetText(const CString& text, const CString& separators) {
    m_text = text;
    m_separators = separators;
    m_rest = text;
}

bool CMultiFoldersParser::GetNext(CString& item) {
    if (m_rest.IsEmpty()) return false;
    int end = m_separators.IsEmpty() ? -1 : m_rest.FindOneOf(m_separators);
    if (end < 0) {
        item = m_rest;
        m_rest.Empty();
    } else {
        item = m_rest.Left(end);
        m_rest = m_rest.Mid(end + 1);
    }
    item.Trim(u" \t\r\n");
    return true;
}

void CMultiFoldersParser::ParseAll() {
    m_rest = m_text;
    m_items.RemoveAll();
    CString item;
    while (GetNext(item)) m_items.Add(item);
}

CStringArray CMultiFoldersParser::SplitFolders(const CString& text) {
    CMultiFoldersParser parser;
    parser.SetText(text, u"|");
    parser.ParseAll();
    return parser.GetItems();
}
