// The registry's hive text, the form hives were kept in before they became databases: a file of
// that form, read as the registry reads it when it brings one over.
#include "platform/host/HiveText.h"
#include "tests/fuzz/FuzzTargets.h"

int FuzzHiveText(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    size_t keys = 0;
    CHiveText::Read(
        text,
        [&](const CHiveText::KEYPATH&) {
            ++keys;
            return std::string();
        },
        [](const CHiveText::VALUE&) { return std::string(); });
    FUZZ_CHECK(keys <= size);
    return 0;
}
