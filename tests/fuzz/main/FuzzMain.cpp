// The libFuzzer entry of one target; the build names it in ZB_FUZZ_ENTRY.
#include "tests/fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSetUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return ZB_FUZZ_ENTRY(data, size);
}
