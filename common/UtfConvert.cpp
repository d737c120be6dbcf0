#include "common/UtfConvert.h"

namespace {

bool IsHighSurrogate(uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

int UTF8Length(uint32_t codePoint) {
    if (codePoint < 0x80) return 1;
    if (codePoint < 0x800) return 2;
    if (codePoint < 0x10000) return 3;
    return 4;
}

// The length a lead byte announces; 0 for a byte that cannot start a sequence.
int SequenceLength(uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead < 0xC2) return 0;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    if (lead <= 0xF4) return 4;
    return 0;
}

void WriteUTF8(uint32_t codePoint, int length, uint8_t* target) {
    static const uint8_t kLeadMarks[5] = {0, 0x00, 0xC0, 0xE0, 0xF0};
    for (int i = length - 1; i > 0; --i) {
        target[i] = static_cast<uint8_t>(0x80 | (codePoint & 0x3F));
        codePoint >>= 6;
    }
    target[0] = static_cast<uint8_t>(kLeadMarks[length] | codePoint);
}

uint32_t ReadUTF8(const uint8_t* source, int length) {
    static const uint8_t kLeadBits[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t codePoint = source[0] & kLeadBits[length];
    for (int i = 1; i < length; ++i) codePoint = (codePoint << 6) | (source[i] & 0x3F);
    return codePoint;
}

bool SecondByteAllowed(uint8_t lead, uint8_t second) {
    switch (lead) {
        case 0xE0: return second >= 0xA0;
        case 0xED: return second <= 0x9F;
        case 0xF0: return second >= 0x90;
        case 0xF4: return second <= 0x8F;
        default: return true;
    }
}

}  // namespace

ConversionResult ConvertUTF16toUTF8(const char16_t** sourceStart, const char16_t* sourceEnd,
                                    uint8_t** targetStart, uint8_t* targetEnd) {
    const char16_t* source = *sourceStart;
    uint8_t* target = *targetStart;
    ConversionResult result = conversionOK;
    while (source < sourceEnd) {
        uint32_t codePoint = *source;
        int units = 1;
        if (IsHighSurrogate(codePoint)) {
            if (source + 1 == sourceEnd) {
                result = sourceExhausted;
                break;
            }
            uint32_t low = source[1];
            if (!IsLowSurrogate(low)) {
                result = sourceIllegal;
                break;
            }
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
            units = 2;
        } else if (IsLowSurrogate(codePoint)) {
            result = sourceIllegal;
            break;
        }
        int length = UTF8Length(codePoint);
        if (targetEnd - target < length) {
            result = targetExhausted;
            break;
        }
        WriteUTF8(codePoint, length, target);
        target += length;
        source += units;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

bool IsLegalUTF8(const uint8_t* source, int length) {
    if (source == nullptr || length < 1 || length > 4 || SequenceLength(source[0]) != length) return false;
    for (int i = 1; i < length; ++i) {
        if ((source[i] & 0xC0) != 0x80) return false;
    }
    return length == 1 || SecondByteAllowed(source[0], source[1]);
}

ConversionResult ConvertUTF8toUTF16(const uint8_t** sourceStart, const uint8_t* sourceEnd,
                                    char16_t** targetStart, char16_t* targetEnd) {
    const uint8_t* source = *sourceStart;
    char16_t* target = *targetStart;
    ConversionResult result = conversionOK;
    while (source < sourceEnd) {
        int length = SequenceLength(*source);
        if (length == 0) {
            result = sourceIllegal;
            break;
        }
        if (sourceEnd - source < length) {
            result = sourceExhausted;
            break;
        }
        uint32_t codePoint = ReadUTF8(source, length);
        if (!IsLegalUTF8(source, length) || (codePoint >= 0xD800 && codePoint <= 0xDFFF) ||
            codePoint > 0x10FFFF) {
            result = sourceIllegal;
            break;
        }
        int units = codePoint > 0xFFFF ? 2 : 1;
        if (targetEnd - target < units) {
            result = targetExhausted;
            break;
        }
        if (units == 2) {
            codePoint -= 0x10000;
            *target++ = static_cast<char16_t>(0xD800 + (codePoint >> 10));
            *target++ = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
        } else {
            *target++ = static_cast<char16_t>(codePoint);
        }
        source += length;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}
