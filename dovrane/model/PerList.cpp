#include "dovrane/model/PerList.h"

#include <algorithm>
#include <cstdint>
#include <map>

#include "dovrane/model/RegEntry.h"
#include "platform/base/WideChar.h"

namespace {

// The index of a key "<prefix> <n>" written as "%d" writes it (no sign, no leading zero), or -1.
int ItemIndex(const CString& key, const CString& prefix) {
    int start = prefix.GetLength() + 1;
    if (key.GetLength() <= start || key.Left(start) != prefix + u" ") return -1;
    CString digits = key.Mid(start);
    if (digits.GetLength() > 10 || (digits.GetLength() > 1 && digits[0] == u'0')) return -1;
    long long index = 0;
    for (int i = 0; i < digits.GetLength(); ++i) {
        if (digits[i] < u'0' || digits[i] > u'9') return -1;
        index = index * 10 + (digits[i] - u'0');
    }
    return index > INT32_MAX ? -1 : static_cast<int>(index);
}

}  // namespace

CPerList& CPerList::operator=(const CPerList& other) {
    Copy(other);
    m_strSection = other.m_strSection;
    m_strPrefix = other.m_strPrefix;
    return *this;
}

CPerList::~CPerList() {
    if (!CRegEntry::IsWriteBackOn() || !m_bDeclared || !IsInUse()) return;
    CRegEntry::WriteAppProfileInt(m_strSection, m_strPrefix + u"n", static_cast<int>(GetSize()));
    for (INT_PTR i = 0; i < GetSize(); ++i) {
        CString name;
        name.Format(u"%s%d", m_strPrefix, static_cast<int>(i));
        CRegEntry::WriteAppProfileString(m_strSection, name, GetAt(i));
    }
}

void CPerList::Declare(LPCWSTR name) {
    m_strSection = name;
    m_strPrefix = u"Filter";
    m_bDeclared = true;
    RemoveAll();
    int count = CRegEntry::GetAppProfileInt(m_strSection, m_strPrefix + u"n", 0);
    if (!IsInUse()) return;
    count = std::min(count, static_cast<int>(MaxItems));
    for (int i = 0; i < count; ++i) {
        CString itemName;
        itemName.Format(u"%s%d", m_strPrefix, i);
        Add(CRegEntry::GetAppProfileString(m_strSection, itemName, u" "));
    }
}

CString CPerList::ItemKey(INT_PTR index) const {
    CString key;
    key.Format(u"%s %d", m_strPrefix, static_cast<int>(index));
    return key;
}

void CPerList::LoadEntry(CSectionList& list, bool storing) {
    if (!m_bDeclared || !IsInUse()) return;
    if (storing) {
        StoreItems(list);
        return;
    }
    RemoveAll();
    int found = FindSection(list, m_strSection);
    if (found < 0) return;
    const CSection& section = list.Section(found);
    int keyIndex = FindKey(section, CountKey());
    if (keyIndex >= 0) ReadItems(section, _wtoi(section.m_Keys[keyIndex].strValue));
}

// The first key of each index below count, in index order: what probing "Filter 0" ..
// "Filter <count-1>" one by one gives, without a step per index the file only claims.
void CPerList::ReadItems(const CSection& section, int count) {
    std::map<int, CString> items;
    for (INT_PTR k = 0; k < section.m_Keys.GetSize(); ++k) {
        const KEY_STRUCT& key = section.m_Keys[k];
        int index = ItemIndex(key.strKey, m_strPrefix);
        if (index >= 0 && index < count) items.emplace(index, key.strValue);
    }
    for (const auto& item : items) Add(item.second);
}

void CPerList::StoreItems(CSectionList& list) const {
    AddSection(list, m_strSection);
    CString count;
    count.Format(u"%d", static_cast<int>(GetSize()));
    WriteKey(list, m_strSection, CountKey(), count);
    for (INT_PTR i = 0; i < GetSize(); ++i) WriteKey(list, m_strSection, ItemKey(i), GetAt(i));
}
