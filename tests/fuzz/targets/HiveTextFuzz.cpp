// The registry's hive text: a file of that form, read as the registry reads it. Where the
// registry still keeps its tree in the text form, what is read is written out and read again to
// the same text.
#include "tests/fuzz/FuzzTargets.h"

#if __has_include("platform/host/HiveText.h")
#include "platform/host/HiveText.h"

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
#else
#include "platform/host/RegistryHive.h"

int FuzzHiveText(const uint8_t* data, size_t size) {
    CRegistryHive hive;
    if (!hive.FromText(std::string(reinterpret_cast<const char*>(data), size))) return 0;
    const std::string written = hive.ToText();
    CRegistryHive again;
    FUZZ_CHECK(again.FromText(written));
    FUZZ_CHECK(again.ToText() == written);
    return 0;
}
#endif
