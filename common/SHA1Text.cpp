#include "common/SHA1Text.h"

#include <vector>

#include "common/SHA1.h"

namespace {

const int kDigestTextLength = 44;

}  // namespace

CString SHA1HashText(const CString& text) {
    std::vector<BYTE> bytes;
    bytes.reserve(static_cast<size_t>(text.GetLength()) * 2);
    for (char16_t unit : text.GetStdString()) {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    SHA1 sha;
    sha.Update(bytes.data(), static_cast<UINT>(bytes.size()));
    sha.Finish();
    DWORD h[5];
    sha.GetDigest(h);
    CString digest;
    digest.Format(u"%08X %08X %08X %08X %08X", h[0], h[1], h[2], h[3], h[4]);
    return digest;
}

void AppendSHA1Digest(CString& text) {
    text += SHA1HashText(text);
}

bool VerifySHA1Digest(CString& text) {
    int bodyLength = text.GetLength() - kDigestTextLength;
    if (bodyLength < 0) return false;
    CString body = text.Left(bodyLength);
    if (SHA1HashText(body) != text.Mid(bodyLength)) return false;
    text = body;
    return true;
}
