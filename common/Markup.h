// CMarkup: one XML document held as a single UTF-16 text plus an index of its elements.
//
// The index is built by one parsing pass; each element is a record of character positions in
// the text (ElemPos), so the text is the only storage. Only the first top-level element is
// indexed; text after it is ignored. Comments, processing instructions, CDATA sections and
// document types are passed over; attributes in start tags are skipped (a ">" inside a quoted
// attribute value ends the tag). Tag names match case-insensitively over the element's name:
// "ITEM" finds <item>, "IT" does not find <ITEM>, and a wanted name may go on with one of
// " =/[" after the part that matches.
//
// A parse error leaves the text as it was, the index holding only record 0, and GetError()
// telling why. Element text unescapes &lt; &amp; &gt; &apos; &quot; and keeps any other "&";
// AddElement escapes only "<", "&" and ">" and writes no attributes. An element index outside
// the index throws CInvalidArgException (a programming error).
//
// A value: one thread at a time may use an object.
#pragma once

#include <string_view>
#include <vector>

#include "platform/base/CString.h"

class CMarkup {
   public:
    struct ElemPos {
        int nStartL;      // "<" of the start tag
        int nStartR;      // ">" that ends the start tag
        int nEndL;        // "<" of the end tag, or "/" of an empty element
        int nEndR;        // ">" that ends the element
        int nReserved;    // unused
        int iElemParent;  // 0 = document level
        int iElemChild;   // first child, 0 = none
        int iElemNext;    // next sibling, 0 = none
    };

    CMarkup();
    virtual ~CMarkup() = default;

    // Stores text (null = empty) and indexes it; false when no element was found (error text
    // set, or empty for an empty text).
    bool SetDocument(LPCWSTR text);
    const CString& GetDoc() const { return m_strDoc; }
    const CString& GetError() const { return m_strError; }

    // The next sibling after the current element (or the parent's first child) named name;
    // null or empty finds any. Nothing changes on failure.
    bool FindElement(LPCWSTR name = nullptr);
    // The next child of the current element after the child position; finds a current
    // element first when there is none.
    bool FindChildElement(LPCWSTR name = nullptr);
    bool IntoElement();
    bool OutOfElement();

    CString GetElementText(int element) const;
    // Text of the current element; empty when there is none.
    CString GetElementText() const { return GetElementText(m_iPos); }
    CString GetChildElementText() const { return GetElementText(m_iPosChild); }

    // Adds <name>text</name> (or <name/> for null or empty text) after the current element
    // under the parent, and makes it current. False for a second root.
    bool AddElement(LPCWSTR name, LPCWSTR text = nullptr);

   private:
    struct Token {
        int start = 0;  // first character of the token (inside the quotes when quoted)
        int end = 0;    // one past its last character
        int next = 0;   // where the scan goes on
        bool quoted = false;
        std::u16string_view View(const CString& doc) const;
        bool Is(const CString& doc, char16_t ch) const;
    };
    enum : int { kParseEnd = 0, kParseError = -1, kTextEnd = -2 };

    bool FindToken(int pos, Token& token) const;
    int NewRecord(int parent);
    int ParseElem(int parent);
    // The "<" of the next tag from elem's end-left field on, passing over nodes (which moves
    // that field), with token its first token; kTextEnd when the text has none, or kParseError.
    int NextTag(int elem, Token& token);
    // Past the "<?", "<!--", "<![" or other "<!" node that token ("?" or "!") opens; -1 when
    // it has no end.
    int SkipNode(const Token& token) const;
    int SkipDocType(int pos) const;
    // elem, with its end fields set, or kParseError.
    int ParseEndTag(int elem, const CString& name);
    int SetError(LPCWSTR message, const CString& name = CString());

    CString ElemName(int elem) const;
    bool NameMatches(int elem, LPCWSTR name) const;
    static bool TokenMatches(std::u16string_view token, LPCWSTR name);
    int FindSibling(int from, LPCWSTR name) const;
    void CheckElem(int elem) const;

    static CString Escape(LPCWSTR text);
    static CString Unescape(std::u16string_view text);
    CString ElementData(const ElemPos& pos) const;

    int InsertionPoint(int parent) const;
    void ShiftElem(int elem, int from, int delta);
    // Moves every position at or after from by delta, before the new element is linked in.
    void ShiftPositions(int from, int delta, int parent);
    void LinkNew(int elem, int parent);

    CString m_strDoc;
    CString m_strError;
    std::vector<ElemPos> m_aPos;
    int m_iPosParent = 0;
    int m_iPos = 0;
    int m_iPosChild = 0;
    int m_iPosFree = 1;  // records in use, record 0 included
    bool m_bCurrentValid = false;
};
