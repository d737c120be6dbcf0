#include "common/UrlCodec.h"

#include <vector>

#include "common/UtfConvert.h"
#include "platform/base/TextConvert.h"

namespace {

int HexValue(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

bool IsAsciiAlnum(unsigned char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}

std::string PercentDecode(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char ch = text[i];
        if (ch == '+') {
            bytes += ' ';
        } else if (ch != '%') {
            bytes += ch;
        } else if (i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        }
    }
    return bytes;
}

}  // namespace

CString UrlDecode(std::string_view text) {
    std::string bytes = PercentDecode(text);
    std::vector<char16_t> buffer(bytes.size() + 1, 0);
    const uint8_t* source = reinterpret_cast<const uint8_t*>(bytes.data());
    char16_t* target = buffer.data();
    ConvertUTF8toUTF16(&source, source + bytes.size(), &target, buffer.data() + bytes.size());
    return CString(buffer.data());
}

std::string UrlEncode(const CString& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string encoded;
    for (unsigned char byte : zbw::ToUtf8(text)) {
        if (IsAsciiAlnum(byte)) {
            encoded += static_cast<char>(byte);
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}
