#include "common/Markup.h"

#include "platform/base/WideChar.h"
#include "platform/classlib/InvalidArgException.h"

namespace {

const char16_t kBlanks[] = u" \t\n\r";
const char16_t kDelimiters[] = u" \t\n\r<>=\\/?!";
const char16_t kNameFollowers[] = u" =/[";

bool IsIn(char16_t ch, const char16_t* set) {
    for (; *set; ++set)
        if (*set == ch) return true;
    return false;
}

// Position of what in doc at or after from, or -1.
template <class T>
int FindText(const std::u16string& doc, T what, int from) {
    size_t at = doc.find(what, static_cast<size_t>(from));
    return at == std::u16string::npos ? -1 : static_cast<int>(at);
}

int SkipBlanks(const std::u16string& doc, int pos, int end) {
    while (pos < end && IsIn(doc[pos], kBlanks)) ++pos;
    return pos;
}

}  // namespace

std::u16string_view CMarkup::Token::View(const CString& doc) const {
    return std::u16string_view(doc.GetStdString()).substr(start, end - start);
}

bool CMarkup::Token::Is(const CString& doc, char16_t ch) const {
    return !quoted && end == start + 1 && doc.GetStdString()[start] == ch;
}

CMarkup::CMarkup() {
    SetDocument(nullptr);
}

bool CMarkup::SetDocument(LPCWSTR text) {
    m_strDoc = text ? text : u"";
    m_strError.Empty();
    m_iPosParent = m_iPos = m_iPosChild = 0;
    m_bCurrentValid = false;
    m_iPosFree = 1;
    size_t wanted = static_cast<size_t>(m_strDoc.GetLength()) / 64 + 8;
    if (m_aPos.size() < wanted) m_aPos.resize(wanted);
    m_aPos[0] = ElemPos{};
    int root = m_strDoc.IsEmpty() ? kParseEnd : ParseElem(0);
    if (root > 0) {
        m_aPos[0].iElemChild = root;
        return true;
    }
    m_aPos[0] = ElemPos{};
    m_iPosFree = 1;
    return false;
}

bool CMarkup::FindToken(int pos, Token& token) const {
    const std::u16string& doc = m_strDoc.GetStdString();
    const int length = m_strDoc.GetLength();
    pos = SkipBlanks(doc, pos, length);
    if (pos >= length) return false;
    const char16_t first = doc[pos];
    if (first == u'"' || first == u'\'') {
        int close = FindText(doc, first, pos + 1);
        if (close < 0) close = length;
        token = Token{pos + 1, close, close < length ? close + 1 : length, true};
        return true;
    }
    int end = pos + 1;
    if (!IsIn(first, kDelimiters))
        while (end < length && !IsIn(doc[end], kDelimiters)) ++end;
    token = Token{pos, end, end, false};
    return true;
}

int CMarkup::NewRecord(int parent) {
    if (static_cast<size_t>(m_iPosFree) >= m_aPos.size()) m_aPos.resize(m_aPos.size() + m_aPos.size() / 2);
    int elem = m_iPosFree++;
    m_aPos[elem] = ElemPos{};
    m_aPos[elem].iElemParent = parent;
    return elem;
}

int CMarkup::SetError(LPCWSTR message, const CString& name) {
    if (name.IsEmpty())
        m_strError = message;
    else
        m_strError.Format(message, name);
    return kParseError;
}

// Parses one element under parent, scanning from the parent's end-left field. Open elements are
// kept on an explicit stack, so deep nesting cannot exhaust the thread's stack. The result is the
// element's index, kParseEnd when an end tag came first, or kParseError.
int CMarkup::ParseElem(int parent) {
    struct Open {
        int elem;
        CString name;
        int lastChild;
    };
    std::vector<Open> open;
    const std::u16string& doc = m_strDoc.GetStdString();
    for (;;) {
        const int under = open.empty() ? parent : open.back().elem;
        Token token;
        const int lt = NextTag(under, token);
        if (lt == kParseError) return kParseError;
        // The text ends inside an open element: report its missing end tag.
        if (lt == kTextEnd && !open.empty()) return ParseEndTag(open.back().elem, open.back().name);
        if (lt == kTextEnd) return SetError(u"Element tag not found");
        int done;
        if (token.Is(m_strDoc, u'/')) {
            m_aPos[under].nEndL = lt;
            if (open.empty()) return kParseEnd;
            if (ParseEndTag(open.back().elem, open.back().name) == kParseError) return kParseError;
            done = open.back().elem;
            open.pop_back();
        } else {
            int gt = FindText(doc, u'>', token.end);
            if (gt < 0) return SetError(u"End of tag not found");
            done = NewRecord(under);
            m_aPos[done].nStartL = lt;
            m_aPos[done].nStartR = gt;
            if (doc[gt - 1] != u'/') {
                m_aPos[done].nEndL = gt + 1;
                open.push_back(Open{done, CString(token.View(m_strDoc)), 0});
                continue;
            }
            m_aPos[done].nEndL = gt - 1;
            m_aPos[done].nEndR = gt;
        }
        if (open.empty()) return done;
        Open& owner = open.back();
        if (owner.lastChild)
            m_aPos[owner.lastChild].iElemNext = done;
        else
            m_aPos[owner.elem].iElemChild = done;
        owner.lastChild = done;
        m_aPos[owner.elem].nEndL = m_aPos[done].nEndR + 1;
    }
}

int CMarkup::NextTag(int elem, Token& token) {
    const std::u16string& doc = m_strDoc.GetStdString();
    for (;;) {
        const int lt = FindText(doc, u'<', m_aPos[elem].nEndL);
        if (lt < 0) return kTextEnd;
        if (!FindToken(lt + 1, token)) return SetError(u"Abrupt end within tag");
        if (token.quoted) return SetError(u"Tag starts with quote");
        if (!token.Is(m_strDoc, u'!') && !token.Is(m_strDoc, u'?')) return lt;
        const int after = SkipNode(token);
        if (after < 0) return SetError(u"Invalid node");
        m_aPos[elem].nEndL = after;
    }
}

int CMarkup::SkipNode(const Token& token) const {
    const std::u16string& doc = m_strDoc.GetStdString();
    const char16_t* close = nullptr;
    if (doc[token.start] == u'?') {
        close = u"?>";
    } else {
        char16_t next = token.end < m_strDoc.GetLength() ? doc[token.end] : 0;
        if (next == u'-')
            close = u"-->";
        else if (next == u'[')
            close = u"]]>";
        else
            return SkipDocType(token.end);
    }
    int at = FindText(doc, close, token.end);
    return at < 0 ? -1 : at + static_cast<int>(std::char_traits<char16_t>::length(close));
}

// A "<!" node other than a comment or a section ends at the first ">" outside square brackets.
int CMarkup::SkipDocType(int pos) const {
    int depth = 0;
    Token token;
    while (FindToken(pos, token)) {
        pos = token.next;
        if (token.quoted) continue;
        if (depth == 0 && token.Is(m_strDoc, u'>')) return pos;
        for (char16_t ch : token.View(m_strDoc)) {
            if (ch == u'[') ++depth;
            if (ch == u']' && depth > 0) --depth;
        }
    }
    return -1;
}

int CMarkup::ParseEndTag(int elem, const CString& name) {
    int lt = FindText(m_strDoc.GetStdString(), u'<', m_aPos[elem].nEndL);
    if (lt < 0) return SetError(u"End tag of %s element not found", name);
    Token token;
    if (!FindToken(lt + 1, token) || !token.Is(m_strDoc, u'/'))
        return SetError(u"Expecting end tag of element %s", name);
    if (!FindToken(token.next, token)) return SetError(u"End tag not completed for element %s", name);
    if (!TokenMatches(token.View(m_strDoc), name))
        return SetError(u"End tag does not correspond to %s", name);
    while (FindToken(token.next, token)) {
        if (token.Is(m_strDoc, u'>')) {
            m_aPos[elem].nEndL = lt;
            m_aPos[elem].nEndR = token.start;
            return elem;
        }
    }
    return SetError(u"End tag not completed for element %s", name);
}

CString CMarkup::ElemName(int elem) const {
    Token token;
    if (!FindToken(m_aPos[elem].nStartL + 1, token)) return CString();
    return CString(token.View(m_strDoc));
}

bool CMarkup::TokenMatches(std::u16string_view token, LPCWSTR name) {
    std::u16string_view wanted(name, zbw::StrLen(name));
    if (wanted.size() < token.size()) return false;
    if (zbw::CompareNoCase(token, wanted.substr(0, token.size())) != 0) return false;
    return wanted.size() == token.size() || IsIn(wanted[token.size()], kNameFollowers);
}

bool CMarkup::NameMatches(int elem, LPCWSTR name) const {
    if (!name || !*name) return true;
    Token token;
    return FindToken(m_aPos[elem].nStartL + 1, token) && TokenMatches(token.View(m_strDoc), name);
}

int CMarkup::FindSibling(int from, LPCWSTR name) const {
    for (int elem = from; elem; elem = m_aPos[elem].iElemNext)
        if (NameMatches(elem, name)) return elem;
    return 0;
}

bool CMarkup::FindElement(LPCWSTR name) {
    int from = m_iPos ? m_aPos[m_iPos].iElemNext : m_aPos[m_iPosParent].iElemChild;
    int found = FindSibling(from, name);
    if (!found) return false;
    m_iPos = found;
    m_iPosParent = m_aPos[found].iElemParent;
    m_iPosChild = 0;
    m_bCurrentValid = true;
    return true;
}

bool CMarkup::FindChildElement(LPCWSTR name) {
    if (!m_iPos && !FindElement()) return false;
    int from = m_iPosChild ? m_aPos[m_iPosChild].iElemNext : m_aPos[m_iPos].iElemChild;
    int found = FindSibling(from, name);
    if (!found) return false;
    m_iPosChild = found;
    return true;
}

bool CMarkup::IntoElement() {
    if (!m_bCurrentValid || !m_iPos) return false;
    m_iPosParent = m_iPos;
    m_iPos = m_iPosChild;
    m_iPosChild = 0;
    m_bCurrentValid = m_iPos != 0;
    return true;
}

bool CMarkup::OutOfElement() {
    if (!m_iPosParent) return false;
    m_iPosChild = m_iPos;
    m_iPos = m_iPosParent;
    m_iPosParent = m_aPos[m_iPos].iElemParent;
    m_bCurrentValid = true;
    return true;
}

void CMarkup::CheckElem(int elem) const {
    if (elem < 0 || elem >= m_iPosFree) AfxThrowInvalidArgException();
}

CString CMarkup::GetElementText(int element) const {
    CheckElem(element);
    return ElementData(m_aPos[element]);
}

CString CMarkup::ElementData(const ElemPos& pos) const {
    if (pos.iElemChild || pos.nEndL <= pos.nStartR) return CString();
    const std::u16string& doc = m_strDoc.GetStdString();
    const int start = pos.nStartR + 1;
    const int end = pos.nEndL;
    const int first = SkipBlanks(doc, start, end);
    const std::u16string_view cdataOpen = u"<![CDATA[";
    if (end - first > 11 && doc.compare(first, cdataOpen.size(), cdataOpen) == 0) {
        const int data = first + static_cast<int>(cdataOpen.size());
        int close = FindText(doc, u"]]>", data);
        if (close >= 0 && close + 3 <= end) return CString(doc.substr(data, close - data));
    }
    return Unescape(std::u16string_view(doc).substr(start, end - start));
}

CString CMarkup::Escape(LPCWSTR text) {
    std::u16string out;
    for (; *text; ++text) {
        switch (*text) {
            case u'<': out += u"&lt;"; break;
            case u'&': out += u"&amp;"; break;
            case u'>': out += u"&gt;"; break;
            default: out += *text;
        }
    }
    return CString(std::move(out));
}

CString CMarkup::Unescape(std::u16string_view text) {
    static const struct {
        std::u16string_view entity;
        char16_t ch;
    } kEntities[] = {
        {u"&lt;", u'<'}, {u"&amp;", u'&'}, {u"&gt;", u'>'}, {u"&apos;", u'\''}, {u"&quot;", u'"'}};
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t ch = text[i];
        if (ch == u'&') {
            for (const auto& e : kEntities) {
                if (text.substr(i, e.entity.size()) == e.entity) {
                    ch = e.ch;
                    i += e.entity.size() - 1;
                    break;
                }
            }
        }
        out += ch;
    }
    return CString(std::move(out));
}

// Where a new element goes when there is no current element: before the parent's end tag.
int CMarkup::InsertionPoint(int parent) const {
    if (m_iPos) return SkipBlanks(m_strDoc.GetStdString(), m_aPos[m_iPos].nEndR + 1, m_strDoc.GetLength());
    return m_aPos[parent].nEndL;
}

void CMarkup::ShiftElem(int elem, int from, int delta) {
    ElemPos& pos = m_aPos[elem];
    for (int* p : {&pos.nStartL, &pos.nStartR, &pos.nEndL, &pos.nEndR})
        if (*p >= from) *p += delta;
}

// Only the elements around the insertion point (the parent and its ancestors) and those after it
// in the text (the later siblings of the current element and of every ancestor, with their
// subtrees) have positions at or after from; the rest is left alone, so appending stays linear.
void CMarkup::ShiftPositions(int from, int delta, int parent) {
    std::vector<int> after;
    if (m_iPos && m_aPos[m_iPos].iElemNext) after.push_back(m_aPos[m_iPos].iElemNext);
    for (int elem = parent; elem; elem = m_aPos[elem].iElemParent) {
        ShiftElem(elem, from, delta);
        if (m_aPos[elem].iElemNext) after.push_back(m_aPos[elem].iElemNext);
    }
    while (!after.empty()) {
        const int elem = after.back();
        after.pop_back();
        ShiftElem(elem, from, delta);
        if (m_aPos[elem].iElemNext) after.push_back(m_aPos[elem].iElemNext);
        if (m_aPos[elem].iElemChild) after.push_back(m_aPos[elem].iElemChild);
    }
}

void CMarkup::LinkNew(int elem, int parent) {
    if (m_iPos) {
        m_aPos[elem].iElemNext = m_aPos[m_iPos].iElemNext;
        m_aPos[m_iPos].iElemNext = elem;
        return;
    }
    int last = m_aPos[parent].iElemChild;
    if (!last) {
        m_aPos[parent].iElemChild = elem;
        return;
    }
    while (m_aPos[last].iElemNext) last = m_aPos[last].iElemNext;
    m_aPos[last].iElemNext = elem;
}

bool CMarkup::AddElement(LPCWSTR name, LPCWSTR text) {
    if (!name || !*name) return false;
    const bool newRoot = m_aPos[0].iElemChild == 0;
    if (!newRoot && m_iPosParent == 0) return false;
    const int parent = newRoot ? 0 : m_iPosParent;
    const bool empty = !text || !*text;
    const int nameLength = static_cast<int>(zbw::StrLen(name));
    const CString escaped = empty ? CString() : Escape(text);
    const CString markup = empty ? CString(u"<") + name + u"/>\r\n"
                                 : CString(u"<") + name + u">" + escaped + u"</" + name + u">\r\n";
    const int elem = NewRecord(parent);
    int at;
    if (newRoot) {
        at = m_strDoc.GetLength();
        m_strDoc += markup;
    } else if (!m_iPos && m_aPos[parent].nEndL < m_aPos[parent].nStartR) {
        // An empty parent is opened: its "/" becomes ">\r\n" + new + "</" + name, so its own
        // ">" closes the new end tag.
        const int slash = m_aPos[parent].nEndL;
        const CString opened = CString(u">\r\n") + markup + u"</" + ElemName(parent);
        m_strDoc.Delete(slash, 1);
        m_strDoc.Insert(slash, opened);
        ShiftPositions(slash + 1, opened.GetLength() - 1, parent);
        m_aPos[parent].nStartR = slash;
        m_aPos[parent].nEndL = slash + 3 + markup.GetLength();
        at = slash + 3;
    } else {
        const int point = InsertionPoint(parent);
        const bool bare = !m_iPos && point == m_aPos[parent].nStartR + 1;
        const CString inserted = bare ? CString(u"\r\n") + markup : markup;
        m_strDoc.Insert(point, inserted);
        ShiftPositions(point, inserted.GetLength(), parent);
        at = point + (bare ? 2 : 0);
    }
    ElemPos& pos = m_aPos[elem];
    pos.nStartL = at;
    if (empty) {
        pos.nEndL = at + 1 + nameLength;
        pos.nStartR = pos.nEndR = pos.nEndL + 1;
    } else {
        pos.nStartR = at + 1 + nameLength;
        pos.nEndL = pos.nStartR + 1 + escaped.GetLength();
        pos.nEndR = pos.nEndL + 2 + nameLength;
    }
    LinkNew(elem, parent);
    m_iPos = elem;
    m_iPosChild = 0;
    m_bCurrentValid = true;
    return true;
}
