// Strict conversions between UTF-16 and UTF-8 over caller-supplied buffers, for code that must
// know exactly where and why a conversion stopped (URL decoding, byte protocols). The platform's
// zbw::ToUtf8/FromUtf8 replace bad input with U+FFFD instead; use those where that is wanted.
// The source and target pointers are advanced past what was converted; on an error the source
// points at the start of the sequence that could not be converted and the target holds every
// character before it. Stateless; any thread.
#pragma once

#include <cstdint>

enum ConversionResult {
    conversionOK = 0,     // the whole source was converted
    sourceExhausted = 1,  // the source ends inside a character
    targetExhausted = 2,  // the next character does not fit the target
    sourceIllegal = 3,    // a lone surrogate, an ill-formed sequence or a value above U+10FFFF
};

ConversionResult ConvertUTF16toUTF8(const char16_t** sourceStart, const char16_t* sourceEnd,
                                    uint8_t** targetStart, uint8_t* targetEnd);
ConversionResult ConvertUTF8toUTF16(const uint8_t** sourceStart, const uint8_t* sourceEnd,
                                    char16_t** targetStart, char16_t* targetEnd);

// Whether the length bytes (1 to 4) form one well-formed UTF-8 sequence.
bool IsLegalUTF8(const uint8_t* source, int length);
