#include "dovrane/model/PerString.h"

#include "dovrane/model/SectionFileReader.h"

CPerString& CPerString::operator=(const CPerString& other) {
    CRegEntry::operator=(other);
    m_strValue = other.m_strValue;
    m_strLoaded = other.m_strLoaded;
    m_strDefault = other.m_strDefault;
    m_strSection = other.m_strSection;
    m_strKey = other.m_strKey;
    m_strDescription = other.m_strDescription;
    return *this;
}

CPerString::~CPerString() {
    if (IsWriteBackOn() && m_bDeclared && UsesAppProfile())
        WriteAppProfileString(m_strSection, m_strKey, m_strValue);
}

void CPerString::Declare(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue) {
    m_strDescription.Empty();
    m_strDefault = defaultValue;
    m_strSection = section;
    m_strKey = key;
    m_strValue = UsesAppProfile() ? GetAppProfileString(section, key, defaultValue) : m_strDefault;
    m_strLoaded = m_strValue;
    m_bDeclared = true;
}

void CPerString::LoadEntry(CSectionList& list, bool storing) {
    if (!m_bDeclared || !UsesAppProfile()) return;
    if (storing) {
        AddSection(list, m_strSection);
        WriteKey(list, m_strSection, m_strKey, m_strValue, u"; ******* " + m_strDescription);
        m_strLoaded = m_strValue;
        return;
    }
    CString text;
    if (ReadKey(list, m_strSection, m_strKey, &text))
        m_strValue = text.Left(CSectionFileReader::MaxLine);
    else
        m_strValue = m_strDefault;
    m_strLoaded = m_strValue;
}

void CPerString::SetValue(const CString& value) {
    m_strValue = value;
    m_strLoaded = value;
}
