#include "platform/base/CString.h"

#include <algorithm>
#include <ostream>

#include "platform/base/TextConvert.h"
#include "platform/base/WideChar.h"

namespace {

std::u16string_view ViewOf(LPCWSTR text) {
    return text ? std::u16string_view(text, zbw::StrLen(text)) : u"";
}

size_t ClampIndex(int index, size_t size) {
    if (index < 0) return 0;
    return std::min(static_cast<size_t>(index), size);
}

int Sign(int value) {
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

bool InSet(std::u16string_view set, char16_t ch) {
    return set.find(ch) != std::u16string_view::npos;
}

}  // namespace

CString::CString(LPCWSTR text) : m_text(ViewOf(text)) {}

CString::CString(LPCWSTR text, int length) {
    if (text && length > 0) m_text.assign(text, static_cast<size_t>(length));
}

CString::CString(const char* ansi) : m_text(zbw::FromAnsi(ansi ? std::string_view(ansi) : "").m_text) {}

CString::CString(const char* ansi, int length) {
    if (ansi && length > 0)
        m_text = zbw::FromAnsi(std::string_view(ansi, static_cast<size_t>(length))).m_text;
}

CString::CString(char16_t ch, int repeat) : m_text(repeat > 0 ? static_cast<size_t>(repeat) : 0, ch) {}

CString& CString::operator=(LPCWSTR text) {
    // The source may point into this string.
    std::u16string copy(ViewOf(text));
    m_text.swap(copy);
    return *this;
}

CString& CString::operator=(const char* ansi) {
    return *this = CString(ansi);
}

CString& CString::operator=(char16_t ch) {
    m_text.assign(1, ch);
    return *this;
}

CString& CString::operator=(const std::u16string& text) {
    m_text = text;
    return *this;
}

char16_t CString::GetAt(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= m_text.size()) return 0;
    return m_text[static_cast<size_t>(index)];
}

void CString::SetAt(int index, char16_t ch) {
    if (index < 0 || static_cast<size_t>(index) >= m_text.size()) return;
    m_text[static_cast<size_t>(index)] = ch;
}

LPWSTR CString::GetBuffer() {
    return m_text.data();
}

LPWSTR CString::GetBuffer(int minLength) {
    if (minLength > GetLength()) m_text.resize(static_cast<size_t>(minLength));
    return m_text.data();
}

LPWSTR CString::GetBufferSetLength(int length) {
    m_text.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return m_text.data();
}

void CString::ReleaseBuffer(int newLength) {
    if (newLength < 0) {
        const size_t end = m_text.find(u'\0');
        if (end != std::u16string::npos) m_text.resize(end);
        return;
    }
    if (static_cast<size_t>(newLength) < m_text.size()) m_text.resize(static_cast<size_t>(newLength));
}

void CString::Preallocate(int length) {
    if (length > 0) m_text.reserve(static_cast<size_t>(length));
}

CString CString::Left(int count) const {
    return CString(View().substr(0, ClampIndex(count, m_text.size())));
}

CString CString::Right(int count) const {
    const size_t n = ClampIndex(count, m_text.size());
    return CString(View().substr(m_text.size() - n));
}

CString CString::Mid(int first) const {
    return CString(View().substr(ClampIndex(first, m_text.size())));
}

CString CString::Mid(int first, int count) const {
    const size_t start = ClampIndex(first, m_text.size());
    return CString(View().substr(start, count > 0 ? static_cast<size_t>(count) : 0));
}

CString CString::SpanIncluding(LPCWSTR set) const {
    const size_t end = m_text.find_first_not_of(ViewOf(set));
    return CString(View().substr(0, end));
}

CString CString::SpanExcluding(LPCWSTR set) const {
    const size_t end = m_text.find_first_of(ViewOf(set));
    return CString(View().substr(0, end));
}

CString CString::Tokenize(LPCWSTR delimiters, int& start) const {
    if (start < 0 || static_cast<size_t>(start) >= m_text.size()) {
        start = -1;
        return CString();
    }
    const std::u16string_view set = ViewOf(delimiters);
    const size_t from = m_text.find_first_not_of(set, static_cast<size_t>(start));
    if (from == std::u16string::npos) {
        start = -1;
        return CString();
    }
    size_t until = set.empty() ? std::u16string::npos : m_text.find_first_of(set, from);
    if (until == std::u16string::npos) until = m_text.size();
    // Past the delimiter that ended the token; with no delimiters the rest is one token and
    // the next call ends, where the class library would hand out the rest again forever.
    start = static_cast<int>(until + 1);
    return CString(View().substr(from, until - from));
}

int CString::Find(char16_t ch, int start) const {
    if (start < 0) start = 0;
    const size_t pos = m_text.find(ch, static_cast<size_t>(start));
    return pos == std::u16string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(LPCWSTR sub, int start) const {
    if (start < 0) start = 0;
    if (static_cast<size_t>(start) > m_text.size()) return -1;
    const size_t pos = m_text.find(ViewOf(sub), static_cast<size_t>(start));
    return pos == std::u16string::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(char16_t ch) const {
    const size_t pos = m_text.rfind(ch);
    return pos == std::u16string::npos ? -1 : static_cast<int>(pos);
}

int CString::FindOneOf(LPCWSTR set) const {
    const size_t pos = m_text.find_first_of(ViewOf(set));
    return pos == std::u16string::npos ? -1 : static_cast<int>(pos);
}

int CString::Replace(char16_t oldCh, char16_t newCh) {
    int count = 0;
    for (auto& c : m_text) {
        if (c == oldCh) {
            c = newCh;
            ++count;
        }
    }
    return count;
}

int CString::Replace(LPCWSTR oldText, LPCWSTR newText) {
    const std::u16string_view from = ViewOf(oldText);
    if (from.empty()) return 0;
    const std::u16string to(ViewOf(newText));
    std::u16string result;
    int count = 0;
    size_t pos = 0;
    for (size_t hit; (hit = m_text.find(from, pos)) != std::u16string::npos; pos = hit + from.size()) {
        result.append(m_text, pos, hit - pos).append(to);
        ++count;
    }
    if (count == 0) return 0;
    result.append(m_text, pos);
    m_text.swap(result);
    return count;
}

int CString::Remove(char16_t ch) {
    const size_t before = m_text.size();
    std::erase(m_text, ch);
    return static_cast<int>(before - m_text.size());
}

int CString::Insert(int index, char16_t ch) {
    m_text.insert(ClampIndex(index, m_text.size()), 1, ch);
    return GetLength();
}

int CString::Insert(int index, LPCWSTR text) {
    const std::u16string copy(ViewOf(text));
    m_text.insert(ClampIndex(index, m_text.size()), copy);
    return GetLength();
}

int CString::Delete(int index, int count) {
    if (index < 0) index = 0;
    if (count > 0 && static_cast<size_t>(index) < m_text.size()) {
        m_text.erase(static_cast<size_t>(index), static_cast<size_t>(count));
    }
    return GetLength();
}

CString& CString::Trim() {
    return TrimRight().TrimLeft();
}
CString& CString::Trim(char16_t ch) {
    return TrimRight(ch).TrimLeft(ch);
}
CString& CString::Trim(LPCWSTR set) {
    return TrimRight(set).TrimLeft(set);
}

CString& CString::TrimLeft() {
    const auto it = std::find_if_not(m_text.begin(), m_text.end(), zbw::IsSpace);
    m_text.erase(m_text.begin(), it);
    return *this;
}

CString& CString::TrimLeft(char16_t ch) {
    m_text.erase(0, m_text.find_first_not_of(ch));
    return *this;
}

CString& CString::TrimLeft(LPCWSTR set) {
    const std::u16string_view chars = ViewOf(set);
    const auto it =
        std::find_if_not(m_text.begin(), m_text.end(), [&](char16_t c) { return InSet(chars, c); });
    m_text.erase(m_text.begin(), it);
    return *this;
}

CString& CString::TrimRight() {
    while (!m_text.empty() && zbw::IsSpace(m_text.back())) m_text.pop_back();
    return *this;
}

CString& CString::TrimRight(char16_t ch) {
    while (!m_text.empty() && m_text.back() == ch) m_text.pop_back();
    return *this;
}

CString& CString::TrimRight(LPCWSTR set) {
    const std::u16string_view chars = ViewOf(set);
    while (!m_text.empty() && InSet(chars, m_text.back())) m_text.pop_back();
    return *this;
}

CString& CString::MakeUpper() {
    for (auto& c : m_text) c = zbw::ToUpper(c);
    return *this;
}

CString& CString::MakeLower() {
    for (auto& c : m_text) c = zbw::ToLower(c);
    return *this;
}

CString& CString::MakeReverse() {
    std::reverse(m_text.begin(), m_text.end());
    return *this;
}

int CString::Compare(LPCWSTR text) const {
    return Sign(View().compare(ViewOf(text)));
}
int CString::Compare(const CString& text) const {
    return Sign(m_text.compare(text.m_text));
}
int CString::CompareNoCase(LPCWSTR text) const {
    return Sign(zbw::CompareNoCase(View(), ViewOf(text)));
}
int CString::CompareNoCase(const CString& text) const {
    return Sign(zbw::CompareNoCase(View(), text.View()));
}

void CString::FormatArgs(LPCWSTR format, const zbw::CFormatArgs& args) {
    // The arguments may point into this string: build the result aside.
    std::u16string result;
    zbw::AppendFormatted(result, format, args);
    m_text.swap(result);
}

void CString::AppendFormatArgs(LPCWSTR format, const zbw::CFormatArgs& args) {
    std::u16string result;
    zbw::AppendFormatted(result, format, args);
    m_text += result;
}

CString& CString::operator+=(const CString& text) {
    m_text += text.m_text;
    return *this;
}

CString& CString::operator+=(LPCWSTR text) {
    const std::u16string copy(ViewOf(text));
    m_text += copy;
    return *this;
}

CString& CString::operator+=(char16_t ch) {
    m_text += ch;
    return *this;
}

CString operator+(const CString& a, const CString& b) {
    return CString(a.m_text + b.m_text);
}
CString operator+(const CString& a, LPCWSTR b) {
    return CString(a.m_text + std::u16string(ViewOf(b)));
}
CString operator+(LPCWSTR a, const CString& b) {
    return CString(std::u16string(ViewOf(a)) + b.m_text);
}
CString operator+(const CString& a, char16_t b) {
    return CString(a.m_text + b);
}
CString operator+(char16_t a, const CString& b) {
    return CString(a + b.m_text);
}

void PrintTo(const CString& text, std::ostream* os) {
    *os << '"' << zbw::ToUtf8(text) << '"';
}

namespace zbw {

size_t CStringHashNoCase::operator()(const CString& text) const noexcept {
    std::u16string folded(text.GetStdString());
    for (auto& c : folded) c = ToLower(c);
    return std::hash<std::u16string>()(folded);
}

}  // namespace zbw
