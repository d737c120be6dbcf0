// URL decoding and the strict UTF conversions: what decodes encodes and decodes back to itself;
// UTF-8 that converts whole converts back to the same bytes; target buffers of any size.
#include <string_view>
#include <vector>

#include "common/UrlCodec.h"
#include "common/UtfConvert.h"
#include "tests/fuzz/FuzzTargets.h"

namespace {

void Utf8RoundTrip(const uint8_t* data, size_t size, size_t room) {
    std::vector<char16_t> wide(room);
    const uint8_t* source = data;
    char16_t* target = wide.data();
    ConversionResult result = ConvertUTF8toUTF16(&source, data + size, &target, wide.data() + wide.size());
    FUZZ_CHECK(source >= data && source <= data + size);
    FUZZ_CHECK(target >= wide.data() && target <= wide.data() + wide.size());
    if (result != conversionOK) return;
    std::vector<uint8_t> back(size);
    const char16_t* units = wide.data();
    uint8_t* bytes = back.data();
    result = ConvertUTF16toUTF8(&units, target, &bytes, back.data() + back.size());
    FUZZ_CHECK(result == conversionOK);
    FUZZ_CHECK(static_cast<size_t>(bytes - back.data()) == size);
    FUZZ_CHECK(std::equal(back.begin(), back.end(), data));
}

void Utf16ToUtf8(const std::u16string& units, size_t room) {
    std::vector<uint8_t> narrow(room);
    const char16_t* source = units.data();
    uint8_t* target = narrow.data();
    ConvertUTF16toUTF8(&source, units.data() + units.size(), &target, narrow.data() + narrow.size());
    FUZZ_CHECK(source >= units.data() && source <= units.data() + units.size());
    FUZZ_CHECK(target >= narrow.data() && target <= narrow.data() + narrow.size());
}

}  // namespace

int FuzzUrlAndUtf(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const CString decoded = UrlDecode(text);
    FUZZ_CHECK(UrlDecode(UrlEncode(decoded)) == decoded);
    const size_t room = size == 0 ? 0 : data[0] % 8 == 0 ? 4 * size : data[0] % 8;
    Utf8RoundTrip(data, size, 2 * size + 1);
    Utf8RoundTrip(data, size, room);
    Utf16ToUtf8(FuzzUnits(data, size), 3 * size + 1);
    Utf16ToUtf8(FuzzUnits(data, size), room);
    for (int length = 1; length <= 4 && static_cast<size_t>(length) <= size; ++length)
        IsLegalUTF8(data, length);
    return 0;
}
