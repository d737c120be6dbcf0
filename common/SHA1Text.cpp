#include "common/SHA1Text.h"

#include <bit>
#include <vector>

#include "common/SHA1.h"

namespace {

const int kDigestTextLength = 44;

// The digest text of count UTF-16 units, two bytes each, low byte first.
CString DigestText(LPCWSTR units, int count) {
    SHA1 sha;
    if constexpr (std::endian::native == std::endian::little) {
        sha.Update(reinterpret_cast<const BYTE*>(units), static_cast<UINT>(count) * 2);
    } else {
        std::vector<BYTE> bytes;
        bytes.reserve(static_cast<size_t>(count) * 2);
        for (int i = 0; i < count; ++i) {
            bytes.push_back(static_cast<BYTE>(units[i] & 0xFF));
            bytes.push_back(static_cast<BYTE>(units[i] >> 8));
        }
        sha.Update(bytes.data(), static_cast<UINT>(bytes.size()));
    }
    sha.Finish();
    DWORD h[5];
    sha.GetDigest(h);
    CString digest;
    digest.Format(u"%08X %08X %08X %08X %08X", h[0], h[1], h[2], h[3], h[4]);
    return digest;
}

}  // namespace

CString SHA1HashText(const CString& text) {
    return DigestText(text.GetString(), text.GetLength());
}

void AppendSHA1Digest(CString& text) {
    text += SHA1HashText(text);
}

bool VerifySHA1Digest(CString& text) {
    int bodyLength = text.GetLength() - kDigestTextLength;
    if (bodyLength < 0) return false;
    if (DigestText(text.GetString(), bodyLength) != text.Mid(bodyLength)) return false;
    text.Delete(bodyLength, kDigestTextLength);
    return true;
}
