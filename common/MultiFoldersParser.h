// CMultiFoldersParser: splits a list of folders joined by separator characters (the profile
// settings join several folders with "|") into items trimmed of blanks, tabs and line breaks.
// "a||b" gives an empty middle item; a trailing separator gives no empty last item; an empty
// text gives no item. One thread at a time per object.
#pragma once

#include "platform/base/CString.h"
#include "platform/classlib/StringArray.h"

class CMultiFoldersParser {
   public:
    CMultiFoldersParser() = default;
    virtual ~CMultiFoldersParser() = default;

    // Stores the text and the separator characters and starts at the beginning.
    void SetText(const CString& text, const CString& separators);
    // The next item; false when nothing is left.
    bool GetNext(CString& item);
    // Restarts and collects every item into GetItems().
    void ParseAll();
    const CStringArray& GetItems() const { return m_items; }

    // The items of a profile's folder list, joined by "|".
    static CStringArray SplitFolders(const CString& text);

   private:
    CString m_text;
    CString m_rest;
    CString m_separators;
    CStringArray m_items;
};
