// CPerString: a text setting of a profile file (RegEntry.h has the family's rules).
//
// It keeps two texts: the value, which it writes back, and the loaded value, which readers get
// (GetValue). Declare takes the initial value from the application profile, with the coded
// default as fallback; LoadEntry reads the key from a section list, where a missing key gives the
// coded default whatever the application profile held. Texts read are cut to
// CSectionFileReader::MaxLine units. Assignment copies the texts, not the declared and
// application-profile flags. One thread at a time per object.
#pragma once

#include "dovrane/model/RegEntry.h"
#include "dovrane/model/SectionList.h"
#include "platform/base/CString.h"

class CPerString : public CRegEntry {
   public:
    CPerString() = default;
    CPerString& operator=(const CPerString& other);
    // Writes the value back to (section, key) while the write-back switch is on.
    ~CPerString() override;

    void Declare(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue);
    // Loading: the key's text (or the default) becomes value and loaded value. Storing: adds the
    // section when missing and writes the value as a key with the description as its comment.
    // Nothing happens for an undeclared entry or one that does not use the application profile.
    void LoadEntry(CSectionList& list, bool storing = false);

    const CString& GetValue() const { return m_strLoaded; }
    // Sets value and loaded value.
    void SetValue(const CString& value);
    void RevertToLoaded() { m_strValue = m_strLoaded; }

    const CString& GetWriteValue() const { return m_strValue; }
    const CString& GetDefault() const { return m_strDefault; }
    const CString& GetSection() const { return m_strSection; }
    const CString& GetKey() const { return m_strKey; }

   protected:
    CString m_strValue;
    CString m_strLoaded;
    CString m_strDefault;
    CString m_strSection;
    CString m_strKey;
    CString m_strDescription;
};
