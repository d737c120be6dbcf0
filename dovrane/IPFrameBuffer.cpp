#include "dovrane/IPFrameBuffer.h"

#include "common/SHA1Text.h"

namespace {

constexpr int kDigestLength = 44;

bool IsUpperHex(WCHAR c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
}

}  // namespace

void CIPFrameBuffer::Append(const char* data, int count, DWORD now) {
    if (count < 1) return;
    if (!HasPartial()) m_dwStarted = now;
    m_oddByte.append(data, static_cast<size_t>(count));
    const size_t whole = m_oddByte.size() & ~size_t{1};
    for (size_t i = 0; i < whole; i += 2) {
        const auto low = static_cast<unsigned char>(m_oddByte[i]);
        const auto high = static_cast<unsigned char>(m_oddByte[i + 1]);
        m_text += static_cast<WCHAR>(low | (high << 8));
    }
    m_oddByte.erase(0, whole);
}

CIPFrameBuffer::RESULT CIPFrameBuffer::TakeFrame(CString& text) {
    text.Empty();
    const int end = FindFrameEnd();
    if (end < 0) {
        if (m_text.GetLength() <= m_nMaxChars) return FRAME_NONE;
        Clear();
        return FRAME_BAD;
    }
    CString framed = m_text.Left(end + 1 + kDigestLength);
    m_text.Delete(0, framed.GetLength());
    m_nScanFrom = 0;
    if (!VerifySHA1Digest(framed)) return FRAME_BAD;
    text = framed.Left(end);
    return FRAME_OK;
}

int CIPFrameBuffer::FindFrameEnd() {
    for (int bar = m_text.Find(u'|', m_nScanFrom); bar >= 0; bar = m_text.Find(u'|', bar + 1)) {
        if (m_text.GetLength() - bar - 1 < kDigestLength) {
            m_nScanFrom = bar;  // its digest may still be on the way
            return -1;
        }
        if (IsDigestText(m_text, bar + 1)) return bar;
    }
    m_nScanFrom = m_text.GetLength();
    return -1;
}

// Five groups of eight upper-case hexadecimal digits with one blank between them.
bool CIPFrameBuffer::IsDigestText(const CString& text, int start) {
    for (int i = 0; i < kDigestLength; ++i) {
        const WCHAR c = text[start + i];
        if (i % 9 == 8 ? c != u' ' : !IsUpperHex(c)) return false;
    }
    return true;
}

bool CIPFrameBuffer::DropStale(DWORD now, DWORD maxAgeMs) {
    if (!HasPartial() || now - m_dwStarted <= maxAgeMs) return false;
    Clear();
    return true;
}

void CIPFrameBuffer::Clear() {
    m_oddByte.clear();
    m_text.Empty();
    m_nScanFrom = 0;
}
