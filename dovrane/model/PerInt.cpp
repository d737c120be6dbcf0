#include "dovrane/model/PerInt.h"

#include "platform/base/WideChar.h"

CPerInt& CPerInt::operator=(const CPerInt& other) {
    CRegEntry::operator=(other);
    m_nValue = other.m_nValue;
    m_nLoaded = other.m_nLoaded;
    m_nDefault = other.m_nDefault;
    m_strSection = other.m_strSection;
    m_strKey = other.m_strKey;
    m_ValueNames.Copy(other.m_ValueNames);
    return *this;
}

CPerInt::~CPerInt() {
    if (IsWriteBackOn() && m_bDeclared && UsesAppProfile())
        WriteAppProfileInt(m_strSection, m_strKey, m_nValue);
}

void CPerInt::Declare(LPCWSTR section, LPCWSTR key, int defaultValue) {
    m_nDefault = defaultValue;
    m_strSection = section;
    m_strKey = key;
    m_nValue = UsesAppProfile() ? GetAppProfileInt(section, key, defaultValue) : defaultValue;
    m_nLoaded = m_nValue;
    m_bDeclared = true;
}

int CPerInt::AddValueName(LPCWSTR name) {
    return static_cast<int>(m_ValueNames.Add(CString(name)));
}

CString CPerInt::GetValueName(int index) const {
    return m_ValueNames.GetAt(index);
}

void CPerInt::LoadEntry(CSectionList& list, bool storing) {
    if (!m_bDeclared || !UsesAppProfile()) return;
    if (storing) {
        AddSection(list, m_strSection);
        CString number;
        number.Format(u"%d", m_nValue);
        WriteKey(list, m_strSection, m_strKey, number, StoringComment());
        m_nLoaded = m_nValue;
        return;
    }
    CString text;
    int number = ReadKey(list, m_strSection, m_strKey, &text) ? _wtoi(text) : m_nDefault;
    if (GetValueNameCount() > 0 && !IsNamed(number)) number = m_nDefault;
    m_nValue = number;
    m_nLoaded = number;
}

void CPerInt::SetValue(int value) {
    m_nValue = value;
    m_nLoaded = value;
}

void CPerInt::RevertToLoaded() {
    if (GetValueNameCount() > 0 && !IsNamed(m_nLoaded)) m_nLoaded = m_nDefault;
    m_nValue = m_nLoaded;
}

CString CPerInt::StoringComment() const {
    CString comment;
    if (m_ValueNames.IsEmpty()) return comment;
    comment = u"; ******* values for " + m_strKey + u":";
    for (INT_PTR i = 0; i < m_ValueNames.GetSize(); ++i)
        comment.AppendFormat(u" (%d=%s)", static_cast<int>(i), m_ValueNames[i]);
    return comment;
}
