// CDBBinaryCodec: turns bytes into a text with no zero byte and no apostrophe, and back, so
// binary records can be kept in a text column. Format: one offset byte e (1..255, never 39),
// then each byte x as d = x - e (mod 256), with d 0, 1 and 39 escaped as 1 1, 1 2 and 1 3.
// No bytes encode as "x". A plain value object; any thread. Decoding errors throw
// CppSQLite3Exception ("Cannot decode binary").
#pragma once

#include <string>
#include <vector>

class CDBBinaryCodec {
   public:
    void setBinary(const unsigned char* data, int length);
    // The encoded text (no terminator inside).
    const std::string& getEncoded();
    void setEncoded(const std::string& text);
    // The decoded bytes.
    const std::vector<unsigned char>& getBinary();

   private:
    static unsigned char chooseOffset(const unsigned char* data, int length);

    std::vector<unsigned char> m_binary;
    std::string m_encoded;
    bool m_encodedValid = false;
    bool m_binaryValid = false;
};
