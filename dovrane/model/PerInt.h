// CPerInt: a number setting of a profile file (RegEntry.h has the family's rules), optionally
// with value names, one per value 0, 1, 2 ... in order.
//
// Like CPerString it keeps the value, which it writes back, and the loaded value, which readers
// get (GetValue). A number is read as the C runtime's decimal conversion reads it (leading
// blanks, a sign, digits; 0 when there are none; clamped to the 32-bit range). An entry with
// value names takes its default for a number outside 0 .. names-1. Assignment copies the
// numbers, texts and names, not the declared and application-profile flags. GetValueName with
// an index outside the names throws CInvalidArgException. One thread at a time per object.
#pragma once

#include "dovrane/model/RegEntry.h"
#include "dovrane/model/SectionList.h"
#include "platform/base/CString.h"
#include "platform/classlib/StringArray.h"

class CPerInt : public CRegEntry {
   public:
    CPerInt() = default;
    CPerInt& operator=(const CPerInt& other);
    // Writes the value back to (section, key) while the write-back switch is on.
    ~CPerInt() override;

    void Declare(LPCWSTR section, LPCWSTR key, int defaultValue);
    // The index the name got.
    int AddValueName(LPCWSTR name);
    CString GetValueName(int index) const;
    int GetValueNameCount() const { return static_cast<int>(m_ValueNames.GetSize()); }

    // Loading: the key's number (or the default) becomes value and loaded value. Storing: adds
    // the section when missing and writes the value as a key, with a comment that lists the value
    // names when there are any. Nothing happens for an undeclared entry or one that does not use
    // the application profile.
    void LoadEntry(CSectionList& list, bool storing = false);

    int GetValue() const { return m_nLoaded; }
    // Sets value and loaded value.
    void SetValue(int value);
    // Value := loaded value; a loaded value outside the names gives the default to both.
    void RevertToLoaded();

    int GetWriteValue() const { return m_nValue; }
    int GetDefault() const { return m_nDefault; }
    const CString& GetSection() const { return m_strSection; }
    const CString& GetKey() const { return m_strKey; }

   private:
    bool IsNamed(int value) const { return value >= 0 && value < GetValueNameCount(); }
    CString StoringComment() const;

    int m_nValue = 0;
    int m_nLoaded = 0;
    int m_nDefault = 0;
    CString m_strSection;
    CString m_strKey;
    CStringArray m_ValueNames;
};
