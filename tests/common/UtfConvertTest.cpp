// UTF-8, UTF-16 and UTF-32 conversions and their checks; fakes nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/UtfConvert.h"

namespace {

struct UTF8RESULT {
    ConversionResult code;
    std::vector<uint8_t> bytes;
    size_t consumed;
};

UTF8RESULT ToUTF8(const std::u16string& text, size_t room) {
    std::vector<uint8_t> buffer(room);
    const char16_t* source = text.data();
    uint8_t* target = buffer.data();
    ConversionResult code =
        ConvertUTF16toUTF8(&source, text.data() + text.size(), &target, buffer.data() + room);
    buffer.resize(static_cast<size_t>(target - buffer.data()));
    return {code, buffer, static_cast<size_t>(source - text.data())};
}

struct UTF16RESULT {
    ConversionResult code;
    std::u16string text;
    size_t consumed;
};

UTF16RESULT ToUTF16(const std::vector<uint8_t>& bytes, size_t room) {
    std::u16string buffer(room, u'\0');
    const uint8_t* source = bytes.data();
    char16_t* target = buffer.data();
    ConversionResult code =
        ConvertUTF8toUTF16(&source, bytes.data() + bytes.size(), &target, buffer.data() + room);
    buffer.resize(static_cast<size_t>(target - buffer.data()));
    return {code, buffer, static_cast<size_t>(source - bytes.data())};
}

}  // namespace

TEST(UtfConvertTest, UTF16toUTF8) {
    const struct {
        std::u16string text;
        size_t room;
        ConversionResult code;
        std::vector<uint8_t> bytes;
        size_t consumed;
    } cases[] = {
        {u"A\u00e9\u20ac", 16, conversionOK, {0x41, 0xC3, 0xA9, 0xE2, 0x82, 0xAC}, 3},
        {u"\U0001F600", 16, conversionOK, {0xF0, 0x9F, 0x98, 0x80}, 2},
        {u"a\xD800"
         u"b",
         16,
         sourceIllegal,
         {0x61},
         1},                                           // high surrogate without its low half
        {u"a\xDC00", 16, sourceIllegal, {0x61}, 1},    // lone low surrogate
        {u"a\xD83D", 16, sourceExhausted, {0x61}, 1},  // the pair is cut off
        {u"a\u20ac", 3, targetExhausted, {0x61}, 1},
        {u"", 0, conversionOK, {}, 0},
    };
    for (const auto& c : cases) {
        UTF8RESULT r = ToUTF8(c.text, c.room);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.bytes, c.bytes);
        EXPECT_EQ(r.consumed, c.consumed);
    }
}

TEST(UtfConvertTest, UTF8toUTF16) {
    const struct {
        std::vector<uint8_t> bytes;
        size_t room;
        ConversionResult code;
        std::u16string text;
        size_t consumed;
    } cases[] = {
        {{0x41, 0xC3, 0xA9, 0xE2, 0x82, 0xAC}, 8, conversionOK, u"A\u00e9\u20ac", 6},
        {{0xF0, 0x9F, 0x98, 0x80}, 8, conversionOK, u"\U0001F600", 4},
        {{0x41, 0xF0, 0x9F, 0x98, 0x80}, 2, targetExhausted, u"A", 1},
        {{0x41, 0xE2, 0x82}, 8, sourceExhausted, u"A", 1},
        {{0x41, 0xC0, 0x80}, 8, sourceIllegal, u"A", 1},       // overlong
        {{0xE0, 0x80, 0x80}, 8, sourceIllegal, u"", 0},        // overlong
        {{0xED, 0xA0, 0x80}, 8, sourceIllegal, u"", 0},        // surrogate
        {{0xF4, 0x90, 0x80, 0x80}, 8, sourceIllegal, u"", 0},  // above U+10FFFF
        {{0xF5, 0x80, 0x80, 0x80}, 8, sourceIllegal, u"", 0},
        {{0x80}, 8, sourceIllegal, u"", 0},
        {{0xC3, 0x41}, 8, sourceIllegal, u"", 0},
    };
    for (const auto& c : cases) {
        UTF16RESULT r = ToUTF16(c.bytes, c.room);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.text, c.text);
        EXPECT_EQ(r.consumed, c.consumed);
    }
}

TEST(UtfConvertTest, IsLegalUTF8) {
    const struct {
        std::vector<uint8_t> bytes;
        bool legal;
    } cases[] = {
        {{0x41}, true},
        {{0xC2, 0x80}, true},
        {{0xC1, 0xBF}, false},
        {{0xE0, 0xA0, 0x80}, true},
        {{0xE0, 0x9F, 0x80}, false},
        {{0xED, 0x9F, 0xBF}, true},
        {{0xED, 0xA0, 0x80}, false},
        {{0xF0, 0x90, 0x80, 0x80}, true},
        {{0xF0, 0x8F, 0x80, 0x80}, false},
        {{0xF4, 0x8F, 0xBF, 0xBF}, true},
        {{0xF4, 0x90, 0x80, 0x80}, false},
        {{0xF5, 0x80, 0x80, 0x80}, false},
        {{0xE2, 0x82, 0x41}, false},
        {{0xC3}, false},  // the lead byte announces two
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsLegalUTF8(c.bytes.data(), static_cast<int>(c.bytes.size())), c.legal) << int(c.bytes[0]);
    EXPECT_FALSE(IsLegalUTF8(nullptr, 1));
}
