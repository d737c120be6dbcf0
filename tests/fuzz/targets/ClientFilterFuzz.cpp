// Client filters and the regular expressions under them: the first byte is the filter's length
// in units, then the filter, then the address (8-bit). The filter is checked as a wildcard and
// compiled and matched as an expression of its own.
#include "common/RegExp.h"
#include "dovrane/web/ClientFilter.h"
#include "tests/fuzz/FuzzTargets.h"

int FuzzClientFilter(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t filterBytes = std::min<size_t>(2 * data[0], size - 1);
    const CString filter(FuzzUnits(data + 1, filterBytes));
    CString address;
    for (size_t i = 1 + filterBytes; i < size && address.GetLength() < 64; ++i)
        address += static_cast<char16_t>(data[i]);
    CClientFilter(filter).Check(address);
    REGEXP* prog = RegExpCompile(filter);
    if (prog) {
        const int at = RegExpMatch(prog, address);
        FUZZ_CHECK(at >= -1 && at <= address.GetLength());
        if (at >= 0) FUZZ_CHECK(address.Mid(at).Find(RegExpMatchText(prog)) == 0);
        RegExpFree(prog);
    }
    return 0;
}
