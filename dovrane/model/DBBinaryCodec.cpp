#include "dovrane/model/DBBinaryCodec.h"

#include "dovrane/model/CppSQLite3Exception.h"

namespace {

const int kApostrophe = 39;

}  // namespace

void CDBBinaryCodec::setBinary(const unsigned char* data, int length) {
    m_binary.assign(data, data + (length > 0 ? length : 0));
    m_binaryValid = true;
    m_encodedValid = false;
}

unsigned char CDBBinaryCodec::chooseOffset(const unsigned char* data, int length) {
    int count[256] = {};
    for (int i = 0; i < length; ++i) ++count[data[i]];
    int best = 1;
    int bestSum = length;
    for (int e = 1; e < 256; ++e) {
        if (e == kApostrophe) continue;
        int sum = count[e] + count[(e + 1) & 0xFF] + count[(e + kApostrophe) & 0xFF];
        if (sum < bestSum) {
            best = e;
            bestSum = sum;
            if (sum == 0) break;
        }
    }
    return static_cast<unsigned char>(best);
}

const std::string& CDBBinaryCodec::getEncoded() {
    if (m_encodedValid) return m_encoded;
    m_encoded.clear();
    int length = static_cast<int>(m_binary.size());
    if (length == 0) {
        // Not `= "x"`: g++ 12 sees an overlapping copy in that assignment (-Wrestrict) when it
        // optimises.
        m_encoded.push_back('x');
    } else {
        m_encoded.reserve((length * 257) / 254 + 3);
        unsigned char e = chooseOffset(m_binary.data(), length);
        m_encoded += static_cast<char>(e);
        for (unsigned char x : m_binary) {
            unsigned char d = static_cast<unsigned char>(x - e);
            if (d == 0 || d == 1 || d == kApostrophe) {
                m_encoded += '\1';
                m_encoded += static_cast<char>(d == 0 ? 1 : d == 1 ? 2 : 3);
            } else {
                m_encoded += static_cast<char>(d);
            }
        }
    }
    m_encodedValid = true;
    return m_encoded;
}

void CDBBinaryCodec::setEncoded(const std::string& text) {
    m_encoded = text;
    m_encodedValid = true;
    m_binaryValid = false;
}

const std::vector<unsigned char>& CDBBinaryCodec::getBinary() {
    if (m_binaryValid) return m_binary;
    m_binary.clear();
    if (m_encoded.empty()) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Cannot decode binary");
    // Never longer than the encoding; written by index, since every stored record is decoded.
    m_binary.resize(m_encoded.size());
    size_t decoded = 0;
    unsigned char e = static_cast<unsigned char>(m_encoded[0]);
    for (size_t i = 1; i < m_encoded.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(m_encoded[i]);
        if (c == 0) break;
        if (c == 1) {
            unsigned char b = ++i < m_encoded.size() ? static_cast<unsigned char>(m_encoded[i]) : 0;
            if (b < 1 || b > 3) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Cannot decode binary");
            c = static_cast<unsigned char>(b == 1 ? 0 : b == 2 ? 1 : kApostrophe);
        }
        m_binary[decoded++] = static_cast<unsigned char>(c + e);
    }
    m_binary.resize(decoded);
    m_binaryValid = true;
    return m_binary;
}
