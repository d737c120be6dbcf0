// The quoted-string parser: the first two units are the separator and the quote, the rest the
// text; every token is read with and without its quotes.
#include "common/QStringParser.h"
#include "tests/fuzz/FuzzTargets.h"

int FuzzQuotedString(const uint8_t* data, size_t size) {
    const std::u16string units = FuzzUnits(data, size);
    if (units.size() < 2) return 0;
    const CString text(units.substr(2));
    CQStringParser parser(text, units[0], units[1]);
    FUZZ_CHECK(parser.GetCount() >= 1);
    FUZZ_CHECK(parser.GetCount() <= text.GetLength() + 1);
    for (int i = -1; i <= parser.GetCount() + 1; ++i) {
        parser.GetAt(i, false);
        parser.GetAt(i, true);
    }
    return 0;
}
