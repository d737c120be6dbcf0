#include "common/SHA1.h"

#include <algorithm>
#include <cstring>

namespace {

DWORD RotateLeft(DWORD value, int bits) {
    return (value << bits) | (value >> (32 - bits));
}

void PutBigEndian(BYTE* out, DWORD value) {
    out[0] = static_cast<BYTE>(value >> 24);
    out[1] = static_cast<BYTE>(value >> 16);
    out[2] = static_cast<BYTE>(value >> 8);
    out[3] = static_cast<BYTE>(value);
}

}  // namespace

SHA1::SHA1() {
    Reset();
}

SHA1::~SHA1() {
    std::memset(m_block, 0, sizeof(m_block));
}

void SHA1::Reset() {
    m_h[0] = 0x67452301;
    m_h[1] = 0xEFCDAB89;
    m_h[2] = 0x98BADCFE;
    m_h[3] = 0x10325476;
    m_h[4] = 0xC3D2E1F0;
    m_lengthLow = 0;
    m_lengthHigh = 0;
    std::memset(m_block, 0, sizeof(m_block));
    m_blockUsed = 0;
    m_computed = false;
    m_corrupted = false;
}

void SHA1::Update(const BYTE* data, UINT length) {
    if (length == 0) return;
    if (m_computed || m_corrupted || !data) {
        m_corrupted = true;
        return;
    }
    // Whole pieces up to the end of the block at a time; the bit count is 64 bits in two halves.
    while (length > 0) {
        const UINT take = std::min<UINT>(64 - m_blockUsed, length);
        std::memcpy(m_block + m_blockUsed, data, take);
        m_blockUsed += take;
        data += take;
        length -= take;
        const DWORD before = m_lengthLow;
        m_lengthLow += take * 8;
        if (m_lengthLow < before && ++m_lengthHigh == 0) {
            m_corrupted = true;
            return;
        }
        if (m_blockUsed == 64) ProcessBlock();
    }
}

void SHA1::Finish() {
    if (m_computed || m_corrupted) return;
    m_block[m_blockUsed++] = 0x80;
    if (m_blockUsed > 56) {
        std::memset(m_block + m_blockUsed, 0, 64 - m_blockUsed);
        ProcessBlock();
    }
    std::memset(m_block + m_blockUsed, 0, 56 - m_blockUsed);
    PutBigEndian(m_block + 56, m_lengthHigh);
    PutBigEndian(m_block + 60, m_lengthLow);
    ProcessBlock();
    m_computed = true;
}

bool SHA1::GetDigest(DWORD digest[5]) const {
    bool valid = m_computed && !m_corrupted;
    for (int i = 0; i < 5; ++i) digest[i] = valid ? m_h[i] : 0;
    return valid;
}

void SHA1::ProcessBlock() {
    DWORD w[80];
    for (int t = 0; t < 16; ++t) {
        w[t] = (DWORD{m_block[4 * t]} << 24) | (DWORD{m_block[4 * t + 1]} << 16) |
               (DWORD{m_block[4 * t + 2]} << 8) | DWORD{m_block[4 * t + 3]};
    }
    for (int t = 16; t < 80; ++t) w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

    DWORD a = m_h[0], b = m_h[1], c = m_h[2], d = m_h[3], e = m_h[4];
    for (int t = 0; t < 80; ++t) {
        DWORD f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        DWORD temp = RotateLeft(a, 5) + f + e + w[t] + k;
        e = d;
        d = c;
        c = RotateLeft(b, 30);
        b = a;
        a = temp;
    }
    m_h[0] += a;
    m_h[1] += b;
    m_h[2] += c;
    m_h[3] += d;
    m_h[4] += e;
    m_blockUsed = 0;
}
